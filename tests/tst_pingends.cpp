// A batch's run from its start to its pings' ends, without a window and with real processes:
// the entries of the log, the rows of the day's table, and no process left behind, also past
// the limit of open files. Pings 127.0.0.1 and ::1 only.
#include "TestMain.h"
#include "LoopbackListener.h"
#include "TestFiles.h"
#include "core/ping/PingReport.h"
#include "core/ping/PingRunner.h"
#include "core/ping/PingStatusModel.h"
#include "platform/ProcessWatcher.h"
#include "platform/TextCodec.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

#include <sys/resource.h>

namespace {

// The state letter of /proc/<pid>/stat: 'Z' for a zombie, 0 if there is no such process.
char processState(qint64 pid)
{
    const QByteArray stat = readBytes(QStringLiteral("/proc/%1/stat").arg(pid));
    const qsizetype paren = stat.lastIndexOf(')');
    return paren < 0 || paren + 2 >= stat.size() ? 0 : stat.at(paren + 2);
}

const QString kBatchDone = QStringLiteral("本批完成: ");

// A runner with the platform's own starter (real pings) or a stand-in, its day's folder in a
// temporary folder, and the entries it logs.
struct Batch
{
    QTemporaryDir dir;
    QStringList log;
    PingRunner runner;

    explicit Batch(const QByteArray& encoding = "UTF-8", Platform::Starter starter = {})
        : runner(encoding, std::move(starter))
    {
        QObject::connect(&runner, &PingRunner::logged, [this](const QString& e) { log << e; });
    }
    QString folder() const { return dir.filePath(QStringLiteral("2026-12-07")) + QLatin1Char('/'); }
    bool start(const QString& queue, const QString& count)
    {
        QString error;
        return runner.start(queue, count, [this] { return folder(); }, &error);
    }
    QStringList startingWith(const QString& head) const
    {
        return log.filter(QRegularExpression(QLatin1Char('^') + QRegularExpression::escape(head)));
    }
    QList<qint64> pids() const
    {
        QList<qint64> out;
        for (const QString& e : startingWith(QStringLiteral("执行完成，PID: ")))
            out << e.mid(e.indexOf(QLatin1Char(':')) + 1).trimmed().toLongLong();
        return out;
    }
    QByteArray table() const { return readBytes(folder() + PingReport::tableName()); }
};

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

// The soft limit of open files lowered for a while, as `ulimit -Sn` does.
struct FileLimit
{
    rlimit old{};
    explicit FileLimit(rlim_t soft)
    {
        getrlimit(RLIMIT_NOFILE, &old);
        rlimit lowered = old;
        lowered.rlim_cur = qMin(soft, old.rlim_max);
        setrlimit(RLIMIT_NOFILE, &lowered);
    }
    ~FileLimit() { setrlimit(RLIMIT_NOFILE, &old); }
};

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
    void standInStartsAreCountedNotWatched();
    void pastTheFileLimitEveryTargetIsWatched();
    void fileLimitIsRaisedToTheHardOne();
    void destroyingTheRunnerLeavesPingsRunning();
    void tcpTargetsAreMeasuredByConnections();
    void stopAllEndsPingsAndTcpRuns();
};

void tst_PingEnds::endsAreLoggedAndTabled()
{
    Batch b;
    QVERIFY(b.start(QStringLiteral("127.0.0.1\r\n  \r\n::1\r\n"), QStringLiteral("1")));
    QTRY_VERIFY_WITH_TIMEOUT(!b.startingWith(kBatchDone).isEmpty(), 15000);

    // The batch's own four entries come first, then the two ends in the order they came, then
    // the batch's last entry.
    QCOMPARE(b.log.size(), 7);
    QVERIFY(b.log[0].startsWith(QStringLiteral("执行:cmd /c ping 127.0.0.1 -n 1 >>")));
    QVERIFY(b.log[3].startsWith(QStringLiteral("执行完成，PID: ")));
    const QRegularExpression ended(QStringLiteral(
        R"(^完成: (127\.0\.0\.1|::1) 已发送 1 已接收 1 丢失 0% 最短/平均/最长 [\d.]+/[\d.]+/[\d.]+ ms$)"));
    QSet<QString> targets;
    for (const QString& e : {b.log[4], b.log[5]}) {
        const QRegularExpressionMatch m = ended.match(e);
        QVERIFY2(m.hasMatch(), qPrintable(e));
        targets << m.captured(1);
    }
    QCOMPARE(targets, (QSet<QString>{QStringLiteral("127.0.0.1"), QStringLiteral("::1")}));
    QCOMPARE(b.log[6], QStringLiteral("本批完成: 2 个目标中 2 个有回应"));

    // One row per target after the header, ten fields each.
    const QList<QByteArray> rows = b.table().split('\n');
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
    const QList<qint64> pids = b.pids();
    QCOMPARE(pids.size(), 2);
    for (qint64 pid : pids)
        QVERIFY2(processState(pid) != 'Z', qPrintable(QString::number(pid)));
    QCOMPARE(b.runner.watching(), 0);
}

