#pragma once

// What the two halves of SafeSave share: the kept copy's format, and how paths and the system's
// errors are named. Only SafeSave.cpp and SafeSaveRecovery.cpp include it.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>

#include <errno.h>
#include <string.h>

namespace SafeSaveCommon {

// Writes and reads go in pieces of this size: a large file needs no second copy in memory.
constexpr qint64 kChunk = 1 << 20;

// The kept copy's header: "TARVIX-KEPT 2", the old size and the new size in fields of fixed
// width, then an empty line; the old content follows, then the new. Both contents are kept so
// that recovery can tell the new content, the old one and a mixture of the two (a write cut
// off) from a file that another program changed after the save was cut off.
inline const QByteArray kMagic = QByteArrayLiteral("TARVIX-KEPT 2\n");
constexpr qint64 kHeaderSize = 14 + (4 + 20 + 1) + (4 + 20 + 1) + 1;

inline QByteArray header(qint64 oldSize, qint64 newSize)
{
    return kMagic + "old " + QByteArray::number(oldSize).rightJustified(20, '0') + "\nnew " +
           QByteArray::number(newSize).rightJustified(20, '0') + "\n\n";
}

struct Header {
    bool ok = false;
    qint64 oldSize = 0;
    qint64 newSize = 0;
};

inline Header parseHeader(const QByteArray& bytes)
{
    Header h;
    if (bytes.size() != kHeaderSize || !bytes.startsWith(kMagic) || !bytes.endsWith("\n\n"))
        return h;
    bool oldOk = false, newOk = false;
    h.oldSize = bytes.mid(18, 20).toLongLong(&oldOk);
    h.newSize = bytes.mid(43, 20).toLongLong(&newOk);
    h.ok = oldOk && newOk && bytes.mid(14, 4) == "old " && bytes.mid(39, 4) == "new " && h.oldSize >= 0 &&
           h.newSize >= 0;
    return h;
}

inline bool notPermitted(int err)
{
    return err == EACCES || err == EPERM;
}

inline QByteArray encoded(const QString& path)
{
    return QFile::encodeName(path);
}

inline QString native(const QString& path)
{
    return QDir::toNativeSeparators(path);
}

// "path: what happened: the system's reason", the reason as the system words it.
inline QString describe(const QString& path, const QString& what, int err)
{
    QString text = native(path) + QStringLiteral(": ") + what;
    if (err != 0)
        text += QStringLiteral(": ") + QString::fromLocal8Bit(strerror(err));
    return text;
}

// The file a save must change: the final target of a chain of symbolic links, so that the
// link itself stays a link.
inline QString resolveLinks(const QString& path)
{
    QString target = QFileInfo(path).absoluteFilePath();
    for (int hops = 0; hops < 40; ++hops) {
        const QFileInfo info(target);
        if (!info.isSymLink())
            return target;
        target = info.symLinkTarget();
    }
    return target;
}

inline QString folderOf(const QString& target)
{
    return QFileInfo(target).absolutePath();
}

// A hidden file beside target: ".NAME" + suffix.
inline QString beside(const QString& target, const QString& suffix)
{
    const QFileInfo info(target);
    return info.absolutePath() + QLatin1String("/.") + info.fileName() + suffix;
}

inline const QString kInterrupted = QStringLiteral("上次保存时程序被中断，");

} // namespace SafeSaveCommon
