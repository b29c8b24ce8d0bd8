// The platform layer on Windows: the Qt side, which hands everything to the plain Win32 code.
#include "platform/Platform.h"

#include "platform/win32/WinApi.h"

#include <QDir>

namespace {

std::wstring wide(const QString& text)
{
    return text.toStdWString();
}

} // namespace

namespace Platform {

QString executableDir()
{
    return QString::fromStdWString(winapi::executableDir());
}

QChar separator()
{
    return QLatin1Char('\\');
}

QString hostsPath()
{
    return QStringLiteral("C:\\WINDOWS\\system32\\drivers\\etc\\hosts");
}

QByteArray ansiEncoding()
{
    const unsigned cp = winapi::ansiCodePage();
    if (cp == 936)
        return QByteArrayLiteral("GBK");
    if (cp == 65001)
        return QByteArrayLiteral("UTF-8");
    return QByteArrayLiteral("windows-") + QByteArray::number(cp);
}

QByteArray lineEnd()
{
    return QByteArrayLiteral("\r\n");
}

QString resolveFileName(const QString& dir, const QString& name)
{
    return dir + name; // file names compare without regard to case here
}

void adviseLargeBuffer(void*, qsizetype)
{
}

bool createDirectory(const QString& path, QString* error)
{
    std::wstring reason;
    if (winapi::createDirectory(wide(path), &reason))
        return true;
    *error = QDir::toNativeSeparators(path) + QStringLiteral(": ") + QString::fromStdWString(reason);
    return false;
}

StartResult start(const Command& cmd)
{
    // Windows has cmd, notepad and explorer: the command line is started as it stands. A ping's
    // process handle is kept, so that its end can be watched (the cmd that runs it ends with
    // ping's exit code).
    const bool watchable = cmd.kind == Command::Kind::Ping;
    const winapi::Started started = winapi::startProcess(wide(cmd.commandLine), cmd.showMode, watchable);
    StartResult result;
    result.ok = started.ok;
    result.pid = started.pid;
    result.error = QString::fromStdWString(started.error);
    if (started.process)
        result.process = ProcessHandle::adopt(started.pid, reinterpret_cast<qintptr>(started.process));
    return result;
}

} // namespace Platform

ProcessHandle::Data::~Data()
{
    if (native != -1)
        winapi::closeProcess(reinterpret_cast<void*>(native));
}
