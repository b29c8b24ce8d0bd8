#include "TestMain.h"
#include "TestFiles.h"
#include "core/app/FieldReader.h"
#include "core/hosts/HostsDocument.h"
#include "platform/Platform.h"
#include "platform/TextCodec.h"
#include "platform/TextFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
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

} // namespace

class tst_HostsLines : public QObject
{
    Q_OBJECT

private slots:
    void parseLine_data();
    void parseLine();
    void linesBecomeRows_data();
    void linesBecomeRows();
    void unchangedRoundTrip_data();
    void unchangedRoundTrip();
    void savedEditReadsBackSameRows();
    void editChangesExactlyThatLine();
    void editedRowKeepsRestOfLine_data();
    void editedRowKeepsRestOfLine();
    void writtenForm_data();
    void writtenForm();
    void savedFileReadsBack();
    void unencodableTextRefused();
    void unencodableCharacterNamed_data();
    void unencodableCharacterNamed();
    void gbkSurvivesWriteAndRead();
    void oneWordLineToggles_data();
    void oneWordLineToggles();
    void untouchedWordsKeepTheirBytes_data();
    void untouchedWordsKeepTheirBytes();
    void strayByteOrderMarkUnticks();
    void lineOf2GiBIsWrittenWhole();
};

void tst_HostsLines::parseLine_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<bool>("disabled");
    QTest::addColumn<QString>("ip");
    QTest::addColumn<QString>("host");
    QTest::newRow("active entry") << "127.0.0.1 localhost" << false << "127.0.0.1" << "localhost";
    QTest::newRow("disabled entry") << "#127.0.0.1 localhost" << true << "127.0.0.1" << "localhost";
    QTest::newRow("comment with space after hash") << "# 127.0.0.1 localhost" << true << "" << "127.0.0.1";
    QTest::newRow("lone hash") << "#" << true << "" << "";
    QTest::newRow("comment text") << "# some comment text" << true << "" << "some";
    QTest::newRow("empty line") << "" << false << "" << "";
    QTest::newRow("runs of spaces") << "10.0.0.1    a     b" << false << "10.0.0.1" << "a";
    QTest::newRow("leading spaces") << "   10.0.0.1 x" << false << "10.0.0.1" << "x";
    QTest::newRow("trailing comment") << "10.0.0.1 x # note" << false << "10.0.0.1" << "x";
    QTest::newRow("comma is ordinary on a line by line reading") << "10.0.0.1 a, 10.0.0.2 b" << false
                                                                   << "10.0.0.1" << "a,";
    QTest::newRow("comma in a comment stays in its row")
        << "# Additionally, comments (such as these) may be inserted" << true << "" << "Additionally,";
    QTest::newRow("hash inside the address") << "1#2.0.0.1 y" << false << "12.0.0.1" << "y";
    QTest::newRow("single word") << "localhost" << false << "" << "";
    QTest::newRow("tab between address and name") << "127.0.0.1\tlocalhost" << false << "127.0.0.1"
                                                   << "localhost";
    QTest::newRow("tabs and spaces mixed") << "\t::1 \t localhost ip6-localhost" << false << "::1" << "localhost";
    QTest::newRow("quote is ordinary") << "# \"unclosed quote" << true << "" << "\"unclosed";
    QTest::newRow("trailing blank gives an empty host") << "10.0.0.1 " << false << "10.0.0.1" << "";
}

void tst_HostsLines::parseLine()
{
    QFETCH(QString, line);
    const HostsValues v = parseHostsLine(line);
    QTEST(v.disabled, "disabled");
    QTEST(v.ip, "ip");
    QTEST(v.host, "host");
}

void tst_HostsLines::linesBecomeRows_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("hosts"); // the host text of each row
    QTest::newRow("CR LF lines") << QByteArray("1.1.1.1 a\r\n2.2.2.2 b\r\n") << QStringList{"a", "b"};
    QTest::newRow("LF lines") << QByteArray("1.1.1.1 a\n2.2.2.2 b\n") << QStringList{"a", "b"};
    QTest::newRow("no final line end") << QByteArray("1.1.1.1 a\n2.2.2.2 b\n3.3.3.3 c") << QStringList{"a", "b", "c"};
    QTest::newRow("empty file") << QByteArray() << QStringList{};
    QTest::newRow("one more line end gives an empty row") << QByteArray("1.1.1.1 a\r\n\r\n") << QStringList{"a", ""};
    QTest::newRow("comment with comma and quote is one row")
        << QByteArray("# a, \"b\r\n1.1.1.1 c\r\n") << QStringList{"a,", "c"};
    QTest::newRow("byte-order mark is not part of the first row")
        << QByteArray("\xEF\xBB\xBF" "1.1.1.1 a\n") << QStringList{"a"};
}

