// Saving a whole file on Windows: ReplaceFileW, and in place with a kept copy where the file
// cannot be replaced. See WinApi.h.
#include "platform/win32/WinApi.h"

#include "platform/KeptCopy.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstdio>
#include <cstring>

namespace winapi {

namespace {

class Handle
{
public:
    explicit Handle(HANDLE h = INVALID_HANDLE_VALUE) : m_h(h) {}
    ~Handle() { close(); }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    HANDLE get() const { return m_h; }
    bool valid() const { return m_h != INVALID_HANDLE_VALUE && m_h != nullptr; }
    void close()
    {
        if (valid())
            CloseHandle(m_h);
        m_h = INVALID_HANDLE_VALUE;
    }

private:
    HANDLE m_h;
};

std::wstring beside(const std::wstring& path, const std::wstring& suffix)
{
    const size_t slash = path.find_last_of(L"\\/");
    const std::wstring folder = slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
    const std::wstring name = slash == std::wstring::npos ? path : path.substr(slash + 1);
    return folder + L"." + name + suffix;
}

std::wstring describe(const std::wstring& path, const std::wstring& what, DWORD code)
{
    std::wstring text = path + L": " + what;
    if (code != 0)
        text += L": " + errorText(code);
    return text;
}

bool writeAllAt0(HANDLE h, const char* data, size_t size)
{
    LARGE_INTEGER zero = {};
    if (!SetFilePointerEx(h, zero, nullptr, FILE_BEGIN))
        return false;
    while (size > 0) {
        const DWORD chunk = size > (1u << 24) ? (1u << 24) : static_cast<DWORD>(size);
        DWORD written = 0;
        if (!WriteFile(h, data, chunk, &written, nullptr) || written == 0)
            return false;
        data += written;
        size -= written;
    }
    return SetEndOfFile(h) != 0;
}

bool readAll(HANDLE h, std::string* out)
{
    LARGE_INTEGER zero = {};
    LARGE_INTEGER size = {};
    if (!SetFilePointerEx(h, zero, nullptr, FILE_BEGIN) || !GetFileSizeEx(h, &size))
        return false;
    out->assign(static_cast<size_t>(size.QuadPart), '\0');
    size_t done = 0;
    while (done < out->size()) {
        const size_t left = out->size() - done;
        const DWORD chunk = left > (1u << 24) ? (1u << 24) : static_cast<DWORD>(left);
        DWORD got = 0;
        if (!ReadFile(h, &(*out)[done], chunk, &got, nullptr))
            return false;
        if (got == 0)
            break;
        done += got;
    }
    out->resize(done);
    return true;
}

// Opens path without following a link (a reparse point), and only if it is a file on disk: a
// pipe, a device or a link is refused at once with ERROR_CANT_ACCESS_FILE, so that recovery
// never waits and never reads or writes what a link names.
HANDLE openRegular(const std::wstring& path, DWORD access, DWORD* code)
{
    HANDLE h = CreateFileW(path.c_str(), access, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        *code = GetLastError();
        return h;
    }
    BY_HANDLE_FILE_INFORMATION info = {};
    if (GetFileType(h) != FILE_TYPE_DISK || !GetFileInformationByHandle(h, &info) ||
        (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0) {
        CloseHandle(h);
        *code = ERROR_CANT_ACCESS_FILE;
        return INVALID_HANDLE_VALUE;
    }
    *code = 0;
    return h;
}

// The old and the new content, flushed to the kept copy before the file is touched: with both,
// recovery tells a torn save from a file that another program changed afterwards. False if
// the folder takes no such file.
bool keepOldContent(const std::wstring& path, const std::string& old, const char* data, size_t size)
{
    const std::wstring kept = keptCopyPath(path);
    const std::wstring partial = kept + L".new";
    {
        Handle k(CreateFileW(partial.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_HIDDEN,
                             nullptr));
        if (!k.valid())
            return false;
        const std::string bytes = KeptCopy::header(old.size(), size) + old + std::string(data, size);
        if (!writeAllAt0(k.get(), bytes.data(), bytes.size()) || !FlushFileBuffers(k.get())) {
            k.close();
            DeleteFileW(partial.c_str());
            return false;
        }
    }
    if (!MoveFileExW(partial.c_str(), kept.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        DeleteFileW(partial.c_str());
        return false;
    }
    return true;
}

bool saveInPlace(const std::wstring& path, const char* data, size_t size, std::wstring* error)
{
    Handle f(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!f.valid()) {
        *error = describe(path, L"无法打开文件写入", GetLastError());
        return false;
    }
    std::string old;
    if (!readAll(f.get(), &old)) {
        *error = describe(path, L"无法读取原内容", GetLastError());
        return false;
    }
    // Where the folder takes no kept copy (a file that its user may write in a folder that
    // they may not), the old content stays in memory only and is put back on a failure.
    const bool kept = keepOldContent(path, old, data, size);
    std::string back;
    bool ok = writeAllAt0(f.get(), data, size) && FlushFileBuffers(f.get());
    DWORD code = ok ? 0 : GetLastError();
    if (ok &&
        !(readAll(f.get(), &back) && back.size() == size && std::memcmp(back.data(), data, size) == 0)) {
        ok = false;
        *error = describe(path, L"写入后读回的内容与要保存的不一致", 0);
    } else if (!ok) {
        *error = describe(path, L"写入失败", code);
    }
    if (!ok) {
        writeAllAt0(f.get(), old.data(), old.size());
        FlushFileBuffers(f.get());
    }
    f.close();
    if (kept)
        DeleteFileW(keptCopyPath(path).c_str());
    return ok;
}

} // namespace

std::wstring keptCopyPath(const std::wstring& path)
{
    return beside(path, L".tarvix-kept");
}

void dropKeptCopy(const std::wstring& path)
{
    DeleteFileW(keptCopyPath(path).c_str());
}

bool saveFile(const std::wstring& path, const char* data, size_t size, std::wstring* error)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    const bool exists = attributes != INVALID_FILE_ATTRIBUTES;
    if (exists && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        *error = describe(path, L"不是普通文件", 0);
        return false;
    }
    // Windows refuses to write a read-only file; asked first, the answer does not depend on
    // who asks (Wine run as root would write it in place).
    if (exists && (attributes & FILE_ATTRIBUTE_READONLY)) {
        *error = describe(path, L"文件是只读的", ERROR_ACCESS_DENIED);
        return false;
    }
    const std::wstring temp = beside(path, L".tarvix-new." + std::to_wstring(GetCurrentProcessId()));
    std::wstring replaceError;
    {
        Handle t(CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                             nullptr));
        DWORD code = t.valid() ? 0 : GetLastError();
        if (t.valid()) {
            const bool written = writeAllAt0(t.get(), data, size) && FlushFileBuffers(t.get());
            code = written ? 0 : GetLastError();
            t.close();
            // ReplaceFileW keeps what makes the file the system's: its access list, owner,
            // attributes, alternate streams and creation time. A file that is not there yet
            // takes the folder's inherited rights.
            const bool replaced =
                written && (exists ? ReplaceFileW(path.c_str(), temp.c_str(), nullptr,
                                                  REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr)
                                   : MoveFileExW(temp.c_str(), path.c_str(), MOVEFILE_WRITE_THROUGH));
            if (replaced) {
                // Wine's ReplaceFileW gives the file the temporary file's attributes; Windows'
                // keeps them, and setting them again changes nothing there.
                const DWORD kept =
                    FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
                if (exists && (attributes & kept) != 0)
                    SetFileAttributesW(path.c_str(), attributes & (kept | FILE_ATTRIBUTE_ARCHIVE));
                return true;
            }
            if (written)
                code = GetLastError();
            DeleteFileW(temp.c_str());
        }
        replaceError = describe(path, L"无法替换文件", code);
        if (!exists) {
            *error = replaceError;
            return false;
        }
    }
    // The file cannot be replaced (no right to create files in its folder, a file that
    // another program holds open without sharing delete): it is written in place.
    if (saveInPlace(path, data, size, error))
        return true;
    *error = replaceError + L"\r\n" + *error;
    return false;
}

Recovery recoverFile(const std::wstring& path, std::wstring* message, std::string* changedOld)
{
    const std::wstring kept = keptCopyPath(path);
    DeleteFileW((kept + L".new").c_str()); // a copy never finished: the file was not touched yet
    DWORD code = 0;
    Handle k(openRegular(kept, GENERIC_READ, &code));
    if (!k.valid()) {
        if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND)
            return Recovery::Nothing;
        *message = code == ERROR_CANT_ACCESS_FILE
                       ? KeptCopy::Say::notRegular(kept)
                       : KeptCopy::Say::failed(kept, L"无法打开保留的原内容副本", errorText(code), kept);
        return Recovery::Failed;
    }
    std::string keptBytes;
    const bool keptRead = readAll(k.get(), &keptBytes);
    k.close();
    const KeptCopy::Header h = KeptCopy::parseHeader(keptBytes.data(), keptRead ? keptBytes.size() : 0);
    if (!h.ok || keptBytes.size() != KeptCopy::kHeaderSize + h.oldSize + h.newSize) {
        *message = KeptCopy::Say::incomplete(kept, path);
        return Recovery::Failed;
    }
    const char* old = keptBytes.data() + KeptCopy::kHeaderSize;
    const size_t oldSize = static_cast<size_t>(h.oldSize);
    Handle f(openRegular(path, GENERIC_READ | GENERIC_WRITE, &code));
    std::string now;
    if (!f.valid() || !readAll(f.get(), &now)) {
        *message = KeptCopy::Say::failed(path, L"无法恢复保存前的内容",
                                         errorText(f.valid() ? GetLastError() : code), kept);
        return Recovery::Failed;
    }
    const KeptCopy::Found found = KeptCopy::classify(now.data(), now.size(), old, oldSize, old + oldSize,
                                                     static_cast<size_t>(h.newSize));
    if (found == KeptCopy::Found::ChangedSince) {
        // Another program wrote the file after the save was cut off: its content stays, and the
        // caller keeps the old content elsewhere before the copy goes.
        *changedOld = std::string(old, oldSize);
        return Recovery::Changed;
    }
    if (found == KeptCopy::Found::Torn &&
        !(writeAllAt0(f.get(), old, oldSize) && FlushFileBuffers(f.get()))) {
        *message = KeptCopy::Say::failed(path, L"无法恢复保存前的内容", errorText(GetLastError()), kept);
        return Recovery::Failed;
    }
    f.close();
    DeleteFileW(kept.c_str());
    if (found == KeptCopy::Found::NewContent)
        return Recovery::Nothing; // the new content was complete; only the copy was left
    *message = KeptCopy::Say::restored(path, found == KeptCopy::Found::OldContent);
    return Recovery::Restored;
}

} // namespace winapi
