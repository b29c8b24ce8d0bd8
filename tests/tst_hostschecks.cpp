// What the window tells about the rows it edits, without a window: the lines that the resolver
// never uses, whether a save took effect (the resolver answers from a table), and the
// candidates, order and texts of 测速 (connections answered by a stand-in).
#include "TestMain.h"
#include "core/hosts/DeadLines.h"
#include "core/hosts/EffectCheck.h"
#include "core/hosts/EffectCheckService.h"
#include "core/hosts/HostsDocument.h"
#include "core/hosts/SpeedTest.h"
#include "core/net/ConnectPool.h"

#include <QMutex>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QSemaphore>
#include <QSet>
#include <QSignalSpy>
#include <QTest>
#include <QThread>

#include <numeric>
#include <system_error>

namespace {

// A row's mark in short: "" used, "ip" not an address, "dup N" an earlier row N (from 1) wins.
QString mark(const DeadLines& dead, int row)
{
    const QString reason = dead.reason(row);
    if (reason.isEmpty())
        return QString();
    if (reason.contains(QStringLiteral("不是有效的")))
        return QStringLiteral("ip");
    const qsizetype at = reason.indexOf(QStringLiteral("第 "));
    return QStringLiteral("dup ") + reason.mid(at + 2).section(QLatin1Char(' '), 0, 0);
}

// The same rule, row by row from the values, as the user reads it.
QString referenceMark(const HostsDocument& doc, int row)
{
    auto active = [&](int r) {
        const HostsValues v = doc.values(r);
        return !doc.isDeleted(r) && !v.disabled && !v.host.isEmpty();
    };
    if (!active(row))
        return QString();
    const HostsValues v = doc.values(row);
    const int family = Platform::addressFamily(QStringView(v.ip));
    if (family == 0)
        return QStringLiteral("ip");
    for (int r = 0; r < row; ++r) {
        const HostsValues e = doc.values(r);
        if (active(r) && Platform::addressFamily(QStringView(e.ip)) == family &&
            e.host.compare(v.host, Qt::CaseInsensitive) == 0)
            return QStringLiteral("dup %1").arg(r + 1);
    }
    return QString();
}

// Edits as the window makes them: "set ROW IP HOST", "disable ROW", "delete ROW", "add IP HOST".
void edit(HostsDocument* doc, const QString& step)
{
    const QStringList w = step.split(QLatin1Char(' '));
    if (w[0] == QLatin1String("add")) {
        doc->addRow();
        doc->setValues(doc->rowCount() - 1, {false, w[1], w[2]});
        return;
    }
    const int row = w[1].toInt();
    HostsValues v = doc->values(row);
    if (w[0] == QLatin1String("set")) {
        v.ip = w[2];
        v.host = w[3];
    } else if (w[0] == QLatin1String("disable")) {
        v.disabled = true;
    } else if (w[0] == QLatin1String("delete")) {
        doc->setDeleted(row, true);
        return;
    }
    doc->setValues(row, v);
}

Platform::ConnectTry outcome(Platform::ConnectTry::Outcome o, qint64 micros = 0)
{
    Platform::ConnectTry t;
    t.outcome = o;
    t.micros = micros;
    return t;
}

} // namespace

class tst_HostsChecks : public QObject
{
    Q_OBJECT

private slots:
    void deadLines_data();
    void deadLines();
    void deadLinesFollowEdits();
    void largeFileIndexedAside();
    void indexWaitsForStart_data();
    void indexWaitsForStart();
    void effectLines_data();
    void effectLines();
    void effectCheckGivesUpAtItsLimit();
    void candidates_data();
    void candidates();
    void bestFirst();
    void shownBefore_data();
    void shownBefore();
    void manyCandidatesBounded();
    void threadThatCannotStart_data();
    void threadThatCannotStart();
    void stopDropsRunningTries();
    void dnsAddsCandidates();
};