void tst_HostsLines::linesBecomeRows()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, hosts);
    HostsDocument doc("UTF-8");
    doc.load(bytes);
    QStringList got;
    for (int i = 0; i < doc.rowCount(); ++i)
        got << doc.values(i).host;
    QCOMPARE(got, hosts);
    if (bytes.startsWith("\xEF\xBB\xBF"))
        QCOMPARE(doc.values(0).ip, QStringLiteral("1.1.1.1"));
}

void tst_HostsLines::unchangedRoundTrip_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QByteArray>("encoding");
    const QDir data(QStringLiteral(TARVIX_TESTDATA "/hosts"));
    for (const QString& name : data.entryList(QDir::Files)) {
        const QByteArray encoding = name.startsWith(QLatin1String("gbk")) || name.startsWith(QLatin1String("invalid"))
                                        ? "GBK"
                                        : "UTF-8";
        QTest::newRow(qPrintable(name)) << readBytes(data.filePath(name)) << encoding;
    }
    QTest::newRow("100,000-line blocklist") << blocklist(100000) << QByteArray("UTF-8");
    QTest::newRow("lone CR at the end of an LF file") << QByteArray("1.1.1.1 a\n2.2.2.2 b\r") << QByteArray("UTF-8");
    QTest::newRow("CR-only line ends are one line") << QByteArray("1.1.1.1 a\r2.2.2.2 b\r#3.3.3.3 c") << QByteArray("UTF-8");
    QTest::newRow("NUL bytes") << QByteArray("1.1.1.1 a\0b\n\0\n", 15) << QByteArray("UTF-8");
}

void tst_HostsLines::unchangedRoundTrip()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QByteArray, encoding);
    HostsDocument doc(encoding);
    doc.load(bytes);
    // Editing a row back to what it was counts as no change.
    if (doc.rowCount() > 0)
        doc.setValues(0, doc.values(0));
    QByteArray expected = bytes;
    if (expected.endsWith('\r'))
        expected += '\n'; // a CR at the end of the file is completed to CR LF
    else if (!expected.isEmpty() && !expected.endsWith('\n'))
        expected += expected.contains("\r\n") ? QByteArray("\r\n")
                    : expected.contains('\n')  ? QByteArray("\n")
                                               : Platform::lineEnd(); // no line end to follow: the system's
    QCOMPARE(saved(doc), expected);
}

void tst_HostsLines::savedEditReadsBackSameRows()
{
    // Found by fuzzing: a file whose last line ends in a lone CR, with binary bytes, in GBK.
    const QByteArray input = QByteArray::fromBase64("Lv//////////////////////////////AAoACn5iCv//////////////My4uMyBeDQ==");
    HostsDocument doc("GBK");
    doc.load(input);
    QCOMPARE(doc.rowCount(), 4);
    doc.setValues(0, HostsValues{true, QStringLiteral("10.0.0.49"), QStringLiteral("h0")});
    const QByteArray bytes = saved(doc);
    HostsDocument back("GBK");
    back.load(bytes);
    QCOMPARE(back.rowCount(), doc.rowCount());
    for (int i = 0; i < doc.rowCount(); ++i)
        QCOMPARE(back.values(i), doc.values(i));
    QVERIFY(bytes.endsWith("3..3 ^\r\n"));
}

void tst_HostsLines::editChangesExactlyThatLine()
{
    const QByteArray bytes = readBytes(QStringLiteral(TARVIX_TESTDATA "/hosts/gbk-chinese.hosts"));
    HostsDocument doc("GBK");
    doc.load(bytes);
    QList<QByteArray> lines = bytes.split('\n');
    // Row 4 is "10.0.0.1 oa.example.com    # 办公系统, ..." in GBK.
    HostsValues v = doc.values(3);
    QCOMPARE(v.host, QStringLiteral("oa.example.com"));
    v.disabled = true;
    doc.setValues(3, v);
    lines[3] = "#" + lines[3];
    QCOMPARE(saved(doc), lines.join('\n'));
}

