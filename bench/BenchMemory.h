#pragma once

#include <QByteArray>
#include <QFile>

// A line of /proc/self/status in KiB: "VmHWM" (the peak resident memory) or "VmRSS" (now);
// -1 where there is none.
inline long statusKiB(const char* field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray key = QByteArray(field) + ':';
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(key))
            return line.mid(key.size()).trimmed().split(' ').first().toLong();
    }
    return -1;
}