void tst_HostsChecks::deadLines_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QStringList>("marks");
    QTest::addColumn<QByteArray>("settings");    // the resolver's (host.conf)
    QTest::addColumn<QByteArray>("resolvMulti"); // RESOLV_MULTI; unset when null
    QTest::newRow("invalid IPv4") << QByteArray("999.1.1.1 a\n1.1.1 b\n") << QStringList{"ip", "ip"}
                                  << QByteArray() << QByteArray();
    QTest::newRow("a name where the address goes")
        << QByteArray("a.example b\n") << QStringList{"ip"} << QByteArray() << QByteArray();
    QTest::newRow("same host twice") << QByteArray("1.1.1.1 a\n2.2.2.2 a\n") << QStringList{"", "dup 1"}
                                     << QByteArray() << QByteArray();
    QTest::newRow("same host and address twice")
        << QByteArray("1.1.1.1 a\n1.1.1.1 a\n") << QStringList{"", "dup 1"} << QByteArray() << QByteArray();
    QTest::newRow("case differs") << QByteArray("1.1.1.1 A.example\r\n2.2.2.2 a.EXAMPLE\r\n")
                                  << QStringList{"", "dup 1"} << QByteArray() << QByteArray();
    QTest::newRow("IPv4 and IPv6 are no duplicate")
        << QByteArray("1.1.1.1 a\n::1 a\n2001:db8::1 a\n") << QStringList{"", "", "dup 2"} << QByteArray()
        << QByteArray();
    QTest::newRow("disabled earlier line does not count")
        << QByteArray("#1.1.1.1 a\n2.2.2.2 a\n") << QStringList{"", ""} << QByteArray() << QByteArray();
    QTest::newRow("invalid earlier line does not win")
        << QByteArray("1.1.1 a\n2.2.2.2 a\n3.3.3.3 a\n") << QStringList{"ip", "", "dup 2"} << QByteArray()
        << QByteArray();
    QTest::newRow("third names the first")
        << QByteArray("1.1.1.1 a\n2.2.2.2 a\n3.3.3.3 a") << QStringList{"", "dup 1", "dup 1"} << QByteArray()
        << QByteArray();
    QTest::newRow("comments, blanks, one word")
        << QByteArray("# comment\n\n   \nlocalhost\n1.1.1.1 a\n") << QStringList{"", "", "", "", ""}
        << QByteArray() << QByteArray();
    QTest::newRow("address with a zone")
        << QByteArray("fe80::1%eth0 a\n") << QStringList{"ip"} << QByteArray() << QByteArray();
    QTest::newRow("an alias of an earlier line")
        << QByteArray("10.4.4.4 alias1 aliasA\n10.5.5.5 aliasA\n10.6.6.6 ALIAS1 aliasa # x\n")
        << QStringList{"", "dup 1", "dup 1"} << QByteArray() << QByteArray();
    QTest::newRow("a line with a name of its own is used")
        << QByteArray("1.1.1.1 a b\n2.2.2.2 b c\n") << QStringList{"", ""} << QByteArray() << QByteArray();
    QTest::newRow("names end at a #")
        << QByteArray("1.1.1.1 a#b c\n1.1.1.1 x #y\n2.2.2.2 b\n2.2.2.2 c\n2.2.2.2 y\n")
        << QStringList{"", "", "", "", ""} << QByteArray() << QByteArray();
    const QByteArray dups =
        "10.1.1.1 dup4\n10.2.2.2 dup4\n10.4.4.4 alias1 aliasA\n10.5.5.5 aliasA\n1.1.1 x\n";
    const QStringList firstWins{"", "dup 1", "", "dup 3", "ip"};
    const QStringList everyLine{"", "", "", "", "ip"};
    QTest::newRow("multi on") << dups << everyLine << QByteArray("multi on\n") << QByteArray();
    QTest::newRow("multi off") << dups << firstWins << QByteArray("multi off\n") << QByteArray();
    QTest::newRow("multi: case, comments, blanks")
        << dups << everyLine << QByteArray("# multi off\n\torder hosts,bind\n  MULTI On # x\n")
        << QByteArray();
    QTest::newRow("multi: the last line counts")
        << dups << firstWins << QByteArray("multi on\nmulti off\n") << QByteArray();
    QTest::newRow("RESOLV_MULTI=off over multi on")
        << dups << firstWins << QByteArray("multi on\n") << QByteArray("off");
    QTest::newRow("RESOLV_MULTI=on without host.conf")
        << dups << everyLine << QByteArray() << QByteArray("on");
}

void tst_HostsChecks::deadLines()
{
    QFETCH(QByteArray, file);
    QFETCH(QStringList, marks);
    QFETCH(QByteArray, settings);
    QFETCH(QByteArray, resolvMulti);
#ifdef Q_OS_WIN
    if (!settings.isEmpty() || !resolvMulti.isNull())
        QSKIP("Windows has no host.conf: the first line wins");
#endif
    if (resolvMulti.isNull())
        qunsetenv("RESOLV_MULTI");
    else
        qputenv("RESOLV_MULTI", resolvMulti);
    const Platform::HostsRule rule = Platform::hostsRule(settings);
    qunsetenv("RESOLV_MULTI");
    HostsDocument doc("UTF-8");
    DeadLines dead(&doc);
    dead.setRule(rule);
    doc.load(file);
    QStringList got;
    for (int row = 0; row < doc.rowCount(); ++row)
        got << mark(dead, row);
    QCOMPARE(got, marks);
}

