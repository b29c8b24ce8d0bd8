#include "core/hosts/EffectCheckService.h"

#include <QMutex>
#include <QTimer>

// One check: what has come in so far, shared by its lookups and the limit.
struct EffectCheckService::Run {
    QList<EffectCheck::Probe> probes;
    int more = 0;
    QMutex lock;
    QList<EffectCheck::Answer> answers; // answered false until its lookup ends
    Platform::CacheFlush flush;
    qsizetype pending = 0;
    bool reported = false; // on the service's thread only
};

EffectCheckService::EffectCheckService(const Platform::NameService& names, int limitMs, QObject* parent)
    : QObject(parent), m_names(names.withSystemDefaults()), m_limitMs(limitMs)
{
    m_pool.setMaxThreadCount(kThreads);
}

EffectCheckService::~EffectCheckService()
{
    m_pool.waitForDone();
}

void EffectCheckService::check(const QList<EffectCheck::Probe>& probes, int more)
{
    ++m_checking;
    auto run = std::make_shared<Run>();
    run->probes = probes;
    run->more = more;
    const QString unavailable = m_names.unavailable();
    if (!unavailable.isEmpty()) {
        const QStringList lines = probes.isEmpty() && more == 0
                                      ? QStringList()
                                      : EffectCheck::lines(probes, {}, {}, more, unavailable);
        QMetaObject::invokeMethod(
            this,
            [this, lines] {
                --m_checking;
                emit checked(lines);
            },
            Qt::QueuedConnection);
        return;
    }
    run->answers.resize(probes.size());
    for (EffectCheck::Answer& a : run->answers)
        a.answered = false;
    run->pending = probes.size();
    QTimer::singleShot(m_limitMs, this, [this, run] { finish(run); });
    // The cache is flushed before any lookup; then each host is asked on a thread of its own.
    m_pool.start([this, run, names = m_names] {
        const Platform::CacheFlush flush = names.flush();
        {
            const QMutexLocker locker(&run->lock);
            run->flush = flush;
        }
        if (run->probes.isEmpty())
            QMetaObject::invokeMethod(
                this, [this, run] { finish(run); }, Qt::QueuedConnection);
        for (qsizetype i = 0; i < run->probes.size(); ++i) {
            m_pool.start([this, run, names, i] {
                EffectCheck::Answer answer;
                answer.addresses = names.lookup(run->probes[i].host, &answer.error);
                const QMutexLocker locker(&run->lock);
                run->answers[i] = answer;
                if (--run->pending == 0)
                    QMetaObject::invokeMethod(
                        this, [this, run] { finish(run); }, Qt::QueuedConnection);
            });
        }
    });
}

void EffectCheckService::finish(const std::shared_ptr<Run>& run)
{
    if (run->reported)
        return;
    run->reported = true;
    --m_checking;
    QList<EffectCheck::Answer> answers;
    Platform::CacheFlush flush;
    {
        const QMutexLocker locker(&run->lock);
        answers = run->answers;
        flush = run->flush;
    }
    emit checked(EffectCheck::lines(run->probes, answers, flush, run->more, QString()));
}
