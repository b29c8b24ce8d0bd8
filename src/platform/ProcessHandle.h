#pragma once

#include <QMetaType>
#include <QtGlobal>

#include <memory>

// A started process that the program holds on to, so that it learns when the process ends: a
// pidfd on Linux, the process HANDLE on Windows, taken from the start itself and never looked up
// by process id afterwards (an id may already name another process). Copies share the one
// descriptor, which is closed when the last copy goes; the process itself runs on. An empty
// handle (from a start that gave none, or from a test's stand-in starter) is never watched.
class ProcessHandle
{
public:
    ProcessHandle() = default;

    // Takes over native, the open descriptor of the process pid, and group, the job that holds
    // it and the processes it starts (Windows; -1 for none).
    static ProcessHandle adopt(qint64 pid, qintptr native, qintptr group = -1);

    bool isValid() const { return d != nullptr; }
    qint64 pid() const { return d ? d->pid : 0; }
    qintptr native() const { return d ? d->native : -1; }
    qintptr group() const { return d ? d->group : -1; }

    // Records that the process has been reaped (Unix), so that nothing is left to collect when
    // the last copy goes.
    void setReaped() const;
    bool isReaped() const { return d && d->reaped; }

private:
    struct Data
    {
        qint64 pid = 0;
        qintptr native = -1;
        qintptr group = -1;
        bool reaped = false;
        ~Data(); // closes native and group; on Unix, an unreaped process is left to be reaped later
    };
    std::shared_ptr<Data> d;
};

// How a watched process ended.
struct ProcessEnd
{
    enum class Kind {
        Exited,  // code is its exit status
        Killed,  // code is the signal that ended it (Unix)
        Unknown, // the system could not say
    };
    Kind kind = Kind::Unknown;
    int code = 0;
};

Q_DECLARE_METATYPE(ProcessEnd)