void tst_HostsChecks::deadLinesFollowEdits()
{
    // Random edits with a fixed seed, every row's mark compared with the rule read row by row.
    QRandomGenerator random(21);
    const QStringList ips{"1.1.1.1", "2.2.2.2", "::1", "2001:db8::2", "300.1.1.1", "x", ""};
    const QStringList hosts{"a", "A", "b", "c.example", ""};
    QByteArray file;
    for (int i = 0; i < 30; ++i)
        file += ips[i % 4].toLatin1() + ' ' + hosts[i % 4].toLatin1() + (i % 7 == 0 ? " # x\n" : "\n");
    HostsDocument doc("UTF-8");
    DeadLines dead(&doc);
    doc.load(file);
    for (int step = 0; step < 300; ++step) {
        const int row = int(random.bounded(doc.rowCount()));
        switch (random.bounded(5)) {
        case 0:
            doc.addRow();
            break;
        case 1:
            doc.setDeleted(row, !doc.isDeleted(row));
            break;
        default:
            doc.setValues(row, {random.bounded(4) == 0, ips[random.bounded(ips.size())],
                                hosts[random.bounded(hosts.size())]});
            break;
        }
        for (int r = 0; r < doc.rowCount(); ++r)
            QVERIFY2(mark(dead, r) == referenceMark(doc, r),
                     qPrintable(QStringLiteral("step %1 row %2: %3 instead of %4")
                                    .arg(step)
                                    .arg(r + 1)
                                    .arg(mark(dead, r), referenceMark(doc, r))));
    }
}

void tst_HostsChecks::largeFileIndexedAside()
{
    // A file large enough to be indexed on a thread; an edit made meanwhile is not lost.
    QByteArray file = "1.1.1.1 a\n";
    for (int i = 1; i < 60000; ++i)
        file += "0.0.0.0 h" + QByteArray::number(i) + "\n";
    file += "2.2.2.2 a\n";
    HostsDocument doc("UTF-8");
    DeadLines dead(&doc);
    doc.load(file);
    doc.setValues(0, {false, QStringLiteral("1.1.1.1"), QStringLiteral("z")});
    doc.setValues(1, {false, QStringLiteral("3.3.3.3"), QStringLiteral("A")});
    doc.setValues(2, {false, QStringLiteral("3.3.3"), QStringLiteral("x")});
    QCOMPARE(mark(dead, 2), QStringLiteral("ip")); // known without the index
    // Made at idle priority: a busy machine may keep it waiting.
    QTRY_VERIFY_WITH_TIMEOUT(dead.isReady(), 120000);
    // The first row maps z now: the second is the first to map a.
    QCOMPARE(mark(dead, 1), QString());
    QCOMPARE(mark(dead, 60000), QStringLiteral("dup 2"));
    QCOMPARE(mark(dead, 3), QString());
    QCOMPARE(dead.firstMapping("a", 4), 1);
}

void tst_HostsChecks::indexWaitsForStart_data()
{
    QTest::addColumn<int>("rows");     // of the file, beyond its first three
    QTest::addColumn<bool>("waitFor"); // waitUntilReady() instead of start()
    QTest::newRow("small file, started") << 3 << false;
    QTest::newRow("small file, waited for") << 3 << true;
    QTest::newRow("large file, started") << 60000 << false;
}

void tst_HostsChecks::indexWaitsForStart()
{
    // A window starts the index once it shows: until then only invalid addresses are marked,
    // and an edit made meanwhile is not lost. Once started, later readings are indexed as they
    // come; waitUntilReady makes only the index of the reading at hand.
    QFETCH(int, rows);
    QFETCH(bool, waitFor);
    QByteArray file = "1.1.1.1 a\n2.2.2.2 a\n3.3.3 b\n";
    for (int i = 3; i < rows; ++i)
        file += "0.0.0.0 h" + QByteArray::number(i) + "\n";
    file += "4.4.4.4 c\n";
    HostsDocument doc("UTF-8");
    DeadLines dead(&doc, DeadLines::Indexing::WhenStarted);
    doc.load(file);
    doc.setValues(rows, {false, QStringLiteral("5.5.5.5"), QStringLiteral("a")});
    QCoreApplication::processEvents();
    QVERIFY(!dead.isReady());
    QCOMPARE(mark(dead, 1), QString());
    QCOMPARE(mark(dead, 2), QStringLiteral("ip"));
    if (waitFor)
        dead.waitUntilReady();
    else
        dead.start();
    QTRY_VERIFY_WITH_TIMEOUT(dead.isReady(), 120000); // made at idle priority
    QCOMPARE(mark(dead, 1), QStringLiteral("dup 1"));
    QCOMPARE(mark(dead, rows), QStringLiteral("dup 1"));
    if (!waitFor) {
        doc.load("6.6.6.6 d\n7.7.7.7 d\n");
        QCOMPARE(mark(dead, 1), QStringLiteral("dup 1"));
    }
}