void tst_HostsLines::editedRowKeepsRestOfLine_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QString>("newIp");
    QTest::addColumn<bool>("clearHost");
    QTest::addColumn<QByteArray>("written");
    QTest::newRow("further names and a comment") << QByteArray("::1     localhost ip6-localhost # v6\n") << "::2"
                                                 << false << QByteArray("::2 localhost ip6-localhost # v6\n");
    QTest::newRow("tab-separated") << QByteArray("127.0.1.1\tbox.example.org\tbox\n") << "10.0.0.9" << false
                                   << QByteArray("10.0.0.9 box.example.org\tbox\n");
    QTest::newRow("two words only") << QByteArray("1.1.1.1 a\r\n") << "2.2.2.2" << false
                                    << QByteArray("2.2.2.2 a\r\n");
    QTest::newRow("single word loses nothing it showed") << QByteArray("localhost\n") << "1.2.3.4" << false
                                                         << QByteArray("1.2.3.4 \n");
    // Its further names would otherwise come first and read back as the address.
    QTest::newRow("both boxes cleared: written as an added empty row")
        << QByteArray("127.0.0.1 localhost localhost.localdomain ip6-localhost\r\n") << "" << true
        << QByteArray(" \r\n");
    QTest::newRow("both boxes of a disabled row cleared") << QByteArray("#10.0.0.1 a b # note\n") << "" << true
                                                          << QByteArray("# \n");
}

void tst_HostsLines::editedRowKeepsRestOfLine()
{
    QFETCH(QByteArray, line);
    QFETCH(QString, newIp);
    QFETCH(bool, clearHost);
    HostsDocument doc("UTF-8");
    doc.load(line);
    HostsValues v = doc.values(0);
    v.ip = newIp;
    if (clearHost)
        v.host.clear();
    doc.setValues(0, v);
    QTEST(saved(doc), "written");
    if (clearHost) {
        HostsDocument again("UTF-8");
        again.load(saved(doc));
        QCOMPARE(again.values(0), (HostsValues{v.disabled, QString(), QString()}));
    }
}

void tst_HostsLines::writtenForm_data()
{
    QTest::addColumn<bool>("disabled");
    QTest::addColumn<QString>("ip");
    QTest::addColumn<QString>("host");
    QTest::addColumn<bool>("deleted");
    QTest::addColumn<QByteArray>("written");
    QTest::newRow("active row") << false << "10.0.0.1" << "printer" << false << QByteArray("10.0.0.1 printer\n");
    QTest::newRow("disabled row") << true << "10.0.0.1" << "printer" << false << QByteArray("#10.0.0.1 printer\n");
    QTest::newRow("both texts empty") << false << "" << "" << false << QByteArray(" \n");
    QTest::newRow("both texts empty, disabled") << true << "" << "" << false << QByteArray("# \n");
    QTest::newRow("spaces written unchanged") << false << " 1.1.1.1 " << " a b" << false
                                              << QByteArray(" 1.1.1.1   a b\n");
    QTest::newRow("deleted and disabled not written") << true << "10.0.0.1" << "x" << true << QByteArray();
}

void tst_HostsLines::writtenForm()
{
    QFETCH(bool, disabled);
    QFETCH(QString, ip);
    QFETCH(QString, host);
    QFETCH(bool, deleted);
    HostsDocument doc("UTF-8");
    QFETCH(QByteArray, written);
    doc.load(QByteArray()); // a new, empty file: lines end in this system's line end
    doc.addRow();
    doc.setValues(0, HostsValues{disabled, ip, host});
    doc.setDeleted(0, deleted);
    if (written.endsWith('\n'))
        written = written.chopped(1) + Platform::lineEnd(); // CR LF on Windows
    QCOMPARE(saved(doc), written);
}

