#include "platform/win32/WinApi.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <vector>

namespace winapi {

std::wstring executableDir()
{
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0)
            return std::wstring();
        if (n < buffer.size()) {
            std::wstring path(buffer.data(), n);
            const std::wstring::size_type slash = path.find_last_of(L"\\/");
            if (slash == std::wstring::npos)
                return std::wstring();
            // A drive root keeps its backslash ("C:\"), as the system reports it.
            if (slash == 2 && path[1] == L':')
                return path.substr(0, 3);
            return path.substr(0, slash);
        }
        buffer.resize(buffer.size() * 2); // a long path: try again with room for it
    }
}

std::wstring systemDirectory()
{
    std::vector<wchar_t> buffer(MAX_PATH);
    UINT n = GetSystemDirectoryW(buffer.data(), static_cast<UINT>(buffer.size()));
    if (n >= buffer.size()) {
        buffer.resize(n + 1);
        n = GetSystemDirectoryW(buffer.data(), static_cast<UINT>(buffer.size()));
    }
    if (n == 0 || n >= buffer.size())
        return std::wstring();
    return std::wstring(buffer.data(), n);
}

unsigned ansiCodePage()
{
    return GetACP();
}

std::string toAnsi(const std::wstring& text, bool* lossless)
{
    return toAnsi(text.data(), text.size(), lossless);
}

std::string toAnsi(const wchar_t* text, size_t size, bool* lossless)
{
    if (lossless)
        *lossless = true;
    if (size == 0)
        return std::string();
    BOOL usedDefault = FALSE;
    const int length = static_cast<int>(size);
    // UTF-8 and a few other code pages refuse the flag and the report of replacements; they
    // have no best fit to avoid.
    DWORD flags = WC_NO_BEST_FIT_CHARS;
    int n = WideCharToMultiByte(CP_ACP, flags, text, length, nullptr, 0, nullptr, &usedDefault);
    if (n == 0) {
        flags = 0;
        n = WideCharToMultiByte(CP_ACP, flags, text, length, nullptr, 0, nullptr, nullptr);
    }
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_ACP, flags, text, length, &out[0], n, nullptr, flags ? &usedDefault : nullptr);
    if (lossless)
        *lossless = !usedDefault;
    return out;
}

std::wstring fromAnsi(const std::string& bytes)
{
    return fromAnsi(bytes.data(), bytes.size());
}

std::wstring fromAnsi(const char* bytes, size_t size)
{
    if (size == 0)
        return std::wstring();
    const int length = static_cast<int>(size);
    const int n = MultiByteToWideChar(CP_ACP, 0, bytes, length, nullptr, 0);
    std::wstring out(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_ACP, 0, bytes, length, &out[0], n);
    return out;
}

std::wstring errorText(unsigned long code)
{
    wchar_t* text = nullptr;
    const DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM
                                       | FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring out;
    if (n > 0 && text) {
        out.assign(text, n);
        while (!out.empty() && (out.back() == L'\r' || out.back() == L'\n' || out.back() == L' '))
            out.pop_back();
    }
    if (text)
        LocalFree(text);
    if (out.empty())
        out = L"error " + std::to_wstring(code);
    return out;
}

Started startProcess(const std::wstring& commandLine, int showMode, bool keepProcess, unsigned long waitMs)
{
    Started result;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = showMode == 0 ? SW_HIDE : SW_SHOWNORMAL;
    PROCESS_INFORMATION info = {};
    // CreateProcessW may write into the command line, so it gets a copy of its own.
    std::vector<wchar_t> line(commandLine.begin(), commandLine.end());
    line.push_back(L'\0');
    // A kept process starts suspended and is put in a job of its own before it runs, so that
    // every process it starts belongs to the job too, and stopping the job ends them all. The
    // job does not end its processes when its handle is closed: they outlive the program.
    HANDLE job = keepProcess ? CreateJobObjectW(nullptr, nullptr) : nullptr;
    const DWORD flags = (showMode == 0 ? CREATE_NO_WINDOW : 0) | (job ? CREATE_SUSPENDED : 0);
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, flags, nullptr, nullptr, &startup,
                        &info)) {
        result.error = errorText(GetLastError());
        if (job)
            CloseHandle(job);
        return result;
    }
    if (job) {
        if (!AssignProcessToJobObject(job, info.hProcess)) {
            CloseHandle(job); // a system that allows no nested job: the process runs without one
            job = nullptr;
        }
        ResumeThread(info.hThread);
    }
    result.job = job;
    CloseHandle(info.hThread);
    if (waitMs > 0)
        result.stillRunning = WaitForSingleObject(info.hProcess, waitMs) == WAIT_TIMEOUT;
    if (keepProcess)
        result.process = info.hProcess;
    else
        CloseHandle(info.hProcess);
    result.ok = true;
    result.pid = info.dwProcessId;
    return result;
}

