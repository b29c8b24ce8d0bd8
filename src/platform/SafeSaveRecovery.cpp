// SafeSave's recovery: what a save that was cut off left behind is finished or put right. What
// the file is, compared with the kept copy, and the words said, are KeptCopy's, shared with the
// Windows save.
#include "platform/SafeSave.h"

#include "platform/KeptCopy.h"
#include "platform/KeptCopyStep.h"
#include "platform/SafeSaveCommon.h"

#include <fcntl.h>
#include <unistd.h>

using namespace SafeSaveCommon;

namespace {

std::wstring wide(const QString& path)
{
    return native(path).toStdWString();
}

} // namespace

void SafeSave::removeLeftovers(const QString& target)
{
    // Temporary files of saves that were killed before their rename.
    const QByteArray prefix =
        encoded(QLatin1Char('.') + QFileInfo(target).fileName() + QLatin1String(".tarvix-new."));
    const QByteArray folder = encoded(folderOf(target));
    for (const QByteArray& name : m_fs.list(folder)) {
        if (name.startsWith(prefix))
            m_fs.unlink(folder + '/' + name);
    }
}

int SafeSave::openRegular(const QString& path, int flags, int* err)
{
    // O_NONBLOCK: a FIFO would wait for a writer in open(); a regular file ignores the flag.
    const int fd = m_fs.open(encoded(path), flags | O_NOFOLLOW | O_NONBLOCK, 0);
    if (fd < 0) {
        *err = errno;
        return -1;
    }
    struct stat st;
    if (m_fs.fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        *err = ELOOP; // not a regular file: refused as a link is
        m_fs.close(fd);
        return -1;
    }
    return fd;
}

bool SafeSave::readWhole(int fd, QByteArray* bytes, int* err)
{
    struct stat st;
    if (m_fs.fstat(fd, &st) != 0) {
        *err = errno;
        return false;
    }
    bytes->resize(qsizetype(st.st_size));
    qint64 done = 0;
    while (done < bytes->size()) {
        const ssize_t n =
            m_fs.pread(fd, bytes->data() + done, size_t(qMin(kChunk, bytes->size() - done)), off_t(done));
        if (n <= 0) {
            *err = n < 0 ? errno : EIO;
            return false;
        }
        done += n;
    }
    return true;
}

bool SafeSave::dropKept(const QString& kept, int* err)
{
    if (m_fs.unlink(encoded(kept)) != 0) {
        *err = errno;
        return false;
    }
    // Flushed, so that a power cut cannot bring the copy back for a later recovery.
    return flushFolder(kept, err);
}

bool SafeSave::readKept(const QString& kept, const QString& target, QByteArray* bytes, QString* message,
                        TextFile::Recovery* otherwise)
{
    int err = 0;
    const int k = openRegular(kept, O_RDONLY, &err);
    if (k < 0) {
        if (err == ENOENT || err == ENOTDIR) {
            *otherwise = TextFile::Recovery::Nothing;
        } else if (err == ELOOP) {
            *message = QString::fromStdWString(KeptCopy::Say::notRegular(wide(kept)));
            *otherwise = TextFile::Recovery::Failed;
        } else {
            *otherwise = notPermittedOr(kept, err, QStringLiteral("无法打开保留的原内容副本"), message);
        }
        return false;
    }
    const bool read = readWhole(k, bytes, &err);
    m_fs.close(k);
    if (!read) {
        *otherwise = notPermittedOr(kept, err, QStringLiteral("无法读取保留的原内容副本"), message);
        return false;
    }
    const KeptCopy::Header h = KeptCopy::parseHeader(bytes->constData(), size_t(bytes->size()));
    if (!h.ok || quint64(bytes->size()) != KeptCopy::kHeaderSize + h.oldSize + h.newSize) {
        *message = QString::fromStdWString(KeptCopy::Say::incomplete(wide(kept), wide(target)));
        *otherwise = TextFile::Recovery::Failed;
        return false;
    }
    return true;
}

