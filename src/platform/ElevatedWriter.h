#pragma once

#include <QByteArray>
#include <QString>

class QIODevice;

#include <atomic>
#include <functional>

// Saving the hosts file on Windows with the administrator's rights: Tarvix.exe itself, started
// through the UAC prompt in its writer mode ("Tarvix.exe --write-hosts PIPE"), takes one frame
// (HostsHelper) from a pipe of the window's and saves the system hosts file through
// HostsWriter, as tarvix-hosts-helper does on Linux. Its exit status is a HostsHelper::Status.
namespace ElevatedWriter {

inline constexpr char kArgument[] = "--write-hosts";

struct Outcome {
    enum class Status {
        Ended,       // the writer ended: exitCode (a HostsHelper::Status) and said hold its answer
        Cancelled,   // the user declined the UAC prompt
        StartFailed, // the writer could not be started; error holds the system's reason
        TimedOut,    // no end in time; delivered says whether the writer had its whole input
    };
    Status status = Status::StartFailed;
    int exitCode = -1;
    QString said;
    QString error;
    bool delivered = false;
};

// Starts the writer with the administrator's rights, hands it frame and waits for its end, at
// most timeoutMs after the prompt was answered. Blocks: the window calls it on a thread beside
// itself. Once abandoned is set (the window stopped waiting), the writer gets no input.
using Start =
    std::function<Outcome(const QByteArray& frame, int timeoutMs, const std::atomic<bool>& abandoned)>;

// The system's start: ShellExecuteExW with "runas" on Windows; elsewhere StartFailed.
Outcome start(const QByteArray& frame, int timeoutMs, const std::atomic<bool>& abandoned);

// Whether the program was started in writer mode: its first argument is kArgument.
bool isWriterMode(int argc, char* argv[]);

// The writer mode: the arguments must be the program, kArgument and a pipe name that the
// window made, nothing else (no path: the file written is the system's hosts file, named
// here). Reads the frame from the pipe, saves it, sends the reason back and returns the exit
// status. Elsewhere than Windows returns HostsHelper::Usage.
// write is the save (HostsWriter::writeFromFrame), handed in from above the platform layer.
using WriteFrame = std::function<int(QIODevice* in, const QString& path, QString* error)>;
int runWriter(int argc, char* argv[], const WriteFrame& write);

} // namespace ElevatedWriter