bool processExitCode(void* process, unsigned long* code)
{
    DWORD value = 0;
    if (!process || !GetExitCodeProcess(static_cast<HANDLE>(process), &value))
        return false;
    // STILL_ACTIVE (259) is also a possible exit code; only the wait tells them apart.
    if (value == STILL_ACTIVE && WaitForSingleObject(static_cast<HANDLE>(process), 0) != WAIT_OBJECT_0)
        return false;
    *code = value;
    return true;
}

void closeProcess(void* process)
{
    if (process)
        CloseHandle(static_cast<HANDLE>(process));
}

bool stopProcessTree(void* job, void* process)
{
    if (job)
        return TerminateJobObject(static_cast<HANDLE>(job), 1) != FALSE;
    return process && TerminateProcess(static_cast<HANDLE>(process), 1) != FALSE;
}

bool createDirectory(const std::wstring& path, std::wstring* error)
{
    if (CreateDirectoryW(path.c_str(), nullptr))
        return true;
    const DWORD code = GetLastError();
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (code == ERROR_ALREADY_EXISTS && attributes != INVALID_FILE_ATTRIBUTES
        && (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return true;
    *error = errorText(code);
    return false;
}

namespace {

Access accessFromError(DWORD code)
{
    switch (code) {
    case ERROR_ACCESS_DENIED:
        return Access::Denied;
    case ERROR_WRITE_PROTECT:
        return Access::ReadOnly;
    default:
        return Access::Other;
    }
}

std::wstring folderOf(const std::wstring& path)
{
    const size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring(L".") : path.substr(0, slash);
}

} // namespace

Access writeAccess(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD code = GetLastError();
        if (code != ERROR_FILE_NOT_FOUND)
            return accessFromError(code);
        return canWriteDirectory(folderOf(path)) ? Access::Allowed : Access::Denied;
    }
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        return Access::Other;
    // Windows refuses to open such a file for writing (ERROR_ACCESS_DENIED); asked first, the
    // answer does not depend on who asks (Wine run as root would open it).
    if (attributes & FILE_ATTRIBUTE_READONLY)
        return Access::Denied;
    const HANDLE file =
        CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return accessFromError(GetLastError());
    CloseHandle(file);
    return Access::Allowed;
}

bool canWriteDirectory(const std::wstring& dir)
{
    const std::wstring probe = dir + L"\\.tarvix-write-probe-" + std::to_wstring(GetCurrentProcessId()) +
                               L"-" + std::to_wstring(GetTickCount());
    const HANDLE file =
        CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                    FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    CloseHandle(file);
    return true;
}

void* lockNamed(const std::wstring& name, unsigned long waitMs, std::wstring* error)
{
    HANDLE mutex = CreateMutexW(nullptr, FALSE, name.c_str());
    if (!mutex) {
        *error = errorText(GetLastError());
        return nullptr;
    }
    const DWORD waited = WaitForSingleObject(mutex, waitMs);
    if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED) // abandoned: its holder died
        return mutex;
    *error = waited == WAIT_TIMEOUT ? std::wstring() : errorText(GetLastError());
    CloseHandle(mutex);
    return nullptr;
}

void unlockNamed(void* lock)
{
    if (lock) {
        ReleaseMutex(lock);
        CloseHandle(lock);
    }
}

} // namespace winapi
