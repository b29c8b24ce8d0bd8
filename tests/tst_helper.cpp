// The hosts helper and what the window asks the platform before it turns to it: the frame the
// helper reads, the decision whether a failed save lacked rights, and the helper program run
// as root. The helper runs only in a private mount namespace in which a folder of the test's
// own is /etc (tests/helper-in-namespace.sh); the machine's own hosts file is never touched.
#include "TestMain.h"
#include "Privileges.h"
#include "TestFiles.h"
#include "platform/HostsHelper.h"
#include "platform/Platform.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

Q_DECLARE_METATYPE(Platform::WriteAccess)

namespace {

const QByteArray kOld = "127.0.0.1 localhost\n10.0.0.1 old-entry\n";

QByteArray garbage(int n)
{
    QByteArray out;
    for (int i = 0; i < n; ++i)
        out += char((i * 7919 + 13) % 256);
    return out;
}

bool run(const QString& program, const QStringList& args)
{
    return QProcess::execute(program, args) == 0;
}

} // namespace

class tst_Helper : public QObject
{
    Q_OBJECT

private slots:
    void readFrame_data();
    void readFrame();
    void frameRoundTrip();
    void writeAccess_data();
    void writeAccess();
    void canWriteDirectory();
    void helperFoundBesideOrUnderLibexec();
    void helperInNamespace_data();
    void helperInNamespace();
};

void tst_Helper::readFrame_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("base");
    QTest::addColumn<QByteArray>("result");
    const QByteArray none;
    QTest::newRow("base and result") << QByteArray("TARVIX-HOSTS 2 2 5\nababc\r\n")
                                     << int(HostsHelper::Written) << QByteArray("ab")
                                     << QByteArray("abc\r\n");
    QTest::newRow("empty result: every row deleted")
        << QByteArray("TARVIX-HOSTS 2 3 0\nold") << int(HostsHelper::Written) << QByteArray("old") << none;
    QTest::newRow("empty base: the file was missing or empty")
        << QByteArray("TARVIX-HOSTS 2 0 4\n\n\0\n\n", 23) << int(HostsHelper::Written) << none
        << QByteArray("\n\0\n\n", 4);
    QTest::newRow("no input at all") << none << int(HostsHelper::BadInput) << none << none;
    QTest::newRow("bare content without header")
        << QByteArray("10.0.0.1 a\n") << int(HostsHelper::BadInput) << none << none;
    QTest::newRow("header cut off") << QByteArray("TARVIX-HOSTS 2 1") << int(HostsHelper::BadInput) << none
                                    << none;
    QTest::newRow("other version") << QByteArray("TARVIX-HOSTS 1 1\na") << int(HostsHelper::BadInput) << none
                                   << none;
    QTest::newRow("one size only") << QByteArray("TARVIX-HOSTS 2 1\na") << int(HostsHelper::BadInput) << none
                                   << none;
    QTest::newRow("sign in the size")
        << QByteArray("TARVIX-HOSTS 2 0 +1\na") << int(HostsHelper::BadInput) << none << none;
    QTest::newRow("negative size") << QByteArray("TARVIX-HOSTS 2 -1 0\n") << int(HostsHelper::BadInput)
                                   << none << none;
    QTest::newRow("leading zero") << QByteArray("TARVIX-HOSTS 2 0 01\na") << int(HostsHelper::BadInput)
                                  << none << none;
    QTest::newRow("space after the size")
        << QByteArray("TARVIX-HOSTS 2 0 1 \na") << int(HostsHelper::BadInput) << none << none;
    QTest::newRow("result cut off") << QByteArray("TARVIX-HOSTS 2 0 100\nonly this")
                                    << int(HostsHelper::BadInput) << none << none;
    QTest::newRow("base cut off") << QByteArray("TARVIX-HOSTS 2 100 0\nonly this")
                                  << int(HostsHelper::BadInput) << none << none;
    QTest::newRow("bytes after the result")
        << QByteArray("TARVIX-HOSTS 2 0 1\nab") << int(HostsHelper::BadInput) << none << none;
    QTest::newRow("long first line of garbage")
        << garbage(100000) << int(HostsHelper::BadInput) << none << none;
    QTest::newRow("result one byte over 256 MiB")
        << ("TARVIX-HOSTS 2 0 " + QByteArray::number(HostsHelper::kMaxContent + 1) + "\n")
        << int(HostsHelper::TooLarge) << none << none;
    QTest::newRow("base one byte over 256 MiB")
        << ("TARVIX-HOSTS 2 " + QByteArray::number(HostsHelper::kMaxContent + 1) + " 0\n")
        << int(HostsHelper::TooLarge) << none << none;
    QTest::newRow("size with 20 digits") << QByteArray("TARVIX-HOSTS 2 0 99999999999999999999\n")
                                         << int(HostsHelper::TooLarge) << none << none;
    // Exactly 256 MiB is allowed: the input then merely ends too early.
    QTest::newRow("256 MiB is allowed, cut off")
        << ("TARVIX-HOSTS 2 0 " + QByteArray::number(HostsHelper::kMaxContent) + "\nabc")
        << int(HostsHelper::BadInput) << none << none;
}