void tst_HostsChecks::effectLines_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QStringList>("edits");
    QTest::addColumn<QStringList>("answers"); // "host=addr,addr"; a host not named is not found
    QTest::addColumn<int>("flush");
    QTest::addColumn<QString>("unavailable");
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QByteArray>("settings"); // the resolver's (host.conf)
    const QString browsers = QStringLiteral("浏览器另有自己的 DNS 缓存：重启浏览器后再看。");
    const QByteArray one = "127.0.0.1 localhost\n1.1.1.1 a\n";
    QTest::newRow("new address answered") << one << QStringList{"set 1 2.2.2.2 a"} << QStringList{"a=2.2.2.2"}
                                          << int(Platform::CacheFlush::Flushed) << QString()
                                          << QStringList{"a → 2.2.2.2: 已生效"} << QByteArray();
    QTest::newRow("an earlier line wins")
        << one << QStringList{"add 2.2.2.2 a"} << QStringList{"a=1.1.1.1"}
        << int(Platform::CacheFlush::NoCache) << QString()
        << QStringList{"a → 2.2.2.2: 未生效，系统答 1.1.1.1（第 2 行在前，指向 1.1.1.1）", browsers}
        << QByteArray();
    QTest::newRow("IPv6 row beside an IPv4 answer")
        << one << QStringList{"add 2001:DB8:0::1 a"} << QStringList{"a=1.1.1.1,2001:db8::1"}
        << int(Platform::CacheFlush::NoCache) << QString() << QStringList{"a → 2001:db8::1: 已生效"}
        << QByteArray();
    QTest::newRow("disabled row no longer answered")
        << one << QStringList{"disable 1"} << QStringList{} << int(Platform::CacheFlush::Flushed) << QString()
        << QStringList{"a → 1.1.1.1: 已不再生效"} << QByteArray();
    QTest::newRow("deleted row still answered, cache not flushed")
        << one << QStringList{"delete 1"} << QStringList{"a=1.1.1.1"} << int(Platform::CacheFlush::Failed)
        << QString()
        << QStringList{"刷新 DNS 缓存失败（nscd）: refused", "a → 1.1.1.1: 仍然生效（缓存未能刷新）",
                       browsers}
        << QByteArray();
    QTest::newRow("deleted duplicate: the address stays")
        << QByteArray("1.1.1.1 a\n1.1.1.1 a\n") << QStringList{"delete 1"} << QStringList{"a=1.1.1.1"}
        << int(Platform::CacheFlush::NoCache) << QString() << QStringList{} << QByteArray();
    QTest::newRow("name not found") << one << QStringList{"add 2.2.2.2 b"} << QStringList{}
                                    << int(Platform::CacheFlush::NoCache) << QString()
                                    << QStringList{"b → 2.2.2.2: 未生效，系统查不到（not found）", browsers}
                                    << QByteArray();
    QTest::newRow("invalid address left to its mark")
        << one << QStringList{"add 2.2.2 b"} << QStringList{} << int(Platform::CacheFlush::NoCache)
        << QString() << QStringList{} << QByteArray();
    QTest::newRow("resolver not checkable")
        << one << QStringList{"add 2.2.2.2 b"} << QStringList{} << int(Platform::CacheFlush::NoCache)
        << QStringLiteral("Wine") << QStringList{"Wine"} << QByteArray();
    QStringList many, answers, lines;
    for (int i = 0; i < 23; ++i) {
        many << QStringLiteral("add 10.0.0.%1 h%1").arg(i);
        answers << QStringLiteral("h%1=10.0.0.%1").arg(i);
        if (i < 20)
            lines << QStringLiteral("h%1 → 10.0.0.%1: 已生效").arg(i);
    }
    lines << QStringLiteral("另有 3 处改动未逐一检查");
    QTest::newRow("rows beyond 20 summarised")
        << one << many << answers << int(Platform::CacheFlush::Flushed) << QString() << lines << QByteArray();
    QTest::newRow("an earlier line answered first")
        << one << QStringList{"add 2.2.2.2 a"} << QStringList{"a=1.1.1.1,2.2.2.2"}
        << int(Platform::CacheFlush::NoCache) << QString()
        << QStringList{"a → 2.2.2.2: 未生效，系统答 1.1.1.1（第 2 行在前，指向 1.1.1.1）", browsers}
        << QByteArray();
    QTest::newRow("multi on: a later line answered second")
        << one << QStringList{"add 2.2.2.2 a"} << QStringList{"a=1.1.1.1,2.2.2.2"}
        << int(Platform::CacheFlush::NoCache) << QString() << QStringList{"a → 2.2.2.2: 已生效"}
        << QByteArray("multi on\n");
    QTest::newRow("multi on: a deleted line's address stays on another")
        << QByteArray("1.1.1.1 a\n2.2.2.2 a\n2.2.2.2 a\n") << QStringList{"delete 1"}
        << QStringList{"a=1.1.1.1,2.2.2.2"} << int(Platform::CacheFlush::NoCache) << QString()
        << QStringList{} << QByteArray("multi on\n");
    QTest::newRow("row moved from IPv4 to IPv6")
        << one << QStringList{"set 1 2001:db8::5 a"} << QStringList{"a=1.1.1.1,2001:db8::5"}
        << int(Platform::CacheFlush::NoCache) << QString()
        << QStringList{"a → 1.1.1.1: 仍然生效", "a → 2001:db8::5: 已生效", browsers} << QByteArray();
}

