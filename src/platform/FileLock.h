#pragma once

#include <QString>

// One save of a file at a time, across processes: every save of the hosts file and every
// recovery of a cut-off save hold it, in the windows and in the helper alike, so that a second
// save reads the file only after the first is complete, and no recovery takes a save in
// progress for a cut-off one. On Unix it is an exclusive flock on the file's folder (after its
// symbolic links), which any user who can read the folder can take, root's helper too, and
// which the system drops when its holder dies. On Windows it is a named mutex of the user's
// session, which the window and the helper it starts share; it is freed on the thread that
// took it, so lock() and unlock() are called on one thread.
class FileLock
{
public:
    FileLock() = default;
    ~FileLock() { unlock(); }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    // Waits up to waitMs for the lock of path's file. Returns false and sets *error (the folder
    // and the system's reason, or that another save holds it) if it cannot be had.
    bool lock(const QString& path, QString* error, int waitMs = 60 * 1000);
    void unlock();

private:
    qintptr m_handle = -1;
};
