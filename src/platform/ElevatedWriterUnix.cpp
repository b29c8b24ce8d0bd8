// On Linux the hosts file is written through pkexec and tarvix-hosts-helper (Platform::
// hostsElevation); the program has no writer mode.
#include "platform/ElevatedWriter.h"

#include "platform/HostsHelper.h"

namespace ElevatedWriter {

Outcome start(const QByteArray&, int, const std::atomic<bool>&)
{
    Outcome outcome;
    outcome.error = QStringLiteral("这个系统上没有以管理员身份写入的 Tarvix 写入模式");
    return outcome;
}

bool isWriterMode(int, char*[])
{
    return false;
}

int runWriter(int, char*[], const WriteFrame&)
{
    return HostsHelper::Usage;
}

} // namespace ElevatedWriter
