#pragma once

#include "platform/FileSystem.h"
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
// (the kept copy) and the folder flushed; then the new content is written over the file,
// truncated, flushed and read back; then the kept copy is removed. The kept copy begins with a
// header that gives the sizes of the old and new content and a SHA-1 of the new, so that the
// next recover() can tell a complete new file from a torn one.
class SafeSave
{
public:
    explicit SafeSave(FileSystem& fs) : m_fs(fs) {}

    bool save(const QString& path, const QByteArray& bytes, QString* error);
    TextFile::Recovery recover(const QString& path, QString* message);

    // ".NAME.tarvix-kept" beside the file that path names, after its symbolic links.
    static QString keptCopyPath(const QString& path);

private:
    enum class Replaced { Yes, No, InPlace };
    Replaced replace(const QString& target, const QByteArray& bytes, const struct stat* old, QString* error);
    bool copyProperties(const QString& target, int to, const struct stat& old, QString* why);
    bool saveInPlace(const QString& target, const QByteArray& bytes, QString* error);
    bool keepOldContent(const QString& target, int fd, const QByteArray& newHash, qint64 newSize,
                        qint64* oldSize, QString* error);
    bool putBack(int fd, int keptFd, qint64 headerSize, qint64 oldSize, int* err);
    // What the file holds after a save was cut off: the new content whole, the old content
    // untouched (both false for a mixture, or when the file cannot be read).
    void compareWithKept(int fd, int keptFd, qint64 oldSize, qint64 newSize, const QByteArray& newHash,
                         bool* complete, bool* untouched);
    void removeLeftovers(const QString& target);
    bool flushFolder(const QString& path, int* err);
    bool writeAll(int fd, const char* data, qint64 size, qint64 offset);
    bool sameContent(int fd, const char* data, qint64 size, int* err);

    FileSystem& m_fs;
};
