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

Recovery recover(const QString& path, QString* message, const KeepOld& keepOld)
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
        const QString shown = QDir::toNativeSeparators(path);
        const QString kept = QDir::toNativeSeparators(keptCopyPath(path));
        QString where, why;
        if (!keepOld || !keepOld(QByteArray::fromStdString(changedOld), &where, &why)) {
            *message = QStringLiteral("%1: 上次保存时程序被中断，之后文件又被改动，保持不变；保存前的内容留在 %2%3")
                           .arg(shown, kept, why.isEmpty() ? QString() : QStringLiteral("（") + why + QStringLiteral("）"));
            return Recovery::Failed;
        }
        winapi::dropKeptCopy(file);
        *message = QStringLiteral("%1: 上次保存时程序被中断，之后文件又被改动：文件保持现在的内容，保存前的内容在 %2")
                       .arg(shown, QDir::toNativeSeparators(where));
        return Recovery::Kept;
    }
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
