#include "core/hosts/HostsSaver.h"

#include "core/hosts/HostsBackups.h"
#include "core/hosts/HostsDocument.h"
#include "core/hosts/HostsMerge.h"
#include "platform/FileLock.h"
#include "platform/Platform.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>

#include <algorithm>

namespace {

const QString kReadAgain = QStringLiteral("\r\n请重新读取HOST文件后再保存。");

// Whether the administrator's rights can do what the direct save could not: a file the user
// may not write, or a writable file in a folder only root can write when the kept copy could
// not go to the user's own folder either (the direct save saves such a file in place, its kept
// copy in keptFolder()). A read-only file system or a missing folder they cannot help with.
bool needsAdministrator(const QString& path)
{
    // A file its owner made read-only (no write bit for anyone) is refused whoever saves: the
    // administrator's rights are not asked for it.
    const QFileInfo file(path);
    constexpr QFile::Permissions anyWrite = QFile::WriteOwner | QFile::WriteGroup | QFile::WriteOther;
    if (file.exists() && !(file.permissions() & anyWrite))
        return false;
    switch (Platform::writeAccess(path)) {
    case Platform::WriteAccess::Denied:
        return true;
    case Platform::WriteAccess::Allowed: {
        const QFileInfo info(path);
        const QString target = info.exists() ? info.canonicalFilePath() : info.absoluteFilePath();
        return !Platform::canWriteDirectory(QFileInfo(target).absolutePath());
    }
    default:
        return false;
    }
}

const QByteArray kBom = QByteArrayLiteral("\xEF\xBB\xBF");

// The line (from 1) of result that the window's save would refuse: one that is not in base and
// holds text that is not ASCII, when another program added or dropped the file's byte-order
// mark since base was read (re-encoded it between UTF-8 and the code page); such text could not
// be read back. UTF-8 text into a file that now has the mark is what the mark says. 0: none.
qsizetype reencodedLine(const QByteArray& base, const QByteArray& result, const QByteArray& current)
{
    const bool hadMark = base.startsWith(kBom), hasMark = current.startsWith(kBom);
    if (hadMark == hasMark)
        return 0;
    const QList<QByteArray> baseLines = base.mid(hadMark ? kBom.size() : 0).split('\n');
    const QSet<QByteArray> known(baseLines.cbegin(), baseLines.cend());
    const QList<QByteArray> lines = result.mid(result.startsWith(kBom) ? kBom.size() : 0).split('\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QByteArray& line = lines[i];
        const bool ascii = std::all_of(line.cbegin(), line.cend(), [](char c) { return uchar(c) < 0x80; });
        if (ascii || known.contains(line) || (hasMark && QString::fromUtf8(line).toUtf8() == line))
            continue;
        return i + 1;
    }
    return 0;
}

} // namespace

HostsSaver::HostsSaver(const QString& hostsPath, const QString& backupFolder)
    : m_hostsPath(hostsPath), m_backupFolder(backupFolder), m_lockWaitMs(FileLock::kWaitMs)
{
}

QString HostsSaver::keptFolder() const
{
    // A folder, not files among the backups: their rotation counts and removes files only.
    return m_backupFolder.isEmpty() ? QString() : QDir(m_backupFolder).filePath(QStringLiteral(".kept"));
}

TextFile::KeepOld HostsSaver::keeper() const
{
    return [this](const QByteArray& old, QString* where, QString* why) { return keepOld(old, where, why); };
}

bool HostsSaver::keepOld(const QByteArray& old, QString* where, QString* error) const
{
    const QDateTime now = m_now ? m_now() : QDateTime::currentDateTime();
    if (!m_backupFolder.isEmpty())
        return HostsBackups::write(m_backupFolder, old, now, where, error);
    // Root's helper writes no user's folder: the old content stays beside the file.
    const QFileInfo info(m_hostsPath);
    *where = info.absolutePath() + QStringLiteral("/.") + info.fileName() +
             QStringLiteral(".tarvix-before-") + now.toString(QStringLiteral("yyyyMMdd-HHmmss-zzz"));
    return TextFile::writeNew(*where, old, error);
}

bool HostsSaver::saveFile(const QByteArray& bytes, QString* error) const
{
    return m_saveFile ? m_saveFile(m_hostsPath, bytes, error)
                      : TextFile::save(m_hostsPath, bytes, error, keptFolder());
}

TextFile::ReadStatus HostsSaver::read(QByteArray* bytes, TextFile::Recovery* recovery, QString* message,
                                      QString* error)
{
    FileLock lock;
    message->clear();
    *recovery = TextFile::Recovery::Nothing;
    QString lockError;
    if (!lock.lock(m_hostsPath, &lockError, m_lockWaitMs))
        return readWithoutLock(bytes, error, lockError);
    *recovery = TextFile::recover(m_hostsPath, message, keeper(), keptFolder());
    return TextFile::read(m_hostsPath, bytes, error);
}

TextFile::ReadStatus HostsSaver::readWithoutLock(QByteArray* bytes, QString* error,
                                                 const QString& lockError) const
{
    // A save that replaces the file renames a complete file over it: a read sees the old content
    // or the new one. An in-place save first keeps its copy, then writes over the file, then
    // drops the copy: with no kept copy after the read, and the file's time and size unchanged
    // across it, the read is whole. Recovery needs the lock (a save under way has a kept copy too), so it
    // waits for the next read.
    const QString kept = TextFile::keptCopyPath(m_hostsPath);
    const QString keptElsewhere = TextFile::keptCopyPath(m_hostsPath, keptFolder());
    const QFileInfo before(m_hostsPath);
    const QDateTime time = before.lastModified();
    const qint64 size = before.size();
    const TextFile::ReadStatus status = TextFile::read(m_hostsPath, bytes, error);
    const QFileInfo after(m_hostsPath);
    if (QFileInfo::exists(kept) || (!keptElsewhere.isEmpty() && QFileInfo::exists(keptElsewhere)) ||
        after.lastModified() != time || after.size() != size) {
        bytes->clear();
        *error = lockError;
        return TextFile::ReadStatus::Failed;
    }
    return status;
}

