// The save through the writer that Windows starts through the UAC prompt
// (ElevatedWriter): the start of the writer is the test's own, which answers as a declined
// prompt, a failing writer, one that cannot start, one that takes too long, or one that
// writes what the frame holds. The real start and the writer mode are checked under Wine by
// tst_win32 (the pipes) and scripts/check-windows-install.sh (Tarvix.exe itself).
#include "TestMain.h"
#include "TestFiles.h"
#include "WindowFixture.h"
#include "core/hosts/ElevatedSave.h"
#include "platform/HostsHelper.h"

#include <QBuffer>
#include <QCheckBox>
#include <QFile>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <memory>

namespace {

using Outcome = ElevatedWriter::Outcome;

const QByteArray kOld = "127.0.0.1 localhost\r\n10.0.0.1 printer\r\n";
const QByteArray kNew = "127.0.0.1 localhost\r\n#10.0.0.1 printer\r\n"; // row 2 disabled
const QString kProgram = QStringLiteral("C:\\Program Files\\Tarvix\\Tarvix.exe");

// What the test's start of the writer does, and what it saw.
struct StandIn {
    QString how;
    QString hosts; // where "writes" puts the frame's content
    QByteArray frame;
    bool sawAbandoned = false;

    ElevatedWriter::Start start()
    {
        return [this](const QByteArray& f, int, const std::atomic<bool>& abandoned) {
            frame = f;
            Outcome o;
            if (how == QLatin1String("writes")) {
                QBuffer in(&frame);
                in.open(QIODevice::ReadOnly);
                QByteArray base, content;
                QString error;
                if (HostsHelper::readFrame(&in, &base, &content, &error) == HostsHelper::Written) {
                    QFile::setPermissions(hosts, QFile::ReadOwner | QFile::WriteOwner);
                    writeBytes(hosts, content);
                }
                o.status = Outcome::Status::Ended;
                o.exitCode = HostsHelper::Written;
            } else if (how == QLatin1String("declined")) {
                o.status = Outcome::Status::Cancelled;
                o.error = QStringLiteral("The operation was canceled by the user.");
            } else if (how == QLatin1String("writer fails")) {
                o.status = Outcome::Status::Ended;
                o.exitCode = HostsHelper::WriteFailed;
                o.said =
                    QStringLiteral("C:\\windows\\system32\\drivers\\etc\\hosts: 另一个程序正在使用此文件");
            } else if (how == QLatin1String("writer fails silently")) {
                o.status = Outcome::Status::Ended;
                o.exitCode = HostsHelper::BadInput;
            } else if (how == QLatin1String("cannot start")) {
                o.error = QStringLiteral("系统找不到指定的文件。");
            } else if (how == QLatin1String("times out after its input")) {
                o.status = Outcome::Status::TimedOut;
                o.delivered = true;
            } else if (how == QLatin1String("times out before its input")) {
                o.status = Outcome::Status::TimedOut;
            } else if (how == QLatin1String("prompt left open")) {
                // Blocks as ShellExecuteExW does while the prompt is shown, until the window
                // gives up; the writer must then get nothing.
                for (int i = 0; i < 1000 && !abandoned; ++i)
                    QThread::msleep(10);
                sawAbandoned = abandoned;
                o.status = Outcome::Status::TimedOut;
            }
            return o;
        };
    }
};

} // namespace

class tst_ElevatedWriter : public QObject
{
    Q_OBJECT

private slots:
    void outcomes_data();
    void outcomes();
    void windowRefusesReadOnlyFile();
};

