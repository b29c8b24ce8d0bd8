// Starts a batch of 500 targets, all 127.0.0.1 with count 1, through the window's own handler
// and the platform's real starter, and waits for every ping's end entry. Reports the time of
// the click, the time until the batch's last entry, and the longest pause of the event loop
// over both; checks that every target got its end entry and its row in the day's table, and
// that no ping is left as a zombie.
//   build/default/bench/bench_ping [targets]          the system's ping
//   build/default/bench/bench_ping [targets] --stub   /bin/true in ping's place: the cost of
//                                                     starting and watching alone
#include "gui/FormMain.h"
#include "gui/MessageBox.h"
#include "platform/Platform.h"

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

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    Platform::raiseFileLimit(); // as the program does at start
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