void tst_PingEnds::pingWithoutSummaryGivesItsExitStatus()
{
    Batch b;
    {
        const SilentPing silent(b.dir);
        QVERIFY(b.start(QStringLiteral("127.0.0.1"), QStringLiteral("1")));
    }
    QTRY_VERIFY_WITH_TIMEOUT(!b.startingWith(kBatchDone).isEmpty(), 15000);
    QCOMPARE(b.log.mid(2), (QStringList{QStringLiteral("完成: 127.0.0.1 退出码 2，没有读到统计"),
                                        QStringLiteral("本批完成: 1 个目标中 0 个有回应")}));
    QVERIFY2(b.table().endsWith(",,,,,,2\r\n"), b.table().constData());
    QVERIFY(processState(b.pids().value(0)) != 'Z');
}

void tst_PingEnds::earlierRunsSummaryIsNotTaken()
{
    // The first batch's ping leaves a complete summary in the file; the second batch's ping
    // writes none, and its end must not be read from the first one's lines.
    Batch b;
    QVERIFY(b.start(QStringLiteral("127.0.0.1"), QStringLiteral("1")));
    QTRY_VERIFY_WITH_TIMEOUT(b.startingWith(kBatchDone).size() == 1, 15000);
    {
        const SilentPing silent(b.dir);
        QVERIFY(b.start(QStringLiteral("127.0.0.1"), QStringLiteral("1")));
    }
    QTRY_VERIFY_WITH_TIMEOUT(b.startingWith(kBatchDone).size() == 2, 15000);
    const QStringList ends = b.startingWith(QStringLiteral("完成: "));
    QCOMPARE(ends.size(), 2);
    QVERIFY(ends[0].startsWith(QStringLiteral("完成: 127.0.0.1 已发送 1 已接收 1 丢失 0%")));
    QCOMPARE(ends[1], QStringLiteral("完成: 127.0.0.1 退出码 2，没有读到统计"));
    // The table got one row per end and its header once.
    QCOMPARE(b.table().count("\r\n"), 3);
    QCOMPARE(b.table().count(PingReport::tableHeader().toUtf8()), 1);
}

void tst_PingEnds::equalLinesEachGetTheirEnd()
{
    Batch b;
    QVERIFY(b.start(QStringLiteral("127.0.0.1\r\n127.0.0.1"), QStringLiteral("1")));
    QTRY_VERIFY_WITH_TIMEOUT(!b.startingWith(kBatchDone).isEmpty(), 15000);
    const QStringList ends = b.startingWith(QStringLiteral("完成: "));
    QCOMPARE(ends.size(), 2);
    for (const QString& e : ends)
        QVERIFY2(e.startsWith(QStringLiteral("完成: 127.0.0.1 已发送 1 已接收 1 丢失 0% 最短/平均/最长 ")),
                 qPrintable(e));
    QCOMPARE(b.startingWith(kBatchDone), QStringList{QStringLiteral("本批完成: 2 个目标中 2 个有回应")});
    QCOMPARE(b.table().count("\r\n127.0.0.1,"), 2);
}

void tst_PingEnds::tableInTheResultFilesCodePage()
{
    // A Chinese Windows reads its files as GBK: the table's Chinese is written in GBK, without a
    // byte-order mark, so that a spreadsheet there shows it intact.
    Batch b("GBK");
    QVERIFY(b.start(QStringLiteral("127.0.0.1"), QStringLiteral("1")));
    QTRY_VERIFY_WITH_TIMEOUT(!b.startingWith(kBatchDone).isEmpty(), 15000);
    const QByteArray table = b.table();
    QVERIFY(table.startsWith(QByteArray::fromHex("c4bfb1ea2c"))); // "目标," in GBK
    QCOMPARE(TextCodec("GBK").decode(table).section(QStringLiteral("\r\n"), 0, 0) + QStringLiteral("\r\n"),
             PingReport::tableHeader());
}

