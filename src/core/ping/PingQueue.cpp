#include "core/ping/PingQueue.h"

namespace PingQueue {

QString fromFields(const QStringList& fields)
{
    QString queue;
    for (const QString& field : fields)
        queue += field + QStringLiteral("\r\n");
    return queue;
}

QStringList lines(const QString& queue)
{
    if (queue.isEmpty())
        return QStringList();
    return queue.split(QStringLiteral("\r\n"));
}

bool isBlank(QStringView line)
{
    for (QChar c : line) {
        if (c != QLatin1Char(' ') && c != QChar(0x3000))
            return false;
    }
    return true;
}

} // namespace PingQueue
