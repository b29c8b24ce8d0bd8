// Tests of the Windows side of the platform layer, run under Wine with the ANSI code page 936.
// Plain Win32 and the standard library only. Pings 127.0.0.1 and nothing else.
#include "core/app/AppPath.h"
#include "platform/KeptCopy.h"
#include "platform/win32/WinApi.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <tlhelp32.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

int passed = 0;
int failed = 0;

void check(bool ok, const char* what)
{
    std::printf("%s: %s\n", ok ? "PASS" : "FAIL", what);
    (ok ? passed : failed)++;
}

std::string hex(const std::string& bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

std::string readFile(const std::wstring& path)
{
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                           0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return std::string();
    std::string out;
    char buffer[4096];
    DWORD n = 0;
    while (ReadFile(h, buffer, sizeof buffer, &n, nullptr) && n > 0)
        out.append(buffer, n);
    CloseHandle(h);
    return out;
}

// The test waits for what it started; the program itself never does.
bool waitFor(unsigned long pid, DWORD ms = 60000)
{
    HANDLE h = OpenProcess(SYNCHRONIZE, FALSE, pid);
    if (!h)
        return true; // already gone
    const bool done = WaitForSingleObject(h, ms) == WAIT_OBJECT_0;
    CloseHandle(h);
    return done;
}

std::vector<std::string> lines(const std::string& text)
{
    std::vector<std::string> out;
    std::string line;
    for (char c : text) {
        if (c == '\n') {
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            out.push_back(line);
            line.clear();
        } else {
            line += c;
        }
    }
    if (!line.empty())
        out.push_back(line);
    return out;
}

std::wstring versionString(const std::wstring& exe, const wchar_t* name)
{
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(exe.c_str(), &ignored);
    if (size == 0)
        return std::wstring();
    std::vector<char> data(size);
    if (!GetFileVersionInfoW(exe.c_str(), 0, size, data.data()))
        return std::wstring();
    wchar_t* value = nullptr;
    UINT length = 0;
    const std::wstring key = std::wstring(L"\\StringFileInfo\\080404b0\\") + name;
    if (!VerQueryValueW(data.data(), key.c_str(), reinterpret_cast<void**>(&value), &length) || !value)
        return std::wstring();
    return std::wstring(value);
}

void applicationDirectory(const std::wstring& exe)
{
    const std::wstring dir = winapi::executableDir();
    check(!dir.empty() && exe.compare(0, dir.size(), dir) == 0 && exe[dir.size()] == L'\\',
          "the executable's directory is the folder of the running program");
    const std::wstring app = AppPath::fromReportedDir(dir, L'\\');
    check(app == dir + L"\\", "the application directory is that folder and one backslash");
    check(AppPath::fromReportedDir(std::wstring(L"C:\\"), L'\\') == L"C:\\", "a drive root keeps one backslash");
    check(AppPath::fromReportedDir(std::wstring(L"\\\\server\\share\\dir"), L'\\') == L"\\\\server\\share\\dir\\",
          "a network path keeps its leading pair");
    check(AppPath::fromReportedDir(std::wstring(L"C:\\a\\\\\\b"), L'\\') == L"C:\\a\\\\b\\", "three backslashes become two");

    // A copy of this program in the root of drive C reports "C:\".
    const std::wstring rootCopy = L"C:\\tarvix-root-test.exe";
    if (CopyFileW(exe.c_str(), rootCopy.c_str(), FALSE)) {
        const std::wstring out = L"C:\\tarvix-root-dir.txt";
        DeleteFileW(out.c_str());
        const winapi::Started s = winapi::startProcess(L"\"" + rootCopy + L"\" --print-dir " + out, 0);
        check(s.ok && waitFor(s.pid), "the copy in C:\\ ran");
        check(readFile(out) == winapi::toAnsi(L"C:\\"), "a program in the root of drive C reports C:\\");
        DeleteFileW(out.c_str());
        DeleteFileW(rootCopy.c_str());
    } else {
        check(false, "copying the program to C:\\");
    }
}

void ansiCodePage()
{
    check(winapi::ansiCodePage() == 936, "the ANSI code page is 936 (GBK)");
    bool lossless = false;
    const std::string bytes = winapi::toAnsi(L"保存成功!", &lossless);
    check(lossless && hex(bytes) == "b1a3b4e6b3c9b9a621", "\"保存成功!\" in the ANSI code page gives the GBK bytes");
    check(winapi::fromAnsi(bytes) == L"保存成功!", "the GBK bytes read back unchanged");
    winapi::toAnsi(L"\U0001F600", &lossless);
    check(!lossless, "a character GBK has no form for is reported");
}

void batchPing(const std::wstring& appDir)
{
    const std::wstring folder = appDir + L"2026-12-07\\";
    const std::wstring file = folder + L"127.0.0.1.txt";
    std::wstring error;
    check(winapi::createDirectory(folder, &error), "the day's folder is created");
    check(winapi::createDirectory(folder, &error), "creating it a second time finds it there");
    check(!winapi::createDirectory(appDir + L"no-such-folder\\2026-12-07\\", &error) && !error.empty(),
          "a folder whose parent is missing gives the system's reason");
    DeleteFileW(file.c_str());

    // The three command lines exactly as the batch ping builds them, for target 127.0.0.1,
    // count 1, started hidden one after the other.
    const std::wstring quoted = L"\"" + file + L"\"";
    const std::wstring commands[] = {
        L"cmd /c echo " + std::wstring(64, L'=') + L">>" + quoted,
        L"cmd /c echo 本次任务开始时间:%time%>>" + quoted,
        L"cmd /c ping 127.0.0.1 -n 1 >>" + quoted,
    };
    unsigned long pingPid = 0;
    bool allStarted = true;
    for (const std::wstring& cmd : commands) {
        const winapi::Started s = winapi::startProcess(cmd, 0);
        allStarted = allStarted && s.ok && s.pid != 0;
        // Waiting here keeps the three blocks in order for the check below.
        if (s.ok)
            waitFor(s.pid);
        pingPid = s.pid;
    }
    check(allStarted, "the three command lines start hidden and return process ids");
    check(pingPid != 0 && pingPid != GetCurrentProcessId(), "the ping's process id is a real one");

    const std::vector<std::string> got = lines(readFile(file));
    check(got.size() >= 3 && got[0] == std::string(64, '='), "the result file starts with 64 '='");
    const std::string label = winapi::toAnsi(L"本次任务开始时间:");
    check(got.size() >= 2 && got[1].compare(0, label.size(), label) == 0 && got[1].size() > label.size(),
          "then a line beginning \"本次任务开始时间:\" in GBK, followed by the time");
    bool reply = false;
    for (size_t i = 2; i < got.size(); ++i)
        reply = reply || got[i].find("127.0.0.1") != std::string::npos;
    check(reply, "then ping's output naming 127.0.0.1");
    for (const std::string& l : got)
        std::printf("    | %s\n", l.c_str());
}

// A ping's start keeps the process handle: the program learns of the end and the exit code
// through it, never through a handle opened later from the process id.
void keptProcessHandle(const std::wstring& appDir)
{
    const winapi::Started closed = winapi::startProcess(L"cmd /c exit 0", 0);
    check(closed.ok && closed.process == nullptr, "without keepProcess no handle is handed back");
    waitFor(closed.pid);

    const winapi::Started s = winapi::startProcess(L"cmd /c exit 3", 0, true);
    check(s.ok && s.process != nullptr, "with keepProcess the process handle is handed back");
    const bool ended =
        s.process && WaitForSingleObject(static_cast<HANDLE>(s.process), 60000) == WAIT_OBJECT_0;
    unsigned long code = 99;
    check(ended && winapi::processExitCode(s.process, &code) && code == 3,
          "the kept handle is signalled at the end and gives the exit code 3");
    winapi::closeProcess(s.process);

    // A ping still running has no exit code yet (2 echo requests take a second).
    const std::wstring file = appDir + L"2026-12-07\\127.0.0.1-kept.txt";
    DeleteFileW(file.c_str());
    const winapi::Started ping =
        winapi::startProcess(L"cmd /c ping 127.0.0.1 -n 2 >>\"" + file + L"\"", 0, true);
    code = 99;
    check(ping.ok && ping.process && !winapi::processExitCode(ping.process, &code),
          "a running ping has no exit code yet");
    const bool pingEnded =
        ping.process && WaitForSingleObject(static_cast<HANDLE>(ping.process), 60000) == WAIT_OBJECT_0;
    check(pingEnded && winapi::processExitCode(ping.process, &code) && code == 0,
          "the ping through cmd ends with exit code 0 on its kept handle");
    winapi::closeProcess(ping.process);
    check(readFile(file).find("127.0.0.1") != std::string::npos, "and its output is in the result file");
    winapi::closeProcess(nullptr); // closing no handle does nothing
    check(!winapi::processExitCode(nullptr, &code), "no handle has no exit code");
}

// The id of a process whose parent is parent, by the system's list of processes; 0 if none.
unsigned long childOf(unsigned long parent)
{
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return 0;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    unsigned long child = 0;
    for (BOOL more = Process32FirstW(snapshot, &entry); more && !child; more = Process32NextW(snapshot, &entry))
        child = entry.th32ParentProcessID == parent ? entry.th32ProcessID : 0;
    CloseHandle(snapshot);
    return child;
}

// 停止全部 on Windows: the ping started under cmd ends with its cmd, as both are in the job of
// the kept process. Were cmd alone ended, its ping would run on.
void stoppedTree(const std::wstring& appDir)
{
    const std::wstring file = appDir + L"2026-12-07\\127.0.0.1-stopped.txt";
    DeleteFileW(file.c_str());
    const winapi::Started ping =
        winapi::startProcess(L"cmd /c ping 127.0.0.1 -n 30 >>\"" + file + L"\"", 0, true);
    check(ping.ok && ping.process && ping.job, "a kept process is started in a job of its own");
    unsigned long pid = 0;
    for (int i = 0; i < 100 && !(pid = childOf(ping.pid)); ++i)
        Sleep(100); // until cmd has started its ping
    const HANDLE child = pid ? OpenProcess(SYNCHRONIZE, FALSE, pid) : nullptr;
    check(child != nullptr, "its cmd has started the ping");
    check(winapi::stopProcessTree(ping.job, ping.process), "the job is ended");
    check(ping.process && WaitForSingleObject(static_cast<HANDLE>(ping.process), 10000) == WAIT_OBJECT_0,
          "its cmd has ended");
    check(child && WaitForSingleObject(child, 5000) == WAIT_OBJECT_0, "and so has the ping under it");
    if (child)
        TerminateProcess(child, 1); // should the check have failed: not left running
    if (child)
        CloseHandle(child);
    winapi::closeProcess(ping.process);
    winapi::closeProcess(ping.job);
}

void systemFolder()
{
    // The hosts file is found from here: C:\windows\system32 on a standard installation.
    const std::wstring dir = winapi::systemDirectory();
    wchar_t windows[MAX_PATH] = {};
    GetWindowsDirectoryW(windows, MAX_PATH);
    check(!dir.empty() && _wcsicmp(dir.c_str(), (std::wstring(windows) + L"\\system32").c_str()) == 0,
          "the system folder is the Windows folder's system32");
    const std::wstring hosts = dir + L"\\drivers\\etc\\hosts";
    check(GetFileAttributesW(hosts.c_str()) != INVALID_FILE_ATTRIBUTES, "the hosts file is in its drivers\\etc");
}

void missingProgram()
{
    const winapi::Started s = winapi::startProcess(L"tarvix-no-such-program.exe --x", 0);
    check(!s.ok && s.pid == 0 && !s.error.empty(), "a program that does not exist gives the system's error text");
}

void writeAccess(const std::wstring& appDir)
{
    const std::wstring file = appDir + L"access-test.txt";
    SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(file.c_str());
    check(winapi::writeAccess(file) == winapi::Access::Allowed,
          "a missing file in a writable folder may be written");
    std::ofstream(file.c_str(), std::ios::binary) << "keep";
    check(winapi::writeAccess(file) == winapi::Access::Allowed, "a plain file may be written");
    SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_READONLY);
    check(winapi::writeAccess(file) == winapi::Access::Denied, "a read-only file is denied");
    SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_NORMAL);
    check(readFile(file) == "keep", "asking changed nothing");
    DeleteFileW(file.c_str());
    check(winapi::writeAccess(appDir + L"no-such-folder\\hosts") != winapi::Access::Allowed,
          "a file in a missing folder may not be written");
    check(winapi::canWriteDirectory(appDir.substr(0, appDir.size() - 1)),
          "the program's folder takes new files");
    check(!winapi::canWriteDirectory(appDir + L"no-such-folder"), "a missing folder takes none");
    WIN32_FIND_DATAW found;
    const HANDLE probes = FindFirstFileW((appDir + L".tarvix-write-probe-*").c_str(), &found);
    check(probes == INVALID_HANDLE_VALUE, "the probe file is gone");
    if (probes != INVALID_HANDLE_VALUE)
        FindClose(probes);
    const std::wstring appData = L"C:\\Users\\u\\AppData\\Roaming\\tarvix";
    check(AppPath::ownFilesDir(std::wstring(L"C:\\Program Files\\Tarvix"), AppPath::CopyKind::Installed, true,
                               appData) == appData,
          "an installed program keeps its files in the user's folder, also as administrator");
    check(AppPath::ownFilesDir(std::wstring(L"D:\\Tools"), AppPath::CopyKind::Portable, true, appData) ==
              L"D:\\Tools",
          "a portable copy in a writable folder keeps them beside itself");
}

