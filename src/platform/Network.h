#pragma once

#include <QByteArrayView>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>

// Names and connections, as the system does them: the system's resolver (which reads the hosts
// file), a DNS query that does not, the resolver's cache, and a timed TCP connection. Tests put
// stand-ins in NameService; no test ever lets a query leave the machine.
namespace Platform {

// 4 for an IPv4 address in dotted decimal, 6 for an IPv6 address, 0 for anything else (text,
// a name, an address with a zone or a prefix), as the system's inet_pton reads it. Allocates
// nothing, as it runs for every line of a large hosts file.
int addressFamily(QByteArrayView ip);
int addressFamily(QStringView ip);
// The address in the system's one form ("2001:db8::1" for "2001:DB8:0::1"); ip itself if it
// is not an address.
QString canonicalAddress(const QString& ip);

// The addresses that the system's resolver (getaddrinfo) gives for host, numeric, in its order,
// each once. Empty and *error set (the system's reason) if it gives none.
QStringList systemLookup(const QString& host, QString* error);

// The addresses that DNS gives for host, IPv4 then IPv6, without the hosts file (Linux: a query
// through the resolver library; Windows: DnsQuery_W with DNS_QUERY_NO_HOSTS_FILE). Empty and
// *error set if DNS gives none.
QStringList dnsLookup(const QString& host, QString* error);

// How the system's resolver answers from the hosts file for a name that several lines map
// (for the same address family). Every name on a line counts, up to a "#", on every system.
struct HostsRule {
    // The addresses of every such line, in file order (glibc with "multi on"); false: those of
    // the first line only.
    bool everyLine = false;
};

// The text of the resolver's own settings that decide the rule: on Linux the file that glibc
// reads (RESOLV_HOST_CONF, else /etc/host.conf); empty where the file is missing, and on
// Windows, which has none.
QByteArray readResolverSettings();

// The rule that settings (readResolverSettings' text) give. Linux: the last "multi on"/"multi
// off" line, as glibc reads host.conf (keyword and value without regard to case, "#" starts a
// comment anywhere), then the environment variable RESOLV_MULTI ("on"/"off") over it; off
// without either. Windows: the first line wins, whatever settings holds.
HostsRule hostsRule(QByteArrayView settings);

// The resolver cache, flushed after a save: Windows' DNS client, systemd-resolved, nscd.
struct CacheFlush {
    enum Status { NoCache, Flushed, Failed };
    Status status = NoCache;
    QString cache; // which cache: "systemd-resolved", "nscd", "DNS Client"
    QString error; // why it failed
};
CacheFlush flushResolverCache();

// Empty where systemLookup answers from the hosts file just saved; otherwise why not (under
// Wine the resolver does not read the prefix's hosts file).
QString resolverCheckUnavailable();

// One timed TCP connection to ip:port, closed at once. cancel (may be null) is looked at every
// few milliseconds while waiting; a try cancelled or not finished within timeoutMs ends early.
struct ConnectTry {
    enum Outcome { Connected, Refused, TimedOut, Failed, Cancelled };
    Outcome outcome = Failed;
    qint64 micros = 0; // until connected
    QString error;     // the system's reason when Failed
};
ConnectTry tcpConnect(const QString& ip, quint16 port, int timeoutMs, const std::atomic<bool>* cancel);

// Lowers the calling thread's share of the processor below the window's (Linux: its nice value
// to 10; Windows: THREAD_PRIORITY_BELOW_NORMAL), so that threads that keep the processor busy
// in the kernel (thousands of refused connections) never hold the window's thread back.
void lowerThreadPriority();

// What the program asks the system about names: the functions above, or a test's stand-ins.
struct NameService {
    std::function<QStringList(const QString& host, QString* error)> lookup; // systemLookup
    std::function<QStringList(const QString& host, QString* error)> dns;    // dnsLookup
    std::function<CacheFlush()> flush;                                      // flushResolverCache
    std::function<QString()> unavailable;                                   // resolverCheckUnavailable
    std::function<QByteArray()> resolverSettings;                           // readResolverSettings

    // The system's: every function above. Fills only the members left empty.
    NameService withSystemDefaults() const;
};

using Connector = std::function<ConnectTry(const QString& ip, quint16 port, int timeoutMs,
                                           const std::atomic<bool>* cancel)>;

} // namespace Platform
