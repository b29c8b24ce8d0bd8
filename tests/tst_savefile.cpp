// Saving a whole file: replaced with its properties kept, or written in place behind a kept
// copy; faults injected through a file system of the tests' own (TestFileSystem), and backups.
#include "TestMain.h"
#include "Privileges.h"
#include "TestFiles.h"
#include "core/hosts/HostsBackups.h"
#include "platform/KeptCopy.h"
#include "platform/TextFile.h"
#ifndef Q_OS_WIN
#include "TestFileSystem.h"
#include "platform/SafeSave.h"
#endif

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <errno.h>
#include <string.h>
#ifndef Q_OS_WIN
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>
#endif

namespace {

QByteArray blocklist(int lines, const char* name = "ads")
{
    QByteArray out = "# generated blocklist\n";
    for (int i = 0; i < lines - 1; ++i)
        out += "0.0.0.0 " + QByteArray(name) + QByteArray::number(i) + ".tracker.example.com\n";
    return out;
}

QStringList entries(const QString& dir)
{
    QStringList names = QDir(dir).entryList(QDir::Files | QDir::Hidden | QDir::System);
    names.sort();
    return names;
}

#ifndef Q_OS_WIN
struct stat statOf(const QString& path)
{
    struct stat st;
    memset(&st, 0, sizeof st);
    ::stat(QFile::encodeName(path).constData(), &st);
    return st;
}

// A second name for path: a save must then write the file in place.
bool addHardLink(const QString& path)
{
    return ::link(QFile::encodeName(path).constData(),
                  QFile::encodeName(path + QStringLiteral(".link")).constData()) == 0;
}

#endif

QString reason(int err)
{
    return QString::fromLocal8Bit(strerror(err));
}

#ifndef Q_OS_WIN
// A fault that sends the save in place, as a bind-mounted file does: the rename over it fails.
void renameFailsAsOverBindMount(TestFileSystem& fs)
{
    fs.fail(QStringLiteral("rename"), QStringLiteral(".hosts.tarvix-new.* > hosts"), EBUSY);
}
#endif

// What Windows does not do: the save over POSIX calls, with its kept copy and its recovery,
// and file properties that only Unix has.
const char* const kPosixSave = "Windows replaces the file through QSaveFile and keeps no copy on disk";

} // namespace

class tst_SaveFile : public QObject
{
    Q_OBJECT

private slots:
    void saveReplacesAndKeepsPermissions();
    void saveFollowsSymbolicLink();
    void saveFailures_data();
    void saveFailures();
    void replaceFlushesFileBeforeRenameAndFolderAfter();
    void inPlaceKeepsCopyUntilNewContentIsOnDisk();
    void writeFaultLeavesOldContent_data();
    void writeFaultLeavesOldContent();
    void readBackMismatchPutsOldContentBack();
    void errorsNameTheSystemsReason_data();
    void errorsNameTheSystemsReason();
    void propertiesThatCannotBeCopiedMeanInPlace();
    void leftoverTemporaryFileRemovedByNextSave();
    void stopAtEveryCallThenRecover_data();
    void stopAtEveryCallThenRecover();
    void recoveryTellsWhatItFound_data();
    void recoveryTellsWhatItFound();
    void tornOrChangedSince_data();
    void tornOrChangedSince();
    void saveAfterCutOffSaveRestoresFirst();
    void propertiesKeptAcrossReplace_data();
    void propertiesKeptAcrossReplace();
    void hardLinkWrittenInPlace();
    void saveOverBindMount();
    void backupsRotateAtTwenty();
    void backupsOrderAndOtherFiles();
};

void tst_SaveFile::saveReplacesAndKeepsPermissions()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("hosts"));
    QVERIFY(writeBytes(path, "old\n"));
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);
    const QFile::Permissions before = QFile::permissions(path);
    QString error;
    QVERIFY2(TextFile::save(path, "new content\n", &error), qPrintable(error));
    QCOMPARE(readBytes(path), QByteArray("new content\n"));
    QCOMPARE(QFile::permissions(path), before);
    QCOMPARE(entries(dir.path()), QStringList{QStringLiteral("hosts")});
}

void tst_SaveFile::saveFollowsSymbolicLink()
{
#ifdef Q_OS_WIN
    QSKIP(kPosixSave);
#else
    QTemporaryDir dir;
    const QString target = dir.filePath(QStringLiteral("real-hosts"));
    const QString link = dir.filePath(QStringLiteral("hosts"));
    QVERIFY(writeBytes(target, "old\n"));
    QVERIFY(QFile::link(target, link));
    QString error;
    QVERIFY2(TextFile::save(link, "new\n", &error), qPrintable(error));
    QVERIFY(QFileInfo(link).isSymLink());
    QCOMPARE(readBytes(target), QByteArray("new\n"));
#endif
}