void tst_HostsChecks::effectLines()
{
    QFETCH(QByteArray, file);
    QFETCH(QStringList, edits);
    QFETCH(QStringList, answers);
    QFETCH(int, flush);
    QFETCH(QString, unavailable);
    QFETCH(QByteArray, settings);
#ifdef Q_OS_WIN
    if (!settings.isEmpty())
        QSKIP("Windows has no host.conf: the first line wins");
#endif
    qunsetenv("RESOLV_MULTI");
    HostsDocument doc("UTF-8");
    doc.load(file);
    for (const QString& step : edits)
        edit(&doc, step);
    const QList<RowChange> changes = doc.changes();
    QByteArray bytes;
    QString error;
    QVERIFY(doc.toBytes(&bytes, &error));
    HostsDocument saved("UTF-8");
    DeadLines dead(&saved);
    dead.setRule(Platform::hostsRule(settings));
    saved.load(bytes);

    int more = 0;
    const QList<EffectCheck::Probe> probes = EffectCheck::plan(changes, saved, dead, 20, &more);
    QList<EffectCheck::Answer> got;
    for (const EffectCheck::Probe& p : probes) {
        EffectCheck::Answer a;
        for (const QString& line : answers) {
            if (line.section(QLatin1Char('='), 0, 0) == p.host)
                a.addresses = line.section(QLatin1Char('='), 1).split(QLatin1Char(','));
        }
        if (a.addresses.isEmpty())
            a.error = QStringLiteral("not found");
        got << a;
    }
    Platform::CacheFlush f;
    f.status = Platform::CacheFlush::Status(flush);
    f.cache = QStringLiteral("nscd");
    f.error = flush == Platform::CacheFlush::Failed ? QStringLiteral("refused") : QString();
    QTEST(EffectCheck::lines(probes, got, f, more, unavailable), "lines");
}

void tst_HostsChecks::effectCheckGivesUpAtItsLimit()
{
    // One host is answered at once, the other never: after the limit the lines come, the
    // silent one named unchecked.
    QSemaphore answer;
    Platform::NameService names;
    names.lookup = [&](const QString& host, QString*) {
        if (host == QLatin1String("fast.example"))
            return QStringList{QStringLiteral("10.0.0.1")};
        answer.acquire();
        return QStringList();
    };
    names.dns = [](const QString&, QString*) { return QStringList(); };
    names.flush = [] { return Platform::CacheFlush(); };
    names.unavailable = [] { return QString(); };
    EffectCheckService service(names, 100);
    const auto release = qScopeGuard([&] { answer.release(100); }); // before the service joins its lookups
    QSignalSpy checked(&service, &EffectCheckService::checked);
    EffectCheck::Probe fast, silent;
    fast.host = QStringLiteral("fast.example");
    fast.ip = QStringLiteral("10.0.0.1");
    silent.host = QStringLiteral("silent.example");
    silent.ip = QStringLiteral("10.0.0.2");
    service.check({fast, silent}, 0);
    QVERIFY(service.isChecking());
    QVERIFY(checked.wait(10000));
    QCOMPARE(checked.first().first().toStringList(),
             (QStringList{QStringLiteral("fast.example → 10.0.0.1: 已生效"),
                          QStringLiteral("silent.example → 10.0.0.2: 未检查完")}));
    QVERIFY(!service.isChecking());
}

