// Saving on POSIX systems: SafeSave over the system's own calls.
#include "platform/TextFile.h"

#include "platform/FileSystem.h"
#include "platform/SafeSave.h"

namespace TextFile {

bool save(const QString& path, const QByteArray& bytes, QString* error)
{
    FileSystem system;
    return SafeSave(system).save(path, bytes, error);
}

Recovery recover(const QString& path, QString* message, const KeepOld& keepOld)
{
    FileSystem system;
    return SafeSave(system).recover(path, message, keepOld);
}

QString keptCopyPath(const QString& path)
{
    return SafeSave::keptCopyPath(path);
}

} // namespace TextFile
