// Saving the hosts file through the window's save (HostsPage::saveHostsFile: the file read
// again and compared, merged if another program changed it, the backup, the safe save), on the
// offscreen platform with generated hosts files:
//   - the time to save 250,000 lines with one row ticked: replaced, in place, and after another
//     program appended a line (the merge);
//   - the peak memory (VmHWM, reset before the save) while saving 1,000,000 lines, replaced and
//     in place.
// Each case runs in a process of its own.
//   build/default/bench/bench_save                 all cases
//   build/default/bench/bench_save time 250000 replace|inplace|merge
//   build/default/bench/bench_save memory 1000000 replace|inplace
#include "BenchMemory.h"
#include "gui/FormMain.h"
#include "gui/MessageBox.h"


#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>

#include <algorithm>
#include <cstdio>
#include <vector>

#include <unistd.h>

namespace {

// Peak memory from now on: the peak so far is set back to what is in use.
void resetPeak()
{
    QFile refs(QStringLiteral("/proc/self/clear_refs"));
    if (refs.open(QIODevice::WriteOnly))
        refs.write("5");
}

int runOne(const QString& what, int lines, const QString& how)
{
    QTemporaryDir dir;
    const QString hosts = dir.filePath(QStringLiteral("hosts"));
    {
        QFile f(hosts);
        f.open(QIODevice::WriteOnly);
        QByteArray bytes;
        bytes.reserve(qsizetype(lines) * 40);
        for (int i = 0; i < lines; ++i)
            bytes += "0.0.0.0 ads" + QByteArray::number(i) + ".tracker.example.com\r\n";
        f.write(bytes);
    }
    // A second name: the file is written in place, as a bind-mounted /etc/hosts is.
    if (how == QLatin1String("inplace") &&
        ::link(QFile::encodeName(hosts).constData(),
               QFile::encodeName(hosts + QStringLiteral(".link")).constData()) != 0)
        return 1;
    QString saveFailure;
    MessageBox::setHandler([&](QWidget*, const QString& text) {
        if (text.startsWith(QStringLiteral("保存失败")))
            saveFailure = text;
    });
    FormMainOptions options;
    options.hosts.hostsPath = hosts;
    options.executableDir = dir.path();
    options.maxWindowHeight = 16200;
    FormMain form(options);

    std::vector<double> times;
    for (int run = 0; run < (what == QLatin1String("memory") ? 1 : 9); ++run) {
        HostsValues v = form.hosts().values(5);
        v.disabled = !v.disabled;
        form.hosts().setValues(5, v);
        if (how == QLatin1String("merge")) {
            QFile f(hosts);
            f.open(QIODevice::Append);
            f.write("10.8.0." + QByteArray::number(run) + " vpn.corp\r\n");
        }
        resetPeak();
        QElapsedTimer timer;
        timer.start();
        // The save runs beside the window; its message comes once it and the reading back are done.
        bool ended = false;
        const QMetaObject::Connection c =
            QObject::connect(&form.hostsPage(), &HostsPage::saveEnded, [&] { ended = true; });
        form.hostsPage().saveHostsFile();
        while (!ended)
            QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 50);
        QObject::disconnect(c);
        times.push_back(timer.nsecsElapsed() / 1e6);
        if (!saveFailure.isEmpty()) {
            std::fprintf(stderr, "%s\n", qPrintable(saveFailure));
            return 1;
        }
        if (what == QLatin1String("memory")) {
            std::printf("%.1f %.1f\n", statusKiB("VmHWM") / 1024.0, QFileInfo(hosts).size() / 1048576.0);
            return 0;
        }
    }
    std::sort(times.begin(), times.end());
    std::printf("%.1f %.1f\n", times.front(), times[times.size() / 2]);
    return 0;
}

QList<QByteArray> child(const char* self, const QStringList& args)
{
    QProcess p;
    p.start(QString::fromLocal8Bit(self), args);
    p.waitForFinished(-1);
    return p.readAllStandardOutput().trimmed().split(' ');
}

} // namespace

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    if (argc > 3) {
        QApplication app(argc, argv);
        return runOne(QString::fromLocal8Bit(argv[1]), QString::fromLocal8Bit(argv[2]).toInt(),
                      QString::fromLocal8Bit(argv[3]));
    }
    QTextStream out(stdout);
    out << "save of 250,000 lines, one row ticked   min(ms)  median(ms)\n";
    for (const char* how : {"replace", "inplace", "merge"}) {
        const QList<QByteArray> f =
            child(argv[0], {QStringLiteral("time"), QStringLiteral("250000"), QLatin1String(how)});
        out << qSetFieldWidth(39) << Qt::left << QLatin1String(how) << qSetFieldWidth(9) << f.value(0)
            << qSetFieldWidth(0) << f.value(1) << "\n";
        out.flush();
    }
    out << "save of 1,000,000 lines                 peak(MB)  file(MB)  limit 2.5x+60(MB)\n";
    for (const char* how : {"replace", "inplace"}) {
        const QList<QByteArray> f =
            child(argv[0], {QStringLiteral("memory"), QStringLiteral("1000000"), QLatin1String(how)});
        const double file = f.value(1).toDouble();
        out << qSetFieldWidth(39) << Qt::left << QLatin1String(how) << qSetFieldWidth(10) << f.value(0)
            << f.value(1) << qSetFieldWidth(0) << QString::number(2.5 * file + 60, 'f', 1) << "\n";
        out.flush();
    }
    return 0;
}
