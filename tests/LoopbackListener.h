#pragma once

// Listeners on 127.0.0.1 for 测速's connections in tests and benchmarks: one that accepts, and
// one that never answers. Linux only (POSIX sockets).

#include <QtGlobal>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <vector>

class LoopbackListener
{
public:
    // silent: the listener's queue is filled at once, so that the system drops every further
    // connection attempt without an answer (a server that never accepts), and a try times out.
    explicit LoopbackListener(bool silent = false)
    {
        m_fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr = {};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof addr;
        if (m_fd < 0 || bind(m_fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
            listen(m_fd, silent ? 0 : 64) != 0 ||
            getsockname(m_fd, reinterpret_cast<sockaddr*>(&addr), &length) != 0)
            return;
        m_port = ntohs(addr.sin_port);
        if (!silent)
            return;
        // Connections that stay in the queue until it is full: one that does not complete
        // within a tenth of a second shows that it is.
        for (int i = 0; i < 16; ++i) {
            const int c = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
            connect(c, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
            pollfd p = {c, POLLOUT, 0};
            m_fillers.push_back(c);
            if (poll(&p, 1, 100) == 0) {
                m_silent = true;
                return;
            }
        }
    }
    ~LoopbackListener()
    {
        for (const int c : m_fillers)
            close(c);
        if (m_fd >= 0)
            close(m_fd);
    }
    LoopbackListener(const LoopbackListener&) = delete;
    LoopbackListener& operator=(const LoopbackListener&) = delete;

    quint16 port() const { return m_port; }
    bool isSilent() const { return m_silent; } // the queue is full: attempts go unanswered

private:
    int m_fd = -1;
    quint16 m_port = 0;
    bool m_silent = false;
    std::vector<int> m_fillers;
};
