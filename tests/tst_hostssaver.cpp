// The save pipeline without a window: re-read, merge, backup, save, recovery, each under the
// hosts file's lock, with real files in temporary folders.
#include "TestMain.h"
#include "Privileges.h"
#include "TestFiles.h"
#include "core/hosts/HostsBackups.h"
#include "core/hosts/HostsDocument.h"
#include "core/hosts/HostsSaver.h"
#include "platform/KeptCopy.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <string.h>
#include <thread>

#ifndef Q_OS_WIN
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

const QByteArray kHosts = "127.0.0.1 localhost\n10.0.0.1 a\n10.0.0.2 b\n10.0.0.3 c\n";

QStringList backups(const QString& folder)
{
    return HostsBackups::inOrder(QDir(folder).entryList(QDir::Files));
}

// A document read from path with row (from 1) ticked.
void readAndTick(HostsDocument& doc, const QString& path, int row)
{
    doc.load(readBytes(path));
    HostsValues v = doc.values(row - 1);
    v.disabled = true;
    doc.setValues(row - 1, v);
}

} // namespace

class tst_HostsSaver : public QObject
{
    Q_OBJECT

private slots:
    void saveOutcomes_data();
    void saveOutcomes();
    void twoSavesAtOnceKeepBoth();
    void readDuringASaveRecoversNothing();
    void backupJustWrittenIsKept();
    void helperRefusesWhatTheWindowRefuses_data();
    void helperRefusesWhatTheWindowRefuses();
    void lockHeldByAnotherProgram();
    void keptCopyThatIsNoFile_data();
    void keptCopyThatIsNoFile();
};

void tst_HostsSaver::saveOutcomes_data()
{
    QTest::addColumn<QString>("meanwhile"); // what happens between reading and saving
    QTest::addColumn<QString>("message");   // part of the refusal; empty: saved
    QTest::addColumn<QByteArray>("file");   // the file afterwards
    QTest::addColumn<int>("backupCount");
    const QByteArray ticked = QByteArray(kHosts).replace("10.0.0.2 b", "#10.0.0.2 b");
    QTest::newRow("nothing: saved, the old content backed up") << ""
                                                               << "" << ticked << 1;
    QTest::newRow("a line appended: kept") << "append"
                                           << "" << ticked + "10.8.0.1 vpn\n"
                                           << 1;
    QTest::newRow("emptied by a rewrite in progress: refused")
        << "empty" << QStringLiteral("被其他程序清空了") << QByteArray() << 0;
    QTest::newRow("the write fails: its backup is dropped")
        << "write fails" << QStringLiteral("No space left on device") << kHosts << 0;
    // A file read in the code page gains a byte-order mark meanwhile: ASCII rows are the same
    // bytes in both encodings, so the save goes on, and the mark stays.
    QTest::newRow("a byte-order mark added, ASCII rows: saved") << "mark added"
                                                                << ""
                                                                << "\xEF\xBB\xBF" + ticked << 1;
    // The old content comes from the cut-off save's kept copy into the backups.
    QTest::newRow("a save cut off, then the file changed: refused")
        << "cut off, then changed" << QStringLiteral("请重新读取") << kHosts + "10.8.0.1 vpn\n"
        << 1;
#ifndef Q_OS_WIN
    // The helper may still write after the window stopped waiting: the backup stays, and is named.
    QTest::newRow("the helper's outcome unknown: its backup stays")
        << "helper unknown" << QStringLiteral("保存前的内容已备份在") << kHosts << 1;
    QTest::newRow("the helper refuses: its backup is dropped")
        << "helper refuses" << QStringLiteral("管理员授权已取消") << kHosts << 0;
    // Made read-only by its owner: refused with the system's reason, never handed to the helper.
    QTest::newRow("a read-only file (0444): refused, not elevated")
        << "read-only" << QString::fromLocal8Bit(strerror(EACCES)) << kHosts << 0;
    // chmod 666 in a folder only root may write: in place, its kept copy in the user's folder.
    QTest::newRow("0666 in a folder only root may write: saved without the helper") << "root folder"
                                                                                    << "" << ticked << 1;
    QTest::newRow("0666 in a folder only root may write, torn: put back on read, then saved")
        << "root folder, torn"
        << "" << ticked << 1;
#endif
}

