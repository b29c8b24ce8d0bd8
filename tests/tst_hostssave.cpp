// "保存文件" and "读取HOST文件" with other programs around: changes made by them since the
// reading are merged, a conflict is refused, the previous content goes to the backup folder,
// and a save that was cut off is put right at the next start or reading.
#include "TestMain.h"
#include "WindowFixture.h"
#include "core/hosts/HostsBackups.h"
#include "gui/FormMain.h"
#ifndef Q_OS_WIN
#include "TestFileSystem.h"
#include "platform/SafeSave.h"
#endif

#include <QCheckBox>
#include <QDir>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QScopeGuard>
#include <QSemaphore>
#include <QTest>
#include <QTimer>

#include <atomic>

#ifndef Q_OS_WIN
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

namespace {

const QByteArray kHosts = "127.0.0.1 localhost\n"
                          "10.0.0.1 printer\n"
                          "10.0.0.2 nas\n";

QStringList backups(const WindowFixture& f)
{
    return HostsBackups::inOrder(QDir(f.path(QStringLiteral("backup"))).entryList(QDir::Files));
}

QByteArray backup(const WindowFixture& f, const QString& name)
{
    return readBytes(f.path(QStringLiteral("backup/")) + name);
}

const char* const kPosixSave = "Windows keeps no copy on disk during a save, so there is nothing to recover";

#ifndef Q_OS_WIN
// Leaves the hosts file as a save that was killed at call `stopAt` leaves it.
void cutOffSave(const QString& path, const QByteArray& bytes, const QString& stopAt)
{
    TestFileSystem fs;
    fs.fail(QStringLiteral("rename"), QStringLiteral(".hosts.tarvix-new.* > hosts"), EBUSY); // in place
    fs.beforeCall = [&](const QString& call) {
        if (call == stopAt)
            fs.freezeAfter = 0;
    };
    QString error;
    SafeSave(fs).save(path, bytes, &error);
}
#endif

} // namespace

class tst_HostsSave : public QObject
{
    Q_OBJECT

private slots:
    void otherProgramsAppendSurvives();
    void conflictRefusedAndNamed();
    void rowsShowMergedFile();
    void previousContentBackedUp();
    void backupFailureDoesNotStopSave();
    void cutOffSaveRestoredAtStartUp();
    void cutOffSaveRestoredOnReading();
    void unrecoverableFileIsNotSaved();
    void editsWhileSavingAreKept();
    void windowAnswersWhileLockIsHeld();
    void effectCheckNeverHoldsTheWindow();
};

void tst_HostsSave::otherProgramsAppendSurvives()
{
    WindowFixture f(&kHosts);
    FormMain form(f.options);
    form.show();
    QTest::mouseClick(child<QCheckBox>(form, "Check1(2)"), Qt::LeftButton);
    // A VPN client adds its line while the window is open.
    QVERIFY(writeBytes(f.hosts, kHosts + "10.8.0.1 vpn.corp\n"));
    click(form, "CmdSave");
    QCOMPARE(f.messages.value(0), QStringLiteral("保存成功!")); // the check of its effect follows
    QCOMPARE(readBytes(f.hosts),
             QByteArray("127.0.0.1 localhost\n#10.0.0.1 printer\n10.0.0.2 nas\n10.8.0.1 vpn.corp\n"));
}

void tst_HostsSave::conflictRefusedAndNamed()
{
    WindowFixture f(&kHosts);
    FormMain form(f.options);
    form.show();
    QTest::mouseClick(child<QCheckBox>(form, "Check1(3)"), Qt::LeftButton);
    const QByteArray other = "127.0.0.1 localhost\n10.0.0.1 printer\n10.0.0.22 nas\n";
    QVERIFY(writeBytes(f.hosts, other));
    click(form, "CmdSave");
    QCOMPARE(f.messages.size(), 1);
    QVERIFY2(f.messages.first().startsWith(QStringLiteral("保存失败！\r\n第 3 行（10.0.0.2 nas）")),
             qPrintable(f.messages.first()));
    QVERIFY(f.messages.first().contains(QStringLiteral("请重新读取HOST文件")));
    QCOMPARE(readBytes(f.hosts), other);
    QVERIFY(child<QCheckBox>(form, "Check1(3)")->isChecked()); // the user's edit stays
    QVERIFY(backups(f).isEmpty());
    // Read again, tick again: now it saves.
    click(form, "CmdRead");
    QTest::mouseClick(child<QCheckBox>(form, "Check1(3)"), Qt::LeftButton);
    f.messages.clear();
    click(form, "CmdSave");
    QCOMPARE(f.messages.value(0), QStringLiteral("保存成功!")); // the check of its effect follows
    QCOMPARE(readBytes(f.hosts), QByteArray("127.0.0.1 localhost\n10.0.0.1 printer\n#10.0.0.22 nas\n"));
}

