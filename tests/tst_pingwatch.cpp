// Watching runs while they go: reply lines of every dialect read from a growing result file,
// the down/up state of a target, and the day's 中断.csv. No window.
#include "TestMain.h"
#include "TestFiles.h"
#include "core/ping/PingMonitor.h"
#include "core/ping/PingReport.h"
#include "core/ping/PingTally.h"
#include "platform/TextCodec.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {

enum class Dialect { WindowsZh, WindowsEn, IputilsO, Iputils, IputilsUnreachable, Tcp };

// What ping writes for a run whose requests go as pattern says (R a reply, L lost), the lines
// of the batch and some lines of no form around them, CR LF on Windows.
QByteArray output(Dialect d, const QString& pattern)
{
    QStringList lines{QString(64, QLatin1Char('=')), QStringLiteral("本次任务开始时间: 9:05:03.12")};
    const bool windows = d == Dialect::WindowsZh || d == Dialect::WindowsEn;
    if (d == Dialect::WindowsZh)
        lines << QString() << QStringLiteral("正在 Ping 127.0.0.1 具有 32 字节的数据:");
    else if (d == Dialect::WindowsEn)
        lines << QString() << QStringLiteral("Pinging 127.0.0.1 with 32 bytes of data:");
    else if (d != Dialect::Tcp)
        lines << QStringLiteral("PING 127.0.0.1 (127.0.0.1) 56(84) bytes of data.");
    for (int i = 0; i < pattern.size(); ++i) {
        const int seq = i + 1;
        const int ms = seq * 2;
        const bool reply = pattern.at(i) == QLatin1Char('R');
        switch (d) {
        case Dialect::WindowsZh:
            lines << (reply ? QStringLiteral("来自 127.0.0.1 的回复: 字节=32 时间=%1ms TTL=128").arg(ms)
                      : seq % 2 ? QStringLiteral("请求超时。")
                                : QStringLiteral("来自 127.0.0.1 的回复: 无法访问目标主机。"));
            break;
        case Dialect::WindowsEn:
            lines << (reply     ? QStringLiteral("Reply from 127.0.0.1: bytes=32 time=%1ms TTL=128").arg(ms)
                      : seq % 2 ? QStringLiteral("Request timed out.")
                                : QStringLiteral("Reply from 127.0.0.1: Destination host unreachable."));
            break;
        case Dialect::IputilsO:
        case Dialect::Iputils:
        case Dialect::IputilsUnreachable:
            if (reply) {
                lines << QStringLiteral("64 bytes from 127.0.0.1: icmp_seq=%1 ttl=64 time=%2 ms")
                             .arg(seq)
                             .arg(ms);
                lines << QStringLiteral("64 bytes from 127.0.0.1: icmp_seq=%1 ttl=64 time=9 ms (DUP!)")
                             .arg(seq);
            } else if (d == Dialect::IputilsO) {
                lines << QStringLiteral("no answer yet for icmp_seq=%1").arg(seq);
            } else if (d == Dialect::IputilsUnreachable) {
                lines << QStringLiteral("From 127.0.0.1 icmp_seq=%1 Destination Host Unreachable").arg(seq);
            }
            break;
        case Dialect::Tcp:
            lines << (reply     ? QStringLiteral("连接 127.0.0.1:7777: 时间=%1.0ms").arg(ms)
                      : seq % 2 ? QStringLiteral("连接 127.0.0.1:7777: 超时")
                                : QStringLiteral("连接 127.0.0.1:7777: 拒绝"));
            break;
        }
        // Lines of no form change nothing.
        lines << QStringLiteral("time=5ms 来自 的回复") << QStringLiteral("Reply from x: time=abcms");
    }
    lines << QString() << QStringLiteral("--- 127.0.0.1 ping statistics ---")
          << QStringLiteral("%1 packets transmitted, 0 received, 100% packet loss").arg(pattern.size());
    const QString eol = windows ? QStringLiteral("\r\n") : QStringLiteral("\n");
    return TextCodec(windows || d == Dialect::Tcp ? QByteArray("GBK") : QByteArray("UTF-8"))
        .encode(lines.join(eol) + eol);
}

