#pragma once

#include <QString>

// Where this start of the program keeps its own files (IP.txt, Ping.txt, the result folders,
// the backups), decided once by AppPath::ownFilesDir: asking whether a folder is writable costs
// a probe file on Windows, and the answer must not change between two files of one batch.
class AppFolder
{
public:
    // executableDir empty: the directory of the running executable; userDataDir empty: the
    // user's data folder (QStandardPaths::AppDataLocation).
    explicit AppFolder(const QString& executableDir = QString(), const QString& userDataDir = QString());

    QString executableDir() const { return m_executableDir; }
    // The folder, ending in one separator.
    QString path() const { return m_path; }
    // The folder, made if missing (the user's data folder of an installed program may not exist
    // yet); returned.
    QString prepare() const;
    // The file name in the folder, as the system spells it (IP.txt also where names are
    // case-sensitive).
    QString file(const QString& name) const;

private:
    QString m_executableDir;
    QString m_path;
};
