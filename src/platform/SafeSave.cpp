#include "platform/SafeSave.h"

#include "platform/SafeSaveCommon.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <unistd.h>

using namespace SafeSaveCommon;

QString SafeSave::keptCopyPath(const QString& path)
{
    return beside(resolveLinks(path), QStringLiteral(".tarvix-kept"));
}

QString SafeSave::keptCopyIn(const QString& folder, const QString& path)
{
    if (folder.isEmpty())
        return QString();
    const QString target = resolveLinks(path);
    const QByteArray hash =
        QCryptographicHash::hash(encoded(target), QCryptographicHash::Sha256).toHex().left(16);
    return QDir(folder).filePath(QLatin1Char('.') + QFileInfo(target).fileName() + QLatin1Char('.') +
                                 QString::fromLatin1(hash) + QStringLiteral(".tarvix-kept"));
}

bool SafeSave::writeAll(int fd, const char* data, qint64 size, qint64 offset)
{
    qint64 done = 0;
    while (done < size) {
        const ssize_t n =
            m_fs.pwrite(fd, data + done, size_t(qMin(kChunk, size - done)), off_t(offset + done));
        if (n < 0)
            return false;
        if (n == 0) {
            errno = EIO;
            return false;
        }
        done += n;
    }
    return true;
}

bool SafeSave::sameContent(int fd, const char* data, qint64 size, int* err)
{
    QByteArray buffer(int(kChunk), Qt::Uninitialized);
    qint64 done = 0;
    for (;;) {
        const ssize_t n = m_fs.pread(fd, buffer.data(), size_t(kChunk), off_t(done));
        if (n < 0) {
            *err = errno;
            return false;
        }
        if (n == 0)
            return done == size;
        if (done + n > size || memcmp(buffer.constData(), data + done, size_t(n)) != 0)
            return false;
        done += n;
    }
}

bool SafeSave::flushFolder(const QString& path, int* err)
{
    const int fd = m_fs.open(encoded(folderOf(path)), O_RDONLY | O_DIRECTORY, 0);
    if (fd < 0) {
        *err = errno;
        return false;
    }
    // Some file systems cannot flush a folder (EINVAL): they have nothing to flush.
    const bool ok = m_fs.fsync(fd) == 0 || errno == EINVAL;
    *err = errno;
    m_fs.close(fd);
    return ok;
}

bool SafeSave::save(const QString& path, const QByteArray& bytes, QString* error)
{
    const QString target = resolveLinks(path);
    // A save that was cut off is finished first; a file that was just restored is not what the
    // caller based its bytes on.
    QString message;
    switch (recover(target, &message)) {
    case TextFile::Recovery::Nothing:
        break;
    case TextFile::Recovery::Restored:
    case TextFile::Recovery::Kept:
        *error = message + QStringLiteral("\r\n请重新读取后再保存。");
        return false;
    case TextFile::Recovery::Failed:
    case TextFile::Recovery::NotPermitted:
        *error = message;
        return false;
    }

    struct stat st;
    const bool exists = m_fs.stat(encoded(target), &st) == 0;
    if (!exists && errno != ENOENT) {
        *error = describe(target, QStringLiteral("无法读取文件的属性"), errno);
        return false;
    }
    if (exists && !S_ISREG(st.st_mode)) {
        *error = describe(target, QStringLiteral("不是普通文件"), 0);
        return false;
    }
    // A file its owner made read-only (no write bit for anyone) is the owner's word: refused
    // with the system's reason, whoever saves, root's helper too, whom the system would let
    // write it. One the process may not write is refused the same way.
    if (exists && (st.st_mode & 0222) == 0) {
        *error = describe(target, QStringLiteral("无法写入文件"), EACCES);
        return false;
    }
    if (exists && m_fs.access(encoded(target), W_OK) != 0) {
        *error = describe(target, QStringLiteral("无法写入文件"), errno);
        return false;
    }
    // A file with several names stays one file: replacing it would cut the other names off.
    if (exists && st.st_nlink > 1)
        return saveInPlace(target, bytes, error);
    QString whyNotReplaced;
    switch (replace(target, bytes, exists ? &st : nullptr, &whyNotReplaced)) {
    case Replaced::Yes:
        return true;
    case Replaced::No:
        *error = whyNotReplaced;
        return false;
    case Replaced::InPlace:
        break;
    }
    if (saveInPlace(target, bytes, error))
        return true;
    *error = whyNotReplaced + QStringLiteral("\r\n") + *error;
    return false;
}

