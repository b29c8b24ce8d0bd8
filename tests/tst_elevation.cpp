// The window's save of a hosts file that it may not write: handed to the hosts helper through
// pkexec. A stand-in pkexec of the test's own comes first on PATH: one that runs the real
// helper in a private mount namespace in which the test's folder is /etc, one that writes the
// content itself as an authorised helper would, and ones that end as a cancelled dialog, a
// refused authorisation or a failing helper do. The window's hosts file is the test's own,
// 0444 in a folder 0555; root, which passes such permissions, gives them up for the click
// (tests/Privileges.h), and pkexec's stand-in regains them as pkexec would.
#include "TestMain.h"
#include "Privileges.h"
#include "WindowFixture.h"
#include "gui/FormMain.h"
#include "platform/HostsHelper.h"
#ifndef Q_OS_WIN
#include "TestFileSystem.h"
#include "platform/SafeSave.h"
#endif

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTest>
#include <QTimer>

#include <unistd.h>

namespace {

const QByteArray kOld = "127.0.0.1 localhost\n10.0.0.1 printer\n";
const QByteArray kNew = "127.0.0.1 localhost\n#10.0.0.1 printer\n"; // row 2 disabled
const QString kFailed = QStringLiteral("保存失败！\r\n");
// What another program writes while the password dialog is open.
const QByteArray kAppended = kOld + "10.8.0.1 vpn\n";
const QByteArray kMoved = "127.0.0.1 localhost\n10.0.0.2 printer\n";

// PATH with dir in front for as long as it lives.
class PathFirst
{
public:
    explicit PathFirst(const QString& dir, bool only = false) : m_old(qgetenv("PATH"))
    {
        qputenv("PATH", only ? QFile::encodeName(dir) : QFile::encodeName(dir) + ':' + m_old);
    }
    ~PathFirst() { qputenv("PATH", m_old); }

private:
    QByteArray m_old;
};

bool writeScript(const QString& path, const QString& body)
{
    return writeBytes(path, "#!/bin/sh\n" + body.toUtf8() + '\n') &&
           QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                           QFile::ReadOther | QFile::ExeOther);
}

QString quoted(const QString& path)
{
    return QLatin1Char('\'') + path + QLatin1Char('\'');
}

const QFile::Permissions kReadOnlyFolder = QFile::ReadOwner | QFile::ExeOwner | QFile::ReadGroup |
                                           QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther;
const QFile::Permissions kWritableFolder = kReadOnlyFolder | QFile::WriteOwner;

// A system file as the user meets it: 0644, owned by another user (root there; nobody here,
// as the test runs as root and drops only the rights that override permissions). A 0444 file
// is its owner's word, which no save overrides.
bool makeOthersFile(const QString& path, QFile::Permissions extra = QFile::Permissions())
{
    return QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup |
                                           QFile::ReadOther | extra) &&
           ::chown(QFile::encodeName(path).constData(), 65534, 65534) == 0;
}

} // namespace

class tst_Elevation : public QObject
{
    Q_OBJECT

private slots:
    void saveThroughPkexec_data();
    void saveThroughPkexec();
    void waitingWindowAnswers();
    void writableFileIsNotHandedOver();
    void keptCopyOnlyRootCanHandle();
};