void tst_HostsSave::rowsShowMergedFile()
{
    WindowFixture f(&kHosts);
    FormMain form(f.options);
    form.show();
    QTest::mouseClick(child<QCheckBox>(form, "Check2(2)"), Qt::LeftButton); // 删 printer
    click(form, "CmdAdd");
    QTest::keyClicks(child<QLineEdit>(form, "Text1(4)"), QStringLiteral("mine"));
    // Another program removes the first line and inserts one in its place.
    QVERIFY(writeBytes(f.hosts, "::1 localhost\n10.0.0.1 printer\n10.0.0.2 nas\n"));
    click(form, "CmdSave");
    QCOMPARE(f.messages.value(0), QStringLiteral("保存成功!")); // the check of its effect follows
    QCOMPARE(readBytes(f.hosts), QByteArray("::1 localhost\n10.0.0.2 nas\n mine\n"));
    QCOMPARE(form.hosts().rowCount(), 3);
    QCOMPARE(child<QLineEdit>(form, "Text1(1)")->text(), QStringLiteral("localhost"));
    QCOMPARE(form.hosts().values(0).ip, QStringLiteral("::1"));
    QCOMPARE(child<QLineEdit>(form, "Text1(2)")->text(), QStringLiteral("nas"));
}

void tst_HostsSave::previousContentBackedUp()
{
    WindowFixture f(&kHosts);
    FormMain form(f.options);
    form.show();
    click(form, "CmdSave"); // nothing changed: nothing written, no backup
    QCOMPARE(f.messages, QStringList{QStringLiteral("保存成功!")});
    QVERIFY(backups(f).isEmpty());
    QByteArray expected = kHosts;
    for (int i = 0; i < 22; ++i) {
        QTest::mouseClick(child<QCheckBox>(form, "Check1(1)"), Qt::LeftButton);
        click(form, "CmdSave");
        QCOMPARE(backup(f, backups(f).last()), expected);
        expected = readBytes(f.hosts);
    }
    QCOMPARE(backups(f).size(), 20);
    QCOMPARE(f.messages.count(QStringLiteral("保存成功!")), 23); // each followed by the check of its effect
}

void tst_HostsSave::backupFailureDoesNotStopSave()
{
    WindowFixture f(&kHosts);
    QVERIFY(writeBytes(f.path(QStringLiteral("backup")), "a file where the folder would be\n"));
    FormMain form(f.options);
    form.show();
    QTest::mouseClick(child<QCheckBox>(form, "Check1(2)"), Qt::LeftButton);
    click(form, "CmdSave");
    QCOMPARE(f.messages.size(), 2); // the save's, then the check of its effect
    QVERIFY2(f.messages.first().startsWith(QStringLiteral("保存成功!\r\n没有写成备份: ")),
             qPrintable(f.messages.first()));
#ifdef Q_OS_WIN
    // The system's own words, in the system's language: the folder is named with them.
    QVERIFY2(f.messages.first().contains(QDir::toNativeSeparators(f.path(QStringLiteral("backup")))),
             qPrintable(f.messages.first()));
#else
    QVERIFY2(f.messages.first().contains(QString::fromLocal8Bit(strerror(EEXIST))),
             qPrintable(f.messages.first()));
#endif
    QCOMPARE(readBytes(f.hosts), QByteArray("127.0.0.1 localhost\n#10.0.0.1 printer\n10.0.0.2 nas\n"));
}