void tst_SaveFile::saveFailures_data()
{
    QTest::addColumn<QString>("relative");
    QTest::addColumn<QString>("reason");
    QTest::addColumn<bool>("asRoot"); // with the rights that override file permissions, as the helper
    QTest::newRow("folder missing") << "missing/hosts" << reason(ENOENT) << false;
    QTest::newRow("folder is a file") << "file/hosts" << reason(ENOTDIR) << false;
    QTest::newRow("path is a folder") << "folder" << QStringLiteral("不是普通文件") << false;
    // Made read-only by its owner in a folder the user may write: not replaced behind its back.
    QTest::newRow("read-only file (0444)") << "read-only" << reason(EACCES) << false;
#ifndef Q_OS_WIN
    if (geteuid() == 0)
        QTest::newRow("read-only file (0444), saved as root") << "read-only" << reason(EACCES) << true;
#endif
}

void tst_SaveFile::saveFailures()
{
    QFETCH(QString, relative);
    QFETCH(QString, reason);
    QFETCH(bool, asRoot);
    QTemporaryDir dir;
    QVERIFY(writeBytes(dir.filePath(QStringLiteral("file")), "keep\n"));
    QDir(dir.path()).mkdir(QStringLiteral("folder"));
    const QString readOnly = dir.filePath(QStringLiteral("read-only"));
    QVERIFY(writeBytes(readOnly, "keep\n"));
    QVERIFY(QFile::setPermissions(readOnly, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
    QString error;
    if (asRoot) {
        QVERIFY(!TextFile::save(dir.filePath(relative), "new\n", &error));
    } else {
        const WithoutFileOverride asUser; // root writes a read-only file: the system lets it
        QVERIFY(!TextFile::save(dir.filePath(relative), "new\n", &error));
    }
#ifdef Q_OS_WIN
    // The system's reason in the system's language ("找不到路径。"), after the path.
    if (reason != QStringLiteral("不是普通文件"))
        reason = QDir::toNativeSeparators(dir.filePath(relative)) + QStringLiteral(": ");
#endif
    QVERIFY2(error.contains(reason), qPrintable(error));
    QCOMPARE(readBytes(dir.filePath(QStringLiteral("file"))), QByteArray("keep\n"));
    QCOMPARE(readBytes(readOnly), QByteArray("keep\n"));
    QVERIFY(!(QFile::permissions(readOnly) & (QFile::WriteOwner | QFile::WriteGroup | QFile::WriteOther)));
}

void tst_SaveFile::replaceFlushesFileBeforeRenameAndFolderAfter()
{
#ifdef Q_OS_WIN
    QSKIP(kPosixSave);
#else
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("hosts"));
    QVERIFY(writeBytes(path, "old\n"));
    TestFileSystem fs;
    QString error;
    QVERIFY2(SafeSave(fs).save(path, blocklist(100000), &error), qPrintable(error));
    const QString temp = QStringLiteral(".hosts.tarvix-new.*");
    const int lastWrite = fs.lastIndexOf(QStringLiteral("pwrite ") + temp);
    const int flush = fs.indexOf(QStringLiteral("fsync ") + temp);
    const int rename = fs.indexOf(QStringLiteral("rename ") + temp + QStringLiteral(" > hosts"));
    const int folderFlush = fs.indexOf(QStringLiteral("fsync folder"), rename);
    QVERIFY2(lastWrite >= 0 && flush > lastWrite, qPrintable(fs.calls.join(QLatin1Char('\n'))));
    QVERIFY2(rename > flush, qPrintable(fs.calls.join(QLatin1Char('\n'))));
    QVERIFY2(folderFlush > rename, qPrintable(fs.calls.join(QLatin1Char('\n'))));
    QCOMPARE(readBytes(path), blocklist(100000));
#endif
}

void tst_SaveFile::inPlaceKeepsCopyUntilNewContentIsOnDisk()
{
#ifdef Q_OS_WIN
    QSKIP(kPosixSave);
#else
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("hosts"));
    QVERIFY(writeBytes(path, blocklist(100000)));
    TestFileSystem fs;
    renameFailsAsOverBindMount(fs);
    QString error;
    QVERIFY2(SafeSave(fs).save(path, "short\n", &error), qPrintable(error));
    QCOMPARE(readBytes(path), QByteArray("short\n"));
    const QString all = fs.calls.join(QLatin1Char('\n'));
    const int copyFlush = fs.indexOf(QStringLiteral("fsync .hosts.tarvix-kept.new"));
    const int copyRename = fs.indexOf(QStringLiteral("rename .hosts.tarvix-kept.new > .hosts.tarvix-kept"));
    const int folderFlush = fs.indexOf(QStringLiteral("fsync folder"), copyRename);
    const int firstWrite = fs.indexOf(QStringLiteral("pwrite hosts"));
    const int truncate = fs.indexOf(QStringLiteral("ftruncate hosts"));
    const int flush = fs.indexOf(QStringLiteral("fsync hosts"));
    const int readBack = fs.indexOf(QStringLiteral("pread hosts"), flush);
    const int drop = fs.indexOf(QStringLiteral("unlink .hosts.tarvix-kept"));
    QVERIFY2(copyFlush >= 0 && copyRename > copyFlush, qPrintable(all));
    QVERIFY2(folderFlush > copyRename && firstWrite > folderFlush, qPrintable(all));
    QVERIFY2(truncate > firstWrite && flush > truncate, qPrintable(all));
    QVERIFY2(readBack > flush && drop > readBack, qPrintable(all));
    // The copy's removal reaches the disk too: a power cut must not bring it back.
    QVERIFY2(fs.indexOf(QStringLiteral("fsync folder"), drop) > drop, qPrintable(all));
    QCOMPARE(entries(dir.path()), QStringList{QStringLiteral("hosts")});
#endif
}

