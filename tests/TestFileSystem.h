#pragma once

#include "platform/FileSystem.h"

#include <QByteArray>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QList>
#include <QRegularExpression>
#include <QStringList>

#include <functional>

#include <errno.h>
#include <fcntl.h>

// A file system of the tests' own under SafeSave. Every call goes to the system and is recorded
// with the name of its file: "open .hosts.tarvix-new.*", "openrw hosts" (open for writing),
// "pwrite hosts", "fsync folder", "rename .hosts.tarvix-kept.new > .hosts.tarvix-kept". Faults
// make chosen calls fail with a chosen errno; freezeAfter makes every call after the nth fail
// without doing anything, as if the process had been killed there.
class TestFileSystem : public FileSystem
{
public:
    struct Fault {
        QString call;          // "pwrite", "fsync", "rename", "open", "openrw", "ftruncate", "fchown", ...
        QString name;          // the file's recorded name; empty: any file
        int err = EIO;         // the errno of the failure
        qint64 afterBytes = 0; // pwrite: bytes that reach the file before the fault strikes
        bool flip = false;     // pwrite: instead of failing, write one byte changed and report success
        int times = 1;         // how often it strikes; -1: always
    };

    QStringList calls;
    QList<Fault> faults;
    int freezeAfter = -1;
    std::function<void(const QString& call)> beforeCall; // runs before each call is made

    Fault& fail(const QString& call, const QString& name, int err)
    {
        faults.append(Fault{call, name, err});
        return faults.last();
    }

    int open(const QByteArray& path, int flags, mode_t mode) override
    {
        const QString name = (flags & O_DIRECTORY) ? QStringLiteral("folder") : nameOf(path);
        const bool writing = (flags & (O_WRONLY | O_RDWR)) != 0;
        if (!begin(writing ? QStringLiteral("openrw") : QStringLiteral("open"), name))
            return -1;
        const int fd = FileSystem::open(path, flags, mode);
        if (fd >= 0)
            m_names.insert(fd, name);
        return fd;
    }
    int close(int fd) override
    {
        const QString name = m_names.take(fd);
        if (!begin(QStringLiteral("close"), name)) {
            FileSystem::close(fd); // the test process must not run out of descriptors
            return -1;
        }
        return FileSystem::close(fd);
    }
    ssize_t pread(int fd, void* buffer, size_t size, off_t offset) override
    {
        return begin(QStringLiteral("pread"), m_names.value(fd)) ? FileSystem::pread(fd, buffer, size, offset)
                                                                 : -1;
    }
    ssize_t pwrite(int fd, const void* buffer, size_t size, off_t offset) override
    {
        const QString name = m_names.value(fd);
        if (frozen() || !record(QStringLiteral("pwrite"), name))
            return -1;
        for (Fault& f : faults) {
            if (f.call != QLatin1String("pwrite") || !matches(f, name))
                continue;
            if (f.flip) {
                --f.times;
                QByteArray changed(static_cast<const char*>(buffer), qsizetype(size));
                changed[0] = char(changed[0] ^ 0x20);
                return FileSystem::pwrite(fd, changed.constData(), size, offset);
            }
            qint64& written = m_written[name];
            const qint64 room = f.afterBytes - written;
            if (room < qint64(size)) {
                --f.times;
                if (room > 0)
                    FileSystem::pwrite(fd, buffer, size_t(room), offset);
                written = 0;
                errno = f.err;
                return -1;
            }
            written += qint64(size);
        }
        return FileSystem::pwrite(fd, buffer, size, offset);
    }
    int fsync(int fd) override
    {
        return begin(QStringLiteral("fsync"), m_names.value(fd)) ? FileSystem::fsync(fd) : -1;
    }
    int ftruncate(int fd, off_t size) override
    {
        return begin(QStringLiteral("ftruncate"), m_names.value(fd)) ? FileSystem::ftruncate(fd, size) : -1;
    }
    int fstat(int fd, struct stat* st) override
    {
        return begin(QStringLiteral("fstat"), m_names.value(fd)) ? FileSystem::fstat(fd, st) : -1;
    }
    int stat(const QByteArray& path, struct stat* st) override
    {
        return begin(QStringLiteral("stat"), nameOf(path)) ? FileSystem::stat(path, st) : -1;
    }
    int fchown(int fd, uid_t owner, gid_t group) override
    {
        return begin(QStringLiteral("fchown"), m_names.value(fd)) ? FileSystem::fchown(fd, owner, group) : -1;
    }
    int fchmod(int fd, mode_t mode) override
    {
        return begin(QStringLiteral("fchmod"), m_names.value(fd)) ? FileSystem::fchmod(fd, mode) : -1;
    }
    ssize_t flistxattr(int fd, char* list, size_t size) override
    {
        return begin(QStringLiteral("flistxattr"), m_names.value(fd)) ? FileSystem::flistxattr(fd, list, size)
                                                                      : -1;
    }
    ssize_t fgetxattr(int fd, const char* name, void* value, size_t size) override
    {
        return begin(QStringLiteral("fgetxattr"), m_names.value(fd))
                   ? FileSystem::fgetxattr(fd, name, value, size)
                   : -1;
    }
    int fsetxattr(int fd, const char* name, const void* value, size_t size, int flags) override
    {
        return begin(QStringLiteral("fsetxattr"), m_names.value(fd))
                   ? FileSystem::fsetxattr(fd, name, value, size, flags)
                   : -1;
    }
    int rename(const QByteArray& from, const QByteArray& to) override
    {
        return begin(QStringLiteral("rename"), nameOf(from) + QStringLiteral(" > ") + nameOf(to))
                   ? FileSystem::rename(from, to)
                   : -1;
    }
    int unlink(const QByteArray& path) override
    {
        return begin(QStringLiteral("unlink"), nameOf(path)) ? FileSystem::unlink(path) : -1;
    }
    QList<QByteArray> list(const QByteArray& folder) override
    {
        return begin(QStringLiteral("list"), QStringLiteral("folder")) ? FileSystem::list(folder)
                                                                       : QList<QByteArray>();
    }

