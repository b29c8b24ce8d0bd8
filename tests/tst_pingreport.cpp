// The end of a ping: reading ping's summary from the end of a result file, the log entry and
// the row of the day's table that follow from it, and the batches' bookkeeping. No window.
#include "TestMain.h"
#include "TestFiles.h"
#include "core/ping/PingReport.h"
#include "core/ping/PingSummary.h"
#include "platform/TextCodec.h"
#include "platform/TextFile.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <chrono>
#include <functional>
#include <future>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

QString sample(const char* name, const QByteArray& encoding)
{
    const QByteArray bytes = readBytes(QStringLiteral(TARVIX_TESTDATA "/ping/") + QLatin1String(name));
    return TextCodec(encoding).decode(bytes);
}

PingSummary summary(int sent, int received, double loss)
{
    PingSummary s;
    s.sent = sent;
    s.received = received;
    s.lossPercent = loss;
    return s;
}

PingSummary summary(int sent, int received, double loss, double min, double avg, double max)
{
    PingSummary s = summary(sent, received, loss);
    s.hasTimes = true;
    s.minMs = min;
    s.avgMs = avg;
    s.maxMs = max;
    return s;
}

ProcessEnd exited(int code)
{
    return ProcessEnd{ProcessEnd::Kind::Exited, code};
}

} // namespace

Q_DECLARE_METATYPE(std::optional<PingSummary>)

class tst_PingReport : public QObject
{
    Q_OBJECT

private slots:
    void summaries_data();
    void summaries();
    void chineseNeedsItsCodePage();
    void endEntries_data();
    void endEntries();
    void csvFields_data();
    void csvFields();
    void tableRows();
    void tableNextToResultFiles();
    void batchEndsWithItsLastPing();
    void tailFromOffset();
    void summaryBehindOtherRunsOutput();
    void tailOfLargeFile();
    void tailOfFileCutMeanwhile();
    void appendWritesHeaderOnce();
    void pipeInPlaceOfAFile();
};

