#include "TestMain.h"
#include "TestFiles.h"
#include "TestSystem.h"
#include "core/ping/PingBatch.h"
#include "core/ping/PingCommands.h"
#include "core/ping/PingQueue.h"
#include "platform/TextCodec.h"
#include "core/ping/PingSummary.h"
#include "platform/Platform.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

using namespace PingCommands;

namespace {

// The program never waits for its pings; the test watches /proc until the process has ended
// (gone, or a zombie that the next start reaps).
bool running(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return false;
    const QByteArray line = stat.readAll();
    return !line.mid(line.lastIndexOf(')') + 2, 1).startsWith('Z');
}

bool waitForExit(qint64 pid, int ms = 15000)
{
    QElapsedTimer timer;
    timer.start();
    while (running(pid)) {
        if (timer.elapsed() > ms)
            return false;
        QTest::qWait(20);
    }
    return true;
}

} // namespace

class tst_Ping : public QObject
{
    Q_OBJECT

private slots:
    void commandLines_data();
    void commandLines();
    void separatorAndStartTimeLines();
    void explorerLine();
    void resultFileNames_data();
    void resultFileNames();
    void unsafeTargets_data();
    void unsafeTargets();
    void queueLines_data();
    void queueLines();
    void timeAndDateText();
    void batchPlan_data();
    void batchPlan();
    void pingAppendsBlockToResultFile();
    void slowAppendStillStandsBeforePing();
    void missingPingIsReported();
};

void tst_Ping::commandLines_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("count");
    QTest::addColumn<QString>("line");
    QTest::addColumn<QStringList>("words"); // what ping gets where there is no cmd
    QTest::addColumn<QString>("countArgument");
    const QString file = QStringLiteral("D:\\Tools\\2010-12-21\\10.0.0.1.txt");
    const QStringList address{QStringLiteral("10.0.0.1")};
    QTest::newRow("example values") << "10.0.0.1" << "50"
                                    << "cmd /c ping 10.0.0.1 -n 50 >>\"" + file + "\"" << address << "50";
    QTest::newRow("leading blank gives two blanks after ping")
        << " 10.0.0.1" << "50" << "cmd /c ping  10.0.0.1 -n 50 >>\"D:\\Tools\\2010-12-21\\ 10.0.0.1.txt\""
        << address << "50";
    QTest::newRow("empty count") << "10.0.0.1" << "" << "cmd /c ping 10.0.0.1 -n  >>\"" + file + "\"" << address
                                 << "";
    QTest::newRow("tabs around the target and blanks around the count reach ping trimmed")
        << "\t10.0.0.1 \t" << " 1 " << "cmd /c ping \t10.0.0.1 \t -n  1  >>\"D:\\Tools\\2010-12-21\\\t10.0.0.1 \t.txt\""
        << address << "1";
}

void tst_Ping::commandLines()
{
    QFETCH(QString, target);
    QFETCH(QString, count);
    const QString folder = resultFolder(QStringLiteral("D:\\Tools\\"), QStringLiteral("2010-12-21"), QLatin1Char('\\'));
    const Command cmd = pingCommand(target, count, resultFile(folder, target));
    QTEST(cmd.commandLine, "line");
    QCOMPARE(cmd.showMode, int(Command::Hidden));
    QTEST(cmd.words, "words");
    QTEST(cmd.count, "countArgument");
}

void tst_Ping::separatorAndStartTimeLines()
{
    const QString file = QStringLiteral("D:\\Tools\\2010-12-21\\10.0.0.1.txt");
    QCOMPARE(separatorCommand(file).commandLine,
             QStringLiteral("cmd /c echo ================================================================>>\"") + file
                 + QLatin1Char('"'));
    const Command start = startTimeCommand(file, QTime(9, 5, 3, 120));
    QCOMPARE(start.commandLine, QStringLiteral("cmd /c echo 本次任务开始时间:%time%>>\"") + file + QLatin1Char('"'));
    QCOMPARE(start.text, QStringLiteral("本次任务开始时间: 9:05:03.12"));
}

