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
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

// Who holds the flock on the folder open as fd, as /proc/locks tells it: "（名字，进程 PID）", or
// empty if the system does not say (another system, a holder in another PID namespace).
QString holderOf(int fd)
{
    struct stat st;
    QFile locks(QStringLiteral("/proc/locks"));
    if (::fstat(fd, &st) != 0 || !locks.open(QIODevice::ReadOnly | QIODevice::Text))
        return QString();
    // "1: FLOCK  ADVISORY  WRITE 1234 fe:00:131 0 EOF": the device's major and minor in hex,
    // then the inode. Lines with "->" are waiters, not holders.
    const QByteArray inode = ':' + QByteArray::number(qulonglong(st.st_ino));
    const QByteArray device = QByteArray::number(major(st.st_dev), 16).rightJustified(2, '0') + ':' +
                              QByteArray::number(minor(st.st_dev), 16).rightJustified(2, '0') + inode;
    for (const QByteArray& line : locks.readAll().split('\n')) {
        const QList<QByteArray> f = line.simplified().split(' ');
        if (f.size() < 6 || f[1] != "FLOCK" || f[5] != device)
            continue;
        const QByteArray pid = f[4];
        if (pid.toLongLong() <= 0)
            return QString();
        QFile comm(QStringLiteral("/proc/%1/comm").arg(QString::fromLatin1(pid)));
        const QString name =
            comm.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(comm.readAll().trimmed()) : QString();
        return name.isEmpty() ? QStringLiteral("（进程 %1）").arg(QString::fromLatin1(pid))
                              : QStringLiteral("（%1，进程 %2）").arg(name, QString::fromLatin1(pid));
    }
    return QString();
}

} // namespace

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
            *error = QDir::toNativeSeparators(target) +
                     (err == EWOULDBLOCK
                          ? QStringLiteral(": 另一个程序正在保存这个文件%1，请稍后再试。").arg(holderOf(fd))
                          : QStringLiteral(": 无法锁定文件: ") + QString::fromLocal8Bit(strerror(err)));
            ::close(fd);
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