QDateTime at(int second)
{
    return QDateTime(QDate(2026, 12, 9), QTime(6, 0, 0)).addSecs(second);
}

PingReply line(PingReply::Kind kind, int seq = -1)
{
    PingReply r;
    r.kind = kind;
    r.ms = 1.5;
    r.seq = seq;
    return r;
}

} // namespace

Q_DECLARE_METATYPE(Dialect)

class tst_PingWatch : public QObject
{
    Q_OBJECT

private slots:
    void repliesFromAGrowingFile_data();
    void repliesFromAGrowingFile();
    void downAndUp();
};

void tst_PingWatch::repliesFromAGrowingFile_data()
{
    QTest::addColumn<Dialect>("dialect");
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<int>("sent");
    QTest::addColumn<int>("received");
    QTest::addColumn<QString>("last");    // 最近 as the table shows it
    QTest::addColumn<QStringList>("log"); // 掉线/恢复 entries, without their times
    QTest::addColumn<int>("outages");     // rows of 中断.csv

    const QStringList downUp{QStringLiteral("掉线: t"), QStringLiteral("恢复: t")};
    for (const auto& [name, d, enc] :
         {std::tuple{"Windows, code page 936", Dialect::WindowsZh, "GBK"},
          std::tuple{"Windows, English", Dialect::WindowsEn, "GBK"},
          std::tuple{"iputils -O", Dialect::IputilsO, "UTF-8"},
          std::tuple{"iputils, unreachable", Dialect::IputilsUnreachable, "UTF-8"},
          std::tuple{"TCP target", Dialect::Tcp, "GBK"}}) {
        QTest::addRow("%s, one loss does not go down", name)
            << d << "RRLR" << 4 << 3 << "8" << QStringList() << 0;
        QTest::addRow("%s, two losses go down, a reply comes back", name)
            << d << "RLLRR" << 5 << 3 << "10" << downUp << 1;
        QTest::addRow("%s, down from the start, never back", name)
            << d << "LLL" << 3 << 0 << "" << QStringList{QStringLiteral("掉线: t")} << 1;
    }
    // Without -O a lost request leaves a gap in icmp_seq: it shows only with the next reply.
    QTest::newRow("iputils, one gap does not go down")
        << Dialect::Iputils << "RRLR" << 4 << 3 << "8" << QStringList() << 0;
    QTest::newRow("iputils, a gap of two goes down and back")
        << Dialect::Iputils << "RLLRR" << 5 << 3 << "10" << downUp << 1;
}

void tst_PingWatch::repliesFromAGrowingFile()
{
    QFETCH(Dialect, dialect);
    QFETCH(QString, pattern);
    const bool gbk =
        dialect == Dialect::WindowsZh || dialect == Dialect::WindowsEn || dialect == Dialect::Tcp;
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("t.txt"));
    const QByteArray before = "earlier run: Reply from 127.0.0.1: bytes=32 time=1ms TTL=128\r\n";
    QVERIFY(writeBytes(file, before));

    PingMonitor monitor(gbk ? QByteArray("GBK") : QByteArray("UTF-8"));
    QSignalSpy logged(&monitor, &PingMonitor::logged);
    monitor.add(1, QStringLiteral("t"), file, before.size());
    // The output comes in two pieces, the first ending inside a line (and, in GBK, possibly
    // inside a character): nothing is counted twice or lost at the cut.
    const QByteArray bytes = output(dialect, pattern);
    const qsizetype cut = bytes.size() / 2 + 1;
    QFile out(file);
    QVERIFY(out.open(QIODevice::Append));
    out.write(bytes.left(cut));
    out.flush();
    monitor.pollNow();
    out.write(bytes.mid(cut));
    out.close();
    monitor.pollNow();

    const std::optional<PingTally> tally = monitor.finish(1, false);
    QVERIFY(tally);
    QTEST(tally->sent(), "sent");
    QTEST(tally->received(), "received");
    QTEST(tally->hasTimes() ? QString::number(tally->lastMs()) : QString(), "last");
    QCOMPARE(tally->state(), PingTally::State::Ended);
    QStringList entries;
    for (const QList<QVariant>& args : logged)
        entries << args.at(0).toString().section(QLatin1Char(' '), 0, 1);
    QTEST(entries, "log");

    QFETCH(int, outages);
    const QByteArray table = readBytes(dir.filePath(PingReport::outageTableName()));
    if (outages == 0)
        QCOMPARE(table, QByteArray("<unreadable>"));
    else
        QCOMPARE(table.count("\r\n"), outages + 1);
}