void tst_Ping::explorerLine()
{
    const QString folder = resultFolder(QStringLiteral("D:\\My Tools\\"), QStringLiteral("2010-12-21"), QLatin1Char('\\'));
    QCOMPARE(explorerCommand(folder).commandLine, QStringLiteral("explorer.exe D:\\My Tools\\2010-12-21\\"));
    QCOMPARE(explorerCommand(folder).showMode, int(Command::Normal));
}

void tst_Ping::resultFileNames_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("posix");
    QTest::addColumn<QString>("windows");
    QTest::newRow("IPv4 address") << "127.0.0.1" << "127.0.0.1.txt" << "127.0.0.1.txt";
    QTest::newRow("IPv6 loopback") << "::1" << "::1.txt" << "--1.txt";
    QTest::newRow("IPv6 with a zone-less link-local address") << "fe80::1:2" << "fe80::1:2.txt" << "fe80--1-2.txt";
    QTest::newRow("name with a leading blank") << " localhost" << " localhost.txt" << " localhost.txt";
    QTest::newRow("Chinese name") << "例子.中国" << "例子.中国.txt" << "例子.中国.txt";
}

void tst_Ping::resultFileNames()
{
    QFETCH(QString, target);
    QFETCH(QString, posix);
    QFETCH(QString, windows);
    QCOMPARE(resultFile(QStringLiteral("/r/"), target, Platform::FileNames::Posix), QStringLiteral("/r/") + posix);
    QCOMPARE(resultFile(QStringLiteral("D:\\r\\"), target, Platform::FileNames::Windows),
             QStringLiteral("D:\\r\\") + windows);
}

void tst_Ping::unsafeTargets_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<bool>("safe");
    QTest::newRow("address") << "10.0.0.1" << true;
    QTest::newRow("blanks around the target are kept") << " 10.0.0.1 \t" << true;
    QTest::newRow("IPv6 address") << "::1" << true;
    QTest::newRow("address followed by an option") << "127.0.0.1 -t" << false;
    QTest::newRow("address followed by options and a count") << "::1 -f -c 2000" << false;
    QTest::newRow("name with options") << "example.com -l 32" << false;
    QTest::newRow("tab inside") << "a\tb" << false;
    QTest::newRow("an option alone") << "-f" << false;
    QTest::newRow("an option after a blank") << " --help" << false;
    QTest::newRow("a dash inside a name") << "my-host.example" << true;
    QTest::newRow("wildcard") << "10.0.0.*" << false;
    QTest::newRow("question mark") << "host?" << false;
    QTest::newRow("chinese name") << "例子.中国" << true;
    for (const char* c : {"&", "|", "<", ">", "^", "\"", "%"})
        QTest::newRow(qPrintable(QStringLiteral("cmd character %1").arg(QLatin1String(c))))
            << QStringLiteral("1.1.1.1 %1 calc").arg(QLatin1String(c)) << false;
    QTest::newRow("backslash leaves the folder") << "..\\..\\boot" << false;
    QTest::newRow("slash leaves the folder") << "../x" << false;
    QTest::newRow("control character") << QString(QStringLiteral("a") + QChar(7)) << false;
    QTest::newRow("line feed") << "a\nb" << false;
}

void tst_Ping::unsafeTargets()
{
    QFETCH(QString, target);
    QFETCH(bool, safe);
    QCOMPARE(unsafeReason(target).isEmpty(), safe);
}

void tst_Ping::queueLines_data()
{
    QTest::addColumn<QString>("queue");
    QTest::addColumn<QStringList>("targets"); // non-blank lines
    QTest::newRow("empty queue") << "" << QStringList{};
    QTest::newRow("blank and space-only lines") << "\r\n  \r\n\u3000" << QStringList{};
    QTest::newRow("two spaces between targets") << "10.0.0.1\r\n  \r\n10.0.0.2" << QStringList{"10.0.0.1", "10.0.0.2"};
    QTest::newRow("final line end gives no target") << "10.0.0.1\r\n" << QStringList{"10.0.0.1"};
    QTest::newRow("lone LF stays inside its line") << "a\nb\r\nc" << QStringList{"a\nb", "c"};
    QTest::newRow("blanks kept in the target") << " 10.0.0.1 " << QStringList{" 10.0.0.1 "};
}

