#pragma once

#include <QList>
#include <QString>

// What one click of the batch ping does with each line of the queue, before anything starts.
namespace PingBatch {

struct Target
{
    QString target;  // the line as the queue holds it
    QString skipped; // why it is not started; empty if it is
};

// The non-blank lines of the queue in order, each with the reason it must not be started (an
// unsafe target, or an unsafe count text), if any. Blank and space-only lines are left out.
QList<Target> targets(const QString& queue, const QString& count);

// The log entry for a skipped target: "跳过:" + the target with control characters made
// visible + the reason.
QString skippedEntry(const Target& t);

} // namespace PingBatch