void tst_SaveFile::writeFaultLeavesOldContent_data()
{
#ifdef Q_OS_WIN
    QSKIP(kPosixSave);
#else
    QTest::addColumn<bool>("inPlace");
    QTest::addColumn<qint64>("after"); // bytes written before the disk is full
    for (bool inPlace : {false, true}) {
        for (qint64 after : {0, 1, 4096, 1 << 20, (1 << 20) + 17, 3 << 20}) {
            QTest::addRow("%s, disk full after %lld bytes", inPlace ? "in place" : "replaced", after)
                << inPlace << after;
        }
    }
#endif
}

void tst_SaveFile::writeFaultLeavesOldContent()
{
#ifdef Q_OS_WIN
    QSKIP(kPosixSave);
#else
    QFETCH(bool, inPlace);
    QFETCH(qint64, after);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("hosts"));
    const QByteArray old = blocklist(90000, "old");
    const QByteArray next = blocklist(100000, "new"); // about 4 MB: several pieces
    QVERIFY(writeBytes(path, old));
    TestFileSystem fs;
    if (inPlace)
        renameFailsAsOverBindMount(fs);
    fs.fail(QStringLiteral("pwrite"),
            inPlace ? QStringLiteral("hosts") : QStringLiteral(".hosts.tarvix-new.*"), ENOSPC)
        .afterBytes = after;
    QString error;
    QVERIFY(!SafeSave(fs).save(path, next, &error));
    QVERIFY2(error.contains(reason(ENOSPC)), qPrintable(error));
    QVERIFY(readBytes(path) == old);
    QCOMPARE(entries(dir.path()), QStringList{QStringLiteral("hosts")});
#endif
}

void tst_SaveFile::readBackMismatchPutsOldContentBack()
{
#ifdef Q_OS_WIN
    QSKIP(kPosixSave);
#else
    // A disk that writes other bytes than it was given, and says it wrote them.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("hosts"));
    QVERIFY(writeBytes(path, "old content\n"));
    TestFileSystem fs;
    renameFailsAsOverBindMount(fs);
    fs.fail(QStringLiteral("pwrite"), QStringLiteral("hosts"), 0).flip = true;
    QString error;
    QVERIFY(!SafeSave(fs).save(path, "new content, longer than the old\n", &error));
    QVERIFY2(error.contains(QStringLiteral("读回的内容与要保存的不一致")), qPrintable(error));
    QVERIFY2(error.contains(QStringLiteral("文件仍是原来的内容")), qPrintable(error));
    QCOMPARE(readBytes(path), QByteArray("old content\n"));
    QCOMPARE(entries(dir.path()), QStringList{QStringLiteral("hosts")});
#endif
}

void tst_SaveFile::errorsNameTheSystemsReason_data()
{
#ifdef Q_OS_WIN
    QSKIP(kPosixSave);
#else
    QTest::addColumn<QStringList>("faults"); // call, name, errno; call, name, errno; ...
    QTest::addColumn<int>("named");          // the errno whose text the message must hold
    QTest::newRow("no space for the temporary file")
        << QStringList{"pwrite", ".hosts.tarvix-new.*", QString::number(ENOSPC)} << ENOSPC;
    QTest::newRow("temporary file cannot be flushed")
        << QStringList{"fsync", ".hosts.tarvix-new.*", QString::number(EIO)} << EIO;
    QTest::newRow("read-only in place after a failed rename")
        << QStringList{"rename", ".hosts.tarvix-new.* > hosts", QString::number(EBUSY), "openrw",
                       "hosts",  QString::number(EROFS)}
        << EROFS;
    QTest::newRow("no rights for a temporary file nor in place")
        << QStringList{"openrw", ".hosts.tarvix-new.*",  QString::number(EACCES), "openrw",
                       "hosts",  QString::number(EACCES)}
        << EACCES;
    QTest::newRow("no space for the kept copy")
        << QStringList{"rename", ".hosts.tarvix-new.* > hosts", QString::number(EBUSY),
                       "pwrite", ".hosts.tarvix-kept.new",      QString::number(ENOSPC)}
        << ENOSPC;
    QTest::newRow("truncating in place fails")
        << QStringList{"rename", ".hosts.tarvix-new.* > hosts", QString::number(EBUSY), "ftruncate",
                       "hosts",  QString::number(EIO)}
        << EIO;
    QTest::newRow("flushing in place fails")
        << QStringList{"rename", ".hosts.tarvix-new.* > hosts", QString::number(EBUSY), "fsync",
                       "hosts",  QString::number(EDQUOT)}
        << EDQUOT;
#endif
}

