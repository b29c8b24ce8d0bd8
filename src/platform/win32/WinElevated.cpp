// The hosts writer started through the UAC prompt, and the pipes between it and the window.
// See WinApi.h.
#include "platform/win32/WinApi.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <shellapi.h> // after windows.h, whose types it uses

#include <vector>

namespace winapi {

namespace {

const wchar_t kPipePrefix[] = L"tarvix-hosts-";

std::wstring pipePath(const std::wstring& name)
{
    return L"\\\\.\\pipe\\" + name;
}

class Handle
{
public:
    explicit Handle(HANDLE h = nullptr) : m_h(h == INVALID_HANDLE_VALUE ? nullptr : h) {}
    ~Handle() { reset(); }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    HANDLE get() const { return m_h; }
    explicit operator bool() const { return m_h != nullptr; }
    void reset(HANDLE h = nullptr)
    {
        if (m_h)
            CloseHandle(m_h);
        m_h = h == INVALID_HANDLE_VALUE ? nullptr : h;
    }

private:
    HANDLE m_h;
};

HANDLE makePipe(const std::wstring& name, DWORD direction)
{
    return CreateNamedPipeW(pipePath(name).c_str(),
                            direction | FILE_FLAG_FIRST_PIPE_INSTANCE | FILE_FLAG_OVERLAPPED,
                            PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1,
                            64 * 1024, 64 * 1024, 0, nullptr);
}

enum class Waited { Done, ProcessEnded, TimedOut, Failed };

// Waits for an overlapped operation on pipe that has been started (pending), for the end of
// process, or for the deadline, whichever comes first. An operation still pending is cancelled.
Waited finish(HANDLE pipe, OVERLAPPED* ov, BOOL started, HANDLE process, ULONGLONG deadline, DWORD* bytes)
{
    *bytes = 0;
    if (started)
        return GetOverlappedResult(pipe, ov, bytes, FALSE) ? Waited::Done : Waited::Failed;
    const DWORD code = GetLastError();
    if (code == ERROR_PIPE_CONNECTED)
        return Waited::Done;
    if (code != ERROR_IO_PENDING)
        return Waited::Failed;
    const ULONGLONG now = GetTickCount64();
    const DWORD left = now >= deadline ? 0 : static_cast<DWORD>(deadline - now);
    const HANDLE events[2] = {ov->hEvent, process};
    const DWORD w = WaitForMultipleObjects(2, events, FALSE, left);
    if (w == WAIT_OBJECT_0)
        return GetOverlappedResult(pipe, ov, bytes, FALSE) ? Waited::Done : Waited::Failed;
    CancelIo(pipe);
    GetOverlappedResult(pipe, ov, bytes, TRUE);
    return w == WAIT_OBJECT_0 + 1 ? Waited::ProcessEnded : Waited::TimedOut;
}

Waited connect(HANDLE pipe, HANDLE event, HANDLE process, ULONGLONG deadline)
{
    OVERLAPPED ov = {};
    ov.hEvent = event;
    DWORD bytes = 0;
    return finish(pipe, &ov, ConnectNamedPipe(pipe, &ov), process, deadline, &bytes);
}

} // namespace

std::wstring executablePath()
{
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0)
            return std::wstring();
        if (n < buffer.size())
            return std::wstring(buffer.data(), n);
        buffer.resize(buffer.size() * 2);
    }
}