void tst_Helper::readFrame()
{
    QFETCH(QByteArray, input);
    QFETCH(int, status);
    QFETCH(QByteArray, base);
    QFETCH(QByteArray, result);
    QBuffer in(&input);
    QVERIFY(in.open(QIODevice::ReadOnly));
    QByteArray gotBase = "untouched", gotResult = "untouched";
    QString error;
    QCOMPARE(int(HostsHelper::readFrame(&in, &gotBase, &gotResult, &error)), status);
    if (status == HostsHelper::Written) {
        QCOMPARE(gotBase, base);
        QCOMPARE(gotResult, result);
        QVERIFY(error.isEmpty());
    } else {
        QCOMPARE(gotResult, QByteArray("untouched"));
        QVERIFY(!error.isEmpty());
    }
}

void tst_Helper::frameRoundTrip()
{
    const QByteArray base = garbage(1000), result = garbage(70000);
    QByteArray framed = HostsHelper::frame(base, result);
    QVERIFY(framed.startsWith("TARVIX-HOSTS 2 1000 70000\n"));
    QBuffer in(&framed);
    QVERIFY(in.open(QIODevice::ReadOnly));
    QByteArray gotBase, gotResult;
    QString error;
    QCOMPARE(int(HostsHelper::readFrame(&in, &gotBase, &gotResult, &error)), int(HostsHelper::Written));
    QCOMPARE(gotBase, base);
    QCOMPARE(gotResult, result);
}

void tst_Helper::writeAccess_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<Platform::WriteAccess>("expected");
    QTest::newRow("writable file") << "writable file" << Platform::WriteAccess::Allowed;
    QTest::newRow("missing file in a writable folder") << "missing file" << Platform::WriteAccess::Allowed;
    QTest::newRow("file without write permission") << "read-only file" << Platform::WriteAccess::Denied;
    QTest::newRow("missing file in a folder without write permission")
        << "missing file in read-only folder" << Platform::WriteAccess::Denied;
    QTest::newRow("immutable file (EPERM, also for root)")
        << "immutable file" << Platform::WriteAccess::Denied;
    QTest::newRow("read-only file system") << "read-only mount" << Platform::WriteAccess::ReadOnly;
    QTest::newRow("folder missing") << "folder missing" << Platform::WriteAccess::Other;
    QTest::newRow("a folder in place of the file") << "folder" << Platform::WriteAccess::Other;
    QTest::newRow("named pipe, which is not waited on") << "pipe" << Platform::WriteAccess::Other;
}

