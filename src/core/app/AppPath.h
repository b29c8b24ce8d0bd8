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

// What a copy of the program is: put in place by its installer (the Debian package, the
// Windows installer, `cmake --install`), or a folder of the user's (a build tree, an unzipped
// copy). Platform::installedMarker() names the file that tells them apart.
enum class CopyKind { Portable, Installed };

// The folder of the program's own files (IP.txt, Ping.txt, the result folders, backups). An
// installed copy keeps them in the user's data folder, whoever starts it (an administrator,
// root through sudo): one user has one folder for one installed program, and a folder of the
// system never gains files of a user. A portable copy keeps them beside itself when it can
// write there (executableDirWritable, asked once per start), otherwise in the user's data
// folder. Where the system names no user folder (empty), the executable's directory stays, so
// that a failure to write there is reported as before.
template <typename String>
String ownFilesDir(const String& executableDir, CopyKind kind, bool executableDirWritable,
                   const String& userDataDir)
{
    if (userDataDir.size() == 0)
        return executableDir;
    return kind == CopyKind::Portable && executableDirWritable ? executableDir : userDataDir;
}

} // namespace AppPath
