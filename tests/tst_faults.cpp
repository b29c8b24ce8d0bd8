// The window under failure and bad input: faults injected into saving, broken files of its
// own at start-up, and inputs at the edges.
#include "TestMain.h"
#include "WindowFixture.h"
#include "gui/FormMain.h"
#include "gui/IpBox.h"
#include "gui/MessageBox.h"
#include "platform/TextFile.h"
#ifndef Q_OS_WIN
#include "TestFileSystem.h"
#include "platform/SafeSave.h"
#endif

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <string.h>
#ifndef Q_OS_WIN
#include <sys/stat.h>
#endif

namespace {

const char* const kPosixSave = "the save over POSIX calls, whose faults this injects, is Linux's; Windows "
                               "replaces the file through QSaveFile";

} // namespace

class tst_Faults : public QObject
{
    Q_OBJECT

private slots:
    void saveFaultAtEveryPositionKeepsFileAndRows();
    void savedButNotReadBackSaysBoth();
    void brokenOwnFilesAtStartUp_data();
    void brokenOwnFilesAtStartUp();
    void readOnlyFolderAtStartUp();
    void binaryGarbageAndHugeLineSurvive();
    void mostlyBlankHugeQueue();
    void countOfLetters();
};

void tst_Faults::saveFaultAtEveryPositionKeepsFileAndRows()
{
#ifdef Q_OS_WIN
    QSKIP(kPosixSave);
#else
    WindowFixture f;
    f.options.encoding = "GBK";
    const QByteArray old = readBytes(QStringLiteral(TARVIX_TESTDATA "/hosts/gbk-chinese.hosts"));
    writeBytes(f.hosts, old);
    qint64 at = 0;
    bool inPlace = false;
    bool faulty = true;
    // The disk fills up after `at` bytes of the new content, in the temporary file or, where
    // the file cannot be replaced, in the file itself.
    f.options.hosts.saveFile = [&](const QString& path, const QByteArray& bytes, QString* error) {
        TestFileSystem fs;
        if (inPlace)
            fs.fail(QStringLiteral("rename"), QStringLiteral(".hosts.tarvix-new.* > hosts"), EBUSY);
        if (faulty)
            fs.fail(QStringLiteral("pwrite"),
                    inPlace ? QStringLiteral("hosts") : QStringLiteral(".hosts.tarvix-new.*"), ENOSPC)
                .afterBytes = at;
        return SafeSave(fs).save(path, bytes, error);
    };
    FormMain form(f.options);
    form.show();
    QTest::mouseClick(form.findChild<QCheckBox*>(QStringLiteral("Check1(2)")), Qt::LeftButton);
    QByteArray expected;
    QString error;
    QVERIFY(form.hosts().toBytes(&expected, &error));
    int tried = 0;
    for (at = 0; at < expected.size(); ++at) {
        for (bool where : {false, true}) {
            inPlace = where;
            f.messages.clear();
            click(form, "CmdSave");
            QCOMPARE(f.messages.size(), 1);
            QVERIFY(f.messages.first().startsWith(QStringLiteral("保存失败！\r\n")));
            QVERIFY2(f.messages.first().contains(QString::fromLocal8Bit(strerror(ENOSPC))),
                     qPrintable(f.messages.first()));
            QCOMPARE(readBytes(f.hosts), old);
            QVERIFY(form.findChild<QCheckBox*>(QStringLiteral("Check1(2)"))->isChecked());
            ++tried;
        }
    }
    QCOMPARE(tried, int(2 * expected.size()));
    // A failed save leaves no backup behind: the file still holds that content.
    QVERIFY(!QDir(f.path(QStringLiteral("backup"))).exists() ||
            QDir(f.path(QStringLiteral("backup"))).isEmpty());
    faulty = false;
    f.messages.clear();
    click(form, "CmdSave");
    QCOMPARE(f.messages.value(0), QStringLiteral("保存成功!")); // the check of its effect follows
    QCOMPARE(readBytes(f.hosts), expected);
    QCOMPARE(QDir(f.path(QStringLiteral("backup"))).entryList(QDir::Files).size(), 1);
#endif
}

