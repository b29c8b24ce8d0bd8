#pragma once

// What the two halves of SafeSave share: how paths and the system's errors are named (the kept
// copy's format is KeptCopy's). Only SafeSave.cpp and SafeSaveRecovery.cpp include it.

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