void tst_PingReport::summaries_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QByteArray>("encoding");
    QTest::addColumn<std::optional<PingSummary>>("expected");
    const std::optional<PingSummary> none;

    QTest::newRow("iputils, all replies") << "iputils-all-replies.txt" << QByteArray("UTF-8")
                                          << std::optional(summary(3, 3, 0, 0.03, 0.057, 0.09));
    QTest::newRow("iputils, ::1") << "iputils-ipv6.txt" << QByteArray("UTF-8")
                                  << std::optional(summary(2, 2, 0, 0.037, 0.048, 0.059));
    QTest::newRow("iputils, partial loss") << "iputils-partial-loss.txt" << QByteArray("UTF-8")
                                           << std::optional(summary(6, 3, 50, 11.902, 12.8, 14.101));
    QTest::newRow("iputils, fractional loss and pipe")
        << "iputils-third-lost.txt" << QByteArray("UTF-8")
        << std::optional(summary(3, 2, 33.3333, 20.1, 21.3, 22.5));
    QTest::newRow("iputils, total loss")
        << "iputils-total-loss.txt" << QByteArray("UTF-8") << std::optional(summary(4, 0, 100));
    QTest::newRow("iputils, errors before the loss")
        << "iputils-unreachable.txt" << QByteArray("UTF-8") << std::optional(summary(3, 0, 100));
    QTest::newRow("iputils, unknown host") << "iputils-unknown-host.txt" << QByteArray("UTF-8") << none;
    QTest::newRow("iputils, cut off in the packets line")
        << "iputils-cut-off.txt" << QByteArray("UTF-8") << none;
    QTest::newRow("iputils, cut off in the times line")
        << "iputils-cut-in-times.txt" << QByteArray("UTF-8") << std::optional(summary(1, 1, 0));
    QTest::newRow("iputils, killed before its summary")
        << "iputils-killed.txt" << QByteArray("UTF-8") << none;
    QTest::newRow("iputils, second run of the day counts")
        << "iputils-two-runs.txt" << QByteArray("UTF-8")
        << std::optional(summary(2, 2, 0, 0.044, 0.052, 0.061));
    QTest::newRow("iputils, earlier complete run does not stand in for a cut one")
        << "iputils-earlier-complete-last-cut.txt" << QByteArray("UTF-8") << none;
    QTest::newRow("busybox") << "busybox.txt" << QByteArray("UTF-8")
                             << std::optional(summary(1, 1, 0, 0.061, 0.061, 0.061));

    QTest::newRow("windows chinese, all replies")
        << "windows-zh-all-replies.txt" << QByteArray("GBK") << std::optional(summary(4, 4, 0, 0, 0, 0));
    QTest::newRow("windows chinese, partial loss, maximum before average")
        << "windows-zh-partial-loss.txt" << QByteArray("GBK") << std::optional(summary(4, 3, 25, 11, 12, 15));
    QTest::newRow("windows chinese, total loss")
        << "windows-zh-total-loss.txt" << QByteArray("GBK") << std::optional(summary(4, 0, 100));
    QTest::newRow("windows chinese, unknown host")
        << "windows-zh-unknown-host.txt" << QByteArray("GBK") << none;
    QTest::newRow("windows chinese, cut off") << "windows-zh-cut-off.txt" << QByteArray("GBK") << none;

    QTest::newRow("windows english, all replies")
        << "windows-en-all-replies.txt" << QByteArray("UTF-8") << std::optional(summary(4, 4, 0, 0, 0, 0));
    QTest::newRow("windows english, partial loss") << "windows-en-partial-loss.txt" << QByteArray("UTF-8")
                                                   << std::optional(summary(4, 2, 50, 31, 38, 45));
    QTest::newRow("windows english, total loss")
        << "windows-en-total-loss.txt" << QByteArray("UTF-8") << std::optional(summary(2, 0, 100));
    QTest::newRow("windows english, unknown host")
        << "windows-en-unknown-host.txt" << QByteArray("UTF-8") << none;

    QTest::newRow("wine") << "wine.txt" << QByteArray("GBK") << std::optional(summary(1, 1, 0, 2, 2, 2));
    QTest::newRow("nothing written") << "empty-run.txt" << QByteArray("UTF-8") << none;
}

void tst_PingReport::summaries()
{
    QFETCH(QString, file);
    QFETCH(QByteArray, encoding);
    QFETCH(std::optional<PingSummary>, expected);
    const std::optional<PingSummary> got = PingSummary::parseLast(sample(qPrintable(file), encoding));
    QCOMPARE(got.has_value(), expected.has_value());
    if (!got)
        return;
    QCOMPARE(got->sent, expected->sent);
    QCOMPARE(got->received, expected->received);
    QCOMPARE(got->lossPercent, expected->lossPercent);
    QCOMPARE(got->hasTimes, expected->hasTimes);
    QCOMPARE(got->minMs, expected->minMs);
    QCOMPARE(got->avgMs, expected->avgMs);
    QCOMPARE(got->maxMs, expected->maxMs);
}

void tst_PingReport::chineseNeedsItsCodePage()
{
    // The GBK bytes read as UTF-8 are no summary: the file is decoded in its own code page.
    QVERIFY(!PingSummary::parseLast(sample("windows-zh-all-replies.txt", "UTF-8")));
    QVERIFY(PingSummary::parseLast(sample("windows-zh-all-replies.txt", "GBK")));
}

