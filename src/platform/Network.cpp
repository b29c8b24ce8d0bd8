#include "platform/Network.h"

namespace Platform {

int addressFamily(QStringView ip)
{
    // Addresses are ASCII: anything else is not one, and the copy stays on the stack.
    char buffer[64];
    if (ip.size() >= qsizetype(sizeof buffer))
        return 0;
    for (qsizetype i = 0; i < ip.size(); ++i) {
        const char16_t c = ip[i].unicode();
        if (c == 0 || c > 0x7f)
            return 0;
        buffer[i] = char(c);
    }
    return addressFamily(QByteArrayView(buffer, ip.size()));
}

NameService NameService::withSystemDefaults() const
{
    NameService s = *this;
    if (!s.lookup)
        s.lookup = systemLookup;
    if (!s.dns)
        s.dns = dnsLookup;
    if (!s.flush)
        s.flush = flushResolverCache;
    if (!s.unavailable)
        s.unavailable = resolverCheckUnavailable;
    if (!s.resolverSettings)
        s.resolverSettings = readResolverSettings;
    return s;
}

} // namespace Platform
