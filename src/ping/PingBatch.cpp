#include "ping/PingBatch.h"

#include "ping/PingCommands.h"
#include "ping/PingQueue.h"

namespace PingBatch {

QList<Target> targets(const QString& queue, const QString& count)
{
    const QString countProblem = PingCommands::unsafeReason(count);
    QList<Target> out;
    for (const QString& line : PingQueue::lines(queue)) {
        if (PingQueue::isBlank(line))
            continue;
        Target t{line, PingCommands::unsafeReason(line)};
        if (t.skipped.isEmpty() && !countProblem.isEmpty())
            t.skipped = QStringLiteral("次数") + countProblem;
        out.append(t);
    }
    return out;
}

QString skippedEntry(const Target& t)
{
    QString shown = t.target;
    for (QChar& c : shown) {
        if (c.category() == QChar::Other_Control && c != QLatin1Char('\t'))
            c = QChar(0xFFFD);
    }
    return QStringLiteral("跳过:") + shown + QStringLiteral("（") + t.skipped + QStringLiteral("）");
}

} // namespace PingBatch
