#pragma once

#include <QString>
#include <QStringList>

// The ping queue: the text of the task box, one target per line, lines separated by CR LF.
namespace PingQueue {

// The queue that Ping.txt's fields give: each field followed by CR LF.
QString fromFields(const QStringList& fields);

// The lines of the queue, split at every CR LF (a lone CR or LF stays inside its line). An
// empty queue has no lines; a queue ending in CR LF has an empty last line.
QStringList lines(const QString& queue);

// True if the line holds nothing but spaces (and ideographic spaces); such a line is skipped.
bool isBlank(QStringView line);

} // namespace PingQueue
