// Saving on Windows: a plain fallback. QSaveFile writes a temporary file and puts it in place
// with MoveFileEx; where that fails, the file is overwritten in place from memory and read back.
// No kept copy on disk, so recover() has nothing to find, and the file's own ACL and owner are
// not copied to the replacement (it takes the folder's inherited ones).
#include "platform/TextFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace {

QString describe(const QString& path, const QString& reason)
{
    return QDir::toNativeSeparators(path) + QStringLiteral(": ") + reason;
}

bool overwriteInPlace(const QString& target, const QByteArray& bytes, QString* error)
{
    QFile file(target);
    if (!file.open(QIODevice::ReadWrite)) {
        *error = describe(target, QStringLiteral("无法打开文件写入: ") + file.errorString());
        return false;
    }
    const QByteArray old = file.readAll();
    bool ok = file.seek(0) && file.write(bytes) == bytes.size() && file.resize(bytes.size()) && file.flush();
    QString reason = file.errorString();
    if (ok) {
        ok = file.seek(0) && file.readAll() == bytes;
        if (!ok)
            reason = QStringLiteral("写入后读回的内容与要保存的不一致");
    }
    if (!ok) {
        file.seek(0);
        file.write(old);
        file.resize(old.size());
        file.flush();
        *error = describe(target, reason);
    }
    return ok;
}

} // namespace

namespace TextFile {

bool save(const QString& path, const QByteArray& bytes, QString* error)
{
    const QFileInfo info(path);
    const QString target = info.isSymLink() ? info.symLinkTarget() : path;
    if (QFileInfo::exists(target) && !QFileInfo(target).isFile()) {
        *error = describe(target, QStringLiteral("不是普通文件"));
        return false;
    }
    QSaveFile file(target);
    if (file.open(QIODevice::WriteOnly)) {
        if (file.write(bytes) != bytes.size()) {
            *error = describe(target, QStringLiteral("写入临时文件失败: ") + file.errorString());
            file.cancelWriting();
            return false;
        }
        if (file.commit())
            return true;
    }
    if (QFileInfo(target).isWritable())
        return overwriteInPlace(target, bytes, error);
    *error = describe(target, file.errorString());
    return false;
}

Recovery recover(const QString&, QString*, const KeepOld&)
{
    return Recovery::Nothing;
}

QString keptCopyPath(const QString& path)
{
    const QFileInfo info(path);
    return info.absolutePath() + QStringLiteral("/.") + info.fileName() + QStringLiteral(".tarvix-kept");
}

} // namespace TextFile
