#pragma once

#include "core/ping/PingSummary.h"
#include "platform/ProcessHandle.h"
#include "platform/TextCodec.h"

#include <QDateTime>
#include <QHash>
#include <QString>

#include <optional>

// What the program says when a started ping has ended: the log entry, the row of the day's
// summary table, and the entry that closes a batch once all its pings have ended.
namespace PingReport {

// One started ping that is watched until it ends.
struct Run
{
    QString target;     // the line of the queue
    QString resultFile; // the file that its output is appended to
    // The size of the result file before this run's block was appended: its summary lies
    // after it, also when other runs append to the same file.
    qint64 fileOffset = 0;
    QDateTime started;
};

// How much of a result file's end is read for the summary: a run's summary is a few lines,
// the file may hold a whole day of runs. The first look takes the last few KiB; the longer
// one is taken only when these hold no statistics block (other runs of the same target went
// on writing after this one's summary).
constexpr qint64 kFirstTailBytes = 4 * 1024;
constexpr qint64 kTailBytes = 64 * 1024;

// The summary of run, from its result file in the file's code page: the last statistics block
// written after the run's offset, within the last kTailBytes. Nothing when there is none or the
// file cannot be read.
std::optional<PingSummary> readSummary(const Run& run, const TextCodec& codec);

// The name of the summary table in the day's result folder.
QString tableName();

// The summary table of the folder that holds resultFile.
QString tableFile(const QString& resultFile);

// "完成: " + the target + what the summary says, or, without a summary, the way the process
// ended and that no statistics were read.
QString endEntry(const QString& target, const std::optional<PingSummary>& summary, const ProcessEnd& end);

// "已停止: " + the target + its counts until 停止全部 ended it.
QString stoppedEntry(const QString& target, const PingSummary& counts);

// The row of a run that 停止全部 ended: its counts until then, and "已停止" for its exit status.
QString stoppedRow(const Run& run, const QDateTime& ended, const PingSummary& counts);

// The entry after the last watched ping of a batch has ended: how many of its started pings got
// an answer, and how many of them could not be watched (their end is not known).
QString batchEntry(int pings, int answered, int unwatched = 0);

// The entry of a started ping whose end cannot be watched: nothing will be said of its end.
QString unwatchedEntry(const QString& target);

// The header row of the summary table, CR LF at its end.
QString tableHeader();

// The row of one ended run, CR LF at its end: target, start and end time, sent, received,
// loss, minimum, average and maximum round-trip time and exit status. The fields that the
// summary would give are empty without one.
QString tableRow(const Run& run, const QDateTime& ended, const std::optional<PingSummary>& summary,
                 const ProcessEnd& end);

// The name of the day's table of outages, beside the summary table.
QString outageTableName();

// The header row of the outage table, CR LF at its end.
QString outageHeader();

// The row of one outage of target, CR LF at its end: target, start, end and its length in
// seconds. An outage that its run's end cut short (the target never came back) has an empty
// end; its seconds count up to the run's end.
QString outageRow(const QString& target, const QDateTime& start, const QDateTime& end, bool recovered);

// field as one CSV field: in double quotes, with its quotes doubled, if it holds a comma, a
// double quote, a line break or a blank at either end; unchanged otherwise. A field that a
// spreadsheet would take for a formula (beginning with = + - or @) is kept as text by a
// leading apostrophe, so that a target such as "=1+2" is shown, never worked out.
QString csvField(const QString& field);

// The watched runs of the batches not yet finished. The window adds each run that it watches
// and hands back each end; it learns when a batch is complete.
class Runs
{
public:
    // Begins a batch and returns its number.
    int beginBatch();

    // Adds a started run of batch and returns the id under which it is watched. All runs of a
    // batch are added before the first of them is ended.
    quint64 add(int batch, const Run& run);

    // Drops the run of id, which cannot be watched: its batch counts it among its pings and
    // finishes without its end. Nothing for an id that is not running.
    void setUnwatched(quint64 id);

    // The running run of id, or null.
    const Run* find(quint64 id) const;

    struct Ended
    {
        Run run;
        bool batchDone = false; // this was the batch's last running ping
        int batchPings = 0;     // the batch's started pings
        int batchAnswered = 0;  // of these, the ones that received a reply
        int batchUnwatched = 0; // of these, the ones whose end could not be watched
    };

    // Removes the run of id; answered counts it among the batch's answered pings. Nothing for an
    // id that is not running.
    std::optional<Ended> end(quint64 id, bool answered);

    int running() const { return int(m_runs.size()); }

private:
    struct Batch
    {
        int pings = 0;
        int ended = 0;
        int answered = 0;
        int unwatched = 0;
    };
    QHash<quint64, std::pair<int, Run>> m_runs;
    QHash<int, Batch> m_batches;
    int m_lastBatch = 0;
    quint64 m_lastId = 0;
};

} // namespace PingReport