void tst_SaveFile::errorsNameTheSystemsReason()
{
#ifdef Q_OS_WIN
    QSKIP(kPosixSave);
#else
    QFETCH(QStringList, faults);
    QFETCH(int, named);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("hosts"));
    const QByteArray old = blocklist(1000, "old");
    QVERIFY(writeBytes(path, old));
    TestFileSystem fs;
    for (int i = 0; i + 2 < faults.size(); i += 3)
        fs.fail(faults[i], faults[i + 1], faults[i + 2].toInt());
    QString error;
    QVERIFY(!SafeSave(fs).save(path, blocklist(2000, "new"), &error));
    QVERIFY2(error.contains(reason(named)), qPrintable(error));
    QVERIFY2(!error.contains(QLatin1String("Unknown error")), qPrintable(error));
    QVERIFY2(error.startsWith(dir.path()), qPrintable(error));
    QVERIFY(readBytes(path) == old);
    QCOMPARE(entries(dir.path()), QStringList{QStringLiteral("hosts")});
#endif
}

void tst_SaveFile::propertiesThatCannotBeCopiedMeanInPlace()
{
#ifdef Q_OS_WIN
    QSKIP(kPosixSave);
#else
    // Where the new file could not take the old one's owner, the file is written in place and
    // keeps all it is.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("hosts"));
    QVERIFY(writeBytes(path, "old\n"));
    if (geteuid() == 0)
        QCOMPARE(::chown(QFile::encodeName(path).constData(), 1000, 1000), 0);
    const ino_t inode = statOf(path).st_ino;
    TestFileSystem fs;
    fs.fail(QStringLiteral("fchown"), QString(), EPERM);
    fs.fail(QStringLiteral("fchmod"), QString(), EPERM); // where no owner had to change
    QString error;
    QVERIFY2(SafeSave(fs).save(path, "new\n", &error), qPrintable(error));
    QCOMPARE(readBytes(path), QByteArray("new\n"));
    QCOMPARE(statOf(path).st_ino, inode);
    QCOMPARE(entries(dir.path()), QStringList{QStringLiteral("hosts")});
#endif
}

void tst_SaveFile::leftoverTemporaryFileRemovedByNextSave()
{
#ifdef Q_OS_WIN
    QSKIP(kPosixSave);
#else
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("hosts"));
    QVERIFY(writeBytes(path, "old\n"));
    QVERIFY(writeBytes(dir.filePath(QStringLiteral(".hosts.tarvix-new.k1ll3d")), "half a sa"));
    QVERIFY(writeBytes(dir.filePath(QStringLiteral(".other.tarvix-new.k1ll3d")), "not ours to remove"));
    QString error;
    QVERIFY2(TextFile::save(path, "new\n", &error), qPrintable(error));
    QCOMPARE(entries(dir.path()),
             (QStringList{QStringLiteral(".other.tarvix-new.k1ll3d"), QStringLiteral("hosts")}));
#endif
}

void tst_SaveFile::stopAtEveryCallThenRecover_data()
{
#ifdef Q_OS_WIN
    QSKIP(kPosixSave);
#else
    QTest::addColumn<bool>("inPlace");
    QTest::newRow("replaced") << false;
    QTest::newRow("in place") << true;
#endif
}

void tst_SaveFile::stopAtEveryCallThenRecover()
{
#ifdef Q_OS_WIN
    QSKIP(kPosixSave);
#else
    // The process stops for good after call n of a save, for every n: what the program finds
    // at its next start is the old file or the new one, never a mixture.
    QFETCH(bool, inPlace);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("hosts"));
    const QByteArray old = blocklist(60000, "old"); // longer than the new: a truncate is needed
    const QByteArray next = blocklist(50000, "new");
    QVERIFY(writeBytes(path, old));
    if (inPlace)
        QVERIFY(addHardLink(path));
    int calls = 0;
    {
        TestFileSystem fs;
        QString error;
        QVERIFY2(SafeSave(fs).save(path, next, &error), qPrintable(error));
        calls = int(fs.calls.size());
        QVERIFY(!inPlace || fs.indexOf(QStringLiteral("ftruncate hosts")) >= 0);
    }
    int torn = 0, restored = 0;
    for (int n = 0; n <= calls; ++n) {
        QVERIFY(writeBytes(path, old));
        TestFileSystem fs;
        fs.freezeAfter = n;
        QString error;
        SafeSave(fs).save(path, next, &error);
        const QByteArray left = readBytes(path);
        torn += left != old && left != next;
        QString message;
        restored += TextFile::recover(path, &message) == TextFile::Recovery::Restored;
        const QByteArray after = readBytes(path);
        QVERIFY2(after == old || after == next, qPrintable(QStringLiteral("stopped after call %1").arg(n)));
        QVERIFY(!QFile::exists(TextFile::keptCopyPath(path)));
        if (inPlace)
            QCOMPARE(readBytes(path + QStringLiteral(".link")), after);
    }
    qInfo("%d stopping points, %d left a torn file, %d restored", calls + 1, torn, restored);
    QVERIFY(!inPlace || torn > 0); // the test reached the moments that matter
    QString error;
    QVERIFY2(TextFile::save(path, next, &error), qPrintable(error));
    QCOMPARE(entries(dir.path()).size(), inPlace ? 2 : 1); // temporary files of the stopped saves are gone
