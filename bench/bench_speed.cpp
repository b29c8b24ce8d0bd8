// 测速, run by hand (Linux; nothing is connected to beyond this machine):
//   build/default/bench/bench_speed [common IPs]     (default 100,000)
// 1. 20 candidates of which 10 never answer: the time until every result is in. The candidates'
//    connections go to listeners of this program on 127.0.0.1 only: 10 that accept and 10 whose
//    queue is full, so the system drops the attempts unanswered.
// 2. The window's 测速 (Ctrl+T on a row) with IP.txt of 100,000 addresses 127.x.y.z that all
//    refuse: real connections, each to a port that this program holds bound without listening,
//    so that the system refuses at once. Reports how long the dialog takes to show, the
//    window's longest pause (a 5 ms timer's largest gap) and when every result is in.
// 3. 测速 of a block of 40 hosts x 5 candidates with each certificate checked: TLS listeners of
//    this program on 127.0.0.1 (on a thread of their own, with an authority of its own, trusted
//    through the check's seam only), 10 candidates on a listener that never accepts.
#include "../tests/LoopbackListener.h"
#include "../tests/TlsListener.h"
#include "core/hosts/SpeedTest.h"
#include "core/net/ConnectPool.h"
#include "gui/BlockSpeedDialog.h"
#include "gui/FormMain.h"
#include "gui/MessageBox.h"

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QLabel>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QTreeWidget>

#include <cstdio>
#include <memory>

namespace {

void silentCandidates()
{
    std::vector<std::unique_ptr<LoopbackListener>> listeners;
    QHash<QString, quint16> ports;
    QStringList ips;
    for (int i = 0; i < 20; ++i) {
        listeners.push_back(std::make_unique<LoopbackListener>(i % 2 == 1));
        if (i % 2 == 1 && !listeners.back()->isSilent()) {
            std::printf("a full listener queue is answered here: cannot measure\n");
            return;
        }
        const QString ip = QStringLiteral("127.0.0.%1").arg(i + 1);
        ips << ip;
        ports.insert(ip, listeners.back()->port());
    }
    ConnectPool pool([&](const QString& ip, quint16, int timeoutMs, const std::atomic<bool>* cancel) {
        return Platform::tcpConnect(QStringLiteral("127.0.0.1"), ports.value(ip), timeoutMs, cancel);
    });
    SpeedTest test(&pool);
    QList<SpeedTest::Candidate> list;
    SpeedTest::addCandidates(&list, ips, SpeedTest::Common);
    QElapsedTimer timer;
    double firstMs = -1;
    QObject::connect(&test, &SpeedTest::changed, [&] {
        if (firstMs < 0 && timer.isValid())
            firstMs = timer.nsecsElapsed() / 1e6;
    });
    QEventLoop loop;
    QObject::connect(&test, &SpeedTest::finished, &loop, &QEventLoop::quit);
    timer.start();
    test.start(list, 443, 3, 1000);
    loop.exec();
    const double allMs = timer.nsecsElapsed() / 1e6;
    int answered = 0, timedOut = 0;
    for (const SpeedTest::Entry& e : test.entries()) {
        answered += e.result.answered == 3;
        timedOut += e.result.timedOut == 3;
    }
    std::printf("20 candidates, 3 tries of 1 s each: all results after %.0f ms (first after %.1f ms); "
                "%d answered every try, %d timed out every try\n",
                allMs, firstMs, answered, timedOut);
}

// Calls painted at each paint of the object it filters.
class PaintWatch : public QObject
{
public:
    explicit PaintWatch(std::function<void()> painted) : m_painted(std::move(painted)) {}
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            m_painted();
        return false;
    }

private:
    std::function<void()> m_painted;
};

// A port that refuses: bound on every address, never listening.
int refusingPort(quint16* port)
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    socklen_t length = sizeof addr;
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &length) != 0)
        return -1;
    *port = ntohs(addr.sin_port);
    return fd;
}