void tst_PingReport::endEntries_data()
{
    QTest::addColumn<std::optional<PingSummary>>("summary");
    QTest::addColumn<ProcessEnd>("end");
    QTest::addColumn<QString>("entry");
    QTest::newRow("replies with times")
        << std::optional(summary(50, 50, 0, 0.03, 0.05, 0.09)) << exited(0)
        << "完成: 127.0.0.1 已发送 50 已接收 50 丢失 0% 最短/平均/最长 0.03/0.05/0.09 ms";
    QTest::newRow("fractional loss")
        << std::optional(summary(3, 2, 33.3333, 20.1, 21.3, 22.5)) << exited(0)
        << "完成: 127.0.0.1 已发送 3 已接收 2 丢失 33.3333% 最短/平均/最长 20.1/21.3/22.5 ms";
    QTest::newRow("no reply, no times")
        << std::optional(summary(4, 0, 100)) << exited(1) << "完成: 127.0.0.1 已发送 4 已接收 0 丢失 100%";
    QTest::newRow("no summary, exit status")
        << std::optional<PingSummary>() << exited(2) << "完成: 127.0.0.1 退出码 2，没有读到统计";
    QTest::newRow("no summary, killed")
        << std::optional<PingSummary>() << ProcessEnd{ProcessEnd::Kind::Killed, 9}
        << "完成: 127.0.0.1 被信号 9 终止，没有读到统计";
    QTest::newRow("no summary, status unknown")
        << std::optional<PingSummary>() << ProcessEnd() << "完成: 127.0.0.1 退出状态不明，没有读到统计";
}

void tst_PingReport::endEntries()
{
    QFETCH(std::optional<PingSummary>, summary);
    QFETCH(ProcessEnd, end);
    QTEST(PingReport::endEntry(QStringLiteral("127.0.0.1"), summary, end), "entry");
}

void tst_PingReport::csvFields_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("csv");
    QTest::newRow("plain") << "127.0.0.1"
                           << "127.0.0.1";
    QTest::newRow("chinese") << "例子.中国"
                             << "例子.中国";
    QTest::newRow("comma") << "a,b"
                           << "\"a,b\"";
    QTest::newRow("double quote doubled") << "say \"hi\""
                                          << "\"say \"\"hi\"\"\"";
    QTest::newRow("formula kept as text") << "=1+2"
                                          << "'=1+2";
    QTest::newRow("at sign kept as text") << "@SUM(A1)"
                                          << "'@SUM(A1)";
    QTest::newRow("plus after a blank kept as text") << " +1"
                                                     << "' +1";
    QTest::newRow("line break") << "a\nb"
                                << "\"a\nb\"";
    QTest::newRow("leading blank kept") << " 10.0.0.1"
                                        << "\" 10.0.0.1\"";
    QTest::newRow("empty") << ""
                           << "";
}

void tst_PingReport::csvFields()
{
    QFETCH(QString, field);
    QTEST(PingReport::csvField(field), "csv");
}

void tst_PingReport::tableRows()
{
    PingReport::Run run{QStringLiteral("a,b"), QStringLiteral("/x/2026-12-07/a,b.txt"), 0,
                        QDateTime(QDate(2026, 12, 7), QTime(9, 5, 3))};
    const QDateTime ended(QDate(2026, 12, 7), QTime(9, 5, 53));
    QCOMPARE(
        PingReport::tableHeader(),
        QStringLiteral("目标,开始时间,结束时间,已发送,已接收,丢失(%),最短(ms),平均(ms),最长(ms),退出码\r\n"));
    QCOMPARE(PingReport::tableRow(run, ended, summary(50, 49, 2, 0.03, 0.05, 0.09), exited(0)),
             QStringLiteral("\"a,b\",2026-12-07 09:05:03,2026-12-07 09:05:53,50,49,2,0.03,0.05,0.09,0\r\n"));
    QCOMPARE(PingReport::tableRow(run, ended, summary(4, 0, 100), exited(1)),
             QStringLiteral("\"a,b\",2026-12-07 09:05:03,2026-12-07 09:05:53,4,0,100,,,,1\r\n"));
    QCOMPARE(PingReport::tableRow(run, ended, std::nullopt, ProcessEnd{ProcessEnd::Kind::Killed, 15}),
             QStringLiteral("\"a,b\",2026-12-07 09:05:03,2026-12-07 09:05:53,,,,,,,信号 15\r\n"));
    // Every row has the header's ten columns (the quoted comma is inside one field).
    QCOMPARE(PingReport::tableHeader().count(QLatin1Char(',')), 9);
}

void tst_PingReport::tableNextToResultFiles()
{
    QCOMPARE(PingReport::tableFile(QStringLiteral("/opt/t/2026-12-07/127.0.0.1.txt")),
             QStringLiteral("/opt/t/2026-12-07/汇总.csv"));
    QCOMPARE(PingReport::tableFile(QStringLiteral("/opt/t/2026-12-07/ 10.0.0.1.txt")),
             QStringLiteral("/opt/t/2026-12-07/汇总.csv"));
}

