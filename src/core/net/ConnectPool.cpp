#include "core/net/ConnectPool.h"

#include <QMetaObject>

#include <chrono>
#include <system_error>

namespace {

// Idle threads end soon: a 测速 leaves nothing running behind it.
constexpr auto kIdleExpiry = std::chrono::seconds(2);

} // namespace

ConnectPool::ConnectPool(Platform::Connector connector, QObject* parent, ThreadStarter startThread)
    : QObject(parent),
      m_connector(connector ? std::move(connector) : Platform::Connector(Platform::tcpConnect)),
      m_startThread(startThread ? std::move(startThread) : ThreadStarter([](std::function<void()> f) {
          return std::thread(std::move(f));
      }))
{
}

ConnectPool::~ConnectPool()
{
    std::list<Worker> workers;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_closing = true;
        m_pending -= int(m_queue.size());
        m_queue.clear(); // what has not started never will
        for (Worker& w : m_workers) {
            if (w.running)
                w.running->store(true);
        }
        workers.swap(m_workers);
    }
    m_wake.notify_all();
    for (Worker& w : workers)
        w.thread.join();
}

void ConnectPool::connectTo(const QString& ip, quint16 port, int timeoutMs, QObject* context, Done done,
                            std::shared_ptr<std::atomic<bool>> cancel)
{
    Job job;
    job.cancel = cancel ? std::move(cancel) : std::make_shared<std::atomic<bool>>(false);
    job.context = context;
    job.work = [this, ip, port, timeoutMs, done](const std::atomic<bool>* flag) -> std::function<void()> {
        Platform::ConnectTry t;
        if (flag->load())
            t.outcome = Platform::ConnectTry::Cancelled;
        else
            t = m_connector(ip, port, timeoutMs, flag);
        return [done, t] { done(t); };
    };
    job.failed = [done](const QString& reason) {
        Platform::ConnectTry t;
        t.outcome = Platform::ConnectTry::Failed;
        t.error = reason;
        done(t);
    };
    enqueue(std::move(job));
}

void ConnectPool::setTlsChecker(TlsChecker checker)
{
    m_tlsChecker = checker ? std::move(checker)
                           : TlsChecker([](const QString& ip, quint16 port, const QString& host,
                                           int timeoutMs, const std::atomic<bool>* cancel) {
                                 return ::checkTls(ip, port, host, timeoutMs, cancel);
                             });
}

void ConnectPool::checkTls(const QString& ip, quint16 port, const QString& host, int timeoutMs,
                           QObject* context, TlsDone done, std::shared_ptr<std::atomic<bool>> cancel)
{
    Job job;
    job.cancel = cancel ? std::move(cancel) : std::make_shared<std::atomic<bool>>(false);
    job.context = context;
    job.work = [checker = m_tlsChecker, ip, port, host, timeoutMs,
                done](const std::atomic<bool>* flag) -> std::function<void()> {
        TlsTry t;
        if (flag->load())
            t.outcome = TlsTry::Cancelled;
        else
            t = checker(ip, port, host, timeoutMs, flag);
        return [done, t] { done(t); };
    };
    job.failed = [done](const QString& reason) {
        TlsTry t;
        t.error = reason;
        done(t);
    };
    enqueue(std::move(job));
}

void ConnectPool::run(std::function<std::function<void()>()> work, QObject* context,
                      std::function<void(const QString& reason)> failed)
{
    Job job;
    job.cancel = std::make_shared<std::atomic<bool>>(false);
    job.context = context;
    job.work = [work = std::move(work)](const std::atomic<bool>*) { return work(); };
    job.failed = std::move(failed);
    enqueue(std::move(job));
}

void ConnectPool::enqueue(Job job)
{
    ++m_pending;
    std::unique_lock<std::mutex> lock(m_mutex);
    // Threads that ended by themselves are joined here, on the pool's thread.
    for (auto it = m_workers.begin(); it != m_workers.end();) {
        if (it->ended) {
            it->thread.join();
            it = m_workers.erase(it);
        } else {
            ++it;
        }
    }
    m_queue.push_back(std::move(job));
    if (m_waiting > int(m_queue.size()) - 1 || int(m_workers.size()) >= kMaxTries) {
        const bool wake = m_waiting > 0; // a busy thread takes it when it is done
        lock.unlock();
        if (wake)
            m_wake.notify_one();
        return;
    }
    Worker& worker = m_workers.emplace_back();
    try {
        worker.thread = m_startThread([this, w = &worker] { work(w); });
        return;
    } catch (const std::system_error& e) {
        m_workers.pop_back();
        if (!m_workers.empty()) {
            lock.unlock();
            m_wake.notify_one(); // the threads that run take the queue in turn
            return;
        }
        const QString reason =
            QStringLiteral("无法启动线程: %1").arg(QString::fromLocal8Bit(e.code().message()));
        std::deque<Job> failed;
        failed.swap(m_queue);
        m_pending -= int(failed.size());
        lock.unlock();
        m_idle.notify_all();
        for (Job& j : failed) {
            if (j.failed)
                answer(j.context, [f = std::move(j.failed), reason] { f(reason); });
        }
        QMetaObject::invokeMethod(
            this, [this, reason] { emit cannotStart(reason); }, Qt::QueuedConnection);
    }
}

void ConnectPool::work(Worker* self)
{
    Platform::lowerThreadPriority();
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        ++m_waiting;
        const bool woken =
            m_wake.wait_for(lock, kIdleExpiry, [this] { return m_closing || !m_queue.empty(); });
        --m_waiting;
        if (!woken || m_closing)
            break;
        Job job = std::move(m_queue.front());
        m_queue.pop_front();
        self->running = job.cancel;
        lock.unlock();
        std::function<void()> then = job.work(job.cancel.get());
        answer(job.context, std::move(then));
        job = Job(); // its captures go on this thread, before the count says it ended
        lock.lock();
        self->running.reset();
        if (--m_pending == 0)
            m_idle.notify_all();
    }
    self->ended = true;
}

void ConnectPool::answer(QPointer<QObject> context, std::function<void()> then)
{
    bool first;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_closing)
            return;
        first = m_answers.empty();
        m_answers.push_back({std::move(context), std::move(then)});
    }
    // One event carries every answer that comes in until it is handled.
    if (first)
        QMetaObject::invokeMethod(this, &ConnectPool::deliver, Qt::QueuedConnection);
}

void ConnectPool::deliver()
{
    std::vector<Answer> answers;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        answers.swap(m_answers);
    }
    for (Answer& a : answers) {
        if (a.context)
            a.then();
    }
}

bool ConnectPool::waitForDone(int msecs)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    auto done = [this] { return m_pending.load() == 0; };
    if (msecs < 0) {
        m_idle.wait(lock, done);
        return true;
    }
    return m_idle.wait_for(lock, std::chrono::milliseconds(msecs), done);
}