KeptCopy::Found SafeSave::compareWithKept(const QString& target, const char* old, quint64 oldSize,
                                          const char* next, quint64 newSize, int* err)
{
    const int fd = openRegular(target, O_RDONLY, err);
    if (fd < 0)
        return KeptCopy::Found::ChangedSince; // *err tells
    QByteArray now;
    const bool read = readWhole(fd, &now, err);
    m_fs.close(fd);
    if (!read)
        return KeptCopy::Found::ChangedSince;
    *err = 0;
    return KeptCopy::classify(now.constData(), size_t(now.size()), old, oldSize, next, newSize);
}

TextFile::Recovery SafeSave::recover(const QString& path, QString* message, const TextFile::KeepOld& keepOld)
{
    const QString target = resolveLinks(path);
    removeLeftovers(target);
    const TextFile::Recovery beside = recoverFrom(target, keptCopyPath(target), message, keepOld);
    // A save in place whose file's folder refused the kept copy left it in the user's folder.
    if (beside != TextFile::Recovery::Nothing || m_keptFolder.isEmpty())
        return beside;
    return recoverFrom(target, keptCopyIn(m_keptFolder, target), message, keepOld);
}

TextFile::Recovery SafeSave::recoverFrom(const QString& target, const QString& kept, QString* message,
                                         const TextFile::KeepOld& keepOld)
{
    // A copy that was never finished: the file was not touched yet.
    m_fs.unlink(encoded(kept + QStringLiteral(".new")));
    QByteArray keptBytes;
    TextFile::Recovery otherwise = TextFile::Recovery::Nothing;
    if (!readKept(kept, target, &keptBytes, message, &otherwise))
        return otherwise;
    const KeptCopy::Header h = KeptCopy::parseHeader(keptBytes.constData(), size_t(keptBytes.size()));
    const char* old = keptBytes.constData() + KeptCopy::kHeaderSize;
    const char* next = old + h.oldSize;

    auto failed = [&](const QString& what, int err) {
        if (notPermitted(err))
            return notPermittedOr(kept, err, what, message);
        *message = QString::fromStdWString(
            KeptCopy::Say::failed(wide(target), what.toStdWString(),
                                  QString::fromLocal8Bit(strerror(err)).toStdWString(), wide(kept)));
        return TextFile::Recovery::Failed;
    };
    int err = 0;
    const KeptCopy::Found found = compareWithKept(target, old, h.oldSize, next, h.newSize, &err);
    if (err != 0)
        return failed(QStringLiteral("无法读取文件"), err);
    if (found == KeptCopy::Found::Torn) {
        const int fd = openRegular(target, O_RDWR, &err);
        const bool putBackDone = fd >= 0 && putBack(fd, old, qint64(h.oldSize), &err);
        if (fd >= 0)
            m_fs.close(fd);
        if (!putBackDone)
            return failed(QStringLiteral("无法恢复保存前的内容"), err);
    }
    if (found == KeptCopy::Found::ChangedSince) {
        // Changed after the save was cut off (by the user, a VPN client): the file stays as it
        // is, and the old content is kept elsewhere before its copy goes.
        auto drop = [&](QString* why) {
            int dropErr = 0;
            if (dropKept(kept, &dropErr))
                return true;
            *why = describe(kept, QStringLiteral("无法删除保留的原内容副本"), dropErr);
            return false;
        };
        return KeptCopyStep::keepChanged(target, kept, QByteArray(old, qsizetype(h.oldSize)), keepOld, drop,
                                         message);
    }
    if (!dropKept(kept, &err))
        return failed(QStringLiteral("无法删除保留的原内容副本"), err);
    if (found == KeptCopy::Found::NewContent)
        return TextFile::Recovery::Nothing;
    *message =
        QString::fromStdWString(KeptCopy::Say::restored(wide(target), found == KeptCopy::Found::OldContent));
    return TextFile::Recovery::Restored;
}

TextFile::Recovery SafeSave::notPermittedOr(const QString& kept, int err, const QString& what,
                                            QString* message)
{
    *message = describe(kept, kInterrupted + what, err);
    if (!notPermitted(err))
        return TextFile::Recovery::Failed;
    // A save through the administrator's helper was cut off: its copy is root's. The next save
    // asks for the password and the helper finishes the recovery first.
    *message +=
        QStringLiteral("\r\n这是经由管理员权限的保存留下的。保存HOST文件时会请求管理员权限，先完成恢复；"
                       "之后请重新读取HOST文件。");
    return TextFile::Recovery::NotPermitted;
}
