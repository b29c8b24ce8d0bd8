// Watching started pings until they end, through the platform's own starter: on Linux a pidfd,
// on Windows the process handle kept from the start. Pings 127.0.0.1 only.
#include "TestMain.h"
#include "TestFiles.h"
#include "core/ping/PingCommands.h"
#include "platform/Platform.h"
#include "platform/ProcessWatcher.h"

#include <QDir>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#ifndef Q_OS_WIN
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

StartResult startPing(const QTemporaryDir& dir, const QString& count)
{
    const QString file = QDir::toNativeSeparators(dir.filePath(QStringLiteral("127.0.0.1.txt")));
    return Platform::start(PingCommands::pingCommand(QStringLiteral("127.0.0.1"), count, file));
}

} // namespace

class tst_ProcessWatcher : public QObject
{
    Q_OBJECT

private slots:
    void pingEndIsReported();
    void onlyAPingsStartGivesAHandle();
    void emptyHandleIsNotWatched();
    void watcherGoneProcessRunsOn();
    void childrenEndedBeforeTheLoopKeepTheirStatus();
};

void tst_ProcessWatcher::pingEndIsReported()
{
    QTemporaryDir dir;
    const StartResult started = startPing(dir, QStringLiteral("1"));
    QVERIFY2(started.ok, qPrintable(started.error));
    QVERIFY(started.process.isValid());
    QCOMPARE(started.process.pid(), started.pid);

    ProcessWatcher watcher;
    QSignalSpy ended(&watcher, &ProcessWatcher::finished);
    QVERIFY(watcher.watch(7, started.process));
    QVERIFY(!watcher.watch(7, started.process)); // one watch per id
    QCOMPARE(watcher.count(), 1);
    QVERIFY(ended.wait(15000));
    QCOMPARE(ended.size(), 1);
    QCOMPARE(ended[0][0].value<quint64>(), quint64(7));
    const ProcessEnd end = ended[0][1].value<ProcessEnd>();
    QCOMPARE(int(end.kind), int(ProcessEnd::Kind::Exited));
    QCOMPARE(end.code, 0);
    QCOMPARE(watcher.count(), 0);
    // The ping had written its statistics before it ended.
    QVERIFY(readBytes(dir.filePath(QStringLiteral("127.0.0.1.txt"))).contains("127.0.0.1"));
}

void tst_ProcessWatcher::onlyAPingsStartGivesAHandle()
{
    QTemporaryDir dir;
    const QString file = QDir::toNativeSeparators(dir.filePath(QStringLiteral("x.txt")));
    const StartResult separator = Platform::start(PingCommands::separatorCommand(file));
    QVERIFY(separator.ok);
    QVERIFY(!separator.process.isValid());
}

void tst_ProcessWatcher::emptyHandleIsNotWatched()
{
    ProcessWatcher watcher;
    QVERIFY(!watcher.watch(1, ProcessHandle()));
    QCOMPARE(watcher.count(), 0);
}

void tst_ProcessWatcher::watcherGoneProcessRunsOn()
{
    // The watcher goes while the ping runs: the ping is not stopped and writes its statistics
    // for all its echo requests.
    QTemporaryDir dir;
    StartResult started = startPing(dir, QStringLiteral("2"));
    QVERIFY(started.ok);
    {
        ProcessWatcher watcher;
        QVERIFY(watcher.watch(1, started.process));
        started.process = ProcessHandle();
    }
    const QString file = dir.filePath(QStringLiteral("127.0.0.1.txt"));
    const auto counted = [&] {
        const QByteArray bytes = readBytes(file);
        return bytes.contains("2 packets transmitted") || bytes.contains("Sent = 2")
               || bytes.contains("\xd2\xd1\xb7\xa2\xcb\xcd = 2"); // 已发送 = 2 in GBK
    };
    QTRY_VERIFY_WITH_TIMEOUT(counted(), 15000);
}

void tst_ProcessWatcher::childrenEndedBeforeTheLoopKeepTheirStatus()
{
#ifdef Q_OS_WIN
    QSKIP("a Windows process handle names its own process; there is nothing to reap");
#else
    // Two children that have both ended (unreaped) before the event loop runs: each end is
    // collected from its own process, never from whichever ended first.
    ProcessWatcher watcher;
    QSignalSpy ended(&watcher, &ProcessWatcher::finished);
    const int codes[] = {3, 5};
    pid_t pids[2] = {0, 0};
    int pidfds[2] = {-1, -1};
    for (int i = 0; i < 2; ++i) {
        pids[i] = fork();
        if (pids[i] == 0)
            _exit(codes[i]);
        QVERIFY(pids[i] > 0);
        pidfds[i] = int(syscall(SYS_pidfd_open, pids[i], 0));
        QVERIFY(pidfds[i] >= 0);
        siginfo_t info = {};
        QCOMPARE(waitid(P_PID, id_t(pids[i]), &info, WEXITED | WNOWAIT), 0); // ended, not reaped
    }
    // Watched in the other order than they were started: any child's status is not this one's.
    for (int i = 1; i >= 0; --i)
        QVERIFY(watcher.watch(quint64(i), ProcessHandle::adopt(pids[i], pidfds[i])));
    QTRY_COMPARE_WITH_TIMEOUT(ended.size(), 2, 10000);
    for (const QList<QVariant>& args : ended) {
        const ProcessEnd end = args[1].value<ProcessEnd>();
        QCOMPARE(int(end.kind), int(ProcessEnd::Kind::Exited));
        QCOMPARE(end.code, codes[args[0].value<quint64>()]);
    }
#endif
}

QTEST_GUILESS_MAIN(tst_ProcessWatcher)
#include "tst_processwatcher.moc"
