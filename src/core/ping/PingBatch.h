#pragma once

#include "platform/Command.h"

#include <QList>
#include <QString>
#include <QTime>

#include <functional>

// What one click of the batch ping does with the queue, worked out before anything starts:
// which lines are targets, which of them are refused and why, the commands of each target and
// the entries of the execution log. The window only creates the folder, starts and logs.
namespace PingBatch {

struct Target
{
    QString target;          // the line as the queue holds it
    QString skipped;         // why it is not started; empty if it is
    QList<Command> commands; // separator, start time and ping, in that order; empty if skipped
    // A TCP target (host:port) is measured by connections, not by ping: its commands are the
    // separator and the start time only.
    bool tcp = false;
    QString host; // without the brackets of an IPv6 address
    quint16 port = 0;
    int count = 0;      // connections to make
    QString resultFile; // the target's file
};

// How long a TCP target's connection is waited for, and the time between two of them.
constexpr int kTcpTimeoutMs = 1000;
constexpr int kTcpIntervalMs = 1000;

// The non-blank lines of the queue in order, each with its commands or with the reason it must
// not be started (an unsafe target, or an unsafe count text; for a TCP target a port out of
// range or a count that is no positive number). Blank and space-only lines are
// left out. resultFolder gives the day's folder at the moment each target is planned, so that
// a batch across midnight names the new day; now is the time of the start-time lines.
QList<Target> plan(const QString& queue, const QString& count, const std::function<QString()>& resultFolder,
                   const QTime& now);

// The log entry before a target starts ("执行:" + its ping command line), or the entry of a
// skipped target: "跳过:" + the target with control characters made visible + the reason.
QString plannedEntry(const Target& t);

// The log entry after a TCP target's first lines were written: its connections have begun.
QString tcpStartedEntry(const StartResult& result);

// The log entry after the start of a target's ping: its process id, or why it did not start.
QString startedEntry(const StartResult& result);

// The log entry for a target whose separator or start-time line was still being written when
// its ping had to start (result.stillRunning): the lines of its result file may stand in
// another order.
QString unorderedEntry(const Target& t);

} // namespace PingBatch
