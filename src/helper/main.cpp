// tarvix-hosts-helper: writes the system hosts file with the administrator's rights, for a
// window that lacks them. pkexec starts it after polkit has asked for the password. It writes
// that one file and nothing else: the path is the platform's constant, and it takes no
// argument, reads no environment (it empties it) and names no file from its input. The base
// and the window's result come on standard input as one frame (platform/HostsHelper.h); the
// result is merged onto the file as it is now (core/hosts/HostsSaver), under the lock that the
// windows take too. The outcome is the exit status listed there, with the reason on standard
// error. Qt Core only: no widgets, no network, no shell, no other process.
#include "core/hosts/HostsWriter.h"
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
    QString error;
    const HostsHelper::Status status = HostsWriter::writeFromFrame(&in, path, &error);
    if (status != HostsHelper::Written)
        return fail(status, error);
    return HostsHelper::Written;
}
