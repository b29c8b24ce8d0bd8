// Saving after another program changed the hosts file: the user's row changes applied to the
// file as it is now, line by line, and a refusal where both changed the same line.
#include "TestMain.h"
#include "core/hosts/HostsDocument.h"
#include "core/hosts/HostsMerge.h"

#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <array>

namespace {

const QByteArray kBase = "127.0.0.1 localhost\n"
                         "10.0.0.1 a\n"
                         "10.0.0.2 b\n"
                         "10.0.0.3 c\n"
                         "10.0.0.4 d\n";

// The user's edits, one per word list: "tick N", "untick N", "delete N", "ip N TEXT",
// "host N TEXT", "add IP HOST" (rows from 1).
void apply(HostsDocument& doc, const QStringList& edits)
{
    for (const QString& edit : edits) {
        const QStringList w = edit.split(QLatin1Char(' '));
        const int row = w.value(1).toInt() - 1;
        if (w[0] == QLatin1String("add")) {
            doc.addRow();
            doc.setValues(doc.rowCount() - 1, HostsValues{false, w[1], w[2]});
            continue;
        }
        HostsValues v = doc.values(row);
        if (w[0] == QLatin1String("tick"))
            v.disabled = true;
        else if (w[0] == QLatin1String("untick"))
            v.disabled = false;
        else if (w[0] == QLatin1String("ip"))
            v.ip = w[2];
        else if (w[0] == QLatin1String("host"))
            v.host = w[2];
        if (w[0] == QLatin1String("delete"))
            doc.setDeleted(row, true);
        else
            doc.setValues(row, v);
    }
}

QByteArray lines(const QList<QByteArray>& list)
{
    QByteArray out;
    for (const QByteArray& line : list)
        out += line + '\n';
    return out;
}

// What diff3 -m MINE OLDER YOURS from diffutils, the reference merge, gives for one case: the
// merged file, or a conflict.
struct Reference {
    bool merged = false;
    QByteArray bytes;
};

// Cases per run of diff3: with a few thousand lines and changes in each run, diff's search for
// the shortest difference stays far below the cost at which it settles for a longer one.
const size_t kCasesPerRun = 100;

// diff3 over many cases (each its base, mine and other) in one run: a process per case took most
// of the test's time. The three files hold the cases one after another, each after a line of its
// own that all three files share. No line of one case equals a line of another, so the common sequences that
// diff3 works from pair each case's lines only with the same case's and keep every shared line; diff3 joins
// only changes that overlap or touch, and a shared line lies between any two cases' changes. Each case's part
// of the output is therefore what diff3 gives for that case alone.
std::vector<Reference> diff3(const QTemporaryDir& dir, const std::vector<std::array<QByteArray, 3>>& cases)
{
    auto marker = [](size_t i) { return "@@ case " + QByteArray::number(qulonglong(i)) + " @@\n"; };
    QByteArray contents[3]; // mine, older, yours
    for (size_t i = 0; i < cases.size(); ++i) {
        const auto& [base, mine, other] = cases[i];
        contents[0] += marker(i) + mine;
        contents[1] += marker(i) + base;
        contents[2] += marker(i) + other;
    }
    const QStringList names{QStringLiteral("mine"), QStringLiteral("older"), QStringLiteral("yours")};
    QStringList paths;
    for (int i = 0; i < 3; ++i) {
        QFile f(dir.filePath(names[i]));
        if (!f.open(QIODevice::WriteOnly) || f.write(contents[i]) != contents[i].size())
            qFatal("cannot write %s", qPrintable(f.fileName()));
        paths << f.fileName();
    }
    QProcess p;
    p.start(QStringLiteral("diff3"), QStringList{QStringLiteral("-m")} + paths);
    if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() > 1)
        qFatal("diff3 failed: %s", p.readAllStandardError().constData());
    const QByteArray out = p.readAllStandardOutput();
    std::vector<Reference> references(cases.size());
    qsizetype at = 0;
    for (size_t i = 0; i < cases.size(); ++i) {
        const QByteArray m = marker(i);
        if (out.mid(at, m.size()) != m)
            qFatal("diff3's output lost the line before case %zu", i);
        const qsizetype from = at + m.size();
        at = i + 1 < cases.size() ? out.indexOf("\n" + marker(i + 1), from - 1) + 1 : out.size();
        if (at <= 0)
            qFatal("diff3's output lost the line before case %zu", i + 1);
        references[i].bytes = out.mid(from, at - from);
        references[i].merged =
            !references[i].bytes.startsWith("<<<<<<< ") && !references[i].bytes.contains("\n<<<<<<< ");
    }
    return references;
}

