#include "TestMain.h"
#include "core/hosts/HostsDocument.h"
#include "core/hosts/HostsFilter.h"
#include "core/hosts/HostsSections.h"
#include "platform/TextCodec.h"

#include <QRandomGenerator>
#include <QTest>

namespace {

QByteArray saved(const HostsDocument& doc)
{
    QByteArray out;
    QString error;
    if (!doc.toBytes(&out, &error))
        return "<failed: " + error.toUtf8() + ">";
    return out;
}

// The file with "#" put before the first word of each given line that has none (disabled), or
// every "#" of their first word taken out: the whole change a section switch may make. A last
// line without a line end gets one at every save.
QByteArray switched(QByteArray file, const QList<int>& rows, bool disabled)
{
    if (!file.endsWith('\n'))
        file += '\n';
    QList<QByteArray> lines = file.split('\n');
    for (const int row : rows) {
        QByteArray& line = lines[row];
        qsizetype w0 = 0;
        while (w0 < line.size() && (line[w0] == ' ' || line[w0] == '\t'))
            ++w0;
        qsizetype w0End = w0;
        while (w0End < line.size() && line[w0End] != ' ' && line[w0End] != '\t')
            ++w0End;
        QByteArray word = line.mid(w0, w0End - w0);
        if (word.startsWith('#') == disabled)
            continue; // as it is already: a click would not change it
        word.replace('#', QByteArray());
        line.replace(w0, w0End - w0, disabled ? "#" + word : word);
    }
    return lines.join('\n');
}

// What the find box must show: a row the user touched by its IP and host, any other by its
// line as the file's encoding reads it.
std::vector<int> referenceRows(const HostsDocument& doc, const QString& text)
{
    std::vector<int> rows;
    for (int i = 0; i < doc.rowCount(); ++i) {
        const HostsValues v = doc.values(i);
        const bool match = doc.isEdited(i)
                               ? v.ip.contains(text, Qt::CaseInsensitive) || v.host.contains(text, Qt::CaseInsensitive)
                               : doc.codec().decode(doc.lineBytes(i)).contains(text, Qt::CaseInsensitive);
        if (match)
            rows.push_back(i);
    }
    return rows;
}

} // namespace

class tst_HostsFind : public QObject
{
    Q_OBJECT

private slots:
    void sections_data();
    void sections();
    void filterMatchesReading_data();
    void filterMatchesReading();
};

