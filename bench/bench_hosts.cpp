// Builds the window on the offscreen platform with generated hosts files and measures the time
// until it is shown and painted, the peak memory of the start (once the work that waits for the
// window to show is done too), one keystroke in a row's host box (the edit, the marks of the rows
// in view and the repaint), one "增加条目", one "读取HOST文件" and the peak memory after all that.
// Each run is a process of its own so that peak memory is its own; three runs per size.
//   build/default/bench/bench_hosts            all sizes, with the ratio to the empty start
//   build/default/bench/bench_hosts 1000000    one run of one size
#include "BenchMemory.h"
#include "gui/FormMain.h"
#include "gui/MessageBox.h"


#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QKeyEvent>
#include <QLineEdit>
#include <QImage>
#include <QPainter>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>

#include <algorithm>
#include <cstdio>

namespace {

int runOne(int lines)
{
    QTemporaryDir dir;
    const QString hosts = dir.filePath(QStringLiteral("hosts"));
    {
        QFile f(hosts);
        f.open(QIODevice::WriteOnly);
        QByteArray bytes;
        bytes.reserve(lines * 40);
        for (int i = 0; i < lines; ++i)
            bytes += "0.0.0.0 ads" + QByteArray::number(i) + ".tracker.example.com\r\n";
        f.write(bytes);
    }
    MessageBox::setHandler([](QWidget*, const QString&) {});
    FormMainOptions options;
    options.hosts.hostsPath = hosts;
    options.executableDir = dir.path();
    options.maxWindowHeight = 16200; // a 1080-pixel screen

    QElapsedTimer timer;
    timer.start();
    FormMain form(options);
    form.show();
    QCoreApplication::processEvents(); // the expose: the window is painted into its backing store
    const double shownMs = timer.nsecsElapsed() / 1e6;

    // The work put off until the window shows (the marks' index of a large file) has had time:
    // the peak of the start.
    QElapsedTimer settle;
    settle.start();
    while (settle.elapsed() < 3000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    const long startPeak = statusKiB("VmHWM");

    // A keystroke in the host box of a row in view: the edit reaches the document, the rows in
    // view are shown anew and painted.
    double keyMs = 0;
    if (auto* host = form.findChild<QLineEdit*>(QStringLiteral("Text1(3)"))) {
        host->setFocus();
        host->end(false);
        QKeyEvent press(QEvent::KeyPress, Qt::Key_X, Qt::NoModifier, QStringLiteral("x"));
        QKeyEvent release(QEvent::KeyRelease, Qt::Key_X, Qt::NoModifier, QStringLiteral("x"));
        timer.restart();
        QCoreApplication::sendEvent(host, &press);
        QCoreApplication::sendEvent(host, &release);
        QCoreApplication::processEvents();
        keyMs = timer.nsecsElapsed() / 1e6;
    }

    timer.restart();
    form.hostsPage().addEntryRow();
    QCoreApplication::processEvents();
    const double addMs = timer.nsecsElapsed() / 1e6;

    timer.restart();
    bool read = false;
    QObject::connect(&form.hostsPage(), &HostsPage::readEnded, [&] { read = true; });
    form.hostsPage().reloadHostsFile(); // read beside the window; the rows shown once it is in
    while (!read)
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 50);
    const double readMs = timer.nsecsElapsed() / 1e6;
    settle.restart();
    while (settle.elapsed() < 3000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    std::printf("%d %.2f %.3f %.2f %ld %d %.3f %ld\n", lines, shownMs, addMs, readMs, startPeak,
                form.hosts().rowCount(), keyMs, statusKiB("VmHWM"));
    return 0;
}

} // namespace

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    if (argc > 1) {
        QApplication app(argc, argv);
        return runOne(QString::fromLocal8Bit(argv[1]).toInt());
    }
    // Three runs per size, each shown; the ratio, key, add and read of the fastest start.
    QTextStream out(stdout);
    out << "lines     shown(ms), three runs     ratio  key(ms)  add(ms)  read(ms)  start peak(MB)  peak(MB)  rows\n";
    double empty = 0;
    for (int lines : {0, 1000, 32767, 250000, 1000000}) {
        double best = 1e18, add = 0, read = 0, key = 0;
        long startPeak = 0, peak = 0;
        int rows = 0;
        QStringList shown;
        for (int run = 0; run < 3; ++run) {
            QProcess p;
            p.start(QString::fromLocal8Bit(argv[0]), {QString::number(lines)});
            p.waitForFinished(-1);
            const QList<QByteArray> f = p.readAllStandardOutput().trimmed().split(' ');
            if (f.size() < 8)
                return 1;
            shown << QString::number(f[1].toDouble(), 'f', 1);
            startPeak = std::max(startPeak, f[4].toLong());
            peak = std::max(peak, f[7].toLong());
            if (f[1].toDouble() < best) {
                best = f[1].toDouble();
                add = f[2].toDouble();
                read = f[3].toDouble();
                rows = f[5].toInt();
                key = f[6].toDouble();
            }
        }
        if (lines == 0)
            empty = best;
        out << qSetFieldWidth(9) << Qt::left << lines << qSetFieldWidth(25) << shown.join(QStringLiteral(" "))
            << qSetFieldWidth(7) << QString::number(best / empty, 'f', 2) << qSetFieldWidth(9)
            << QString::number(key, 'f', 3) << qSetFieldWidth(9) << QString::number(add, 'f', 3)
            << qSetFieldWidth(10) << QString::number(read, 'f', 1) << qSetFieldWidth(16)
            << QString::number(startPeak / 1024.0, 'f', 1) << qSetFieldWidth(10)
            << QString::number(peak / 1024.0, 'f', 1) << qSetFieldWidth(0) << rows << "\n";
        out.flush();
    }
    return 0;
}