void tst_Helper::writeAccess()
{
    QFETCH(QString, how);
    QFETCH(Platform::WriteAccess, expected);
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("folder"));
    QVERIFY(QDir().mkdir(folder));
    QString path = folder + QStringLiteral("/hosts");
    QStringList undo; // commands that put things back before the folder is removed
    if (how != QLatin1String("missing file") && how != QLatin1String("missing file in read-only folder") &&
        how != QLatin1String("folder missing") && how != QLatin1String("folder") &&
        how != QLatin1String("pipe"))
        QVERIFY(writeBytes(path, kOld));
    if (how == QLatin1String("read-only file")) {
        QVERIFY(QFile::setPermissions(path, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
    } else if (how == QLatin1String("missing file in read-only folder")) {
        QVERIFY(QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner | QFile::ReadOther |
                                                  QFile::ExeOther));
        undo << QStringLiteral("chmod 0755 '%1'").arg(folder);
    } else if (how == QLatin1String("immutable file")) {
        if (!run(QStringLiteral("chattr"), {QStringLiteral("+i"), path}))
            QSKIP("chattr +i is not possible here (needs root and a file system that knows it)");
        undo << QStringLiteral("chattr -i '%1'").arg(path);
    } else if (how == QLatin1String("read-only mount")) {
        if (geteuid() != 0 || !run(QStringLiteral("mount"), {QStringLiteral("--bind"), QStringLiteral("-o"),
                                                             QStringLiteral("ro"), folder, folder}))
            QSKIP("read-only bind mounts need root");
        undo << QStringLiteral("umount '%1'").arg(folder);
    } else if (how == QLatin1String("folder missing")) {
        path = dir.filePath(QStringLiteral("missing/hosts"));
    } else if (how == QLatin1String("folder")) {
        QVERIFY(QDir().mkdir(path));
    } else if (how == QLatin1String("pipe")) {
        QCOMPARE(mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    }
    Platform::WriteAccess got;
    {
        const WithoutFileOverride asUser;
        got = Platform::writeAccess(path);
    }
    for (const QString& command : undo)
        QProcess::execute(QStringLiteral("sh"), {QStringLiteral("-c"), command});
    QCOMPARE(got, expected);
    if (QFileInfo(path).isFile())
        QCOMPARE(readBytes(path), kOld);
}

void tst_Helper::canWriteDirectory()
{
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("folder"));
    QVERIFY(QDir().mkdir(folder));
    QVERIFY(Platform::canWriteDirectory(folder));
    QVERIFY(!Platform::canWriteDirectory(dir.filePath(QStringLiteral("missing"))));
    QVERIFY(writeBytes(dir.filePath(QStringLiteral("file")), "x"));
    QVERIFY(!Platform::canWriteDirectory(dir.filePath(QStringLiteral("file"))));
    QVERIFY(!Platform::canWriteDirectory(QString()));
    QVERIFY(QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner));
    bool writable = true;
    {
        const WithoutFileOverride asUser;
        writable = Platform::canWriteDirectory(folder);
    }
    QVERIFY(QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    QVERIFY(!writable);
}

void tst_Helper::helperFoundBesideOrUnderLibexec()
{
    QTemporaryDir dir;
    const QString bin = dir.filePath(QStringLiteral("usr/bin"));
    const QString libexec = dir.filePath(QStringLiteral("usr/libexec/tarvix"));
    QVERIFY(QDir().mkpath(bin));
    QVERIFY(QDir().mkpath(libexec));
    const QString name = QString::fromLatin1(HostsHelper::kProgramName);
    const QString helper = QStringLiteral(TARVIX_HELPER);

    // Neither there: the installed place is named.
    Platform::Elevation e = Platform::hostsElevation(bin);
    QCOMPARE(e.helperPath, libexec + QLatin1Char('/') + name);
    if (e.status != Platform::Elevation::Status::NoPkexec)
        QCOMPARE(e.status, Platform::Elevation::Status::NoHelper);

    // Beside the program, as in the build tree.
    QVERIFY(QFile::link(helper, bin + QLatin1Char('/') + name));
    e = Platform::hostsElevation(bin);
    QCOMPARE(e.helperPath, bin + QLatin1Char('/') + name);
    QCOMPARE(e.arguments, QStringList{e.helperPath});

    // Installed: ../libexec/tarvix/ from the program's folder, as a clean absolute path, which
    // pkexec compares with the polkit action's.
    QVERIFY(QFile::link(helper, libexec + QLatin1Char('/') + name));
    e = Platform::hostsElevation(bin);
    QCOMPARE(e.helperPath, libexec + QLatin1Char('/') + name);
    QVERIFY(!e.helperPath.contains(QStringLiteral("..")));
}