void tst_HostsSave::cutOffSaveRestoredAtStartUp()
{
#ifdef Q_OS_WIN
    QSKIP(kPosixSave);
#else
    WindowFixture f(&kHosts);
    cutOffSave(f.hosts, "::1 localhost\n", QStringLiteral("ftruncate hosts"));
    QVERIFY(readBytes(f.hosts) != kHosts); // the new line followed by the old tail
    FormMain form(f.options);
    QCOMPARE(f.messages.size(), 1);
    QVERIFY2(f.messages.first().contains(QStringLiteral("已从保留的副本恢复为保存前的内容")),
             qPrintable(f.messages.first()));
    QCOMPARE(readBytes(f.hosts), kHosts);
    QCOMPARE(form.hosts().rowCount(), 3);
    QCOMPARE(child<QLineEdit>(form, "Text1(3)")->text(), QStringLiteral("nas"));
#endif
}

void tst_HostsSave::cutOffSaveRestoredOnReading()
{
#ifdef Q_OS_WIN
    QSKIP(kPosixSave);
#else
    WindowFixture f(&kHosts);
    FormMain form(f.options);
    cutOffSave(f.hosts, "10.9.9.9 elsewhere\n", QStringLiteral("fsync hosts")); // written, not flushed
    QVERIFY(QFile::exists(TextFile::keptCopyPath(f.hosts)));
    click(form, "CmdRead");
    QVERIFY(f.messages.isEmpty()); // the new content was complete: nothing to tell
    QVERIFY(!QFile::exists(TextFile::keptCopyPath(f.hosts)));
    QCOMPARE(child<QLineEdit>(form, "Text1(1)")->text(), QStringLiteral("elsewhere"));

    cutOffSave(f.hosts, "1.1.1.1 torn\n", QStringLiteral("ftruncate hosts"));
    click(form, "CmdRead");
    QCOMPARE(f.messages.size(), 1);
    QVERIFY(f.messages.first().contains(QStringLiteral("上次保存时程序被中断")));
    QCOMPARE(readBytes(f.hosts), QByteArray("10.9.9.9 elsewhere\n"));
#endif
}

void tst_HostsSave::unrecoverableFileIsNotSaved()
{
#ifdef Q_OS_WIN
    QSKIP(kPosixSave);
#else
    WindowFixture f(&kHosts);
    QVERIFY(writeBytes(TextFile::keptCopyPath(f.hosts), "TARVIX-KEPT 1\nnot a header\n"));
    FormMain form(f.options);
    QCOMPARE(f.messages.size(), 1);
    QVERIFY2(f.messages.first().contains(QStringLiteral("保留的原内容副本不完整")),
             qPrintable(f.messages.first()));
    QTest::mouseClick(child<QCheckBox>(form, "Check1(2)"), Qt::LeftButton);
    f.messages.clear();
    click(form, "CmdSave");
    QCOMPARE(f.messages.size(), 1);
    QVERIFY(f.messages.first().startsWith(QStringLiteral("保存失败！\r\nHOST文件上次没有读取完整")));
    QCOMPARE(readBytes(f.hosts), kHosts);
#endif
}

void tst_HostsSave::editsWhileSavingAreKept()
{
    // The first save waits in its write. Meanwhile the window says that it saves, takes no
    // second save, and takes edits, which the reading back after the save keeps.
    WindowFixture f(&kHosts);
    QSemaphore entered, go;
    std::atomic<int> saves{0};
    f.options.hosts.saveFile = [&](const QString& path, const QByteArray& bytes, QString*) {
        if (saves++ == 0) {
            entered.release();
            go.acquire();
        }
        return writeBytes(path, bytes);
    };
    FormMain form(f.options);
    const auto release = qScopeGuard([&] { go.release(); }); // before the window waits for its save
    form.show();
    QTest::mouseClick(child<QCheckBox>(form, "Check1(2)"), Qt::LeftButton);
    QTest::mouseClick(child<QPushButton>(form, "CmdSave"), Qt::LeftButton);
    QTRY_COMPARE(entered.available(), 1);
    QVERIFY(!child<QPushButton>(form, "CmdSave")->isEnabled());
    QCOMPARE(child<QLabel>(form, "Label4")->text(), QStringLiteral("正在保存HOST文件…"));
    QVERIFY(QGuiApplication::overrideCursor() &&
            QGuiApplication::overrideCursor()->shape() == Qt::BusyCursor);
    QTest::mouseClick(child<QCheckBox>(form, "Check2(3)"), Qt::LeftButton); // nas marked deleted
    QTest::mouseClick(child<QPushButton>(form, "CmdAdd"), Qt::LeftButton);
    form.hosts().setValues(3, {false, QStringLiteral("10.0.0.9"), QStringLiteral("added.example")});
    go.release();
    QVERIFY(waitUntilIdle(form));

    QCOMPARE(f.messages.value(0), QStringLiteral("保存成功!"));
    QCOMPARE(readBytes(f.hosts), QByteArray("127.0.0.1 localhost\n#10.0.0.1 printer\n10.0.0.2 nas\n"));
    QCOMPARE(child<QLabel>(form, "Label4")->text(), QStringLiteral("修改HOST文件需要管理员权限"));
    QVERIFY(!QGuiApplication::overrideCursor());
    QCOMPARE(form.hosts().rowCount(), 4);
    QVERIFY(!form.hosts().isEdited(1)); // saved: as read back
    QVERIFY(form.hosts().isDeleted(2));
    QCOMPARE(form.hosts().values(3).host, QStringLiteral("added.example"));
    // The next save writes what was edited meanwhile.
    click(form, "CmdSave");
    QCOMPARE(readBytes(f.hosts),
             QByteArray("127.0.0.1 localhost\n#10.0.0.1 printer\n10.0.0.9 added.example\n"));
}