void tst_PingReport::batchEndsWithItsLastPing()
{
    PingReport::Runs runs;
    const int first = runs.beginBatch();
    const quint64 a = runs.add(first, {QStringLiteral("a"), {}, 0, {}});
    const quint64 b = runs.add(first, {QStringLiteral("b"), {}, 0, {}});
    const int second = runs.beginBatch();
    const quint64 c = runs.add(second, {QStringLiteral("c"), {}, 0, {}});
    QCOMPARE(runs.running(), 3);
    QCOMPARE(runs.find(b)->target, QStringLiteral("b"));

    // The second batch's only ping ends first, and ends that batch alone.
    auto ended = runs.end(c, false);
    QVERIFY(ended && ended->batchDone);
    QCOMPARE(ended->run.target, QStringLiteral("c"));
    QCOMPARE(ended->batchPings, 1);
    QCOMPARE(ended->batchAnswered, 0);

    ended = runs.end(b, true);
    QVERIFY(ended && !ended->batchDone);
    QVERIFY(!runs.end(b, true)); // an end is handed back once
    ended = runs.end(a, true);
    QVERIFY(ended && ended->batchDone);
    QCOMPARE(ended->batchPings, 2);
    QCOMPARE(ended->batchAnswered, 2);
    QCOMPARE(runs.running(), 0);
    QVERIFY(!runs.find(a));
}

void tst_PingReport::tailFromOffset()
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("127.0.0.1.txt"));
    const QByteArray earlier = readBytes(QStringLiteral(TARVIX_TESTDATA "/ping/iputils-all-replies.txt"));
    QVERIFY(writeBytes(file, earlier));
    const qint64 offset = TextFile::size(file);
    QCOMPARE(offset, qint64(earlier.size()));

    // This run was killed: what it appended holds no summary, and the earlier run's summary,
    // before its offset, is not taken for it.
    QFile f(file);
    QVERIFY(f.open(QIODevice::Append));
    f.write("================================================================\nPING 127.0.0.1\n");
    f.close();
    QByteArray tail;
    QString error;
    QCOMPARE(TextFile::readTail(file, offset, PingReport::kTailBytes, &tail, &error),
             TextFile::ReadStatus::Ok);
    QCOMPARE(tail, QByteArray(
                       "================================================================\nPING 127.0.0.1\n"));
    QVERIFY(!PingSummary::parseLast(QString::fromUtf8(tail)));
    QVERIFY(PingSummary::parseLast(QString::fromUtf8(readBytes(file))));

    QCOMPARE(TextFile::readTail(dir.filePath(QStringLiteral("missing.txt")), 0, 100, &tail, &error),
             TextFile::ReadStatus::Missing);
}

void tst_PingReport::summaryBehindOtherRunsOutput()
{
    // This run's summary, then more than the first look's worth of replies of another run of
    // the same target that goes on: the summary is still found, within the longer look.
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("127.0.0.1.txt"));
    QByteArray bytes = readBytes(QStringLiteral(TARVIX_TESTDATA "/ping/iputils-partial-loss.txt"));
    QByteArray replies;
    for (int seq = 1; replies.size() <= 2 * PingReport::kFirstTailBytes; ++seq)
        replies += "64 bytes from 127.0.0.1: icmp_seq=" + QByteArray::number(seq) + " ttl=64 time=0.040 ms\n";
    QVERIFY(writeBytes(file, bytes + replies));
    const PingReport::Run run{QStringLiteral("127.0.0.1"), file, 0, QDateTime()};
    const std::optional<PingSummary> s = PingReport::readSummary(run, TextCodec("UTF-8"));
    QVERIFY(s);
    QCOMPARE(s->received, 3);

    // Beyond the longer look it is given up.
    while (replies.size() <= PingReport::kTailBytes)
        replies += replies;
    QVERIFY(writeBytes(file, bytes + replies));
    QVERIFY(!PingReport::readSummary(run, TextCodec("UTF-8")));
    // And a result file that is not there has none.
    QVERIFY(!PingReport::readSummary({QString(), dir.filePath(QStringLiteral("none.txt")), 0, {}},
                                     TextCodec("UTF-8")));
}

