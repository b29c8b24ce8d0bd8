#pragma once

// The Windows side of the platform layer in plain Win32, with no Qt: it builds with mingw-w64
// for 32- and 64-bit Windows and is tested on its own under Wine.

#include <atomic>
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
    // With a kept process: a job object that holds it and every process it starts (the ping
    // under cmd), so that stopProcessTree ends them all; closed with closeProcess(). Null where
    // the system refused the job (the process then runs without one).
    void* job = nullptr;
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

// Ends a process kept by startProcess() and every process it started: its whole job, or the
// process alone where it has none. True if the system did so.
bool stopProcessTree(void* job, void* process);

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

// The path of the running executable. Empty if the system cannot say.
std::wstring executablePath();

// True when path names a link (a reparse point: a symbolic link, a junction), which a writer
// with the administrator's rights must not follow.
bool isLink(const std::wstring& path);

// ---- Saving a whole file (WinFile.cpp) ----

// Replaces the content of path with size bytes of data. They go to a temporary file beside
// it, flushed to disk, which then takes the file's place through ReplaceFileW: the file keeps
// its access list, owner, attributes, alternate streams and creation time (a missing file is
// created with MoveFileExW and takes the folder's inherited rights). Where the file cannot be
// replaced (no right to create files in its folder), it is overwritten in place: its old
// content is first kept in a flushed copy beside it (keptCopyPath), which recoverFile() finds
// if the program dies before the new content is on disk; a folder that takes no copy leaves
// the old content in memory only. Returns false with the reasons, in Chinese and the system's
// words, in *error; the file then holds its old content.
bool saveFile(const std::wstring& path, const char* data, size_t size, std::wstring* error);

enum class Recovery { Nothing, Restored, Changed, Failed };

// Puts right what an in-place save that was cut off left: the old content comes back from the
// kept copy when the file holds the old content or a torn mixture of the old and the new one;
// a complete new content stays. Changed: the file was written since (another program), and
// stays as it is; the old content is in *changedOld and the kept copy is left for the caller
// to drop (dropKeptCopy) once it has kept that content elsewhere. Sets *message for Restored
// and Failed.
Recovery recoverFile(const std::wstring& path, std::wstring* message, std::string* changedOld);

// Removes the kept copy of an in-place save of path.
void dropKeptCopy(const std::wstring& path);

// ".NAME.tarvix-kept" beside path.
std::wstring keptCopyPath(const std::wstring& path);

// ---- The hosts writer started through the UAC prompt (WinElevated.cpp) ----
// The window hands the writer its input through a pipe \\.\pipe\NAME and reads the writer's
// answer (its reason, as text) from \\.\pipe\NAME-answer; the writer's exit code is its
// status. Only this process can make the pipes (the first instance) and only local programs
// can connect.

struct ElevatedRun
{
    enum class Status {
        Ended,       // the writer ended: exitCode and answer hold what it said
        Cancelled,   // the user declined the UAC prompt (ERROR_CANCELLED)
        StartFailed, // it could not be started; error holds the system's reason
        TimedOut,    // no end within the time given; delivered says whether it got its input
    };
    Status status = Status::StartFailed;
    unsigned long exitCode = 0;
    std::string answer;
    std::wstring error;
    bool delivered = false;
};

// A fresh pipe name for one run: "tarvix-hosts-PID-TICKS-N".
std::wstring newPipeName();

// True when name is one that newPipeName() could have made, and nothing else (no path).
bool isPipeName(const std::wstring& name);

// Starts program with parameters through ShellExecuteExW with the verb verb ("runas" asks
// for the administrator's rights through the UAC prompt), hands it size bytes of data through
// the pipe pipeName, reads its answer, and waits for its end: at most timeoutMs from the
// moment the prompt was answered. Blocks: call it beside the window. If *abandoned is true
// when the prompt has been answered, the writer gets no input.
ElevatedRun runElevated(const std::wstring& verb, const std::wstring& program, const std::wstring& parameters,
                        const std::wstring& pipeName, const char* data, size_t size, unsigned long timeoutMs,
                        const std::atomic<bool>* abandoned);

// The writer's side: reads all that the window sends through pipeName, at most maxBytes (one
// byte more shows that there was more). Returns false with the system's reason in *error.
bool readFromWindow(const std::wstring& pipeName, size_t maxBytes, std::string* bytes, std::wstring* error);

// The writer's side: sends text to the window's answer pipe. Quietly does nothing if the
// window is gone.
void answerWindow(const std::wstring& pipeName, const std::string& text);

} // namespace winapi