// A random three-way case: base lines, the user's changes (changed, deleted, rows added at the
// end) and another program's (lines changed, deleted, inserted anywhere). Every line is unique,
// across all cases that share the counter fresh, so that the longest common sequence, and with
// it the reference's result, is unambiguous.
struct Case {
    std::vector<QByteArray> base, other;
    std::vector<HostsMerge::Change> changes;
    std::vector<QByteArray> added;
};

Case generate(QRandomGenerator& random, int maxLines, int percentChanged, int* fresh)
{
    auto line = [&](const char* who) {
        return QByteArray("10.0.") + who + ' ' + QByteArray::number(++*fresh);
    };
    auto chance = [&](int percent) { return int(random.bounded(100)) < percent; };
    Case c;
    const int n = int(random.bounded(maxLines + 1));
    for (int i = 0; i < n; ++i)
        c.base.push_back(line("0.1 base"));
    c.changes.resize(size_t(n));
    for (HostsMerge::Change& change : c.changes) {
        if (chance(percentChanged))
            change = chance(50) ? HostsMerge::Change{HostsMerge::Change::Changed, line("1.1 mine")}
                                : HostsMerge::Change{HostsMerge::Change::Deleted, QByteArray()};
    }
    for (int i = int(random.bounded(3)); i > 0; --i)
        c.added.push_back(line("1.2 added"));
    for (const QByteArray& l : c.base) {
        if (chance(percentChanged / 2))
            c.other.push_back(line("2.1 inserted"));
        if (!chance(percentChanged))
            c.other.push_back(l);
        else if (chance(50))
            c.other.push_back(line("2.2 changed"));
    }
    if (chance(percentChanged / 2))
        c.other.push_back(line("2.3 appended"));
    return c;
}

QByteArray joined(const std::vector<QByteArray>& list)
{
    QByteArray out;
    for (const QByteArray& l : list)
        out += l + '\n';
    return out;
}

} // namespace

class tst_HostsMerge : public QObject
{
    Q_OBJECT

private slots:
    void splitLikeTheReading_data();
    void splitLikeTheReading();
    void userChangesOnTheFileAsItIsNow_data();
    void userChangesOnTheFileAsItIsNow();
    void mergeAgreesWithDiff3_data();
    void mergeAgreesWithDiff3();
    void largeChangeCountsAsAllChanged();
    void unchangedFileGivesTheSameAsToBytes();
    void reencodedFileTakesOnlyWhatItCanCarry();
};

void tst_HostsMerge::splitLikeTheReading_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("LF") << QByteArray("a\nb\n");
    QTest::newRow("CR LF and LF mixed") << QByteArray("a\r\nb\nc\r\n");
    QTest::newRow("no final line end") << QByteArray("a\nb");
    QTest::newRow("CR at the very end") << QByteArray("a\nb\r");
    QTest::newRow("CR inside a line") << QByteArray("a\rb\nc\n");
    QTest::newRow("byte-order mark") << QByteArray("\xEF\xBB\xBF"
                                                   "a\n");
    QTest::newRow("empty lines") << QByteArray("\n\n\r\n");
    QTest::newRow("empty file") << QByteArray();
}