void tst_ElevatedWriter::outcomes_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<bool>("saved");
    QTest::addColumn<QString>("message"); // what *error holds after the call
    const QString direct = QStringLiteral("hosts: 拒绝访问。");
    QTest::newRow("the writer writes the frame's content") << "writes" << true << direct;
    QTest::newRow("the prompt is declined (ERROR_CANCELLED)")
        << "declined" << false << QStringLiteral("管理员授权已取消，HOST文件没有改动。");
    QTest::newRow("the writer fails with the system's reason")
        << "writer fails" << false
        << QStringLiteral("C:\\windows\\system32\\drivers\\etc\\hosts: 另一个程序正在使用此文件");
    QTest::newRow("the writer fails without a word")
        << "writer fails silently" << false
        << QStringLiteral("Tarvix.exe 写入失败，结束码 3，HOST文件没有改动。");
    QTest::newRow("the writer cannot be started")
        << "cannot start" << false
        << direct + QStringLiteral("\r\n无法以管理员身份启动 Tarvix.exe: 系统找不到指定的文件。");
    QTest::newRow("timed out after the writer had its input")
        << "times out after its input" << false
        << QStringLiteral("等待管理员授权超时（1 秒），保存是否完成不得而知，请重新读取HOST文件。");
    QTest::newRow("timed out before the writer had its input")
        << "times out before its input" << false
        << QStringLiteral("等待管理员授权超时（1 秒），已放弃保存，HOST文件没有改动。");
    QTest::newRow("the prompt is left open: abandoned")
        << "prompt left open" << false
        << QStringLiteral("等待管理员授权超时（1 秒），保存是否完成不得而知，请重新读取HOST文件。");
}

void tst_ElevatedWriter::outcomes()
{
    QFETCH(QString, how);
    QFETCH(bool, saved);
    QFETCH(QString, message);
    WindowFixture f(&kOld);
    auto standIn = std::make_shared<StandIn>();
    standIn->how = how;
    standIn->hosts = f.hosts;
    Platform::Elevation writer;
    writer.status = Platform::Elevation::Status::Writer;
    writer.program = kProgram;

    // The wait is the caller's thread's (the save service's, beside the window); a prompt left
    // open is abandoned and its thread joined when its keeper ends.
    QString error = QStringLiteral("hosts: 拒绝访问。");
    bool ok = false;
    {
        ElevatedSave::OpenPrompts openPrompts;
        ok = ElevatedSave::run(writer, kOld, kNew, 100, &error, standIn->start(), &openPrompts);
        QCOMPARE(ok, saved);
        QCOMPARE(error, message);
    }
    QCOMPARE(standIn->frame, HostsHelper::frame(kOld, kNew)); // the writer gets the frame, nothing else
    QCOMPARE(readBytes(f.hosts), saved ? kNew : kOld);
    if (how == QLatin1String("prompt left open"))
        QVERIFY(standIn->sawAbandoned);
}

void tst_ElevatedWriter::windowRefusesReadOnlyFile()
{
    // The window itself, where the platform's way to the administrator's rights is the writer.
    // A hosts file its user marked read-only is refused with the system's reason, and the UAC
    // prompt is never shown for it: the administrator's rights would write it, which the mark
    // asks not to. (Under Wine, run as root, the read-only mark is the only denial there is.)
    if (Platform::hostsElevation(QString()).status != Platform::Elevation::Status::Writer)
        QSKIP("this system's way to the administrator's rights is pkexec (tst_elevation)");
    WindowFixture f(&kOld);
    QVERIFY(QFile::setPermissions(f.hosts, QFile::ReadOwner | QFile::ReadUser));
    StandIn standIn;
    standIn.how = QStringLiteral("writes");
    standIn.hosts = f.hosts;
    f.options.hosts.startElevatedWriter = standIn.start();
    {
        FormMain form(f.options);
        QTest::mouseClick(child<QCheckBox>(form, QStringLiteral("Check1(2)")), Qt::LeftButton);
        click(form, "CmdSave");
        QCOMPARE(child<QCheckBox>(form, QStringLiteral("Check1(2)"))->isChecked(), true);
    }
    QFile::setPermissions(f.hosts, QFile::ReadOwner | QFile::WriteOwner);
    QCOMPARE(f.messages.size(), 1);
    QVERIFY2(f.messages.first().startsWith(QStringLiteral("保存失败！")), qPrintable(f.messages.first()));
    QVERIFY2(f.messages.first().contains(QStringLiteral("只读")), qPrintable(f.messages.first()));
    QVERIFY(standIn.frame.isEmpty()); // the writer was never asked
    QCOMPARE(readBytes(f.hosts), kOld);
}

QTEST_MAIN(tst_ElevatedWriter)
#include "tst_elevatedwriter.moc"
