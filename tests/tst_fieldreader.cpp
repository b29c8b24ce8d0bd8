// The comma-delimited field reader of IP.txt and Ping.txt.
#include "TestMain.h"
#include "TestFiles.h"
#include "core/app/FieldReader.h"
#include "platform/TextCodec.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <thread>

#ifndef Q_OS_WIN
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

class tst_FieldReader : public QObject
{
    Q_OBJECT

private slots:
    void fields_data();
    void fields();
    void fieldsFileMissingIsCreatedEmpty();
    void fieldsFileUnclosedQuoteKeepsEarlierFields();
    void fieldsFileThatIsNoFile_data();
    void fieldsFileThatIsNoFile();
};

void tst_FieldReader::fields_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("fields");
    QTest::newRow("one per line") << "10.0.0.1\r\n10.0.0.2\r\n" << QStringList{"10.0.0.1", "10.0.0.2"};
    QTest::newRow("comma splits") << "10.0.0.1,10.0.0.2\r\n" << QStringList{"10.0.0.1", "10.0.0.2"};
    QTest::newRow("blank line gives empty field") << "a\r\n\r\nb\r\n" << QStringList{"a", "", "b"};
    QTest::newRow("spaces-only line gives empty field") << "a\r\n   \r\nb" << QStringList{"a", "", "b"};
    QTest::newRow("quoted value keeps its comma") << "\"a,b\"\r\nc" << QStringList{"a,b", "c"};
    QTest::newRow("quoted value spans a line end") << "\"a\r\nb\",c" << QStringList{"a\r\nb", "c"};
    QTest::newRow("no extra field after final line end") << "a\r\n" << QStringList{"a"};
    QTest::newRow("last line without line end") << "a\r\nb" << QStringList{"a", "b"};
    QTest::newRow("empty text") << "" << QStringList{};
    QTest::newRow("LF ends a line") << "a\nb\n" << QStringList{"a", "b"};
    QTest::newRow("lone CR ends a line") << "a\rb\r" << QStringList{"a", "b"};
    QTest::newRow("comma then line end") << "a,\r\nb" << QStringList{"a", "", "b"};
    QTest::newRow("leading spaces skipped, tabs kept") << "  a\r\n\tb" << QStringList{"a", "\tb"};
    QTest::newRow("text after closing quote dropped") << "\"a\"xyz,b" << QStringList{"a", "b"};
    QTest::newRow("trailing blanks of an unquoted field dropped")
        << "10.0.0.1   \r\nb  ,c" << QStringList{"10.0.0.1", "b", "c"};
    QTest::newRow("trailing blanks inside quotes kept") << "\"a  \"\r\n" << QStringList{"a  "};
    QTest::newRow("plain text and duplicates kept") << "my nas\r\nx\r\nx" << QStringList{"my nas", "x", "x"};
}

void tst_FieldReader::fields()
{
    QFETCH(QString, text);
    QFETCH(QStringList, fields);
    FieldReader reader(text);
    QStringList got;
    QString field, error;
    while (reader.hasMore()) {
        QVERIFY2(reader.read(&field, &error), qPrintable(error));
        got << field;
    }
    QCOMPARE(got, fields);
}

void tst_FieldReader::fieldsFileMissingIsCreatedEmpty()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("IP.txt"));
    QStringList fields{QStringLiteral("stale")};
    QString error;
    QVERIFY(readFieldsFile(path, TextCodec("UTF-8"), &fields, &error));
    QVERIFY(fields.isEmpty());
    QVERIFY(QFile::exists(path));
    QCOMPARE(QFileInfo(path).size(), 0);

    // A folder in its place cannot be created over: a failure, and nothing else changes.
    const QString blocked = dir.filePath(QStringLiteral("sub/IP.txt"));
    QVERIFY(!readFieldsFile(blocked, TextCodec("UTF-8"), &fields, &error));
    QVERIFY(!error.isEmpty());
}

void tst_FieldReader::fieldsFileUnclosedQuoteKeepsEarlierFields()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("IP.txt"));
    QVERIFY(writeBytes(path, "10.0.0.1\r\n\"10.0.0.2\r\n10.0.0.3\r\n"));
    QStringList fields;
    QString error;
    QVERIFY(!readFieldsFile(path, TextCodec("UTF-8"), &fields, &error));
    QCOMPARE(fields, QStringList{QStringLiteral("10.0.0.1")});
    QCOMPARE(readBytes(path), QByteArray("10.0.0.1\r\n\"10.0.0.2\r\n10.0.0.3\r\n"));
}

void tst_FieldReader::fieldsFileThatIsNoFile_data()
{
    QTest::addColumn<bool>("fifo");
#ifndef Q_OS_WIN
    QTest::newRow("a FIFO: never waited on") << true;
#endif
    QTest::newRow("a symbolic link: not followed") << false;
}

void tst_FieldReader::fieldsFileThatIsNoFile()
{
    QFETCH(bool, fifo);
#ifdef Q_OS_WIN
    QSKIP("QFile::link makes a shortcut file on Windows, not a link; tst_win32 checks links");
#endif
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Ping.txt"));
    const QString target = dir.filePath(QStringLiteral("elsewhere"));
    QVERIFY(writeBytes(target, "10.0.0.1\r\n"));
#ifndef Q_OS_WIN
    if (fifo)
        QVERIFY(::mkfifo(QFile::encodeName(path).constData(), 0600) == 0);
#endif
    if (!fifo && !QFile::link(target, path))
        QSKIP("no symbolic links here");
    std::atomic<bool> done{false};
    bool read = true;
    QStringList fields;
    QString error;
    std::thread reader([&] {
        read = readFieldsFile(path, TextCodec("UTF-8"), &fields, &error);
        done = true;
    });
    const bool answered = QTest::qWaitFor([&] { return done.load(); }, 10000);
#ifndef Q_OS_WIN
    if (!answered) { // a writer lets the waiting open() go on, so that the test ends
        const int w = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_NONBLOCK);
        if (w >= 0)
            ::close(w);
    }
#endif
    reader.join();
    QVERIFY2(answered, "reading waited on the FIFO");
    QVERIFY(!read);
    QVERIFY2(error.contains(QStringLiteral("不是普通文件")), qPrintable(error));
    QVERIFY(fields.isEmpty());
}

QTEST_GUILESS_MAIN(tst_FieldReader)
#include "tst_fieldreader.moc"