void tst_Helper::helperInNamespace_data()
{
    QTest::addColumn<QString>("layout");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<int>("status");          // -1: written, or refused with the file as it was
    QTest::addColumn<QByteArray>("expected"); // the hosts file afterwards

    const QByteArray next = "127.0.0.1 localhost\n#10.0.0.1 old-entry\n10.0.0.2 new-entry\n";
    const QByteArray framed = HostsHelper::frame(kOld, next);
    const QStringList none;
    QTest::newRow("frame replaces the file") << "file" << none << framed << int(HostsHelper::Written) << next;
    QTest::newRow("frame over a bind-mounted file, written in place")
        << "bound file" << none << framed << int(HostsHelper::Written) << next;
    QTest::newRow("empty frame empties the file (every row deleted)")
        << "file" << none << HostsHelper::frame(kOld, QByteArray()) << int(HostsHelper::Written)
        << QByteArray();
    QTest::newRow("missing file is created")
        << "missing" << none << HostsHelper::frame(QByteArray(), next) << int(HostsHelper::Written) << next;
    // The file changed while the password dialog was open: the window's base is not the file.
    const QByteArray localhost = "127.0.0.1 localhost\n";
    QTest::newRow("a line another program added meanwhile is kept")
        << "file" << none << HostsHelper::frame(localhost, localhost + "10.0.0.2 new-entry\n")
        << int(HostsHelper::Written) << kOld + "10.0.0.2 new-entry\n";
    QTest::newRow("a line the user changed was changed meanwhile: conflict")
        << "file" << none
        << HostsHelper::frame(localhost + "10.0.0.1 other-entry\n", localhost + "#10.0.0.1 other-entry\n")
        << int(HostsHelper::Conflict) << kOld;
    QTest::newRow("a missing file where the window read lines: conflict")
        << "missing" << none << framed << int(HostsHelper::Conflict) << QByteArray();
    QTest::newRow("a path as argument is refused") << "file" << QStringList{QStringLiteral("/tmp/elsewhere")}
                                                   << framed << int(HostsHelper::Usage) << kOld;
    QTest::newRow("--version is refused too")
        << "file" << QStringList{QStringLiteral("--version")} << framed << int(HostsHelper::Usage) << kOld;
    QTest::newRow("empty input") << "file" << none << QByteArray() << int(HostsHelper::BadInput) << kOld;
    QTest::newRow("bare content without frame")
        << "file" << none << next << int(HostsHelper::BadInput) << kOld;
    QTest::newRow("garbage") << "file" << none << garbage(4096) << int(HostsHelper::BadInput) << kOld;
    QTest::newRow("frame cut off") << "bound file" << none << framed.left(framed.size() - 5)
                                   << int(HostsHelper::BadInput) << kOld;
    QTest::newRow("bytes after the frame")
        << "file" << none << framed + "x" << int(HostsHelper::BadInput) << kOld;
    QTest::newRow("oversize: 256 MiB and one byte")
        << "file" << none << QByteArray("oversize") << int(HostsHelper::TooLarge) << kOld;
    QTest::newRow("symbolic link planted in its way")
        << "symlink" << none << framed << int(HostsHelper::UnsafeTarget) << kOld;
    QTest::newRow("folder that others can write")
        << "folder others can write" << none << framed << int(HostsHelper::UnsafeTarget) << kOld;
    // Root lifts the limit where it may (CAP_SYS_RESOURCE), and refuses to write otherwise: a
    // write beyond the limit would fail only at the flush, after the file was emptied.
    QTest::newRow("file size limit 0 set by the caller")
        << "file, no file size" << none << framed << -1 << next;
    // A full disk: the new content does not fit beside the old one.
    QTest::newRow("disk full") << "disk full" << none << framed << -1 << next;
    QTest::newRow("a folder in place of the file")
        << "directory" << none << framed << int(HostsHelper::UnsafeTarget) << QByteArray();
}