void tst_HostsSaver::saveOutcomes()
{
    QFETCH(QString, meanwhile);
    QFETCH(QString, message);
    QFETCH(QByteArray, file);
    QFETCH(int, backupCount);
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("etc")));
    const QString path = dir.filePath(QStringLiteral("etc/hosts"));
    const QString folder = dir.filePath(QStringLiteral("backup"));
    QVERIFY(writeBytes(path, kHosts));
    HostsDocument doc(meanwhile == QLatin1String("mark added") ? "GBK" : "UTF-8");
    readAndTick(doc, path, 3);
    if (meanwhile == QLatin1String("mark added"))
        QVERIFY(writeBytes(path, "\xEF\xBB\xBF" + kHosts));
    if (meanwhile == QLatin1String("append"))
        QVERIFY(writeBytes(path, kHosts + "10.8.0.1 vpn\n"));
    else if (meanwhile == QLatin1String("empty"))
        QVERIFY(writeBytes(path, QByteArray()));
    if (meanwhile == QLatin1String("cut off, then changed")) {
        const QByteArray next = QByteArray(kHosts).replace("10.0.0.3 c", "#10.0.0.3 c");
        QVERIFY(writeBytes(TextFile::keptCopyPath(path),
                           QByteArray::fromStdString(KeptCopy::header(kHosts.size(), next.size())) + kHosts +
                               next));
        QVERIFY(writeBytes(path, kHosts + "10.8.0.1 vpn\n"));
    }
    HostsSaver saver(path, folder);
    const bool rootFolder = meanwhile.startsWith(QLatin1String("root folder"));
    const QByteArray ticked = QByteArray(kHosts).replace("10.0.0.2 b", "#10.0.0.2 b");
    const QString keptElsewhere = TextFile::keptCopyPath(path, saver.keptFolder());
    if (meanwhile == QLatin1String("root folder, torn")) {
        // A save cut off while writing: the new content's start over the old content's rest.
        QVERIFY(QDir().mkpath(saver.keptFolder()));
        QVERIFY(writeBytes(keptElsewhere,
                           QByteArray::fromStdString(KeptCopy::header(kHosts.size(), ticked.size())) +
                               kHosts + ticked));
        QVERIFY(writeBytes(path, ticked.left(35) + kHosts.mid(35)));
    }
    const bool helper = meanwhile.startsWith(QLatin1String("helper"));
    if (meanwhile == QLatin1String("write fails") || helper) {
        saver.setSaveFile([](const QString& p, const QByteArray&, QString* error) {
            *error = p + QStringLiteral(": No space left on device");
            return false;
        });
    }
    saver.setElevate([&](const QByteArray&, const QByteArray&, QString* error, bool* unknown) {
        if (!helper)
            QTest::qFail("handed to the helper", __FILE__, __LINE__);
        *unknown = meanwhile == QLatin1String("helper unknown");
        *error =
            *unknown
                ? QStringLiteral("等待管理员授权超时（1 秒），保存是否完成不得而知，请重新读取HOST文件。")
                : QStringLiteral("管理员授权已取消，HOST文件没有改动。");
        return false;
    });
#ifndef Q_OS_WIN
    // A folder only root may write: the save needs the helper.
    if (helper || rootFolder)
        QVERIFY(::chmod(QFile::encodeName(dir.filePath(QStringLiteral("etc"))).constData(), 0555) == 0);
    if (meanwhile == QLatin1String("read-only"))
        QVERIFY(::chmod(QFile::encodeName(path).constData(), 0444) == 0);
    if (rootFolder)
        QVERIFY(::chmod(QFile::encodeName(path).constData(), 0666) == 0);
    WithoutFileOverride asUser;
