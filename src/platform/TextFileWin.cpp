// Saving on Windows: the plain Win32 side does it (winapi::saveFile: ReplaceFileW, or in
// place with a kept copy), so that the file keeps its access list, owner, attributes and
// alternate streams.
#include "platform/TextFile.h"

#include "platform/win32/WinApi.h"

#include <QDir>
#include <QFileInfo>

namespace {

// A symbolic link is followed to the file it names, which is what a save changes.
QString target(const QString& path)
{
    const QFileInfo info(path);
    return QDir::toNativeSeparators(info.isSymbolicLink() ? info.symLinkTarget() : path);
}

} // namespace

namespace TextFile {

bool save(const QString& path, const QByteArray& bytes, QString* error)
{
    std::wstring reason;
    if (winapi::saveFile(target(path).toStdWString(), bytes.constData(), size_t(bytes.size()), &reason))
        return true;
    *error = QString::fromStdWString(reason);
    return false;
}

Recovery recover(const QString& path, QString* message, const KeepOld&)
{
    std::wstring text;
    const winapi::Recovery r = winapi::recoverFile(target(path).toStdWString(), &text);
    *message = QString::fromStdWString(text);
    switch (r) {
    case winapi::Recovery::Restored:
        return Recovery::Restored;
    case winapi::Recovery::Failed:
        return Recovery::Failed;
    case winapi::Recovery::Nothing:
        break;
    }
    return Recovery::Nothing;
}

QString keptCopyPath(const QString& path)
{
    return QString::fromStdWString(winapi::keptCopyPath(target(path).toStdWString()));
}

} // namespace TextFile
