#include "TestFiles.h"
#include "core/app/FieldReader.h"
#include "core/hosts/HostsDocument.h"
#include "platform/TextCodec.h"
#include "platform/TextFile.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

namespace {

QByteArray blocklist(int lines)
{
    QByteArray out = "# generated blocklist\n";
    for (int i = 0; i < lines - 1; ++i)
        out += "0.0.0.0 ads" + QByteArray::number(i) + ".tracker.example.com\n";
    return out;
}

QByteArray saved(const HostsDocument& doc)
{
    QByteArray out;
    QString error;
    if (!doc.toBytes(&out, &error))
        return "<failed: " + error.toUtf8() + ">";
    return out;
}

bool canBindMount()
{
    return geteuid() == 0 && QProcess::execute(QStringLiteral("sh"), {QStringLiteral("-c"),
                                               QStringLiteral("command -v mount >/dev/null")}) == 0;
}

} // namespace

class tst_SaveFile : public QObject
{
    Q_OBJECT

private slots:
    void saveReplacesAndKeepsPermissions();
    void saveFollowsSymbolicLink();
    void saveFailures_data();
    void saveFailures();
    void saveFaultAtEveryPosition();
    void saveInPlaceWhenReplaceFails();
    void saveOverBindMount();
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
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("hosts")});
}

void tst_SaveFile::saveFollowsSymbolicLink()
{
    QTemporaryDir dir;
    const QString target = dir.filePath(QStringLiteral("real-hosts"));
    const QString link = dir.filePath(QStringLiteral("hosts"));
    QVERIFY(writeBytes(target, "old\n"));
    QVERIFY(QFile::link(target, link));
    QString error;
    QVERIFY2(TextFile::save(link, "new\n", &error), qPrintable(error));
    QVERIFY(QFileInfo(link).isSymLink());
    QCOMPARE(readBytes(target), QByteArray("new\n"));
}

void tst_SaveFile::saveFailures_data()
{
    QTest::addColumn<QString>("relative");
    QTest::newRow("folder missing") << "missing/hosts";
    QTest::newRow("folder is a file") << "file/hosts";
    QTest::newRow("path is a folder") << "folder";
}

void tst_SaveFile::saveFailures()
{
    QFETCH(QString, relative);
    QTemporaryDir dir;
    QVERIFY(writeBytes(dir.filePath(QStringLiteral("file")), "keep\n"));
    QDir(dir.path()).mkdir(QStringLiteral("folder"));
    QString error;
    QVERIFY(!TextFile::save(dir.filePath(relative), "new\n", &error));
    QVERIFY(!error.isEmpty());
    QCOMPARE(readBytes(dir.filePath(QStringLiteral("file"))), QByteArray("keep\n"));
}

void tst_SaveFile::saveFaultAtEveryPosition()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("hosts"));
    const QByteArray old = readBytes(QStringLiteral(TARVIX_TESTDATA "/hosts/windows-stock.hosts"));
    const QByteArray next = old + "10.0.0.1 added\r\n";
    QVERIFY(writeBytes(path, old));
    for (qint64 at = 0; at < next.size(); ++at) {
        TextFile::Faults faults;
        faults.failWriteAt = at;
        QString error;
        QVERIFY(!TextFile::save(path, next, &error, &faults));
        QCOMPARE(readBytes(path), old);
        // The same fault where the file is overwritten in place: the old bytes come back.
        faults.failReplace = true;
        QVERIFY(!TextFile::save(path, next, &error, &faults));
        QCOMPARE(readBytes(path), old);
    }
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 1);
}

void tst_SaveFile::saveInPlaceWhenReplaceFails()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("hosts"));
    QVERIFY(writeBytes(path, "a much longer old content than the new one\n"));
    TextFile::Faults faults;
    faults.failReplace = true;
    QString error;
    QVERIFY2(TextFile::save(path, "short\n", &error, &faults), qPrintable(error));
    QCOMPARE(readBytes(path), QByteArray("short\n"));
}

void tst_SaveFile::saveOverBindMount()
{
    // Containers mount /etc/hosts this way: a rename over it fails, a write in place works.
    if (!canBindMount())
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
    const bool readOnly = QProcess::execute(QStringLiteral("mount"), {QStringLiteral("-o"),
                                            QStringLiteral("remount,ro,bind"), path}) == 0;
    QString roError;
    const bool roOk = readOnly && TextFile::save(path, "other\n", &roError);
    const QByteArray afterReadOnly = readBytes(source);
    QProcess::execute(QStringLiteral("umount"), {path});
    QVERIFY2(ok, qPrintable(error));
    QCOMPARE(afterWritable, QByteArray("new\n"));
    if (!readOnly)
        QSKIP("a bind mount cannot be made read-only here");
    QVERIFY(!roOk);
    QVERIFY(!roError.isEmpty());
    QCOMPARE(afterReadOnly, QByteArray("new\n"));
}

QTEST_GUILESS_MAIN(tst_SaveFile)
#include "tst_savefile.moc"
