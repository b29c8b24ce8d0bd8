// "保存文件" and "读取HOST文件" with other programs around: changes made by them since the
// reading are merged, a conflict is refused, the previous content goes to the backup folder,
// and a save that was cut off is put right at the next start or reading.
#include "WindowFixture.h"
#include "core/hosts/HostsBackups.h"
#include "gui/FormMain.h"
#ifndef Q_OS_WIN
#include "TestFileSystem.h"
#include "platform/SafeSave.h"
#endif

#include <QCheckBox>
#include <QDir>
#include <QLineEdit>
#include <QTest>

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

QTEST_MAIN(tst_HostsSave)
#include "tst_hostssave.moc"
