// Renders the real window on the offscreen platform into a PNG, for the README:
//   QT_QPA_PLATFORM=offscreen build/default/tools/tarvix_screenshot docs/window.png [docs/ping.png [docs/find.png]]
#include "gui/FormMain.h"

#include <QApplication>
#include <QFile>
#include <QLineEdit>
#include <QSignalSpy>
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
    options.maxWindowHeight = 0;
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
    if (argc > 3) {
        // A list in sections, searched for one service.
        hosts.open(QIODevice::WriteOnly | QIODevice::Truncate);
        hosts.write("127.0.0.1 localhost\n\n# GitHub\n140.82.112.3 github.com\n140.82.112.5 api.github.com\n"
                    "185.199.108.133 raw.githubusercontent.com\n#185.199.108.154 github.githubassets.com\n\n"
                    "# Google\n142.250.72.14 google.com\n# Ads\n0.0.0.0 ads.example.com\n");
        hosts.close();
        FormMain found(options);
        found.show();
        app.processEvents();
        found.showFindBox();
        QSignalSpy applied(&found, &FormMain::filterApplied);
        found.findChild<QLineEdit*>(QStringLiteral("TextFind"))->setText(QStringLiteral("GitHub"));
        if (applied.isEmpty() && !applied.wait(5000))
            return 1;
        app.processEvents();
        if (!found.grab().save(QString::fromLocal8Bit(argv[3])))
            return 1;
    }
    return 0;
}