SafeSave::Replaced SafeSave::replace(const QString& target, const QByteArray& bytes, const struct stat* old,
                                     QString* error)
{
    const Replaced cannot = old ? Replaced::InPlace : Replaced::No;
    const QString temp = beside(target, QStringLiteral(".tarvix-new.") +
                                            QString::number(QRandomGenerator::global()->generate64(), 36));
    // A new file takes the mode that the process gives new files; an old one's is copied below.
    const int fd = m_fs.open(encoded(temp), O_WRONLY | O_CREAT | O_EXCL, old ? 0600 : 0666);
    if (fd < 0) {
        *error = describe(temp, QStringLiteral("无法创建临时文件"), errno);
        return cannot;
    }
    auto fail = [&](const QString& what, Replaced result) {
        const int err = errno;
        m_fs.close(fd);
        m_fs.unlink(encoded(temp));
        *error = describe(temp, what, err);
        return result;
    };
    if (old && !copyProperties(target, fd, *old, error)) {
        m_fs.close(fd);
        m_fs.unlink(encoded(temp));
        return Replaced::InPlace; // in place the file keeps all it is
    }
    if (!writeAll(fd, bytes.constData(), bytes.size(), 0))
        return fail(QStringLiteral("写入临时文件失败"), Replaced::No);
    // The content must be on disk before the name points to it, or a power cut after the rename
    // can leave an empty file.
    if (m_fs.fsync(fd) != 0)
        return fail(QStringLiteral("临时文件无法写入磁盘"), Replaced::No);
    if (m_fs.close(fd) != 0) {
        const int err = errno;
        m_fs.unlink(encoded(temp));
        *error = describe(temp, QStringLiteral("临时文件无法写入磁盘"), err);
        return Replaced::No;
    }
    if (m_fs.rename(encoded(temp), encoded(target)) != 0) {
        const int err = errno;
        m_fs.unlink(encoded(temp));
        *error = describe(target, QStringLiteral("无法用临时文件替换"), err);
        return cannot;
    }
    // The rename itself is on disk only once the folder is.
    int err = 0;
    if (!flushFolder(target, &err)) {
        *error = describe(folderOf(target), QStringLiteral("文件已替换，但文件夹无法写入磁盘"), err);
        return Replaced::No;
    }
    return Replaced::Yes;
}

