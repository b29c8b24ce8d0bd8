#pragma once

#include "platform/TextFile.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <functional>

class HostsDocument;

// Reading and saving the hosts file, each under the file's lock (FileLock), so that two
// windows, or a window and the helper, never see each other's save half done:
// - read: a cut-off save is finished first (TextFile::recover; a file changed since keeps its
//   content and the old one goes to the backups), then the file is read;
// - save: the file is read again, the user's changes are merged onto it (another program may
//   have changed it), its previous content goes to the backups, the merged content is saved;
//   where only the administrator may write the file, the base and the merged content go to the
//   helper (elevate), which merges again against the file as it is when it writes. A backup
//   of a save that then failed is dropped; one of a save whose outcome is unknown stays.
// The lock is waited for at most lockWait (FileLock::kWaitMs): any local user can hold it.
// The helper itself saves with mergeAndSave().
class HostsSaver
{
public:
    using SaveFile = std::function<bool(const QString& path, const QByteArray& bytes, QString* error)>;
    // Hands base (the file as this save read it) and result (the merged content) to the
    // administrator's helper. Returns true when the helper wrote the file; otherwise false and
    // sets *error (it holds the direct save's reason on entry), and *unknown when the helper may
    // still write (it did not end in time).
    using Elevate =
        std::function<bool(const QByteArray& base, const QByteArray& result, QString* error, bool* unknown)>;

    // backupFolder may be empty: the old content of a file changed after a cut-off save is then
    // kept beside the file (as the helper does), and a save makes no backup.
    HostsSaver(const QString& hostsPath, const QString& backupFolder);

    void setSaveFile(const SaveFile& save) { m_saveFile = save; }
    void setElevate(const Elevate& elevate) { m_elevate = elevate; }
    void setClock(const std::function<QDateTime()>& now) { m_now = now; }
    void setLockWait(int ms) { m_lockWaitMs = ms; }

    // Where the window's save keeps the old content of a file it may write in a folder it may
    // not (chmod 666 /etc/hosts): a folder inside the backups, so that such a save needs no
    // administrator and its recovery finds the copy. Empty without a backup folder (the helper).
    QString keptFolder() const;

    // Finishes a cut-off save, then reads the file into *bytes. *recovery and *message tell what
    // the recovery did (message empty for Nothing). Returns the read status; sets *error for
    // Missing and Failed. If another program holds the lock past the wait, the file is read
    // without it and nothing is recovered, unless an in-place save is under way (its kept copy is
    // there, or the file changed during the read): then Failed with the lock's reason.
    TextFile::ReadStatus read(QByteArray* bytes, TextFile::Recovery* recovery, QString* message,
                              QString* error);

    // Saves document's rows merged onto the file as it is now. Returns false and sets *error
    // (the file unchanged) on a conflict, an interrupted save that was just put right, or a
    // failed write. backupNote() then says why no backup was made, if a save succeeded
    // without one.
    bool save(const HostsDocument& document, QString* error);
    QString backupNote() const { return m_backupNote; }
    // Whether the last save() wrote the file (false when it had nothing to change).
    bool wroteFile() const { return m_wroteFile; }

    enum class Outcome { Saved, Conflict, Recovered, Failed };
    // The helper's merge and save: result, made from base, merged onto the file as it is now
    // (HostsMerge::mergeResult), saved and read back. Conflict: another program changed a line
    // that result changed too, emptied the file, or re-encoded it (added or dropped its
    // byte-order mark) while result brings new text that is not ASCII, as the window refuses;
    // Recovered: a cut-off save was put right first and nothing was written; Failed: the
    // system refused. *error says which, in Chinese.
    Outcome mergeAndSave(const QByteArray& base, const QByteArray& result, QString* error);

private:
    enum class Recovered { Nothing, ReadAgain, Failed, AdministratorOnly };
    // Finishes a cut-off save before a save; sets *error unless Nothing.
    Recovered recoverBeforeSave(QString* error);
    TextFile::KeepOld keeper() const;
    bool keepOld(const QByteArray& old, QString* where, QString* error) const;
    bool saveFile(const QByteArray& bytes, QString* error) const;
    TextFile::ReadStatus readWithoutLock(QByteArray* bytes, QString* error, const QString& lockError) const;

    QString m_hostsPath;
    QString m_backupFolder;
    SaveFile m_saveFile;
    Elevate m_elevate;
    std::function<QDateTime()> m_now;
    int m_lockWaitMs;
    QString m_backupNote;
    bool m_wroteFile = false;
};