#endif
    QString error;
    if (meanwhile == QLatin1String("root folder, torn")) {
        QByteArray bytes;
        TextFile::Recovery recovery;
        QString said;
        QCOMPARE(saver.read(&bytes, &recovery, &said, &error), TextFile::ReadStatus::Ok);
        QCOMPARE(recovery, TextFile::Recovery::Restored);
        QCOMPARE(bytes, kHosts);
    }
    QCOMPARE(saver.save(doc, &error), message.isEmpty());
    QVERIFY2(error.contains(message), qPrintable(error));
    QCOMPARE(readBytes(path), file);
    QCOMPARE(backups(folder).size(), backupCount);
    QVERIFY(!QFile::exists(keptElsewhere));
    QVERIFY(!QFile::exists(TextFile::keptCopyPath(path)));
    if (backupCount > 0) {
        const QString backup = folder + QLatin1Char('/') + backups(folder).first();
        QVERIFY(readBytes(backup).contains(kHosts)); // with the mark the file had then
        if (helper)
            QVERIFY2(error.contains(QDir::toNativeSeparators(backup)), qPrintable(error));
    }
}

void tst_HostsSaver::twoSavesAtOnceKeepBoth()
{
    // Two windows read the same file, tick different rows and save at the same moment: the
    // second save reads the file after the first is complete and merges on top of it.
    const int runs = 40;
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("hosts"));
    for (int run = 0; run < runs; ++run) {
        QVERIFY(writeBytes(path, kHosts));
        HostsDocument first("UTF-8"), second("UTF-8");
        readAndTick(first, path, 2);
        readAndTick(second, path, 4);
        std::atomic<int> ready{0};
        bool saved[2] = {false, false};
        QString errors[2];
        auto save = [&](int i, HostsDocument* doc) {
            HostsSaver saver(path, QString());
            ++ready;
            while (ready < 2) {
            }
            saved[i] = saver.save(*doc, &errors[i]);
        };
        std::thread a(save, 0, &first), b(save, 1, &second);
        a.join();
        b.join();
        QVERIFY2(saved[0] && saved[1], qPrintable(errors[0] + errors[1]));
        QCOMPARE(
            readBytes(path),
            QByteArray(kHosts).replace("10.0.0.1 a", "#10.0.0.1 a").replace("10.0.0.3 c", "#10.0.0.3 c"));
    }
    qInfo("%d runs of two saves at once: both rows ticked in every run", runs);
}

void tst_HostsSaver::readDuringASaveRecoversNothing()
{
#ifdef Q_OS_WIN
    QSKIP("Windows keeps no copy on disk during a save");
#else
    // A window that starts (reads) while another saves in place never takes that save's kept
    // copy for one left by a save that was cut off.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("hosts"));
    QByteArray big = kHosts;
    for (int i = 0; i < 100000; ++i)
        big += "0.0.0.0 ads-" + QByteArray::number(i) + ".example.com\n";
    QVERIFY(writeBytes(path, big));
    // A second name makes the save go in place, with a kept copy, as over a bind mount.
    QVERIFY(::link(QFile::encodeName(path).constData(),
                   QFile::encodeName(path + QStringLiteral(".link")).constData()) == 0);
    const int saves = 10;
    std::atomic<bool> done{false};
    int reads = 0, recovered = 0;
    std::thread reader([&] {
        HostsSaver saver(path, QString());
        while (!done) {
            QByteArray bytes;
            TextFile::Recovery recovery;
            QString message, error;
            saver.read(&bytes, &recovery, &message, &error);
            recovered += recovery != TextFile::Recovery::Nothing;
            ++reads;
            std::this_thread::sleep_for(std::chrono::milliseconds(1)); // a save gets its turn
        }
    });
    bool allSaved = true;
    for (int i = 0; i < saves; ++i) {
        HostsDocument doc("UTF-8");
        readAndTick(doc, path, 2 + i % 2);
        HostsSaver saver(path, QString());
        QString error;
        allSaved = saver.save(doc, &error) && allSaved;
    }
    done = true;
    reader.join();
    QVERIFY(allSaved);
    QCOMPARE(recovered, 0);
    QVERIFY(!QFile::exists(TextFile::keptCopyPath(path)));
    qInfo("%d saves in place, %d reads meanwhile, none recovered anything", saves, reads);
#endif
}