#endif
}

void tst_SaveFile::recoveryTellsWhatItFound_data()
{
#ifdef Q_OS_WIN
    QSKIP(kPosixSave);
#else
    QTest::addColumn<QString>("stopAt");                   // the save stops right before this call
    QTest::addColumn<QByteArray>("then");  // appended to the file afterwards, as a VPN client does
    QTest::addColumn<int>("recovery");     // TextFile::Recovery
    QTest::addColumn<QString>("message");  // part of the message
    QTest::addColumn<QByteArray>("holds"); // "old", "new", or "left": the file as the stop and then left it
    QTest::addColumn<QString>("variant");  // "longer": the new content is longer than the old;
                                           // "keep fails": the old content cannot be kept elsewhere
    const QByteArray none;
    QTest::newRow("before the kept copy is complete")
        << "fsync .hosts.tarvix-kept.new" << none << int(TextFile::Recovery::Nothing) << QString()
        << QByteArray("old") << QString();
    QTest::newRow("kept, file untouched") << "pwrite hosts" << none << int(TextFile::Recovery::Restored)
                                          << QStringLiteral("文件没有改动") << QByteArray("old") << QString();
    QTest::newRow("at the truncate") << "ftruncate hosts" << none << int(TextFile::Recovery::Restored)
                                     << QStringLiteral("文件已从保留的副本恢复") << QByteArray("old")
                                     << QString();
    QTest::newRow("written, not yet flushed") << "fsync hosts" << none << int(TextFile::Recovery::Nothing)
                                              << QString() << QByteArray("new") << QString();
    QTest::newRow("only the kept copy left")
        << "unlink .hosts.tarvix-kept" << none << int(TextFile::Recovery::Nothing) << QString()
        << QByteArray("new") << QString();
    // Changed again after the cut-off save: the later lines stay, the old content is kept elsewhere.
    QTest::newRow("completed, then a line appended")
        << "unlink .hosts.tarvix-kept" << QByteArray("10.8.0.1 vpn\n") << int(TextFile::Recovery::Kept)
        << QStringLiteral("之后文件又被修改过") << QByteArray("left") << QString();
    QTest::newRow("torn, then a line appended")
        << "ftruncate hosts" << QByteArray("10.8.0.1 vpn\n") << int(TextFile::Recovery::Kept)
        << QStringLiteral("保存前的内容已放在") << QByteArray("left") << QString();
    QTest::newRow("untouched, then a line appended")
        << "pwrite hosts" << QByteArray("10.8.0.1 vpn\n") << int(TextFile::Recovery::Kept)
        << QStringLiteral("文件保持现在的内容") << QByteArray("left") << QString();
    // A line appended to the old content leaves a size between the old and a longer new one.
    QTest::newRow("new content longer: untouched, then a line appended")
        << "pwrite hosts" << QByteArray("10.8.0.1 vpn\n") << int(TextFile::Recovery::Kept)
        << QStringLiteral("文件保持现在的内容") << QByteArray("left") << QStringLiteral("longer");
    // Neither content may be lost: the file and the kept copy stay as they are.
    QTest::newRow("changed since, and the old content cannot be kept elsewhere")
        << "pwrite hosts" << QByteArray("10.8.0.1 vpn\n") << int(TextFile::Recovery::Failed)
        << QStringLiteral("保存前的内容在") << QByteArray("left") << QStringLiteral("keep fails");
#endif
}

