// The save pipeline without a window: re-read, merge, backup, save, recovery, each under the
// hosts file's lock, with real files in temporary folders.
#include "TestFiles.h"
#include "core/hosts/HostsBackups.h"
#include "core/hosts/HostsDocument.h"
#include "core/hosts/HostsSaver.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <thread>

#ifndef Q_OS_WIN
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
}

void tst_HostsSaver::saveOutcomes()
{
    QFETCH(QString, meanwhile);
    QFETCH(QString, message);
    QFETCH(QByteArray, file);
    QFETCH(int, backupCount);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("hosts"));
    const QString folder = dir.filePath(QStringLiteral("backup"));
    QVERIFY(writeBytes(path, kHosts));
    HostsDocument doc("UTF-8");
    readAndTick(doc, path, 3);
    if (meanwhile == QLatin1String("append"))
        QVERIFY(writeBytes(path, kHosts + "10.8.0.1 vpn\n"));
    else if (meanwhile == QLatin1String("empty"))
        QVERIFY(writeBytes(path, QByteArray()));
    HostsSaver saver(path, folder);
    if (meanwhile == QLatin1String("write fails")) {
        saver.setSaveFile([](const QString& p, const QByteArray&, QString* error) {
            *error = p + QStringLiteral(": No space left on device");
            return false;
        });
    }
    QString error;
    QCOMPARE(saver.save(doc, &error), message.isEmpty());
    QVERIFY2(error.contains(message), qPrintable(error));
    QCOMPARE(readBytes(path), file);
    QCOMPARE(backups(folder).size(), backupCount);
    if (backupCount > 0)
        QCOMPARE(readBytes(folder + QLatin1Char('/') + backups(folder).first()).left(kHosts.size()), kHosts);
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

QTEST_GUILESS_MAIN(tst_HostsSaver)
#include "tst_hostssaver.moc"
