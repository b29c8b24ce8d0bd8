#include "core/hosts/HostsBackups.h"

#include "platform/Platform.h"
#include "platform/TextFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>

namespace {

const QRegularExpression& pattern()
{
    static const QRegularExpression re(
        QStringLiteral("^hosts-(\\d{4}-\\d\\d-\\d\\d_\\d\\d-\\d\\d-\\d\\d)(?:-(\\d+))?\\.bak$"));
    return re;
}

} // namespace

namespace HostsBackups {

QString fileName(const QDateTime& time, int number)
{
    QString name = QStringLiteral("hosts-") + time.toString(QStringLiteral("yyyy-MM-dd_HH-mm-ss"));
    if (number > 1)
        name += QLatin1Char('-') + QString::number(number);
    return name + QStringLiteral(".bak");
}

QStringList inOrder(const QStringList& names)
{
    struct Entry {
        QString stamp;
        int number;
        QString name;
    };
    std::vector<Entry> entries;
    for (const QString& name : names) {
        const QRegularExpressionMatch m = pattern().match(name);
        if (m.hasMatch())
            entries.push_back({m.captured(1), m.captured(2).isEmpty() ? 1 : m.captured(2).toInt(), name});
    }
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
        return a.stamp != b.stamp ? a.stamp < b.stamp : a.number < b.number;
    });
    QStringList sorted;
    for (const Entry& e : entries)
        sorted << e.name;
    return sorted;
}

bool write(const QString& folder, const QByteArray& bytes, const QDateTime& time, QString* path,
           QString* error)
{
    if (!Platform::createDirectory(folder, error))
        return false;
    const QString dir = folder.endsWith(Platform::separator()) ? folder : folder + Platform::separator();
    // Two saves in one second get two names: a later one takes a number above those of that
    // second, also after the first of them was rotated away.
    const QString first = fileName(time);
    const QString stamp = first.chopped(4); // without ".bak"
    int number = 1;
    for (const QString& name : inOrder(QDir(folder).entryList(QDir::Files | QDir::Hidden))) {
        if (name == first)
            number = qMax(number, 2);
        else if (name.startsWith(stamp + QLatin1Char('-')))
            number = qMax(number, name.mid(stamp.size() + 1).chopped(4).toInt() + 1);
    }
    bool written = false;
    for (int tries = 0; !written && tries < 100; ++tries, ++number) {
        bool exists = false;
        *path = dir + fileName(time, number);
        written = TextFile::writeNew(*path, bytes, error, &exists);
        if (!written && !exists)
            return false;
    }
    if (!written)
        return false;
    // The one just written always stays, even if others are named later (stamped ahead by a
    // clock that was set back, a change of time zone, the hour that repeats in autumn).
    QStringList others = inOrder(QDir(folder).entryList(QDir::Files | QDir::Hidden));
    others.removeAll(QFileInfo(*path).fileName());
    for (qsizetype i = 0; i + kKept - 1 < others.size(); ++i)
        QFile::remove(dir + others[i]);
    return true;
}

void discard(const QString& path)
{
    QFile::remove(path);
}

} // namespace HostsBackups
