// The ends of a batch's pings, through the window and with real processes: the entries in the
// log, the rows of the day's table, and no process left behind. Pings 127.0.0.1 and ::1 only.
#include "WindowFixture.h"
#include "core/ping/PingReport.h"
#include "platform/ProcessWatcher.h"
#include "platform/TextCodec.h"

#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QSet>
#include <QTest>

namespace {

// The state letter of /proc/<pid>/stat: 'Z' for a zombie, 0 if there is no such process.
char processState(qint64 pid)
{
    const QByteArray stat = readBytes(QStringLiteral("/proc/%1/stat").arg(pid));
    const qsizetype paren = stat.lastIndexOf(')');
    return paren < 0 || paren + 2 >= stat.size() ? 0 : stat.at(paren + 2);
}

QStringList entries(const FormMain& form)
{
    auto* log = child<QListWidget>(form, QStringLiteral("ListLog"));
    QStringList out;
    for (int i = 0; i < log->count(); ++i)
        out << log->item(i)->text();
    return out;
}

QStringList entriesStartingWith(const FormMain& form, const QString& head)
{
    return entries(form).filter(QRegularExpression(QLatin1Char('^') + QRegularExpression::escape(head)));
}

QList<qint64> loggedPids(const FormMain& form)
{
    QList<qint64> pids;
    for (const QString& e : entriesStartingWith(form, QStringLiteral("执行完成，PID: ")))
        pids << e.mid(e.indexOf(QLatin1Char(':')) + 1).trimmed().toLongLong();
    return pids;
}

void startBatch(FormMain& form, const QString& queue, const QString& count)
{
    child<QLineEdit>(form, QStringLiteral("TextN"))->setText(count);
    child<QPlainTextEdit>(form, QStringLiteral("TextIP"))->setPlainText(queue);
    click(form, "Command2");
}

// A ping of the test's own, first on PATH while a batch starts: it prints nothing and ends
// with status 2, as a ping does that cannot even begin.
struct SilentPing
{
    QByteArray oldPath = qgetenv("PATH");
    explicit SilentPing(const QTemporaryDir& dir)
    {
        QDir(dir.path()).mkdir(QStringLiteral("bin"));
        const QString script = dir.filePath(QStringLiteral("bin/ping"));
        writeBytes(script, "#!/bin/sh\nexit 2\n");
        QFile::setPermissions(script,
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        qputenv("PATH", QFile::encodeName(dir.filePath(QStringLiteral("bin"))) + ':' + oldPath);
    }
    ~SilentPing() { qputenv("PATH", oldPath); }
};

const QString kBatchDone = QStringLiteral("本批完成: ");

} // namespace

class tst_PingEnds : public QObject
{
    Q_OBJECT

private slots:
    void endsAreLoggedAndTabled();
    void pingWithoutSummaryGivesItsExitStatus();
    void earlierRunsSummaryIsNotTaken();
    void equalLinesEachGetTheirEnd();
    void tableInTheResultFilesCodePage();
    void standInStartsAreNotWatched();
    void closingTheWindowLeavesPingsRunning();
};

void tst_PingEnds::endsAreLoggedAndTabled()
{
    WindowFixture f;
    f.options.start = nullptr; // the platform's own: real pings
    FormMain form(f.options);
    startBatch(form, QStringLiteral("127.0.0.1\n  \n::1\n"), QStringLiteral("1"));
    QCOMPARE(f.messages, QStringList{QStringLiteral("后台启动完成!")});
    QTRY_VERIFY_WITH_TIMEOUT(!entriesStartingWith(form, kBatchDone).isEmpty(), 15000);

    // The batch's own four entries come first, then the two ends in the order they came, then
    // the batch's last entry.
    const QStringList log = entries(form);
    QCOMPARE(log.size(), 7);
    QVERIFY(log[0].startsWith(QStringLiteral("执行:cmd /c ping 127.0.0.1 -n 1 >>")));
    QVERIFY(log[3].startsWith(QStringLiteral("执行完成，PID: ")));
    const QRegularExpression ended(QStringLiteral(
        R"(^完成: (127\.0\.0\.1|::1) 已发送 1 已接收 1 丢失 0% 最短/平均/最长 [\d.]+/[\d.]+/[\d.]+ ms$)"));
    QSet<QString> targets;
    for (const QString& e : {log[4], log[5]}) {
        const QRegularExpressionMatch m = ended.match(e);
        QVERIFY2(m.hasMatch(), qPrintable(e));
        targets << m.captured(1);
    }
    QCOMPARE(targets, (QSet<QString>{QStringLiteral("127.0.0.1"), QStringLiteral("::1")}));
    QCOMPARE(log[6], QStringLiteral("本批完成: 2 个目标中 2 个有回应"));
    QCOMPARE(child<QListWidget>(form, QStringLiteral("ListLog"))->currentRow(), 6);

    // One row per target after the header, ten fields each.
    const QString folder = form.appDirectory() + QStringLiteral("2026-12-07/");
    const QList<QByteArray> rows = readBytes(folder + QStringLiteral("汇总.csv")).split('\n');
    QCOMPARE(rows.size(), 4); // header, two rows, the empty rest after the last CR LF
    QCOMPARE(rows[0], PingReport::tableHeader().toUtf8().chopped(1));
    QVERIFY(rows[3].isEmpty());
    QSet<QByteArray> tabled;
    for (const QByteArray& row : {rows[1], rows[2]}) {
        const QList<QByteArray> fields = row.chopped(1).split(',');
        QCOMPARE(fields.size(), 10);
        tabled << fields[0];
        QCOMPARE(fields.mid(3, 3), (QList<QByteArray>{"1", "1", "0"}));
        QCOMPARE(fields[9], QByteArray("0"));
    }
    QCOMPARE(tabled, (QSet<QByteArray>{"127.0.0.1", "::1"}));

    // Each ping has been reaped: none is left as a zombie.
    const QList<qint64> pids = loggedPids(form);
    QCOMPARE(pids.size(), 2);
    for (qint64 pid : pids)
        QVERIFY2(processState(pid) != 'Z', qPrintable(QString::number(pid)));
    QCOMPARE(form.findChild<ProcessWatcher*>()->count(), 0);
}

void tst_PingEnds::pingWithoutSummaryGivesItsExitStatus()
{
    WindowFixture f;
    f.options.start = nullptr;
    FormMain form(f.options);
    {
        const SilentPing silent(f.dir);
        startBatch(form, QStringLiteral("127.0.0.1"), QStringLiteral("1"));
    }
    QTRY_VERIFY_WITH_TIMEOUT(!entriesStartingWith(form, kBatchDone).isEmpty(), 15000);
    QCOMPARE(entries(form).mid(2), (QStringList{QStringLiteral("完成: 127.0.0.1 退出码 2，没有读到统计"),
                                                QStringLiteral("本批完成: 1 个目标中 0 个有回应")}));
    const QByteArray table = readBytes(form.appDirectory() + QStringLiteral("2026-12-07/汇总.csv"));
    QVERIFY2(table.endsWith(",,,,,,2\r\n"), table.constData());
    QVERIFY(processState(loggedPids(form).value(0)) != 'Z');
}

void tst_PingEnds::earlierRunsSummaryIsNotTaken()
{
    // The first click's ping leaves a complete summary in the file; the second click's ping
    // writes none, and its end must not be read from the first one's lines.
    WindowFixture f;
    f.options.start = nullptr;
    FormMain form(f.options);
    startBatch(form, QStringLiteral("127.0.0.1"), QStringLiteral("1"));
    QTRY_VERIFY_WITH_TIMEOUT(entriesStartingWith(form, kBatchDone).size() == 1, 15000);
    {
        const SilentPing silent(f.dir);
        click(form, "Command2");
    }
    QTRY_VERIFY_WITH_TIMEOUT(entriesStartingWith(form, kBatchDone).size() == 2, 15000);
    const QStringList ends = entriesStartingWith(form, QStringLiteral("完成: "));
    QCOMPARE(ends.size(), 2);
    QVERIFY(ends[0].startsWith(QStringLiteral("完成: 127.0.0.1 已发送 1 已接收 1 丢失 0%")));
    QCOMPARE(ends[1], QStringLiteral("完成: 127.0.0.1 退出码 2，没有读到统计"));
    // The table got one row per end and its header once.
    const QByteArray table = readBytes(form.appDirectory() + QStringLiteral("2026-12-07/汇总.csv"));
    QCOMPARE(table.count("\r\n"), 3);
    QCOMPARE(table.count(PingReport::tableHeader().toUtf8()), 1);
}

void tst_PingEnds::equalLinesEachGetTheirEnd()
{
    WindowFixture f;
    f.options.start = nullptr;
    FormMain form(f.options);
    startBatch(form, QStringLiteral("127.0.0.1\n127.0.0.1"), QStringLiteral("1"));
    QTRY_VERIFY_WITH_TIMEOUT(!entriesStartingWith(form, kBatchDone).isEmpty(), 15000);
    const QStringList ends = entriesStartingWith(form, QStringLiteral("完成: "));
    QCOMPARE(ends.size(), 2);
    for (const QString& e : ends)
        QVERIFY2(e.startsWith(QStringLiteral("完成: 127.0.0.1 已发送 1 已接收 1 丢失 0% 最短/平均/最长 ")),
                 qPrintable(e));
    QCOMPARE(entriesStartingWith(form, kBatchDone),
             QStringList{QStringLiteral("本批完成: 2 个目标中 2 个有回应")});
    QCOMPARE(readBytes(form.appDirectory() + QStringLiteral("2026-12-07/汇总.csv")).count("\r\n127.0.0.1,"),
             2);
}

void tst_PingEnds::tableInTheResultFilesCodePage()
{
    // A Chinese Windows reads its files as GBK: the table's Chinese is written in GBK, without a
    // byte-order mark, so that a spreadsheet there shows it intact.
    WindowFixture f;
    f.options.start = nullptr;
    f.options.encoding = "GBK";
    FormMain form(f.options);
    startBatch(form, QStringLiteral("127.0.0.1"), QStringLiteral("1"));
    QTRY_VERIFY_WITH_TIMEOUT(!entriesStartingWith(form, kBatchDone).isEmpty(), 15000);
    const QByteArray table = readBytes(form.appDirectory() + QStringLiteral("2026-12-07/汇总.csv"));
    QVERIFY(table.startsWith(QByteArray::fromHex("c4bfb1ea2c"))); // "目标," in GBK
    QCOMPARE(TextCodec("GBK").decode(table).section(QStringLiteral("\r\n"), 0, 0) + QStringLiteral("\r\n"),
             PingReport::tableHeader());
}

void tst_PingEnds::standInStartsAreNotWatched()
{
    // The fixture's starter reports pid 4242 and starts nothing: there is nothing to watch, and
    // nothing is said about an end.
    WindowFixture f;
    FormMain form(f.options);
    startBatch(form, QStringLiteral("127.0.0.1\n::1"), QStringLiteral("1"));
    QCOMPARE(form.findChild<ProcessWatcher*>()->count(), 0);
    QCoreApplication::processEvents();
    QCOMPARE(entries(form).size(), 4);
    QVERIFY(!QFile::exists(form.appDirectory() + QStringLiteral("2026-12-07/汇总.csv")));
}

void tst_PingEnds::closingTheWindowLeavesPingsRunning()
{
    WindowFixture f;
    f.options.start = nullptr;
    qint64 pid = 0;
    {
        FormMain form(f.options);
        startBatch(form, QStringLiteral("127.0.0.1"), QStringLiteral("3")); // two seconds
        pid = loggedPids(form).value(0);
        QVERIFY(pid > 0);
    }
    const char state = processState(pid);
    QVERIFY2(state != 0 && state != 'Z', QByteArray(1, state).constData());
    // It ends on its own and writes its summary all the same.
    const QString file = f.path(QStringLiteral("2026-12-07/127.0.0.1.txt"));
    QTRY_VERIFY_WITH_TIMEOUT(readBytes(file).contains("3 packets transmitted"), 15000);
}

QTEST_MAIN(tst_PingEnds)
#include "tst_pingends.moc"