bool SafeSave::copyProperties(const QString& target, int to, const struct stat& old, QString* why)
{
    // Owner and group first: changing them clears the setuid and setgid bits, which the mode
    // then sets again.
    struct stat now;
    if (m_fs.fstat(to, &now) != 0) {
        *why = describe(target, QStringLiteral("无法读取临时文件的属性"), errno);
        return false;
    }
    if ((now.st_uid != old.st_uid || now.st_gid != old.st_gid) &&
        m_fs.fchown(to, old.st_uid, old.st_gid) != 0) {
        *why = describe(target, QStringLiteral("无法给新文件原来的所有者和组"), errno);
        return false;
    }
    // Extended attributes: user.*, ACLs (system.posix_acl_access), the SELinux label
    // (security.selinux) that confined services need to read the file.
    const int from = m_fs.open(encoded(target), O_RDONLY | O_NONBLOCK, 0);
    if (from < 0) {
        *why = describe(target, QStringLiteral("无法读取文件的扩展属性"), errno);
        return false;
    }
    bool ok = true;
    QByteArray names;
    ssize_t size = m_fs.flistxattr(from, nullptr, 0);
    if (size > 0) {
        names.resize(size);
        size = m_fs.flistxattr(from, names.data(), size_t(names.size()));
    }
    if (size < 0 && errno != ENOTSUP) {
        *why = describe(target, QStringLiteral("无法读取文件的扩展属性"), errno);
        ok = false;
    }
    names.truncate(qMax<ssize_t>(size, 0));
    for (const QByteArray& name : names.split('\0')) {
        if (!ok || name.isEmpty())
            continue;
        QByteArray value;
        ssize_t n = m_fs.fgetxattr(from, name.constData(), nullptr, 0);
        if (n > 0) {
            value.resize(n);
            n = m_fs.fgetxattr(from, name.constData(), value.data(), size_t(value.size()));
        }
        if (n < 0 ||
            m_fs.fsetxattr(to, name.constData(), value.constData(), size_t(qMax<ssize_t>(n, 0)), 0) != 0) {
            *why = describe(target, QStringLiteral("无法给新文件扩展属性 %1").arg(QString::fromLatin1(name)),
                            errno);
            ok = false;
        }
    }
    m_fs.close(from);
    if (ok && m_fs.fchmod(to, old.st_mode & 07777) != 0) {
        *why = describe(target, QStringLiteral("无法给新文件原来的权限"), errno);
        ok = false;
    }
    return ok;
}

bool SafeSave::keepOldContent(const QString& target, int fd, const QByteArray& bytes, qint64* oldSize,
                              QString* kept, QString* error)
{
    *kept = keptCopyPath(target);
    int openErr = 0;
    if (writeKept(*kept, fd, bytes, oldSize, &openErr, error))
        return true;
    // A folder only root may write, with a file the user may write in it: the copy goes to the
    // user's own folder, where the next recovery looks for it too.
    if (!notPermitted(openErr) || m_keptFolder.isEmpty())
        return false;
    const QString besideError = *error;
    *kept = keptCopyIn(m_keptFolder, target);
    if (!QDir().mkpath(m_keptFolder)) {
        *error = besideError + QStringLiteral("\r\n") +
                 describe(m_keptFolder, QStringLiteral("无法创建文件夹"), 0);
        return false;
    }
    if (writeKept(*kept, fd, bytes, oldSize, &openErr, error))
        return true;
    *error = besideError + QStringLiteral("\r\n") + *error;
    return false;
}

bool SafeSave::writeKept(const QString& kept, int fd, const QByteArray& bytes, qint64* oldSize, int* openErr,
                         QString* error)
{
    const QString partial = kept + QStringLiteral(".new");
    m_fs.unlink(encoded(partial));
    const int k = m_fs.open(encoded(partial), O_WRONLY | O_CREAT | O_EXCL, 0600);
    if (k < 0) {
        *openErr = errno;
        *error = describe(partial, QStringLiteral("无法保留原内容的副本"), *openErr);
        return false;
    }
    QString what;
    int err = 0;
    QByteArray buffer(int(kChunk), Qt::Uninitialized);
    qint64 copied = 0;
    for (;;) {
        const ssize_t n = m_fs.pread(fd, buffer.data(), size_t(kChunk), off_t(copied));
        if (n < 0) {
            what = QStringLiteral("无法读取原内容");
            err = errno;
            break;
        }
        if (n == 0)
            break;
        if (!writeAll(k, buffer.constData(), n, qint64(KeptCopy::kHeaderSize) + copied)) {
            what = QStringLiteral("无法保留原内容的副本");
            err = errno;
            break;
        }
        copied += n;
    }
    const QByteArray head =
        QByteArray::fromStdString(KeptCopy::header(quint64(copied), quint64(bytes.size())));
    if (what.isEmpty() &&
        (!writeAll(k, bytes.constData(), bytes.size(), qint64(KeptCopy::kHeaderSize) + copied) ||
         !writeAll(k, head.constData(), head.size(), 0))) {
        what = QStringLiteral("无法保留原内容的副本");
        err = errno;
    }
    // The copy must be on disk, under its final name, before the file is touched.
    if (what.isEmpty() && m_fs.fsync(k) != 0) {
        what = QStringLiteral("原内容的副本无法写入磁盘");
        err = errno;
    }
    if (m_fs.close(k) != 0 && what.isEmpty()) {
        what = QStringLiteral("原内容的副本无法写入磁盘");
        err = errno;
    }
    if (what.isEmpty() && m_fs.rename(encoded(partial), encoded(kept)) != 0) {
        what = QStringLiteral("无法保留原内容的副本");
        err = errno;
    }
    if (what.isEmpty() && !flushFolder(kept, &err))
        what = QStringLiteral("原内容的副本无法写入磁盘");
    if (!what.isEmpty()) {
        m_fs.unlink(encoded(partial));
        m_fs.unlink(encoded(kept));
        *error = describe(partial, what, err);
        return false;
    }
    *oldSize = copied;
    return true;
}

