// 测速 of 20 candidates of which 10 never answer: the time until every result is in. The
// candidates' connections go to listeners of this program on 127.0.0.1 only: 10 that accept and
// 10 whose queue is full, so the system drops the attempts unanswered. Each candidate (named
// 127.0.0.1 to 127.0.0.20) is mapped to its own listener's port; nothing else is connected to.
//   build/default/bench/bench_speed
#include "../tests/LoopbackListener.h"
#include "core/hosts/SpeedTest.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHash>

#include <cstdio>
#include <memory>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    std::vector<std::unique_ptr<LoopbackListener>> listeners;
    QHash<QString, quint16> ports;
    QStringList ips;
    for (int i = 0; i < 20; ++i) {
        listeners.push_back(std::make_unique<LoopbackListener>(i % 2 == 1));
        if (i % 2 == 1 && !listeners.back()->isSilent()) {
            std::printf("a full listener queue is answered here: cannot measure\n");
            return 1;
        }
        const QString ip = QStringLiteral("127.0.0.%1").arg(i + 1);
        ips << ip;
        ports.insert(ip, listeners.back()->port());
    }
    SpeedTest test([&](const QString& ip, quint16, int timeoutMs, const std::atomic<bool>* cancel) {
        return Platform::tcpConnect(QStringLiteral("127.0.0.1"), ports.value(ip), timeoutMs, cancel);
    });
    QList<SpeedTest::Candidate> list;
    SpeedTest::addCandidates(&list, ips, SpeedTest::Common);
    QElapsedTimer timer;
    double firstMs = -1;
    QObject::connect(&test, &SpeedTest::changed, [&] {
        if (firstMs < 0 && timer.isValid())
            firstMs = timer.nsecsElapsed() / 1e6;
    });
    QObject::connect(&test, &SpeedTest::finished, &app, &QCoreApplication::quit);
    timer.start();
    test.start(list, 443, 3, 1000);
    app.exec();
    const double allMs = timer.nsecsElapsed() / 1e6;
    int answered = 0, timedOut = 0;
    for (const SpeedTest::Entry& e : test.entries()) {
        answered += e.result.answered == 3;
        timedOut += e.result.timedOut == 3;
    }
    std::printf("20 candidates, 3 tries of 1 s each: all results after %.0f ms (first after %.1f ms); "
                "%d answered every try, %d timed out every try\n",
                allMs, firstMs, answered, timedOut);
    return 0;
}
