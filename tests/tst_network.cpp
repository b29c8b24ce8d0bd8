// The platform's sockets and resolver for real, on this machine only: 测速's connections to
// listeners of the test's own on 127.0.0.1 (and 127.0.0.2, where nothing listens), and the
// system resolver in a namespace whose /etc/hosts is the test's own file and whose network has
// no interface up. No DNS query is ever made.
#include "LoopbackListener.h"
#include "TlsListener.h"
#include "Privileges.h"
#include "TestFiles.h"
#include "core/hosts/SpeedTest.h"
#include "core/net/ConnectPool.h"
#include "platform/Network.h"

#include <QProcess>
#include <QStandardPaths>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>

class tst_Network : public QObject
{
    Q_OBJECT

private slots:
    void connectOutcomes();
    void certificateChecked_data();
    void certificateChecked();
    void systemLookupReadsOwnHostsFile();
};

void tst_Network::connectOutcomes()
{
    LoopbackListener open;
    LoopbackListener silent(true);
    QVERIFY(open.port() != 0);
    if (!silent.isSilent())
        QSKIP("this system answers connections to a full listener queue");
    // The same port on 127.0.0.2 has no listener: refused. The silent one is tried through its
    // own port, which the stand-in maps from 127.0.0.3; everything else goes through as it is.
    const quint16 port = open.port();
    Platform::Connector connector = [&](const QString& ip, quint16 p, int timeoutMs,
                                        const std::atomic<bool>* cancel) {
        if (ip == QLatin1String("127.0.0.3"))
            return Platform::tcpConnect(QStringLiteral("127.0.0.1"), silent.port(), timeoutMs, cancel);
        return Platform::tcpConnect(ip, p, timeoutMs, cancel);
    };
    ConnectPool pool(connector);
    SpeedTest test(&pool);
    QSignalSpy finished(&test, &SpeedTest::finished);
    QList<SpeedTest::Candidate> list;
    SpeedTest::addCandidates(&list, {"127.0.0.3", "127.0.0.2", "127.0.0.1"}, SpeedTest::Common);
    test.start(list, port, 3, 300);
    QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 10000);
    QStringList got;
    for (const int i : test.order()) {
        const SpeedTest::Entry& e = test.entries()[i];
        const QStringList texts = SpeedTest::resultTexts(e.result, 3);
        got << e.candidate.ip + QLatin1Char(' ') + texts[0] + QLatin1Char(' ') + texts[3];
    }
    QCOMPARE(got, (QStringList{"127.0.0.1 3/3 可用", "127.0.0.3 0/3 超时", "127.0.0.2 0/3 拒绝"}));
}

void tst_Network::certificateChecked_data()
{
    // What the listener serves for good.test, and the candidate's 结果 in 测速.
    QTest::addColumn<QString>("served"); // issued for, "expired", "unknown CA", "silent"
    QTest::addColumn<QString>("outcome");
    QTest::newRow("a certificate for the host") << "good.test" << "可用";
    QTest::newRow("a certificate for another name") << "other.test" << "证书不符: other.test";
    QTest::newRow("an expired certificate") << "expired" << "证书不受信任";
    QTest::newRow("from an authority not trusted") << "unknown CA" << "证书不受信任";
    QTest::newRow("accepts, never answers the handshake") << "silent" << "TLS 失败";
}