void tst_HostsMerge::splitLikeTheReading()
{
    // As many lines as the document has rows, each its row's bytes.
    QFETCH(QByteArray, bytes);
    HostsDocument doc("UTF-8");
    doc.load(bytes);
    bool bom = false;
    const std::vector<HostsMerge::Line> split = HostsMerge::split(bytes, &bom);
    QCOMPARE(qsizetype(split.size()), qsizetype(doc.rowCount()));
    QCOMPARE(bom, bytes.startsWith("\xEF\xBB\xBF"));
    QByteArray joined = bom ? QByteArray("\xEF\xBB\xBF") : QByteArray();
    for (const HostsMerge::Line& line : split)
        joined += line.text.toByteArray() + line.end.toByteArray();
    QCOMPARE(joined, bytes);
}

void tst_HostsMerge::userChangesOnTheFileAsItIsNow_data()
{
    QTest::addColumn<QStringList>("edits");  // the user's, on the file as last read (kBase)
    QTest::addColumn<QByteArray>("current"); // the file as another program left it
    QTest::addColumn<QByteArray>("saved");   // what is written; empty for a refusal
    QTest::addColumn<int>("conflictRow");    // the row named in the refusal; -1: the file was emptied

    const QList<QByteArray> base = kBase.split('\n').mid(0, 5);
    auto with = [&](int at, const QByteArray& line) {
        QList<QByteArray> l = base;
        l.insert(at, line);
        return l;
    };
    auto without = [&](int at) {
        QList<QByteArray> l = base;
        l.removeAt(at);
        return l;
    };
    auto changed = [&](int at, const QByteArray& line) {
        QList<QByteArray> l = base;
        l[at] = line;
        return l;
    };
    auto edited = [](QList<QByteArray> l, int at, const QByteArray& line) {
        l[at] = line;
        return l;
    };
    const QByteArray vpn = "10.8.0.1 vpn.corp";

    QTest::newRow("file unchanged, row ticked")
        << QStringList{"tick 3"} << kBase << lines(changed(2, "#10.0.0.2 b")) << 0;
    // Another program appends a line.
    QTest::newRow("append, user edits nothing near")
        << QStringList{"tick 2"} << lines(with(5, vpn)) << lines(edited(with(5, vpn), 1, "#10.0.0.1 a")) << 0;
    QTest::newRow("append, user ticks the last line")
        << QStringList{"tick 5"} << lines(with(5, vpn)) << lines(edited(with(5, vpn), 4, "#10.0.0.4 d")) << 0;
    QTest::newRow("append, user adds a row") << QStringList{"add 10.0.0.9 mine"} << lines(with(5, vpn))
                                             << lines(with(5, vpn) << "10.0.0.9 mine") << 0;
    // Another program inserts a line.
    QTest::newRow("insert at the top, user ticks the last row")
        << QStringList{"tick 5"} << lines(with(0, vpn)) << lines(edited(with(0, vpn), 5, "#10.0.0.4 d")) << 0;
    QTest::newRow("insert in the middle, user ticks the line before it")
        << QStringList{"tick 3"} << lines(with(3, vpn)) << lines(edited(with(3, vpn), 2, "#10.0.0.2 b")) << 0;
    QTest::newRow("insert in the middle, user ticks the line after it")
        << QStringList{"tick 4"} << lines(with(3, vpn)) << lines(edited(with(3, vpn), 4, "#10.0.0.3 c")) << 0;
    // Another program deletes a line.
    QTest::newRow("delete, user edits a line far away")
        << QStringList{"ip 1 127.0.1.1"} << lines(without(3))
        << lines(edited(without(3), 0, "127.0.1.1 localhost")) << 0;
    QTest::newRow("delete, user ticks the line next to it")
        << QStringList{"tick 5"} << lines(without(3)) << lines(edited(without(3), 3, "#10.0.0.4 d")) << 0;
    QTest::newRow("delete, user deletes the same line")
        << QStringList{"delete 4", "tick 2"} << lines(without(3))
        << lines(edited(without(3), 1, "#10.0.0.1 a")) << 0;
    QTest::newRow("delete, user deletes the line next to it")
        << QStringList{"delete 5"} << lines(without(3)) << lines(without(3).mid(0, 3)) << 0;
    // Another program edits a line.
    QTest::newRow("edit, user ticks the line before it")
        << QStringList{"tick 3"} << lines(changed(3, "10.0.0.33 c"))
        << lines(edited(changed(3, "10.0.0.33 c"), 2, "#10.0.0.2 b")) << 0;
    QTest::newRow("edit, user edits a host far away")
        << QStringList{"host 1 box"} << lines(changed(3, "10.0.0.33 c"))
        << lines(edited(changed(3, "10.0.0.33 c"), 0, "127.0.0.1 box")) << 0;
    QTest::newRow("edit, user leaves it alone and adds a row")
        << QStringList{"add 10.0.0.9 mine"} << lines(changed(3, "10.0.0.33 c"))
        << lines(changed(3, "10.0.0.33 c") << "10.0.0.9 mine") << 0;
    // Both changed the same line: nothing is written.
    QTest::newRow("conflict: both edit the line")
        << QStringList{"tick 4"} << lines(changed(3, "10.0.0.33 c")) << QByteArray() << 4;
    QTest::newRow("conflict: other deletes the line the user ticked")
        << QStringList{"tick 4"} << lines(without(3)) << QByteArray() << 4;
    QTest::newRow("conflict: other edits the line the user deleted")
        << QStringList{"delete 4"} << lines(changed(3, "10.0.0.33 c")) << QByteArray() << 4;
    QTest::newRow("conflict: other replaced the file, user ticked a row")
        << QStringList{"tick 2"} << QByteArray("1.1.1.1 new\n2.2.2.2 file\n") << QByteArray() << 2;
    QTest::newRow("other replaced the file, user only added a row")
        << QStringList{"add 10.0.0.9 mine"} << QByteArray("1.1.1.1 new\n")
        << QByteArray("1.1.1.1 new\n10.0.0.9 mine\n") << 0;
    // A program that rewrites the file in place truncates it first: its lines are not gone.
    QTest::newRow("conflict: file emptied, user only added a row")
        << QStringList{"add 10.0.0.9 mine"} << QByteArray() << QByteArray() << -1;
    // Line ends are the file's as it is now; lines compare without them.
    QTest::newRow("other turned the line ends to CR LF")
        << QStringList{"tick 3", "add 10.0.0.9 mine"} << QByteArray(kBase).replace("\n", "\r\n")
        << QByteArray(lines(changed(2, "#10.0.0.2 b")) + "10.0.0.9 mine\n").replace("\n", "\r\n") << 0;
    QTest::newRow("other appended without a final line end")
        << QStringList{"tick 2", "add 10.0.0.9 mine"} << kBase + vpn
        << lines(edited(with(5, vpn), 1, "#10.0.0.1 a") << "10.0.0.9 mine") << 0;
}

