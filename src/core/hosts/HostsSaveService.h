#pragma once

#include "platform/ElevatedWriter.h"

#include <QByteArray>
#include <QMetaType>
#include <QObject>
#include <QString>
#include <QThreadPool>

#include <functional>
#include <memory>

class HostsDocument;
namespace ElevatedSave {
class OpenPrompts;
}

// What a reading of the hosts file found.
struct HostsReading {
    enum class Status { Ok, Missing, Failed };
    Status status = Status::Failed;
    QByteArray bytes;
    QString error; // for Missing and Failed
    // A save that was cut off was put right first (recoveryMessage says how), or could not be.
    bool recovered = false;
    bool recoveryFailed = false;
    QString recoveryMessage;

    // Whether a save may start from these rows: not after a file that could not be read, or
    // not be put right (the rows the user adds would replace its lines). A file that is missing
    // may be created.
    bool saveable() const { return status != Status::Failed && !recoveryFailed; }
    QString unsaveableReason() const { return status == Status::Failed ? error : recoveryMessage; }
};

// What a save did, and the reading after it.
struct HostsSaving {
    bool saved = false;
    QString error;          // why not
    QString backupNote;     // why a save made no backup
    bool wroteFile = false; // false when it had nothing to change
    HostsReading readBack;  // after a save
};

Q_DECLARE_METATYPE(HostsReading)
Q_DECLARE_METATYPE(HostsSaving)

struct HostsSaveSettings {
    QString hostsPath;
    QString backupFolder;
    QString executableDir; // where the helper is looked for
    // The write itself (empty: the safe save of the platform). Tests put in one that fails or
    // waits where they choose.
    std::function<bool(const QString& path, const QByteArray& bytes, QString* error)> saveFile;
    int elevatedSaveTimeoutMs = 0;             // 0: ten minutes
    ElevatedWriter::Start startElevatedWriter; // empty: ElevatedWriter::start
};

// Reads and saves the hosts file (HostsSaver: the lock, the recovery of a cut-off save, the
// merge, the backup, the write and, where only the administrator may write, the helper) on a
// thread of its own, so that the window keeps answering while a lock is waited for, a large file
// written or the password asked. One job at a time; each ends in readDone or saved. Ending the
// service waits for the job in hand.
class HostsSaveService : public QObject
{
    Q_OBJECT

public:
    explicit HostsSaveService(const HostsSaveSettings& settings, QObject* parent = nullptr);
    ~HostsSaveService() override;

    bool isBusy() const { return m_busy; }

    // The reading on the caller's thread: for the start, before the window shows.
    HostsReading readNow() const;
    // The reading beside the caller; readDone follows.
    void read();
    // Saves snapshot's rows merged onto the file as it is then, and reads it back; saved
    // follows. snapshot must stay unchanged until then.
    void save(const HostsDocument* snapshot);

signals:
    void readDone(const HostsReading& reading);
    void saved(const HostsSaving& saving);

private:
    void run(std::function<void()> job);

    HostsSaveSettings m_settings;
    bool m_busy = false;
    std::unique_ptr<ElevatedSave::OpenPrompts> m_openPrompts;
    QThreadPool m_pool; // last: ended first
};

// Edits made while a save ran, carried onto the rows read back after it: saved holds the rows
// as the save took them, edited the rows as they are now. A row changed since (or added since)
// is set on the line that the save wrote for it; one whose line is gone is added at the end.
void carryEdits(const HostsDocument& saved, const HostsDocument& edited, HostsDocument* readBack);