HostsSaver::Recovered HostsSaver::recoverBeforeSave(QString* error)
{
    switch (TextFile::recover(m_hostsPath, error, keeper(), keptFolder())) {
    case TextFile::Recovery::Nothing:
        return Recovered::Nothing;
    case TextFile::Recovery::Restored:
    case TextFile::Recovery::Kept:
        *error += kReadAgain;
        return Recovered::ReadAgain;
    case TextFile::Recovery::Failed:
        return Recovered::Failed;
    case TextFile::Recovery::NotPermitted:
        return Recovered::AdministratorOnly; // the helper finishes the recovery first
    }
    return Recovered::Failed;
}

bool HostsSaver::save(const HostsDocument& document, QString* error)
{
    m_backupNote.clear();
    m_wroteFile = false;
    FileLock lock;
    if (!lock.lock(m_hostsPath, error, m_lockWaitMs))
        return false;
    QString recovered;
    const Recovered before = recoverBeforeSave(&recovered);
    if (before == Recovered::ReadAgain || before == Recovered::Failed) {
        *error = recovered;
        return false;
    }
    const bool adminOnly = before == Recovered::AdministratorOnly;

    // The file as it is now: another program may have changed it since it was read.
    QByteArray current;
    const TextFile::ReadStatus status = TextFile::read(m_hostsPath, &current, error);
    if (status == TextFile::ReadStatus::Failed)
        return false;
    if (current == document.fileBytes())
        current = document.fileBytes(); // one buffer for both, before the new bytes are made
    QByteArray bytes;
    if (!document.mergeInto(current, &bytes, error))
        return false;
    if (status == TextFile::ReadStatus::Ok && bytes == current && !adminOnly)
        return true; // nothing to change
    QString backup;
    if (status == TextFile::ReadStatus::Ok && bytes != current && !m_backupFolder.isEmpty()) {
        const QDateTime now = m_now ? m_now() : QDateTime::currentDateTime();
        if (!HostsBackups::write(m_backupFolder, current, now, &backup, &m_backupNote)) {
            m_backupNote = QStringLiteral("没有写成备份: ") + m_backupNote;
            backup.clear();
        }
    }
    bool saved = false;
    bool unknown = false;
    if (adminOnly)
        *error = recovered;
    else
        saved = saveFile(bytes, error);
    if (!saved && m_elevate && (adminOnly || needsAdministrator(m_hostsPath))) {
        lock.unlock(); // the helper takes it, and merges again against the file as it is then
        saved = m_elevate(current, bytes, error, &unknown);
    }
    if (!saved && unknown && !backup.isEmpty()) {
        // The helper may still write: the content it would replace stays in the backups.
        *error += QStringLiteral("\r\n保存前的内容已备份在 ") + QDir::toNativeSeparators(backup);
    } else if (!saved && !backup.isEmpty()) {
        HostsBackups::discard(backup); // the file still holds what it would have kept
    }
    m_wroteFile = saved;
    return saved;
}

HostsSaver::Outcome HostsSaver::mergeAndSave(const QByteArray& base, const QByteArray& result, QString* error)
{
    FileLock lock;
    if (!lock.lock(m_hostsPath, error, m_lockWaitMs))
        return Outcome::Failed;
    switch (recoverBeforeSave(error)) {
    case Recovered::Nothing:
        break;
    case Recovered::ReadAgain:
        return Outcome::Recovered;
    case Recovered::Failed:
    case Recovered::AdministratorOnly:
        return Outcome::Failed;
    }
    QByteArray current;
    if (TextFile::read(m_hostsPath, &current, error) == TextFile::ReadStatus::Failed)
        return Outcome::Failed;
    if (const qsizetype line = reencodedLine(base, result, current)) {
        *error =
            QStringLiteral(
                "%1 的第 %2 行：HOST文件的编码在读取之后被其他程序改变了，这一行的文字无法按原来的编码写入。"
                "文件没有保存。请重新读取HOST文件，再做修改。")
                .arg(QDir::toNativeSeparators(m_hostsPath))
                .arg(line);
        return Outcome::Conflict;
    }
    QByteArray merged;
    qsizetype conflict = -1;
    if (!HostsMerge::mergeResult(base, result, current, &merged, &conflict)) {
        const QString path = QDir::toNativeSeparators(m_hostsPath);
        *error = conflict < 0
                     ? QStringLiteral("%1 在保存之前被其他程序清空了（也许正在被改写）。").arg(path)
                     : QStringLiteral("%1 的第 %2 行在读取之后被其他程序修改或删除了，而你也修改了这一行。")
                           .arg(path)
                           .arg(conflict + 1);
        *error += QStringLiteral("文件没有保存。请重新读取HOST文件，再做修改。");
        return Outcome::Conflict;
    }
    if (merged != current && !saveFile(merged, error))
        return Outcome::Failed;
    // Success is reported only for what the file really holds now.
    QByteArray written;
    if (TextFile::read(m_hostsPath, &written, error) != TextFile::ReadStatus::Ok)
        return Outcome::Failed;
    if (written != merged) {
        *error = QDir::toNativeSeparators(m_hostsPath) + QStringLiteral(": 写入后读回的内容与新内容不一致");
        return Outcome::Failed;
    }
    return Outcome::Saved;
}
