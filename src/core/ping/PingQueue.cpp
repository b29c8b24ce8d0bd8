#include "core/ping/PingQueue.h"

#include "core/app/FieldReader.h"
#include "platform/TextCodec.h"
#include "platform/TextFile.h"

#include <QDir>
#include <QFile>

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

LoadStatus load(const QString& path, const TextCodec& codec, QString* queue, QString* error)
{
    queue->clear();
    const QString name = QDir::toNativeSeparators(path);
    // The limit is checked on what is read, not on a size taken before: the file may grow.
    QByteArray bytes;
    switch (TextFile::readOwn(path, &bytes, error, kMaxFileBytes + 1)) {
    case TextFile::ReadStatus::Missing:
        return TextFile::createEmpty(path, error) ? LoadStatus::Loaded : LoadStatus::Failed;
    case TextFile::ReadStatus::Failed:
        return LoadStatus::Failed;
    case TextFile::ReadStatus::Ok:
        break;
    }
    const QString kept = QStringLiteral("文件保持原样，“保存任务”会先把它另存到备份文件夹");
    if (bytes.size() > kMaxFileBytes) {
        *error = QStringLiteral("%1 超过任务框能容纳的 %2 字节，没有载入；%3")
                     .arg(name)
                     .arg(kMaxFileBytes)
                     .arg(kept);
        return LoadStatus::Refused;
    }
    QStringList fields;
    const bool ok = readFields(codec.decode(bytes), &fields, error);
    for (qsizetype i = 0; i < fields.size(); ++i) {
        if (fields[i].size() > kMaxLineChars) {
            *error =
                QStringLiteral("%1 的第 %2 项有 %3 个字符，超过任务框一行能容纳的 %4 个字符，没有载入；%5")
                    .arg(name)
                    .arg(i + 1)
                    .arg(fields[i].size())
                    .arg(kMaxLineChars)
                    .arg(kept);
            return LoadStatus::Refused;
        }
    }
    *queue = fromFields(fields);
    return ok ? LoadStatus::Loaded : LoadStatus::Failed;
}

QString keepRefused(const QString& path, const QString& folder, const QDateTime& now, QString* error)
{
    if (!QDir().mkpath(folder)) {
        *error = QStringLiteral("无法创建文件夹 %1").arg(QDir::toNativeSeparators(folder));
        return QString();
    }
    const QString stem = QDir(folder).filePath(now.toString(QStringLiteral("'Ping-'yyyy-MM-dd_HH-mm-ss")));
    QFile file(path);
    for (int n = 1; n < 1000; ++n) {
        const QString copy =
            stem + (n == 1 ? QString() : QStringLiteral("-%1").arg(n)) + QStringLiteral(".txt");
        if (QFile::exists(copy))
            continue;
        if (file.copy(copy))
            return copy;
        break; // not a name taken meanwhile: the reason is the file's or the folder's
    }
    *error = QStringLiteral("无法把 %1 另存到 %2: %3")
                 .arg(QDir::toNativeSeparators(path), QDir::toNativeSeparators(folder), file.errorString());
    return QString();
}

bool save(const QString& path, const QByteArray& bytes, QString* error)
{
    return TextFile::save(path, bytes, error);
}

} // namespace PingQueue
