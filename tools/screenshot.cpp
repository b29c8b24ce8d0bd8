// Renders the real window on the offscreen platform into a PNG, for the README:
//   QT_QPA_PLATFORM=offscreen build/default/tools/tarvix_screenshot docs/window.png [docs/ping.png
//       [docs/find.png [docs/speedtest.png docs/saved.png [docs/status.png]]]]]
// 测速 of a row, the message after a save in which one row did not take effect, and 批量PING状态
// during a batch: real pings of 127.0.0.1 and ::1, TCP targets answered from the table below.
// Names and connections are answered from tables here: nothing is resolved or connected to.
// With TARVIX_SCREENSHOT_ROWS=N the hosts file gets N more lines and the screen is 600 pixels
// high, so that the rows scroll (with QT_SCALE_FACTOR=1.5: the window at 150 %).
#include "gui/FormMain.h"

#include "core/ping/PingRunner.h"
#include "gui/MessageBox.h"
#include "gui/PingStatusWindow.h"

#include <QAction>
#include <QApplication>
#include <QListWidget>
#include <QElapsedTimer>
#include <QLabel>
#include <QMessageBox>
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
    options.hosts.hostsPath = hosts.fileName();
    options.executableDir = dir.path();
    options.maxWindowHeight = moreRows > 0 ? 9000 : 0;
    options.start = [](const Command&) {
        StartResult r;
        r.ok = true;
        r.pid = 4242;
        return r;
    };
    // The answers of the pictures: DNS and connection times, and what the resolver says after
    // the save (the earlier line for oa.example.com still wins).
    options.hosts.names.dns = [](const QString&, QString*) {
        return QStringList{QStringLiteral("10.0.0.21"), QStringLiteral("10.0.0.22")};
    };
    options.hosts.names.lookup = [](const QString& host, QString*) {
        return host == QLatin1String("oa.example.com") ? QStringList{QStringLiteral("10.0.0.1")}
                                                       : QStringList{QStringLiteral("10.0.0.21")};
    };
    options.hosts.names.flush = [] {
        Platform::CacheFlush f;
        f.status = Platform::CacheFlush::Flushed;
        return f;
    };
    options.hosts.names.unavailable = [] { return QString(); };
    options.hosts.names.resolverSettings = [] { return QByteArray(); }; // the first line wins, as pictured
    options.hosts.connect = [](const QString& ip, quint16, int, const std::atomic<bool>*) {
        const QHash<QString, int> micros{{QStringLiteral("10.0.0.1"), 23400}, {QStringLiteral("10.0.0.21"), 8100},
                                         {QStringLiteral("10.0.0.22"), 41700}};
        Platform::ConnectTry t;
        t.outcome = micros.contains(ip) ? Platform::ConnectTry::Connected
                    : ip == QLatin1String("10.0.0.8") ? Platform::ConnectTry::Refused
                                                      : Platform::ConnectTry::TimedOut;
        t.micros = micros.value(ip);
        return t;
    };
    // The certificates as a table says: nothing is connected to.
    options.hosts.tlsCheck = [](const QString& ip, quint16, const QString&, int, const std::atomic<bool>*) {
        TlsTry t;
        t.outcome = ip == QLatin1String("10.0.0.22") ? TlsTry::NameMismatch : TlsTry::Valid;
        t.names = QStringLiteral("cdn.example.net");
        t.micros = 31200;
        return t;
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
    if (argc > 5) {
        form.findChild<QTabWidget*>(QStringLiteral("TabStrip1"))->setCurrentIndex(0);
        form.hostsPage().openSpeedTest(2);
        auto* dialog = form.findChild<QDialog*>(QStringLiteral("SpeedTest"));
        auto* status = dialog ? dialog->findChild<QLabel*>(QStringLiteral("SpeedStatus")) : nullptr;
        QElapsedTimer waited;
        waited.start();
        while (status && status->text() != QLatin1String("完成") && waited.elapsed() < 10000)
            app.processEvents(QEventLoop::AllEvents, 50);
        if (!dialog || !dialog->grab().save(QString::fromLocal8Bit(argv[4])))
            return 1;
        dialog->close();
        // One row takes effect, one does not: an earlier line maps its host.
        HostsDocument& hosts = form.hosts();
        hosts.addRow();
        hosts.setValues(hosts.rowCount() - 1, {false, QStringLiteral("10.0.0.21"), QStringLiteral("git.example.com")});
        hosts.addRow();
        hosts.setValues(hosts.rowCount() - 1, {false, QStringLiteral("10.0.0.9"), QStringLiteral("oa.example.com")});
        QString shown;
        // The save's message, then the check's lines, shown here as one picture.
        MessageBox::setHandler([&](QWidget*, const QString& text) {
            shown += (shown.isEmpty() ? QString() : QStringLiteral("\r\n")) + text;
        });
        form.hostsPage().saveHostsFile();
        while (form.hostsPage().isBusy() || form.hostsPage().isChecking())
            app.processEvents(QEventLoop::AllEvents, 50);
        QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Tarvix"), shown, QMessageBox::Ok);
        box.show();
        app.processEvents();
        if (!box.grab().save(QString::fromLocal8Bit(argv[5])))
            return 1;
    }
    if (argc > 6) {
        // 批量PING状态 four seconds into a batch of 20: two pings of this machine, a TCP target
        // by name, one by address and one whose port refuses.
        FormMainOptions batch = options;
        batch.start = {}; // the pings are real: loopback only
        FormMain form(batch);
        form.show();
        form.findChild<QTabWidget*>(QStringLiteral("TabStrip1"))->setCurrentIndex(1);
        form.findChild<QPlainTextEdit*>(QStringLiteral("TextIP"))
            ->setPlainText(QStringLiteral("127.0.0.1\n::1\noa.example.com:443\n10.0.0.21:443\n10.0.0.8:22"));
        form.findChild<QLineEdit*>(QStringLiteral("TextN"))->setText(QStringLiteral("20"));
        MessageBox::setHandler([](QWidget*, const QString&) {});
        form.batchPage().startBatch();
        form.findChild<QListWidget*>(QStringLiteral("ListLog"))
            ->findChild<QAction*>(QStringLiteral("ShowPingStatus"))
            ->trigger();
        auto* status = form.findChild<PingStatusWindow*>();
        QElapsedTimer waited;
        waited.start();
        while (waited.elapsed() < 4300)
            app.processEvents(QEventLoop::AllEvents, 50);
        const bool saved = status && status->grab().save(QString::fromLocal8Bit(argv[6]));
        form.findChild<PingRunner*>()->stopAll();
        if (!saved)
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
        found.hostsPage().showFindBox();
        QSignalSpy applied(&found.hostsPage(), &HostsPage::filterApplied);
        found.findChild<QLineEdit*>(QStringLiteral("TextFind"))->setText(QStringLiteral("GitHub"));
        if (applied.isEmpty() && !applied.wait(5000))
            return 1;
        app.processEvents();
        if (!found.grab().save(QString::fromLocal8Bit(argv[3])))
            return 1;
    }
    return 0;
}
