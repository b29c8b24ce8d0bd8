#include "platform/ProcessWatcher.h"

// The parts that differ by system (the notifier, collecting the exit status) are in
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
        stopNotifier(w.notifier);
        delete w.notifier;
    }
    m_watched.clear();
}

bool ProcessWatcher::watch(quint64 id, const ProcessHandle& process)
{
    if (!process.isValid() || m_watched.contains(id))
        return false;
    m_watched.insert(id, Watched{process, createNotifier(id, process)});
    return true;
}

void ProcessWatcher::ended(quint64 id)
{
    const auto it = m_watched.find(id);
    if (it == m_watched.end())
        return;
    const Watched w = it.value();
    m_watched.erase(it);
    // A notifier must not be deleted inside its own signal: it is switched off now and deleted
    // later, and the descriptor is closed only after it is switched off (when w goes).
    stopNotifier(w.notifier);
    w.notifier->deleteLater();
    emit finished(id, collect(w.process));
}
