// tarvix-hosts-helper: writes the system hosts file with the administrator's rights, for a
// window that lacks them. pkexec starts it after polkit has asked for the password. It writes
// that one file and nothing else: the path is the platform's constant, and it takes no
// argument, reads no environment (it empties it) and names no file from its input. The base
// and the window's result come on standard input as one frame (platform/HostsHelper.h); the
// result is merged onto the file as it is now (core/hosts/HostsSaver), under the lock that the
// windows take too. The outcome is the exit status listed there, with the reason on standard
// error. Qt Core only: no widgets, no network, no shell, no other process.
#include "core/hosts/HostsSaver.h"
#include "platform/HelperProcess.h"
#include "platform/HostsHelper.h"
#include "platform/Platform.h"

#include <QByteArray>
#include <QFile>
#include <QString>

#include <cstdio>

namespace {

int fail(HostsHelper::Status status, const QString& why)
{
    const QByteArray text = why.toUtf8() + '\n';
    std::fwrite(text.constData(), 1, size_t(text.size()), stderr);
    std::fflush(stderr);
    return status;
}

} // namespace

int main(int argc, char* argv[])
{
    Q_UNUSED(argv);
    HelperProcess::harden();
    const QString path = Platform::hostsPath();
    if (argc > 1) {
        return fail(HostsHelper::Usage, QStringLiteral("%1 不接受任何参数：它只把标准输入送来的内容写入 %2。")
                                            .arg(QLatin1String(HostsHelper::kProgramName), path));
    }

    QFile in;
    if (!in.open(0, QIODevice::ReadOnly | QIODevice::Unbuffered))
        return fail(HostsHelper::ReadFailed, QStringLiteral("标准输入无法打开: ") + in.errorString());
    QByteArray base, content;
    QString error;
    const HostsHelper::Status status = HostsHelper::readFrame(&in, &base, &content, &error);
    if (status != HostsHelper::Written)
        return fail(status, error + QStringLiteral("，") + path + QStringLiteral(" 没有改动。"));

    if (!HelperProcess::isSafeTarget(path, &error))
        return fail(HostsHelper::UnsafeTarget, error + QStringLiteral("，没有改动。"));
    // A write beyond the file size limit fails only when the buffered bytes are flushed, which
    // a save may notice too late; it is refused before anything is written.
    const qint64 limit = HelperProcess::fileSizeLimit();
    if (limit >= 0 && content.size() > limit) {
        return fail(
            HostsHelper::WriteFailed,
            QStringLiteral("%1: 文件大小上限 (ulimit -f) 只允许 %2 字节，新内容有 %3 字节，没有改动。")
                .arg(path)
                .arg(limit)
                .arg(content.size()));
    }
    // No backup folder: a root process writes no user's folder. The window kept the backup.
    HostsSaver saver(path, QString());
    switch (saver.saveResult(base, content, &error)) {
    case HostsSaver::Outcome::Saved:
        break;
    case HostsSaver::Outcome::Conflict:
        return fail(HostsHelper::Conflict, error);
    case HostsSaver::Outcome::Recovered:
        return fail(HostsHelper::Recovered, error);
    case HostsSaver::Outcome::Failed:
        return fail(HostsHelper::WriteFailed, error);
    }
    return HostsHelper::Written;
}