void tst_HostsLines::savedFileReadsBack()
{
    HostsDocument doc("UTF-8");
    doc.load("1.1.1.1 a\r\n");
    for (int i = 0; i < 3; ++i) {
        doc.addRow();
        doc.setValues(doc.rowCount() - 1, HostsValues{i == 1, QStringLiteral("10.0.0.%1").arg(i), QStringLiteral("dup")});
    }
    const QByteArray bytes = saved(doc);
    // New rows take the file's own line end; equal rows are all written.
    QCOMPARE(bytes, QByteArray("1.1.1.1 a\r\n10.0.0.0 dup\r\n#10.0.0.1 dup\r\n10.0.0.2 dup\r\n"));
    HostsDocument back("UTF-8");
    back.load(bytes);
    QCOMPARE(back.rowCount(), 4);
    QCOMPARE(back.values(2), (HostsValues{true, QStringLiteral("10.0.0.1"), QStringLiteral("dup")}));
}

void tst_HostsLines::unencodableTextRefused()
{
    HostsDocument doc("GBK");
    doc.load("1.1.1.1 a\r\n");
    doc.setValues(0, HostsValues{false, QStringLiteral("1.1.1.1"), QStringLiteral("smile\U0001F600")});
    QByteArray out;
    QString error;
    QVERIFY(!doc.toBytes(&out, &error));
    QVERIFY(error.contains(QLatin1String("GBK")));
}

void tst_HostsLines::gbkSurvivesWriteAndRead()
{
    const TextCodec gbk("GBK");
    QByteArray bytes;
    QVERIFY(gbk.encode(QStringLiteral("保存成功!"), &bytes));
    QCOMPARE(bytes.toHex(), QByteArray("b1a3b4e6b3c9b9a621"));
    QCOMPARE(gbk.decode(bytes), QStringLiteral("保存成功!"));

    HostsDocument doc("GBK");
    doc.load(readBytes(QStringLiteral(TARVIX_TESTDATA "/hosts/gbk-chinese.hosts")));
    QCOMPARE(doc.values(5).host, QStringLiteral("打印机"));
    doc.setValues(5, HostsValues{false, QStringLiteral("192.168.1.11"), QStringLiteral("新打印机")});
    HostsDocument back("GBK");
    back.load(saved(doc));
    QCOMPARE(back.values(5).host, QStringLiteral("新打印机"));
    QCOMPARE(back.values(0).host, QStringLiteral("本机"));
}

void tst_HostsLines::unencodableCharacterNamed_data()
{
    QTest::addColumn<QByteArray>("encoding");
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("named"); // empty: the text can be encoded and is saved
    QTest::newRow("emoji in GBK") << QByteArray("GBK") << QStringLiteral("smile\U0001F600")
                                  << QStringLiteral("U+1F600 (\U0001F600)");
    QTest::newRow("Hangul in GBK after Chinese")
        << QByteArray("GBK") << QStringLiteral("打印机한") << QStringLiteral("U+D55C (한)");
    QTest::newRow("byte-order mark in UTF-8 is a character")
        << QByteArray("UTF-8") << QStringLiteral("\uFEFFa") << QString();
    QTest::newRow("emoji in UTF-8") << QByteArray("UTF-8") << QStringLiteral("smile\U0001F600") << QString();
}

void tst_HostsLines::unencodableCharacterNamed()
{
    QFETCH(QByteArray, encoding);
    QFETCH(QString, host);
    QFETCH(QString, named);
    HostsDocument doc(encoding);
    doc.load("1.1.1.1 a\r\n2.2.2.2 b\r\n");
    doc.setValues(1, HostsValues{false, QStringLiteral("2.2.2.2"), host});
    QByteArray out;
    QString error;
    const bool ok = doc.toBytes(&out, &error);
    if (named.isEmpty()) {
        QVERIFY2(ok, qPrintable(error));
        QCOMPARE(TextCodec(encoding).decode(out),
                 QStringLiteral("1.1.1.1 a\r\n2.2.2.2 ") + host + QStringLiteral("\r\n"));
    } else {
        QVERIFY(!ok);
        QVERIFY2(error.contains(QStringLiteral("第 2 行")), qPrintable(error));
        QVERIFY2(error.contains(named), qPrintable(error));
    }
}

