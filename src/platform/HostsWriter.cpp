#include "platform/HostsWriter.h"

#include "platform/HelperProcess.h"
#include "platform/TextFile.h"

namespace HostsWriter {

HostsHelper::Status writeFromFrame(QIODevice* in, const QString& path, QString* error)
{
    QByteArray content;
    const HostsHelper::Status status = HostsHelper::readFrame(in, &content, error);
    if (status != HostsHelper::Written) {
        *error += QStringLiteral("，") + path + QStringLiteral(" 没有改动。");
        return status;
    }
    if (!HelperProcess::isSafeTarget(path, error)) {
        *error += QStringLiteral("，没有改动。");
        return HostsHelper::UnsafeTarget;
    }
    // A write beyond the file size limit fails only when the buffered bytes are flushed, which
    // a save may notice too late; it is refused before anything is written.
    const qint64 limit = HelperProcess::fileSizeLimit();
    if (limit >= 0 && content.size() > limit) {
        *error = QStringLiteral("%1: 文件大小上限 (ulimit -f) 只允许 %2 字节，新内容有 %3 字节，没有改动。")
                     .arg(path)
                     .arg(limit)
                     .arg(content.size());
        return HostsHelper::WriteFailed;
    }
    if (!TextFile::save(path, content, error))
        return HostsHelper::WriteFailed;
    // Success is reported only for what the file really holds now.
    QByteArray written;
    if (TextFile::read(path, &written, error) != TextFile::ReadStatus::Ok)
        return HostsHelper::WriteFailed;
    if (written != content) {
        *error = path + QStringLiteral(": 写入后读回的内容与新内容不一致");
        return HostsHelper::WriteFailed;
    }
    return HostsHelper::Written;
}

} // namespace HostsWriter