void tst_HostsMerge::userChangesOnTheFileAsItIsNow()
{
    QFETCH(QStringList, edits);
    QFETCH(QByteArray, current);
    QFETCH(QByteArray, saved);
    QFETCH(int, conflictRow);
    HostsDocument doc("UTF-8");
    doc.load(kBase);
    apply(doc, edits);
    QByteArray out;
    QString error;
    const bool ok = doc.mergeInto(current, &out, &error);
    if (conflictRow == 0) {
        QVERIFY2(ok, qPrintable(error));
        QCOMPARE(out, saved);
    } else {
        QVERIFY(!ok);
        if (conflictRow < 0)
            QVERIFY2(error.contains(QStringLiteral("被其他程序清空了")), qPrintable(error));
        else
            QVERIFY2(error.startsWith(QStringLiteral("第 %1 行").arg(conflictRow)), qPrintable(error));
        QVERIFY2(error.contains(QStringLiteral("请重新读取HOST文件")), qPrintable(error));
    }
}

void tst_HostsMerge::mergeAgreesWithDiff3_data()
{
    QTest::addColumn<int>("cases");
    QTest::addColumn<int>("maxLines");
    QTest::addColumn<int>("percentChanged"); // of the lines, on each side
    QTest::addColumn<quint32>("seed");       // fixed: a failing case can be run again
    QTest::newRow("short files, few changes") << 1000 << 8 << 15 << 20261208u;
    QTest::newRow("short files, many changes") << 800 << 8 << 30 << 20261209u;
    QTest::newRow("longer files, changes on both sides of the user's rows") << 700 << 40 << 10 << 20261210u;
}