void tst_HostsLines::oneWordLineToggles_data()
{
    QTest::addColumn<QByteArray>("line"); // without its line end
    QTest::addColumn<QByteArray>("encoding");
    const TextCodec gbk("GBK");
    const QString notice = QStringLiteral(
        "#【重要提示】本文件由系统维护，请勿随意修改，修改前请先备份，否则可能无法访问公司内网资源。");
    QTest::newRow("@OS") << QByteArray("@OS") << QByteArray("UTF-8");
    QTest::newRow("#acdsee") << QByteArray("#acdsee") << QByteArray("UTF-8");
    QTest::newRow("banner of 37 characters") << ("#" + QByteArray(36, '=')) << QByteArray("UTF-8");
    QTest::newRow("banner of hashes keeps all but one") << QByteArray(37, '#') << QByteArray("UTF-8");
    QTest::newRow("#<localhost>") << QByteArray("#<localhost>") << QByteArray("UTF-8");
    QTest::newRow("Chinese notice in UTF-8") << notice.toUtf8() << QByteArray("UTF-8");
    QTest::newRow("Chinese notice in GBK") << gbk.encode(notice) << QByteArray("GBK");
    QTest::newRow("Chinese notice in GBK read as UTF-8") << gbk.encode(notice) << QByteArray("UTF-8");
    QTest::newRow("#QQ浏览器 in GBK") << gbk.encode(QStringLiteral("#QQ浏览器")) << QByteArray("GBK");
    QTest::newRow("notice with ideographic spaces")
        << QStringLiteral("#注意　请勿修改").toUtf8() << QByteArray("UTF-8");
    QTest::newRow("lone hash") << QByteArray("#") << QByteArray("UTF-8");
    QTest::newRow("line of blanks") << QByteArray(" \t  ") << QByteArray("UTF-8");
    QTest::newRow("empty line") << QByteArray() << QByteArray("UTF-8");
    QTest::newRow("hash and trailing blanks") << QByteArray("#   ") << QByteArray("UTF-8");
    QTest::newRow("indented comment word") << QByteArray("  \t#marker") << QByteArray("UTF-8");
}

void tst_HostsLines::oneWordLineToggles()
{
    QFETCH(QByteArray, line);
    QFETCH(QByteArray, encoding);
    const QByteArray file = "127.0.0.1 localhost\r\n" + line + "\r\n10.0.0.1 after\r\n";
    HostsDocument doc(encoding);
    doc.load(file);
    QCOMPARE(doc.rowCount(), 3);
    HostsValues v = doc.values(1);
    QCOMPARE(v.ip, QString());
    QCOMPARE(v.host, QString());
    const bool wasDisabled = v.disabled;
    v.disabled = !v.disabled;
    doc.setValues(1, v);
    QByteArray expected = line;
    if (wasDisabled)
        expected.remove(expected.indexOf('#'), 1);
    else
        expected.prepend('#');
    const QByteArray toggled = saved(doc);
    QCOMPARE(toggled, "127.0.0.1 localhost\r\n" + expected + "\r\n10.0.0.1 after\r\n");

    // And back: the "#" goes again (or comes back), at the start of the line.
    HostsDocument back(encoding);
    back.load(toggled);
    HostsValues w = back.values(1);
    QCOMPARE(w.disabled, !wasDisabled || line.startsWith("##"));
    w.disabled = !w.disabled;
    back.setValues(1, w);
    if (w.disabled)
        expected.prepend('#');
    else
        expected.remove(expected.indexOf('#'), 1);
    QCOMPARE(saved(back), "127.0.0.1 localhost\r\n" + expected + "\r\n10.0.0.1 after\r\n");
    if (!line.startsWith("##") && !line.startsWith(' ') && !line.startsWith('\t'))
        QCOMPARE(saved(back), file);
}

void tst_HostsLines::untouchedWordsKeepTheirBytes_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QByteArray>("encoding");
    QTest::addColumn<QByteArray>("written"); // after the "禁用" box is toggled
    const TextCodec gbk("GBK");
    const QByteArray project = gbk.encode(QStringLiteral("项目"));
    const QByteArray remark = gbk.encode(QStringLiteral("说明"));
    const QByteArray server = gbk.encode(QStringLiteral("项目服务器"));
    const QByteArray note = gbk.encode(QStringLiteral("# 办公系统"));
    QTest::newRow("GBK comment read as UTF-8, unticked")
        << ("# " + project + " " + remark) << QByteArray("UTF-8") << (" " + project + " " + remark);
    QTest::newRow("GBK entry read as UTF-8, ticked")
        << ("10.0.0.1 " + server + "  " + note) << QByteArray("UTF-8")
        << ("#10.0.0.1 " + server + "  " + note);
    QTest::newRow("invalid UTF-8 in both words, ticked")
        << QByteArray("10.0.0.\xff \xfe\xfdhost") << QByteArray("UTF-8")
        << QByteArray("#10.0.0.\xff \xfe\xfdhost");
    QTest::newRow("hash inside the address stays out")
        << QByteArray("#1#2.0.0.1 y") << QByteArray("UTF-8") << QByteArray("12.0.0.1 y");
}