void tst_HostsChecks::candidates_data()
{
    QTest::addColumn<QString>("current");
    QTest::addColumn<QStringList>("common");
    QTest::addColumn<QStringList>("dns");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("each source in order") << "1.1.1.1" << QStringList{"2.2.2.2"} << QStringList{"::1"}
                                          << QStringList{"1.1.1.1 当前", "2.2.2.2 常用", "::1 DNS"};
    QTest::newRow("duplicates once, marked by every source")
        << "1.1.1.1" << QStringList{"2.2.2.2", "1.1.1.1", "2.2.2.2"} << QStringList{"1.1.1.1", "2.2.2.2"}
        << QStringList{"1.1.1.1 当前/常用/DNS", "2.2.2.2 常用/DNS"};
    QTest::newRow("names and typos left out") << "github.com" << QStringList{"1.1.1", " 3.3.3.3 ", ""}
                                              << QStringList{} << QStringList{"3.3.3.3 常用"};
    QTest::newRow("nothing at all") << "" << QStringList{} << QStringList{} << QStringList{};
}

void tst_HostsChecks::candidates()
{
    QFETCH(QString, current);
    QFETCH(QStringList, common);
    QFETCH(QStringList, dns);
    QList<SpeedTest::Candidate> list;
    SpeedTest::addCandidates(&list, {current}, SpeedTest::Current);
    SpeedTest::addCandidates(&list, common, SpeedTest::Common);
    SpeedTest::addCandidates(&list, dns, SpeedTest::Dns);
    QStringList got;
    for (const SpeedTest::Candidate& c : list)
        got << c.ip + QLatin1Char(' ') + SpeedTest::sourceText(c.sources);
    QTEST(got, "expected");
}

void tst_HostsChecks::bestFirst()
{
    // Stand-in tries: each address answers as the table says, with the time it gives.
    const QHash<QString, QList<Platform::ConnectTry>> plan{
        {"10.0.0.1",
         {outcome(Platform::ConnectTry::Connected, 30000), outcome(Platform::ConnectTry::Connected, 30000),
          outcome(Platform::ConnectTry::Connected, 30000)}},
        {"10.0.0.2",
         {outcome(Platform::ConnectTry::Refused), outcome(Platform::ConnectTry::Refused),
          outcome(Platform::ConnectTry::Refused)}},
        {"10.0.0.3",
         {outcome(Platform::ConnectTry::TimedOut), outcome(Platform::ConnectTry::Connected, 9000),
          outcome(Platform::ConnectTry::Connected, 11000)}},
        {"10.0.0.4",
         {outcome(Platform::ConnectTry::TimedOut), outcome(Platform::ConnectTry::TimedOut),
          outcome(Platform::ConnectTry::TimedOut)}},
        {"10.0.0.5",
         {outcome(Platform::ConnectTry::Connected, 20000), outcome(Platform::ConnectTry::Connected, 5000),
          outcome(Platform::ConnectTry::Connected, 35000)}},
    };
    std::atomic<int> calls[5] = {};
    QMutex lock;
    QSet<QString> given; // port and time-out of every try
    ConnectPool pool([&](const QString& ip, quint16 port, int timeoutMs, const std::atomic<bool>*) {
        {
            const QMutexLocker locker(&lock);
            given << QStringLiteral("%1 %2").arg(port).arg(timeoutMs);
        }
        const int i = ip.back().digitValue() - 1;
        return plan.value(ip).at(calls[i]++);
    });
    SpeedTest test(&pool);
    QSignalSpy finished(&test, &SpeedTest::finished);
    QList<SpeedTest::Candidate> list;
    SpeedTest::addCandidates(&list, plan.keys(), SpeedTest::Common);
    std::sort(list.begin(), list.end(), [](const auto& a, const auto& b) { return a.ip < b.ip; });
    test.start(list, 8443, 3, 700);
    QTRY_COMPARE(finished.size(), 1);
    QCOMPARE(given, QSet<QString>{QStringLiteral("8443 700")});
    QStringList got;
    for (const int i : test.order()) {
        const SpeedTest::Entry& e = test.entries()[i];
        got << e.candidate.ip + QLatin1Char(' ') + SpeedTest::resultTexts(e.result, 3).mid(0, 4).join(QLatin1Char(' '));
    }
    // 10.0.0.3 averages 10 ms over two answers; 10.0.0.5 20 ms (best 5); 10.0.0.1 30 ms.
    QCOMPARE(got, (QStringList{"10.0.0.3 2/3 10.0 ms 9.0 ms 超时", "10.0.0.5 3/3 20.0 ms 5.0 ms 可用",
                               "10.0.0.1 3/3 30.0 ms 30.0 ms 可用", "10.0.0.2 0/3   拒绝",
                               "10.0.0.4 0/3   超时"}));
}

