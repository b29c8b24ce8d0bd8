// Builds the window on the offscreen platform with generated hosts files and measures the time
// until it is shown and painted, the peak memory, one keystroke in a row's host box (the edit,
// the marks of the rows in view and the repaint), one "增加条目" and one "读取HOST文件".
// Each size runs in a process of its own so that peak memory is its own.
//   build/default/bench/bench_hosts            all sizes, with the ratio to the empty start
//   build/default/bench/bench_hosts 1000000    one size
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

    const long peak = statusKiB("VmHWM");
    // The marks' index of a large file is made beside the window: the peak once it has had time.
    QElapsedTimer settle;
    settle.start();
    while (settle.elapsed() < 3000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    std::printf("%d %.2f %.3f %.2f %ld %d %.3f %ld\n", lines, shownMs, addMs, readMs, peak, form.hosts().rowCount(),
                keyMs, statusKiB("VmHWM"));
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
    // Best of three runs per size.
    QTextStream out(stdout);
    out << "lines     shown(ms)  ratio  key(ms)  add(ms)  read(ms)  peak(MB)  rows\n";
    double empty = 0;
    for (int lines : {0, 1000, 32767, 250000, 1000000}) {
        double best = 1e18, add = 0, read = 0, key = 0;
        long peak = 0;
        int rows = 0;
        for (int run = 0; run < 3; ++run) {
            QProcess p;
            p.start(QString::fromLocal8Bit(argv[0]), {QString::number(lines)});
            p.waitForFinished(-1);
            const QList<QByteArray> f = p.readAllStandardOutput().trimmed().split(' ');
            if (f.size() < 7)
                return 1;
            if (f[1].toDouble() < best) {
                best = f[1].toDouble();
                add = f[2].toDouble();
                read = f[3].toDouble();
                peak = f[4].toLong();
                rows = f[5].toInt();
                key = f[6].toDouble();
            }
        }
        if (lines == 0)
            empty = best;
        out << qSetFieldWidth(9) << Qt::left << lines << qSetFieldWidth(11) << QString::number(best, 'f', 1)
            << qSetFieldWidth(7) << QString::number(best / empty, 'f', 2) << qSetFieldWidth(9)
            << QString::number(key, 'f', 3) << qSetFieldWidth(9)
            << QString::number(add, 'f', 3) << qSetFieldWidth(10) << QString::number(read, 'f', 1)
            << qSetFieldWidth(10) << QString::number(peak / 1024.0, 'f', 1) << qSetFieldWidth(0) << rows << "\n";
        out.flush();
    }
    return 0;
}