void setFile(const std::wstring& path, const std::string& bytes)
{
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    std::ofstream(path.c_str(), std::ios::binary | std::ios::trunc) << bytes;
}

bool noKeptCopy(const std::wstring& path)
{
    return GetFileAttributesW(winapi::keptCopyPath(path).c_str()) == INVALID_FILE_ATTRIBUTES;
}

void saving(const std::wstring& appDir)
{
    const std::wstring file = appDir + L"save-test-hosts";
    SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(file.c_str());
    std::wstring error;
    const std::string first = "127.0.0.1 localhost\r\n";
    check(winapi::saveFile(file, first.data(), first.size(), &error) && readFile(file) == first,
          "a missing file is created with the content");

    // ReplaceFileW keeps the file's own attributes; a renamed temporary file would bring its own.
    SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE);
    const std::string second = "#127.0.0.1 localhost\r\n";
    check(winapi::saveFile(file, second.data(), second.size(), &error) && readFile(file) == second,
          "an existing file is replaced with the content");
    check((GetFileAttributesW(file.c_str()) & FILE_ATTRIBUTE_HIDDEN) != 0, "the replaced file keeps its attributes");
    SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_NORMAL);
    WIN32_FIND_DATAW found;
    const HANDLE temps = FindFirstFileW((appDir + L".save-test-hosts.tarvix-new.*").c_str(), &found);
    check(temps == INVALID_HANDLE_VALUE, "no temporary file is left");
    if (temps != INVALID_HANDLE_VALUE)
        FindClose(temps);

    // Held open by another program that shares writing but not deleting: it cannot be replaced,
    // and is written in place.
    const HANDLE other = CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                     OPEN_EXISTING, 0, nullptr);
    const std::string third = "10.0.0.1 printer\r\n";
    check(winapi::saveFile(file, third.data(), third.size(), &error) && readFile(file) == third,
          "a file that cannot be replaced is written in place");
    check(noKeptCopy(file), "the kept copy of an in-place save is gone after it");
    CloseHandle(other);

    // A read-only file is the user's word: neither replaced nor written in place.
    setFile(file, "keep");
    SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_READONLY);
    check(!winapi::saveFile(file, "x", 1, &error) && readFile(file) == "keep" && noKeptCopy(file) && !error.empty(),
          "a read-only file is refused with the reason and keeps its content");
    SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_NORMAL);

    // An in-place save cut off: the kept copy holds the old content and the new one.
    const std::wstring keptPath = winapi::keptCopyPath(file);
    const std::string kept = KeptCopy::header(5, 13) + "OLD\r\nNEW CONTENT\r\n";
    std::wstring message;
    std::string changedOld;
    struct Case {
        std::string now;
        winapi::Recovery result;
        const char* after;
        const char* what;
    };
    const Case cases[] = {
        {"NEW C", winapi::Recovery::Restored, "OLD\r\n", "a torn in-place save gets the old content back"},
        {"OLD\r\n", winapi::Recovery::Restored, "OLD\r\n", "a file cut off before its first byte keeps the old content"},
        {"NEW CONTE", winapi::Recovery::Restored, "OLD\r\n", "a torn save past the old content's end is put back"},
        {"NEW CONTENT\r\n", winapi::Recovery::Nothing, "NEW CONTENT\r\n", "a complete new content stays"},
        {"OLD\r\n10.8.0.1 vpn\r\n", winapi::Recovery::Changed, "OLD\r\n10.8.0.1 vpn\r\n",
         "a line another program appended since stays; the old content is handed back"},
        {"OTHER", winapi::Recovery::Changed, "OTHER", "a file rewritten since to the old content's size stays"},
        {std::string("NEW C\0\0\0\0\0\0\0\0", 13), winapi::Recovery::Restored, "OLD\r\n",
         "a torn save whose end a power cut left as zero bytes is put back"},
        {"", winapi::Recovery::Restored, "OLD\r\n", "a file cut short to nothing during a save is put back"},
    };
    for (const Case& c : cases) {
        setFile(keptPath, kept);
        setFile(file, c.now);
        changedOld.clear();
        const winapi::Recovery r = winapi::recoverFile(file, &message, &changedOld);
        const bool keptLeft = !noKeptCopy(file);
        check(r == c.result && readFile(file) == c.after &&
                  keptLeft == (c.result == winapi::Recovery::Changed) &&
                  changedOld == (c.result == winapi::Recovery::Changed ? "OLD\r\n" : ""),
              c.what);
        winapi::dropKeptCopy(file);
    }
    setFile(keptPath, KeptCopy::header(50, 13) + "OLD");
    check(winapi::recoverFile(file, &message, &changedOld) == winapi::Recovery::Failed && !noKeptCopy(file),
          "a kept copy that is cut short is left for the user and reported");
    DeleteFileW(keptPath.c_str());
    check(winapi::recoverFile(file, &message, &changedOld) == winapi::Recovery::Nothing, "no kept copy: nothing to do");
    DeleteFileW(file.c_str());
}

