#include "core/app/AppFolder.h"

#include "core/app/AppPath.h"
#include "platform/Platform.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

AppFolder::AppFolder(const QString& executableDir, const QString& userDataDir)
    : m_executableDir(executableDir.isEmpty() ? Platform::executableDir() : executableDir)
{
    const AppPath::CopyKind kind = QFileInfo::exists(Platform::installedMarker(m_executableDir))
                                       ? AppPath::CopyKind::Installed
                                       : AppPath::CopyKind::Portable;
    const bool writable = kind == AppPath::CopyKind::Portable && Platform::canWriteDirectory(m_executableDir);
    const QString userDir = QDir::toNativeSeparators(
        userDataDir.isEmpty() ? QStandardPaths::writableLocation(QStandardPaths::AppDataLocation)
                              : userDataDir);
    const QString dir =
        AppPath::ownFilesDir(QDir::toNativeSeparators(m_executableDir), kind, writable, userDir);
    m_path = AppPath::fromReportedDir(dir, Platform::separator());
}

QString AppFolder::prepare() const
{
    // Making the executable's own directory is never tried: it exists, writable or not.
    if (m_path != AppPath::fromReportedDir(QDir::toNativeSeparators(m_executableDir), Platform::separator()))
        QDir().mkpath(m_path);
    return m_path;
}

QString AppFolder::file(const QString& name) const
{
    return Platform::resolveFileName(m_path, name);
}
