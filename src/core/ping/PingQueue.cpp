#include "core/ping/PingQueue.h"

#include "core/app/FieldReader.h"
#include "platform/TextFile.h"

#include <QDir>

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
    const qint64 size = TextFile::size(path);
    if (size > kMaxFileBytes) {
        *error = QStringLiteral("%1 有 %2 字节，超过任务框能容纳的 %3 字节，没有载入；文件保持原样，“保存任务”不会覆盖它")
                     .arg(name)
                     .arg(size)
                     .arg(kMaxFileBytes);
        return LoadStatus::Refused;
    }
    QStringList fields;
    const bool ok = readFieldsFile(path, codec, &fields, error);
    for (qsizetype i = 0; i < fields.size(); ++i) {
        if (fields[i].size() > kMaxLineChars) {
            *error = QStringLiteral("%1 的第 %2 项有 %3 个字符，超过任务框一行能容纳的 %4 个字符，没有载入；"
                                    "文件保持原样，“保存任务”不会覆盖它")
                         .arg(name)
                         .arg(i + 1)
                         .arg(fields[i].size())
                         .arg(kMaxLineChars);
            return LoadStatus::Refused;
        }
    }
    *queue = fromFields(fields);
    return ok ? LoadStatus::Loaded : LoadStatus::Failed;
}

bool save(const QString& path, const QByteArray& bytes, QString* error)
{
    return TextFile::save(path, bytes, error);
}

} // namespace PingQueue
