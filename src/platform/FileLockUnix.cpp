#include "platform/FileLock.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/file.h>
#include <unistd.h>

bool FileLock::lock(const QString& path, QString* error, int waitMs)
{
    unlock();
    const QFileInfo info(path);
    const QString target = info.exists() ? info.canonicalFilePath() : info.absoluteFilePath();
    const QString folder = QFileInfo(target).absolutePath();
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0 && (errno == ENOENT || errno == ENOTDIR))
        return true; // no folder: no file to guard, and a save there fails with its own reason
    if (fd < 0) {
        *error = QDir::toNativeSeparators(folder) + QStringLiteral(": 无法锁定文件夹: ") +
                 QString::fromLocal8Bit(strerror(errno));
        return false;
    }
    // flock has no timeout of its own: it is tried again until the deadline.
    const QDeadlineTimer deadline(waitMs);
    for (;;) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            m_handle = fd;
            return true;
        }
        const int err = errno;
        if ((err != EWOULDBLOCK && err != EINTR) || deadline.hasExpired()) {
            ::close(fd);
            *error = QDir::toNativeSeparators(target) +
                     (err == EWOULDBLOCK
                          ? QStringLiteral(": 另一个程序正在保存这个文件，请稍后再试。")
                          : QStringLiteral(": 无法锁定文件: ") + QString::fromLocal8Bit(strerror(err)));
            return false;
        }
        QThread::msleep(10);
    }
}

void FileLock::unlock()
{
    if (m_handle >= 0) {
        ::close(int(m_handle)); // closing the last descriptor drops the flock
        m_handle = -1;
    }
}