void tst_Faults::savedButNotReadBackSaysBoth()
{
    // The file is written, then another program puts a folder in its place before it is read
    // back: the user learns that it was saved, and why it could not be read.
    const QByteArray hosts = "127.0.0.1 localhost\n10.0.0.1 printer\n";
    WindowFixture f(&hosts);
    f.options.hosts.saveFile = [](const QString& path, const QByteArray& bytes, QString* error) {
        const bool saved = TextFile::save(path, bytes, error);
        return QFile::remove(path) && QDir().mkdir(path) && saved;
    };
    FormMain form(f.options);
    QTest::mouseClick(form.findChild<QCheckBox*>(QStringLiteral("Check1(2)")), Qt::LeftButton);
    click(form, "CmdSave");
    QCOMPARE(f.messages.size(), 1);
    QVERIFY2(f.messages.first().startsWith(QStringLiteral("保存成功!")), qPrintable(f.messages.first()));
    QVERIFY2(f.messages.first().contains(QStringLiteral("重新读取HOST文件失败")), qPrintable(f.messages.first()));
    QVERIFY2(f.messages.first().contains(QStringLiteral("不是普通文件")), qPrintable(f.messages.first()));
}

void tst_Faults::brokenOwnFilesAtStartUp_data()
{
    QTest::addColumn<QString>("broken"); // IP.txt or Ping.txt
    QTest::addColumn<QString>("how");
    for (const char* file : {"IP.txt", "Ping.txt"}) {
        for (const char* how : {"directory in its place", "link to itself", "named pipe", "unclosed quote"})
            QTest::newRow(qPrintable(QStringLiteral("%1, %2").arg(QLatin1String(file), QLatin1String(how))))
                << QString::fromLatin1(file) << QString::fromLatin1(how);
    }
}

void tst_Faults::brokenOwnFilesAtStartUp()
{
    QFETCH(QString, broken);
    QFETCH(QString, how);
    WindowFixture f;
    f.options.encoding = "GBK";
    writeBytes(f.hosts, "1.1.1.1 a\r\n2.2.2.2 b\r\n");
    writeBytes(f.path(QStringLiteral("IP.txt")), "10.0.0.1\r\n10.0.0.2\r\n");
    writeBytes(f.path(QStringLiteral("Ping.txt")), "127.0.0.1\r\n::1\r\n");
    const QString path = f.path(broken);
    QFile::remove(path);
    if (how == QLatin1String("directory in its place"))
        QVERIFY(QDir(f.dir.path()).mkdir(broken));
#ifdef Q_OS_WIN
    else if (how == QLatin1String("link to itself") || how == QLatin1String("named pipe"))
        QSKIP("Windows has neither symbolic links that QFile::link makes nor named pipes in folders");
#else
    else if (how == QLatin1String("link to itself"))
        QVERIFY(QFile::link(path, path));
    else if (how == QLatin1String("named pipe"))
        QCOMPARE(mkfifo(QFile::encodeName(path).constData(), 0600), 0); // reading it would wait forever
#endif
    else
        writeBytes(path, "first\r\n\"never closed\r\nlast\r\n");
    const QByteArray before = QFileInfo(path).isFile() ? readBytes(path) : QByteArray();

    FormMain form(f.options);
    QVERIFY(f.messages.isEmpty());
    QCOMPARE(form.hosts().rowCount(), 2);
    auto* combo = child<IpBox>(form, "Combo1(1)");
    const QString queue = form.queueText();
    if (broken == QLatin1String("IP.txt")) {
        QCOMPARE(queue, QStringLiteral("127.0.0.1\r\n::1\r\n"));
        QCOMPARE(combo->count(), how == QLatin1String("unclosed quote") ? 1 : 0);
    } else {
        QCOMPARE(combo->count(), 2);
        QCOMPARE(queue, how == QLatin1String("unclosed quote") ? QStringLiteral("first\r\n") : QString());
    }
    // Nothing is created over, or written to, the broken file.
    if (QFileInfo(path).isFile())
        QCOMPARE(readBytes(path), before);
    QCOMPARE(QFileInfo(path).isDir(), how == QLatin1String("directory in its place"));
}