// The stand-in writers that elevatedRun() starts: this program again.
int standInWriter(const std::wstring& how, const std::wstring& pipe)
{
    if (how == L"quit")
        return 9;
    if (how == L"sleep") {
        Sleep(3000);
        return 0;
    }
    std::string bytes;
    std::wstring error;
    if (!winapi::readFromWindow(pipe, 1024, &bytes, &error))
        return 8;
    winapi::answerWindow(pipe, "got " + bytes);
    return 7;
}

// For scripts/check-windows-install.sh: hands the bytes of frameFile to Tarvix.exe's writer
// mode (program), started as the window starts it, and prints how it ended and what it said.
int runWriter(const std::wstring& program, const std::wstring& frameFile)
{
    const std::string data = readFile(frameFile);
    const std::wstring pipe = winapi::newPipeName();
    const winapi::ElevatedRun run = winapi::runElevated(L"runas", program, L"--write-hosts " + pipe, pipe, data.data(),
                                                        data.size(), 60000, nullptr);
    std::printf("status=%d exit=%lu delivered=%d\n%s\n", static_cast<int>(run.status), run.exitCode,
                run.delivered ? 1 : 0, run.answer.c_str());
    return 0;
}

void elevatedRun(const std::wstring& exe)
{
    check(winapi::isPipeName(winapi::newPipeName()), "a fresh pipe name is one");
    for (const wchar_t* bad : {L"C:\\Windows\\system32\\drivers\\etc\\hosts", L"tarvix-hosts-", L"tarvix-hosts-1\\..\\x",
                               L"\\\\.\\pipe\\tarvix-hosts-1", L"tarvix-hosts-1 2", L"other-12"})
        check(!winapi::isPipeName(bad), "a path or a strange name is no pipe name");

    const std::string data = "TARVIX-HOSTS 1 3\nabc";
    std::wstring pipe = winapi::newPipeName();
    winapi::ElevatedRun run = winapi::runElevated(L"runas", exe, L"--writer echo " + pipe, pipe, data.data(),
                                                  data.size(), 60000, nullptr);
    check(run.status == winapi::ElevatedRun::Status::Ended && run.exitCode == 7 && run.delivered &&
              run.answer == "got " + data,
          "the writer started with runas gets the input whole, answers, and its exit code comes back");
    pipe = winapi::newPipeName();
    run = winapi::runElevated(L"runas", exe, L"--writer quit " + pipe, pipe, data.data(), data.size(), 60000, nullptr);
    check(run.status == winapi::ElevatedRun::Status::Ended && run.exitCode == 9 && !run.delivered,
          "a writer that ends without reading is seen to end");
    pipe = winapi::newPipeName();
    run = winapi::runElevated(L"runas", exe, L"--writer sleep " + pipe, pipe, data.data(), data.size(), 500, nullptr);
    check(run.status == winapi::ElevatedRun::Status::TimedOut && !run.delivered,
          "a writer that does not read in time: timed out, the input not delivered");
    const std::atomic<bool> abandoned(true);
    pipe = winapi::newPipeName();
    run = winapi::runElevated(L"runas", exe, L"--writer echo " + pipe, pipe, data.data(), data.size(), 60000,
                              &abandoned);
    check(run.status == winapi::ElevatedRun::Status::TimedOut && !run.delivered,
          "abandoned while the prompt was shown: the writer gets nothing");
    pipe = winapi::newPipeName();
    run = winapi::runElevated(L"runas", L"C:\\tarvix-no-such-writer.exe", L"", pipe, data.data(), data.size(), 60000,
                              nullptr);
    check(run.status == winapi::ElevatedRun::Status::StartFailed && !run.error.empty(),
          "a writer that cannot be started gives the system's reason");
}

