#pragma once

// The application directory: where the program keeps IP.txt, Ping.txt and the result folders.
// Header only and free of Qt, so that the plain Win32 tests check the same rule on
// std::wstring that the program applies to QString.
namespace AppPath {

// The application directory from the executable's directory as the system reports it: one
// separator is appended and every pair of separators is replaced by one, from left to right,
// resuming after each replaced pair, so a root such as "C:\" does not gain a second one. A
// leading pair, the start of a network path ("\\server\share"), is kept. An empty directory
// gives just the separator.
template <typename String, typename Char>
String fromReportedDir(const String& dir, Char separator)
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

// The folder of the program's own files (IP.txt, Ping.txt, the result folders, backups): the
// executable's directory when this user can write to it (the build tree, a copied folder),
// otherwise the user's data folder (an installed program in a folder of the system). Where the
// system names no user folder (empty), the executable's directory stays, so that a failure to
// write there is reported as before.
template <typename String>
String ownFilesDir(const String& executableDir, bool executableDirWritable, const String& userDataDir)
{
    return executableDirWritable || userDataDir.size() == 0 ? executableDir : userDataDir;
}

} // namespace AppPath
