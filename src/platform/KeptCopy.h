#pragma once

// The kept copy of an in-place save, the same on every system: its format, what a file found
// after a cut-off save is compared with it, and the words recovery says. Plain C++ without Qt:
// the Win32 side (win32/WinFile.cpp) and the POSIX side (SafeSave) both use it.
//
// Format: the header "TARVIX-KEPT 2\n", "old " and the old size, "new " and the new size (20
// decimal digits each, one line each), an empty line; then the old content, then the new one.
// Both contents are kept so that recovery can tell the new content, the old one and a torn
// mixture of the two from a file that another program changed after the save was cut off.

#include <cstddef>
#include <cstdint>
#include <string>

namespace KeptCopy {

constexpr std::size_t kHeaderSize = 14 + (4 + 20 + 1) + (4 + 20 + 1) + 1;

std::string header(std::uint64_t oldSize, std::uint64_t newSize);

struct Header {
    bool ok = false;
    std::uint64_t oldSize = 0;
    std::uint64_t newSize = 0;
};

// Reads the first kHeaderSize bytes of a kept copy; ok is false if they are not a header.
Header parseHeader(const char* data, std::size_t size);

enum class Found {
    NewContent,   // the save's new content, complete
    OldContent,   // untouched: the content from before the save
    Torn,         // what a write cut off can leave: put the old content back
    ChangedSince, // another program wrote the file after the save was cut off: leave it
};

// What the file's bytes (now) are, given the kept old and new content. A save in place writes
// the new content over the old one from the start and then cuts the file to the new size; a
// kill leaves a prefix of the new content over the rest of the old one, and a power cut may
// write the pages back in any order and, past the old end, leave blocks of zero bytes that were
// never written. So a file is torn when its size lies between the two sizes and each byte is the
// old or the new content's byte at its place (past the old end, the new one's or a zero byte);
// an empty file is torn too, as some file systems leave a file cut short to nothing.
// Everything else was changed since.
Found classify(const char* now, std::size_t nowSize, const char* old, std::size_t oldSize, const char* neu,
               std::size_t newSize);

// The messages of recovery, with the paths as the system shows them.
namespace Say {

// "PATH: 上次保存时程序被中断，文件没有改动，…" / "…文件已从保留的副本恢复为保存前的内容。"
std::wstring restored(const std::wstring& path, bool untouched);
// The file changed since keeps its content; the old one was put at where.
std::wstring keptElsewhere(const std::wstring& path, const std::wstring& where);
// The same, but the old content could not be put elsewhere (why, may be empty): it stays at kept.
std::wstring notKeptElsewhere(const std::wstring& path, const std::wstring& kept, const std::wstring& why);
// The kept copy is not whole: nothing is touched.
std::wstring incomplete(const std::wstring& kept, const std::wstring& path);
// what failed on path, with the system's reason (may be empty); the old content is at kept.
std::wstring failed(const std::wstring& path, const std::wstring& what, const std::wstring& reason,
                    const std::wstring& kept);
// What refuses the kept copy (a FIFO, a device, a link) so that recovery never waits or follows.
std::wstring notRegular(const std::wstring& kept);

} // namespace Say

} // namespace KeptCopy
