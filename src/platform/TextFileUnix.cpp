// Saving on POSIX systems: SafeSave over the system's own calls.
#include "platform/TextFile.h"

#include "platform/FileSystem.h"
#include "platform/SafeSave.h"

#include <QDir>
#include <QFile>

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

namespace TextFile {

ReadStatus readOwn(const QString& path, QByteArray* bytes, QString* error, qint64 maxBytes)
{
    const QString shown = QDir::toNativeSeparators(path) + QStringLiteral(": ");
    // O_NONBLOCK: a FIFO would wait in open() for a writer; a regular file ignores the flag.
    const int fd =
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    struct stat st;
    if (fd < 0 && errno != ELOOP) {
        const int err = errno;
        *error = shown + QString::fromLocal8Bit(strerror(err));
        return err == ENOENT ? ReadStatus::Missing : ReadStatus::Failed;
    }
    if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        if (fd >= 0)
            ::close(fd);
        *error = shown + QStringLiteral("不是普通文件（符号链接、管道或设备），没有读取");
        return ReadStatus::Failed;
    }
    QFile file;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        *error = shown + file.errorString();
        return ReadStatus::Failed;
    }
    *bytes = maxBytes < 0 ? file.readAll() : file.read(maxBytes);
    if (file.error() != QFileDevice::NoError) {
        *error = shown + file.errorString();
        return ReadStatus::Failed;
    }
    return ReadStatus::Ok;
}

bool save(const QString& path, const QByteArray& bytes, QString* error, const QString& keptFolder)
{
    FileSystem system;
    return SafeSave(system, keptFolder).save(path, bytes, error);
}

Recovery recover(const QString& path, QString* message, const KeepOld& keepOld, const QString& keptFolder)
{
    FileSystem system;
    return SafeSave(system, keptFolder).recover(path, message, keepOld);
}

QString keptCopyPath(const QString& path, const QString& keptFolder)
{
    return keptFolder.isEmpty() ? SafeSave::keptCopyPath(path) : SafeSave::keptCopyIn(keptFolder, path);
}

} // namespace TextFile
