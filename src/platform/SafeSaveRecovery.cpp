// SafeSave's recovery: what a save that was cut off left behind is finished or put right.
#include "platform/SafeSave.h"

#include "platform/SafeSaveCommon.h"

#include <fcntl.h>
#include <unistd.h>

using namespace SafeSaveCommon;

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

SafeSave::Found SafeSave::compareWithKept(int fd, int keptFd, qint64 oldSize, qint64 newSize, int* err)
{
    struct stat st;
    if (m_fs.fstat(fd, &st) != 0) {
        *err = errno;
        return Found::Unreadable;
    }
    const qint64 size = st.st_size;
    bool isOld = size == oldSize, isNew = size == newSize;
    // A write cut off leaves the new content's first bytes over the old one's, at any size
    // between the two: each byte is the old one's or the new one's at its place.
    bool mixture = size >= qMin(oldSize, newSize) && size <= qMax(oldSize, newSize);
    QByteArray now(int(kChunk), Qt::Uninitialized), old(int(kChunk), Qt::Uninitialized),
        next(int(kChunk), Qt::Uninitialized);
    for (qint64 done = 0; (isOld || isNew || mixture) && done < size;) {
        const qint64 want = qMin(kChunk, size - done);
        const qint64 fromOld = qBound<qint64>(0, oldSize - done, want);
        const qint64 fromNew = qBound<qint64>(0, newSize - done, want);
        if (m_fs.pread(fd, now.data(), size_t(want), off_t(done)) != want ||
            m_fs.pread(keptFd, old.data(), size_t(fromOld), off_t(kHeaderSize + done)) != fromOld ||
            m_fs.pread(keptFd, next.data(), size_t(fromNew), off_t(kHeaderSize + oldSize + done)) !=
                fromNew) {
            *err = errno ? errno : EIO;
            return Found::Unreadable;
        }
        for (qint64 i = 0; i < want; ++i) {
            const bool o = i < fromOld && now[i] == old[i];
            const bool n = i < fromNew && now[i] == next[i];
            isOld = isOld && o;
            isNew = isNew && n;
            mixture = mixture && (o || n);
        }
        done += want;
    }
    return isNew ? Found::New : isOld ? Found::Old : mixture ? Found::Mixture : Found::Other;
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

TextFile::Recovery SafeSave::recover(const QString& path, QString* message, const TextFile::KeepOld& keepOld)
{
    const QString target = resolveLinks(path);
    const QString kept = keptCopyPath(target);
    removeLeftovers(target);
    // A copy that was never finished: the file was not touched yet.
    m_fs.unlink(encoded(kept + QStringLiteral(".new")));
    const int k = m_fs.open(encoded(kept), O_RDONLY, 0);
    if (k < 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            return TextFile::Recovery::Nothing;
        return notPermittedOr(kept, errno, QStringLiteral("无法打开保留的原内容副本"), message);
    }
    QByteArray head(int(kHeaderSize), Qt::Uninitialized);
    struct stat ks;
    const bool headRead = m_fs.pread(k, head.data(), size_t(kHeaderSize), 0) == kHeaderSize;
    const Header h = parseHeader(headRead ? head : QByteArray());
    if (!h.ok || m_fs.fstat(k, &ks) != 0 || ks.st_size != kHeaderSize + h.oldSize + h.newSize) {
        m_fs.close(k);
        *message = describe(
            kept, kInterrupted + QStringLiteral("保留的原内容副本不完整，请查看它和 %1").arg(native(target)),
            0);
        return TextFile::Recovery::Failed;
    }

    auto failed = [&](const QString& what, int err) {
        m_fs.close(k);
        if (notPermitted(err))
            return notPermittedOr(kept, err, what, message);
        *message =
            describe(target, kInterrupted + what, err) + QStringLiteral("\r\n保存前的内容在 ") + native(kept);
        return TextFile::Recovery::Failed;
    };
    int fd = m_fs.open(encoded(target), O_RDONLY, 0);
    if (fd < 0)
        return failed(QStringLiteral("无法恢复保存前的内容"), errno);
    int err = 0;
    const Found found = compareWithKept(fd, k, h.oldSize, h.newSize, &err);
    m_fs.close(fd);
    switch (found) {
    case Found::Unreadable:
        return failed(QStringLiteral("无法读取文件"), err);
    case Found::New:
        m_fs.close(k);
        if (!dropKept(kept, &err))
            return failed(QStringLiteral("无法删除保留的原内容副本"), err);
        return TextFile::Recovery::Nothing;
    case Found::Other: {
        // Changed after the save was cut off (by the user, a VPN client): the file stays as it
        // is, and the old content is kept elsewhere before its copy goes.
        QByteArray old(qsizetype(h.oldSize), Qt::Uninitialized);
        if (m_fs.pread(k, old.data(), size_t(h.oldSize), off_t(kHeaderSize)) != h.oldSize)
            return failed(QStringLiteral("无法读取保留的原内容副本"), errno ? errno : EIO);
        QString where, why;
        if (!keepOld || !keepOld(old, &where, &why)) {
            m_fs.close(k);
            *message =
                describe(target, kInterrupted + QStringLiteral("之后文件又被修改过，文件保持现在的内容。"),
                         0) +
                QStringLiteral("\r\n保存前的内容在 ") + native(kept) +
                (why.isEmpty() ? QString() : QStringLiteral("\r\n") + why);
            return TextFile::Recovery::Failed;
        }
        m_fs.close(k);
        if (!dropKept(kept, &err))
            return failed(QStringLiteral("无法删除保留的原内容副本"), err);
        *message = describe(target,
                            kInterrupted + QStringLiteral("之后文件又被修改过，文件保持现在的内容；"
                                                          "保存前的内容已放在 %1")
                                               .arg(native(where)),
                            0);
        return TextFile::Recovery::Kept;
    }
    case Found::Mixture:
        fd = m_fs.open(encoded(target), O_RDWR, 0);
        if (fd < 0)
            return failed(QStringLiteral("无法恢复保存前的内容"), errno);
        if (!putBack(fd, k, kHeaderSize, h.oldSize, &err)) {
            m_fs.close(fd);
            return failed(QStringLiteral("无法恢复保存前的内容"), err);
        }
        m_fs.close(fd);
        break;
    case Found::Old:
        break;
    }
    m_fs.close(k);
    if (!dropKept(kept, &err))
        return failed(QStringLiteral("无法删除保留的原内容副本"), err);
    *message = native(target) + QStringLiteral(": ") + kInterrupted +
               (found == Found::Old ? QStringLiteral("文件没有改动，仍是保存前的内容。")
                                    : QStringLiteral("文件已从保留的副本恢复为保存前的内容。"));
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
