#pragma once

#include "platform/Network.h"

#include <QObject>
#include <QPointer>
#include <QThreadPool>

#include <atomic>
#include <functional>
#include <memory>

// Timed TCP connections beside the window, at most a fixed number at once. 测速 and the
// batch's TCP targets share one pool, so that a list of 100,000 addresses never asks for
// more than that many threads; a try waits in the queue until a thread is free.
//
// connector is Platform::tcpConnect or a test's stand-in; it is called on the pool's threads.
// A try's answer is handed to done on the pool's thread (the window's), and only while context
// lives; context must live on that thread too.
class ConnectPool : public QObject
{
    Q_OBJECT

public:
    static constexpr int kMaxTries = 64;

    explicit ConnectPool(Platform::Connector connector, QObject* parent = nullptr);
    // Cancels what is queued or running and waits for the threads: no answer comes after it.
    ~ConnectPool() override;

    using Done = std::function<void(const Platform::ConnectTry& t)>;
    // Queues one try of ip:port, given up after timeoutMs. cancel (may be null) ends it early:
    // a try cancelled before it ran answers Cancelled without connecting.
    void connectTo(const QString& ip, quint16 port, int timeoutMs, QObject* context, Done done,
                   std::shared_ptr<std::atomic<bool>> cancel = {});

    // Tries queued and running.
    int pending() const { return m_pending.load(); }
    // Blocks until every try queued so far has answered or msecs passed (-1: no limit). Tests
    // and the destructor only.
    bool waitForDone(int msecs = -1);

private:
    Platform::Connector m_connector;
    QThreadPool m_threads;
    std::atomic<bool> m_closing{false};
    std::atomic<int> m_pending{0};
};
