#pragma once

#include <QByteArray>
#include <QString>

#include <functional>

// The one place where the program's files are opened. Reading takes a whole file; saving
// replaces a whole file so that a failure, or the end of the program, at any point leaves the
// old content or the new one, never a mixture.
namespace TextFile {

enum class ReadStatus { Ok, Missing, Failed };

// Reads the whole file into *bytes. On failure returns Missing or Failed and sets *error to
// the path and the system's description.
ReadStatus read(const QString& path, QByteArray* bytes, QString* error);

// The first maxBytes bytes of the file, or all of it if it is shorter: no more is read, however
// large the file (a caller that refuses a file over a limit asks for the limit + 1). Returns
// Missing or Failed as read() does.
ReadStatus readHead(const QString& path, qint64 maxBytes, QByteArray* bytes, QString* error);

// Reads a file of the program's own (IP.txt, Ping.txt) as read() does, but only a regular file
// that its name itself gives: a symbolic link, a FIFO or a device is refused at once (Failed,
// "不是普通文件"), never followed and never waited on. maxBytes >= 0 reads no more than that, as
// readHead() does.
ReadStatus readOwn(const QString& path, QByteArray* bytes, QString* error, qint64 maxBytes = -1);

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

// Creates path with bytes; fails if a file of that name exists already. Returns false and sets
// *error (the path and the system's reason; *exists = true if the name was taken).
bool writeNew(const QString& path, const QByteArray& bytes, QString* error, bool* exists = nullptr);

// Replaces the content of path with bytes; a symbolic link is followed to its target. The new
// content goes to a temporary file beside it, flushed to disk, which then takes the file's
// place with its mode, owner, group and extended attributes; the folder is flushed after.
// Where the file cannot be replaced (a bind mount, a file with several hard links, a folder
// without write rights, properties that cannot be copied), it is overwritten in place: its old
// content is first kept in a flushed copy beside it (keptCopyPath), the new content is written,
// flushed and read back, and only then is the copy dropped. Returns false and sets *error (in
// Chinese, with the system's reason as the system words it) if the file does not hold the new
// content; it then holds the old one. keptFolder (POSIX; may be empty), a folder of the user's
// own, takes the kept copy where the file's folder refuses it (a file the user may write in a
// folder only root may write): the save then needs no administrator.
bool save(const QString& path, const QByteArray& bytes, QString* error,
          const QString& keptFolder = QString());

enum class Recovery {
    Nothing,      // no save of this file was cut off, or its new content was complete
    Restored,     // a save was cut off: the file holds its content from before that save again
    Kept,         // the file was changed after a save was cut off: it stays, the old content went to keepOld
    Failed,       // a save was cut off and the old content could not be put back or kept elsewhere
    NotPermitted, // a save with the administrator's rights was cut off: only they can finish it
};

// Keeps the content from before a cut-off save elsewhere (a backup) when the file was changed
// since, so that neither is lost. Returns false and sets *error if it cannot; sets *where.
using KeepOld = std::function<bool(const QByteArray& old, QString* where, QString* error)>;

// Finishes what a save that was cut off (the program killed, the power lost) left behind, and
// removes its temporary files. If the kept copy of an in-place save is there: a file that holds
// the new content keeps it; the old content, or a mixture of old and new (a write cut off),
// becomes the old content again; a file changed since (another program, another save) stays as
// it is, and the old content goes to keepOld (Kept; without keepOld, or if it fails, Failed and
// the copy stays). Except for Nothing, sets *message to what happened, in Chinese, naming the
// file and where each content is, with the system's reason.
// keptFolder: where save() may have put the kept copy (looked at after the one beside the file).
Recovery recover(const QString& path, QString* message, const KeepOld& keepOld = KeepOld(),
                 const QString& keptFolder = QString());

// Where an in-place save of path keeps the old content until the new content is on disk; with a
// keptFolder, where it keeps it in that folder when the file's own folder refuses it (empty where
// the system keeps no copy there).
QString keptCopyPath(const QString& path, const QString& keptFolder = QString());

} // namespace TextFile
