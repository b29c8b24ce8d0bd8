#include "core/ping/PingRunner.h"

#include "core/net/ConnectPool.h"
#include "core/ping/PingBatch.h"
#include "core/ping/PingMonitor.h"
#include "core/ping/PingStatusModel.h"
#include "core/ping/TcpRun.h"
#include "platform/ProcessWatcher.h"
#include "platform/TextCodec.h"
#include "platform/TextFile.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <thread>

PingRunner::PingRunner(const QByteArray& encoding, Platform::Starter starter, QObject* parent)
    : QObject(parent), m_encoding(encoding), m_starter(std::move(starter)),
      m_watcher(new ProcessWatcher(this)), m_endTimer(new QTimer(this)), m_monitor(new PingMonitor(encoding, this)),
      m_model(new PingStatusModel(m_monitor, this))
{
    connect(m_watcher, &ProcessWatcher::finished, this, &PingRunner::queueEnd);
    connect(m_endTimer, &QTimer::timeout, this, &PingRunner::reportQueuedEnds);
    connect(m_monitor, &PingMonitor::logged, this, &PingRunner::logged);
}

void PingRunner::setNetwork(const Platform::NameService& names, const Platform::Connector& connector)
{
    m_names = names;
    m_connector = connector;
}

ConnectPool* PingRunner::connectPool()
{
    if (!m_pool)
        m_pool = new ConnectPool(m_connector, this);
    return m_pool;
}

int PingRunner::stopAll()
{
    int stopped = 0;
    for (auto it = m_processes.cbegin(); it != m_processes.cend(); ++it) {
        if (!m_stopping.contains(it.key()) && Platform::stop(it.value())) {
            m_stopping.insert(it.key());
            ++stopped;
        }
    }
    const QList<quint64> tcp = m_tcpRuns.keys();
    for (quint64 id : tcp) {
        if (!m_stopping.contains(id)) {
            m_stopping.insert(id);
            m_tcpRuns.value(id)->stop();
            ++stopped;
        }
    }
    return stopped;
}

PingRunner::~PingRunner() = default;

int PingRunner::watching() const
{
    return m_watcher->count();
}

QList<StartResult> PingRunner::startBeside(const QList<QList<Command>>& groups)
{
    // The starts run on threads of their own while the event loop goes on, so that the window
    // keeps painting; user input waits, so that no other handler runs in between.
    QList<StartResult> results;
    QEventLoop wait;
    std::thread starter([&] {
        results = Platform::startGroups(groups, m_starter);
        QMetaObject::invokeMethod(&wait, &QEventLoop::quit, Qt::QueuedConnection);
    });
    wait.exec(QEventLoop::ExcludeUserInputEvents);
    starter.join();
    return results;
}

