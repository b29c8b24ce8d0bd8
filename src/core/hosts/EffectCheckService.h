#pragma once

#include "core/hosts/EffectCheck.h"
#include "platform/Network.h"

#include <QObject>
#include <QStringList>
#include <QThreadPool>

#include <memory>

// The check after a save: the resolver's cache flushed, then each probe's host asked, side by
// side, on threads the service owns (at most kThreads). A lookup that misses the hosts file
// may wait on DNS for long: after limitMs the lines are given with the unanswered probes named
// "未检查完", and their answers, when they come, are dropped. Ending the service waits for the
// lookups still running.
class EffectCheckService : public QObject
{
    Q_OBJECT

public:
    static constexpr int kThreads = 20;

    // names: the system's where its members are empty.
    explicit EffectCheckService(const Platform::NameService& names, int limitMs = 3000,
                                QObject* parent = nullptr);
    ~EffectCheckService() override;

    // Starts a check; checked follows, with no lines where there is nothing to say.
    void check(const QList<EffectCheck::Probe>& probes, int more);
    // A check is started whose lines have not been given yet.
    bool isChecking() const { return m_checking > 0; }

signals:
    void checked(const QStringList& lines);

private:
    struct Run;
    void finish(const std::shared_ptr<Run>& run);

    Platform::NameService m_names;
    int m_limitMs;
    int m_checking = 0;
    QThreadPool m_pool; // last: ended first
};