void tst_PingReport::tailOfLargeFile()
{
    // A day of runs: only the last maxBytes are read, and they end in the last summary.
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("127.0.0.1.txt"));
    const QByteArray run = readBytes(QStringLiteral(TARVIX_TESTDATA "/ping/iputils-partial-loss.txt"));
    QByteArray day;
    while (day.size() < 4 * 1024 * 1024)
        day += run;
    QVERIFY(writeBytes(file, day));
    QByteArray tail;
    QString error;
    QCOMPARE(TextFile::readTail(file, 0, 4096, &tail, &error), TextFile::ReadStatus::Ok);
    QCOMPARE(tail, day.right(4096));
    const auto s = PingSummary::parseLast(QString::fromUtf8(tail));
    QVERIFY(s);
    QCOMPARE(s->received, 3);
}

void tst_PingReport::tailOfFileCutMeanwhile()
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("x.txt"));
    QVERIFY(writeBytes(file, "0123456789"));
    QByteArray tail;
    QString error;
    QCOMPARE(TextFile::readTail(file, 100, 4, &tail, &error), TextFile::ReadStatus::Ok);
    QCOMPARE(tail, QByteArray("6789"));
}

void tst_PingReport::appendWritesHeaderOnce()
{
    QTemporaryDir dir;
    const QString table = dir.filePath(PingReport::tableName());
    QString error;
    QVERIFY(TextFile::append(table, "h\r\n", "1\r\n", &error));
    QVERIFY(TextFile::append(table, "h\r\n", "2\r\n", &error));
    QCOMPARE(readBytes(table), QByteArray("h\r\n1\r\n2\r\n"));
    // An empty file gets the header too.
    const QString empty = dir.filePath(QStringLiteral("empty.csv"));
    QVERIFY(writeBytes(empty, QByteArray()));
    QVERIFY(TextFile::append(empty, "h\r\n", "1\r\n", &error));
    QCOMPARE(readBytes(empty), QByteArray("h\r\n1\r\n"));
    // A folder in the table's place is reported, not written.
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("folder.csv")));
    QVERIFY(!TextFile::append(dir.filePath(QStringLiteral("folder.csv")), "h", "1", &error));
    QVERIFY(error.contains(QLatin1String("folder.csv")));
}

void tst_PingReport::pipeInPlaceOfAFile()
{
#ifdef Q_OS_UNIX
    // A pipe named like a result file or the table is neither read nor written: with nobody at
    // its other end, opening it would wait forever. Each call runs on a thread of its own; should
    // it hang in the opening, the test opens the other end to set it free, and fails.
    QTemporaryDir dir;
    const QByteArray fifo = QFile::encodeName(dir.filePath(QStringLiteral("127.0.0.1.txt")));
    QCOMPARE(::mkfifo(fifo.constData(), 0600), 0);
    const auto returnsAtOnce = [&](const std::function<bool()>& call, int otherEnd) {
        std::future<bool> result = std::async(std::launch::async, call);
        const bool returned = result.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
        if (!returned) {
            const int fd = ::open(fifo.constData(), otherEnd | O_NONBLOCK);
            result.wait();
            ::close(fd);
        }
        return returned && !result.get();
    };
    const QString path = QFile::decodeName(fifo);
    QVERIFY(returnsAtOnce(
        [&] {
            QByteArray tail;
            QString error;
            return TextFile::readTail(path, 0, 100, &tail, &error) == TextFile::ReadStatus::Ok;
        },
        O_WRONLY));
    QVERIFY(returnsAtOnce(
        [&] {
            QString error;
            return TextFile::append(path, "h\r\n", "1\r\n", &error);
        },
        O_RDONLY));
#else
    QSKIP("pipes in the file system are a Unix matter");
#endif
}

QTEST_GUILESS_MAIN(tst_PingReport)
#include "tst_pingreport.moc"
