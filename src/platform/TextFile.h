#pragma once

#include <QByteArray>
#include <QString>

// The one place where the program's files are opened. Reading takes a whole file; saving
// replaces a whole file so that a failure at any point leaves the old content in place.
namespace TextFile {

enum class ReadStatus { Ok, Missing, Failed };

// Reads the whole file into *bytes. On failure returns Missing or Failed and sets *error to
// the path and the system's description.
ReadStatus read(const QString& path, QByteArray* bytes, QString* error);

// The size of the file in bytes; 0 if it is missing.
qint64 size(const QString& path);

// The end of a file that others append to: the bytes from offset from to the end, but no more
// than the last maxBytes of them. A file now shorter than from (cut or replaced meanwhile) gives
// its last maxBytes. Returns Missing or Failed as read() does.
ReadStatus readTail(const QString& path, qint64 from, qint64 maxBytes, QByteArray* bytes, QString* error);

// Appends bytes to the file in one write, creating it if needed; a file that is new or empty
// gets header in front of them. Returns false and sets *error if it cannot.
bool append(const QString& path, const QByteArray& header, const QByteArray& bytes, QString* error);

// Creates an empty file if none exists. Returns false and sets *error if it cannot.
bool createEmpty(const QString& path, QString* error);

// Faults that tests inject into save(): a write that fails once failWriteAt bytes are written,
// a rename that fails as it does over a bind-mounted file.
struct Faults
{
    qint64 failWriteAt = -1;
    bool failReplace = false;
};

// Replaces the content of path with bytes. The new content is written completely to a temporary
// file beside it and then put in place, keeping the file's permissions; a symbolic link is
// followed to its target. Where the file cannot be replaced (a bind mount, a folder without
// write rights), it is overwritten in place and read back to check; a mismatch restores the old
// bytes. Returns false and sets *error if the file does not hold the new content; the old
// content is then unchanged.
bool save(const QString& path, const QByteArray& bytes, QString* error, const Faults* faults = nullptr);

} // namespace TextFile
