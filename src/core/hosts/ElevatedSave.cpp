#include "core/hosts/ElevatedSave.h"

#include "platform/HostsHelper.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QProcess>
#include <QThread>

#include <atomic>

#include <memory>

namespace ElevatedSave {

namespace {

QString seconds(int ms)
{
    return QString::number((ms + 999) / 1000);
}

// What the finished pkexec said, as the user reads it.
bool outcome(QProcess& process, const QString& program, const QString& helper, QString* error)
{
    const QString said = QString::fromUtf8(process.readAllStandardError()).trimmed();
    const QString more = said.isEmpty() ? QString() : QStringLiteral("\r\n") + said;
    if (process.exitStatus() == QProcess::CrashExit) {
        *error = QStringLiteral("%1 异常结束").arg(program) + more;
        return false;
    }
    switch (process.exitCode()) {
    case HostsHelper::Written:
        return true;
    case 126: // pkexec: the password dialog was dismissed
        *error = QStringLiteral("管理员授权已取消，HOST文件没有改动。");
        return false;
    case 127: // pkexec: not authorised, or the helper could not be run
        *error = QStringLiteral("没有得到管理员授权，HOST文件没有改动。") + more;
        return false;
    default: // the helper's own report, the system's reason included
        *error =
            said.isEmpty() ? QStringLiteral("%1 失败，结束码 %2").arg(helper).arg(process.exitCode()) : said;
        return false;
    }
}

// Whether the content can be handed to the helper at all; otherwise false with the reason
// added to *error.
bool canHandOver(const Platform::Elevation& elevation, const QByteArray& base, const QByteArray& bytes,
                 QString* error)
{
    switch (elevation.status) {
    case Platform::Elevation::Status::Unsupported:
        return false;
    case Platform::Elevation::Status::NoPkexec:
        *error += QStringLiteral(
            "\r\n没有找到 pkexec，无法请求管理员权限。请安装 pkexec（polkit），或以管理员身份运行本程序。");
        return false;
    case Platform::Elevation::Status::NoHelper:
        *error += QStringLiteral("\r\n没有找到 %1，无法请求管理员权限。")
                      .arg(QDir::toNativeSeparators(elevation.helperPath));
        return false;
    case Platform::Elevation::Status::Ready:
    case Platform::Elevation::Status::Writer:
        break;
    }
    if (bytes.size() > HostsHelper::kMaxContent || base.size() > HostsHelper::kMaxContent) {
        *error +=
            QStringLiteral("\r\n新内容超过 %1 字节，不能经由管理员权限保存。").arg(HostsHelper::kMaxContent);
        return false;
    }
    return true;
}

// Waits for the process's end, at most timeoutMs. True if it ended.
bool waitForEnd(QProcess& process, int timeoutMs)
{
    return process.state() == QProcess::NotRunning || process.waitForFinished(timeoutMs);
}

// The writer started through the UAC prompt (Windows). The start blocks while the prompt is
// shown, so it runs on a thread of its own. A start that outlives the time given (a prompt left
// open) is abandoned: the writer gets no input when the prompt is answered.
bool runWriter(const QString& program, const ElevatedWriter::Start& start, const QByteArray& base,
               const QByteArray& bytes, int timeoutMs, QString* error, OpenPrompts* openPrompts, bool* unknown)
{
    struct Shared {
        std::atomic<bool> abandoned{false};
        ElevatedWriter::Outcome outcome;
    };
    const auto shared = std::make_shared<Shared>();
    const ElevatedWriter::Start run = start ? start : ElevatedWriter::start;
    std::unique_ptr<QThread> thread(
        QThread::create([shared, run, frame = HostsHelper::frame(base, bytes), timeoutMs] {
            shared->outcome = run(frame, timeoutMs, shared->abandoned);
        }));
    thread->start();
    // The writer's own waits end at timeoutMs after the prompt; a little more for its report.
    if (!thread->wait(QDeadlineTimer(timeoutMs + 2000))) {
        shared->abandoned = true;
        if (openPrompts)
            openPrompts->adopt(std::move(thread));
        else
            thread->wait();
        *error = QStringLiteral("等待管理员授权超时（%1 秒），保存是否完成不得而知，请重新读取HOST文件。")
                     .arg(seconds(timeoutMs));
        *unknown = true;
        return false;
    }
    thread.reset();

    const ElevatedWriter::Outcome& outcome = shared->outcome;
    const QString name =
        program.mid(qMax(program.lastIndexOf(QLatin1Char('/')), program.lastIndexOf(QLatin1Char('\\'))) + 1);
    switch (outcome.status) {
    case ElevatedWriter::Outcome::Status::Ended:
        if (outcome.exitCode == HostsHelper::Written)
            return true;
        *error =
            outcome.said.isEmpty()
                ? QStringLiteral("%1 写入失败，结束码 %2，HOST文件没有改动。").arg(name).arg(outcome.exitCode)
                : outcome.said;
        return false;
    case ElevatedWriter::Outcome::Status::Cancelled:
        *error = QStringLiteral("管理员授权已取消，HOST文件没有改动。");
        return false;
    case ElevatedWriter::Outcome::Status::StartFailed:
        *error += QStringLiteral("\r\n无法以管理员身份启动 %1: %2").arg(name, outcome.error);
        return false;
    case ElevatedWriter::Outcome::Status::TimedOut:
        *unknown = outcome.delivered;
        *error =
            outcome.delivered
                ? QStringLiteral("等待管理员授权超时（%1 秒），保存是否完成不得而知，请重新读取HOST文件。")
                : QStringLiteral("等待管理员授权超时（%1 秒），已放弃保存，HOST文件没有改动。");
        *error = error->arg(seconds(timeoutMs));
        return false;
    }
    return false;
}

} // namespace

OpenPrompts::~OpenPrompts()
{
    for (const std::unique_ptr<QThread>& thread : m_threads)
        thread->wait();
}

void OpenPrompts::adopt(std::unique_ptr<QThread> thread)
{
    const QMutexLocker locker(&m_lock);
    m_threads.push_back(std::move(thread));
}

bool run(const Platform::Elevation& elevation, const QByteArray& base, const QByteArray& bytes, int timeoutMs,
         QString* error, const ElevatedWriter::Start& startWriter, OpenPrompts* openPrompts, bool* unknownOutcome)
{
    bool ignored = false;
    bool* unknown = unknownOutcome ? unknownOutcome : &ignored;
    if (!canHandOver(elevation, base, bytes, error))
        return false;
    if (elevation.status == Platform::Elevation::Status::Writer)
        return runWriter(elevation.program, startWriter, base, bytes, timeoutMs, error, openPrompts, unknown);

    // pkexec shows polkit's password dialog and then runs the helper, which reads the content
    // from its standard input.
    QProcess process;
    process.setProgram(elevation.program);
    process.setArguments(elevation.arguments);
    process.setStandardOutputFile(QProcess::nullDevice());
    process.start();
    if (!process.waitForStarted()) {
        *error += QStringLiteral("\r\n无法启动 %1: %2").arg(elevation.program, process.errorString());
        return false;
    }
    process.write(HostsHelper::frame(base, bytes));
    process.closeWriteChannel();
    if (waitForEnd(process, timeoutMs))
        return outcome(process, elevation.program, elevation.arguments.value(0), error);

    // No answer in time: pkexec is stopped while it waits for the password. A helper that
    // already runs as root cannot be stopped from here; its outcome is waited for.
    process.kill();
    if (!waitForEnd(process, 30 * 1000)) {
        *error = QStringLiteral("等待管理员授权超时（%1 秒），保存是否完成不得而知，请重新读取HOST文件。")
                     .arg(seconds(timeoutMs));
        *unknown = true;
        return false;
    }
    if (process.exitStatus() == QProcess::CrashExit) {
        *error = QStringLiteral("等待管理员授权超时（%1 秒），已放弃保存，HOST文件没有改动。")
                     .arg(seconds(timeoutMs));
        return false;
    }
    return outcome(process, elevation.program, elevation.arguments.value(0), error);
}

} // namespace ElevatedSave