bool SafeSave::putBack(int fd, const char* old, qint64 oldSize, int* err)
{
    if (!writeAll(fd, old, oldSize, 0) || m_fs.ftruncate(fd, oldSize) != 0 || m_fs.fsync(fd) != 0) {
        *err = errno;
        return false;
    }
    // Read back: the old content must really be there before its copy goes.
    *err = 0;
    if (sameContent(fd, old, oldSize, err))
        return true;
    if (*err == 0)
        *err = EIO;
    return false;
}

bool SafeSave::saveInPlace(const QString& target, const QByteArray& bytes, QString* error)
{
    int openErr = 0;
    const int fd = openRegular(target, O_RDWR, &openErr);
    if (fd < 0) {
        *error = describe(target, QStringLiteral("无法打开文件写入"), openErr);
        return false;
    }
    qint64 oldSize = 0;
    QString kept;
    if (!keepOldContent(target, fd, bytes, &oldSize, &kept, error)) {
        m_fs.close(fd);
        return false;
    }
    QString what;
    int err = 0;
    if (!writeAll(fd, bytes.constData(), bytes.size(), 0)) {
        what = QStringLiteral("写入失败");
        err = errno;
    } else if (m_fs.ftruncate(fd, bytes.size()) != 0) {
        what = QStringLiteral("无法截断到新的长度");
        err = errno;
    } else if (m_fs.fsync(fd) != 0) {
        what = QStringLiteral("无法写入磁盘");
        err = errno;
    } else if (!sameContent(fd, bytes.constData(), bytes.size(), &err)) {
        what =
            err ? QStringLiteral("无法读回写入的内容") : QStringLiteral("写入后读回的内容与要保存的不一致");
    }
    if (what.isEmpty()) {
        m_fs.close(fd);
        // The new content is on disk: the old one has done its work. The folder is flushed so
        // that a power cut cannot bring back a copy that a later recovery would take as current.
        if (m_fs.unlink(encoded(kept)) == 0) {
            int ignored = 0;
            flushFolder(kept, &ignored);
        }
        return true;
    }
    *error = describe(target, what, err);
    // Put the old content back from its copy, which stays until that worked.
    QByteArray keptBytes;
    int putErr = 0;
    const int keptFd = openRegular(kept, O_RDONLY, &putErr);
    const bool restored = keptFd >= 0 && readWhole(keptFd, &keptBytes, &putErr) &&
                          keptBytes.size() == qint64(KeptCopy::kHeaderSize) + oldSize + bytes.size() &&
                          putBack(fd, keptBytes.constData() + KeptCopy::kHeaderSize, oldSize, &putErr);
    if (keptFd >= 0)
        m_fs.close(keptFd);
    m_fs.close(fd);
    if (restored) {
        m_fs.unlink(encoded(kept));
        *error += QStringLiteral("\r\n文件仍是原来的内容。");
    } else {
        *error +=
            QStringLiteral("\r\n") +
            describe(target, QStringLiteral("无法恢复原内容，原内容保留在 %1").arg(native(kept)), putErr);
    }
    return false;
}