bool PingRunner::start(const QString& queue, const QString& count,
                       const std::function<QString()>& resultFolder, QString* error)
{
    QString folderError;
    const bool folderReady = Platform::createDirectory(resultFolder(), &folderError);
    const QList<PingBatch::Target> plan = PingBatch::plan(queue, count, resultFolder, QTime::currentTime());

    QList<QList<Command>> groups;
    for (const PingBatch::Target& t : plan) {
        if (t.skipped.isEmpty())
            groups.append(t.commands);
    }
    if (!folderReady && !groups.isEmpty()) {
        // The pings would have nowhere to write: none is started, and the cause is named.
        for (const PingBatch::Target& t : plan) {
            if (!t.skipped.isEmpty())
                emit logged(PingBatch::plannedEntry(t));
        }
        emit logged(QStringLiteral("无法创建结果目录: ") + folderError);
        *error = folderError;
        return false;
    }

    // Each run's summary will follow the end its result file has now, before its block.
    QList<qint64> offsets;
    for (const QList<Command>& group : groups)
        offsets.append(TextFile::size(group.last().path));
    const QDateTime startedAt = QDateTime::currentDateTime();
    const QList<StartResult> results = startBeside(groups);

    const int batch = m_runs.beginBatch();
    qsizetype started = 0;
    for (const PingBatch::Target& t : plan) {
        emit logged(PingBatch::plannedEntry(t));
        if (!t.skipped.isEmpty())
            continue;
        const StartResult& result = results[started];
        emit logged(t.tcp ? PingBatch::tcpStartedEntry(result) : PingBatch::startedEntry(result));
        if (result.stillRunning)
            emit logged(PingBatch::unorderedEntry(t));
        if (result.ok) {
            const PingReport::Run run{t.target, t.commands.last().path, offsets[started], startedAt};
            const quint64 id = m_runs.add(batch, run);
            if (t.tcp) {
                // Its lines are written here, after the separator and start-time lines.
                TcpRun::Options o{t.target, t.host, t.port, t.count, PingBatch::kTcpTimeoutMs,
                                  PingBatch::kTcpIntervalMs, t.resultFile};
                auto* tcp = new TcpRun(o, connectPool(), m_names.withSystemDefaults(), TextCodec(m_encoding), this);
                connect(tcp, &TcpRun::finished, this, [this, id](const ProcessEnd& end) { queueEnd(id, end); });
                m_tcpRuns.insert(id, tcp);
                m_monitor->add(id, t.target, run.resultFile, run.fileOffset);
                tcp->start();
            } else if (m_watcher->watch(id, result.process)) {
                m_processes.insert(id, result.process);
                m_monitor->add(id, t.target, run.resultFile, run.fileOffset);
            } else {
                // A start without a handle (a stand-in starter) cannot be watched: the log says
                // so, and the batch's total still counts it.
                m_runs.setUnwatched(id);
                emit logged(PingReport::unwatchedEntry(t.target));
            }
        }
        ++started;
    }
    return true;
}

void PingRunner::queueEnd(quint64 id, const ProcessEnd& end)
{
    m_ended.append({id, end});
    if (!m_endTimer->isActive())
        m_endTimer->start(0);
}

void PingRunner::reportQueuedEnds()
{
    // The pings of a batch of fast targets end together, often before the click is over. Their
    // reports (a file read, a log entry, a table row each) are made a few milliseconds' worth at
    // a time, so that the window paints and takes input between them however many there are.
    QElapsedTimer spent;
    spent.start();
    while (!m_ended.isEmpty() && spent.elapsed() < 5) {
        const auto [id, end] = m_ended.takeFirst();
        reportEnd(id, end);
    }
    if (m_ended.isEmpty())
        m_endTimer->stop();
}

void PingRunner::reportEnd(quint64 id, const ProcessEnd& end)
{
    const PingReport::Run* run = m_runs.find(id);
    if (!run)
        return;
    m_processes.remove(id);
    if (TcpRun* tcp = m_tcpRuns.take(id))
        tcp->deleteLater();
    const bool stopped = m_stopping.remove(id);
    const std::optional<PingTally> tally = m_monitor->finish(id, stopped);

    const QDateTime ended = QDateTime::currentDateTime();
    const TextCodec codec(m_encoding);
    // A stopped run wrote no statistics: its counts until then stand in for them.
    const std::optional<PingSummary> summary =
        stopped ? std::optional<PingSummary>(tally ? tally->summary() : PingSummary())
                : PingReport::readSummary(*run, codec);
    emit logged(stopped ? PingReport::stoppedEntry(run->target, *summary)
                        : PingReport::endEntry(run->target, summary, end));

    QString error;
    const QString table = PingReport::tableFile(run->resultFile);
    const QString row = stopped ? PingReport::stoppedRow(*run, ended, *summary)
                                : PingReport::tableRow(*run, ended, summary, end);
    if (!TextFile::append(table, codec.encode(PingReport::tableHeader()), codec.encode(row), &error))
        emit logged(QStringLiteral("汇总表写入失败: ") + error);

    const auto ending = m_runs.end(id, summary && summary->received > 0);
    if (ending && ending->batchDone)
        emit logged(
            PingReport::batchEntry(ending->batchPings, ending->batchAnswered, ending->batchUnwatched));
}