// Runs the event loop until done() says so, and reports the largest gap between the ticks of a
// 5 ms timer meanwhile: how long the window did not answer at most.
double longestPause(const std::function<bool()>& done, int limitMs)
{
    QElapsedTimer clock;
    clock.start();
    qint64 last = clock.nsecsElapsed(), worst = 0;
    QTimer tick;
    QEventLoop loop;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        worst = qMax(worst, now - last);
        last = now;
        if (done() || clock.elapsed() > limitMs)
            loop.quit();
    });
    tick.start(5);
    loop.exec();
    return worst / 1e6;
}

void refusingCommonIps(int count)
{
    quint16 port = 0;
    const int holder = refusingPort(&port);
    if (holder < 0) {
        std::printf("no port to refuse on: cannot measure\n");
        return;
    }
    QTemporaryDir dir;
    QFile ips(dir.filePath(QStringLiteral("IP.txt")));
    ips.open(QIODevice::WriteOnly);
    for (int i = 0; i < count; ++i)
        ips.write(QStringLiteral("127.%1.%2.%3\r\n")
                      .arg(1 + (i >> 16))
                      .arg((i >> 8) & 255)
                      .arg(i & 255)
                      .toLatin1());
    ips.close();
    QFile hosts(dir.filePath(QStringLiteral("hosts")));
    hosts.open(QIODevice::WriteOnly);
    hosts.write("127.0.0.1 localhost\n127.0.0.2 a.test\n");
    hosts.close();
    MessageBox::setHandler([](QWidget*, const QString&) {});
    FormMainOptions options;
    options.hosts.hostsPath = hosts.fileName();
    options.executableDir = dir.path();
    options.userDataDir = dir.filePath(QStringLiteral("user-data"));
    options.hosts.names.lookup = options.hosts.names.dns = [](const QString&, QString* error) {
        *error = QStringLiteral("no names here");
        return QStringList();
    };
    options.hosts.names.flush = [] { return Platform::CacheFlush(); };
    options.hosts.names.unavailable = [] { return QString(); };
    options.hosts.connect = [port](const QString& ip, quint16, int timeoutMs, const std::atomic<bool>* cancel) {
        return Platform::tcpConnect(ip, port, timeoutMs, cancel);
    };
    FormMain form(options);
    form.show();
    if (!QTest::qWaitForWindowExposed(&form))
        return;

    auto* host = form.findChild<QLineEdit*>(QStringLiteral("Text1(2)"));
    host->setFocus();
    QElapsedTimer timer;
    timer.start();
    // Shown: its first paint.
    double shownMs = -1;
    PaintWatch watch([&] {
        if (shownMs < 0)
            shownMs = timer.nsecsElapsed() / 1e6;
    });
    QTest::keyClick(host, Qt::Key_T, Qt::ControlModifier);
    QDialog* dialog = form.findChild<QDialog*>(QStringLiteral("SpeedTest"));
    if (dialog)
        dialog->installEventFilter(&watch);
    if (!dialog || !dialog->isVisible()) {
        std::printf("the dialog did not show\n");
        return;
    }
    auto* status = dialog->findChild<QLabel*>(QStringLiteral("SpeedStatus"));
    const double pauseMs =
        longestPause([status] { return status->text().startsWith(QStringLiteral("完成")); }, 120000);
    const double allMs = timer.nsecsElapsed() / 1e6;
    int refused = 0;
    SpeedTest* test = dialog->findChild<SpeedTest*>();
    for (const SpeedTest::Entry& e : test->entries())
        refused += e.result.refused == 3;
    std::printf("%d common IPs that refuse, 3 tries each: dialog shown after %.1f ms, longest pause %.1f ms, "
                "all results after %.0f ms (%d of %d refused every try; status \"%s\")\n",
                count, shownMs, pauseMs, allMs, refused, int(test->entries().size()),
                qPrintable(status->text()));
    timer.restart();
    QTest::keyClick(dialog, Qt::Key_Escape);
    QApplication::processEvents();
    std::printf("closed with Esc after %.1f ms\n", timer.nsecsElapsed() / 1e6);
    close(holder);
}