void tst_Ping::queueLines()
{
    QFETCH(QString, queue);
    QStringList targets;
    for (const QString& line : PingQueue::lines(queue))
        if (!PingQueue::isBlank(line))
            targets << line;
    QTEST(targets, "targets");
}

void tst_Ping::timeAndDateText()
{
    QCOMPARE(cmdTimeText(QTime(9, 5, 3, 129)), QStringLiteral(" 9:05:03.12"));
    QCOMPARE(cmdTimeText(QTime(23, 59, 59, 999)), QStringLiteral("23:59:59.99"));
    QCOMPARE(dateText(QDate(2010, 12, 21)), QStringLiteral("2010-12-21"));
    QCOMPARE(dateText(QDate(2026, 1, 5)), QStringLiteral("2026-01-05"));
}

void tst_Ping::batchPlan_data()
{
    QTest::addColumn<QString>("queue");
    QTest::addColumn<QString>("count");
    QTest::addColumn<QStringList>("entries"); // the entry of each target before it starts
    const QString folder = QStringLiteral("D:\\Tools\\2010-12-21\\");
    auto started = [&](const QString& target, const QString& count) {
        return QStringLiteral("执行:cmd /c ping %1 -n %2 >>\"%3%1.txt\"").arg(target, count, folder);
    };
    QTest::newRow("blank lines plan nothing") << "\r\n  \r\n" << "50" << QStringList{};
    QTest::newRow("two targets in queue order") << "10.0.0.1\r\n\r\n10.0.0.2" << "50"
                                                << QStringList{started("10.0.0.1", "50"), started("10.0.0.2", "50")};
    QTest::newRow("control characters of a skipped target are made visible")
        << QStringLiteral("a\u0007b&c\nd") << "50"
        << QStringList{QStringLiteral("跳过:a\uFFFDb&c\uFFFDd（含有控制字符 U+0007）")};
    QTest::newRow("an unsafe count skips every target")
        << "10.0.0.1" << "5 & calc" << QStringList{QStringLiteral("跳过:10.0.0.1（次数含有命令解释器会执行的字符 “&”）")};
}

void tst_Ping::batchPlan()
{
    QFETCH(QString, queue);
    QFETCH(QString, count);
    QFETCH(QStringList, entries);
    const QString folder = QStringLiteral("D:\\Tools\\2010-12-21\\");
    const QList<PingBatch::Target> plan = PingBatch::plan(queue, count, [&] { return folder; }, QTime(9, 5, 3));
    QStringList got;
    for (const PingBatch::Target& t : plan) {
        got << PingBatch::plannedEntry(t);
        // A started target has its three commands, in the order they run; a skipped one none.
        QCOMPARE(t.commands.size(), t.skipped.isEmpty() ? 3 : 0);
        if (!t.commands.isEmpty()) {
            QCOMPARE(t.commands[0].text, QString(64, QLatin1Char('=')));
            QCOMPARE(t.commands[1].text, QStringLiteral("本次任务开始时间: 9:05:03.00"));
            QCOMPARE(t.commands[2].kind, Command::Kind::Ping);
        }
    }
    QCOMPARE(got, entries);
}