void tst_SaveFile::recoveryTellsWhatItFound()
{
#ifdef Q_OS_WIN
    QSKIP(kPosixSave);
#else
    QFETCH(QString, stopAt);
    QFETCH(QByteArray, then);
    QFETCH(int, recovery);
    QFETCH(QString, message);
    QFETCH(QByteArray, holds);
    QFETCH(QString, variant);
    QTemporaryDir dir, elsewhere;
    const QString path = dir.filePath(QStringLiteral("hosts"));
    const QByteArray old = "127.0.0.1 localhost\n10.0.0.1 deleted-by-the-user\n";
    const QByteArray next = variant == QLatin1String("longer")
                                ? old + "10.9.9.9 added-by-the-user\n10.9.9.10 and-another-one\n"
                                : QByteArray("::1 localhost\n");
    QVERIFY(writeBytes(path, old));
    TestFileSystem fs;
    renameFailsAsOverBindMount(fs);
    bool stopped = false;
    fs.beforeCall = [&](const QString& call) {
        if (!stopped && call == stopAt) {
            stopped = true;
            fs.freezeAfter = 0; // this call and all after it do nothing
        }
    };
    QString error;
    QVERIFY(!SafeSave(fs).save(path, next, &error) || stopAt.startsWith(QLatin1String("unlink")));
    QVERIFY(stopped);
    QFile file(path);
    QVERIFY(file.open(QIODevice::Append) && file.write(then) == then.size());
    file.close();
    const QByteArray left = readBytes(path);
    // A temporary file of a replacing save killed before its rename.
    QVERIFY(writeBytes(dir.filePath(QStringLiteral(".hosts.tarvix-new.k1ll3d")), next));
    QString text;
    const QString keptOld = elsewhere.filePath(QStringLiteral("old"));
    auto keepOld = [&](const QByteArray& bytes, QString* where, QString* why) {
        *where = keptOld;
        if (variant == QLatin1String("keep fails")) {
            *why = keptOld + QStringLiteral(": No space left on device");
            return false;
        }
        return TextFile::writeNew(keptOld, bytes, why);
    };
    const QByteArray keptBefore = readBytes(TextFile::keptCopyPath(path));
    QCOMPARE(int(TextFile::recover(path, &text, keepOld)), recovery);
    QVERIFY2(text.contains(message), qPrintable(text));
    if (!message.isEmpty())
        QVERIFY2(text.startsWith(path), qPrintable(text));
    QCOMPARE(readBytes(path), holds == "old" ? old : holds == "new" ? next : left);
    if (recovery == int(TextFile::Recovery::Kept)) {
        QVERIFY2(text.contains(keptOld), qPrintable(text));
        QCOMPARE(readBytes(keptOld), old);
    }
    if (recovery == int(TextFile::Recovery::Failed)) {
        QVERIFY2(text.contains(QStringLiteral("No space left on device")), qPrintable(text));
        QCOMPARE(readBytes(TextFile::keptCopyPath(path)), keptBefore);
        QCOMPARE(entries(dir.path()),
                 (QStringList{QStringLiteral(".hosts.tarvix-kept"), QStringLiteral("hosts")}));
        return;
    }
    QCOMPARE(entries(dir.path()), QStringList{QStringLiteral("hosts")});
#endif
}

void tst_SaveFile::tornOrChangedSince_data()
{
    // What recovery finds, with the kept copy's old and new content: both systems decide so.
    QTest::addColumn<QByteArray>("old");
    QTest::addColumn<QByteArray>("next");
    QTest::addColumn<QByteArray>("now");
    QTest::addColumn<int>("found"); // KeptCopy::Found
    const int newContent = int(KeptCopy::Found::NewContent), oldContent = int(KeptCopy::Found::OldContent),
              torn = int(KeptCopy::Found::Torn), changed = int(KeptCopy::Found::ChangedSince);
    const QByteArray old = "10.0.0.1 a\n10.0.0.2 b\n";
    const QByteArray shorter = "#10.0.0.1 a\n";
    const QByteArray longer = "#10.0.0.1 a\n10.0.0.2 b\n10.0.0.3 c\n";
    QTest::newRow("the new content, complete") << old << longer << longer << newContent;
    QTest::newRow("the old content, untouched") << old << longer << old << oldContent;
    QTest::newRow("shorter: the new content over the old one's rest")
        << old << shorter << shorter + old.mid(12) << torn;
    QTest::newRow("longer: a prefix of the new content over the old one's rest")
        << old << longer << longer.left(5) + old.mid(5) << torn;
    QTest::newRow("longer: cut off past the old end") << old << longer << longer.left(30) << torn;
    QTest::newRow("longer: pages written out of order")
        << old << longer << old.left(12) + longer.mid(12) << torn;
    QTest::newRow("longer: the new content's start, then zero bytes")
        << old << longer << longer.left(10) + old.mid(10) + QByteArray(longer.size() - old.size(), '\0')
        << torn;
    QTest::newRow("cut short to nothing") << old << longer << QByteArray() << torn;
    QTest::newRow("longer: a line appended to the old content") << old << longer << old + "10.8.0.1 vpn\n"
                                                                << changed;
    QTest::newRow("zero bytes within the old content")
        << old << shorter << QByteArray(old.size(), '\0') << changed;
    QTest::newRow("one byte neither old nor new")
        << old << longer << QByteArray(old).replace('b', 'x') << changed;
    QTest::newRow("longer than both") << old << longer << longer + "\n" << changed;
    QTest::newRow("shorter than both") << old << longer << shorter.left(5) << changed;
}

