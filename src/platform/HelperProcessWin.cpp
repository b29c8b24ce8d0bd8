#include "platform/HelperProcess.h"

#include "platform/win32/WinApi.h"

#include <QDir>
#include <QFileInfo>

namespace HelperProcess {

void harden()
{
    // Nothing to lift: Windows has no file size limit or signals that could stop the write, and
    // the writer reads nothing of its environment.
}

qint64 fileSizeLimit()
{
    return -1;
}

bool isSafeTarget(const QString& path, QString* error)
{
    const QString native = QDir::toNativeSeparators(path);
    const QString folder = QDir::toNativeSeparators(QFileInfo(path).path());
    if (winapi::isLink(folder.toStdWString())) {
        *error = folder + QStringLiteral(": 不是真正的文件夹（链接），拒绝以管理员身份写入");
        return false;
    }
    if (winapi::isLink(native.toStdWString())) {
        *error = native + QStringLiteral(": 是一个链接，拒绝以管理员身份经由它写入；请直接编辑它指向的文件");
        return false;
    }
    const QFileInfo info(path);
    if (info.exists() && !info.isFile()) {
        *error = native + QStringLiteral(": 不是普通文件，拒绝写入");
        return false;
    }
    return true;
}

} // namespace HelperProcess