void tst_Ping::pingAppendsBlockToResultFile()
{
    // The real commands: on Windows the real cmd and ping, in the system's code page and line ends.
    QTemporaryDir dir;
    const QString file = QDir::toNativeSeparators(dir.filePath(QStringLiteral("127.0.0.1.txt")));
    const TextCodec system;
    for (int run = 1; run <= 2; ++run) {
        QVERIFY(Platform::start(separatorCommand(file)).ok);
        QVERIFY(Platform::start(startTimeCommand(file, QTime::currentTime())).ok);
        const StartResult r = Platform::start(pingCommand(QStringLiteral("127.0.0.1"), QStringLiteral("1"), file));
        QVERIFY2(r.ok, qPrintable(r.error));
        QVERIFY(r.pid > 0);
        // This run's block is complete once its own statistics follow its separator.
        auto thisRun = [&] {
            const QString text = system.decode(readBytes(file));
            return text.mid(text.lastIndexOf(QString(64, QLatin1Char('='))));
        };
        QTRY_VERIFY_WITH_TIMEOUT(PingSummary::parseLast(thisRun()).has_value(), 15000);
        if (!onWindows())
            QVERIFY(waitForExit(r.pid));
        const QStringList lines = system.decode(readBytes(file)).split(QRegularExpression(QStringLiteral("\r?\n")));
        const QString separator(64, QLatin1Char('='));
        QCOMPARE(lines.count(separator), run);
        const int last = lines.lastIndexOf(separator);
        QVERIFY2(lines.value(last + 1).startsWith(QStringLiteral("本次任务开始时间:")), qPrintable(lines.value(last + 1)));
        // Then ping's own output (on Windows after an empty line), naming the target.
        int output = last + 2;
        while (output < lines.size() && lines[output].isEmpty())
            ++output;
        QVERIFY2(lines.value(output).contains(QStringLiteral("127.0.0.1")), qPrintable(lines.join(QLatin1Char('|'))));
        QCOMPARE(PingSummary::parseLast(system.decode(readBytes(file)))->sent, 1);
    }
}

void tst_Ping::slowAppendStillStandsBeforePing()
{
    // A cmd that takes longer to append its line than any fixed wait would allow (a cold first
    // start, a virus scanner): the ping starts only once the line is in the file.
    if (!onWindows())
        QSKIP("the program appends these lines itself before it starts ping: there is no cmd to wait for");
    QTemporaryDir dir;
    const QString file = QDir::toNativeSeparators(dir.filePath(QStringLiteral("127.0.0.1.txt")));
    Command slow = separatorCommand(file);
    slow.commandLine.replace(QLatin1String("cmd /c "), QLatin1String("cmd /c ping -n 8 127.0.0.1 >nul & "));
    QElapsedTimer took;
    took.start();
    const QList<StartResult> results = Platform::startGroups(
        {{slow, startTimeCommand(file, QTime::currentTime()), pingCommand(QStringLiteral("127.0.0.1"), QStringLiteral("1"), file)}});
    QVERIFY2(took.elapsed() > 5000, "the slow cmd ended too soon to show anything");
    QVERIFY2(results.value(0).ok, qPrintable(results.value(0).error));
    QVERIFY(!results[0].stillRunning);
    const TextCodec system;
    QTRY_VERIFY_WITH_TIMEOUT(PingSummary::parseLast(system.decode(readBytes(file))).has_value(), 15000);
    const QStringList lines = system.decode(readBytes(file)).split(QStringLiteral("\r\n"));
    QCOMPARE(lines.value(0), QString(64, QLatin1Char('=')));
    QVERIFY2(lines.value(1).startsWith(QStringLiteral("本次任务开始时间:")), qPrintable(lines.join(QLatin1Char('|'))));
}

void tst_Ping::missingPingIsReported()
{
    if (onWindows())
        QSKIP("Windows starts cmd from its system folder whatever PATH holds; a missing ping fails inside cmd");
    const QByteArray path = qgetenv("PATH");
    QTemporaryDir empty;
    qputenv("PATH", empty.path().toLocal8Bit());
    const StartResult r = Platform::start(pingCommand(QStringLiteral("127.0.0.1"), QStringLiteral("1"),
                                                      empty.filePath(QStringLiteral("x.txt"))));
    qputenv("PATH", path);
    QVERIFY(!r.ok);
    QVERIFY(r.error.contains(QLatin1String("ping")));
}

QTEST_GUILESS_MAIN(tst_Ping)
#include "tst_ping.moc"
