#include "platform/KeptCopy.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace KeptCopy {

namespace {

const char kMagic[] = "TARVIX-KEPT 2\n";
const wchar_t kInterrupted[] = L"上次保存时程序被中断，";

bool digits(const char* p, std::uint64_t* value)
{
    std::uint64_t v = 0;
    for (int i = 0; i < 20; ++i) {
        if (p[i] < '0' || p[i] > '9')
            return false;
        v = v * 10 + std::uint64_t(p[i] - '0');
    }
    *value = v;
    return true;
}

} // namespace

std::string header(std::uint64_t oldSize, std::uint64_t newSize)
{
    char text[kHeaderSize + 1];
    std::snprintf(text, sizeof text, "%sold %020llu\nnew %020llu\n\n", kMagic,
                  static_cast<unsigned long long>(oldSize), static_cast<unsigned long long>(newSize));
    return std::string(text, kHeaderSize);
}

Header parseHeader(const char* data, std::size_t size)
{
    Header h;
    if (size < kHeaderSize || std::memcmp(data, kMagic, 14) != 0 || std::memcmp(data + 14, "old ", 4) != 0 ||
        data[38] != '\n' || std::memcmp(data + 39, "new ", 4) != 0 || data[63] != '\n' || data[64] != '\n')
        return h;
    h.ok = digits(data + 18, &h.oldSize) && digits(data + 43, &h.newSize);
    return h;
}

Found classify(const char* now, std::size_t nowSize, const char* old, std::size_t oldSize, const char* neu,
               std::size_t newSize)
{
    if (nowSize == newSize && std::memcmp(now, neu, newSize) == 0)
        return Found::NewContent;
    if (nowSize == oldSize && std::memcmp(now, old, oldSize) == 0)
        return Found::OldContent;
    if (nowSize == 0)
        return Found::Torn;
    if (nowSize < std::min(oldSize, newSize) || nowSize > std::max(oldSize, newSize))
        return Found::ChangedSince;
    for (std::size_t i = 0; i < nowSize; ++i) {
        const char c = now[i];
        const bool fits = (i < oldSize ? c == old[i] : c == 0) || (i < newSize && c == neu[i]);
        if (!fits)
            return Found::ChangedSince;
    }
    return Found::Torn;
}

namespace Say {

std::wstring restored(const std::wstring& path, bool untouched)
{
    return path + L": " + kInterrupted +
           (untouched ? L"文件没有改动，仍是保存前的内容。" : L"文件已从保留的副本恢复为保存前的内容。");
}

std::wstring keptElsewhere(const std::wstring& path, const std::wstring& where)
{
    return path + L": " + kInterrupted + L"之后文件又被修改过，文件保持现在的内容；保存前的内容已放在 " +
           where;
}

std::wstring notKeptElsewhere(const std::wstring& path, const std::wstring& kept, const std::wstring& why)
{
    return path + L": " + kInterrupted + L"之后文件又被修改过，文件保持现在的内容。\r\n保存前的内容在 " +
           kept + (why.empty() ? std::wstring() : L"\r\n" + why);
}

std::wstring incomplete(const std::wstring& kept, const std::wstring& path)
{
    return kept + L": " + kInterrupted + L"保留的原内容副本不完整，请查看它和 " + path;
}

std::wstring failed(const std::wstring& path, const std::wstring& what, const std::wstring& reason,
                    const std::wstring& kept)
{
    return path + L": " + kInterrupted + what + (reason.empty() ? std::wstring() : L": " + reason) +
           L"\r\n保存前的内容在 " + kept;
}

std::wstring notRegular(const std::wstring& kept)
{
    return kept + L": " + kInterrupted +
           L"但这里不是普通文件（管道、设备或链接），不读取也不改动它，请查看并删除它";
}

} // namespace Say

} // namespace KeptCopy
