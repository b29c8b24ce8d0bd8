#pragma once

#include "core/ping/PingTally.h"
#include "platform/TextCodec.h"

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>

class QTimer;

// Follows the result files of the running pings and TCP runs as they grow, one timer for all of
// them on the event loop: every kPollMs the size of each file is looked at (a share of the
// files each tick), and what was added since is read, cut into lines and counted (PingReply, PingTally). A target that goes down or
// comes back is logged ("掉线:", "恢复:"); each outage becomes a row of the day's 中断.csv.
//
// Polling the sizes rather than QFileSystemWatcher: a batch holds up to thousands of files that
// all grow once a second; the watcher takes one inotify watch per file on Linux (a per-user
// limit that other programs share) and one change handle per folder on Windows, where a change
// made through another process's open handle is reported late or not at all. A stat per file
// and tick costs a few microseconds, and no thread is needed.
class PingMonitor : public QObject
{
    Q_OBJECT

public:
    static constexpr int kPollMs = 250; // each file is looked at this often
    static constexpr int kTickMs = 25;  // a share of the files each tick
    static constexpr int kSliceMs = 8;  // the most a tick takes
    // What one look at a file reads at most; a run writes a line a second.
    static constexpr qint64 kMaxReadBytes = 256 * 1024;

    explicit PingMonitor(const QByteArray& encoding = QByteArray(), QObject* parent = nullptr);
    ~PingMonitor() override;

    // Follows the run id of target, whose lines are appended to file from offset on.
    void add(quint64 id, const QString& target, const QString& file, qint64 offset);

    // The run id has ended or was stopped: what it wrote last is read, it is marked, an outage
    // still open is recorded, and it is followed no more. Returns its last counts (empty for an
    // id that is not followed).
    std::optional<PingTally> finish(quint64 id, bool stopped);

    // Reads every file now, as the timer does in turns.
    void pollNow();

    int following() const { return int(m_runs.size()); }

signals:
    void added(quint64 id, const QString& target);
    // The counts or state of run id changed.
    void changed(quint64 id, const PingTally& tally);
    void logged(const QString& entry);

private:
    struct Run
    {
        QString target;
        QString file;
        qint64 offset = 0;  // read up to here
        QByteArray partial; // the start of a line not yet complete
        PingTally tally;
    };
    void pollSome();
    bool read(Run& run); // true if its counts changed
    void record(const Run& run, const PingTally::Outage& outage);

    TextCodec m_codec;
    QHash<quint64, Run> m_runs;
    QTimer* m_timer = nullptr;
    QList<quint64> m_order; // the round under way
    qsizetype m_next = 0;   // its next run
};