void tst_HostsSaver::backupJustWrittenIsKept()
{
    // Backups stamped ahead of the clock (set back, another time zone, the autumn hour that
    // repeats) sort after the new one: it still stays, and the oldest of the others go.
    QTemporaryDir dir;
    const QDateTime ahead(QDate(2031, 1, 1), QTime(12, 0));
    for (int i = 0; i < HostsBackups::kKept; ++i)
        QVERIFY(writeBytes(dir.filePath(HostsBackups::fileName(ahead.addSecs(i))), "ahead\n"));
    QString written, error;
    QVERIFY2(HostsBackups::write(dir.path(), "now\n", QDateTime(QDate(2026, 12, 8), QTime(9, 0)), &written,
                                 &error),
             qPrintable(error));
    QCOMPARE(readBytes(written), QByteArray("now\n"));
    const QStringList left = backups(dir.path());
    QCOMPARE(left.size(), HostsBackups::kKept);
    QVERIFY(!left.contains(HostsBackups::fileName(ahead))); // the oldest of the others went
}

void tst_HostsSaver::helperRefusesWhatTheWindowRefuses_data()
{
    // The base the window read, the result it sends, and the file when the helper writes.
    QTest::addColumn<QByteArray>("base");
    QTest::addColumn<QByteArray>("result");
    QTest::addColumn<QByteArray>("current");
    QTest::addColumn<bool>("saved");
    const QByteArray bom = "\xEF\xBB\xBF", base = "10.0.0.1 a\n10.0.0.2 b\n";
    const QByteArray gbk = "10.0.0.1 a\n10.0.0.2 \xD6\xD0\xCE\xC4\n"; // "中文" in the code page
    const QByteArray utf8 = "10.0.0.1 a\n10.0.0.2 \xE4\xB8\xAD\xE6\x96\x87\n";
    QTest::newRow("mark added, a row in the code page: refused") << base << gbk << bom + base << false;
    QTest::newRow("mark dropped, a row not ASCII: refused") << bom + base << bom + utf8 << base << false;
    QTest::newRow("mark added, a row in UTF-8: saved") << base << utf8 << bom + base << true;
    QTest::newRow("mark added, ASCII rows: saved")
        << base << QByteArray("#10.0.0.1 a\n10.0.0.2 b\n") << bom + base << true;
    QTest::newRow("mark unchanged, a row in the code page: saved") << base << gbk << base + "10.8.0.1 vpn\n"
                                                                   << true;
}

void tst_HostsSaver::helperRefusesWhatTheWindowRefuses()
{
    QFETCH(QByteArray, base);
    QFETCH(QByteArray, result);
    QFETCH(QByteArray, current);
    QFETCH(bool, saved);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("hosts"));
    QVERIFY(writeBytes(path, current));
    QString error;
    const HostsSaver::Outcome outcome = HostsSaver(path, QString()).mergeAndSave(base, result, &error);
    QCOMPARE(outcome, saved ? HostsSaver::Outcome::Saved : HostsSaver::Outcome::Conflict);
    if (!saved) {
        QVERIFY2(error.contains(QStringLiteral("HOST文件的编码在读取之后被其他程序改变了")),
                 qPrintable(error));
        QCOMPARE(readBytes(path), current);
    }
}