void tst_PingWatch::downAndUp()
{
    using K = PingReply::Kind;
    PingTally t;
    QVERIFY(t.feed(line(K::Lost), at(0)).isEmpty()); // one miss: still 进行中
    QCOMPARE(t.state(), PingTally::State::Running);
    QVERIFY(t.feed(line(K::Reply), at(1)).isEmpty()); // answers: 在线, no outage
    QCOMPARE(t.state(), PingTally::State::Up);
    QCOMPARE(t.lastChange(), at(1));
    QVERIFY(t.feed(line(K::Lost), at(2)).isEmpty());
    QVERIFY(t.feed(line(K::None), at(3)).isEmpty()); // a line of no form breaks no row
    const auto downs = t.feed(line(K::Lost), at(4)); // the second in a row: 离线
    QCOMPARE(downs.size(), 1);
    const auto* down = &downs.first();
    QCOMPARE(down->kind, PingTally::Change::Down);
    QCOMPARE(down->outage.start, at(2));             // since the first miss of the row
    QVERIFY(t.feed(line(K::Lost), at(5)).isEmpty()); // still down: no second 掉线
    const auto ups = t.feed(line(K::Reply), at(9));
    QCOMPARE(ups.size(), 1);
    const auto* up = &ups.first();
    QCOMPARE(up->kind, PingTally::Change::Up);
    QCOMPARE(up->outage.seconds(), 7);
    QCOMPARE(t.state(), PingTally::State::Up);
    QCOMPARE(t.sent(), 6);
    QCOMPARE(t.received(), 2);

    // A late reply after its "no answer yet" line is received, not sent again.
    PingTally numbered;
    numbered.feed(line(K::Lost, 1), at(0));
    numbered.feed(line(K::Reply, 1), at(1));
    QCOMPARE(numbered.sent(), 1);
    QCOMPARE(numbered.received(), 1);

    // Stopped while down: the open outage is recorded up to the stop, and nothing comes after.
    QVERIFY(t.feed(line(K::Lost), at(10)).isEmpty());
    QCOMPARE(t.feed(line(K::Lost), at(11)).size(), 1);
    const auto open = t.finish(true, at(20));
    QVERIFY(open);
    QVERIFY(!open->recovered);
    QCOMPARE(t.state(), PingTally::State::Stopped);
    QVERIFY(t.feed(line(K::Reply), at(21)).isEmpty());
    QCOMPARE(t.received(), 2);

    // The outage table's row: an open outage has no end; a target a spreadsheet would take for
    // a formula stays text, as in 汇总.csv.
    QCOMPARE(PingReport::outageRow(QStringLiteral("=1+2"), open->start, open->end, false),
             QStringLiteral("'=1+2,2026-12-09 06:00:10,,10\r\n"));
    QCOMPARE(PingReport::outageRow(QStringLiteral("127.0.0.1:80"), at(2), at(9), true),
             QStringLiteral("127.0.0.1:80,2026-12-09 06:00:02,2026-12-09 06:00:09,7\r\n"));
}

QTEST_GUILESS_MAIN(tst_PingWatch)
#include "tst_pingwatch.moc"
