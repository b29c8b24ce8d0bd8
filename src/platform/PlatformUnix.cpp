// The platform layer on Linux and other Unix systems: no cmd, notepad or explorer, so the
// meaning of their command lines is carried out directly, without any shell.
#include "platform/Platform.h"

#include "platform/HostsHelper.h"
#include "platform/TextCodec.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QStringDecoder>
#include <QStringEncoder>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <vector>

#include <errno.h>
#include <fcntl.h>
#include <langinfo.h>
#include <locale.h>
#include <signal.h>
#include <spawn.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace Platform {

QString executableDir()
{
    // /proc/self/exe names the executable even before a QCoreApplication exists.
    const QString exe = QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget();
    if (!exe.isEmpty())
        return QFileInfo(exe).absolutePath();
    return QCoreApplication::applicationDirPath();
}

QByteArray preferredQpaPlatform()
{
    return QByteArray();
}

QChar separator()
{
    return QLatin1Char('/');
}

QString hostsPath()
{
    return QStringLiteral("/etc/hosts");
}

QByteArray ansiEncoding()
{
    static const QByteArray name = [] {
        setlocale(LC_CTYPE, "");
        QByteArray codeset = nl_langinfo(CODESET);
        // A plain C or POSIX locale says ASCII; its files are UTF-8 in practice, as Qt assumes.
        if (codeset.isEmpty() || codeset == "ANSI_X3.4-1968" || codeset == "ASCII" || codeset == "US-ASCII")
            codeset = "UTF-8";
        return codeset;
    }();
    return name;
}

bool toSystemCodePage(QStringView text, QByteArray* out)
{
    QStringEncoder encoder(QStringConverter::System, QStringConverter::Flag::Stateless);
    *out = encoder.encode(text);
    return !encoder.hasError();
}

QString fromSystemCodePage(QByteArrayView bytes)
{
    return QStringDecoder(QStringConverter::System, QStringConverter::Flag::Stateless).decode(bytes);
}

bool convertsCodePageItself()
{
    return false;
}

FileNames fileNames()
{
    return FileNames::Posix;
}

QByteArray lineEnd()
{
    return QByteArrayLiteral("\n");
}

QString resolveFileName(const QString& dir, const QString& name)
{
    const QString exact = dir + name;
    if (QFileInfo::exists(exact))
        return exact;
    const QStringList entries = QDir(dir).entryList(QDir::Files | QDir::Hidden | QDir::System);
    for (const QString& entry : entries) {
        if (entry.compare(name, Qt::CaseInsensitive) == 0)
            return dir + entry;
    }
    return exact;
}

namespace {

WriteAccess accessFromErrno(int code)
{
    switch (code) {
    case EACCES:
    case EPERM:
        return WriteAccess::Denied;
    case EROFS:
        return WriteAccess::ReadOnly;
    default:
        return WriteAccess::Other;
    }
}

} // namespace

WriteAccess writeAccess(const QString& path)
{
    const QByteArray name = QFile::encodeName(path);
    struct stat st;
    if (stat(name.constData(), &st) != 0) {
        if (errno != ENOENT)
            return accessFromErrno(errno);
        // A missing file: whether its folder takes a new one. AT_EACCESS: the rights this
        // process writes with, not those of the user who started it.
        const QByteArray folder = QFile::encodeName(QFileInfo(path).path());
        if (faccessat(AT_FDCWD, folder.constData(), W_OK | X_OK, AT_EACCESS) == 0)
            return WriteAccess::Allowed;
        return accessFromErrno(errno);
    }
    if (!S_ISREG(st.st_mode))
        return WriteAccess::Other;
    // The kernel answers with the rights a write would meet (mode bits, ACLs, an immutable
    // file, a read-only mount), without opening the file, which those who watch it would see.
    if (faccessat(AT_FDCWD, name.constData(), W_OK, AT_EACCESS) == 0)
        return WriteAccess::Allowed;
    return accessFromErrno(errno);
}

bool canWriteDirectory(const QString& dir)
{
    const QByteArray name = QFile::encodeName(dir);
    struct stat st;
    return !dir.isEmpty() && stat(name.constData(), &st) == 0 && S_ISDIR(st.st_mode) &&
           faccessat(AT_FDCWD, name.constData(), W_OK | X_OK, AT_EACCESS) == 0;
}

