#pragma once

// Included by the platform's socket code after the system's own socket headers (winsock2.h and
// ws2tcpip.h, or sys/socket.h, netinet/in.h and arpa/inet.h), which declare what it uses.
#include <QByteArray>
#include <QString>

// The socket address of an IPv4 or IPv6 address text and a port, and its length. False, with
// nothing set that counts, when ip is neither.
template <typename Length>
bool socketAddress(const QString& ip, quint16 port, sockaddr_storage* addr, Length* length)
{
    *addr = {};
    const QByteArray text = ip.toLatin1();
    auto* v4 = reinterpret_cast<sockaddr_in*>(addr);
    auto* v6 = reinterpret_cast<sockaddr_in6*>(addr);
    if (inet_pton(AF_INET, text.constData(), &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        v4->sin_port = htons(port);
        *length = sizeof *v4;
        return true;
    }
    if (inet_pton(AF_INET6, text.constData(), &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(port);
        *length = sizeof *v6;
        return true;
    }
    return false;
}
