// Starts a batch of 500 targets, all 127.0.0.1 with count 1, through the window's own handler
// and the platform's real starter, and waits for every ping's end entry. Reports the time of
// the click, the time until the batch's last entry, and the longest pause of the event loop
// over both; checks that every target got its end entry and its row in the day's table, and
// that no ping is left as a zombie.
//   build/default/bench/bench_ping [targets]          the system's ping
//   build/default/bench/bench_ping [targets] --stub   /bin/true in ping's place: the cost of
//                                                     starting and watching alone
//   build/default/bench/bench_ping --live [targets]   批量PING状态 following targets (1,000): a
//       tenth of them TCP targets on loopback listeners, the others pings of 127.x.y.z by a
//       stand-in that writes a reply line a second. Reports how long a line takes to show as a
//       count, the window's longest event-loop pause and what the live rows cost in memory.
#include "BenchMemory.h"
#include "core/ping/PingRunner.h"
#include "core/ping/PingStatusModel.h"
#include "gui/FormMain.h"
#include "gui/MessageBox.h"
#include "gui/PingStatusWindow.h"
#include "platform/Platform.h"
#include "../tests/LoopbackListener.h"

#include <QAction>
#include <QTableView>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTimer>

#include <sys/resource.h>

#include <cstdio>

static double cpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