void tst_SaveFile::tornOrChangedSince()
{
    QFETCH(QByteArray, old);
    QFETCH(QByteArray, next);
    QFETCH(QByteArray, now);
    QFETCH(int, found);
    QCOMPARE(int(KeptCopy::classify(now.constData(), size_t(now.size()), old.constData(), size_t(old.size()),
                                    next.constData(), size_t(next.size()))),
             found);
}

void tst_SaveFile::saveAfterCutOffSaveRestoresFirst()
{
#ifdef Q_OS_WIN
    QSKIP(kPosixSave);
#else
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("hosts"));
    QVERIFY(writeBytes(path, "old\nold\n"));
    TestFileSystem fs;
    renameFailsAsOverBindMount(fs);
    fs.beforeCall = [&](const QString& call) {
        if (call == QLatin1String("ftruncate hosts"))
            fs.freezeAfter = 0;
    };
    QString error;
    QVERIFY(!SafeSave(fs).save(path, "new\n", &error));
    QCOMPARE(readBytes(path), QByteArray("new\nold\n")); // torn, as a kill would leave it
    // The next save, by any program that saves this way, puts the old content back and stops:
    // its bytes were made from something else.
    QVERIFY(!TextFile::save(path, "other\n", &error));
    QVERIFY2(error.contains(QStringLiteral("请重新读取后再保存")), qPrintable(error));
    QCOMPARE(readBytes(path), QByteArray("old\nold\n"));
    QVERIFY2(TextFile::save(path, "other\n", &error), qPrintable(error));
    QCOMPARE(readBytes(path), QByteArray("other\n"));
#endif
}

void tst_SaveFile::propertiesKeptAcrossReplace_data()
{
#ifdef Q_OS_WIN
    QSKIP(kPosixSave);
#else
    QTest::addColumn<QString>("property");
    QTest::newRow("mode 0640") << "mode 0640";
    QTest::newRow("owner 1000:1000") << "owner";
    QTest::newRow("setuid bit") << "setuid";
    QTest::newRow("user xattr") << "user.tarvix.note";
    QTest::newRow("trusted xattr, as security.selinux is kept") << "trusted.tarvix.label";
#endif
}

void tst_SaveFile::propertiesKeptAcrossReplace()
{
#ifdef Q_OS_WIN
    QSKIP(kPosixSave);
#else
    QFETCH(QString, property);
    if (geteuid() != 0)
        QSKIP("giving a file another owner, a setuid bit or a trusted.* attribute needs root");
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("hosts"));
    const QByteArray encoded = QFile::encodeName(path);
    QVERIFY(writeBytes(path, "old\n"));
    QCOMPARE(::chmod(encoded.constData(), 0644), 0);
    const QByteArray value = "kept across a save";
    if (property == QLatin1String("mode 0640")) {
        QCOMPARE(::chmod(encoded.constData(), 0640), 0);
    } else if (property == QLatin1String("owner")) {
        QCOMPARE(::chown(encoded.constData(), 1000, 1000), 0);
    } else if (property == QLatin1String("setuid")) {
        QCOMPARE(::chown(encoded.constData(), 1000, 1000), 0);
        QCOMPARE(::chmod(encoded.constData(), 04755), 0);
    } else if (::setxattr(encoded.constData(), qPrintable(property), value.constData(), size_t(value.size()),
                          0) != 0) {
        QSKIP(qPrintable(
            QStringLiteral("the file system takes no %1 attribute: %2").arg(property, reason(errno))));
    }
    const struct stat before = statOf(path);
    QString error;
    QVERIFY2(TextFile::save(path, "new\n", &error), qPrintable(error));
    const struct stat after = statOf(path);
    QCOMPARE(readBytes(path), QByteArray("new\n"));
    QVERIFY(after.st_ino != before.st_ino); // replaced, not written in place
    QCOMPARE(after.st_mode, before.st_mode);
    QCOMPARE(after.st_uid, before.st_uid);
    QCOMPARE(after.st_gid, before.st_gid);
    if (property.contains(QLatin1Char('.'))) {
        char got[64] = {};
        const ssize_t n = ::getxattr(encoded.constData(), qPrintable(property), got, sizeof got);
        QCOMPARE(QByteArray(got, int(qMax<ssize_t>(n, 0))), value);
    }
#endif
}

void tst_SaveFile::hardLinkWrittenInPlace()
{
#ifdef Q_OS_WIN
    QSKIP(kPosixSave);
#else
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("hosts"));
    QVERIFY(writeBytes(path, "old\n"));
    QVERIFY(addHardLink(path));
    const struct stat before = statOf(path);
    QString error;
    QVERIFY2(TextFile::save(path, "new\n", &error), qPrintable(error));
    const struct stat after = statOf(path);
    QCOMPARE(after.st_ino, before.st_ino);
    QCOMPARE(after.st_nlink, nlink_t(2));
    QCOMPARE(readBytes(path + QStringLiteral(".link")), QByteArray("new\n"));
    QCOMPARE(entries(dir.path()), (QStringList{QStringLiteral("hosts"), QStringLiteral("hosts.link")}));
