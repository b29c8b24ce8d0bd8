#include "core/hosts/HostsWriter.h"

#include "core/hosts/HostsSaver.h"
#include "platform/HelperProcess.h"

namespace HostsWriter {

HostsHelper::Status writeFromFrame(QIODevice* in, const QString& path, QString* error)
{
    QByteArray base, content;
    const HostsHelper::Status status = HostsHelper::readFrame(in, &base, &content, error);
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
    // No backup folder: a process with the administrator's rights writes no user's folder; the
    // window kept the backup.
    HostsSaver saver(path, QString());
    switch (saver.mergeAndSave(base, content, error)) {
    case HostsSaver::Outcome::Saved:
        return HostsHelper::Written;
    case HostsSaver::Outcome::Conflict:
        return HostsHelper::Conflict;
    case HostsSaver::Outcome::Recovered:
        return HostsHelper::Recovered;
    case HostsSaver::Outcome::Failed:
        break;
    }
    return HostsHelper::WriteFailed;
}

} // namespace HostsWriter