void tst_HostsSave::windowAnswersWhileLockIsHeld()
{
#ifdef Q_OS_WIN
    QSKIP("the lock is a mutex of the user's session there, which no other user can hold");
#else
    // Another program holds the lock of the hosts file's folder, as `flock /etc sleep 100` does.
    WindowFixture f(&kHosts);
    FormMain form(f.options);
    form.show();
    const int fd = ::open(QFile::encodeName(f.dir.path()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    QVERIFY(fd >= 0);
    QCOMPARE(::flock(fd, LOCK_EX | LOCK_NB), 0);
    QTest::mouseClick(child<QCheckBox>(form, "Check1(2)"), Qt::LeftButton);
    QTest::mouseClick(child<QPushButton>(form, "CmdSave"), Qt::LeftButton);
    // While the save waits for the lock, the window's event loop runs and takes input.
    int ticks = 0;
    QTimer timer;
    connect(&timer, &QTimer::timeout, [&] { ++ticks; });
    timer.start(10);
    QTRY_VERIFY(ticks >= 5);
    QVERIFY(form.hostsPage().isBusy());
    QTest::mouseClick(child<QPushButton>(form, "CmdAdd"), Qt::LeftButton);
    QCOMPARE(form.hosts().rowCount(), 4);
    ::close(fd); // the save goes on, or has already given up where the lock's wait is short
    QVERIFY(waitUntilIdle(form, 120 * 1000));
    QVERIFY2(f.messages.value(0) == QStringLiteral("保存成功!") ||
                 f.messages.value(0).contains(QStringLiteral("另一个程序正在保存")),
             qPrintable(f.messages.value(0)));
    QCOMPARE(form.hosts().rowCount(), 4);
#endif
}

void tst_HostsSave::effectCheckNeverHoldsTheWindow()
{
    // The resolver never answers: "保存成功!" comes at once, the check's lines after its limit.
    WindowFixture f(&kHosts);
    QSemaphore answer;
    f.options.hosts.effectCheckLimitMs = 200;
    f.options.hosts.names.lookup = [&](const QString&, QString*) {
        answer.acquire();
        return QStringList();
    };
    FormMain form(f.options);
    const auto release = qScopeGuard([&] { answer.release(100); }); // before the window joins its lookups
    form.show();
    QTest::mouseClick(child<QCheckBox>(form, "Check1(2)"), Qt::LeftButton);
    QTest::mouseClick(child<QPushButton>(form, "CmdSave"), Qt::LeftButton);
    QTRY_COMPARE(f.messages, QStringList{QStringLiteral("保存成功!")});
    QVERIFY(form.hostsPage().isChecking());
    QVERIFY(child<QPushButton>(form, "CmdSave")->isEnabled());
    QTRY_COMPARE(f.messages.size(), 2);
    QCOMPARE(f.messages.last(), QStringLiteral("printer → 10.0.0.1: 未检查完"));
}

QTEST_MAIN(tst_HostsSave)
#include "tst_hostssave.moc"
