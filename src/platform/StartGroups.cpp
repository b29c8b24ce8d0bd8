#include "platform/Platform.h"

#include <QThread>

#include <atomic>
#include <thread>
#include <vector>

namespace Platform {

QList<StartResult> startGroups(const QList<QList<Command>>& groups, const Starter& starter)
{
    // One slot per group: each is written by the one thread that took the group.
    std::vector<StartResult> results(static_cast<size_t>(groups.size()));
    std::atomic<qsizetype> next{0};
    auto work = [&] {
        for (qsizetype i = next++; i < groups.size(); i = next++) {
            bool earlierStillRunning = false;
            for (const Command& cmd : groups[i]) {
                StartResult& result = results[static_cast<size_t>(i)];
                result = starter ? starter(cmd) : start(cmd);
                earlierStillRunning = earlierStillRunning || result.stillRunning;
                result.stillRunning = earlierStillRunning;
            }
        }
    };
    // Most of a start is the system's work on the new process: a few threads keep the cores busy.
    const int threads = qBound(1, QThread::idealThreadCount() * 2, 8);
    std::vector<std::thread> pool;
    for (int t = 1; t < threads && t < groups.size(); ++t)
        pool.emplace_back(work);
    work();
    for (std::thread& t : pool)
        t.join();
    return QList<StartResult>(results.begin(), results.end());
}

} // namespace Platform
