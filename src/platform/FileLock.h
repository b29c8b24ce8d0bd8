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

    // How long a save, a read or the helper waits for another holder: any local user can open
    // the folder and hold its flock, so no one may stall a save for long. The merge before
    // every write, not the lock, protects against changes by other programs.
    static constexpr int kWaitMs = 3000;

    // Waits up to waitMs for the lock of path's file. Returns false and sets *error (the folder
    // and the system's reason, or "另一个程序正在保存这个文件" with the holder's program and
    // process id where the system tells them) if it cannot be had.
    bool lock(const QString& path, QString* error, int waitMs = kWaitMs);
    void unlock();

private:
    qintptr m_handle = -1;
};
