#include "core/ping/PingMonitor.h"

#include "core/ping/PingReport.h"
#include "platform/TextFile.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QTimer>

PingMonitor::PingMonitor(const QByteArray& encoding, QObject* parent)
    : QObject(parent), m_codec(encoding), m_timer(new QTimer(this))
{
    qRegisterMetaType<PingTally>();
    m_timer->setInterval(kTickMs);
    connect(m_timer, &QTimer::timeout, this, &PingMonitor::pollSome);
}

PingMonitor::~PingMonitor() = default;

void PingMonitor::add(quint64 id, const QString& target, const QString& file, qint64 offset)
{
    Run run;
    run.target = target;
    run.file = file;
    run.offset = offset;
    m_runs.insert(id, run);
    emit added(id, target);
    if (!m_timer->isActive())
        m_timer->start();
}

std::optional<PingTally> PingMonitor::finish(quint64 id, bool stopped)
{
    const auto it = m_runs.find(id);
    if (it == m_runs.end())
        return std::nullopt;
    Run run = it.value();
    m_runs.erase(it);
    if (m_runs.isEmpty())
        m_timer->stop();
    read(run);
    if (!run.partial.isEmpty()) // a last line without its line end
        run.tally.feed(PingReply::parse(m_codec.decode(run.partial)), QDateTime::currentDateTime());
    if (const std::optional<PingTally::Outage> open = run.tally.finish(stopped, QDateTime::currentDateTime()))
        record(run, *open);
    emit changed(id, run.tally);
    return run.tally;
}

void PingMonitor::pollNow()
{
    for (auto it = m_runs.begin(); it != m_runs.end(); ++it) {
        if (read(it.value()))
            emit changed(it.key(), it->tally);
    }
    m_order.clear();
}

void PingMonitor::pollSome()
{
    // Each tick looks at the share of the runs that makes one round every kPollMs, in the
    // order they were added, and at most for kSliceMs: a thousand files read at once would
    // hold the event loop for tens of milliseconds. What the budget leaves is taken next tick.
    if (m_order.isEmpty()) {
        m_order = m_runs.keys();
        m_next = 0;
    }
    const qsizetype share = qMax<qsizetype>(1, m_order.size() * kTickMs / kPollMs + 1);
    QElapsedTimer spent;
    spent.start();
    for (qsizetype n = 0; n < share && m_next < m_order.size() && spent.elapsed() < kSliceMs; ++n) {
        const quint64 id = m_order.at(m_next++);
        const auto it = m_runs.find(id);
        if (it != m_runs.end() && read(it.value()))
            emit changed(id, it->tally);
    }
    if (m_next >= m_order.size())
        m_order.clear();
}

bool PingMonitor::read(Run& run)
{
    const qint64 size = TextFile::size(run.file);
    if (size <= run.offset) {
        if (size < run.offset)
            run.offset = size; // the file was cut or replaced: follow it from its new end
        return false;
    }
    QByteArray bytes;
    QString error;
    if (TextFile::readTail(run.file, run.offset, kMaxReadBytes, &bytes, &error) != TextFile::ReadStatus::Ok)
        return false;
    // More than one look takes: the lines in between are skipped, the newest counted.
    run.offset = qMax(run.offset, size - kMaxReadBytes) + bytes.size();
    bytes.prepend(run.partial);
    const qsizetype lastBreak = bytes.lastIndexOf('\n');
    run.partial = bytes.mid(lastBreak + 1);
    if (lastBreak < 0)
        return false;

    const QDateTime now = QDateTime::currentDateTime();
    const int sentBefore = run.tally.sent();
    const int receivedBefore = run.tally.received();
    const PingTally::State stateBefore = run.tally.state();
    // Lines are decoded one by one: a code page's multi-byte character never holds a '\n'.
    qsizetype start = 0;
    while (start <= lastBreak) {
        const qsizetype end = bytes.indexOf('\n', start);
        const QString line = m_codec.decode(QByteArrayView(bytes).sliced(start, end - start));
        start = end + 1;
        for (const PingTally::Change& change : run.tally.feed(PingReply::parse(line), now)) {
            if (change.kind == PingTally::Change::Down) {
                emit logged(
                    QStringLiteral("掉线: %1 %2").arg(run.target, change.outage.start.toString(u"HH:mm:ss")));
            } else {
                emit logged(QStringLiteral("恢复: %1 %2，中断 %3 秒")
                                .arg(run.target, change.outage.end.toString(u"HH:mm:ss"))
                                .arg(change.outage.seconds()));
                record(run, change.outage);
            }
        }
    }
    return run.tally.sent() != sentBefore || run.tally.received() != receivedBefore ||
           run.tally.state() != stateBefore;
}

void PingMonitor::record(const Run& run, const PingTally::Outage& outage)
{
    // The same code page as the summary table beside it, whose form and defences it shares.
    const QString table = QFileInfo(run.file).path() + QLatin1Char('/') + PingReport::outageTableName();
    QString error;
    if (!TextFile::append(
            table, m_codec.encode(PingReport::outageHeader()),
            m_codec.encode(PingReport::outageRow(run.target, outage.start, outage.end, outage.recovered)),
            &error))
        emit logged(QStringLiteral("中断表写入失败: ") + error);
}