void tst_HostsFind::sections_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QByteArray>("encoding");
    QTest::addColumn<int>("head");
    QTest::addColumn<QList<int>>("section");
    const QByteArray utf8("UTF-8");
    QTest::newRow("up to a blank line") << QByteArray("# Google\n1.1.1.1 a\n2.2.2.2 b\n\n3.3.3.3 c\n") << utf8 << 0
                                        << QList<int>{1, 2};
    QTest::newRow("blank line of spaces ends it") << QByteArray("# S\n1.1.1.1 a\n  \t\n3.3.3.3 c\n") << utf8 << 0
                                                  << QList<int>{1};
    QTest::newRow("commented-out entries inside")
        << QByteArray("# Svc\n1.1.1.1 a\n#2.2.2.2 b\n##3.3.3.3 c\n::1 d\n") << utf8 << 0 << QList<int>{1, 2, 3, 4};
    QTest::newRow("nested comment ends it") << QByteArray("# Outer\n1.1.1.1 a\n# Inner\n2.2.2.2 b\n") << utf8 << 0
                                            << QList<int>{1};
    QTest::newRow("nested comment heads its own") << QByteArray("# Outer\n1.1.1.1 a\n# Inner\n2.2.2.2 b\n") << utf8 << 2
                                                  << QList<int>{3};
    QTest::newRow("hash, space, address is a comment")
        << QByteArray("# S\n1.1.1.1 a\n# 2.2.2.2 b\n3.3.3.3 c\n") << utf8 << 0 << QList<int>{1};
    QTest::newRow("one word ends it") << QByteArray("# S\n1.1.1.1 a\nlocalhost\n2.2.2.2 b\n") << utf8 << 0
                                      << QList<int>{1};
    QTest::newRow("to the end of the file") << QByteArray("# Last\n1.1.1.1 a\nfe80::1 b") << utf8 << 0
                                            << QList<int>{1, 2};
    QTest::newRow("blanks, tabs and CR LF kept")
        << QByteArray("# S\r\n  1.1.1.1\ta  # x\r\n\t#2.2.2.2   b\r\n") << utf8 << 0 << QList<int>{1, 2};
    QTest::newRow("GBK comments around")
        << TextCodec("GBK").encode(QStringLiteral("# 谷歌服务\n1.1.1.1 谷歌.cn # 注释\n#2.2.2.2 b\n# 结束\n3.3.3.3 c\n"))
        << QByteArray("GBK") << 0 << QList<int>{1, 2};
    QTest::newRow("comment before a comment heads none") << QByteArray("# Title\n# note\n1.1.1.1 a\n") << utf8 << 0
                                                         << QList<int>{};
    QTest::newRow("entry heads none") << QByteArray("#1.1.1.1 a\n2.2.2.2 b\n") << utf8 << 0 << QList<int>{};
    QTest::newRow("word that is no address heads")
        << QByteArray("#Cafe.example notes\n1.1.1.1 a\n") << utf8 << 0 << QList<int>{1};
    QTest::newRow("active row heads none") << QByteArray("1.1.1.1 a\n2.2.2.2 b\n") << utf8 << 0 << QList<int>{};
    QTest::newRow("comment at the end heads none") << QByteArray("1.1.1.1 a\n# end\n") << utf8 << 1 << QList<int>{};
    QTest::newRow("row past the end") << QByteArray("# S\n1.1.1.1 a\n") << utf8 << 5 << QList<int>{};
    const QByteArray prose =
        "# S\n#1.1.1.1 a b_c.d-e # note, see\n#127.0.0.1 is localhost, see below\n#cafe.de example\n"
        "2.2.2.2 b\n#1.1.1 x\n3.3.3.3 c\n#::1 v6\n";
    QTest::newRow("prose after an address ends it") << prose << utf8 << 0 << QList<int>{1};
    QTest::newRow("prose heads a section") << prose << utf8 << 2 << QList<int>{};
    QTest::newRow("a word that is no address heads") << prose << utf8 << 3 << QList<int>{4};
    QTest::newRow("an invalid address heads") << prose << utf8 << 5 << QList<int>{6, 7};
    QTest::newRow("a name outside ASCII is prose")
        << QStringLiteral("# S\n#1.1.1.1 a\n#1.1.1.1 本机\n").toUtf8() << utf8 << 0 << QList<int>{1};
}

void tst_HostsFind::sections()
{
    QFETCH(QByteArray, file);
    QFETCH(QByteArray, encoding);
    QFETCH(int, head);
    QFETCH(QList<int>, section);
    HostsDocument doc(encoding);
    doc.load(file);
    const std::vector<int> rows = HostsSections::sectionRows(doc, head);
    QCOMPARE(QList<int>(rows.begin(), rows.end()), section);

    // Switching the section changes each of its lines by its "#" only, and nothing else.
    doc.setDisabled(rows, true);
    QCOMPARE(saved(doc), switched(file, section, true));
    doc.setDisabled(rows, false);
    QCOMPARE(saved(doc), switched(file, section, false));
}

void tst_HostsFind::filterMatchesReading_data()
{
    QTest::addColumn<QByteArray>("encoding");
    QTest::newRow("UTF-8") << QByteArray("UTF-8");
    QTest::newRow("GBK: ASCII bytes inside characters") << QByteArray("GBK");
}