void tst_PingEnds::standInStartsAreCountedNotWatched()
{
    // A stand-in starter reports pid 4242 and starts nothing: there is nothing to watch. The log
    // says so of each target, and no end is made up.
    Batch b("UTF-8", [](const Command&) {
        StartResult r;
        r.ok = true;
        r.pid = 4242;
        return r;
    });
    QVERIFY(b.start(QStringLiteral("127.0.0.1\r\n::1"), QStringLiteral("1")));
    QCOMPARE(b.runner.watching(), 0);
    QCoreApplication::processEvents();
    QCOMPARE(b.log.size(), 6);
    QCOMPARE(b.startingWith(QStringLiteral("无法监视: ")).size(), 2);
    QVERIFY(!QFile::exists(b.folder() + PingReport::tableName()));
}

void tst_PingEnds::pastTheFileLimitEveryTargetIsWatched()
{
    // More targets than the process may open files: each ping starts into its own file with
    // its separator and start time, each is watched all the same (those beyond the descriptors
    // kept for pidfds by polling), each gets its end entry and its row, the batch counts every
    // one, and none is left a zombie.
    constexpr int targets = 240;
    QStringList queue;
    for (int i = 1; i <= targets; ++i)
        queue << QStringLiteral("127.0.0.%1").arg(i);
    Batch b;
    {
        const FileLimit limit(200);
        QVERIFY(b.start(queue.join(QStringLiteral("\r\n")), QStringLiteral("1")));
        QTRY_VERIFY_WITH_TIMEOUT(!b.startingWith(kBatchDone).isEmpty(), 60000);
    }
    QCOMPARE(b.pids().size(), targets);
    QCOMPARE(b.startingWith(QStringLiteral("完成: 127.0.0.")).size(), targets);
    QCOMPARE(b.startingWith(kBatchDone),
             QStringList{QStringLiteral("本批完成: %1 个目标中 %1 个有回应").arg(targets)});
    QCOMPARE(b.table().count("\r\n127.0.0."), targets);
    QVERIFY(b.startingWith(QStringLiteral("汇总表写入失败")).isEmpty());
    for (const QString& target : queue) {
        const QByteArray file = readBytes(b.folder() + target + QStringLiteral(".txt"));
        QVERIFY2(file.startsWith(QByteArray(64, '=') + '\n' + QStringLiteral("本次任务开始时间:").toUtf8()),
                 qPrintable(target));
    }
    for (qint64 pid : b.pids())
        QVERIFY2(processState(pid) != 'Z', qPrintable(QString::number(pid)));
    QCOMPARE(b.runner.watching(), 0);
}

void tst_PingEnds::fileLimitIsRaisedToTheHardOne()
{
    const FileLimit lowered(200);
    Platform::raiseFileLimit();
    rlimit now{};
    QCOMPARE(getrlimit(RLIMIT_NOFILE, &now), 0);
    QCOMPARE(now.rlim_cur, now.rlim_max);
}

void tst_PingEnds::destroyingTheRunnerLeavesPingsRunning()
{
    QTemporaryDir dir;
    qint64 pid = 0;
    {
        Batch b;
        QVERIFY(b.start(QStringLiteral("127.0.0.1"), QStringLiteral("3"))); // two seconds
        pid = b.pids().value(0);
        QVERIFY(pid > 0);
        QVERIFY(QDir().rename(b.folder(), dir.filePath(QStringLiteral("day"))));
    }
    const char state = processState(pid);
    QVERIFY2(state != 0 && state != 'Z', QByteArray(1, state).constData());
    // It ends on its own and writes its summary all the same.
    const QString file = dir.filePath(QStringLiteral("day/127.0.0.1.txt"));
    QTRY_VERIFY_WITH_TIMEOUT(readBytes(file).contains("3 packets transmitted"), 15000);
}

// A port of 127.0.0.1 where nothing listens: connections to it are refused.
quint16 closedPort()
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof addr;
    bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &length);
    close(fd);
    return ntohs(addr.sin_port);
}