bool isLink(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

std::wstring newPipeName()
{
    static LONG counter = 0;
    return kPipePrefix + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(GetTickCount64()) +
           L"-" + std::to_wstring(InterlockedIncrement(&counter));
}

bool isPipeName(const std::wstring& name)
{
    const std::wstring prefix = kPipePrefix;
    if (name.size() <= prefix.size() || name.size() > 80 || name.compare(0, prefix.size(), prefix) != 0)
        return false;
    for (size_t i = prefix.size(); i < name.size(); ++i) {
        if (!((name[i] >= L'0' && name[i] <= L'9') || name[i] == L'-'))
            return false;
    }
    return true;
}

ElevatedRun runElevated(const std::wstring& verb, const std::wstring& program, const std::wstring& parameters,
                        const std::wstring& pipeName, const char* data, size_t size, unsigned long timeoutMs,
                        const std::atomic<bool>* abandoned)
{
    ElevatedRun run;
    Handle input(makePipe(pipeName, PIPE_ACCESS_OUTBOUND));
    Handle answer(makePipe(pipeName + L"-answer", PIPE_ACCESS_INBOUND));
    Handle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!input || !answer || !event) {
        run.error = errorText(GetLastError());
        return run;
    }

    // ShellExecuteExW returns once the UAC prompt has been answered; it shows no message box
    // of its own on a failure, which is reported by the window.
    SHELLEXECUTEINFOW info = {};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI | SEE_MASK_NOASYNC;
    info.lpVerb = verb.c_str();
    info.lpFile = program.c_str();
    info.lpParameters = parameters.c_str();
    info.nShow = SW_HIDE;
    if (!ShellExecuteExW(&info) || !info.hProcess) {
        const DWORD code = GetLastError();
        run.status =
            code == ERROR_CANCELLED ? ElevatedRun::Status::Cancelled : ElevatedRun::Status::StartFailed;
        run.error = errorText(code);
        return run;
    }
    Handle process(info.hProcess);
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    run.status = ElevatedRun::Status::TimedOut;
    if (abandoned && abandoned->load())
        return run; // the window gave up while the prompt was shown: the writer gets nothing

    // The input: connected, written whole, and closed, which is its end for the writer.
    Waited w = connect(input.get(), event.get(), process.get(), deadline);
    size_t done = 0;
    while (w == Waited::Done && done < size) {
        OVERLAPPED ov = {};
        ov.hEvent = event.get();
        const DWORD chunk = size - done > (1u << 20) ? (1u << 20) : static_cast<DWORD>(size - done);
        DWORD written = 0;
        w = finish(input.get(), &ov, WriteFile(input.get(), data + done, chunk, nullptr, &ov), process.get(),
                   deadline, &written);
        done += written;
    }
    if (w == Waited::Done) {
        FlushFileBuffers(input.get());
        run.delivered = true;
    }
    input.reset();

    // The answer, until the writer closes it; then its end.
    if (w == Waited::Done)
        w = connect(answer.get(), event.get(), process.get(), deadline);
    while (w == Waited::Done) {
        OVERLAPPED ov = {};
        ov.hEvent = event.get();
        char buffer[4096];
        DWORD got = 0;
        w = finish(answer.get(), &ov, ReadFile(answer.get(), buffer, sizeof buffer, nullptr, &ov),
                   process.get(), deadline, &got);
        if (w == Waited::Done && got == 0)
            break;
        if (run.answer.size() < 64 * 1024)
            run.answer.append(buffer, got);
    }
    if (w == Waited::TimedOut)
        return run;
    const ULONGLONG now = GetTickCount64();
    if (WaitForSingleObject(process.get(), now >= deadline ? 0 : static_cast<DWORD>(deadline - now)) !=
        WAIT_OBJECT_0)
        return run;
    DWORD code = 0;
    GetExitCodeProcess(process.get(), &code);
    run.status = ElevatedRun::Status::Ended;
    run.exitCode = code;
    return run;
}

bool readFromWindow(const std::wstring& pipeName, size_t maxBytes, std::string* bytes, std::wstring* error)
{
    Handle pipe(CreateFileW(pipePath(pipeName).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!pipe) {
        *error = errorText(GetLastError());
        return false;
    }
    bytes->clear();
    std::vector<char> buffer(64 * 1024);
    while (bytes->size() <= maxBytes) {
        DWORD got = 0;
        if (!ReadFile(pipe.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr)) {
            const DWORD code = GetLastError();
            if (code == ERROR_BROKEN_PIPE)
                return true; // the window closed its end: all has come
            *error = errorText(code);
            return false;
        }
        if (got == 0)
            return true;
        bytes->append(buffer.data(), got);
    }
    bytes->resize(maxBytes + 1);
    return true;
}

void answerWindow(const std::wstring& pipeName, const std::string& text)
{
    Handle pipe(CreateFileW(pipePath(pipeName + L"-answer").c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            0, nullptr));
    DWORD written = 0;
    if (pipe && !text.empty())
        WriteFile(pipe.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

} // namespace winapi
