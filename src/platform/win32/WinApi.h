#pragma once

// The Windows side of the platform layer in plain Win32, with no Qt: it builds with mingw-w64
// for 32- and 64-bit Windows and is tested on its own under Wine.

#include <string>

namespace winapi {

// The directory of the running executable, without a trailing backslash except for a drive
// root ("C:\"). Empty if the system cannot say.
std::wstring executableDir();

// The system folder (C:\WINDOWS\system32 on a standard installation), without a trailing
// backslash. Empty if the system cannot say.
std::wstring systemDirectory();

// The ANSI code page of the system (936 for GBK).
unsigned ansiCodePage();

// Wide text to the ANSI code page. *lossless (if given) is false when a character had to be
// replaced because the code page has no form for it; no character is silently replaced by a
// look-alike ("best fit").
std::string toAnsi(const std::wstring& text, bool* lossless = nullptr);
std::string toAnsi(const wchar_t* text, size_t size, bool* lossless = nullptr); // text need not end in 0

// ANSI code page bytes to wide text.
std::wstring fromAnsi(const std::string& bytes);
std::wstring fromAnsi(const char* bytes, size_t size); // bytes need not end in 0

struct Started
{
    bool ok = false;
    unsigned long pid = 0;
    std::wstring error;      // the system's text for the failure when !ok
    void* process = nullptr; // the process HANDLE, when kept; closed with closeProcess()
    bool stillRunning = false; // waited for, and still running when waitMs had passed
};

// Starts one command line as it stands, shown (1) or hidden (0), and returns with its process
// id: at once, or once the process has ended if waitMs > 0 (at most waitMs milliseconds). The
// thread handle is closed at once; the process handle too, unless keepProcess asks for it to be
// kept in Started::process, so that the process's end can be watched. A handle is never opened
// later from the process id, which may by then name another process.
Started startProcess(const std::wstring& commandLine, int showMode, bool keepProcess = false,
                     unsigned long waitMs = 0);

// The exit code of an ended process, through the handle kept by startProcess(). False if the
// handle is not valid or the process is still running (its code would be STILL_ACTIVE).
bool processExitCode(void* process, unsigned long* code);

// Closes a process handle kept by startProcess(); the process itself runs on.
void closeProcess(void* process);

// Creates one directory. True if it exists afterwards, made now or before; otherwise false
// with the system's text for the reason in *error.
bool createDirectory(const std::wstring& path, std::wstring* error);

// Whether this process may write path: an existing file is opened for writing (and closed at
// once, unchanged); for a missing one, its folder is asked. Denied is ERROR_ACCESS_DENIED,
// ReadOnly a write-protected medium.
enum class Access { Allowed, Denied, ReadOnly, Other };
Access writeAccess(const std::wstring& path);

// True when a file can be created in the folder dir: a probe file is created there and
// deleted. Windows answers the question only this way, as folder rights are access control
// lists that the attributes do not show.
bool canWriteDirectory(const std::wstring& dir);

// The system's text for an error code.
std::wstring errorText(unsigned long code);

// One holder at a time for name, across the processes of this session: waits up to waitMs for
// a named mutex. Returns the held lock, or nullptr with the system's text (empty when the wait
// timed out) in *error. A holder that died leaves the lock free for the next.
void* lockNamed(const std::wstring& name, unsigned long waitMs, std::wstring* error);

// Frees a lock of lockNamed() on the thread that took it.
void unlockNamed(void* lock);

} // namespace winapi