static int live(QApplication& app, int targets)
{
    QTemporaryDir dir;
    QDir(dir.path()).mkdir(QStringLiteral("bin"));
    QFile::link(QStringLiteral(BENCH_PINGSTUB), dir.filePath(QStringLiteral("bin/ping")));
    qputenv("PATH", dir.filePath(QStringLiteral("bin")).toLocal8Bit() + ":" + qgetenv("PATH"));
    MessageBox::setHandler([](QWidget*, const QString&) {});
    FormMainOptions options;
    options.hosts.hostsPath = dir.filePath(QStringLiteral("hosts"));
    options.executableDir = dir.path();
    options.encoding = "UTF-8";
    FormMain form(options);
    form.show();

    const int tcp = targets / 10;
    const int count = 10;
    std::vector<std::unique_ptr<LoopbackListener>> listeners;
    QStringList queue;
    for (int i = 0; i < targets - tcp; ++i)
        queue << QStringLiteral("127.%1.%2.%3").arg(1 + i / 62500).arg(i / 250 % 250).arg(i % 250 + 1);
    for (int i = 0; i < tcp; ++i) {
        listeners.push_back(std::make_unique<LoopbackListener>());
        queue << QStringLiteral("127.0.0.1:%1").arg(listeners.back()->port());
    }
    form.findChild<QPlainTextEdit*>(QStringLiteral("TextIP"))->setPlainText(queue.join(QLatin1Char('\n')));
    form.findChild<QLineEdit*>(QStringLiteral("TextN"))->setText(QString::number(count));
    form.findChild<QListWidget*>(QStringLiteral("ListLog"))
        ->findChild<QAction*>(QStringLiteral("ShowPingStatus"))
        ->trigger();
    app.processEvents();
    auto* model = form.findChild<PingRunner*>()->statusModel();
    const long rssBefore = statusKiB("VmRSS");

    // The longest gap between two ticks of a 10 ms timer, from the click on.
    QElapsedTimer tick;
    qint64 longestGap = 0;
    qint64 longestGapInClick = 0;
    bool clicked = false;
    qint64 clickEnd = 0;
    QTimer ticker;
    ticker.setInterval(10);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        qint64& longest = clicked ? longestGap : longestGapInClick;
        longest = qMax(longest, tick.restart());
    });

    // How long a reply line takes to show: a sample of result files is looked at every 10 ms;
    // a line is written when its file grows, seen when the row's 已接收 count grows.
    const QString folder = form.appDirectory() + QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd")) + '/';
    struct Probe
    {
        int row;
        QString file;
        qint64 size = 0;
        qint64 written = 0; // when the file last grew
        int seen = 0;
    };
    QList<Probe> probes;
    for (int row = 0; row < targets; row += targets / 20)
        probes.append({row, folder + queue[row] + QStringLiteral(".txt"), 0, 0, 0});
    QElapsedTimer clock;
    clock.start();
    qint64 worstLatency = 0;
    int samples = 0;
    QTimer sampler;
    sampler.setInterval(10);
    QObject::connect(&sampler, &QTimer::timeout, [&] {
        for (Probe& p : probes) {
            const qint64 size = QFileInfo(p.file).size();
            if (size > p.size) {
                p.size = size;
                p.written = clock.elapsed();
            }
        }
    });
    QObject::connect(model, &QAbstractItemModel::dataChanged, [&] {
        for (Probe& p : probes) {
            const int received = model->text(p.row, PingStatusModel::Received).toInt();
            if (received > p.seen) {
                // Replies come a second apart: the line just counted is the file's last growth.
                // Lines written during the click wait for their row, which comes at its end.
                if (clicked) {
                    worstLatency = qMax(worstLatency, clock.elapsed() - qMax(p.written, clickEnd));
                    ++samples;
                }
                p.seen = received;
            }
        }
    });

    ticker.start();
    tick.start();
    sampler.start();
    form.batchPage().startBatch();
    const double startMs = clock.nsecsElapsed() / 1e6;
    longestGapInClick = qMax(longestGapInClick, tick.restart());
    clicked = true;
    clickEnd = clock.elapsed();
    const auto allLive = [&] {
        int live = 0;
        for (int r = 0; r < model->rowCount(); ++r)
            live += model->text(r, PingStatusModel::Received).toInt() > 0 ? 1 : 0;
        return live;
    };
    long rssLive = 0;
    QEventLoop wait;
    QTimer check;
    check.setInterval(200);
    int liveRows = 0;
    QObject::connect(&check, &QTimer::timeout, [&] {
        if (model->rowCount() == targets && !rssLive && (liveRows = allLive()) == targets)
            rssLive = statusKiB("VmRSS");
        if (rssLive && clock.elapsed() > startMs + (count + 3) * 1000)
            wait.quit();
    });
    check.start();
    QTimer::singleShot(120000, &wait, &QEventLoop::quit);
    wait.exec();
    longestGap = qMax(longestGap, tick.elapsed());
    int ended = 0;
    for (int r = 0; r < model->rowCount(); ++r)
        ended += model->text(r, PingStatusModel::State) == QStringLiteral("已结束") ? 1 : 0;
    form.findChild<PingRunner*>()->stopAll();
    std::printf("targets %d (%d TCP), count %d, click %.0f ms, rows %d, all answering after %s\n", targets, tcp, count,
                startMs, model->rowCount(), rssLive ? "yes" : "no");
    std::printf("reply line to count: worst %lld ms over %d samples (10 ms sampling)\n",
                static_cast<long long>(worstLatency), samples);
    std::printf("longest pause of the event loop: %lld ms while the rows are followed, %lld ms during the click\n",
                static_cast<long long>(longestGap), static_cast<long long>(longestGapInClick));
    std::printf("memory: %ld KiB before the click, %ld KiB with every row live (+%ld KiB); ended rows %d\n",
                rssBefore, rssLive, rssLive - rssBefore, ended);
    return rssLive && ended == targets ? 0 : 1;
}

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    Platform::raiseFileLimit(); // as the program does at start
    if (argc > 1 && qstrcmp(argv[1], "--live") == 0)
        return live(app, argc > 2 ? QString::fromLocal8Bit(argv[2]).toInt() : 1000);
    const int targets = argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : 500;
    QTemporaryDir dir;
    if (argc > 2 && qstrcmp(argv[2], "--stub") == 0) {
        QDir(dir.path()).mkdir(QStringLiteral("bin"));
        QFile::link(QStringLiteral("/bin/true"), dir.filePath(QStringLiteral("bin/ping")));
        qputenv("PATH", dir.filePath(QStringLiteral("bin")).toLocal8Bit() + ":" + qgetenv("PATH"));
    }
    MessageBox::setHandler([](QWidget*, const QString&) {});
    FormMainOptions options;
    options.hosts.hostsPath = dir.filePath(QStringLiteral("hosts"));
    options.executableDir = dir.path();
    FormMain form(options);

    QStringList queue;
    for (int i = 0; i < targets; ++i)
        queue << QStringLiteral("127.0.0.1");
    form.findChild<QPlainTextEdit*>(QStringLiteral("TextIP"))->setPlainText(queue.join(QLatin1Char('\n')));
    form.findChild<QLineEdit*>(QStringLiteral("TextN"))->setText(QStringLiteral("1"));

    // How responsive the window stays: the longest gap between two ticks of a 10 ms timer.
    QElapsedTimer tick;
    qint64 longestGap = 0;
    qint64 longestGapAfterClick = 0;
    bool clicked = false;
    QTimer ticker;
    ticker.setInterval(10);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const qint64 gap = tick.restart();
        qint64& longest = clicked ? longestGapAfterClick : longestGap;
        longest = qMax(longest, gap);
    });
    ticker.start();
    tick.start();

    const double cpu0 = cpuSeconds();
    QElapsedTimer timer;
    timer.start();
    form.batchPage().startBatch();
    const double ms = timer.nsecsElapsed() / 1e6;
    longestGap = qMax(longestGap, tick.elapsed());
    tick.restart();
    clicked = true;

    // The ends come through the event loop; it runs until the batch's last entry.
    auto* log = form.findChild<QListWidget*>(QStringLiteral("ListLog"));
    const auto batchDone = [log] {
        return log->count() > 0 && log->item(log->count() - 1)->text().startsWith(QStringLiteral("本批完成"));
    };
    QEventLoop untilDone;
    QObject::connect(log->model(), &QAbstractItemModel::rowsInserted, &untilDone, [&] {
        if (batchDone())
            untilDone.quit();
    });
    QTimer::singleShot(120000, &untilDone, &QEventLoop::quit); // a limit, should an end never come
    if (!batchDone())
        untilDone.exec();
    const double lastEndMs = timer.nsecsElapsed() / 1e6;
    const double cpu = cpuSeconds() - cpu0;
    longestGapAfterClick = qMax(longestGapAfterClick, tick.elapsed());

    int started = 0;
    int ended = 0;
    int answered = 0;
    QList<qint64> pids;
    for (int i = 0; i < log->count(); ++i) {
        const QString entry = log->item(i)->text();
        if (entry.startsWith(QStringLiteral("执行完成，PID: "))) {
            ++started;
            pids << entry.mid(entry.indexOf(QLatin1Char(':')) + 1).trimmed().toLongLong();
        }
        ended += entry.startsWith(QStringLiteral("完成: ")) ? 1 : 0;
        answered += entry.contains(QStringLiteral(" 已接收 1 ")) ? 1 : 0;
    }
    QFile table(form.appDirectory() + QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd"))
                + QStringLiteral("/汇总.csv"));
    const int rows = table.open(QIODevice::ReadOnly) ? int(table.readAll().count("\r\n")) - 1 : -1;
    int zombies = 0;
    for (qint64 pid : pids) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        const QByteArray line = stat.open(QIODevice::ReadOnly) ? stat.readAll() : QByteArray();
        zombies += line.mid(line.lastIndexOf(')') + 2, 1) == "Z" ? 1 : 0;
    }
    std::printf("targets %d, started %d, click %.0f ms (%.3f ms per target), last end entry after %.0f ms, "
                "program CPU %.2f s\n",
                targets, started, ms, ms / targets, lastEndMs, cpu);
    std::printf("longest pause of the event loop: %lld ms during the click, %lld ms after it\n",
                static_cast<long long>(longestGap), static_cast<long long>(longestGapAfterClick));
    std::printf("end entries %d (with a reply %d), table rows %d, zombies %d, last entry: %s\n", ended, answered,
                rows, zombies, qPrintable(log->item(log->count() - 1)->text()));
    return started == targets && ended == targets && rows == targets && zombies == 0 ? 0 : 1;
}
