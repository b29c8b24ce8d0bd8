#pragma once

// The rule that turns the executable's directory into the application directory, on any
// string type (QString in the program, std::wstring in the plain Win32 tests).
namespace AppPathRule {

// Appends one separator and replaces every pair of separators by one, from left to right,
// resuming after each replaced pair. A leading pair (a network path, \\server\share) is kept.
template <typename String, typename Char>
String apply(const String& dir, Char separator)
{
    String prefix;
    String rest = dir;
    if (dir.size() > 2 && dir[0] == separator && dir[1] == separator) {
        // Collapsing the pair would turn \\server\share into \server\share, a folder on the
        // current drive.
        prefix = String(dir.data(), 2);
        rest = String(dir.data() + 2, dir.size() - 2);
    }
    rest += separator;

    String out = prefix;
    for (decltype(rest.size()) i = 0; i < rest.size(); ++i) {
        out += rest[i];
        if (rest[i] == separator && i + 1 < rest.size() && rest[i + 1] == separator)
            ++i; // the pair becomes one
    }
    return out;
}

} // namespace AppPathRule
