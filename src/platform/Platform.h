#pragma once

#include "platform/Command.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

// The only place that knows which operating system the program runs on. Everything else asks
// here for the executable's directory, the separator, the system's text encoding, line ends and
// for starting programs.
namespace Platform {

// The directory of the running executable as the system reports it: without a trailing
// separator, except for a root ("C:\", "/"). Empty if the system cannot say.
QString executableDir();

// The Qt platform plugin, with its options, that the program's window uses unless the user
// names one (QT_QPA_PLATFORM or -platform); empty for Qt's own choice. On Windows it is the
// DirectWrite font engine: the GDI engine leaves the text of line edits undrawn under Wine,
// and DirectWrite draws Chinese text more clearly.
QByteArray preferredQpaPlatform();

// The directory separator of this system: '\' on Windows, '/' elsewhere.
QChar separator();

// The hosts file of this system.
QString hostsPath();

// The name of the system's ANSI code page: on Windows the ANSI code page ("GBK" for 936),
// elsewhere the locale's character set ("UTF-8" when the locale names plain ASCII).
QByteArray ansiEncoding();

// Text to and from the system's ANSI code page through the system's own conversion, for a
// code page that Qt cannot name (a Qt without ICU knows only the Unicode encodings and
// Latin-1 by name). toSystemCodePage returns false if a character has no form there.
bool toSystemCodePage(QStringView text, QByteArray* out);
QString fromSystemCodePage(QByteArrayView bytes);
// True where the functions above are the way to the system's code page (Windows); elsewhere the
// code page is the locale's character set, which Qt converts by its name.
bool convertsCodePageItself();

// How file names are formed on this system: Windows forbids some characters that others allow.
enum class FileNames { Posix, Windows };
FileNames fileNames();

// The line end that a new text file gets: CR LF on Windows, LF elsewhere.
QByteArray lineEnd();

// An existing file in dir whose name equals name without regard to case, as Windows file names
// compare; name itself when there is none. Windows: dir + name.
QString resolveFileName(const QString& dir, const QString& name);

// Whether this process may write path, as the system answers: for an existing file whether it
// can be opened for writing, for a missing one whether its folder takes new files. Denied is
// the lack of rights (EACCES, EPERM on Unix, access denied on Windows), which an administrator
// can overcome; ReadOnly a read-only file system or medium, which nobody can; Other anything
// else (a missing folder, a file that is not a regular one).
enum class WriteAccess { Allowed, Denied, ReadOnly, Other };
WriteAccess writeAccess(const QString& path);

// True when this process can create files in the folder dir.
bool canWriteDirectory(const QString& dir);

// The file whose presence makes the copy of the program in executableDir an installed one
// (AppPath::CopyKind): tarvix-installed.txt, which the installers put in place and a build
// tree or an unzipped copy lacks. On Linux in ../share/tarvix/ from the program's folder
// (/usr/share/tarvix/ for /usr/bin), on Windows beside Tarvix.exe (written by the installer).
QString installedMarker(const QString& executableDir);

// How the system hosts file is written with the administrator's rights where the program
// itself lacks them. On Linux pkexec (found on PATH) starts tarvix-hosts-helper, whose path is
// arguments[0]; polkit asks for the password in the desktop's own dialog. On Windows the
// program (program) starts itself in its writer mode through the UAC prompt (ElevatedWriter).
struct Elevation {
    enum class Status {
        Unsupported, // no way to the administrator's rights: the program must run with them
        Ready,       // program and arguments start the helper
        Writer,      // Windows: ElevatedWriter starts program in its writer mode
        NoPkexec,    // no pkexec on PATH
        NoHelper,    // no helper beside the program nor under libexec; helperPath names the first
    };
    Status status = Status::Unsupported;
    QString program;
    QStringList arguments;
    QString helperPath;
};

// The helper is looked for as installed, in ../libexec/tarvix/ from the folder of the program
// (executableDir), then beside the program, as in the build tree.
Elevation hostsElevation(const QString& executableDir);

// Asks the system to back a large buffer that is about to be filled with large pages, so that
// filling it does not fault in thousands of small ones. A hint: does nothing where unsupported.
void adviseLargeBuffer(void* data, qsizetype bytes);

// Raises the number of files this process may hold open to the most the system allows it
// (Unix: the soft RLIMIT_NOFILE to the hard one), so that a batch of thousands of pings can
// hold a descriptor for each. Does nothing where there is no such limit or it cannot be raised.
void raiseFileLimit();

// What main returns once its own objects are gone. Windows: ends the process at once instead,
// after flushing the C streams, without the C runtime's exit handlers. With the mingw-w64
// thread library, the handler that deletes the key of thread_local destructors (registered by
// the first thread to use one, such as Qt's regular-expression stacks) can wait forever on the
// library's lock of keys after such threads have ended: the window closes and the process
// stays. Nothing is lost by skipping the handlers: what is left for them only frees memory.
// Unix: returns exitCode.
int endProcess(int exitCode);

// Creates one directory (not its parents). Returns true if it exists afterwards, made now or
// before; otherwise false and sets *error to the system's reason.
bool createDirectory(const QString& path, QString* error);

// How long a line appended through cmd (Windows) is waited for before the next command of its
// group starts anyway: a guard against a cmd that never ends, far beyond a slow start.
constexpr unsigned long kAppendLineLimitMs = 60000;

// Starts cmd: the process id, or the system's description of why it could not be started.
// Never runs a shell. Returns at once, except for a line appended through cmd (Windows), which
// is waited for until its cmd has ended (at most kAppendLineLimitMs), so that the lines of a
// result file stand in the order of their commands.
StartResult start(const Command& cmd);

// Ends a started ping at once, with everything it started: on Windows the job of its cmd (the
// ping under it too), on Unix the process. It writes nothing more. True if the system ended it
// (false for an empty handle, or a process that has already been collected).
bool stop(const ProcessHandle& process);

// What starts a command: start() above, or a stand-in of a test. It is called from several
// threads at once.
using Starter = std::function<StartResult(const Command&)>;

// Starts each group's commands in order through starter (start() when empty), the groups side
// by side on a few threads, and returns the result of each group's last command, in the order
// of the groups, its stillRunning set when any command of the group outlived its wait. A batch
// of a thousand pings thus does not wait on one process start after another.
QList<StartResult> startGroups(const QList<QList<Command>>& groups, const Starter& starter = Starter());

} // namespace Platform
