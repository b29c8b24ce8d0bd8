#include "core/ping/PingRunner.h"

#include "core/ping/PingBatch.h"
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
      m_watcher(new ProcessWatcher(this)), m_endTimer(new QTimer(this))
{
    connect(m_watcher, &ProcessWatcher::finished, this, &PingRunner::queueEnd);
    connect(m_endTimer, &QTimer::timeout, this, &PingRunner::reportQueuedEnds);
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
        emit logged(PingBatch::startedEntry(result));
        if (result.stillRunning)
            emit logged(PingBatch::unorderedEntry(t));
        if (result.ok) {
            const PingReport::Run run{t.target, t.commands.last().path, offsets[started], startedAt};
            const quint64 id = m_runs.add(batch, run);
            // A start without a handle (a stand-in starter) cannot be watched: the log says so,
            // and the batch's total still counts it.
            if (!m_watcher->watch(id, result.process)) {
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
    const QDateTime ended = QDateTime::currentDateTime();
    const TextCodec codec(m_encoding);
    const std::optional<PingSummary> summary = PingReport::readSummary(*run, codec);
    emit logged(PingReport::endEntry(run->target, summary, end));

    QString error;
    const QString table = PingReport::tableFile(run->resultFile);
    if (!TextFile::append(table, codec.encode(PingReport::tableHeader()),
                          codec.encode(PingReport::tableRow(*run, ended, summary, end)), &error))
        emit logged(QStringLiteral("汇总表写入失败: ") + error);

    const auto ending = m_runs.end(id, summary && summary->received > 0);
    if (ending && ending->batchDone)
        emit logged(
            PingReport::batchEntry(ending->batchPings, ending->batchAnswered, ending->batchUnwatched));
}