void tst_Elevation::saveThroughPkexec_data()
{
    QTest::addColumn<QString>("standIn"); // what the stand-in pkexec does
    QTest::addColumn<QString>("setup");   // what else is (not) in place
    QTest::addColumn<QStringList>("lines"); // what the message's lines after "保存失败！" hold; none: success
    QTest::addColumn<bool>("exact");        // the lines are the whole message
    QTest::addColumn<bool>("pkexecRuns");

    const QStringList success;
    QTest::newRow("authorised: the real helper writes the file") << "real helper"
                                                                 << "" << success << true << true;
    // A writable file (0666) in a folder only root can write: saved in place by the window, its
    // kept copy in the data folder; no password is asked.
    QTest::newRow("a writable file in a folder only root can write: saved without pkexec")
        << "writes"
        << "writable file" << success << true << false;
    QTest::newRow("authorised: a stand-in helper writes the file") << "writes"
                                                                   << "" << success << true << true;
    // The file changes while the password dialog is open: the helper merges against it.
    QTest::newRow("authorised: a line appended meanwhile is kept") << "real helper after: append"
                                                                   << "" << success << true << true;
    QTest::newRow("authorised: the row was changed meanwhile: conflict")
        << "real helper after: change"
        << "" << QStringList{QStringLiteral("第 2 行")} << false << true;
    QTest::newRow("dialog cancelled (126)")
        << "exit 126"
        << "" << QStringList{QStringLiteral("管理员授权已取消，HOST文件没有改动。")} << true << true;
    QTest::newRow("not authorised (127)")
        << "echo 'Error executing command as another user: Not authorized' >&2; exit 127"
        << ""
        << QStringList{QStringLiteral("没有得到管理员授权，HOST文件没有改动。"),
                       QStringLiteral("Error executing command as another user: Not authorized")}
        << true << true;
    QTest::newRow("helper fails with the system's reason")
        << "cat >/dev/null; echo '/etc/hosts: No space left on device' >&2; exit 1"
        << "" << QStringList{QStringLiteral("/etc/hosts: No space left on device")} << true << true;
    QTest::newRow("the real helper refuses a planted link")
        << "real helper, planted link"
        << "" << QStringList{QStringLiteral("/etc/hosts: ")} << false << true;
    QTest::newRow("pkexec crashes") << "kill -SEGV $$"
                                    << "" << QStringList{QStringLiteral("异常结束")} << false << true;
    QTest::newRow("no answer in time")
        << "exec sleep 60"
        << "short timeout" << QStringList{QStringLiteral("等待管理员授权超时")} << false << true;
    QTest::newRow("no pkexec on PATH")
        << "writes"
        << "no pkexec" << QStringList{QString(), QStringLiteral("没有找到 pkexec")} << false << false;
    QTest::newRow("no helper installed")
        << "writes"
        << "no helper" << QStringList{QString(), QStringLiteral("没有找到")} << false << false;
}

