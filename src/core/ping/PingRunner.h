#pragma once

#include "core/ping/PingReport.h"
#include "platform/Network.h"
#include "platform/Platform.h"

#include <QHash>
#include <QList>
#include <QSet>
#include <QObject>
#include <QString>

#include <functional>

class ConnectPool;
class PingMonitor;
class PingStatusModel;
class ProcessWatcher;
class QTimer;
class TcpRun;

// A batch ping from the click to its last end, without a window: plans the queue, makes the
// day's result folder, starts every target's commands beside the caller, watches the pings and
// reports each end (a log entry and a row of the day's table), then the batch's end once its
// last ping has ended. Every log entry comes through logged(); the caller shows them.
class PingRunner : public QObject
{
    Q_OBJECT

public:
    // encoding: the result files' and table's (empty: the system's); starter: what starts a
    // command (empty: the platform's).
    explicit PingRunner(const QByteArray& encoding = QByteArray(), Platform::Starter starter = {},
                        QObject* parent = nullptr);
    ~PingRunner() override;

    // Starts a ping for every target of queue (CR LF between lines) with count, each into its
    // file in resultFolder(), which is asked once per target (a batch across midnight names the
    // new day). Returns when all are started; the event loop runs meanwhile, without user input.
    // Returns false, starts nothing and sets *error when the day's folder cannot be made and
    // there is a target to start; the entries of skipped targets and the cause are logged.
    bool start(const QString& queue, const QString& count, const std::function<QString()>& resultFolder,
               QString* error);

    // The pings being watched until they end.
    int watching() const;

    // How TCP targets (host:port) resolve names and connect; until called, the system's.
    void setNetwork(const Platform::NameService& names, const Platform::Connector& connector);

    // Every target started since this runner was made, with its live counts and state.
    PingStatusModel* statusModel() const { return m_model; }
    // Follows the result files of the running targets.
    PingMonitor* monitor() const { return m_monitor; }

    // 停止全部: ends every ping (with the processes it started) and every TCP run still going.
    // Their ends are reported as stopped ("已停止"). Returns how many were ended.
    int stopAll();

signals:
    void logged(const QString& entry);

private:
    QList<StartResult> startBeside(const QList<QList<Command>>& groups);
    void queueEnd(quint64 id, const ProcessEnd& end);
    void reportQueuedEnds();
    void reportEnd(quint64 id, const ProcessEnd& end);
    ConnectPool* connectPool();

    QByteArray m_encoding;
    Platform::Starter m_starter;
    ProcessWatcher* m_watcher = nullptr;
    PingReport::Runs m_runs;
    QList<std::pair<quint64, ProcessEnd>> m_ended; // ended, not yet reported, in order
    QTimer* m_endTimer = nullptr;
    PingMonitor* m_monitor = nullptr;
    PingStatusModel* m_model = nullptr;
    QHash<quint64, ProcessHandle> m_processes; // the running pings, to be stopped
    QHash<quint64, TcpRun*> m_tcpRuns;
    QSet<quint64> m_stopping;                  // ended by stopAll, their ends not yet reported
    Platform::NameService m_names;
    Platform::Connector m_connector;
    ConnectPool* m_pool = nullptr;
};
