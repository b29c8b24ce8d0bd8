// The system's code page, as the program meets it with no encoding named: GBK under a Chinese
// Windows (Wine with code page 936), the locale's character set on Linux (UTF-8 here).
#include "TestMain.h"
#include "core/hosts/HostsDocument.h"
#include "platform/Platform.h"
#include "platform/TextCodec.h"

#include <QTest>

class tst_CodePage : public QObject
{
    Q_OBJECT

private slots:
    void programTextsInTheSystemCodePage_data();
    void programTextsInTheSystemCodePage();
    void textTheCodePageCannotHoldIsRefused();
    void hostsLinesInTheSystemCodePage();
    void oneByteCodePageRefusesWhatItCannotHold_data();
    void oneByteCodePageRefusesWhatItCannotHold();
};

namespace {

// "保存成功!" in the system's code page.
QByteArray savedText()
{
    return Platform::fileNames() == Platform::FileNames::Windows ? QByteArray::fromHex("b1a3b4e6b3c9b9a621")
                                                                 : QStringLiteral("保存成功!").toUtf8();
}

} // namespace

void tst_CodePage::programTextsInTheSystemCodePage_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("message") << QStringLiteral("保存成功!");
    QTest::newRow("start-time label") << QStringLiteral("本次任务开始时间: 9:05:03.12");
    QTest::newRow("plain ASCII") << QStringLiteral("127.0.0.1 localhost");
    QTest::newRow("mixed") << QStringLiteral("10.0.0.8 办公网盘 # note");
}

void tst_CodePage::programTextsInTheSystemCodePage()
{
    QFETCH(QString, text);
    const TextCodec codec; // no encoding named: the system's
    if (Platform::fileNames() == Platform::FileNames::Windows)
        QCOMPARE(codec.encoding(), QByteArray("GBK"));
    QVERIFY(codec.isValid());
    QByteArray bytes;
    QVERIFY(codec.encode(text, &bytes));
    QCOMPARE(codec.decode(bytes), text);
    if (text == QStringLiteral("保存成功!"))
        QCOMPARE(bytes.toHex(), savedText().toHex());
}

void tst_CodePage::textTheCodePageCannotHoldIsRefused()
{
    const TextCodec codec;
    if (codec.encoding() == "UTF-8")
        QSKIP("UTF-8 holds every character");
    QByteArray bytes;
    QVERIFY(!codec.encode(QStringLiteral("a\U0001F600b"), &bytes));
    QVERIFY(!codec.encode(QStringLiteral("\u00e9\u2603"), &bytes)); // no best-fit look-alike either
}

void tst_CodePage::hostsLinesInTheSystemCodePage()
{
    const TextCodec codec;
    QByteArray bytes;
    QVERIFY(codec.encode(QStringLiteral("127.0.0.1 localhost\r\n# 本机的中文注释\r\n10.0.0.8 办公网盘\r\n"), &bytes));
    HostsDocument doc; // the system's code page
    doc.load(bytes);
    QCOMPARE(doc.rowCount(), 3);
    QCOMPARE(doc.values(0), (HostsValues{false, QStringLiteral("127.0.0.1"), QStringLiteral("localhost")}));
    QCOMPARE(doc.values(1), (HostsValues{true, QString(), QStringLiteral("本机的中文注释")}));
    QCOMPARE(doc.values(2), (HostsValues{false, QStringLiteral("10.0.0.8"), QStringLiteral("办公网盘")}));
    doc.setValues(0, HostsValues{true, QStringLiteral("127.0.0.1"), QStringLiteral("本机")});
    QByteArray written;
    QString error;
    QVERIFY2(doc.toBytes(&written, &error), qPrintable(error));
    QByteArray expected;
    QVERIFY(codec.encode(QStringLiteral("#127.0.0.1 本机\r\n"), &expected));
    QVERIFY(written.startsWith(expected));
    QVERIFY(written.endsWith(bytes.mid(bytes.indexOf('\n') + 1)));
}

void tst_CodePage::oneByteCodePageRefusesWhatItCannotHold_data()
{
    // Qt's one-byte encoders put '?' in a character's place without reporting an error: only
    // the check that the bytes read back as the text stops a host name from being saved wrong.
    QTest::addColumn<QByteArray>("encoding");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("holds");
    for (const QByteArray& encoding : {QByteArray("ISO-8859-1"), QByteArray("windows-1252")}) {
        const auto row = [&](const char* name) -> QTestData& {
            return QTest::newRow((encoding + ": " + name).constData());
        };
        row("Latin letters with accents") << encoding << QStringLiteral("café-straße.example") << true;
        row("snowman") << encoding << QStringLiteral("snow\u2603.example") << false;
        row("o with double acute") << encoding << QStringLiteral("gy\u0151r.example") << false;
        row("Chinese") << encoding << QStringLiteral("办公网盘") << false;
        row("emoji") << encoding << QStringLiteral("a\U0001F600b") << false;
        row("question mark itself") << encoding << QStringLiteral("a?b") << true;
    }
    QTest::newRow("ISO-8859-1: euro sign") << QByteArray("ISO-8859-1") << QStringLiteral("\u20AC") << false;
    QTest::newRow("windows-1252: euro sign") << QByteArray("windows-1252") << QStringLiteral("\u20AC") << true;
}

void tst_CodePage::oneByteCodePageRefusesWhatItCannotHold()
{
    QFETCH(QByteArray, encoding);
    QFETCH(QString, text);
    QFETCH(bool, holds);
    const TextCodec codec(encoding);
    if (!codec.isValid())
        QSKIP("this Qt has no converter of that name (a Qt without ICU knows only Latin-1 and Unicode)");
    QByteArray bytes;
    QCOMPARE(codec.encode(text, &bytes), holds);
    if (holds)
        QCOMPARE(codec.decode(bytes), text);

    // A typed host name that the file's encoding cannot hold is refused, not written with '?'.
    HostsDocument doc(encoding);
    doc.load("127.0.0.1 localhost\n");
    doc.setValues(0, HostsValues{false, QStringLiteral("127.0.0.1"), text});
    QByteArray written;
    QString error;
    QCOMPARE(doc.toBytes(&written, &error), holds);
    QCOMPARE(error.isEmpty(), holds);
}

QTEST_GUILESS_MAIN(tst_CodePage)
#include "tst_codepage.moc"