void tst_Elevation::saveThroughPkexec()
{
    QFETCH(QString, standIn);
    QFETCH(QString, setup);
    QFETCH(QStringList, lines);
    QFETCH(bool, exact);
    QFETCH(bool, pkexecRuns);
    QString why;
    if (standIn.startsWith(QLatin1String("real helper")) && !canRunHelperInNamespace(&why))
        QSKIP(qPrintable(why));

    WindowFixture f;
    f.options.encoding = "UTF-8";
    const QString etc = f.path(QStringLiteral("etc"));
    QVERIFY(QDir().mkdir(etc));
    f.hosts = etc + QStringLiteral("/hosts");
    f.options.hosts.hostsPath = f.hosts;
    QVERIFY(writeBytes(f.hosts, kOld));
    QVERIFY(makeOthersFile(f.hosts, setup == QLatin1String("writable file")
                                        ? QFile::WriteGroup | QFile::WriteOther
                                        : QFile::Permissions()));
    QVERIFY(QFile::setPermissions(etc, kReadOnlyFolder));

    const QString bin = f.path(QStringLiteral("bin"));
    const QString args = f.path(QStringLiteral("pkexec-args"));
    QVERIFY(QDir().mkdir(bin));
    QString body = QStringLiteral("printf '%s\\n' \"$@\" > %1\n").arg(quoted(args));
    const QString wrapper = QStringLiteral("sh " TARVIX_TESTS "/helper-in-namespace.sh");
    if (standIn == QLatin1String("real helper")) {
        body += QStringLiteral("exec %1 %2 - /dev/stdin \"$1\"").arg(wrapper, quoted(etc));
    } else if (standIn == QLatin1String("real helper, planted link")) {
        const QString other = f.path(QStringLiteral("other-etc"));
        QVERIFY(QDir().mkdir(other));
        QVERIFY(QFile::setPermissions(other, kReadOnlyFolder | QFile::WriteOwner));
        QVERIFY(QFile::link(f.hosts, other + QStringLiteral("/hosts")));
        body += QStringLiteral("exec %1 %2 - /dev/stdin \"$1\"").arg(wrapper, quoted(other));
    } else if (standIn.startsWith(QLatin1String("real helper after: "))) {
        const QString meanwhile = f.path(QStringLiteral("meanwhile"));
        QVERIFY(writeBytes(meanwhile, standIn.endsWith(QLatin1String("append")) ? kAppended : kMoved));
        body += QStringLiteral("cat %1 > %2\nexec %3 %4 - /dev/stdin \"$1\"")
                    .arg(quoted(meanwhile), quoted(f.hosts), wrapper, quoted(etc));
    } else if (standIn == QLatin1String("writes")) {
        // What an authorised helper does where the file did not change: the result after the
        // frame's header and base, in the file.
        body += QStringLiteral("{ read -r magic version base result; "
                               "dd bs=1 count=\"$base\" of=/dev/null 2>/dev/null; cat; } > %1")
                    .arg(quoted(f.hosts));
    } else {
        body += standIn;
    }
    if (setup != QLatin1String("no pkexec"))
        QVERIFY(writeScript(bin + QStringLiteral("/pkexec"), body));
    if (setup != QLatin1String("no helper"))
        QVERIFY(QFile::link(QStringLiteral(TARVIX_HELPER),
                            f.path(QString::fromLatin1(HostsHelper::kProgramName))));
    if (setup == QLatin1String("short timeout"))
        f.options.hosts.elevatedSaveTimeoutMs = 300;

    QStringList messages;
    bool disabledKept = false;
    {
        const PathFirst path(bin, setup == QLatin1String("no pkexec"));
        FormMain form(f.options);
        form.show();
        QTest::mouseClick(child<QCheckBox>(form, QStringLiteral("Check1(2)")), Qt::LeftButton);
        {
            const WithoutFileOverride asUser;
            click(form, "CmdSave");
        }
        messages = f.messages;
        disabledKept = child<QCheckBox>(form, QStringLiteral("Check1(2)"))->isChecked();
        QVERIFY(form.isEnabled());
    }
    QVERIFY(QFile::setPermissions(etc, kWritableFolder));

    // A save that wrote is followed by the check of its effect, in a message of its own.
    QCOMPARE(messages.size(), lines.isEmpty() ? 2 : 1);
    QVERIFY(disabledKept); // read back after a success, kept as edited after a failure
    QCOMPARE(QFileInfo::exists(args), pkexecRuns);
    if (pkexecRuns) // the helper's path, found beside the program, is pkexec's one argument
        QCOMPARE(readBytes(args),
                 QFile::encodeName(f.path(QString::fromLatin1(HostsHelper::kProgramName))) + '\n');
    const bool appended = standIn.endsWith(QLatin1String("append"));
    if (lines.isEmpty()) {
        QCOMPARE(firstLines(messages).first(), QStringLiteral("保存成功!"));
        QCOMPARE(readBytes(f.hosts), appended ? QByteArray(kNew + "10.8.0.1 vpn\n") : kNew);
        return;
    }
    QVERIFY2(messages.first().startsWith(kFailed), qPrintable(messages.first()));
    QStringList got = messages.first().mid(kFailed.size()).split(QStringLiteral("\r\n"));
    if (!lines.isEmpty() && lines.first().isEmpty()) {
        // The direct save's reason comes first, in the system's words: one line for each way
        // it tried (replacing the file, then writing it in place).
        while (got.size() > lines.size()) {
            QVERIFY2(got.first().contains(etc), qPrintable(got.first()));
            got.removeFirst();
        }
    }
    QVERIFY2(got.size() == lines.size(), qPrintable(messages.first()));
    for (int i = 0; i < lines.size(); ++i) {
        if (lines[i].isEmpty()) // the direct save's reason, in the system's words
            QVERIFY2(got[i].contains(f.hosts), qPrintable(got[i]));
        else
            QVERIFY2(got[i].contains(lines[i]), qPrintable(got[i]));
    }
    if (exact)
        QCOMPARE(got, lines);
    QCOMPARE(readBytes(f.hosts), standIn.endsWith(QLatin1String("change")) ? kMoved : kOld);
}

