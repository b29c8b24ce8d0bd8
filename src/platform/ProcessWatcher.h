#pragma once

#include "platform/ProcessHandle.h"

#include <QHash>
#include <QObject>
#include <QSet>

class QTimer;

// Learns of the ends of started processes through the event loop, without waiting: the system
// signals a process's descriptor when it ends (a pidfd becomes readable on Linux, a process
// HANDLE is signalled on Windows). A Unix child held without a pidfd (the descriptors ran short)
// is asked for its end on a timer instead. On Unix the ended process is reaped here. Destroying
// the watcher stops the watching; the processes run on.
class ProcessWatcher : public QObject
{
    Q_OBJECT

public:
    explicit ProcessWatcher(QObject* parent = nullptr);
    ~ProcessWatcher() override;

    // Watches process until it ends, then emits finished(id, ...) once. Returns false and
    // watches nothing for an empty handle, an id that is already being watched, or a handle
    // without a descriptor where the system offers no other way (Windows).
    bool watch(quint64 id, const ProcessHandle& process);

    // How many processes are being watched.
    int count() const { return int(m_watched.size()); }

signals:
    void finished(quint64 id, const ProcessEnd& end);

private:
    struct Watched
    {
        ProcessHandle process;
        QObject* notifier = nullptr; // null while the process is polled
    };
    void ended(quint64 id);
    void finish(quint64 id, const ProcessEnd& end);
    static ProcessEnd collect(const ProcessHandle& process); // the exit status; reaps on Unix
    QObject* createNotifier(quint64 id, const ProcessHandle& process);
    static void stopNotifier(QObject* notifier);
    bool startPolling(quint64 id); // false where a process cannot be polled
    void pollEnds();

    QHash<quint64, Watched> m_watched;
    QSet<quint64> m_polled;
    QTimer* m_pollTimer = nullptr;
};