void tst_HostsChecks::shownBefore_data()
{
    // Results as "answered/tries total-ms best-ms" of three tries; "a first" says whether a is
    // shown before b.
    QTest::addColumn<QString>("a");
    QTest::addColumn<QString>("b");
    QTest::addColumn<bool>("aFirst");
    QTest::newRow("an answer before one still measured") << "1/1 50 50" << "0/1 0 0" << true;
    QTest::newRow("still measured before failed every try") << "0/2 0 0" << "0/3 0 0" << true;
    QTest::newRow("failed every try after one still measured") << "0/3 0 0" << "0/0 0 0" << false;
    QTest::newRow("lower average first") << "2/3 20 5" << "3/3 33 4" << true;
    QTest::newRow("same average: faster best first") << "2/2 20 4" << "2/2 20 6" << true;
    QTest::newRow("same times: more answers first") << "3/3 30 10" << "2/2 20 10" << true;
    QTest::newRow("two that failed: neither first") << "0/3 0 0" << "0/3 0 0" << false;
}

void tst_HostsChecks::shownBefore()
{
    QFETCH(QString, a);
    QFETCH(QString, b);
    auto result = [](const QString& text) {
        const QStringList parts = text.split(QLatin1Char(' '));
        SpeedTest::Result r;
        r.answered = parts[0].section(QLatin1Char('/'), 0, 0).toInt();
        r.tries = parts[0].section(QLatin1Char('/'), 1, 1).toInt();
        r.refused = r.tries - r.answered;
        r.totalMicros = parts[1].toLongLong() * 1000;
        r.bestMicros = parts[2].toLongLong() * 1000;
        return r;
    };
    QTEST(SpeedTest::before(result(a), result(b), 3), "aFirst");
}

void tst_HostsChecks::manyCandidatesBounded()
{
    // 10,000 candidates (IP.txt may hold far more): never more than the pool's tries at once,
    // and the order kept by merging the changes in is the order of a full sort at every look.
    std::atomic<int> running{0}, peak{0};
    ConnectPool pool([&](const QString& ip, quint16, int, const std::atomic<bool>*) {
        const int now = ++running;
        for (int seen = peak; now > seen && !peak.compare_exchange_weak(seen, now);) {
        }
        QThread::usleep(200);
        --running;
        const uint h = qHash(ip);
        return h % 3 == 0 ? outcome(Platform::ConnectTry::Refused)
                          : outcome(Platform::ConnectTry::Connected, 1000 + h % 50000);
    });
    SpeedTest test(&pool);
    QSignalSpy finished(&test, &SpeedTest::finished);
    QStringList ips;
    for (int i = 0; i < 10000; ++i)
        ips << QStringLiteral("10.1.%1.%2").arg(i / 250).arg(i % 250 + 1);
    QList<SpeedTest::Candidate> list;
    SpeedTest::addCandidates(&list, ips, SpeedTest::Common);
    auto fullSort = [&test] {
        QList<int> all(test.entries().size());
        std::iota(all.begin(), all.end(), 0);
        std::stable_sort(all.begin(), all.end(), [&test](int a, int b) {
            return SpeedTest::before(test.entries()[a].result, test.entries()[b].result, test.tries());
        });
        return all;
    };
    int looks = 0, wrong = 0;
    connect(&test, &SpeedTest::changed, &test, [&] {
        if (++looks % 4000 == 0 && test.order() != fullSort())
            ++wrong;
    });
    test.start(list, 443, 3, 1000);
    QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 60000);
    QVERIFY2(peak <= ConnectPool::kMaxTries, qPrintable(QString::number(peak)));
    QCOMPARE(wrong, 0);
    QCOMPARE(test.order(), fullSort());
    for (const SpeedTest::Entry& e : test.entries())
        QCOMPARE(e.result.tries, 3);
}