void tst_HostsMerge::mergeAgreesWithDiff3()
{
    // The merge, as the window does it (the user's changes per row) and as the helper does it
    // (the user's result as bytes), against diff3 on the same three files: where diff3 merges
    // without a conflict, both give its bytes. Where it finds one, the merge may refuse or merge
    // (it lets two programs change neighbouring lines): nothing is compared.
#ifdef Q_OS_WIN
    QSKIP("diff3, the reference, runs on Linux; the merge is the same code on Windows");
#endif
    QFETCH(int, cases);
    QFETCH(int, maxLines);
    QFETCH(int, percentChanged);
    QFETCH(quint32, seed);
    QRandomGenerator random(seed);
    int fresh = 0;
    std::vector<Case> generated;
    std::vector<std::array<QByteArray, 3>> files; // base, mine, other
    for (int i = 0; i < cases; ++i) {
        generated.push_back(generate(random, maxLines, percentChanged, &fresh));
        const Case& c = generated.back();
        std::vector<QByteArray> mineLines;
        for (size_t j = 0; j < c.base.size(); ++j) {
            if (c.changes[j].kind != HostsMerge::Change::Deleted)
                mineLines.push_back(c.changes[j].kind == HostsMerge::Change::Changed ? c.changes[j].text
                                                                                     : c.base[j]);
        }
        mineLines.insert(mineLines.end(), c.added.begin(), c.added.end());
        files.push_back({joined(c.base), joined(mineLines), joined(c.other)});
    }
    QTemporaryDir dir;
    std::vector<Reference> references;
    for (size_t from = 0; from < files.size(); from += kCasesPerRun) {
        const std::vector<std::array<QByteArray, 3>> run(
            files.begin() + qsizetype(from),
            files.begin() + qsizetype(std::min(files.size(), from + kCasesPerRun)));
        const std::vector<Reference> part = diff3(dir, run);
        references.insert(references.end(), part.begin(), part.end());
    }
    int compared = 0;
    for (int i = 0; i < cases; ++i) {
        const Case& c = generated[size_t(i)];
        const QByteArray &base = files[size_t(i)][0], &mine = files[size_t(i)][1],
                         &other = files[size_t(i)][2];
        bool bom = false;
        QByteArray window, helper;
        qsizetype conflict = 0, helperConflict = 0;
        const bool windowMerged = HostsMerge::merge(HostsMerge::split(base, &bom), c.changes, c.added,
                                                    HostsMerge::split(other, &bom), "\n", &window, &conflict);
        const bool helperMerged = HostsMerge::mergeResult(base, mine, other, &helper, &helperConflict);
        const QByteArray context =
            "case " + QByteArray::number(i) + "\nbase:\n" + base + "mine:\n" + mine + "other:\n" + other;
        if (other.isEmpty() && !base.isEmpty()) {
            // Emptied: a rewrite in progress, never taken as every line deleted.
            QVERIFY2(!windowMerged && conflict == -1 && !helperMerged, context.constData());
            continue;
        }
        const Reference& reference = references[size_t(i)];
        if (!reference.merged)
            continue;
        ++compared;
        QVERIFY2(windowMerged, context.constData());
        QVERIFY2(helperMerged, context.constData());
        QVERIFY2(window == reference.bytes,
                 (context + "merged:\n" + window + "diff3:\n" + reference.bytes).constData());
        QVERIFY2(helper == reference.bytes,
                 (context + "merged:\n" + helper + "diff3:\n" + reference.bytes).constData());
    }
    qInfo("%d generated cases, %d merged by diff3 without a conflict and compared", cases, compared);
    QVERIFY(compared > cases / 4);
}