void tst_HostsSaver::lockHeldByAnotherProgram()
{
#ifdef Q_OS_WIN
    QSKIP("the lock is a mutex of the user's session, which no other user can hold");
#else
    // Any local user can open the folder and hold its flock: the save waits at most a few
    // seconds, says who holds it, and the file is still read.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("hosts"));
    QVERIFY(writeBytes(path, kHosts));
    const int folder = ::open(QFile::encodeName(dir.path()).constData(), O_RDONLY | O_DIRECTORY);
    QVERIFY(folder >= 0 && ::flock(folder, LOCK_EX) == 0); // a description of its own: it conflicts
    HostsDocument doc("UTF-8");
    readAndTick(doc, path, 2);
    HostsSaver saver(path, QString());
    QString error;
    std::atomic<bool> done{false};
    bool saved = true;
    std::thread saving([&] { // with the lock's own wait
        saved = saver.save(doc, &error);
        done = true;
    });
    const bool answered = QTest::qWaitFor([&] { return done.load(); }, 15000);
    if (!answered)
        ::close(folder); // the lock is free: the save goes on, and the test ends
    saving.join();
    QVERIFY2(answered, "the save waited for the lock far longer than a few seconds");
    QVERIFY(!saved);
    QVERIFY2(error.contains(QStringLiteral("另一个程序正在保存这个文件")), qPrintable(error));
    QVERIFY2(error.contains(QStringLiteral("tst_hostssaver，进程 %1").arg(::getpid())), qPrintable(error));
    QCOMPARE(readBytes(path), kHosts);
    // Reading goes on without the lock, but not while an in-place save keeps its copy.
    saver.setLockWait(50);
    QByteArray bytes;
    TextFile::Recovery recovery;
    QString message;
    QCOMPARE(saver.read(&bytes, &recovery, &message, &error), TextFile::ReadStatus::Ok);
    QCOMPARE(bytes, kHosts);
    QVERIFY(writeBytes(TextFile::keptCopyPath(path), "TARVIX-KEPT 2\n"));
    QCOMPARE(saver.read(&bytes, &recovery, &message, &error), TextFile::ReadStatus::Failed);
    QVERIFY2(error.contains(QStringLiteral("另一个程序正在保存这个文件")), qPrintable(error));
    ::close(folder);
#endif
}

void tst_HostsSaver::keptCopyThatIsNoFile_data()
{
#ifdef Q_OS_WIN
    QSKIP("no FIFO on Windows; tst_win32 checks links there");
#else
    QTest::addColumn<bool>("fifo");
    QTest::newRow("a FIFO: never waited on") << true;
    QTest::newRow("a symbolic link to a kept copy: not followed") << false;
#endif
}

void tst_HostsSaver::keptCopyThatIsNoFile()
{
#ifndef Q_OS_WIN
    QFETCH(bool, fifo);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("hosts"));
    const QString kept = TextFile::keptCopyPath(path);
    const QByteArray torn = "10.9.9.9 torn\n"; // a prefix of the linked copy's new content
    QVERIFY(writeBytes(path, torn));
    const QString elsewhere = dir.filePath(QStringLiteral("elsewhere"));
    const QByteArray next = torn + "10.0.0.1 a\n";
    QVERIFY(writeBytes(elsewhere, QByteArray::fromStdString(KeptCopy::header(kHosts.size(), next.size())) +
                                      kHosts + next));
    if (fifo)
        QVERIFY(::mkfifo(QFile::encodeName(kept).constData(), 0600) == 0);
    else
        QVERIFY(QFile::link(elsewhere, kept));
    std::atomic<bool> done{false};
    QByteArray bytes;
    TextFile::Recovery recovery = TextFile::Recovery::Nothing;
    QString message, error;
    std::thread reader([&] {
        HostsSaver(path, QString()).read(&bytes, &recovery, &message, &error);
        done = true;
    });
    const bool answered = QTest::qWaitFor([&] { return done.load(); }, 10000);
    if (!answered) { // a writer lets the waiting open() go on, so that the test ends
        const int w = ::open(QFile::encodeName(kept).constData(), O_WRONLY | O_NONBLOCK);
        if (w >= 0)
            ::close(w);
    }
    reader.join();
    QVERIFY2(answered, "reading waited on the FIFO at the kept copy's place");
    QCOMPARE(int(recovery), int(TextFile::Recovery::Failed));
    QVERIFY2(message.contains(QStringLiteral("不是普通文件")), qPrintable(message));
    QCOMPARE(bytes, torn); // read, and not put back from what the link names
    QCOMPARE(readBytes(path), torn);
    QVERIFY(QFileInfo(kept).isSymLink() || QFileInfo(kept).exists());
#endif
}

QTEST_GUILESS_MAIN(tst_HostsSaver)
#include "tst_hostssaver.moc"
