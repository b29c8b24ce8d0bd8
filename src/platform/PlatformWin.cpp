// The platform layer on Windows: the Qt side, which hands everything to the plain Win32 code.
#include "platform/Platform.h"

#include "platform/win32/WinApi.h"

#include <QDir>

#include <cstdio>
#include <cstdlib>

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

QByteArray preferredQpaPlatform()
{
    return QByteArrayLiteral("windows:fontengine=directwrite");
}

QChar separator()
{
    return QLatin1Char('\\');
}

QString hostsPath()
{
    // The system folder, not a fixed drive: C:\WINDOWS\system32 on a standard installation.
    return QString::fromStdWString(winapi::systemDirectory()) + QStringLiteral("\\drivers\\etc\\hosts");
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

bool toSystemCodePage(QStringView text, QByteArray* out)
{
    // The text's UTF-16 units are Windows' wchar_t: no copy on the way in.
    bool lossless = false;
    const std::string bytes =
        winapi::toAnsi(reinterpret_cast<const wchar_t*>(text.utf16()), size_t(text.size()), &lossless);
    *out = QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size()));
    return lossless;
}

QString fromSystemCodePage(QByteArrayView bytes)
{
    return QString::fromStdWString(winapi::fromAnsi(bytes.data(), static_cast<size_t>(bytes.size())));
}

void raiseFileLimit()
{
    // Process HANDLEs have no such limit; the C runtime's file table is not used for them.
}

int endProcess(int exitCode)
{
    std::fflush(nullptr);
    std::_Exit(exitCode);
}

bool convertsCodePageItself()
{
    return true;
}

FileNames fileNames()
{
    return FileNames::Windows;
}

QByteArray lineEnd()
{
    return QByteArrayLiteral("\r\n");
}

QString resolveFileName(const QString& dir, const QString& name)
{
    return dir + name; // file names compare without regard to case here
}

WriteAccess writeAccess(const QString& path)
{
    switch (winapi::writeAccess(wide(path))) {
    case winapi::Access::Allowed:
        return WriteAccess::Allowed;
    case winapi::Access::Denied:
        return WriteAccess::Denied;
    case winapi::Access::ReadOnly:
        return WriteAccess::ReadOnly;
    case winapi::Access::Other:
        break;
    }
    return WriteAccess::Other;
}

bool canWriteDirectory(const QString& dir)
{
    return winapi::canWriteDirectory(wide(dir));
}

QString installedMarker(const QString& executableDir)
{
    return executableDir + QStringLiteral("\\tarvix-installed.txt");
}

Elevation hostsElevation(const QString&)
{
    Elevation e;
    e.status = Elevation::Status::Writer;
    e.program = QString::fromStdWString(winapi::executablePath());
    return e;
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
    // Windows has cmd, notepad and explorer: the command line is started as it stands. A line
    // that cmd appends to a result file is waited for until its cmd has ended, so that the
    // separator and the start time stand before ping's output in the file however slowly cmd
    // starts (a cold first start, a virus scanner). The limit only guards against a cmd that
    // never ends; the caller is told when it was reached. A ping's process handle is kept, so
    // that its end can be watched (the cmd that runs it ends with ping's exit code).
    const unsigned long waitMs = cmd.kind == Command::Kind::AppendLine ? kAppendLineLimitMs : 0;
    const bool watchable = cmd.kind == Command::Kind::Ping;
    const winapi::Started started = winapi::startProcess(wide(cmd.commandLine), cmd.showMode, watchable, waitMs);
    StartResult result;
    result.stillRunning = started.stillRunning;
    result.ok = started.ok;
    result.pid = started.pid;
    result.error = QString::fromStdWString(started.error);
    if (started.process)
        result.process = ProcessHandle::adopt(started.pid, reinterpret_cast<qintptr>(started.process),
                                              started.job ? reinterpret_cast<qintptr>(started.job) : -1);
    return result;
}

bool stop(const ProcessHandle& process)
{
    if (!process.isValid())
        return false;
    return winapi::stopProcessTree(process.group() == -1 ? nullptr : reinterpret_cast<void*>(process.group()),
                                   reinterpret_cast<void*>(process.native()));
}

} // namespace Platform

ProcessHandle::Data::~Data()
{
    if (native != -1)
        winapi::closeProcess(reinterpret_cast<void*>(native));
    if (group != -1)
        winapi::closeProcess(reinterpret_cast<void*>(group));
}
