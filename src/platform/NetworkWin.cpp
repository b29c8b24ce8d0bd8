// Names and connections on Windows: getaddrinfo and a non-blocking connect through Winsock,
// DnsQuery_W without the hosts file and DnsFlushResolverCache through dnsapi. The Qt for
// Windows is built without its network module, so sockets are the system's own here.
#include "platform/Network.h"

#include <QElapsedTimer>

// Winsock first: windows.h would otherwise bring in the old winsock.h, and windns.h needs both.
// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <windns.h>

#include "platform/SocketAddress.h" // after the socket headers it relies on
// clang-format on

namespace Platform {

namespace {

// Winsock is started once for the life of the program.
bool startWinsock()
{
    static const bool started = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return started;
}

QString systemText(DWORD code)
{
    wchar_t* text = nullptr;
    FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                       FORMAT_MESSAGE_IGNORE_INSERTS,
                   nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    const QString out = text ? QString::fromWCharArray(text).trimmed() : QString::number(code);
    LocalFree(text);
    return out;
}

} // namespace

int addressFamily(QByteArrayView ip)
{
    startWinsock(); // the address functions are Winsock's too
    char text[64];
    if (ip.size() >= qsizetype(sizeof text) || ip.isEmpty())
        return 0;
    memcpy(text, ip.data(), size_t(ip.size()));
    text[ip.size()] = 0;
    unsigned char bytes[16];
    if (inet_pton(AF_INET, text, bytes) == 1)
        return 4;
    if (inet_pton(AF_INET6, text, bytes) == 1)
        return 6;
    return 0;
}

QString canonicalAddress(const QString& ip)
{
    startWinsock();
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
    if (!startWinsock()) {
        *error = systemText(DWORD(WSAGetLastError()));
        return {};
    }
    ADDRINFOW hints = {};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    ADDRINFOW* list = nullptr;
    const int rc = GetAddrInfoW(reinterpret_cast<const wchar_t*>(host.utf16()), nullptr, &hints, &list);
    if (rc != 0) {
        *error = systemText(DWORD(rc));
        return {};
    }
    QStringList out;
    for (const ADDRINFOW* a = list; a; a = a->ai_next) {
        wchar_t text[INET6_ADDRSTRLEN] = {};
        if (GetNameInfoW(a->ai_addr, int(a->ai_addrlen), text, INET6_ADDRSTRLEN, nullptr, 0,
                         NI_NUMERICHOST) == 0) {
            const QString t = QString::fromWCharArray(text);
            if (!out.contains(t))
                out << t;
        }
    }
    FreeAddrInfoW(list);
    return out;
}

QStringList dnsLookup(const QString& host, QString* error)
{
    QStringList out;
    DNS_STATUS last = 0;
    for (const WORD type : {WORD(DNS_TYPE_A), WORD(DNS_TYPE_AAAA)}) {
        PDNS_RECORD records = nullptr;
        const DNS_STATUS status = DnsQuery_W(reinterpret_cast<const wchar_t*>(host.utf16()), type,
                                             DNS_QUERY_NO_HOSTS_FILE, nullptr, &records, nullptr);
        if (status != 0) {
            last = status;
            continue;
        }
        for (PDNS_RECORD r = records; r; r = r->pNext) {
            wchar_t text[INET6_ADDRSTRLEN] = {};
            if (r->wType == DNS_TYPE_A && type == DNS_TYPE_A) {
                IN_ADDR a;
                a.S_un.S_addr = r->Data.A.IpAddress;
                InetNtopW(AF_INET, &a, text, INET6_ADDRSTRLEN);
            } else if (r->wType == DNS_TYPE_AAAA && type == DNS_TYPE_AAAA) {
                InetNtopW(AF_INET6, &r->Data.AAAA.Ip6Address, text, INET6_ADDRSTRLEN);
            }
            if (text[0])
                out << QString::fromWCharArray(text);
        }
        DnsRecordListFree(records, DnsFreeRecordList);
    }
    out.removeDuplicates();
    if (out.isEmpty())
        *error = last ? systemText(DWORD(last)) : QStringLiteral("DNS 无地址");
    return out;
}

CacheFlush flushResolverCache()
{
    // What "ipconfig /flushdns" does. The DNS Client service may be stopped: then there is no
    // cache to flush.
    // dnsapi.dll exports it, but no SDK header declares it and mingw-w64's import library lacks
    // it: it is looked up where it lives.
    CacheFlush result;
    result.cache = QStringLiteral("DNS Client");
    using Flush = BOOL(WINAPI*)();
    HMODULE dnsapi = LoadLibraryW(L"dnsapi.dll");
    const auto flush = dnsapi ? reinterpret_cast<Flush>(
                                    reinterpret_cast<void*>(GetProcAddress(dnsapi, "DnsFlushResolverCache")))
                              : nullptr;
    if (!flush) {
        result.status = CacheFlush::Failed;
        result.error = QStringLiteral("dnsapi.dll 没有 DnsFlushResolverCache");
    } else if (flush()) {
        result.status = CacheFlush::Flushed;
    } else {
        result.status = CacheFlush::Failed;
        result.error = systemText(GetLastError());
    }
    return result;
}

QString resolverCheckUnavailable()
{
    // Wine's resolver answers from the Linux system, not from the prefix's hosts file.
    if (GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version"))
        return QStringLiteral("Wine 的解析不读本程序保存的 HOST 文件，未检查");
    return QString();
}

QByteArray readResolverSettings()
{
    return QByteArray(); // Windows' resolver has no such file
}

HostsRule hostsRule(QByteArrayView)
{
    // Microsoft describes the hosts file as the BSD host table (an address, then a name and its
    // aliases) but says nothing of a name on several lines; the first line is taken to win.
    return HostsRule();
}

ConnectTry tcpConnect(const QString& ip, quint16 port, int timeoutMs, const std::atomic<bool>* cancel)
{
    ConnectTry result;
    if (!startWinsock()) {
        result.error = systemText(DWORD(WSAGetLastError()));
        return result;
    }
    sockaddr_storage addr;
    int length = 0;
    if (!socketAddress(ip, port, &addr, &length)) {
        result.error = QStringLiteral("不是 IP 地址");
        return result;
    }
    const SOCKET s = socket(addr.ss_family, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) {
        result.error = systemText(DWORD(WSAGetLastError()));
        return result;
    }
    u_long nonBlocking = 1;
    ioctlsocket(s, FIONBIO, &nonBlocking);
    QElapsedTimer timer;
    timer.start();
    int err = 0;
    if (connect(s, reinterpret_cast<sockaddr*>(&addr), length) != 0) {
        err = WSAGetLastError();
        if (err == WSAEWOULDBLOCK) {
            err = WSAETIMEDOUT;
            // Waited for in short slices, so that a closed dialog does not wait for a time-out.
            for (;;) {
                if (cancel && cancel->load()) {
                    result.outcome = ConnectTry::Cancelled;
                    closesocket(s);
                    return result;
                }
                const qint64 left = timeoutMs - timer.elapsed();
                if (left <= 0)
                    break;
                fd_set writable, failed;
                FD_ZERO(&writable);
                FD_ZERO(&failed);
                FD_SET(s, &writable);
                FD_SET(s, &failed);
                timeval tv = {0, long(qMin<qint64>(left, 50) * 1000)};
                const int rc = select(0, nullptr, &writable, &failed, &tv);
                if (rc == SOCKET_ERROR) {
                    err = WSAGetLastError();
                    break;
                }
                if (rc > 0) {
                    int size = sizeof err;
                    err = 0;
                    if (FD_ISSET(s, &failed))
                        getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&err), &size);
                    break;
                }
            }
        }
    }
    result.micros = timer.nsecsElapsed() / 1000;
    closesocket(s);
    if (err == 0)
        result.outcome = ConnectTry::Connected;
    else if (err == WSAECONNREFUSED)
        result.outcome = ConnectTry::Refused;
    else if (err == WSAETIMEDOUT)
        result.outcome = ConnectTry::TimedOut;
    else
        result.error = systemText(DWORD(err));
    return result;
}

void lowerThreadPriority()
{
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_BELOW_NORMAL);
}

} // namespace Platform
