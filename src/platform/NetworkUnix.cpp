// Names and connections on Linux: getaddrinfo, the resolver library's DNS query, and a
// non-blocking connect that is waited for with poll.
#include "platform/Network.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <arpa/inet.h>
#include <arpa/nameser.h>
#include <errno.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <resolv.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "platform/SocketAddress.h" // after the socket headers it relies on

namespace Platform {

namespace {

QString numericAddress(const sockaddr* addr, socklen_t length)
{
    char text[INET6_ADDRSTRLEN] = {};
    if (getnameinfo(addr, length, text, sizeof text, nullptr, 0, NI_NUMERICHOST) != 0)
        return QString();
    return QString::fromLatin1(text);
}

// Runs a cache's own command; false and *error (its output, or why it did not start).
bool runFlush(const QString& program, const QStringList& arguments, QString* error)
{
    QProcess p;
    p.start(program, arguments);
    if (!p.waitForStarted(5000)) {
        *error = program + QStringLiteral(": ") + p.errorString();
        return false;
    }
    if (!p.waitForFinished(10000)) {
        p.kill();
        p.waitForFinished(1000);
        *error = program + QStringLiteral(": 超时");
        return false;
    }
    if (p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0)
        return true;
    const QString said =
        QString::fromLocal8Bit(p.readAllStandardError() + p.readAllStandardOutput()).trimmed();
    *error = QStringLiteral("%1 %2: %3")
                 .arg(program, arguments.join(QLatin1Char(' ')),
                      said.isEmpty() ? QString::number(p.exitCode()) : said);
    return false;
}

} // namespace

int addressFamily(QByteArrayView ip)
{
    char text[64];
    if (ip.size() >= qsizetype(sizeof text) || ip.isEmpty())
        return 0;
    memcpy(text, ip.data(), size_t(ip.size()));
    text[ip.size()] = 0;
    unsigned char bytes[sizeof(in6_addr)];
    if (inet_pton(AF_INET, text, bytes) == 1)
        return 4;
    if (inet_pton(AF_INET6, text, bytes) == 1)
        return 6;
    return 0;
}

QString canonicalAddress(const QString& ip)
{
    const QByteArray text = ip.toLatin1();
    unsigned char bytes[16];
    char out[INET6_ADDRSTRLEN] = {};
    for (const int af : {AF_INET, AF_INET6}) {
        if (inet_pton(af, text.constData(), bytes) == 1 && inet_ntop(af, bytes, out, sizeof out))
            return QString::fromLatin1(out);
    }
    return ip;
}

QStringList systemLookup(const QString& host, QString* error)
{
    addrinfo hints = {};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM; // one entry per address, not one per socket type
    addrinfo* list = nullptr;
    const int rc = getaddrinfo(host.toUtf8().constData(), nullptr, &hints, &list);
    if (rc != 0) {
        *error = rc == EAI_SYSTEM ? QString::fromLocal8Bit(strerror(errno))
                                  : QString::fromLocal8Bit(gai_strerror(rc));
        return {};
    }
    QStringList out;
    for (const addrinfo* a = list; a; a = a->ai_next) {
        const QString text = numericAddress(a->ai_addr, a->ai_addrlen);
        if (!text.isEmpty() && !out.contains(text))
            out << text;
    }
    freeaddrinfo(list);
    return out;
}

QStringList dnsLookup(const QString& host, QString* error)
{
    // The resolver library asks the name servers of resolv.conf directly: the hosts file and
    // the name service switch are not consulted.
    const QByteArray name = host.toUtf8();
    QStringList out;
    QString lastError;
    for (const int type : {int(ns_t_a), int(ns_t_aaaa)}) {
        unsigned char answer[4096];
        const int n = res_query(name.constData(), ns_c_in, type, answer, sizeof answer);
        if (n < 0) {
            lastError = h_errno == HOST_NOT_FOUND ? QStringLiteral("DNS 无此名称")
                        : h_errno == NO_DATA      ? QStringLiteral("DNS 无地址")
                                                  : QString::fromLocal8Bit(hstrerror(h_errno));
            continue;
        }
        ns_msg msg;
        if (ns_initparse(answer, n, &msg) < 0)
            continue;
        for (int i = 0; i < ns_msg_count(msg, ns_s_an); ++i) {
            ns_rr rr;
            if (ns_parserr(&msg, ns_s_an, i, &rr) < 0 || ns_rr_type(rr) != type)
                continue;
            char text[INET6_ADDRSTRLEN] = {};
            const int af = type == ns_t_a ? AF_INET : AF_INET6;
            const unsigned expected = af == AF_INET ? 4 : 16;
            if (ns_rr_rdlen(rr) == expected && inet_ntop(af, ns_rr_rdata(rr), text, sizeof text))
                out << QString::fromLatin1(text);
        }
    }
    if (out.isEmpty())
        *error = lastError.isEmpty() ? QStringLiteral("DNS 无地址") : lastError;
    out.removeDuplicates();
    return out;
}

CacheFlush flushResolverCache()
{
    // Only a cache that runs is flushed; its socket shows that it does.
    CacheFlush result;
    QString error;
    if (QFileInfo::exists(QStringLiteral("/run/systemd/resolve/io.systemd.Resolve"))) {
        result.cache = QStringLiteral("systemd-resolved");
        result.status = runFlush(QStringLiteral("resolvectl"), {QStringLiteral("flush-caches")}, &error)
                            ? CacheFlush::Flushed
                            : CacheFlush::Failed;
    }
    if (result.status != CacheFlush::Failed && (QFileInfo::exists(QStringLiteral("/run/nscd/socket")) ||
                                                QFileInfo::exists(QStringLiteral("/var/run/nscd/socket")))) {
        result.cache =
            result.cache.isEmpty() ? QStringLiteral("nscd") : result.cache + QStringLiteral(", nscd");
        result.status =
            runFlush(QStringLiteral("nscd"), {QStringLiteral("-i"), QStringLiteral("hosts")}, &error)
                ? CacheFlush::Flushed
                : CacheFlush::Failed;
    }
    result.error = error;
    return result;
}

QString resolverCheckUnavailable()
{
    return QString();
}

QByteArray readResolverSettings()
{
    QByteArray path = qgetenv("RESOLV_HOST_CONF");
    if (path.isEmpty())
        path = "/etc/host.conf";
    QFile file(QString::fromLocal8Bit(path));
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.read(64 * 1024); // a few lines; more is no resolver's setting
}

namespace {

// glibc's reading of an "on"/"off" value: the start of text, without regard to case.
void readSwitch(QByteArrayView text, bool* value)
{
    if (text.size() >= 2 && text.first(2).compare("on", Qt::CaseInsensitive) == 0)
        *value = true;
    else if (text.size() >= 3 && text.first(3).compare("off", Qt::CaseInsensitive) == 0)
        *value = false;
}

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

} // namespace

HostsRule hostsRule(QByteArrayView settings)
{
    HostsRule rule;
    for (QByteArrayView line : QByteArray::fromRawData(settings.data(), settings.size()).split('\n')) {
        qsizetype p = 0;
        while (p < line.size() && isSpace(line[p]))
            ++p;
        const qsizetype start = p;
        while (p < line.size() && !isSpace(line[p]) && line[p] != '#' && line[p] != ',')
            ++p;
        if (line.sliced(start, p - start).compare("multi", Qt::CaseInsensitive) != 0)
            continue; // a comment, a blank line or another setting
        while (p < line.size() && isSpace(line[p]))
            ++p;
        readSwitch(line.sliced(p), &rule.everyLine);
    }
    const QByteArray multi = qgetenv("RESOLV_MULTI");
    if (!multi.isNull())
        readSwitch(multi, &rule.everyLine);
    return rule;
}

ConnectTry tcpConnect(const QString& ip, quint16 port, int timeoutMs, const std::atomic<bool>* cancel)
{
    ConnectTry result;
    sockaddr_storage addr;
    socklen_t length = 0;
    if (!socketAddress(ip, port, &addr, &length)) {
        result.error = QStringLiteral("不是 IP 地址");
        return result;
    }
    const int fd = socket(addr.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        result.error = QString::fromLocal8Bit(strerror(errno));
        return result;
    }
    QElapsedTimer timer;
    timer.start();
    int rc = connect(fd, reinterpret_cast<sockaddr*>(&addr), length);
    int err = rc == 0 ? 0 : errno;
    if (err == EINPROGRESS) {
        err = ETIMEDOUT;
        // Waited for in short slices, so that a closed dialog does not wait for a whole time-out.
        for (;;) {
            if (cancel && cancel->load()) {
                result.outcome = ConnectTry::Cancelled;
                close(fd);
                return result;
            }
            const qint64 left = timeoutMs - timer.elapsed();
            if (left <= 0)
                break;
            pollfd p = {fd, POLLOUT, 0};
            rc = poll(&p, 1, int(qMin<qint64>(left, 50)));
            if (rc < 0 && errno != EINTR) {
                err = errno;
                break;
            }
            if (rc > 0) {
                socklen_t size = sizeof err;
                if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &size) != 0)
                    err = errno;
                break;
            }
        }
    }
    result.micros = timer.nsecsElapsed() / 1000;
    close(fd);
    if (err == 0)
        result.outcome = ConnectTry::Connected;
    else if (err == ECONNREFUSED)
        result.outcome = ConnectTry::Refused;
    else if (err == ETIMEDOUT)
        result.outcome = ConnectTry::TimedOut;
    else
        result.error = QString::fromLocal8Bit(strerror(err));
    return result;
}

void lowerThreadPriority()
{
    // Linux keeps a nice value per thread: PRIO_PROCESS with a thread's id sets that one only.
    setpriority(PRIO_PROCESS, id_t(syscall(SYS_gettid)), 10);
}

} // namespace Platform