void identity(const std::wstring& exe)
{
    check(versionString(exe, L"ProductName") == L"Tarvix 1.0", "product name Tarvix 1.0");
    check(versionString(exe, L"FileVersion") == L"1.00.0015", "file version 1.00.0015");
    check(versionString(exe, L"InternalName") == L"Tarvix", "internal name Tarvix");
    check(LoadImageW(GetModuleHandleW(nullptr), L"IDI_ICON1", IMAGE_ICON, 16, 16, 0) != nullptr,
          "the icon is in the resources");
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc == 3 && std::wstring(argv[1]) == L"--print-dir") {
        const std::string dir = winapi::toAnsi(winapi::executableDir());
        std::ofstream(argv[2], std::ios::binary) << dir;
        return 0;
    }
    if (argc == 4 && std::wstring(argv[1]) == L"--writer")
        return standInWriter(argv[2], argv[3]);
    if (argc == 4 && std::wstring(argv[1]) == L"--run-writer")
        return runWriter(argv[2], argv[3]);
    wchar_t path[MAX_PATH * 4];
    const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH * 4);
    const std::wstring exe(path, n);
    const std::wstring appDir = AppPath::fromReportedDir(winapi::executableDir(), L'\\');

    applicationDirectory(exe);
    ansiCodePage();
    batchPing(appDir);
    keptProcessHandle(appDir);
    stoppedTree(appDir);
    systemFolder();
    missingProgram();
    writeAccess(appDir);
    saving(appDir);
    elevatedRun(exe);
    identity(exe);

    std::printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}