void tst_HostsFind::filterMatchesReading()
{
    // Generated lines (a fixed seed) with words in both cases, Chinese and accented comments,
    // edited rows and added rows; every text is looked for in steps of every size.
    QFETCH(QByteArray, encoding);
    const TextCodec codec(encoding);
    QRandomGenerator random(22);
    const QStringList words{
        QStringLiteral("ads"),      QStringLiteral("ADS1"),        QStringLiteral("Tracker"),
        QStringLiteral("谷歌"),     QStringLiteral("éclair"),      QStringLiteral("ÉCLAIR"),
        QStringLiteral("示例.com"), QStringLiteral("x@y"),         QStringLiteral(""),
        QStringLiteral("乤乨"), // GBK 81 61 81 64: "a" and "d" as second bytes
        QStringLiteral("eclair"),   QStringLiteral("\u212Aelvin"), QStringLiteral("STRA\u1E9EE"),
        QStringLiteral("straße")};
    QByteArray file;
    for (int i = 0; i < 3000; ++i) {
        QString line = QStringLiteral("%1%2.0.%3.%4 %5%6.example")
                           .arg(random.bounded(4) == 0 ? QStringLiteral("#") : QString())
                           .arg(random.bounded(256))
                           .arg(random.bounded(256))
                           .arg(i)
                           .arg(words[random.bounded(words.size())])
                           .arg(i);
        if (random.bounded(3) == 0)
            line += QStringLiteral("\t# ") + words[random.bounded(words.size())];
        if (random.bounded(20) == 0)
            line = QStringLiteral("# ") + words[random.bounded(words.size())];
        file += codec.encode(line) + (i % 7 == 0 ? "\r\n" : "\n");
    }
    HostsDocument doc(encoding);
    doc.load(file);
    for (int i = 0; i < doc.rowCount(); i += 37) {
        HostsValues v = doc.values(i);
        v.host = words[random.bounded(words.size())] + QStringLiteral(".edited");
        doc.setValues(i, v);
    }
    doc.addRow();
    doc.addRow();
    doc.setValues(doc.rowCount() - 1, HostsValues{false, QStringLiteral("10.0.0.1"), QStringLiteral("Added.Tracker")});

    const QStringList texts{
        QStringLiteral("ads"),    QStringLiteral("aDs1"),          QStringLiteral("tracker"),
        QStringLiteral("谷歌"),   QStringLiteral("ÉCLAIR"),        QStringLiteral("éclair.edited"),
        QStringLiteral("#"),      QStringLiteral("0.1"),           QStringLiteral(".example\t"),
        QStringLiteral("1"),      QStringLiteral("nothing"),       QStringLiteral("示例.COM"),
        QStringLiteral("É"),      QStringLiteral("ÉCLAIR.EDITED"), QStringLiteral("D"),
        QStringLiteral("k"),      QStringLiteral("KELVIN"),        QStringLiteral("ß"),
        QStringLiteral("Straße"), QStringLiteral("éclair")};
    for (const QString& text : texts) {
        const std::vector<int> expected = referenceRows(doc, text);
        // Typing on: the rows found for the text's first character narrow the search.
        const std::vector<int> forFirst = referenceRows(doc, text.left(1));
        for (const qsizetype budget : {qsizetype(1), qsizetype(97), qsizetype(1) << 20}) {
            HostsFilter narrowed(doc, text, &forFirst);
            while (!narrowed.step(budget)) {
            }
            QVERIFY2(narrowed.rows() == expected, qPrintable(text + QStringLiteral(" narrowed")));
            HostsFilter filter(doc, text);
            while (!filter.step(budget)) {
            }
            QVERIFY2(filter.rows() == expected,
                     qPrintable(QStringLiteral("%1 in steps of %2: %3 rows, %4 expected")
                                    .arg(text)
                                    .arg(budget)
                                    .arg(filter.rows().size())
                                    .arg(expected.size())));
        }
    }
    QCOMPARE(HostsFilter::matchingRows(doc, QString()).size(), size_t(doc.rowCount()));
}

QTEST_GUILESS_MAIN(tst_HostsFind)
#include "tst_hostsfind.moc"