void tst_HostsMerge::largeChangeCountsAsAllChanged()
{
    // Between the lines both files share at their start and end, a difference too large to
    // work out counts as all of it changed: a user change there is refused, not misplaced.
    std::vector<QByteArray> a, b;
    a.push_back("same head");
    b.push_back("same head");
    for (int i = 0; i < 50; ++i) {
        a.push_back("old " + QByteArray::number(i));
        b.push_back("new " + QByteArray::number(i));
    }
    a.push_back("same tail");
    b.push_back("same tail");
    auto view = [](const std::vector<QByteArray>& lines) {
        std::vector<HostsMerge::Line> out;
        for (const QByteArray& l : lines)
            out.push_back(HostsMerge::Line{l, "\n"});
        return out;
    };
    const std::vector<HostsMerge::Line> la = view(a), lb = view(b);
    const std::vector<qsizetype> tight = HostsMerge::match(la, lb, 10);
    QCOMPARE(tight.front(), qsizetype(0));
    QCOMPARE(tight.back(), qsizetype(51));
    for (int i = 1; i <= 50; ++i)
        QCOMPARE(tight[size_t(i)], qsizetype(-1));
    // With the same lines inside, the full search finds all but two lines that changed places.
    std::vector<QByteArray> c = a;
    std::swap(c[10], c[20]);
    const std::vector<qsizetype> full = HostsMerge::match(view(a), view(c));
    QCOMPARE(full[5], qsizetype(5));
    QCOMPARE(full[30], qsizetype(30));
    QCOMPARE(full[10], qsizetype(-1)); // the two lines that changed places
    QCOMPARE(full[20], qsizetype(-1));
    QCOMPARE(std::count(full.begin(), full.end(), qsizetype(-1)), std::ptrdiff_t(2));
}

void tst_HostsMerge::unchangedFileGivesTheSameAsToBytes()
{
    HostsDocument doc("UTF-8");
    doc.load(QByteArray("\xEF\xBB\xBF") + kBase.chopped(1)); // a byte-order mark, no final line end
    apply(doc, {"tick 2", "delete 3", "add 10.0.0.9 mine"});
    QByteArray expected, out, other;
    QString error;
    QVERIFY(doc.toBytes(&expected, &error));
    QVERIFY(doc.mergeInto(doc.fileBytes(), &out, &error));
    QCOMPARE(out, expected);
    // The same file read again into another buffer merges to the same bytes.
    QVERIFY(
        doc.mergeInto(QByteArray(doc.fileBytes().constData(), doc.fileBytes().size()) + "", &other, &error));
    QCOMPARE(other, expected);
    // Merged through the line by line path (a changed byte-order mark is a change), the result
    // differs only by the mark.
    QVERIFY(doc.mergeInto(kBase.chopped(1), &other, &error));
    QCOMPARE(QByteArray("\xEF\xBB\xBF") + other, expected);
}

void tst_HostsMerge::reencodedFileTakesOnlyWhatItCanCarry()
{
    // Read as UTF-8 (by its byte-order mark), rewritten in GBK by another program meanwhile.
    const QByteArray bom = "\xEF\xBB\xBF";
    QByteArray out;
    QString error;
    HostsDocument chinese("GBK");
    chinese.load(bom + kBase);
    apply(chinese, {"add 10.0.0.9 中文"});
    QVERIFY(!chinese.mergeInto(kBase, &out, &error));
    QVERIFY2(error.contains(QStringLiteral("编码在读取之后被其他程序改变了")), qPrintable(error));
    // ASCII is the same bytes in both encodings.
    HostsDocument ascii("GBK");
    ascii.load(bom + kBase);
    apply(ascii, {"tick 2", "add 10.0.0.9 mine"});
    QVERIFY2(ascii.mergeInto(kBase, &out, &error), qPrintable(error));
    QCOMPARE(out, QByteArray(kBase).replace("10.0.0.1 a", "#10.0.0.1 a") + "10.0.0.9 mine\n");
}

QTEST_GUILESS_MAIN(tst_HostsMerge)
#include "tst_hostsmerge.moc"
