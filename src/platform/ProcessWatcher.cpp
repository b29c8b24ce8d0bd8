#include "platform/ProcessWatcher.h"

// The parts that differ by system (the notifier, collecting the exit status, polling) are in
// ProcessWatcherUnix.cpp and ProcessWatcherWin.cpp.

ProcessWatcher::ProcessWatcher(QObject* parent)
    : QObject(parent)
{
    qRegisterMetaType<ProcessEnd>();
}

ProcessWatcher::~ProcessWatcher()
{
    // The notifiers go before the descriptors they watch are closed.
    for (const Watched& w : std::as_const(m_watched)) {
        if (w.notifier) {
            stopNotifier(w.notifier);
            delete w.notifier;
        }
    }
    m_watched.clear();
}

bool ProcessWatcher::watch(quint64 id, const ProcessHandle& process)
{
    if (!process.isValid() || m_watched.contains(id))
        return false;
    Watched w{process, nullptr};
    if (process.native() >= 0)
        w.notifier = createNotifier(id, process);
    else if (!startPolling(id))
        return false;
    m_watched.insert(id, w);
    return true;
}

void ProcessWatcher::ended(quint64 id)
{
    const auto it = m_watched.constFind(id);
    if (it != m_watched.cend())
        finish(id, collect(it->process));
}

void ProcessWatcher::finish(quint64 id, const ProcessEnd& end)
{
    const auto it = m_watched.find(id);
    if (it == m_watched.end())
        return;
    const Watched w = it.value();
    m_watched.erase(it);
    m_polled.remove(id);
    // A notifier must not be deleted inside its own signal: it is switched off now and deleted
    // later, and the descriptor is closed only after it is switched off (when w goes).
    if (w.notifier) {
        stopNotifier(w.notifier);
        w.notifier->deleteLater();
    }
    emit finished(id, end);
}