void tst_Elevation::keptCopyOnlyRootCanHandle()
{
#ifdef Q_OS_WIN
    QSKIP("Windows keeps no copy on disk during a save");
#else
    // A save through the helper was cut off after its kept copy (root's, unreadable to the
    // user) was written. The window says what to do instead of refusing every save; the save
    // goes to the helper, which finishes the recovery first; the save after it succeeds.
    QString why;
    if (!canRunHelperInNamespace(&why))
        QSKIP(qPrintable(why));
    WindowFixture f;
    f.options.encoding = "UTF-8";
    const QString etc = f.path(QStringLiteral("etc"));
    QVERIFY(QDir().mkdir(etc));
    f.hosts = etc + QStringLiteral("/hosts");
    f.options.hosts.hostsPath = f.hosts;
    QVERIFY(writeBytes(f.hosts, kOld));
    {
        TestFileSystem fs;
        fs.fail(QStringLiteral("rename"), QStringLiteral(".hosts.tarvix-new.* > hosts"), EBUSY); // in place
        fs.beforeCall = [&](const QString& call) {
            if (call == QLatin1String("pwrite hosts"))
                fs.freezeAfter = 0;
        };
        QString error;
        QVERIFY(!SafeSave(fs).save(f.hosts, kMoved, &error));
    }
    const QString kept = TextFile::keptCopyPath(f.hosts);
    QVERIFY(QFile::exists(kept));
    QVERIFY(QFile::setPermissions(kept, QFile::Permissions()));
    QVERIFY(makeOthersFile(f.hosts));
    QVERIFY(QFile::setPermissions(etc, kReadOnlyFolder));
    const QString bin = f.path(QStringLiteral("bin"));
    QVERIFY(QDir().mkdir(bin));
    QVERIFY(
        writeScript(bin + QStringLiteral("/pkexec"),
                    QStringLiteral("exec sh " TARVIX_TESTS "/helper-in-namespace.sh %1 - /dev/stdin \"$1\"")
                        .arg(quoted(etc))));
    QVERIFY(
        QFile::link(QStringLiteral(TARVIX_HELPER), f.path(QString::fromLatin1(HostsHelper::kProgramName))));
    const PathFirst path(bin);
    {
        const WithoutFileOverride asUser;
        FormMain form(f.options);
        QCOMPARE(f.messages.size(), 1);
        QVERIFY2(f.messages.first().contains(QStringLiteral("保存HOST文件时会请求管理员权限")),
                 qPrintable(f.messages.first()));
        QCOMPARE(form.hosts().rowCount(), 2);
        for (int attempt = 0; attempt < 2; ++attempt) {
            f.messages.clear();
            QTest::mouseClick(child<QCheckBox>(form, QStringLiteral("Check1(2)")), Qt::LeftButton);
            click(form, "CmdSave");
            QCOMPARE(f.messages.size(), attempt == 0 ? 1 : 2); // the check of the save's effect follows
            if (attempt == 0) { // the helper put the file right and asks for a new reading
                QVERIFY2(f.messages.first().contains(QStringLiteral("请重新读取HOST文件")),
                         qPrintable(f.messages.first()));
                QVERIFY(!QFile::exists(kept));
                click(form, "CmdRead");
            }
        }
        QCOMPARE(firstLines(f.messages).first(), QStringLiteral("保存成功!"));
    }
    QVERIFY(QFile::setPermissions(etc, kWritableFolder));
    QCOMPARE(readBytes(f.hosts), kNew);
#endif
}

