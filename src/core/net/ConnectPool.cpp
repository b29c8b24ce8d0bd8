#include "core/net/ConnectPool.h"

#include <QMetaObject>

ConnectPool::ConnectPool(Platform::Connector connector, QObject* parent)
    : QObject(parent), m_connector(connector ? std::move(connector) : Platform::Connector(Platform::tcpConnect))
{
    m_threads.setMaxThreadCount(kMaxTries);
    // Idle threads end soon: a 测速 leaves nothing running behind it.
    m_threads.setExpiryTimeout(2000);
}

ConnectPool::~ConnectPool()
{
    m_closing = true;
    m_threads.clear(); // what has not started never will
    m_threads.waitForDone();
}

void ConnectPool::connectTo(const QString& ip, quint16 port, int timeoutMs, QObject* context, Done done,
                            std::shared_ptr<std::atomic<bool>> cancel)
{
    ++m_pending;
    QPointer<QObject> receiver(context);
    auto job = [this, ip, port, timeoutMs, receiver, done = std::move(done), cancel] {
        Platform::ConnectTry t;
        if (m_closing || (cancel && *cancel))
            t.outcome = Platform::ConnectTry::Cancelled;
        else
            t = m_connector(ip, port, timeoutMs, cancel ? cancel.get() : &m_closing);
        // The answer goes through the pool's own thread (the pool outlives its jobs), where the
        // context is looked at: a context that is gone by then never hears of it.
        if (!m_closing) {
            QMetaObject::invokeMethod(
                this, [receiver, done, t] {
                    if (receiver)
                        done(t);
                },
                Qt::QueuedConnection);
        }
        --m_pending;
    };
    if (!m_threads.tryStart(job))
        m_threads.start(job); // queued until a thread is free
}

bool ConnectPool::waitForDone(int msecs)
{
    return m_threads.waitForDone(msecs);
}
