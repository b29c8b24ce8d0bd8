// Unix: the kernel makes a pidfd readable when its process has ended; the event loop's
// QSocketNotifier reports it, and waitpid collects the exit status and reaps the process.
#include "platform/ProcessWatcher.h"

#include <QSocketNotifier>

#include <errno.h>
#include <sys/wait.h>

QObject* ProcessWatcher::createNotifier(quint64 id, const ProcessHandle& process)
{
    auto* notifier = new QSocketNotifier(process.native(), QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, [this, id] { ended(id); });
    return notifier;
}

void ProcessWatcher::stopNotifier(QObject* notifier)
{
    static_cast<QSocketNotifier*>(notifier)->setEnabled(false);
}

ProcessEnd ProcessWatcher::collect(const ProcessHandle& process)
{
    ProcessEnd end;
    int status = 0;
    pid_t got = 0;
    do {
        // The pidfd is readable only once the process has ended, so this does not wait.
        got = waitpid(static_cast<pid_t>(process.pid()), &status, WNOHANG);
    } while (got < 0 && errno == EINTR);
    if (got != process.pid())
        return end; // not collectable here; an unreaped process is left to be reaped later
    process.setReaped();
    if (WIFEXITED(status)) {
        end.kind = ProcessEnd::Kind::Exited;
        end.code = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        end.kind = ProcessEnd::Kind::Killed;
        end.code = WTERMSIG(status);
    }
    return end;
}