void tst_Elevation::waitingWindowAnswers()
{
    WindowFixture f;
    const QString etc = f.path(QStringLiteral("etc"));
    QVERIFY(QDir().mkdir(etc));
    f.hosts = etc + QStringLiteral("/hosts");
    f.options.hosts.hostsPath = f.hosts;
    f.options.hosts.elevatedSaveTimeoutMs = 2000;
    QVERIFY(writeBytes(f.hosts, kOld));
    QVERIFY(makeOthersFile(f.hosts));
    QVERIFY(QFile::setPermissions(etc, kReadOnlyFolder));
    const QString bin = f.path(QStringLiteral("bin"));
    QVERIFY(QDir().mkdir(bin));
    // Answers once the test has looked at the waiting window.
    const QString answer = f.path(QStringLiteral("answer"));
    QVERIFY(
        writeScript(bin + QStringLiteral("/pkexec"),
                    QStringLiteral("while [ ! -e %1 ]; do sleep 0.05; done; exit 126").arg(quoted(answer))));
    QVERIFY(
        QFile::link(QStringLiteral(TARVIX_HELPER), f.path(QString::fromLatin1(HostsHelper::kProgramName))));

    const PathFirst path(bin);
    FormMain form(f.options);
    form.show();
    // A save that changes nothing writes nothing; this one has a change to hand over.
    QTest::mouseClick(child<QCheckBox>(form, QStringLiteral("Check1(1)")), Qt::LeftButton);
    // While pkexec waits for the password, the window answers: a row can be added, and the
    // buttons that would save or read again wait.
    bool enabledWhileWaiting = false;
    bool saveWaited = false;
    int rowsAfterClick = -1;
    QTimer::singleShot(100, &form, [&] {
        enabledWhileWaiting = form.isEnabled();
        saveWaited = !child<QPushButton>(form, "CmdSave")->isEnabled() && !child<QPushButton>(form, "CmdRead")->isEnabled();
        QTest::mouseClick(child<QPushButton>(form, "CmdAdd"), Qt::LeftButton);
        rowsAfterClick = form.hosts().rowCount();
        writeBytes(answer, "");
    });
    {
        const WithoutFileOverride asUser;
        click(form, "CmdSave");
    }
    QVERIFY(QFile::setPermissions(etc, kWritableFolder));
    QVERIFY(enabledWhileWaiting);
    QVERIFY(saveWaited);
    QCOMPARE(rowsAfterClick, 3);
    QCOMPARE(form.hosts().rowCount(), 3); // the failed save reads nothing back: the rows stay
    QVERIFY(child<QPushButton>(form, "CmdSave")->isEnabled());
    QCOMPARE(f.messages, QStringList{kFailed + QStringLiteral("管理员授权已取消，HOST文件没有改动。")});
}

void tst_Elevation::writableFileIsNotHandedOver()
{
    // A failure that the administrator's rights cannot overcome is reported as it is: a
    // missing folder, a read-only file system.
    WindowFixture f;
    const QString bin = f.path(QStringLiteral("bin"));
    const QString args = f.path(QStringLiteral("pkexec-args"));
    QVERIFY(QDir().mkdir(bin));
    QVERIFY(
        writeScript(bin + QStringLiteral("/pkexec"), QStringLiteral("touch %1; exit 0").arg(quoted(args))));
    QVERIFY(
        QFile::link(QStringLiteral(TARVIX_HELPER), f.path(QString::fromLatin1(HostsHelper::kProgramName))));
    const PathFirst path(bin);

    f.options.hosts.hostsPath = f.path(QStringLiteral("missing/hosts"));
    {
        FormMain form(f.options);
        click(form, "CmdAdd");
        click(form, "CmdSave");
    }
    QCOMPARE(f.messages.size(), 1);
    QVERIFY(f.messages.first().startsWith(kFailed));
    QVERIFY(!QFileInfo::exists(args));

    if (geteuid() != 0)
        QSKIP("a read-only bind mount needs root");
    const QString etc = f.path(QStringLiteral("etc"));
    QVERIFY(QDir().mkdir(etc));
    f.options.hosts.hostsPath = etc + QStringLiteral("/hosts");
    QVERIFY(writeBytes(f.options.hosts.hostsPath, kOld));
    if (QProcess::execute(QStringLiteral("mount"), {QStringLiteral("--bind"), QStringLiteral("-o"),
                                                    QStringLiteral("ro"), etc, etc}) != 0)
        QSKIP("read-only bind mounts are not allowed here");
    f.messages.clear();
    {
        FormMain form(f.options);
        QTest::mouseClick(child<QCheckBox>(form, QStringLiteral("Check1(2)")), Qt::LeftButton);
        click(form, "CmdSave");
    }
    QProcess::execute(QStringLiteral("umount"), {etc});
    QCOMPARE(f.messages.size(), 1);
    QVERIFY(f.messages.first().startsWith(kFailed));
    QVERIFY(!QFileInfo::exists(args));
    QCOMPARE(readBytes(f.options.hosts.hostsPath), kOld);
}

QTEST_MAIN(tst_Elevation)
#include "tst_elevation.moc"
