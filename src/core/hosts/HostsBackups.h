#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>

// Copies of the hosts file as it was before each save that changed it, in the "backup" folder
// of the application directory, named by the date and time of the save; the newest 20 stay.
namespace HostsBackups {

constexpr int kKept = 20;

// "hosts-2026-12-07_13-45-02.bak" for the first backup of that second, then
// "hosts-2026-12-07_13-45-02-2.bak", "-3" and so on.
QString fileName(const QDateTime& time, int number = 1);

// The backups among names (other files are never touched), oldest first: by time, then number.
QStringList inOrder(const QStringList& names);

// Writes bytes to a new backup in folder (created if missing) under the first free name for
// time, then removes the oldest other backups beyond kKept; the one just written always stays.
// Returns false and sets *error (the path and the system's reason) if no backup could be
// written; *path is the backup written.
bool write(const QString& folder, const QByteArray& bytes, const QDateTime& time, QString* path,
           QString* error);

// Removes a backup that write() made for a save that then failed: the file still holds it.
void discard(const QString& path);

} // namespace HostsBackups