void tst_PingEnds::tcpTargetsAreMeasuredByConnections()
{
    LoopbackListener open;
    LoopbackListener silent(true);
    QVERIFY(silent.isSilent());
    const quint16 refused = closedPort();
    Batch b;
    // Names go through the name service; this one answers from a table of its own.
    Platform::NameService names;
    names.lookup = [](const QString& host, QString* error) {
        if (host == QLatin1String("tarvix.test"))
            return QStringList{QStringLiteral("127.0.0.1")};
        *error = QStringLiteral("unknown");
        return QStringList();
    };
    b.runner.setNetwork(names, {});
    const QString queue = QStringLiteral("127.0.0.1:%1\r\ntarvix.test:%1\r\n127.0.0.1:%2\r\n127.0.0.1:%3\r\n"
                                         "127.0.0.1:0\r\n[::1]:70000\r\n-p:80\r\n")
                              .arg(open.port())
                              .arg(refused)
                              .arg(silent.port());
    QVERIFY(b.start(queue, QStringLiteral("2")));
    QTRY_VERIFY_WITH_TIMEOUT(!b.startingWith(kBatchDone).isEmpty(), 15000);

    // Refused as ping targets are: a port out of range, an option-like target.
    QCOMPARE(b.startingWith(QStringLiteral("跳过:")).size(), 3);
    QCOMPARE(b.startingWith(QStringLiteral("执行:TCP 连接 ")).size(), 4);
    const struct {
        QString target;
        QString line;
        int received;
    } expected[] = {
        {QStringLiteral("127.0.0.1:%1").arg(open.port()), QStringLiteral(": 时间="), 2},
        {QStringLiteral("tarvix.test:%1").arg(open.port()), QStringLiteral(": 时间="), 2},
        {QStringLiteral("127.0.0.1:%1").arg(refused), QStringLiteral(": 拒绝"), 0},
        {QStringLiteral("127.0.0.1:%1").arg(silent.port()), QStringLiteral(": 超时"), 0},
    };
    for (const auto& e : expected) {
        const QStringList lines =
            QString::fromUtf8(readBytes(b.folder() + e.target + QStringLiteral(".txt"))).split(QLatin1Char('\n'));
        QCOMPARE(lines.value(0), QString(64, QLatin1Char('=')));
        QVERIFY(lines.value(1).startsWith(QStringLiteral("本次任务开始时间:")));
        for (int i : {2, 3})
            QVERIFY2(lines.value(i).startsWith(QStringLiteral("连接 ") + e.target + e.line), qPrintable(lines.value(i)));
        // The end entry and the table read the summary as they read ping's.
        QCOMPARE(b.startingWith(QStringLiteral("完成: %1 已发送 2 已接收 %2 ").arg(e.target).arg(e.received)).size(),
                 1);
    }
    QCOMPARE(b.table().count("\r\n"), 5);
}

void tst_PingEnds::stopAllEndsPingsAndTcpRuns()
{
    LoopbackListener silent(true);
    Batch b;
    QVERIFY(b.start(QStringLiteral("127.0.0.1\r\n127.0.0.1:%1\r\n").arg(silent.port()), QStringLiteral("100")));
    const qint64 pid = b.pids().value(0);
    QVERIFY(pid > 0);
    PingStatusModel* model = b.runner.statusModel();
    QCOMPARE(model->rowCount(), 2);
    QTRY_VERIFY_WITH_TIMEOUT(model->text(0, PingStatusModel::Received).toInt() >= 1, 5000);

    QCOMPARE(b.runner.stopAll(), 2);
    QTRY_VERIFY_WITH_TIMEOUT(!b.startingWith(kBatchDone).isEmpty(), 5000);
    QCOMPARE(processState(pid), 0); // ended and reaped
    QCOMPARE(b.startingWith(QStringLiteral("已停止: ")).size(), 2);
    QCOMPARE(model->text(0, PingStatusModel::State), QStringLiteral("已停止"));
    QCOMPARE(model->text(1, PingStatusModel::State), QStringLiteral("已停止"));
    // Nothing more comes into the result file: no statistics of ping's own.
    const QByteArray file = readBytes(b.folder() + QStringLiteral("127.0.0.1.txt"));
    QVERIFY(!file.contains("statistics"));
    QVERIFY(file.contains("icmp_seq=1 "));
    QVERIFY(b.table().contains("已停止\r\n"));
    QCOMPARE(b.table().count("已停止\r\n"), 2);
}

QTEST_GUILESS_MAIN(tst_PingEnds)
#include "tst_pingends.moc"
