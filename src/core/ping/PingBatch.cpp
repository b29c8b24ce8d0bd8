#include "core/ping/PingBatch.h"

#include "core/ping/PingCommands.h"
#include "core/ping/PingQueue.h"
#include "platform/Platform.h"

namespace PingBatch {

QList<Target> plan(const QString& queue, const QString& count, const std::function<QString()>& resultFolder,
                   const QTime& now)
{
    using namespace PingCommands;
    const QString countProblem = unsafeReason(count);
    QList<Target> out;
    for (const QString& line : PingQueue::lines(queue)) {
        if (PingQueue::isBlank(line))
            continue;
        Target t;
        t.target = line;
        t.skipped = unsafeReason(line);
        if (t.skipped.isEmpty() && !countProblem.isEmpty())
            t.skipped = QStringLiteral("次数") + countProblem;
        QString tcpProblem;
        if (t.skipped.isEmpty() && tcpTarget(line, &t.host, &t.port, &tcpProblem)) {
            t.tcp = true;
            bool ok = false;
            t.count = count.trimmed().toInt(&ok);
            if (!tcpProblem.isEmpty())
                t.skipped = tcpProblem;
            else if (!ok || t.count < 1)
                t.skipped = QStringLiteral("次数“%1”不是正整数").arg(count);
        }
        if (t.skipped.isEmpty()) {
            const QString file = resultFile(resultFolder(), line, Platform::fileNames());
            t.resultFile = file;
            t.commands = {separatorCommand(file), startTimeCommand(file, now)};
            if (!t.tcp)
                t.commands.append(pingCommand(line, count, file));
        }
        out.append(t);
    }
    return out;
}

QString plannedEntry(const Target& t)
{
    if (t.skipped.isEmpty() && t.tcp)
        return QStringLiteral("执行:TCP 连接 %1 %2 次，每秒一次，每次超时 %3 秒 >>\"%4\"")
            .arg(t.target.trimmed())
            .arg(t.count)
            .arg(kTcpTimeoutMs / 1000)
            .arg(t.resultFile);
    if (t.skipped.isEmpty())
        return QStringLiteral("执行:") + t.commands.last().commandLine;
    QString shown = t.target;
    for (QChar& c : shown) {
        if (c.category() == QChar::Other_Control && c != QLatin1Char('\t'))
            c = QChar(0xFFFD);
    }
    return QStringLiteral("跳过:") + shown + QStringLiteral("（") + t.skipped + QStringLiteral("）");
}

QString tcpStartedEntry(const StartResult& result)
{
    if (result.ok)
        return QStringLiteral("执行完成，TCP 连接已开始");
    return QStringLiteral("执行失败:") + result.error;
}

QString startedEntry(const StartResult& result)
{
    if (result.ok)
        return QStringLiteral("执行完成，PID: ") + QString::number(result.pid);
    return QStringLiteral("执行失败:") + result.error;
}

QString unorderedEntry(const Target& t)
{
    return QStringLiteral("注意: %1 的分隔行或开始时间行在 %2 秒内没有写完，结果文件中的顺序可能不同")
        .arg(t.target)
        .arg(Platform::kAppendLineLimitMs / 1000);
}

} // namespace PingBatch