    // The index in calls of the first call from `from` on that equals text; -1 if none.
    int indexOf(const QString& text, int from = 0) const { return calls.indexOf(text, from); }
    int lastIndexOf(const QString& text) const { return calls.lastIndexOf(text); }

private:
    static QString nameOf(const QByteArray& path)
    {
        static const QRegularExpression random(QStringLiteral("\\.tarvix-new\\.[0-9a-z]+$"));
        return QFileInfo(QFile::decodeName(path)).fileName().replace(random, QStringLiteral(".tarvix-new.*"));
    }
    static bool matches(const Fault& f, const QString& name)
    {
        return f.times != 0 && (f.name.isEmpty() || f.name == name);
    }
    bool frozen()
    {
        if (freezeAfter >= 0 && m_count >= freezeAfter)
            m_frozen = true;
        ++m_count;
        if (m_frozen)
            errno = EIO;
        return m_frozen;
    }
    // Records the call; false (errno set) if beforeCall stopped everything from this call on.
    bool record(const QString& call, const QString& name)
    {
        calls << call + QLatin1Char(' ') + name;
        if (beforeCall)
            beforeCall(calls.last());
        if (freezeAfter >= 0 && m_count > freezeAfter) {
            m_frozen = true;
            errno = EIO;
        }
        return !m_frozen;
    }
    // Records the call; false (errno set) if it is to fail.
    bool begin(const QString& call, const QString& name)
    {
        if (frozen() || !record(call, name))
            return false;
        for (Fault& f : faults) {
            if (f.call == call && matches(f, name)) {
                --f.times;
                errno = f.err;
                return false;
            }
        }
        return true;
    }

    QHash<int, QString> m_names;
    QHash<QString, qint64> m_written;
    int m_count = 0;
    bool m_frozen = false;
};
