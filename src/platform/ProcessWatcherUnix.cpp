// Unix: the kernel makes a pidfd readable when its process has ended; the event loop's
// QSocketNotifier reports it, and waitpid collects the exit status and reaps the process.
#include "platform/ProcessWatcher.h"

#include <QSocketNotifier>
#include <QTimer>

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

namespace {

// Collects the exit status of process if it has ended, without waiting: true and *end set if it
// was reaped now.
bool reapIfEnded(const ProcessHandle& process, ProcessEnd* end)
{
    int status = 0;
    pid_t got = 0;
    do {
        got = waitpid(static_cast<pid_t>(process.pid()), &status, WNOHANG);
    } while (got < 0 && errno == EINTR);
    if (got != process.pid())
        return false;
    process.setReaped();
    if (WIFEXITED(status)) {
        end->kind = ProcessEnd::Kind::Exited;
        end->code = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        end->kind = ProcessEnd::Kind::Killed;
        end->code = WTERMSIG(status);
    }
    return true;
}

// How often a child without a pidfd is asked whether it has ended: its end entry comes at most
// this much later, and a tick costs one waitpid per such child.
constexpr int kPollMs = 50;

} // namespace

ProcessEnd ProcessWatcher::collect(const ProcessHandle& process)
{
    // The pidfd is readable only once the process has ended, so this does not wait. A process
    // not collectable here is left unreaped, to be reaped later.
    ProcessEnd end;
    reapIfEnded(process, &end);
    return end;
}

bool ProcessWatcher::startPolling(quint64 id)
{
    // The child is this program's own and stays unreaped until waitpid collects it here, so its
    // id cannot name another process meanwhile.
    m_polled.insert(id);
    if (!m_pollTimer) {
        m_pollTimer = new QTimer(this);
        m_pollTimer->setInterval(kPollMs);
        connect(m_pollTimer, &QTimer::timeout, this, &ProcessWatcher::pollEnds);
    }
    if (!m_pollTimer->isActive())
        m_pollTimer->start();
    return true;
}

void ProcessWatcher::pollEnds()
{
    const QList<quint64> ids(m_polled.cbegin(), m_polled.cend());
    for (quint64 id : ids) {
        ProcessEnd end;
        if (reapIfEnded(m_watched.value(id).process, &end))
            finish(id, end);
    }
    if (m_polled.isEmpty())
        m_pollTimer->stop();
}