void tst_Network::certificateChecked()
{
    QFETCH(QString, served);
    if (QStandardPaths::findExecutable(QStringLiteral("openssl")).isEmpty())
        QSKIP("the openssl command is not installed");
    if (!QSslSocket::supportsSsl())
        QSKIP("Qt has no TLS backend here");
    TestAuthority ca, unknown(QStringLiteral("Unknown CA"));
    QVERIFY(ca.ok() && unknown.ok());
    QSslCertificate certificate;
    QSslKey key;
    if (served == QLatin1String("unknown CA"))
        QVERIFY(unknown.issue(QStringLiteral("good.test"), 30, &certificate, &key));
    else if (served == QLatin1String("expired"))
        QVERIFY(ca.issue(QStringLiteral("good.test"), -1, &certificate, &key));
    else if (served != QLatin1String("silent"))
        QVERIFY(ca.issue(served, 30, &certificate, &key));
    TlsListener listener(certificate, key);
    QVERIFY(listener.isListening());
    // Port 443 is asked for (the check is made for it only) and mapped to the listener's; only
    // the test's own authority is trusted.
    const quint16 port = listener.serverPort();
    ConnectPool pool([port](const QString& ip, quint16, int timeoutMs, const std::atomic<bool>* cancel) {
        return Platform::tcpConnect(ip, port, timeoutMs, cancel);
    });
    const QList<QSslCertificate> trusted = ca.certificates();
    pool.setTlsChecker([port, trusted](const QString& ip, quint16, const QString& host, int timeoutMs,
                                       const std::atomic<bool>* cancel) {
        return checkTls(ip, port, host, timeoutMs, cancel, &trusted);
    });
    SpeedTest test(&pool);
    QSignalSpy finished(&test, &SpeedTest::finished);
    QList<SpeedTest::Candidate> list;
    SpeedTest::addCandidates(&list, {"127.0.0.1"}, SpeedTest::Common);
    test.start(list, 443, 3, 1000, QStringLiteral("good.test"));
    QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 10000);
    const SpeedTest::Result& r = test.entries().first().result;
    QCOMPARE(r.answered, 3);
    QTEST(SpeedTest::resultTexts(r, 3)[3], "outcome");
    QCOMPARE(SpeedTest::usable(r), served == QLatin1String("good.test"));
}

void tst_Network::systemLookupReadsOwnHostsFile()
{
    QString why;
    if (!canRunHelperInNamespace(&why))
        QSKIP(qPrintable(why));
    QTemporaryDir dir;
    const QString hosts = dir.filePath(QStringLiteral("hosts"));
    const QString nss = dir.filePath(QStringLiteral("nsswitch.conf"));
    QVERIFY(writeBytes(hosts, "127.0.0.1 localhost\n10.9.8.7 own-a.test\n10.9.8.6 own-a.test\n"
                              "2001:db8::7 own-a.test\n#10.1.1.1 own-b.test\n"));
    QVERIFY(writeBytes(nss, "hosts: files\n"));
    QProcess child;
    child.start(QStringLiteral("sh"),
                {QStringLiteral(TARVIX_TESTS "/in-own-hosts.sh"), hosts, nss,
                 QCoreApplication::applicationFilePath(), QStringLiteral("--lookup"),
                 QStringLiteral("own-a.test"), QStringLiteral("OWN-A.test"), QStringLiteral("own-b.test")});
    QVERIFY(child.waitForFinished(30000));
    QVERIFY2(child.exitCode() != 125, "the stand-ins for /etc/hosts could not be put in place");
    QCOMPARE(child.exitCode(), 0);
    const QStringList lines =
        QString::fromUtf8(child.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 3);
    // The first line of each family comes first: the address that a save has to put there.
    for (const QString& line : lines.mid(0, 2)) {
        const QStringList addresses = line.split(QLatin1Char(','));
        QVERIFY2(addresses.contains(QStringLiteral("10.9.8.7")) &&
                     addresses.contains(QStringLiteral("2001:db8::7")),
                 qPrintable(line));
        QVERIFY2(addresses.indexOf(QStringLiteral("10.9.8.7")) <
                         qMax(0, int(addresses.indexOf(QStringLiteral("10.9.8.6")))) ||
                     !addresses.contains(QStringLiteral("10.9.8.6")),
                 qPrintable(line));
    }
    QVERIFY2(lines[2].startsWith(QStringLiteral("error ")), qPrintable(lines[2])); // disabled: not found
}

int main(int argc, char* argv[])
{
    // Run as the child inside the namespace: each name's addresses, or its error.
    if (argc > 1 && qstrcmp(argv[1], "--lookup") == 0) {
        for (int i = 2; i < argc; ++i) {
            QString error;
            const QStringList addresses = Platform::systemLookup(QString::fromLocal8Bit(argv[i]), &error);
            const QString line =
                addresses.isEmpty() ? QStringLiteral("error ") + error : addresses.join(QLatin1Char(','));
            std::printf("%s\n", line.toUtf8().constData());
        }
        return 0;
    }
    QCoreApplication app(argc, argv);
    tst_Network test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_network.moc"
