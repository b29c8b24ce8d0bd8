#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>

class TextCodec;

// The ping queue: the text of the task box, one target per line, lines separated by CR LF.
namespace PingQueue {

// The queue that Ping.txt's fields give: each field followed by CR LF.
QString fromFields(const QStringList& fields);

// The lines of the queue, split at every CR LF (a lone CR or LF stays inside its line). An
// empty queue has no lines; a queue ending in CR LF has an empty last line.
QStringList lines(const QString& queue);

// True if the line holds nothing but spaces (and ideographic spaces); such a line is skipped.
bool isBlank(QStringView line);

// The most of Ping.txt that the task box is given, far beyond any useful queue (a host name
// has at most 253 characters). The box lays out a line as one block, in time that grows with
// the square of its length: a line of 64 Ki characters takes 2 s to show, one of 8 MB minutes;
// and a file of 16 MB in short lines takes over 20 s. Such a file is not loaded.
constexpr qint64 kMaxFileBytes = 1024 * 1024;
constexpr qsizetype kMaxLineChars = 4096;

enum class LoadStatus {
    Loaded,  // *queue holds the file's queue (a missing file was created empty)
    Failed,  // the file could not be read or created; *queue holds the fields read before
    Refused, // too large for the task box: *queue is empty and the file was left as it is
};

// The queue of the Ping.txt at path, read field by field in codec. Refuses a file over
// kMaxFileBytes, of which no more than kMaxFileBytes + 1 bytes are read, and one with a field
// over kMaxLineChars characters. Sets *error to the reason unless Loaded.
LoadStatus load(const QString& path, const TextCodec& codec, QString* queue, QString* error);

// Keeps the Ping.txt at path that load() refused, before the queue is written in its place: a
// copy in folder (made if missing) under a name of its own, "Ping-2026-12-07_13-45-02.txt" for
// now (then "-2", "-3" ...). Returns the copy's path; empty, with *error set, if no copy could be
// made (the queue must then not be written).
QString keepRefused(const QString& path, const QString& folder, const QDateTime& now, QString* error);

// Writes the queue's bytes to path as a safe save does: the old file stays whole until the new
// one is complete. False with *error when the system refuses.
bool save(const QString& path, const QByteArray& bytes, QString* error);

} // namespace PingQueue
