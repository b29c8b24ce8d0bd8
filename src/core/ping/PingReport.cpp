#include "core/ping/PingReport.h"

#include "platform/TextFile.h"

#include <QFileInfo>
#include <QLocale>
#include <QStringList>

namespace PingReport {

namespace {

// The shortest text that reads back as the same number: 0.03 stays 0.03, 50 stays 50.
QString number(double value)
{
    return QString::number(value, 'g', QLocale::FloatingPointShortest);
}

QString timeText(const QDateTime& t)
{
    // A form that spreadsheets take for a date and time.
    return t.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

QString exitText(const ProcessEnd& end)
{
    switch (end.kind) {
    case ProcessEnd::Kind::Exited:
        return QString::number(end.code);
    case ProcessEnd::Kind::Killed:
        return QStringLiteral("信号 ") + QString::number(end.code);
    case ProcessEnd::Kind::Unknown:
        break;
    }
    return QString();
}

} // namespace

std::optional<PingSummary> readSummary(const Run& run, const TextCodec& codec)
{
    for (const qint64 window : {kFirstTailBytes, kTailBytes}) {
        QByteArray tail;
        QString error;
        if (TextFile::readTail(run.resultFile, run.fileOffset, window, &tail, &error)
            != TextFile::ReadStatus::Ok)
            return std::nullopt;
        if (const std::optional<PingSummary> summary = PingSummary::parseLast(codec.decode(tail)))
            return summary;
        if (tail.size() < window)
            break; // that was all the run's part of the file
    }
    return std::nullopt;
}

QString tableName()
{
    return QStringLiteral("汇总.csv");
}

QString tableFile(const QString& resultFile)
{
    const QFileInfo info(resultFile);
    return info.path() + QLatin1Char('/') + tableName();
}

QString endEntry(const QString& target, const std::optional<PingSummary>& summary, const ProcessEnd& end)
{
    QString entry = QStringLiteral("完成: ") + target;
    if (summary) {
        entry += QStringLiteral(" 已发送 %1 已接收 %2 丢失 %3%")
                     .arg(summary->sent)
                     .arg(summary->received)
                     .arg(number(summary->lossPercent));
        if (summary->hasTimes)
            entry += QStringLiteral(" 最短/平均/最长 %1/%2/%3 ms")
                         .arg(number(summary->minMs), number(summary->avgMs), number(summary->maxMs));
        return entry;
    }
    switch (end.kind) {
    case ProcessEnd::Kind::Exited:
        return entry + QStringLiteral(" 退出码 %1，没有读到统计").arg(end.code);
    case ProcessEnd::Kind::Killed:
        return entry + QStringLiteral(" 被信号 %1 终止，没有读到统计").arg(end.code);
    case ProcessEnd::Kind::Unknown:
        break;
    }
    return entry + QStringLiteral(" 退出状态不明，没有读到统计");
}

QString stoppedEntry(const QString& target, const PingSummary& counts)
{
    return QStringLiteral("已停止: ") + endEntry(target, counts, ProcessEnd()).mid(4);
}

QString stoppedRow(const Run& run, const QDateTime& ended, const PingSummary& counts)
{
    QString row = tableRow(run, ended, counts, ProcessEnd());
    row.insert(row.size() - 2, QStringLiteral("已停止"));
    return row;
}

QString batchEntry(int pings, int answered, int unwatched)
{
    QString entry = QStringLiteral("本批完成: %1 个目标中 %2 个有回应").arg(pings).arg(answered);
    if (unwatched > 0)
        entry += QStringLiteral("，%1 个无法得知结束").arg(unwatched);
    return entry;
}

QString unwatchedEntry(const QString& target)
{
    return QStringLiteral("无法监视: ") + target + QStringLiteral("（不会报告它的结束）");
}

QString tableHeader()
{
    return QStringLiteral(
        "目标,开始时间,结束时间,已发送,已接收,丢失(%),最短(ms),平均(ms),最长(ms),退出码\r\n");
}

QString tableRow(const Run& run, const QDateTime& ended, const std::optional<PingSummary>& summary,
                 const ProcessEnd& end)
{
    QStringList fields{csvField(run.target), timeText(run.started), timeText(ended)};
    if (summary) {
        fields << QString::number(summary->sent) << QString::number(summary->received)
               << number(summary->lossPercent);
        if (summary->hasTimes)
            fields << number(summary->minMs) << number(summary->avgMs) << number(summary->maxMs);
        else
            fields << QString() << QString() << QString();
    } else {
        fields << QString() << QString() << QString() << QString() << QString() << QString();
    }
    fields << exitText(end);
    return fields.join(QLatin1Char(',')) + QStringLiteral("\r\n");
}

QString outageTableName()
{
    return QStringLiteral("中断.csv");
}

QString outageHeader()
{
    return QStringLiteral("目标,开始,结束,秒\r\n");
}

QString outageRow(const QString& target, const QDateTime& start, const QDateTime& end, bool recovered)
{
    const QStringList fields{csvField(target), timeText(start), recovered ? timeText(end) : QString(),
                             QString::number(start.secsTo(end))};
    return fields.join(QLatin1Char(',')) + QStringLiteral("\r\n");
}

QString csvField(const QString& text)
{
    static const QString formulaStarts = QStringLiteral("=+-@");
    const QString trimmed = text.trimmed();
    const QString field =
        !trimmed.isEmpty() && formulaStarts.contains(trimmed.at(0)) ? QLatin1Char('\'') + text : text;
    const bool quote = field.contains(QLatin1Char(',')) || field.contains(QLatin1Char('"'))
                       || field.contains(QLatin1Char('\r')) || field.contains(QLatin1Char('\n'))
                       || field.startsWith(QLatin1Char(' ')) || field.endsWith(QLatin1Char(' '));
    if (!quote)
        return field;
    QString quoted = field;
    quoted.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

int Runs::beginBatch()
{
    return ++m_lastBatch;
}

quint64 Runs::add(int batch, const Run& run)
{
    ++m_batches[batch].pings;
    m_runs.insert(++m_lastId, {batch, run});
    return m_lastId;
}

void Runs::setUnwatched(quint64 id)
{
    const auto it = m_runs.find(id);
    if (it == m_runs.end())
        return;
    ++m_batches[it->first].unwatched;
    m_runs.erase(it);
}

const Run* Runs::find(quint64 id) const
{
    const auto it = m_runs.constFind(id);
    return it == m_runs.cend() ? nullptr : &it->second;
}

std::optional<Runs::Ended> Runs::end(quint64 id, bool answered)
{
    const auto it = m_runs.find(id);
    if (it == m_runs.end())
        return std::nullopt;
    const int batchId = it->first;
    Ended ended;
    ended.run = it->second;
    m_runs.erase(it);

    Batch& batch = m_batches[batchId];
    ++batch.ended;
    batch.answered += answered ? 1 : 0;
    ended.batchPings = batch.pings;
    ended.batchAnswered = batch.answered;
    ended.batchUnwatched = batch.unwatched;
    ended.batchDone = batch.ended + batch.unwatched == batch.pings;
    if (ended.batchDone)
        m_batches.remove(batchId);
    return ended;
}

} // namespace PingReport
