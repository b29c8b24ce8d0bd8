// Starts a batch of 1,000 loopback targets (127.0.0.1, count 1) through the window's own
// handler and the platform's real starter, and reports the time per target.
//   build/default/bench/bench_ping [targets]          the system's ping
//   build/default/bench/bench_ping [targets] --stub   /bin/true in ping's place: the cost of
//                                                     starting alone, without the pings' own CPU
#include "gui/FormMain.h"
#include "gui/MessageBox.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <sys/resource.h>

#include <cstdio>

static double cpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int targets = argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : 1000;
    QTemporaryDir dir;
    if (argc > 2 && qstrcmp(argv[2], "--stub") == 0) {
        QDir(dir.path()).mkdir(QStringLiteral("bin"));
        QFile::link(QStringLiteral("/bin/true"), dir.filePath(QStringLiteral("bin/ping")));
        qputenv("PATH", dir.filePath(QStringLiteral("bin")).toLocal8Bit() + ":" + qgetenv("PATH"));
    }
    MessageBox::setHandler([](QWidget*, const QString&) {});
    FormMainOptions options;
    options.hostsPath = dir.filePath(QStringLiteral("hosts"));
    options.executableDir = dir.path();
    FormMain form(options);

    QStringList queue;
    for (int i = 0; i < targets; ++i)
        queue << (i % 2 ? QStringLiteral("127.0.0.1") : QStringLiteral("127.0.0.%1").arg(1 + i % 250));
    form.findChild<QPlainTextEdit*>(QStringLiteral("TextIP"))->setPlainText(queue.join(QLatin1Char('\n')));
    form.findChild<QLineEdit*>(QStringLiteral("TextN"))->setText(QStringLiteral("1"));

    // How responsive the window stays: the longest gap between two ticks of a 10 ms timer.
    QElapsedTimer tick;
    qint64 longestGap = 0;
    QTimer ticker;
    ticker.setInterval(10);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        longestGap = qMax(longestGap, tick.restart());
    });
    ticker.start();
    tick.start();

    const double cpu0 = cpuSeconds();
    QElapsedTimer timer;
    timer.start();
    form.startBatch();
    const double ms = timer.nsecsElapsed() / 1e6;
    const double cpu = cpuSeconds() - cpu0;
    longestGap = qMax(longestGap, tick.elapsed());

    auto* log = form.findChild<QListWidget*>(QStringLiteral("ListLog"));
    int started = 0;
    for (int i = 0; i < log->count(); ++i)
        started += log->item(i)->text().startsWith(QStringLiteral("执行完成")) ? 1 : 0;
    std::printf("targets %d, started %d, click %.0f ms, %.3f ms per target, %.0f targets/s, "
                "program CPU %.2f s, longest pause of the event loop %lld ms\n",
                targets, started, ms, ms / targets, targets / (ms / 1000), cpu, static_cast<long long>(longestGap));
    // Let the pings end before the folder goes away.
    QThread::sleep(3);
    return started == targets ? 0 : 1;
}
