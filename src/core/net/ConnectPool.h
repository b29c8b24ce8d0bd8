#pragma once

#include "core/net/TlsCheck.h"
#include "platform/Network.h"

#include <QObject>
#include <QPointer>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

// Timed TCP connections (and other blocking work such as a DNS query) beside the window, at most
// a fixed number at once. 测速 and the batch's TCP targets share one pool, so that a list of
// 100,000 addresses never asks for more than that many threads; a try waits in the queue until
// a thread is free.
//
// Hand-written rather than a QThreadPool: when the system refuses a new thread (a process limit
// under `ulimit -u`), Qt 6.4's pool only warns, keeps counting the thread that never ran as
// active and never runs the work given to it, so its waitForDone() and destructor wait for ever
// and the tries never answer. Here a thread that cannot start is seen (std::system_error): the
// work queued goes to the threads already running, or, when there are none, every queued try
// answers Failed with the reason and cannotStart() says it.
//
// connector is Platform::tcpConnect or a test's stand-in; it is called on the pool's threads.
// Answers are handed over on the pool's thread (the window's), a batch at a time, and only while
// their context lives; context must live on that thread too.
class ConnectPool : public QObject
{
    Q_OBJECT

public:
    static constexpr int kMaxTries = 64;

    // Starts a thread running its argument; throws std::system_error when the system cannot.
    using ThreadStarter = std::function<std::thread(std::function<void()>)>;

    // startThread: a test's stand-in (empty: std::thread).
    explicit ConnectPool(Platform::Connector connector = {}, QObject* parent = nullptr,
                         ThreadStarter startThread = {});
    // Cancels what is queued or running and joins the threads: no answer comes after it. A DNS
    // query that is running cannot be cancelled and is waited for (the resolver's own time-out).
    ~ConnectPool() override;

    using Done = std::function<void(const Platform::ConnectTry& t)>;
    // Queues one try of ip:port, given up after timeoutMs. cancel (may be null) ends it early:
    // a try cancelled before it ran answers Cancelled without connecting.
    void connectTo(const QString& ip, quint16 port, int timeoutMs, QObject* context, Done done,
                   std::shared_ptr<std::atomic<bool>> cancel = {});
    using TlsDone = std::function<void(const TlsTry& t)>;
    // Queues one TLS handshake to ip:port for host (see checkTls), answered like a try.
    void checkTls(const QString& ip, quint16 port, const QString& host, int timeoutMs, QObject* context,
                  TlsDone done, std::shared_ptr<std::atomic<bool>> cancel = {});
    // The handshakes' stand-in (tests: one that trusts the test's own authority); empty: the
    // system's trust.
    void setTlsChecker(TlsChecker checker);

    // Runs work on a thread of the pool; what it returns runs afterwards on the pool's thread
    // while context lives. If no thread can start, failed (may be empty) runs there instead
    // with the system's reason.
    void run(std::function<std::function<void()>()> work, QObject* context,
             std::function<void(const QString& reason)> failed = {});

    // Work queued and running.
    int pending() const { return m_pending.load(); }
    // Blocks until every piece of work queued so far has ended or msecs passed (-1: no limit).
    // Tests only.
    bool waitForDone(int msecs = -1);

signals:
    // No thread could be started and none was running: the work queued failed with reason.
    void cannotStart(const QString& reason);

private:
    struct Job {
        std::function<std::function<void()>(const std::atomic<bool>* cancel)> work;
        std::function<void(const QString& reason)> failed;
        std::shared_ptr<std::atomic<bool>> cancel;
        QPointer<QObject> context;
    };
    struct Worker {
        std::thread thread;
        bool ended = false;
        std::shared_ptr<std::atomic<bool>> running; // the cancel flag of the job it runs
    };
    struct Answer {
        QPointer<QObject> context;
        std::function<void()> then;
    };

    void enqueue(Job job);
    void work(Worker* self);
    void answer(QPointer<QObject> context, std::function<void()> then);
    void deliver();

    Platform::Connector m_connector;
    TlsChecker m_tlsChecker;
    ThreadStarter m_startThread;
    std::mutex m_mutex; // guards everything below but m_pending
    std::condition_variable m_wake;
    std::condition_variable m_idle;
    std::deque<Job> m_queue;
    std::list<Worker> m_workers;
    int m_waiting = 0; // workers waiting for work
    bool m_closing = false;
    std::vector<Answer> m_answers;
    std::atomic<int> m_pending{0};
};