QString installedMarker(const QString& executableDir)
{
    return QDir::cleanPath(executableDir +
                           QStringLiteral("/" TARVIX_MARKER_DIR_FROM_BIN "/tarvix-installed.txt"));
}

Elevation hostsElevation(const QString& executableDir)
{
    Elevation e;
    const QString name = QString::fromLatin1(HostsHelper::kProgramName);
    // pkexec matches the path against the polkit action's, so it must be clean: no "..".
    const QStringList candidates = {
        QDir::cleanPath(executableDir + QStringLiteral("/" TARVIX_HELPER_DIR_FROM_BIN "/") + name),
        QDir::cleanPath(executableDir + QLatin1Char('/') + name),
    };
    e.helperPath = candidates.first();
    for (const QString& candidate : candidates) {
        const QFileInfo info(candidate);
        if (info.isFile() && info.isExecutable()) {
            e.helperPath = candidate;
            break;
        }
    }
    e.program = QStandardPaths::findExecutable(QStringLiteral("pkexec"));
    if (e.program.isEmpty())
        e.status = Elevation::Status::NoPkexec;
    else if (!QFileInfo(e.helperPath).isExecutable())
        e.status = Elevation::Status::NoHelper;
    else
        e.status = Elevation::Status::Ready;
    e.arguments = QStringList{e.helperPath};
    return e;
}

void adviseLargeBuffer(void* data, qsizetype bytes)
{
#ifdef MADV_HUGEPAGE
    constexpr quintptr huge = 2 * 1024 * 1024;
    const quintptr begin = (reinterpret_cast<quintptr>(data) + huge - 1) & ~(huge - 1);
    const quintptr end = (reinterpret_cast<quintptr>(data) + static_cast<quintptr>(bytes)) & ~(huge - 1);
    if (end > begin)
        madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#else
    Q_UNUSED(data);
    Q_UNUSED(bytes);
#endif
}

void raiseFileLimit()
{
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
}

int endProcess(int exitCode)
{
    return exitCode;
}

bool createDirectory(const QString& path, QString* error)
{
    if (::mkdir(QFile::encodeName(path).constData(), 0777) == 0)
        return true;
    const int code = errno;
    if (code == EEXIST && QFileInfo(path).isDir())
        return true;
    *error = QDir::toNativeSeparators(path) + QStringLiteral(": ") + QString::fromLocal8Bit(strerror(code));
    return false;
}

