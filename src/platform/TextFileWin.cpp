// Saving on Windows: the plain Win32 side does it (winapi::saveFile: ReplaceFileW, or in
// place with a kept copy), so that the file keeps its access list, owner, attributes and
// alternate streams.
#include "platform/TextFile.h"

#include "platform/KeptCopyStep.h"
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

ReadStatus readOwn(const QString& path, QByteArray* bytes, QString* error, qint64 maxBytes)
{
    // Windows has no FIFOs among files; a link (symbolic link, junction) is not followed.
    const QFileInfo info(path);
    if (info.isSymLink() || info.isJunction()) {
        *error = QDir::toNativeSeparators(path) + QStringLiteral(": 不是普通文件（符号链接），没有读取");
        return ReadStatus::Failed;
    }
    return maxBytes < 0 ? read(path, bytes, error) : readHead(path, maxBytes, bytes, error);
}

// The Windows save replaces the file or keeps its copy beside it: keptFolder is not used there.
bool save(const QString& path, const QByteArray& bytes, QString* error, const QString&)
{
    std::wstring reason;
    if (winapi::saveFile(target(path).toStdWString(), bytes.constData(), size_t(bytes.size()), &reason))
        return true;
    *error = QString::fromStdWString(reason);
    return false;
}

Recovery recover(const QString& path, QString* message, const KeepOld& keepOld, const QString&)
{
    std::wstring text;
    std::string changedOld;
    const std::wstring file = target(path).toStdWString();
    const winapi::Recovery r = winapi::recoverFile(file, &text, &changedOld);
    *message = QString::fromStdWString(text);
    switch (r) {
    case winapi::Recovery::Restored:
        return Recovery::Restored;
    case winapi::Recovery::Changed: {
        // The lines another program wrote since stay; the content from before the cut-off save
        // is kept elsewhere before its copy goes, so neither is lost.
        auto drop = [&file](QString*) {
            winapi::dropKeptCopy(file);
            return true;
        };
        return KeptCopyStep::keepChanged(path, keptCopyPath(path), QByteArray::fromStdString(changedOld),
                                         keepOld, drop, message);
    }
    case winapi::Recovery::Failed:
        return Recovery::Failed;
    case winapi::Recovery::Nothing:
        break;
    }
    return Recovery::Nothing;
}

QString keptCopyPath(const QString& path, const QString& keptFolder)
{
    if (!keptFolder.isEmpty())
        return QString();
    return QString::fromStdWString(winapi::keptCopyPath(target(path).toStdWString()));
}

} // namespace TextFile