void tst_Helper::helperInNamespace()
{
    QFETCH(QString, layout);
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, input);
    QFETCH(int, status);
    QFETCH(QByteArray, expected);
    QStringList options;
    if (layout.endsWith(QLatin1String(", no file size"))) {
        options << QStringLiteral("--no-file-size");
        layout.chop(14);
    }
    QString why;
    if (!canRunHelperInNamespace(&why))
        QSKIP(qPrintable(why));

    // dir/etc stands in for /etc; dir/victim is what a planted link points to; dir/bound is
    // bound over /etc/hosts where containers bind a file.
    QTemporaryDir dir;
    struct Unmount {
        QString path;
        ~Unmount()
        {
            if (!path.isEmpty())
                QProcess::execute(QStringLiteral("umount"), {path});
        }
    } unmount;
    const QString etc = dir.filePath(QStringLiteral("etc"));
    const QString hosts = etc + QStringLiteral("/hosts");
    const QString victim = dir.filePath(QStringLiteral("victim"));
    const QString bound = dir.filePath(QStringLiteral("bound"));
    QVERIFY(QDir().mkdir(etc));
    QVERIFY(QFile::setPermissions(etc, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                           QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther |
                                           QFile::ExeOther));
    QVERIFY(writeBytes(victim, kOld));
    QString target = hosts;
    if (layout == QLatin1String("symlink")) {
        QVERIFY(QFile::link(victim, hosts));
        target = victim;
    } else if (layout == QLatin1String("directory")) {
        QVERIFY(QDir().mkdir(hosts));
    } else if (layout == QLatin1String("bound file")) {
        QVERIFY(writeBytes(hosts, ""));
        QVERIFY(writeBytes(bound, kOld));
        target = bound;
    } else if (layout == QLatin1String("disk full")) {
        // A file system of two pages: the hosts file takes one, a filler the rest.
        if (QProcess::execute(QStringLiteral("mount"),
                              {QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("-o"),
                               QStringLiteral("size=8k,mode=0755"), QStringLiteral("tmpfs"), etc}) != 0)
            QSKIP("a small tmpfs cannot be mounted here");
        unmount.path = etc;
        QVERIFY(writeBytes(hosts, kOld));
        QFile filler(etc + QStringLiteral("/filler"));
        QVERIFY(filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
        while (filler.write(QByteArray(512, 'f')) == 512) {
        }
        filler.close();
    } else if (layout != QLatin1String("missing")) {
        QVERIFY(writeBytes(hosts, kOld));
        QVERIFY(QFile::setPermissions(hosts, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup |
                                                 QFile::ReadOther));
    }
    if (layout == QLatin1String("folder others can write"))
        QCOMPARE(chmod(QFile::encodeName(etc).constData(), 0777), 0);

    // The input comes from a file; the oversize one is sparse and costs no disk.
    const QString inputPath = dir.filePath(QStringLiteral("input"));
    if (input == "oversize") {
        QFile file(inputPath);
        QVERIFY(file.open(QIODevice::WriteOnly));
        const QByteArray header =
            "TARVIX-HOSTS 2 0 " + QByteArray::number(HostsHelper::kMaxContent + 1) + '\n';
        QVERIFY(file.write(header) == header.size());
        QVERIFY(file.resize(header.size() + HostsHelper::kMaxContent + 1));
    } else {
        QVERIFY(writeBytes(inputPath, input));
    }
    const QStringList before =
        QDir(etc).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);

    QProcess helper;
    helper.start(QStringLiteral("sh"),
                 QStringList{QStringLiteral(TARVIX_TESTS "/helper-in-namespace.sh")} + options +
                     QStringList{etc, layout == QLatin1String("bound file") ? bound : QStringLiteral("-"),
                                 inputPath, QStringLiteral(TARVIX_HELPER)} +
                     arguments);
    QVERIFY(helper.waitForFinished(120000));
    const QString said = QString::fromUtf8(helper.readAllStandardError());
    QVERIFY2(helper.exitCode() != 125, "the stand-in for /etc could not be put in place");
    if (status < 0) {
        // Either outcome can be right: a success must be true (it is checked against the file
        // below), and a refusal must leave the file as it was.
        status = helper.exitCode() == HostsHelper::WriteFailed ? int(HostsHelper::WriteFailed)
                                                               : int(HostsHelper::Written);
        if (status == HostsHelper::WriteFailed)
            expected = kOld;
        qInfo("%s", qPrintable(said.trimmed().isEmpty() ? QStringLiteral("written") : said.trimmed()));
    }
    QVERIFY2(helper.exitStatus() == QProcess::NormalExit, qPrintable(said));
    QVERIFY2(helper.exitCode() == status,
             qPrintable(QStringLiteral("exit %1: %2").arg(helper.exitCode()).arg(said)));
    // A clear status: a failure says why on standard error, a success says nothing.
    QCOMPARE(said.trimmed().isEmpty(), status == HostsHelper::Written);

    if (layout == QLatin1String("symlink"))
        QVERIFY2(said.contains(QStringLiteral("符号链接")), qPrintable(said));
    if (layout == QLatin1String("directory")) {
        QVERIFY(QFileInfo(hosts).isDir());
    } else if (!QFileInfo::exists(target)) {
        QVERIFY(expected.isEmpty()); // still missing
    } else {
        QCOMPARE(readBytes(target), expected);
    }
    // Nothing else was written: the folder holds what it held (the hosts file, which a save
    // may have created), no temporary file is left, a planted link is still a link.
    QStringList after =
        QDir(etc).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    QStringList expectedEntries = before;
    if (layout == QLatin1String("missing") && status == HostsHelper::Written)
        expectedEntries << QStringLiteral("hosts");
    QCOMPARE(after, expectedEntries);
    QCOMPARE(readBytes(victim), kOld);
    if (layout == QLatin1String("symlink"))
        QVERIFY(QFileInfo(hosts).isSymLink());
    if (layout == QLatin1String("missing") && status == HostsHelper::Written)
        QCOMPARE(QFileInfo(hosts).permissions() & 0x7777, QFile::ReadOwner | QFile::WriteOwner |
                                                              QFile::ReadUser | QFile::WriteUser |
                                                              QFile::ReadGroup | QFile::ReadOther);
    if (layout == QLatin1String("file") && status == HostsHelper::Written)
        QCOMPARE(QFileInfo(hosts).permissions() & 0x7777, QFile::ReadOwner | QFile::WriteOwner |
                                                              QFile::ReadUser | QFile::WriteUser |
                                                              QFile::ReadGroup | QFile::ReadOther);
}

QTEST_GUILESS_MAIN(tst_Helper)
#include "tst_helper.moc"
