#pragma once

#include "platform/ElevatedWriter.h"
#include "platform/Platform.h"

#include <QByteArray>
#include <QMutex>
#include <QString>

#include <memory>
#include <vector>

class QThread;

// Saving the system hosts file with the administrator's rights, where the window lacks them.
namespace ElevatedSave {

// Hands base (the file as the save read it) and bytes (the merged result), framed by
// HostsHelper::frame, to a writer with the administrator's rights, which merges them again
// against the file as it is when it writes: on Linux the hosts helper through elevation (pkexec
// and the helper's path), which asks for the password in the desktop's own dialog; on Windows
// (Elevation::Status::Writer) the program's writer mode through the UAC prompt, started by
// startWriter (empty: ElevatedWriter::start). Blocks up to timeoutMs for the outcome: the
// caller runs it beside the window (HostsSaveService). Returns true when the writer wrote the file. Otherwise
// returns false and sets *error to what the user is told: the reason of the direct save (the
// text *error holds on entry) with a hint where pkexec, the helper or the start is missing, or
// why the save through the writer did not happen (prompt cancelled, not authorised, timed out,
// the writer's own report). Unsupported elevation leaves *error as it is. *unknownOutcome (if
// given) is set when the writer may still write: it had its input but did not end in time.
// A UAC prompt left open past the time given is abandoned (the writer gets no input when it
// is answered), but its thread still waits for the answer: openPrompts (may be null: then the
// call waits for it) holds it until its owner ends.
class OpenPrompts;
bool run(const Platform::Elevation& elevation, const QByteArray& base, const QByteArray& bytes, int timeoutMs,
         QString* error, const ElevatedWriter::Start& startWriter = ElevatedWriter::Start(),
         OpenPrompts* openPrompts = nullptr, bool* unknownOutcome = nullptr);

// The threads of prompts left open, joined when it ends.
class OpenPrompts
{
public:
    OpenPrompts() = default;
    OpenPrompts(const OpenPrompts&) = delete;
    OpenPrompts& operator=(const OpenPrompts&) = delete;
    ~OpenPrompts();
    void adopt(std::unique_ptr<QThread> thread);

private:
    QMutex m_lock;
    std::vector<std::unique_ptr<QThread>> m_threads;
};

} // namespace ElevatedSave
