#pragma once

#include <QByteArray>
#include <QList>

#include <sys/stat.h>
#include <sys/types.h>

// The POSIX calls through which a safe save (SafeSave) touches files, one virtual function per
// call, so that a test can put a file system of its own in their place: one that fails a call
// with a chosen errno, records the order of the calls, or ends the process at one of them. Each
// function does what the system call of its name does and returns what it returns: -1 with
// errno set on failure. Paths are in the system's file name encoding.
class FileSystem
{
public:
    virtual ~FileSystem() = default;

    virtual int open(const QByteArray& path, int flags, mode_t mode);
    virtual int close(int fd);
    virtual ssize_t pread(int fd, void* buffer, size_t size, off_t offset);
    virtual ssize_t pwrite(int fd, const void* buffer, size_t size, off_t offset);
    virtual int fsync(int fd);
    virtual int ftruncate(int fd, off_t size);
    virtual int fstat(int fd, struct stat* st);
    virtual int stat(const QByteArray& path, struct stat* st);
    virtual int fchown(int fd, uid_t owner, gid_t group);
    virtual int fchmod(int fd, mode_t mode);
    virtual ssize_t flistxattr(int fd, char* list, size_t size);
    virtual ssize_t fgetxattr(int fd, const char* name, void* value, size_t size);
    virtual int fsetxattr(int fd, const char* name, const void* value, size_t size, int flags);
    virtual int rename(const QByteArray& from, const QByteArray& to);
    virtual int unlink(const QByteArray& path);
    // faccessat(AT_FDCWD, path, mode, AT_EACCESS): with the effective ids and capabilities.
    virtual int access(const QByteArray& path, int mode);

    // The names in a folder, without "." and "..". Empty if it cannot be read.
    virtual QList<QByteArray> list(const QByteArray& folder);
};