void tst_Faults::readOnlyFolderAtStartUp()
{
    // A folder without write rights, as root meets it: a read-only bind mount. The user's data
    // folder, which the program falls back to, lies inside it and cannot be made either.
    WindowFixture f;
    f.options.encoding = "GBK";
    QDir(f.dir.path()).mkdir(QStringLiteral("app"));
    const QString app = f.path(QStringLiteral("app"));
    writeBytes(f.hosts, "1.1.1.1 a\r\n");
    if (QProcess::execute(QStringLiteral("mount"), {QStringLiteral("--bind"), QStringLiteral("-o"), QStringLiteral("ro"), app, app}) != 0)
        QSKIP("read-only bind mounts are not allowed here");
    f.options.executableDir = app;
    f.options.userDataDir = app + QStringLiteral("/user-data");
    bool created = true;
    int rows = 0;
    QStringList messages;
    {
        FormMain form(f.options);
        rows = form.hosts().rowCount();
        created = QFile::exists(app + QStringLiteral("/IP.txt")) ||
                  QFile::exists(app + QStringLiteral("/Ping.txt")) ||
                  QFileInfo::exists(f.options.userDataDir);
        form.findChild<QPlainTextEdit*>(QStringLiteral("TextIP"))->setPlainText(QStringLiteral("127.0.0.1"));
        click(form, "Command3");
        messages = f.messages;
    }
    QProcess::execute(QStringLiteral("umount"), {app});
    QCOMPARE(rows, 1);
    QVERIFY(!created);
    QCOMPARE(messages.size(), 1);
    QVERIFY(messages.first().startsWith(QStringLiteral("保存失败！\r\n")));
}

void tst_Faults::binaryGarbageAndHugeLineSurvive()
{
    WindowFixture f;
    f.options.encoding = "GBK";
    QByteArray garbage;
    for (int i = 0; i < 4096; ++i)
        garbage += char((i * 7919 + 13) % 256);
    garbage += '\n' + QByteArray(5 * 1024 * 1024, 'x') + " tail\r\n";
    garbage += "10.0.0.1 edit-me\r\n";
    writeBytes(f.hosts, garbage);
    FormMain form(f.options);
    const int rows = form.hosts().rowCount();
    QVERIFY(rows > 2);
    HostsValues v = form.hosts().values(rows - 1);
    QCOMPARE(v.host, QStringLiteral("edit-me"));
    v.disabled = true;
    form.hosts().setValues(rows - 1, v);
    click(form, "CmdSave");
    QCOMPARE(f.messages.value(0), QStringLiteral("保存成功!")); // the check of its effect follows
    QByteArray expected = garbage;
    expected.insert(expected.lastIndexOf("10.0.0.1"), '#');
    QCOMPARE(readBytes(f.hosts), expected);
}

void tst_Faults::mostlyBlankHugeQueue()
{
    WindowFixture f;
    f.options.encoding = "GBK";
    FormMain form(f.options);
    QStringList lines;
    for (int i = 0; i < 100000; ++i)
        lines << (i % 40000 == 7 ? QStringLiteral("127.0.0.1") : (i % 2 ? QStringLiteral("   ") : QString()));
    form.findChild<QPlainTextEdit*>(QStringLiteral("TextIP"))->setPlainText(lines.join(QLatin1Char('\n')));
    click(form, "Command2");
    auto* log = form.findChild<QListWidget*>(QStringLiteral("ListLog"));
    QCOMPARE(log->count(), 9); // three started, each unwatched: the stand-in gives no handle
    QCOMPARE(f.started.size(), 9);
    QCOMPARE(f.messages, QStringList{QStringLiteral("后台启动完成!")});
}

void tst_Faults::countOfLetters()
{
    WindowFixture f;
    f.options.encoding = "GBK";
    FormMain form(f.options);
    form.findChild<QLineEdit*>(QStringLiteral("TextN"))->setText(QStringLiteral("abc"));
    form.findChild<QPlainTextEdit*>(QStringLiteral("TextIP"))->setPlainText(QStringLiteral("127.0.0.1"));
    click(form, "Command2");
    QCOMPARE(f.started.size(), 3);
    QVERIFY(f.started.last().commandLine.startsWith(QStringLiteral("cmd /c ping 127.0.0.1 -n abc >>")));
    QCOMPARE(f.started.last().count, QStringLiteral("abc")); // passed on unchanged; ping says what it thinks
}

QTEST_MAIN(tst_Faults)
#include "tst_faults.moc"