#endif
}

void tst_SaveFile::saveOverBindMount()
{
#ifdef Q_OS_WIN
    QSKIP(kPosixSave);
#else
    // Containers mount /etc/hosts this way: a rename over it fails, a write in place works.
    if (geteuid() != 0 ||
        QProcess::execute(QStringLiteral("sh"),
                          {QStringLiteral("-c"), QStringLiteral("command -v mount >/dev/null")}) != 0)
        QSKIP("needs root and mount");
    QTemporaryDir dir;
    const QString source = dir.filePath(QStringLiteral("source"));
    const QString path = dir.filePath(QStringLiteral("hosts"));
    QVERIFY(writeBytes(source, "old\n"));
    QVERIFY(writeBytes(path, ""));
    if (QProcess::execute(QStringLiteral("mount"), {QStringLiteral("--bind"), source, path}) != 0)
        QSKIP("bind mounts are not allowed here");
    QString error;
    const bool ok = TextFile::save(path, "new\n", &error);
    const QByteArray afterWritable = readBytes(source);
    // Read-only: nothing can be written, and the old bytes stay.
    const bool readOnly =
        QProcess::execute(QStringLiteral("mount"),
                          {QStringLiteral("-o"), QStringLiteral("remount,ro,bind"), path}) == 0;
    QString roError;
    const bool roOk = readOnly && TextFile::save(path, "other\n", &roError);
    const QByteArray afterReadOnly = readBytes(source);
    QProcess::execute(QStringLiteral("umount"), {path});
    QVERIFY2(ok, qPrintable(error));
    QCOMPARE(afterWritable, QByteArray("new\n"));
    if (!readOnly)
        QSKIP("a bind mount cannot be made read-only here");
    QVERIFY(!roOk);
    QVERIFY2(roError.contains(reason(EROFS)), qPrintable(roError));
    QCOMPARE(afterReadOnly, QByteArray("new\n"));
#endif
}

void tst_SaveFile::backupsRotateAtTwenty()
{
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("backup"));
    const QDateTime second(QDate(2026, 12, 7), QTime(13, 45, 2));
    QStringList written;
    for (int i = 1; i <= 25; ++i) {
        QString path, error;
        // All in one second: none may overwrite another.
        QVERIFY2(
            HostsBackups::write(folder, "content " + QByteArray::number(i) + "\n", second, &path, &error),
            qPrintable(error));
        written << QFileInfo(path).fileName();
    }
    QCOMPARE(written.first(), QStringLiteral("hosts-2026-12-07_13-45-02.bak"));
    QCOMPARE(written[1], QStringLiteral("hosts-2026-12-07_13-45-02-2.bak"));
    QCOMPARE(written.last(), QStringLiteral("hosts-2026-12-07_13-45-02-25.bak"));
    const QStringList kept = HostsBackups::inOrder(entries(folder));
    QCOMPARE(kept.size(), 20);
    QCOMPARE(kept, written.mid(5));
    QCOMPARE(readBytes(folder + QStringLiteral("/") + kept.first()), QByteArray("content 6\n"));
    QCOMPARE(readBytes(folder + QStringLiteral("/") + kept.last()), QByteArray("content 25\n"));
}

void tst_SaveFile::backupsOrderAndOtherFiles()
{
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("backup"));
    QDir().mkpath(folder);
    QVERIFY(writeBytes(folder + QStringLiteral("/notes.txt"), "the user's own\n"));
    const QDateTime start(QDate(2026, 12, 31), QTime(23, 59, 55));
    for (int i = 0; i < 30; ++i) {
        QString path, error;
        QVERIFY2(HostsBackups::write(folder, QByteArray::number(i), start.addSecs(i / 3), &path, &error),
                 qPrintable(error));
    }
    const QStringList kept = HostsBackups::inOrder(entries(folder));
    QCOMPARE(kept.size(), 20);
    QCOMPARE(kept.first(), QStringLiteral("hosts-2026-12-31_23-59-58-2.bak")); // saves 10 to 29 stay
    QCOMPARE(kept.last(), QStringLiteral("hosts-2027-01-01_00-00-04-3.bak"));
    QCOMPARE(readBytes(folder + QStringLiteral("/notes.txt")), QByteArray("the user's own\n"));
    QCOMPARE(HostsBackups::inOrder({QStringLiteral("hosts-2026-01-01_00-00-00-10.bak"),
                                    QStringLiteral("hosts-2026-01-01_00-00-00-9.bak"),
                                    QStringLiteral("hosts-2026-01-01_00-00-00.bak")}),
             (QStringList{QStringLiteral("hosts-2026-01-01_00-00-00.bak"),
                          QStringLiteral("hosts-2026-01-01_00-00-00-9.bak"),
                          QStringLiteral("hosts-2026-01-01_00-00-00-10.bak")}));
}

QTEST_GUILESS_MAIN(tst_SaveFile)
#include "tst_savefile.moc"
