// Opens the list of an IP box with a long common IP list and reports how long the opening takes
// and how much memory it adds (run by hand):
//   build/default/bench/bench_ipbox [common IPs]     (default 100,000)
#include "BenchMemory.h"
#include "gui/FormMain.h"
#include "gui/IpBox.h"
#include "gui/MessageBox.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int count = argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : 100000;
    QTemporaryDir dir;
    QFile ips(dir.filePath(QStringLiteral("IP.txt")));
    ips.open(QIODevice::WriteOnly);
    for (int i = 0; i < count; ++i)
        ips.write(QStringLiteral("10.%1.%2.%3\r\n").arg(i >> 16).arg((i >> 8) & 255).arg(i & 255).toLatin1());
    ips.close();
    QFile hosts(dir.filePath(QStringLiteral("hosts")));
    hosts.open(QIODevice::WriteOnly);
    hosts.write("127.0.0.1 localhost\n");
    hosts.close();
    MessageBox::setHandler([](QWidget*, const QString&) {});

    FormMainOptions options;
    options.hosts.hostsPath = hosts.fileName();
    options.executableDir = dir.path();
    QElapsedTimer timer;
    timer.start();
    FormMain form(options);
    form.show();
    app.processEvents();
    const double startMs = timer.nsecsElapsed() / 1e6;
    auto* box = form.findChild<IpBox*>(QStringLiteral("Combo1(1)"));
    const long before = statusKiB("VmRSS");
    timer.restart();
    box->showPopup();
    app.processEvents();
    const double openMs = timer.nsecsElapsed() / 1e6;
    const long after = statusKiB("VmRSS");
    std::printf("common IPs %d: window up in %.1f ms, list open in %.1f ms (visible %d, %d items), "
                "memory +%ld KiB\n",
                count, startMs, openMs, box->view()->isVisible() ? 1 : 0, box->count(), after - before);
    box->hidePopup();
    return 0;
}
