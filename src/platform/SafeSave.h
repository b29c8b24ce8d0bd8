#pragma once

#include "platform/FileSystem.h"
#include "platform/KeptCopy.h"
#include "platform/TextFile.h"

#include <QByteArray>
#include <QString>

// TextFile::save and TextFile::recover on a POSIX system, over the calls of a FileSystem: the
// system's in the program, one of a test's own in the tests.
//
// Replacing: a temporary file ".NAME.tarvix-new.RANDOM" beside the file gets the file's owner,
// group, extended attributes and mode, then the new content; it is flushed (fsync), renamed
// over the file, and the folder is flushed. QSaveFile does the rename, but gives no way to copy
// owner and attributes before it, to flush the folder after it, or to see its calls in a test.
//
// In place (a bind mount, several hard links, properties that cannot be copied): the old
// content goes to ".NAME.tarvix-kept.new", which is flushed and renamed to ".NAME.tarvix-kept"
// (the kept copy, in KeptCopy's format) and the folder flushed; then the new content is written
// over the file, truncated, flushed and read back; then the kept copy is removed and the folder
// flushed. The next recover() tells the new content, the old one, a torn mixture (a write cut
// off) and a file that was changed again after the save was cut off, which it never overwrites
// (KeptCopy::classify). Kept copies and the file are opened without following a link or waiting
// on a FIFO, and only as regular files.
//
// A file the user may write in a folder only root may write (chmod 666 /etc/hosts) takes neither
// the temporary file nor the kept copy beside it: with a keptFolder of the user's own, the kept
// copy goes there (keptCopyIn) and the file is saved in place; recover() looks there too.
class SafeSave
{
public:
    explicit SafeSave(FileSystem& fs, const QString& keptFolder = QString())
        : m_fs(fs), m_keptFolder(keptFolder)
    {
    }

    bool save(const QString& path, const QByteArray& bytes, QString* error);
    TextFile::Recovery recover(const QString& path, QString* message,
                               const TextFile::KeepOld& keepOld = TextFile::KeepOld());

    // ".NAME.tarvix-kept" beside the file that path names, after its symbolic links.
    static QString keptCopyPath(const QString& path);
    // The kept copy of path's in-place save in folder, when the file's own folder refused it:
    // ".NAME.HASH.tarvix-kept", HASH naming the file's full path after its links. Empty folder:
    // empty.
    static QString keptCopyIn(const QString& folder, const QString& path);

private:
    enum class Replaced { Yes, No, InPlace };
    Replaced replace(const QString& target, const QByteArray& bytes, const struct stat* old, QString* error);
    bool copyProperties(const QString& target, int to, const struct stat& old, QString* why);
    bool saveInPlace(const QString& target, const QByteArray& bytes, QString* error);
    // Keeps the old content beside target, or in m_keptFolder where target's folder refuses it;
    // sets *kept to the copy made.
    bool keepOldContent(const QString& target, int fd, const QByteArray& bytes, qint64* oldSize,
                        QString* kept, QString* error);
    bool writeKept(const QString& kept, int fd, const QByteArray& bytes, qint64* oldSize, int* openErr,
                   QString* error);
    TextFile::Recovery recoverFrom(const QString& target, const QString& kept, QString* message,
                                   const TextFile::KeepOld& keepOld);
    bool putBack(int fd, const char* old, qint64 oldSize, int* err);
    // Opens a regular file, never a link, a FIFO or a device: -1 with *err (ELOOP for those).
    int openRegular(const QString& path, int flags, int* err);
    bool readWhole(int fd, QByteArray* bytes, int* err);
    // The kept copy, whole and checked; false with what recovery then says in *otherwise.
    bool readKept(const QString& kept, const QString& target, QByteArray* bytes, QString* message,
                  TextFile::Recovery* otherwise);
    // What the file holds after a save was cut off; *err set if it cannot be read.
    KeptCopy::Found compareWithKept(const QString& target, const char* old, quint64 oldSize, const char* next,
                                    quint64 newSize, int* err);
    bool dropKept(const QString& kept, int* err);
    TextFile::Recovery notPermittedOr(const QString& kept, int err, const QString& what, QString* message);
    void removeLeftovers(const QString& target);
    bool flushFolder(const QString& path, int* err);
    bool writeAll(int fd, const char* data, qint64 size, qint64 offset);
    bool sameContent(int fd, const char* data, qint64 size, int* err);

    FileSystem& m_fs;
    QString m_keptFolder;
};
