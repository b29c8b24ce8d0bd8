// The system's own calls behind FileSystem.
#include "platform/FileSystem.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/xattr.h>
#include <unistd.h>

int FileSystem::open(const QByteArray& path, int flags, mode_t mode)
{
    int fd;
    do {
        fd = ::open(path.constData(), flags | O_CLOEXEC, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

int FileSystem::close(int fd)
{
    return ::close(fd);
}

ssize_t FileSystem::pread(int fd, void* buffer, size_t size, off_t offset)
{
    ssize_t n;
    do {
        n = ::pread(fd, buffer, size, offset);
    } while (n < 0 && errno == EINTR);
    return n;
}

ssize_t FileSystem::pwrite(int fd, const void* buffer, size_t size, off_t offset)
{
    ssize_t n;
    do {
        n = ::pwrite(fd, buffer, size, offset);
    } while (n < 0 && errno == EINTR);
    return n;
}

int FileSystem::fsync(int fd)
{
    return ::fsync(fd);
}

int FileSystem::ftruncate(int fd, off_t size)
{
    return ::ftruncate(fd, size);
}

int FileSystem::fstat(int fd, struct stat* st)
{
    return ::fstat(fd, st);
}

int FileSystem::stat(const QByteArray& path, struct stat* st)
{
    return ::stat(path.constData(), st);
}

int FileSystem::fchown(int fd, uid_t owner, gid_t group)
{
    return ::fchown(fd, owner, group);
}

int FileSystem::fchmod(int fd, mode_t mode)
{
    return ::fchmod(fd, mode);
}

ssize_t FileSystem::flistxattr(int fd, char* list, size_t size)
{
    return ::flistxattr(fd, list, size);
}

ssize_t FileSystem::fgetxattr(int fd, const char* name, void* value, size_t size)
{
    return ::fgetxattr(fd, name, value, size);
}

int FileSystem::fsetxattr(int fd, const char* name, const void* value, size_t size, int flags)
{
    return ::fsetxattr(fd, name, value, size, flags);
}

int FileSystem::rename(const QByteArray& from, const QByteArray& to)
{
    return ::rename(from.constData(), to.constData());
}

int FileSystem::unlink(const QByteArray& path)
{
    return ::unlink(path.constData());
}

int FileSystem::access(const QByteArray& path, int mode)
{
    return ::faccessat(AT_FDCWD, path.constData(), mode, AT_EACCESS);
}

QList<QByteArray> FileSystem::list(const QByteArray& folder)
{
    QList<QByteArray> names;
    DIR* dir = ::opendir(folder.constData());
    if (!dir)
        return names;
    while (const dirent* entry = ::readdir(dir)) {
        if (strcmp(entry->d_name, ".") != 0 && strcmp(entry->d_name, "..") != 0)
            names.append(QByteArray(entry->d_name));
    }
    ::closedir(dir);
    return names;
}
