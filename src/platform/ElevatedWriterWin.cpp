#include "platform/ElevatedWriter.h"

#include "platform/HostsHelper.h"
#include "platform/Platform.h"
#include "platform/win32/WinApi.h"

#include <QBuffer>
#include <QDir>

#include <cstring>

namespace ElevatedWriter {

Outcome start(const QByteArray& frame, int timeoutMs, const std::atomic<bool>& abandoned)
{
    const std::wstring pipe = winapi::newPipeName();
    const std::wstring parameters = QString::fromLatin1(kArgument).toStdWString() + L" " + pipe;
    const winapi::ElevatedRun run =
        winapi::runElevated(L"runas", winapi::executablePath(), parameters, pipe, frame.constData(),
                            size_t(frame.size()), static_cast<unsigned long>(timeoutMs), &abandoned);
    Outcome outcome;
    outcome.exitCode = int(run.exitCode);
    outcome.said = QString::fromUtf8(run.answer.data(), qsizetype(run.answer.size())).trimmed();
    outcome.error = QString::fromStdWString(run.error);
    outcome.delivered = run.delivered;
    switch (run.status) {
    case winapi::ElevatedRun::Status::Ended:
        outcome.status = Outcome::Status::Ended;
        break;
    case winapi::ElevatedRun::Status::Cancelled:
        outcome.status = Outcome::Status::Cancelled;
        break;
    case winapi::ElevatedRun::Status::StartFailed:
        outcome.status = Outcome::Status::StartFailed;
        break;
    case winapi::ElevatedRun::Status::TimedOut:
        outcome.status = Outcome::Status::TimedOut;
        break;
    }
    return outcome;
}

bool isWriterMode(int argc, char* argv[])
{
    return argc >= 2 && std::strcmp(argv[1], kArgument) == 0;
}

int runWriter(int argc, char* argv[], const WriteFrame& write)
{
    const QString path = QDir::toNativeSeparators(Platform::hostsPath());
    const std::wstring pipe = argc == 3 ? QString::fromLocal8Bit(argv[2]).toStdWString() : std::wstring();
    // Only a pipe of the window's: an argument that names a file (or anything else) is refused,
    // so the writer can be made to write nothing but the system's hosts file.
    if (argc != 3 || !winapi::isPipeName(pipe))
        return HostsHelper::Usage;

    std::string bytes;
    std::wstring reason;
    // The frame's header line is at most 36 bytes; one byte more than a frame of the largest
    // content shows that there was more.
    if (!winapi::readFromWindow(pipe, size_t(HostsHelper::kMaxContent) + 64, &bytes, &reason)) {
        const QString said = QStringLiteral("无法读取窗口送来的内容: ") + QString::fromStdWString(reason) +
                             QStringLiteral("，") + path + QStringLiteral(" 没有改动。");
        winapi::answerWindow(pipe, said.toStdString());
        return HostsHelper::ReadFailed;
    }
    QByteArray frame = QByteArray::fromStdString(bytes);
    bytes = std::string();
    QBuffer in(&frame);
    in.open(QIODevice::ReadOnly);
    QString error;
    const int status = write(&in, path, &error);
    winapi::answerWindow(pipe, status == HostsHelper::Written ? std::string() : error.toStdString());
    return status;
}

} // namespace ElevatedWriter