void tst_HostsChecks::threadThatCannotStart_data()
{
    QTest::addColumn<int>("threadsThatStart"); // then the system refuses every further one
    QTest::addColumn<QString>("result");
    QTest::newRow("not one thread: every try fails with the reason") << 0 << "无法启动线程: ";
    QTest::newRow("one thread: it measures them all") << 1 << "拒绝";
}

void tst_HostsChecks::threadThatCannotStart()
{
    QFETCH(int, threadsThatStart);
    QFETCH(QString, result);
    const QString expected = result;
    int started = 0;
    auto startThread = [&](std::function<void()> f) {
        if (started == threadsThatStart)
            throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
        ++started;
        return std::thread(std::move(f));
    };
    ConnectPool pool([](const QString&, quint16, int, const std::atomic<bool>*) {
        return outcome(Platform::ConnectTry::Refused);
    }, nullptr, startThread);
    QSignalSpy cannotStart(&pool, &ConnectPool::cannotStart);
    SpeedTest test(&pool);
    QSignalSpy finished(&test, &SpeedTest::finished);
    QList<SpeedTest::Candidate> list;
    SpeedTest::addCandidates(&list, {"10.0.0.1", "10.0.0.2", "10.0.0.3"}, SpeedTest::Common);
    test.start(list, 443);
    test.lookUp([](QString*) { return QStringList{"10.0.0.9"}; }, SpeedTest::Dns);
    QTRY_COMPARE(finished.size(), 1);
    QCOMPARE(test.entries().size(), threadsThatStart ? 4 : 3);
    for (const SpeedTest::Entry& e : test.entries()) {
        QCOMPARE(e.result.tries, 3);
        const QString text = SpeedTest::resultTexts(e.result, 3)[3];
        QVERIFY2(text.startsWith(expected), qPrintable(text));
    }
    QCOMPARE(cannotStart.isEmpty(), threadsThatStart > 0);
}

void tst_HostsChecks::stopDropsRunningTries()
{
    // Tries that never end by themselves: stopping must tell them, or it waits for ever.
    std::atomic<int> sawCancel{0}, entered{0};
    ConnectPool pool([&](const QString&, quint16, int, const std::atomic<bool>* cancel) {
        ++entered;
        while (!cancel->load())
            QThread::msleep(5);
        ++sawCancel;
        return outcome(Platform::ConnectTry::Cancelled);
    });
    auto test = std::make_unique<SpeedTest>(&pool);
    QSignalSpy changed(test.get(), &SpeedTest::changed);
    QList<SpeedTest::Candidate> list;
    SpeedTest::addCandidates(&list, {"10.0.0.1", "10.0.0.2"}, SpeedTest::Common);
    test->start(list, 443);
    QVERIFY(test->running());
    QTRY_COMPARE(entered.load(), 2);
    const int before = changed.size();
    test.reset(); // the dialog closed
    QTRY_COMPARE(sawCancel.load(), 2);
    QVERIFY(pool.waitForDone(5000));
    QCoreApplication::processEvents();
    QCOMPARE(changed.size(), before);
}

void tst_HostsChecks::dnsAddsCandidates()
{
    ConnectPool pool([](const QString&, quint16, int, const std::atomic<bool>*) {
        return outcome(Platform::ConnectTry::Connected, 1000);
    });
    SpeedTest test(&pool);
    QSignalSpy finished(&test, &SpeedTest::finished);
    QList<SpeedTest::Candidate> list;
    SpeedTest::addCandidates(&list, {"10.0.0.1"}, SpeedTest::Current);
    test.start(list, 443);
    test.lookUp(
        [](QString*) {
            return QStringList{"10.0.0.1", "10.0.0.9", "not-an-address"};
        },
        SpeedTest::Dns);
    QTRY_VERIFY(!test.running());
    QCOMPARE(test.entries().size(), 2);
    QCOMPARE(SpeedTest::sourceText(test.entries()[0].candidate.sources), QStringLiteral("当前/DNS"));
    QCOMPARE(test.entries()[1].candidate.ip, QStringLiteral("10.0.0.9"));
    QCOMPARE(test.entries()[1].result.answered, 3);
    QVERIFY(test.lookupError().isEmpty());
}

QTEST_GUILESS_MAIN(tst_HostsChecks)
#include "tst_hostschecks.moc"
