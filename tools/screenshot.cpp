// Renders the real window on the offscreen platform into a PNG, for the README:
//   QT_QPA_PLATFORM=offscreen build/default/tools/tarvix_screenshot docs/window.png [docs/ping.png]
// With TARVIX_SCREENSHOT_ROWS=N the hosts file gets N more lines and the screen is 600 pixels
// high, so that the rows scroll (with QT_SCALE_FACTOR=1.5: the window at 150 %).
#include "gui/FormMain.h"

#include <QApplication>
#include <QFile>
#include <QPlainTextEdit>
#include <QTabWidget>
#include <QTemporaryDir>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    if (argc < 2)
        return 2;
    QTemporaryDir dir;
    QFile hosts(dir.filePath(QStringLiteral("hosts")));
    hosts.open(QIODevice::WriteOnly);
    hosts.write("127.0.0.1\tlocalhost\n#10.0.0.8 nas.example.lan\n10.0.0.1 oa.example.com  # office\n"
                "::1 localhost ip6-localhost\n");
    const int moreRows = qEnvironmentVariableIntValue("TARVIX_SCREENSHOT_ROWS");
    for (int i = 1; i <= moreRows; ++i)
        hosts.write("10.0.1." + QByteArray::number(i) + " host" + QByteArray::number(i) + ".example.lan\n");
    hosts.close();
    QFile ips(dir.filePath(QStringLiteral("IP.txt")));
    ips.open(QIODevice::WriteOnly);
    ips.write("127.0.0.1\r\n10.0.0.1\r\n10.0.0.8\r\n");
    ips.close();
    QFile queue(dir.filePath(QStringLiteral("Ping.txt")));
    queue.open(QIODevice::WriteOnly);
    queue.write("127.0.0.1\r\n::1\r\nlocalhost\r\n");
    queue.close();

    FormMainOptions options;
    options.hostsPath = hosts.fileName();
    options.executableDir = dir.path();
    options.maxWindowHeight = moreRows > 0 ? 9000 : 0;
    options.start = [](const Command&) {
        StartResult r;
        r.ok = true;
        r.pid = 4242;
        return r;
    };
    FormMain form(options);
    form.show();
    app.processEvents();
    if (!form.grab().save(QString::fromLocal8Bit(argv[1])))
        return 1;
    if (argc > 2) {
        form.findChild<QTabWidget*>(QStringLiteral("TabStrip1"))->setCurrentIndex(1);
        app.processEvents();
        if (!form.grab().save(QString::fromLocal8Bit(argv[2])))
            return 1;
    }
    return 0;
}