namespace {

// Children that nobody watches (the desktop's opener, a ping whose pidfd could not be had, a
// ping whose watcher has gone) are reaped when the next one starts, so that none lingers long
// as a zombie; the program never waits for one.
std::vector<pid_t>& children()
{
    static std::vector<pid_t> list;
    return list;
}

std::mutex& childrenLock()
{
    static std::mutex lock;
    return lock;
}

// The system call itself: glibc's wrapper came late (2.36) and its header then lacked C linkage
// for C++.
int openPidfd(pid_t pid)
{
#ifdef SYS_pidfd_open
    return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
#else
    Q_UNUSED(pid);
    errno = ENOSYS;
    return -1;
#endif
}

// The pidfds held now. A batch of thousands would otherwise take every descriptor the process
// may open, and then the result files, the summary table and the window's own could not be
// opened; past the budget a child is watched without one.
std::atomic<int> openPidfds{0};

// Descriptors kept free of pidfds for everything else the program opens.
constexpr rlim_t kReservedDescriptors = 256;

bool pidfdBudgetLeft()
{
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        return true;
    return limit.rlim_cur > kReservedDescriptors
           && rlim_t(openPidfds.load()) < limit.rlim_cur - kReservedDescriptors;
}

void reapLater(pid_t pid)
{
    const std::lock_guard<std::mutex> guard(childrenLock());
    children().push_back(pid);
}

// Starts program with args in a session of its own, standard input from /dev/null and
// standard output and error appended to outFile (/dev/null if empty). posix_spawn does not
// copy the program's memory as fork does, which keeps a batch of a thousand starts quick.
// With watchable, the result carries a handle of the child: a pidfd opened right after the
// start (the child is this program's own and unreaped, so its id cannot name another process
// yet), or, past the pidfd budget or without pidfds, its id alone, which the watcher polls.
StartResult spawn(const QString& program, const QStringList& args, const QString& outFile,
                  bool watchable = false)
{
    StartResult result;
    {
        const std::lock_guard<std::mutex> guard(childrenLock());
        auto& list = children();
        list.erase(std::remove_if(list.begin(), list.end(),
                                  [](pid_t pid) { return waitpid(pid, nullptr, WNOHANG) != 0; }),
                   list.end());
    }

    const QString path = QStandardPaths::findExecutable(program);
    if (path.isEmpty()) {
        result.error = QStringLiteral("%1: program not found").arg(program);
        return result;
    }
    std::vector<QByteArray> encoded;
    encoded.push_back(QFile::encodeName(path));
    for (const QString& a : args)
        encoded.push_back(QFile::encodeName(a));
    std::vector<char*> argv;
    for (QByteArray& a : encoded)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    const QByteArray out = outFile.isEmpty() ? QByteArray("/dev/null") : QFile::encodeName(outFile);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out.constData(), O_WRONLY | O_APPEND | O_CREAT, 0666);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &all);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    pid_t pid = 0;
    const int rc = posix_spawn(&pid, argv[0], &actions, &attr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    if (rc != 0) {
        result.error = QStringLiteral("%1: %2").arg(program, QString::fromLocal8Bit(strerror(rc)));
        if (!outFile.isEmpty())
            result.error += QStringLiteral(" (") + QDir::toNativeSeparators(outFile) + QLatin1Char(')');
        return result;
    }
    result.ok = true;
    result.pid = pid;
    if (!watchable) {
        reapLater(pid);
        return result;
    }
    // pidfds are always close-on-exec, so later children do not inherit this one.
    const int pidfd = pidfdBudgetLeft() ? openPidfd(pid) : -1;
    if (pidfd >= 0)
        ++openPidfds;
    result.process = ProcessHandle::adopt(pid, pidfd);
    return result;
}

StartResult openWithDesktop(const QString& path)
{
    return spawn(QStringLiteral("xdg-open"), {path}, QString());
}

// echo text>>"path": append one line to the file, as cmd would, but without a process.
StartResult appendLine(const QString& path, const QString& text)
{
    StartResult result;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append)) {
        result.error = file.errorString();
        return result;
    }
    const QByteArray line = TextCodec().encode(text) + lineEnd();
    result.ok = file.write(line) == line.size();
    if (!result.ok)
        result.error = file.errorString();
    return result;
}

// ping's output goes where cmd's >> sends it: appended to the result file. -O makes iputils
// write a line for each request that got no reply in time ("no answer yet for icmp_seq=N"), as
// Windows' ping does, so that a target that stops answering shows at once in the live counts
// rather than only when a later reply leaves a gap in the numbers.
StartResult ping(const Command& cmd)
{
    return spawn(QStringLiteral("ping"), QStringList{QStringLiteral("-O"), QStringLiteral("-c"), cmd.count} + cmd.words,
                 cmd.path, true);
}

} // namespace

bool stop(const ProcessHandle& process)
{
    // The child is this program's own and unreaped until its watcher has collected it, so its
    // id names no other process. SIGKILL, as ping writes its statistics on SIGINT and SIGTERM's
    // handler could still write: a stopped run adds nothing more to its result file.
    if (!process.isValid() || process.pid() <= 0 || process.isReaped())
        return false;
    return ::kill(static_cast<pid_t>(process.pid()), SIGKILL) == 0;
}

StartResult start(const Command& cmd)
{
    switch (cmd.kind) {
    case Command::Kind::OpenFile:
    case Command::Kind::OpenFolder:
        return openWithDesktop(cmd.path);
    case Command::Kind::AppendLine:
        return appendLine(cmd.path, cmd.text);
    case Command::Kind::Ping:
        return ping(cmd);
    }
    return {};
}

} // namespace Platform

ProcessHandle::Data::~Data()
{
    if (native >= 0) {
        ::close(static_cast<int>(native));
        --Platform::openPidfds;
    }
    if (!reaped && pid > 0)
        Platform::reapLater(static_cast<pid_t>(pid)); // running still, or ended and not collected
}
