#pragma once

#include "platform/ProcessHandle.h"

#include <QHash>
#include <QObject>

// Learns of the ends of started processes through the event loop, without waiting and without
// polling: the system signals a process's descriptor when it ends (a pidfd becomes readable on
// Linux, a process HANDLE is signalled on Windows). On Unix the ended process is reaped here.
// Destroying the watcher stops the watching; the processes run on.
class ProcessWatcher : public QObject
{
    Q_OBJECT

public:
    explicit ProcessWatcher(QObject* parent = nullptr);
    ~ProcessWatcher() override;

    // Watches process until it ends, then emits finished(id, ...) once. Returns false and
    // watches nothing for an empty handle or an id that is already being watched.
    bool watch(quint64 id, const ProcessHandle& process);

    // How many processes are being watched.
    int count() const { return int(m_watched.size()); }

signals:
    void finished(quint64 id, const ProcessEnd& end);

private:
    struct Watched
    {
        ProcessHandle process;
        QObject* notifier = nullptr;
    };
    void ended(quint64 id);
    static ProcessEnd collect(const ProcessHandle& process); // the exit status; reaps on Unix
    QObject* createNotifier(quint64 id, const ProcessHandle& process);
    static void stopNotifier(QObject* notifier);

    QHash<quint64, Watched> m_watched;
};