void blockWithCertificates()
{
    TestAuthority ca;
    QSslCertificate certificate;
    QSslKey key;
    QStringList names;
    for (int i = 1; i <= 40; ++i)
        names << QStringLiteral("h%1.test").arg(i);
    if (!ca.ok() || !ca.issue(names.join(QLatin1Char(',')), 30, &certificate, &key)) {
        std::printf("openssl could not make the certificates: cannot measure the block\n");
        return;
    }
    // The servers' handshakes on a thread of their own, not the window's.
    QThread serverThread;
    serverThread.start();
    QObject serverContext;
    serverContext.moveToThread(&serverThread);
    TlsListener* server = nullptr;
    QMetaObject::invokeMethod(
        &serverContext, [&] { server = new TlsListener(certificate, key); }, Qt::BlockingQueuedConnection);
    const quint16 tlsPort = server->serverPort();
    LoopbackListener silent(true);
    if (!silent.isSilent()) {
        std::printf("a full listener queue is answered here: cannot measure the block\n");
        return;
    }
    // Host i's own address 127.0.1.i (the first 10 never accepted), and 127.0.0.1-4 for all.
    const quint16 silentPort = silent.port();
    ConnectPool pool([&](const QString& ip, quint16, int timeoutMs, const std::atomic<bool>* cancel) {
        const bool quiet = ip.startsWith(QLatin1String("127.0.1.")) && ip.mid(8).toInt() <= 10;
        return Platform::tcpConnect(QStringLiteral("127.0.0.1"), quiet ? silentPort : tlsPort, timeoutMs,
                                    cancel);
    });
    const QList<QSslCertificate> trusted = ca.certificates();
    pool.setTlsChecker(
        [&](const QString&, quint16, const QString& host, int timeoutMs, const std::atomic<bool>* cancel) {
            return checkTls(QStringLiteral("127.0.0.1"), tlsPort, host, timeoutMs, cancel, &trusted);
        });
    QList<BlockSpeedDialog::Row> rows;
    for (int i = 1; i <= 40; ++i)
        rows.append({i, QStringLiteral("h%1.test").arg(i), QStringLiteral("127.0.1.%1").arg(i)});
    QElapsedTimer timer;
    timer.start();
    double shownMs = -1;
    PaintWatch watch([&] {
        if (shownMs < 0)
            shownMs = timer.nsecsElapsed() / 1e6;
    });
    BlockSpeedDialog dialog(rows, {"127.0.0.1", "127.0.0.2", "127.0.0.3", "127.0.0.4"}, &pool, {}, 1000);
    dialog.installEventFilter(&watch);
    dialog.show();
    auto* status = dialog.findChild<QLabel*>(QStringLiteral("SpeedStatus"));
    const double pauseMs =
        longestPause([status] { return status->text().startsWith(QStringLiteral("完成")); }, 60000);
    const double allMs = timer.nsecsElapsed() / 1e6;
    auto* list = dialog.findChild<QTreeWidget*>(QStringLiteral("SpeedList"));
    int usableHosts = 0;
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        usableHosts += list->topLevelItem(i)->text(4).endsWith(QStringLiteral("可用"));
    std::printf(
        "a block of 40 hosts x 5 candidates with certificates checked (10 never accepting): dialog shown "
        "after %.1f ms, longest pause %.1f ms, all results after %.0f ms (%d hosts with a usable address; "
        "status \"%s\")\n",
        shownMs, pauseMs, allMs, usableHosts, qPrintable(status->text()));
    dialog.close();
    QMetaObject::invokeMethod(
        &serverContext, [&] { delete server; }, Qt::BlockingQueuedConnection);
    serverThread.quit();
    serverThread.wait();
}

} // namespace

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int count = argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : 100000;
    silentCandidates();
    refusingCommonIps(count);
    blockWithCertificates();
    return 0;
}