void tst_HostsLines::untouchedWordsKeepTheirBytes()
{
    QFETCH(QByteArray, line);
    QFETCH(QByteArray, encoding);
    QFETCH(QByteArray, written);
    HostsDocument doc(encoding);
    doc.load(line + "\n");
    HostsValues v = doc.values(0);
    v.disabled = !v.disabled;
    doc.setValues(0, v);
    QCOMPARE(saved(doc), written + "\n");
    // A word the user typed is encoded; the other one keeps its bytes.
    v.ip = QStringLiteral("10.9.9.9");
    doc.setValues(0, v);
    const QByteArray retyped = saved(doc);
    QVERIFY(retyped.startsWith((v.disabled ? "#" : "") + QByteArray("10.9.9.9 ")));
    QVERIFY(retyped.endsWith(written.mid(written.indexOf(' ')) + "\n"));
}

void tst_HostsLines::strayByteOrderMarkUnticks()
{
    // One published list starts a comment with "#", a UTF-8 byte-order mark and a space.
    const QByteArray line = QByteArray::fromHex("23efbbbf2023232320") + "Ad servers ####";
    HostsDocument doc("UTF-8");
    doc.load(line + "\n0.0.0.0 ads.example\n");
    HostsValues v = doc.values(0);
    QVERIFY(v.disabled);
    v.disabled = false;
    doc.setValues(0, v);
    QByteArray out;
    QString error;
    QVERIFY2(doc.toBytes(&out, &error), qPrintable(error));
    QCOMPARE(out, line.mid(1) + "\n0.0.0.0 ads.example\n");
}

void tst_HostsLines::lineOf2GiBIsWrittenWhole()
{
    // A sparse file in a temporary folder: a short line, a line of NUL bytes just over 2 GiB
    // long that takes no disk space, and a short line. Ticking the first row must write the
    // long line back whole. The folder is in memory where the system has one for that: reading
    // the hole there takes a third less time than from a disk's cache.
    const QString memory = QStringLiteral("/dev/shm");
    QTemporaryDir dir((QFileInfo(memory).isDir() ? memory : QDir::tempPath()) +
                      QStringLiteral("/tst_hostslines-XXXXXX"));
    const QString path = dir.filePath(QStringLiteral("hosts"));
    const QByteArray head = "127.0.0.1 a\n";
    const QByteArray tail = "\n10.0.0.1 b\n";
    const qint64 longLine = (qint64(1) << 31) + 16;
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(file.write(head) == head.size());
        QVERIFY(file.seek(head.size() + longLine));
        QVERIFY(file.write(tail) == tail.size());
    }
    QByteArray bytes;
    QString error;
    QCOMPARE(TextFile::read(path, &bytes, &error), TextFile::ReadStatus::Ok);
    QCOMPARE(qint64(bytes.size()), head.size() + longLine + tail.size());
    HostsDocument doc("UTF-8");
    doc.load(bytes);
    QCOMPARE(doc.rowCount(), 3);
    doc.setValues(0, HostsValues{true, QStringLiteral("127.0.0.1"), QStringLiteral("a")});
    QByteArray out;
    QVERIFY2(doc.toBytes(&out, &error), qPrintable(error));
    bytes.clear();
    QCOMPARE(qint64(out.size()), 1 + head.size() + longLine + tail.size());
    QVERIFY(out.startsWith("#" + head));
    QVERIFY(out.endsWith(tail));
    QCOMPARE(doc.values(2), (HostsValues{false, QStringLiteral("10.0.0.1"), QStringLiteral("b")}));
}

QTEST_GUILESS_MAIN(tst_HostsLines)
#include "tst_hostslines.moc"
