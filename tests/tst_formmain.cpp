#include "TestMain.h"
#include "Privileges.h"
#include "TestSystem.h"
#include "WindowFixture.h"
#include "core/app/Layout.h"
#include "core/net/ConnectPool.h"
#include "gui/FormMain.h"
#include "gui/SpeedTestDialog.h"
#include "gui/IpBox.h"
#include "platform/TextCodec.h"
#include "core/ping/PingSummary.h"
#include "core/ping/PingCommands.h"
#include "gui/MessageBox.h"

#include <QAccessible>
#include <QCheckBox>
#include <QContextMenuEvent>
#include <QDialog>
#include <QMenu>
#include <QTreeView>
#include <QTreeWidget>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QAbstractScrollArea>
#include <QSignalSpy>
#include <QTabBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QRegularExpression>
#include <QApplication>
#include <QImageReader>
#include <QListView>
#include <QContextMenuEvent>
#include <QMenu>
#include <QProcess>

#include <system_error>

namespace {

int px(int twips)
{
    return qRound(twips / 15.0);
}

QPoint inFrame1(const QWidget& form, const QWidget* w)
{
    return w->mapTo(child<QWidget>(form, QStringLiteral("Frame1")), QPoint(0, 0));
}

} // namespace

class tst_FormMain : public QObject
{
    Q_OBJECT

private slots:
    void controlsAtDesignPositions_data();
    void controlsAtDesignPositions();
    void windowAndTemplateRow();
    void tabSwitchShowsOneFrame();
    void startUpGoesOnAfterFailingStep();
    void refitWorkedExample();
    void addAfterFailedReadingStartsAtRowOne();
    void addGrowsWindowByOnePitch();
    void rowsOfferCommonIps();
    void readButtonReloadsAndReportsFailure();
    void saveDisabledRowThroughWindow();
    void failedSaveKeepsFileAndRows();
    void noSaveAfterIncompleteReading();
    void editorAndBrowserCommandLines();
    void ownFilesBesideWritableProgram();
    void ownFilesInUserFolderWhenInstalled_data();
    void ownFilesInUserFolderWhenInstalled();
    void failedStartIsReported();
    void pingQueueFile();
    void pingQueueFileReading_data();
    void pingQueueFileReading();
    void failedQueueSaveKeepsText();
    void batchPingRealProcesses();
    void batchPingSkipsUnsafeTarget();
    void batchPingWithoutPing();
    void batchNotesLinesThatMayStandOutOfOrder();
    void exitSavesNothing();
    void largeFileLoadsWholeAndScrolls();
    void windowIconHasElevenImages();
    void findShowsRowsThatHoldText();
    void findBoxCoversNoControl_data();
    void findBoxCoversNoControl();
    void slashFindsOnlyOutsideTextBoxes();
    void everyControlIsNamedForScreenReaders();
    void sectionMenuSwitchesItsLines();
    void ipBoxStepsThroughCommonIps_data();
    void ipBoxStepsThroughCommonIps();
    void ipListOpensAsOneColumnUnderTheBox();
    void wheelOverARowScrollsTheRows_data();
    void wheelOverARowScrollsTheRows();
    void tabGoesFromHostFileButtonToFirstRow();
    void resultFolderFailureNamesTheCause_data();
    void resultFolderFailureNamesTheCause();
    void untouchedLongHostKeepsItsBytes();
    void oversizedQueueFileIsLeftAlone_data();
    void oversizedQueueFileIsLeftAlone();
    void speedTestPutsChosenIpIntoRow_data();
    void speedTestPutsChosenIpIntoRow();
    void speedTestWithoutThreads();
    void blockSpeedTestPutsEachHostsBest_data();
    void blockSpeedTestPutsEachHostsBest();
    void deadLinesMarkedAsTheUserEdits();
};

void tst_FormMain::controlsAtDesignPositions_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QRect>("twips");
    // clang-format off
    QTest::newRow("TabStrip1") << "TabStrip1" << ""                    << QRect(0, 120, 6615, 5415);
    QTest::newRow("Frame1")    << "Frame1"    << ""                    << QRect(120, 480, 6375, 4935);
    QTest::newRow("Frame2 placed over Frame1") << "Frame2" << ""       << QRect(120, 480, 6375, 3615);
    QTest::newRow("CmdExit")   << "CmdExit"   << "退出"                << QRect(5400, 5640, 1215, 375);
    QTest::newRow("Label4")    << "Label4"    << ""                    << QRect(120, 5760, 3690, 300);
    QTest::newRow("CmdRead")   << "CmdRead"   << "读取HOST文件"        << QRect(120, 240, 1335, 375);
    QTest::newRow("CmdAdd")    << "CmdAdd"    << "增加条目"            << QRect(1560, 240, 1095, 375);
    QTest::newRow("CmdSave")   << "CmdSave"   << "保存文件"            << QRect(2760, 240, 1095, 375);
    QTest::newRow("Command1")  << "Command1"  << "HOST文件"            << QRect(3960, 240, 975, 375);
    QTest::newRow("CmdIP")     << "CmdIP"     << "常用IP"              << QRect(5040, 240, 975, 375);
    QTest::newRow("Check1(0)") << "Check1(0)" << "禁用"                << QRect(120, 840, 855, 255);
    QTest::newRow("Text1(0)")  << "Text1(0)"  << ""                    << QRect(1080, 840, 2415, 270);
    QTest::newRow("Combo1(0)") << "Combo1(0)" << ""                    << QRect(3600, 840, 1935, 300);
    QTest::newRow("Check2(0)") << "Check2(0)" << "删"                  << QRect(5640, 840, 615, 300);
    QTest::newRow("Command2")  << "Command2"  << "批量PING以下域名或IP" << QRect(120, 240, 2175, 375);
    QTest::newRow("Command3")  << "Command3"  << "保存任务"            << QRect(2400, 240, 1095, 375);
    QTest::newRow("Command4")  << "Command4"  << "打开结果目录"        << QRect(3600, 240, 1335, 375);
    QTest::newRow("TextN")     << "TextN"     << "50"                  << QRect(5160, 360, 375, 270);
    QTest::newRow("Label1")    << "Label1"    << "次"                  << QRect(5640, 360, 375, 255);
    QTest::newRow("Label2")    << "Label2"    << "任务队列"            << QRect(120, 720, 855, 255);
    QTest::newRow("Label3")    << "Label3"    << "执行日志"            << QRect(2400, 720, 1095, 255);
    QTest::newRow("TextIP")    << "TextIP"    << ""                    << QRect(120, 960, 2175, 2175);
    QTest::newRow("ListLog")   << "ListLog"   << ""                    << QRect(2400, 960, 3855, 2190);
    QTest::newRow("TextFind")  << "TextFind"  << ""                    << QRect(120, 4560, 2895, 315);
    QTest::newRow("LabelFind") << "LabelFind" << ""                    << QRect(3120, 4590, 2160, 255);
    // clang-format on
}

void tst_FormMain::controlsAtDesignPositions()
{
    QFETCH(QString, name);
    QFETCH(QString, caption);
    QFETCH(QRect, twips);
    WindowFixture f; // no hosts file: no row is made, the design heights stay
    FormMain form(f.options);
    QWidget* w = child<QWidget>(form, name);
    QVERIFY(w);
    QCOMPARE(w->geometry(), QRect(px(twips.x()), px(twips.y()), px(twips.width()), px(twips.height())));
    if (auto* button = qobject_cast<QAbstractButton*>(w))
        QCOMPARE(button->text(), caption);
    if (auto* label = qobject_cast<QLabel*>(w); label && !caption.isEmpty())
        QCOMPARE(label->text(), caption);
    if (auto* edit = qobject_cast<QLineEdit*>(w))
        QCOMPARE(edit->text(), caption);
}

void tst_FormMain::windowAndTemplateRow()
{
    WindowFixture f;
    FormMain form(f.options);
    form.show();
    QCOMPARE(form.windowTitle(), QStringLiteral("Tarvix"));
    QCOMPARE(form.size(), QSize(px(6735), px(6105)));
    for (const char* name : {"Check1(0)", "Text1(0)", "Combo1(0)", "Check2(0)", "Frame2"})
        QVERIFY2(!child<QWidget>(form, QString::fromLatin1(name))->isVisible(), name);
    auto* tabs = child<QTabWidget>(form, QStringLiteral("TabStrip1"));
    QCOMPARE(tabs->currentIndex(), 0);
    QCOMPARE(tabs->tabText(0), QStringLiteral("HOST编辑"));
    QCOMPARE(tabs->tabText(1), QStringLiteral("批量PING"));
    auto* label4 = child<QLabel>(form, QStringLiteral("Label4"));
    QVERIFY(!label4->text().isEmpty());
    QCOMPARE(label4->palette().color(QPalette::WindowText), QColor(255, 0, 0));
    // Stacking from the top: Frame2, CmdExit, Frame1, TabStrip1, Label4.
    const QObjectList& order = form.children();
    auto pos = [&](const char* name) { return order.indexOf(child<QWidget>(form, QString::fromLatin1(name))); };
    QVERIFY(pos("Label4") < pos("TabStrip1"));
    QVERIFY(pos("TabStrip1") < pos("Frame1"));
    QVERIFY(pos("Frame1") < pos("CmdExit"));
    QVERIFY(pos("CmdExit") < pos("Frame2"));
    // Keyboard order follows the design: Frame1's buttons CmdIP, CmdAdd, CmdSave, CmdRead.
    QCOMPARE(child<QWidget>(form, QStringLiteral("CmdIP"))->nextInFocusChain()->objectName(), QStringLiteral("CmdAdd"));
    QCOMPARE(child<QWidget>(form, QStringLiteral("CmdAdd"))->nextInFocusChain()->objectName(), QStringLiteral("CmdSave"));
}

void tst_FormMain::tabSwitchShowsOneFrame()
{
    const QByteArray bytes = "1.1.1.1 a\n";
    WindowFixture f(&bytes);
    FormMain form(f.options);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    auto* tabs = child<QTabWidget>(form, QStringLiteral("TabStrip1"));
    QWidget* frame1 = child<QWidget>(form, QStringLiteral("Frame1"));
    QWidget* frame2 = child<QWidget>(form, QStringLiteral("Frame2"));
    QTest::keyClick(child<QLineEdit>(form, QStringLiteral("Text1(1)")), Qt::Key_End);
    QTest::keyClicks(child<QLineEdit>(form, QStringLiteral("Text1(1)")), QStringLiteral("-edited"));

    QTest::mouseClick(tabs->tabBar(), Qt::LeftButton, {}, tabs->tabBar()->tabRect(1).center());
    QVERIFY(!frame1->isVisible());
    QVERIFY(frame2->isVisible());
    QTest::mouseClick(tabs->tabBar(), Qt::LeftButton, {}, tabs->tabBar()->tabRect(0).center());
    QVERIFY(frame1->isVisible());
    QVERIFY(!frame2->isVisible());
    QCOMPARE(child<QLineEdit>(form, QStringLiteral("Text1(1)"))->text(), QStringLiteral("a-edited"));
    QTest::mouseClick(tabs->tabBar(), Qt::LeftButton, {}, tabs->tabBar()->tabRect(0).center());
    QVERIFY(frame1->isVisible());
}

void tst_FormMain::startUpGoesOnAfterFailingStep()
{
    WindowFixture f; // the hosts file is missing
    writeBytes(f.path(QStringLiteral("Ping.txt")), "127.0.0.1\r\n");
    FormMain form(f.options);
    QCOMPARE(form.hosts().rowCount(), 0);
    QCOMPARE(form.queueText(), QStringLiteral("127.0.0.1\r\n"));
    QCOMPARE(child<QWidget>(form, QStringLiteral("Frame2"))->pos(), child<QWidget>(form, QStringLiteral("Frame1"))->pos());
    QCOMPARE(readBytes(f.path(QStringLiteral("IP.txt"))), QByteArray());
    QVERIFY(f.messages.isEmpty());
}

void tst_FormMain::refitWorkedExample()
{
    const QByteArray bytes = "1.1.1.1 a\r\n2.2.2.2 b\r\n3.3.3.3 c\r\n";
    WindowFixture f(&bytes);
    FormMain form(f.options);
    QCOMPARE(child<QWidget>(form, QStringLiteral("Frame1"))->height(), px(1750));
    QCOMPARE(child<QWidget>(form, QStringLiteral("Frame2"))->height(), px(1750));
    QCOMPARE(child<QWidget>(form, QStringLiteral("TabStrip1"))->height(), px(2250));
    QCOMPARE(form.height(), px(3380 - 450)); // before it is shown, 450 twips are assumed for the frame
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QVERIFY2(form.frameGeometry().height() > form.height(), "the platform gives the window no frame");
    QCOMPARE(form.frameGeometry().height(), px(3380)); // the outer height, whatever the frame takes
    QCOMPARE(child<QWidget>(form, QStringLiteral("CmdExit"))->y(), px(2430));
    QCOMPARE(child<QWidget>(form, QStringLiteral("TextIP"))->height(), px(690));
    QCOMPARE(child<QWidget>(form, QStringLiteral("ListLog"))->height(), px(700));
    QCOMPARE(child<QWidget>(form, QStringLiteral("Label4"))->y(), px(5760));
    for (int i = 1; i <= 3; ++i) {
        const QString index = QStringLiteral("(%1)").arg(i);
        for (const char* column : {"Check1", "Text1", "Combo1", "Check2"}) {
            QWidget* w = child<QWidget>(form, QLatin1String(column) + index);
            QVERIFY(w);
            QCOMPARE(inFrame1(form, w).y(), px(450 + 300 * i));
            QCOMPARE(inFrame1(form, w).x(), child<QWidget>(form, QLatin1String(column) + QStringLiteral("(0)"))->x());
        }
    }
    QCOMPARE(child<QLineEdit>(form, QStringLiteral("Text1(3)"))->text(), QStringLiteral("c"));
    QCOMPARE(form.hosts().rowCount(), 3);
}

void tst_FormMain::addAfterFailedReadingStartsAtRowOne()
{
    WindowFixture f;
    FormMain form(f.options);
    click(form, "CmdAdd");
    QCOMPARE(form.hosts().rowCount(), 1);
    QCheckBox* check = child<QCheckBox>(form, QStringLiteral("Check1(1)"));
    QVERIFY(check);
    QCOMPARE(inFrame1(form, check).y(), px(750));
    QVERIFY(!check->isChecked());
    QVERIFY(!child<QCheckBox>(form, QStringLiteral("Check2(1)"))->isChecked());
    QVERIFY(child<QLineEdit>(form, QStringLiteral("Text1(1)"))->text().isEmpty());
    QVERIFY(child<IpBox>(form, QStringLiteral("Combo1(1)"))->ip().isEmpty());
}

void tst_FormMain::addGrowsWindowByOnePitch()
{
    const QByteArray bytes = "1\n2\n3\n4\n5\n";
    WindowFixture f(&bytes);
    FormMain form(f.options);
    QCOMPARE(form.hosts().rowCount(), 5);
    for (int row = 6; row <= 8; ++row) {
        const int before = form.height();
        click(form, "CmdAdd");
        QCOMPARE(form.height(), before + px(300));
        QVERIFY(child<QWidget>(form, QStringLiteral("Check1(%1)").arg(row)));
        QCOMPARE(child<QWidget>(form, QStringLiteral("Frame1"))->height(), px(850 + 300 * row));
    }
    QCOMPARE(form.hosts().rowCount(), 8);
    QCOMPARE(child<QWidget>(form, QStringLiteral("TextIP"))->height(), px(850 + 300 * 8 - 960 - 100));
}

void tst_FormMain::rowsOfferCommonIps()
{
    const QByteArray bytes = "1.1.1.1 a\n";
    WindowFixture f(&bytes);
    writeBytes(f.path(QStringLiteral("IP.txt")), "10.0.0.1\r\n10.0.0.2,10.0.0.3\r\n");
    FormMain form(f.options);
    click(form, "CmdAdd");
    const QStringList expected{"10.0.0.1", "10.0.0.2", "10.0.0.3"};
    auto* combo0 = child<QComboBox>(form, QStringLiteral("Combo1(0)"));
    QStringList items;
    for (int k = 0; k < combo0->count(); ++k)
        items << combo0->itemText(k);
    QCOMPARE(items, expected);
    QCOMPARE(child<IpBox>(form, QStringLiteral("Combo1(1)"))->model(), combo0->model());
    QCOMPARE(child<IpBox>(form, QStringLiteral("Combo1(2)"))->model(), combo0->model());
    QCOMPARE(child<IpBox>(form, QStringLiteral("Combo1(1)"))->ip(), QStringLiteral("1.1.1.1"));
    QVERIFY(child<IpBox>(form, QStringLiteral("Combo1(2)"))->ip().isEmpty());

    // Choosing an item from the list edits the row like typing does.
    IpBox* box = child<IpBox>(form, QStringLiteral("Combo1(1)"));
    QTest::keyClick(box, Qt::Key_F4);
    QTRY_VERIFY(box->view()->isVisible());
    QTest::keyClick(box->view(), Qt::Key_Down); // from the first item to the second
    QTest::keyClick(box->view(), Qt::Key_Return);
    QTRY_VERIFY(!box->view()->isVisible());
    QCOMPARE(box->ip(), QStringLiteral("10.0.0.2"));
    QCOMPARE(form.hosts().values(0).ip, QStringLiteral("10.0.0.2"));
}

void tst_FormMain::readButtonReloadsAndReportsFailure()
{
    const QByteArray bytes = "1.1.1.1 a\n2.2.2.2 b\n";
    WindowFixture f(&bytes);
    FormMain form(f.options);
    QTest::keyClicks(child<QLineEdit>(form, QStringLiteral("Text1(1)")), QStringLiteral("zz"));
    click(form, "CmdAdd");
    click(form, "CmdRead");
    QCOMPARE(form.hosts().rowCount(), 2);
    QCOMPARE(child<QLineEdit>(form, QStringLiteral("Text1(1)"))->text(), QStringLiteral("a"));
    QVERIFY(f.messages.isEmpty());

    const int height = form.height();
    QFile::remove(f.hosts);
    click(form, "CmdRead");
    QCOMPARE(form.hosts().rowCount(), 0);
    QCOMPARE(form.height(), height); // removing rows does not shrink the window
    QCOMPARE(f.messages.size(), 1);
    QVERIFY(f.messages.first().startsWith(QStringLiteral("读取失败！\r\n")));
    QVERIFY(!form.findChild<QWidget*>(QStringLiteral("Check1(1)")));
}

void tst_FormMain::saveDisabledRowThroughWindow()
{
    const QByteArray bytes = "127.0.0.1\tlocalhost\n10.0.0.1 printer  # office\n# note, \"quoted\n10.0.0.2 gone\n";
    WindowFixture f(&bytes);
    FormMain form(f.options);
    form.show();
    QTest::mouseClick(child<QCheckBox>(form, QStringLiteral("Check1(2)")), Qt::LeftButton);
    QTest::mouseClick(child<QCheckBox>(form, QStringLiteral("Check2(4)")), Qt::LeftButton);
    click(form, "CmdSave");
    // The check after the save, in a message of its own: neither line is answered any more.
    QCOMPARE(f.messages, (QStringList{QStringLiteral("保存成功!"),
                                      QStringLiteral("printer → 10.0.0.1: 已不再生效\r\ngone → 10.0.0.2: 已不再生效")}));
    QCOMPARE(readBytes(f.hosts), QByteArray("127.0.0.1\tlocalhost\n#10.0.0.1 printer  # office\n# note, \"quoted\n"));
    // The rows were read back from the file just written.
    QCOMPARE(form.hosts().rowCount(), 3);
    QVERIFY(child<QCheckBox>(form, QStringLiteral("Check1(2)"))->isChecked());
    QVERIFY(!form.findChild<QWidget*>(QStringLiteral("Check1(4)")));
}

void tst_FormMain::failedSaveKeepsFileAndRows()
{
    WindowFixture f;
    writeBytes(f.path(QStringLiteral("blocker")), "a file, not a folder\n");
    f.options.hosts.hostsPath = f.path(QStringLiteral("blocker/hosts"));
    FormMain form(f.options);
    click(form, "CmdAdd");
    QTest::keyClicks(child<QLineEdit>(form, QStringLiteral("Text1(1)")), QStringLiteral("kept"));
    click(form, "CmdSave");
    QCOMPARE(f.messages.size(), 1);
    QVERIFY(f.messages.first().startsWith(QStringLiteral("保存失败！\r\n")));
    QVERIFY(f.messages.first().size() > 7);
    QCOMPARE(form.hosts().rowCount(), 1);
    QCOMPARE(child<QLineEdit>(form, QStringLiteral("Text1(1)"))->text(), QStringLiteral("kept"));
    QCOMPARE(readBytes(f.path(QStringLiteral("blocker"))), QByteArray("a file, not a folder\n"));
}

void tst_FormMain::noSaveAfterIncompleteReading()
{
    WindowFixture f;
    QDir(f.dir.path()).mkdir(QStringLiteral("hosts")); // present, but not readable as a file
    FormMain form(f.options);
    QCOMPARE(form.hosts().rowCount(), 0);
    // By the time of the save the file could be written: only the guard stops it, because
    // the rows hold nothing of what the file held when it could not be read.
    QVERIFY(QDir(f.dir.path()).rmdir(QStringLiteral("hosts")));
    const QByteArray bytes = "127.0.0.1 localhost\n10.0.0.1 never-read\n";
    QVERIFY(writeBytes(f.hosts, bytes));
    click(form, "CmdAdd");
    QTest::keyClicks(child<QLineEdit>(form, QStringLiteral("Text1(1)")), QStringLiteral("added"));
    click(form, "CmdSave");
    QCOMPARE(f.messages.size(), 1);
    QVERIFY(f.messages.first().startsWith(QStringLiteral("保存失败！\r\nHOST文件上次没有读取完整")));
    QCOMPARE(readBytes(f.hosts), bytes);
    QCOMPARE(child<QLineEdit>(form, QStringLiteral("Text1(1)"))->text(), QStringLiteral("added"));
}

void tst_FormMain::editorAndBrowserCommandLines()
{
    const QByteArray bytes;
    WindowFixture f(&bytes);
    writeBytes(f.path(QStringLiteral("IP.txt")), "");
    FormMain form(f.options);
    click(form, "Command1");
    click(form, "CmdIP");
    click(form, "Command4");
    QCOMPARE(f.started.size(), 3);
    const QString app = form.appDirectory();
    QCOMPARE(app, shownDir(f.dir.path()));
    QCOMPARE(f.started[0].commandLine, QStringLiteral("notepad.exe ") + f.hosts);
    QCOMPARE(f.started[1].commandLine, QStringLiteral("notepad.exe ") + app + QStringLiteral("ip.txt"));
    // One file, whatever the case: found by its name where names are case-sensitive.
    QCOMPARE(f.started[1].path, app + (onWindows() ? QStringLiteral("ip.txt") : QStringLiteral("IP.txt")));
    QCOMPARE(f.started[2].commandLine,
             QStringLiteral("explorer.exe ") + app + QStringLiteral("2026-12-07") + Platform::separator());
    for (const Command& cmd : f.started)
        QCOMPARE(cmd.showMode, int(Command::Normal));
    QVERIFY(f.messages.isEmpty());
}

void tst_FormMain::ownFilesBesideWritableProgram()
{
    WindowFixture f;
    FormMain form(f.options);
    QCOMPARE(form.appDirectory(), shownDir(f.dir.path()));
    QVERIFY(QFile::exists(f.path(QStringLiteral("IP.txt"))));
    QVERIFY(QFile::exists(f.path(QStringLiteral("Ping.txt"))));
    QVERIFY(!QFileInfo::exists(f.options.userDataDir));
}

void tst_FormMain::ownFilesInUserFolderWhenInstalled_data()
{
    QTest::addColumn<bool>("installed");
    QTest::addColumn<bool>("folderWritable");
    QTest::newRow("installed, its folder not writable to the user") << true << false;
    QTest::newRow("installed, run with the rights to its folder (root, administrator)") << true << true;
    QTest::newRow("portable, in a folder the user cannot write") << false << false;
}

void tst_FormMain::ownFilesInUserFolderWhenInstalled()
{
    // An installed program (its folder 0555 here, as /usr/bin is to a user, or writable, as it
    // is to root and an administrator) and a copy in a folder that the user cannot write keep
    // IP.txt, Ping.txt and the result folders in the user's data folder, which is made when
    // needed. Root, which could write anywhere, gives up its file rights meanwhile.
    QFETCH(bool, installed);
    QFETCH(bool, folderWritable);
    if (onWindows() && !folderWritable)
        QSKIP("a folder that its user cannot write takes an access list, which Wine does not enforce");
    WindowFixture f;
    const QString bin = f.path(QStringLiteral("usr/bin"));
    const QString user = f.path(QStringLiteral("home/u/.local/share/tarvix"));
    QVERIFY(QDir().mkpath(bin));
    if (installed) {
        const QString marker = Platform::installedMarker(QDir::toNativeSeparators(bin));
        QVERIFY(QDir().mkpath(QFileInfo(marker).path()));
        QVERIFY(writeBytes(marker, "installed\n"));
    }
    const QStringList binBefore = QDir(bin).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    if (!folderWritable) {
        QVERIFY(QFile::setPermissions(bin, QFile::ReadOwner | QFile::ExeOwner | QFile::ReadOther |
                                               QFile::ExeOther));
    }
    f.options.executableDir = bin;
    f.options.userDataDir = user;
    QStringList binEntries;
    QString app;
    {
        const WithoutFileOverride asUser;
        FormMain form(f.options);
        app = form.appDirectory();
        child<QPlainTextEdit>(form, QStringLiteral("TextIP"))->setPlainText(QStringLiteral("127.0.0.1"));
        click(form, "Command3"); // 保存任务
        click(form, "Command2"); // the batch, started by the fixture's stand-in
        click(form, "CmdIP");
        click(form, "Command4"); // 打开结果目录
        binEntries = QDir(bin).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    }
    QVERIFY(QFile::setPermissions(bin, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    QCOMPARE(app, QDir::toNativeSeparators(user) + Platform::separator());
    QCOMPARE(binEntries, binBefore);
    QCOMPARE(f.messages, (QStringList{QStringLiteral("保存成功!"), QStringLiteral("后台启动完成!")}));
    QCOMPARE(readBytes(user + QStringLiteral("/IP.txt")), QByteArray());
    QCOMPARE(readBytes(user + QStringLiteral("/Ping.txt")), QByteArray("127.0.0.1\r\n"));
    QVERIFY(QFileInfo(user + QStringLiteral("/2026-12-07")).isDir());
    QCOMPARE(f.started.size(), 5);
    const auto in = [&](const char* name) { return QDir::toNativeSeparators(user + QLatin1Char('/') + QLatin1String(name)); };
    QCOMPARE(f.started[2].path, in("2026-12-07/127.0.0.1.txt"));
    QCOMPARE(f.started[3].path, in(onWindows() ? "ip.txt" : "IP.txt")); // as the user typed it where case is no matter
    QCOMPARE(f.started[4].commandLine, QStringLiteral("explorer.exe ") + in("2026-12-07/"));
    QCOMPARE(f.started[4].path, in("2026-12-07/"));
}

void tst_FormMain::failedStartIsReported()
{
    WindowFixture f;
    f.options.start = [](const Command&) {
        StartResult r;
        r.error = QStringLiteral("xdg-open: program not found");
        return r;
    };
    FormMain form(f.options);
    click(form, "Command4");
    QCOMPARE(f.messages.size(), 1);
    QVERIFY(f.messages.first().contains(QStringLiteral("program not found")));
}

void tst_FormMain::pingQueueFile()
{
    WindowFixture f;
    {
        FormMain form(f.options);
        QCOMPARE(readBytes(f.path(QStringLiteral("Ping.txt"))), QByteArray()); // created, zero bytes
        QVERIFY(form.queueText().isEmpty());
        child<QPlainTextEdit>(form, QStringLiteral("TextIP"))->setPlainText(QStringLiteral("10.0.0.1\n10.0.0.2"));
        click(form, "Command3");
        QCOMPARE(f.messages.takeFirst(), QStringLiteral("保存成功!"));
        QCOMPARE(readBytes(f.path(QStringLiteral("Ping.txt"))), QByteArray("10.0.0.1\r\n10.0.0.2\r\n"));
    }
    {
        FormMain form(f.options);
        QCOMPARE(form.queueText(), QStringLiteral("10.0.0.1\r\n10.0.0.2\r\n"));
        child<QPlainTextEdit>(form, QStringLiteral("TextIP"))->clear();
        click(form, "Command3");
        QCOMPARE(readBytes(f.path(QStringLiteral("Ping.txt"))), QByteArray("\r\n"));
    }
    FormMain form(f.options);
    QCOMPARE(form.queueText(), QStringLiteral("\r\n"));
}

void tst_FormMain::pingQueueFileReading_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("queue");
    QTest::newRow("comma splits") << QByteArray("10.0.0.1,10.0.0.2\r\n") << "10.0.0.1\r\n10.0.0.2\r\n";
    QTest::newRow("quoted comma stays") << QByteArray("\"a,b\"\r\n") << "a,b\r\n";
    QTest::newRow("no final line end") << QByteArray("a\r\nb") << "a\r\nb\r\n";
    QTest::newRow("blank line stays") << QByteArray("a\r\n\r\nb\r\n") << "a\r\n\r\nb\r\n";
    QTest::newRow("unclosed quote keeps earlier lines") << QByteArray("a\r\n\"b\r\n") << "a\r\n";
}

void tst_FormMain::pingQueueFileReading()
{
    QFETCH(QByteArray, file);
    WindowFixture f;
    writeBytes(f.path(QStringLiteral("Ping.txt")), file);
    FormMain form(f.options);
    QTEST(form.queueText(), "queue");
    QCOMPARE(readBytes(f.path(QStringLiteral("Ping.txt"))), file);
}

void tst_FormMain::failedQueueSaveKeepsText()
{
    WindowFixture f;
    FormMain form(f.options);
    QFile::remove(f.path(QStringLiteral("Ping.txt")));
    QDir(f.dir.path()).mkdir(QStringLiteral("Ping.txt"));
    child<QPlainTextEdit>(form, QStringLiteral("TextIP"))->setPlainText(QStringLiteral("10.0.0.1"));
    click(form, "Command3");
    QCOMPARE(f.messages.size(), 1);
    QVERIFY(f.messages.first().startsWith(QStringLiteral("保存失败！\r\n")));
    QCOMPARE(f.messages.first().split(QStringLiteral("\r\n")).size(), 2);
    QCOMPARE(form.queueText(), QStringLiteral("10.0.0.1"));
}

void tst_FormMain::batchPingRealProcesses()
{
    WindowFixture f;
    f.options.start = nullptr; // the platform's own: real files, a real ping
    FormMain form(f.options);
    child<QLineEdit>(form, QStringLiteral("TextN"))->setText(QStringLiteral("1"));
    child<QPlainTextEdit>(form, QStringLiteral("TextIP"))->setPlainText(QStringLiteral("127.0.0.1\n  \n::1\n"));
    click(form, "Command2");
    QCOMPARE(f.messages, QStringList{QStringLiteral("后台启动完成!")});

    auto* log = child<QListWidget>(form, QStringLiteral("ListLog"));
    QCOMPARE(log->count(), 4);
    const QString folder = form.appDirectory() + QStringLiteral("2026-12-07") + Platform::separator();
    QCOMPARE(log->item(0)->text(),
             QStringLiteral("执行:cmd /c ping 127.0.0.1 -n 1 >>\"") + folder + QStringLiteral("127.0.0.1.txt\""));
    QVERIFY(log->item(1)->text().startsWith(QStringLiteral("执行完成，PID: ")));
    QVERIFY(log->item(2)->text().contains(QStringLiteral("ping ::1 -n 1")));
    QVERIFY(log->item(3)->text().startsWith(QStringLiteral("执行完成，PID: ")));
    QCOMPARE(log->currentRow(), 3);

    // The files as ping and, on Windows, cmd write them: in the system's code page, each line
    // ending as that system ends lines; "::1" names its file "--1.txt" where ':' cannot stand.
    // Wine's ping knows no IPv6: it says so in one line and writes no statistics.
    const TextCodec system;
    for (const char* target : {"127.0.0.1", "::1"}) {
        const QString file = PingCommands::resultFile(folder, QLatin1String(target), Platform::fileNames());
        const bool statistics = !(onWindows() && QLatin1String(target) == QLatin1String("::1"));
        auto text = [&] { return system.decode(readBytes(file)); };
        QTRY_VERIFY2_WITH_TIMEOUT(statistics ? PingSummary::parseLast(text()).has_value()
                                             : text().count(QLatin1String(target)) >= 1,
                                  qPrintable(file + QStringLiteral(": ") + text()), 15000);
        const QStringList lines = text().split(QRegularExpression(QStringLiteral("\r?\n")));
        QCOMPARE(lines.value(0), QString(64, QLatin1Char('=')));
        QVERIFY2(lines.value(1).startsWith(QStringLiteral("本次任务开始时间:")), qPrintable(lines.value(1)));
        int output = 2; // ping's own output, on Windows after an empty line
        while (output < lines.size() && lines[output].isEmpty())
            ++output;
        QVERIFY2(lines.value(output).contains(QLatin1String(target)), qPrintable(lines.join(QLatin1Char('|'))));
    }
    // Blank lines started nothing: the folder holds the two result files only (and the table
    // of the ended pings).
    QCOMPARE(QDir(folder).entryList({QStringLiteral("*.txt")}, QDir::Files).size(), 2);
}

void tst_FormMain::batchPingSkipsUnsafeTarget()
{
    WindowFixture f;
    FormMain form(f.options);
    child<QPlainTextEdit>(form, QStringLiteral("TextIP"))
        ->setPlainText(QStringLiteral("127.0.0.1 & echo owned > x\n../../escape\n127.0.0.1"));
    click(form, "Command2");
    auto* log = child<QListWidget>(form, QStringLiteral("ListLog"));
    QCOMPARE(log->count(), 5);
    QVERIFY(log->item(0)->text().startsWith(QStringLiteral("跳过:127.0.0.1 & echo owned > x")));
    QVERIFY(log->item(1)->text().startsWith(QStringLiteral("跳过:../../escape")));
    QVERIFY(log->item(2)->text().startsWith(QStringLiteral("执行:cmd /c ping 127.0.0.1 -n 50")));
    QCOMPARE(log->item(3)->text(), QStringLiteral("执行完成，PID: 4242"));
    // The stand-in started nothing that could be watched, and the log says so.
    QVERIFY(log->item(4)->text().startsWith(QStringLiteral("无法监视: 127.0.0.1")));
    // Only the safe target's three commands were started, and nothing was written for the others.
    QCOMPARE(f.started.size(), 3);
    QCOMPARE(QDir(f.dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
             (QStringList{QStringLiteral("2026-12-07"), QStringLiteral("IP.txt"), QStringLiteral("Ping.txt")}));
    QVERIFY(QDir(f.path(QStringLiteral("2026-12-07"))).isEmpty());
    for (const Command& cmd : f.started)
        QVERIFY(!cmd.commandLine.contains(QLatin1Char('&')) && !cmd.commandLine.contains(QLatin1String("..")));
}

void tst_FormMain::batchPingWithoutPing()
{
    if (onWindows())
        QSKIP("Windows starts cmd from its system folder whatever PATH holds; a missing ping fails inside "
              "cmd, and its end entry shows the exit status");
    WindowFixture f;
    f.options.start = nullptr;
    FormMain form(f.options);
    child<QPlainTextEdit>(form, QStringLiteral("TextIP"))->setPlainText(QStringLiteral("127.0.0.1"));
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", f.dir.path().toLocal8Bit());
    click(form, "Command2");
    qputenv("PATH", path);
    auto* log = child<QListWidget>(form, QStringLiteral("ListLog"));
    QCOMPARE(log->count(), 2);
    QVERIFY(log->item(1)->text().startsWith(QStringLiteral("执行失败:")));
    QCOMPARE(f.messages, QStringList{QStringLiteral("后台启动完成!")});
}

void tst_FormMain::batchNotesLinesThatMayStandOutOfOrder()
{
    // The start-time line of the second target was still being written when its ping had to
    // start: the log says so for that target only.
    WindowFixture f;
    f.options.start = [](const Command& cmd) {
        StartResult r;
        r.ok = true;
        r.pid = 4242;
        r.stillRunning = cmd.kind == Command::Kind::AppendLine && cmd.path.endsWith(QLatin1String("slow.example.txt"))
                         && cmd.text.startsWith(QStringLiteral("本次任务开始时间:"));
        return r;
    };
    FormMain form(f.options);
    child<QPlainTextEdit>(form, QStringLiteral("TextIP"))->setPlainText(QStringLiteral("127.0.0.1\nslow.example"));
    click(form, "Command2");
    auto* log = child<QListWidget>(form, QStringLiteral("ListLog"));
    QStringList entries;
    for (int i = 0; i < log->count(); ++i)
        entries << log->item(i)->text();
    const QStringList notes = entries.filter(QStringLiteral("顺序可能不同"));
    QCOMPARE(notes.size(), 1);
    QVERIFY2(notes[0].startsWith(QStringLiteral("注意: slow.example ")), qPrintable(notes[0]));
    const int at = entries.indexOf(notes[0]);
    QCOMPARE(entries.value(at - 1), QStringLiteral("执行完成，PID: 4242"));
    QVERIFY(entries.value(at - 2).startsWith(QStringLiteral("执行:cmd /c ping slow.example")));
}

void tst_FormMain::exitSavesNothing()
{
    const QByteArray bytes = "1.1.1.1 a\n";
    WindowFixture f(&bytes);
    FormMain form(f.options);
    form.show();
    QTest::mouseClick(child<QCheckBox>(form, QStringLiteral("Check1(1)")), Qt::LeftButton);
    child<QPlainTextEdit>(form, QStringLiteral("TextIP"))->setPlainText(QStringLiteral("unsaved"));
    click(form, "CmdExit");
    QVERIFY(!form.isVisible());
    QCOMPARE(readBytes(f.hosts), bytes);
    QCOMPARE(readBytes(f.path(QStringLiteral("Ping.txt"))), QByteArray());
    QVERIFY(f.messages.isEmpty());
}

void tst_FormMain::largeFileLoadsWholeAndScrolls()
{
    QByteArray bytes;
    const int lines = 250000;
    for (int i = 1; i <= lines; ++i)
        bytes += "0.0.0.0 host" + QByteArray::number(i) + ".example\n";
    WindowFixture f(&bytes);
    f.options.maxWindowHeight = 9000; // a screen of 600 pixels
    FormMain form(f.options);
    form.show();
    QCOMPARE(form.hosts().rowCount(), lines);
    QCOMPARE(form.frameGeometry().height(), px(9000)); // the outer height stops at the screen's
    auto* view = child<QAbstractScrollArea>(form, QStringLiteral("Rows"));
    QScrollBar* bar = view->verticalScrollBar();
    QVERIFY(bar->maximum() > 0);
    bar->setValue(bar->maximum());
    QLineEdit* last = child<QLineEdit>(form, QStringLiteral("Text1(%1)").arg(lines));
    QVERIFY(last);
    QVERIFY(last->isVisible());
    QCOMPARE(last->text(), QStringLiteral("host%1.example").arg(lines));

    // Scrolling a row at a time, every row in view shows its own line at its own place.
    for (int step = 0; step < 30; ++step) {
        bar->setValue(123450 + 20 * step + (step % 3) * 7);
        int seen = 0;
        for (QLineEdit* edit : view->viewport()->findChildren<QLineEdit*>(QRegularExpression(QStringLiteral("^Text1")))) {
            if (edit->isHidden())
                continue;
            const int row = edit->objectName().mid(6).chopped(1).toInt();
            QCOMPARE(edit->text(), QStringLiteral("host%1.example").arg(row));
            QCOMPARE(edit->y() + bar->value(), px(450 + 300 * row) - view->y() - view->viewport()->y());
            ++seen;
        }
        QVERIFY(seen > 20);
        // The scroll bar covers no "删" box, and each shows its whole caption.
        for (QCheckBox* box : view->viewport()->findChildren<QCheckBox*>(QRegularExpression(QStringLiteral("^Check2")))) {
            QVERIFY2(box->isHidden() || box->geometry().right() < view->viewport()->width(),
                     qPrintable(box->objectName()));
            QVERIFY(box->isHidden() || box->sizeHint().width() <= box->width());
        }
    }
    bar->setValue(bar->maximum());

    // Edit the last row and save: only that line changes.
    QTest::mouseClick(child<QCheckBox>(form, QStringLiteral("Check1(%1)").arg(lines)), Qt::LeftButton);
    click(form, "CmdSave");
    // The check of its effect follows once the lines read back are indexed beside the window.
    QCOMPARE(f.messages.size(), 2);
    QCOMPARE(f.messages.value(0), QStringLiteral("保存成功!"));
    QByteArray expected = bytes;
    expected.insert(expected.lastIndexOf("0.0.0.0"), '#');
    QCOMPARE(readBytes(f.hosts), expected);

    // The wheel scrolls the rows and never changes an IP box.
    bar->setValue(0);
    IpBox* combo = child<IpBox>(form, QStringLiteral("Combo1(1)"));
    QWheelEvent wheel(QPointF(5, 5), combo->mapToGlobal(QPointF(5, 5)), QPoint(), QPoint(0, -120), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(combo, &wheel);
    QVERIFY(bar->value() > 0);
    QCOMPARE(form.hosts().values(0).ip, QStringLiteral("0.0.0.0"));
}

void tst_FormMain::windowIconHasElevenImages()
{
    WindowFixture f;
    FormMain form(f.options);
    // The icon file holds 32, 24 and 16 pixels at 8 bits and eight sizes at 32 bits.
    QImageReader reader(QStringLiteral(":/icons/tarvix.ico"));
    QList<int> sizes;
    for (int i = 0; i < reader.imageCount(); ++i) {
        QVERIFY(reader.jumpToImage(i));
        sizes << reader.read().width();
    }
    QCOMPARE(sizes, (QList<int>{32, 24, 16, 255, 128, 96, 72, 48, 32, 24, 16}));
    QList<QSize> expected;
    for (int size : {32, 24, 16, 255, 128, 96, 72, 48})
        expected << QSize(size, size);
    QCOMPARE(form.windowIcon().availableSizes(), expected);
}

void tst_FormMain::ipBoxStepsThroughCommonIps_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QList<int>>("keys");
    QTest::addColumn<QStringList>("ips"); // the row's IP after each key
    const int down = Qt::Key_Down, up = Qt::Key_Up;
    QTest::newRow("from a text not in the list") << "1.1.1.1 a" << QList<int>{down, down, up}
                                                 << QStringList{"10.0.0.1", "10.0.0.2", "10.0.0.1"};
    QTest::newRow("from the item the file names") << "10.0.0.2 a" << QList<int>{down, up, up}
                                                  << QStringList{"10.0.0.3", "10.0.0.2", "10.0.0.1"};
    QTest::newRow("stops at both ends") << "10.0.0.3 a" << QList<int>{down, up, up, up}
                                        << QStringList{"10.0.0.3", "10.0.0.2", "10.0.0.1", "10.0.0.1"};
}

void tst_FormMain::ipBoxStepsThroughCommonIps()
{
    QFETCH(QString, line);
    QFETCH(QList<int>, keys);
    QFETCH(QStringList, ips);
    const QByteArray bytes = line.toUtf8() + "\n";
    WindowFixture f(&bytes);
    writeBytes(f.path(QStringLiteral("IP.txt")), "10.0.0.1\r\n10.0.0.2\r\n10.0.0.3\r\n");
    FormMain form(f.options);
    form.show();
    IpBox* box = child<IpBox>(form, "Combo1(1)");
    for (int k = 0; k < keys.size(); ++k) {
        QTest::keyClick(box, Qt::Key(keys[k]));
        QCOMPARE(box->ip(), ips[k]);
        QCOMPARE(form.hosts().values(0).ip, ips[k]);
    }
}

void tst_FormMain::ipListOpensAsOneColumnUnderTheBox()
{
    const QByteArray bytes = "1.1.1.1 a\n";
    WindowFixture f(&bytes);
    QByteArray ips;
    for (int i = 0; i < 500; ++i)
        ips += "10.0." + QByteArray::number(i / 250) + "." + QByteArray::number(i % 250) + "\r\n";
    writeBytes(f.path(QStringLiteral("IP.txt")), ips);
    FormMain form(f.options);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    IpBox* box = child<IpBox>(form, "Combo1(1)");
    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(box->width() - 5, box->height() / 2)); // the arrow
    auto* list = qobject_cast<QListView*>(box->view());
    QVERIFY(list);
    QTRY_VERIFY(list->isVisible());
    QWidget* popup = list->window();
    // One column of items, under the box, much shorter than the list: it scrolls.
    QCOMPARE(list->flow(), QListView::TopToBottom);
    QVERIFY(!list->isWrapping());
    QVERIFY(popup->geometry().top() >= box->mapToGlobal(QPoint(0, box->height())).y() - 1);
    QVERIFY(popup->height() < 500 * 10);
    QVERIFY(list->verticalScrollBar()->maximum() > 0);
    // The last entry is reached with the keyboard and chosen.
    QTest::keyClick(list, Qt::Key_End);
    QTest::keyClick(list, Qt::Key_Return);
    QTRY_VERIFY(!list->isVisible());
    QCOMPARE(box->ip(), QStringLiteral("10.0.1.249"));
    QCOMPARE(form.hosts().values(0).ip, QStringLiteral("10.0.1.249"));
}

void tst_FormMain::wheelOverARowScrollsTheRows_data()
{
    QTest::addColumn<QString>("column");
    QTest::newRow("over the IP box") << "Combo1";
    QTest::newRow("over the host box") << "Text1";
    QTest::newRow("over the disable box") << "Check1";
}

void tst_FormMain::wheelOverARowScrollsTheRows()
{
    QFETCH(QString, column);
    QByteArray bytes;
    for (int i = 1; i <= 200; ++i)
        bytes += "10.0.0.2 host" + QByteArray::number(i) + "\n";
    WindowFixture f(&bytes);
    f.options.maxWindowHeight = 9000;
    writeBytes(f.path(QStringLiteral("IP.txt")), "10.0.0.1\r\n10.0.0.2\r\n10.0.0.3\r\n");
    FormMain form(f.options);
    form.show();
    QScrollBar* bar = child<QAbstractScrollArea>(form, "Rows")->verticalScrollBar();
    QWidget* target = child<QWidget>(form, column + QStringLiteral("(1)"));
    if (auto* box = qobject_cast<IpBox*>(target))
        target = box->lineEdit(); // the pointer is over the text part
    const QPoint at(5, 5);
    QWheelEvent wheel(at, target->mapToGlobal(at), QPoint(), QPoint(0, -120), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(target, &wheel);
    QVERIFY(bar->value() > 0);
    QCOMPARE(form.hosts().values(0), (HostsValues{false, QStringLiteral("10.0.0.2"), QStringLiteral("host1")}));
}

void tst_FormMain::tabGoesFromHostFileButtonToFirstRow()
{
    QByteArray bytes;
    for (int i = 1; i <= 100; ++i)
        bytes += "10.0.0.1 host" + QByteArray::number(i) + "\n";
    WindowFixture f(&bytes);
    f.options.maxWindowHeight = 9000; // more rows than the pool has widgets
    FormMain form(f.options);
    form.show();
    QApplication::setActiveWindow(&form);
    QVERIFY(QTest::qWaitForWindowActive(&form));
    QWidget* hostFile = child<QWidget>(form, "Command1");
    hostFile->setFocus();
    QTRY_COMPARE(QApplication::focusWidget(), hostFile);
    const QStringList expected{"Check1(1)", "Text1(1)", "Combo1(1)", "Check2(1)", "Check1(2)"};
    for (const QString& name : expected) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QWidget* focus = QApplication::focusWidget();
        // An IP box's keyboard focus sits in its line edit.
        if (focus && focus->parentWidget() && qobject_cast<IpBox*>(focus->parentWidget()))
            focus = focus->parentWidget();
        QVERIFY(focus);
        QCOMPARE(focus->objectName(), name);
    }
    // Round the whole chain: the area that holds the rows is never a stop of its own.
    auto* rows = child<QAbstractScrollArea>(form, "Rows");
    for (int i = 0; i < 200; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QVERIFY(QApplication::focusWidget() != rows && QApplication::focusWidget() != rows->viewport());
    }
}

void tst_FormMain::resultFolderFailureNamesTheCause_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<QString>("reason");
    QTest::newRow("a file in the folder's place") << "file" << "File exists";
    QTest::newRow("a read-only application directory") << "read-only" << "Read-only file system";
}

void tst_FormMain::resultFolderFailureNamesTheCause()
{
    QFETCH(QString, how);
    QFETCH(QString, reason);
    WindowFixture f;
    const QString app = f.path(QStringLiteral("app"));
    QVERIFY(QDir(f.dir.path()).mkdir(QStringLiteral("app")));
    f.options.executableDir = app;
    bool mounted = false;
    if (how == QLatin1String("file")) {
        QVERIFY(writeBytes(app + QStringLiteral("/2026-12-07"), "not a folder\n"));
    } else {
        mounted = QProcess::execute(QStringLiteral("mount"), {QStringLiteral("--bind"), QStringLiteral("-o"),
                                                              QStringLiteral("ro"), app, app}) == 0;
        if (!mounted)
            QSKIP("read-only bind mounts are not allowed here");
        f.options.userDataDir = app; // the user's own folder is read-only too
    }
    QStringList entries;
    {
        FormMain form(f.options);
        child<QPlainTextEdit>(form, "TextIP")->setPlainText(QStringLiteral("127.0.0.1\n::1"));
        click(form, "Command2");
        auto* log = child<QListWidget>(form, "ListLog");
        for (int i = 0; i < log->count(); ++i)
            entries << log->item(i)->text();
    }
    if (mounted)
        QProcess::execute(QStringLiteral("umount"), {app});
    QCOMPARE(entries.size(), 1);
    if (onWindows())
        reason = QDir::toNativeSeparators(app); // the system's words, in its language, follow the folder
    QVERIFY2(entries.first().startsWith(QStringLiteral("无法创建结果目录: ")), qPrintable(entries.first()));
    QVERIFY2(entries.first().contains(reason), qPrintable(entries.first()));
    QVERIFY(f.started.isEmpty()); // nothing was started that could not write its output
    QCOMPARE(f.messages.size(), 1);
    QVERIFY(f.messages.first().startsWith(QStringLiteral("后台启动失败！\r\n")));
    QVERIFY(f.messages.first().contains(reason));
}

void tst_FormMain::findShowsRowsThatHoldText()
{
    QByteArray bytes;
    for (int i = 1; i <= 300; ++i)
        bytes += "0.0.0.0\thost" + QByteArray::number(i) + ".Example  # n\n";
    WindowFixture f(&bytes);
    f.options.maxWindowHeight = 9000;
    FormMain form(f.options);
    form.show();
    QVERIFY(QTest::qWaitForWindowActive(&form));
    const QSize size = form.size();
    QScrollBar* bar = child<QAbstractScrollArea>(form, "Rows")->verticalScrollBar();
    bar->setValue(1234);
    auto* find = child<QLineEdit>(form, "TextFind");
    auto* count = child<QLabel>(form, "LabelFind");
    QVERIFY(!find->isVisible());
    QTest::keyClick(&form, Qt::Key_F, Qt::ControlModifier);
    QVERIFY(find->isVisible());
    QVERIFY(find->hasFocus());
    // At the foot of the HOST page, where the rows end above it: the window keeps its size.
    QCOMPARE(form.size(), size);
    const QWidget* rows = child<QWidget>(form, "Rows");
    for (const QWidget* w : {static_cast<QWidget*>(find), static_cast<QWidget*>(count)}) {
        QCOMPARE(w->parentWidget(), child<QWidget>(form, "Frame1"));
        QVERIFY(w->parentWidget()->rect().contains(w->geometry()));
        QVERIFY(w->geometry().top() > rows->geometry().bottom());
    }

    QTest::keyClicks(find, QStringLiteral("HOST29"));
    QTRY_COMPARE(count->text(), QStringLiteral("11 / 300"));
    QCOMPARE(child<QLineEdit>(form, "Text1(1)")->text(), QStringLiteral("host29.Example"));
    QCOMPARE(child<QLineEdit>(form, "Text1(11)")->text(), QStringLiteral("host299.Example"));
    QVERIFY(!form.findChild<QWidget*>(QStringLiteral("Text1(12)")));
    // A row in view is its own line of the file.
    QTest::mouseClick(child<QCheckBox>(form, "Check1(2)"), Qt::LeftButton);
    QTest::mouseClick(child<QCheckBox>(form, "Check2(3)"), Qt::LeftButton);
    click(form, "CmdSave");
    QCOMPARE(f.messages.value(0), QStringLiteral("保存成功!")); // the check of its effect follows
    QByteArray expected = bytes;
    expected.remove(expected.indexOf("0.0.0.0\thost291."), QByteArray("0.0.0.0\thost291.Example  # n\n").size());
    expected.insert(expected.indexOf("0.0.0.0\thost290."), '#');
    QCOMPARE(readBytes(f.hosts), expected);
    // The rows read back after the save are searched again.
    QTRY_COMPARE(count->text(), QStringLiteral("10 / 299"));
    QVERIFY(child<QCheckBox>(form, "Check1(2)")->isChecked());

    // Esc: every row, where the view was before the search.
    QTest::keyClick(find, Qt::Key_Escape);
    QVERIFY(!find->isVisible());
    QCOMPARE(bar->value(), 1234);
    QCOMPARE(child<QLineEdit>(form, "Text1(70)")->text(), QStringLiteral("host70.Example"));

    // "增加条目" ends a search and shows the new row.
    QTest::keyClick(&form, Qt::Key_F, Qt::ControlModifier);
    QTest::keyClicks(find, QStringLiteral("host7"));
    QTRY_VERIFY(count->text().endsWith(QStringLiteral(" / 299")));
    click(form, "CmdAdd");
    QVERIFY(!find->isVisible());
    QVERIFY(child<QLineEdit>(form, "Text1(300)")->isVisible());
    QCOMPARE(form.hosts().rowCount(), 300);
}

void tst_FormMain::findBoxCoversNoControl_data()
{
    QTest::addColumn<int>("rows");
    QTest::newRow("design height") << 2;
    QTest::newRow("13 rows") << 13;
    QTest::newRow("14 rows") << 14;
}

void tst_FormMain::findBoxCoversNoControl()
{
    QFETCH(int, rows);
    QByteArray bytes;
    for (int i = 1; i <= rows; ++i)
        bytes += "10.0.0." + QByteArray::number(i) + " h" + QByteArray::number(i) + "\n";
    WindowFixture f(&bytes);
    FormMain form(f.options);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QTest::keyClick(&form, Qt::Key_F, Qt::ControlModifier);
    auto* find = child<QLineEdit>(form, "TextFind");
    QVERIFY(find->isVisible());
    auto inWindow = [&](const QWidget* w) { return QRect(w->mapTo(&form, QPoint(0, 0)), w->size()); };
    // The red notice keeps its design place, readable.
    QCOMPARE(inWindow(child<QWidget>(form, "Label4")), QRect(Layout::toPixels(120), Layout::toPixels(5760), Layout::toPixels(3690), Layout::toPixels(300)));
    int count = 0;
    const Layout::Control* table = Layout::controls(&count);
    for (const QWidget* mine : {static_cast<QWidget*>(find), child<QWidget>(form, "LabelFind")}) {
        for (int i = 0; i < count; ++i) {
            const QWidget* other = child<QWidget>(form, table[i].name);
            // The frames and the tab strip lie under the page's controls by design.
            if (other == mine || !other->isVisible() || table[i].kind == Layout::Kind::Frame
                || table[i].kind == Layout::Kind::TabStrip)
                continue;
            QVERIFY2(!inWindow(mine).intersects(inWindow(other)), table[i].name);
        }
        QVERIFY(!inWindow(mine).intersects(inWindow(child<QWidget>(form, "Rows"))));
    }
}

void tst_FormMain::slashFindsOnlyOutsideTextBoxes()
{
    const QByteArray bytes = "1.1.1.1 a\n2.2.2.2 b\n";
    WindowFixture f(&bytes);
    FormMain form(f.options);
    form.show();
    QVERIFY(QTest::qWaitForWindowActive(&form));
    auto* find = child<QLineEdit>(form, "TextFind");
    auto* host = child<QLineEdit>(form, "Text1(1)");
    host->setFocus();
    QTest::keyClick(host, Qt::Key_End);
    QTest::keyClick(host, Qt::Key_Slash);
    QVERIFY(!find->isVisible());
    QCOMPARE(host->text(), QStringLiteral("a/"));
    auto* box = child<QCheckBox>(form, "Check1(2)");
    box->setFocus();
    QTest::keyClick(box, Qt::Key_Slash);
    QVERIFY(find->isVisible());
    QVERIFY(find->text().isEmpty());
    // On the 批量PING page the keys are not the find box's: the page stays.
    QTest::keyClick(find, Qt::Key_Escape);
    auto* tabs = child<QTabWidget>(form, "TabStrip1");
    tabs->setCurrentIndex(1);
    auto* log = child<QListWidget>(form, "ListLog");
    log->setFocus();
    QTest::keyClick(log, Qt::Key_Slash);
    QTest::keySequence(log, QKeySequence::Find);
    QCOMPARE(tabs->currentIndex(), 1);
    QVERIFY(!find->isVisible());
}

void tst_FormMain::everyControlIsNamedForScreenReaders()
{
    const QByteArray bytes = "1.1.1.1 a\n#2.2.2.2 b\n";
    WindowFixture f(&bytes);
    FormMain form(f.options);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QStringList nameless;
    for (QWidget* w : form.findChildren<QWidget*>()) {
        if (w->objectName().isEmpty() || w->objectName().startsWith(QLatin1String("qt_")) || !w->isVisible())
            continue;
        // An editable combo box is read by its edit field.
        auto* combo = qobject_cast<QComboBox*>(w);
        QAccessibleInterface* a =
            QAccessible::queryAccessibleInterface(combo && combo->lineEdit() ? combo->lineEdit() : w);
        if (!a || a->text(QAccessible::Name).trimmed().isEmpty())
            nameless << w->objectName();
    }
    QVERIFY2(nameless.isEmpty(), qPrintable(nameless.join(QLatin1Char(' '))));
    QCOMPARE(QAccessible::queryAccessibleInterface(child<QWidget>(form, "Check1(2)"))->text(QAccessible::Name),
             QStringLiteral("第2行 禁用"));
    QCOMPARE(QAccessible::queryAccessibleInterface(child<QComboBox>(form, "Combo1(1)")->lineEdit())->text(QAccessible::Name),
             QStringLiteral("第1行 IP"));
}

void tst_FormMain::sectionMenuSwitchesItsLines()
{
    // A section in GBK, its comment rows and line ends as a Chinese list has them.
    const TextCodec gbk("GBK");
    const QByteArray bytes = gbk.encode(QStringLiteral("# 谷歌服务\r\n1.1.1.1\tgoogle.com # 搜索\r\n#2.2.2.2 mail.google.com\r\n"
                                                       "  3.3.3.3 maps.google.com\r\n# 结束\r\n4.4.4.4 google.cn\r\n"));
    WindowFixture f(&bytes);
    f.options.encoding = "GBK";
    FormMain form(f.options);
    form.show();
    QVERIFY(QTest::qWaitForWindowActive(&form));
    auto openMenu = [&](const char* name) -> QMenu* {
        QWidget* w = child<QWidget>(form, name);
        QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(3, 3), w->mapToGlobal(QPoint(3, 3)));
        QCoreApplication::sendEvent(w, &event);
        for (QMenu* menu : form.findChildren<QMenu*>(QStringLiteral("rowMenu"))) {
            if (menu->isVisible())
                return menu;
        }
        return nullptr;
    };
    QMenu* menu = openMenu("Text1(1)");
    QVERIFY(menu);
    QTest::keyClick(menu, Qt::Key_D);
    for (const int row : {2, 3, 4})
        QTRY_VERIFY(child<QCheckBox>(form, QStringLiteral("Check1(%1)").arg(row))->isChecked());
    QVERIFY(!child<QCheckBox>(form, "Check1(6)")->isChecked());
    click(form, "CmdSave");
    QCOMPARE(f.messages.value(0), QStringLiteral("保存成功!")); // the check of its effect follows
    QByteArray expected = bytes;
    expected.replace("\n1.1.1.1\t", "\n#1.1.1.1\t").replace("  3.3.3.3", "  #3.3.3.3");
    QCOMPARE(readBytes(f.hosts), expected);

    // With a search, the rows in view are switched, and only they.
    QTest::keyClick(&form, Qt::Key_F, Qt::ControlModifier);
    QTest::keyClicks(child<QLineEdit>(form, "TextFind"), QStringLiteral("MAIL.google"));
    QTRY_COMPARE(child<QLabel>(form, "LabelFind")->text(), QStringLiteral("1 / 6"));
    menu = openMenu("Combo1(1)");
    QVERIFY(menu);
    QAction* enable = nullptr;
    for (QAction* a : menu->actions()) {
        if (a->text() == QStringLiteral("启用筛选出的行"))
            enable = a;
        QVERIFY2(!a->text().contains(QStringLiteral("本节")),
                 "a row that heads no section has no section switch");
    }
    QVERIFY(enable);
    enable->trigger();
    menu->close();
    f.messages.clear();
    click(form, "CmdSave");
    QCOMPARE(f.messages.value(0), QStringLiteral("保存成功!")); // the check of its effect follows
    QCOMPARE(readBytes(f.hosts), expected.replace("#2.2.2.2", "2.2.2.2"));
}

void tst_FormMain::untouchedLongHostKeepsItsBytes()
{
    // A line edit holds at most 32,767 characters; ticking "禁用" must not cut the host it shows.
    const QByteArray line = "10.0.0.1 " + QByteArray(40000, 'h') + " alias # note";
    const QByteArray bytes = line + "\n";
    WindowFixture f(&bytes);
    FormMain form(f.options);
    form.show();
    QTest::mouseClick(child<QCheckBox>(form, QStringLiteral("Check1(1)")), Qt::LeftButton);
    QVERIFY(form.hosts().values(0).disabled);
    QCOMPARE(form.hosts().values(0).host.size(), 40000);
    QByteArray written;
    QString error;
    QVERIFY2(form.hosts().toBytes(&written, &error), qPrintable(error));
    QCOMPARE(written, "#" + bytes);
}

void tst_FormMain::oversizedQueueFileIsLeftAlone_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("reason"); // empty: the file is loaded
    QTest::newRow("a line of exactly 4,096 characters")
        << "127.0.0.1\r\n" + QByteArray(4096, 'a') + "\r\n" << QString();
    QTest::newRow("a line over 4,096 characters") << "127.0.0.1\r\n" + QByteArray(4097, 'a') + "\r\n"
                                                  << QStringLiteral("第 2 项有 4097 个字符");
    QTest::newRow("a file of 1 MiB + 1 byte")
        << QByteArray("127.0.0.1\r\n").repeated(95325) + QByteArray(1048576 + 1 - 95325 * 11, 'x')
        << QStringLiteral("超过任务框能容纳的 1048576 字节");
}

void tst_FormMain::oversizedQueueFileIsLeftAlone()
{
    QFETCH(QByteArray, file);
    QFETCH(QString, reason);
    WindowFixture f;
    const QString ping = f.path(QStringLiteral("Ping.txt"));
    writeBytes(ping, file);
    FormMain form(f.options);
    auto* log = child<QListWidget>(form, QStringLiteral("ListLog"));
    if (reason.isEmpty()) {
        QCOMPARE(form.queueText(), QString::fromLatin1(file));
        QCOMPARE(log->count(), 0);
        return;
    }
    QVERIFY(form.queueText().isEmpty());
    QVERIFY(f.messages.isEmpty()); // start-up shows no message: the log says why
    QCOMPARE(log->count(), 1);
    QVERIFY2(log->item(0)->text().contains(reason), qPrintable(log->item(0)->text()));
    QVERIFY(log->item(0)->text().contains(QStringLiteral("没有载入")));

    // "保存任务" keeps the file in the backup folder, named in the message, then writes the box;
    // the next one only writes.
    child<QPlainTextEdit>(form, QStringLiteral("TextIP"))->setPlainText(QStringLiteral("10.0.0.1"));
    click(form, "Command3");
    QCOMPARE(f.messages.size(), 1);
    const QStringList kept = QDir(f.path(QStringLiteral("backup"))).entryList({QStringLiteral("Ping-*.txt")});
    QCOMPARE(kept.size(), 1);
    QVERIFY(readBytes(f.path(QStringLiteral("backup/")) + kept.first()) == file);
    QVERIFY2(f.messages.first().startsWith(QStringLiteral("保存成功!\r\n")) &&
                 f.messages.first().contains(kept.first()),
             qPrintable(f.messages.first()));
    QCOMPARE(readBytes(ping), QByteArray("10.0.0.1\r\n"));
    click(form, "Command3");
    QCOMPARE(f.messages.last(), QStringLiteral("保存成功!"));
    QCOMPARE(QDir(f.path(QStringLiteral("backup"))).entryList({QStringLiteral("Ping-*.txt")}).size(), 1);
}

void tst_FormMain::speedTestPutsChosenIpIntoRow_data()
{
    QTest::addColumn<bool>("fromMenu"); // the context menu and "t", or Ctrl+T
    QTest::addColumn<bool>("filtered"); // a search shows the row first, where row 1 stands
    QTest::newRow("right-click, then t") << true << false;
    QTest::newRow("Ctrl+T in the row") << false << false;
    QTest::newRow("right-click, then t, in the rows a search shows") << true << true;
    QTest::newRow("Ctrl+T, in the rows a search shows") << false << true;
}

void tst_FormMain::speedTestPutsChosenIpIntoRow()
{
    // The path a script drives: right-click a row, "t", the measuring, Return, "保存文件". The
    // tries are answered by the fixture's table: nothing is connected to.
    QFETCH(bool, fromMenu);
    QFETCH(bool, filtered);
    const QByteArray bytes = "127.0.0.1 localhost\n10.0.0.1 a.example # note\n10.0.0.2 b.example\n";
    WindowFixture f(&bytes);
    writeBytes(f.path(QStringLiteral("IP.txt")), "10.0.0.3\r\nnot-an-ip\r\n");
    f.dns[QStringLiteral("a.example")] = QStringList{QStringLiteral("10.0.0.4"), QStringLiteral("10.0.0.3")};
    Platform::ConnectTry fast, slow;
    fast.outcome = slow.outcome = Platform::ConnectTry::Connected;
    fast.micros = 4000;
    slow.micros = 9000;
    f.connects[QStringLiteral("10.0.0.4")] = fast;
    f.connects[QStringLiteral("10.0.0.3")] = slow;
    f.options.hosts.speedTimeoutMs = 700; // handed to every try
    f.resolved[QStringLiteral("a.example")] = QStringList{QStringLiteral("10.0.0.4")};
    FormMain form(f.options);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));

    // Filtered, the row of a.example is the first in view: the menu and Ctrl+T act on it, not
    // on the first row of the file.
    const QString inView = filtered ? QStringLiteral("1") : QStringLiteral("2");
    if (filtered) {
        QTest::keyClick(&form, Qt::Key_F, Qt::ControlModifier);
        QTest::keyClicks(child<QLineEdit>(form, "TextFind"), QStringLiteral("a.example"));
        QTRY_COMPARE(child<QLabel>(form, "LabelFind")->text(), QStringLiteral("1 / 3"));
    }
    auto* host = child<QLineEdit>(form, QStringLiteral("Text1(%1)").arg(inView));
    QCOMPARE(host->text(), QStringLiteral("a.example"));
    if (fromMenu) {
        QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(5, 5), host->mapToGlobal(QPoint(5, 5)));
        QCoreApplication::sendEvent(host, &event);
        QMenu* menu = nullptr;
        QTRY_VERIFY((menu = form.findChild<QMenu*>(QStringLiteral("rowMenu"))) && menu->isVisible());
        QCOMPARE(menu->actions().first()->text(), QStringLiteral("测速(&T)"));
        QTest::keyClick(menu, Qt::Key_T);
    } else {
        host->setFocus();
        QTest::keyClick(host, Qt::Key_T, Qt::ControlModifier);
    }
    QDialog* dialog = nullptr;
    QTRY_VERIFY((dialog = form.findChild<QDialog*>(QStringLiteral("SpeedTest"))) && dialog->isVisible());
    auto* list = child<QTreeView>(*dialog, "SpeedList");
    QTRY_COMPARE(child<QLabel>(*dialog, "SpeedStatus")->text(), QStringLiteral("完成"));
    auto text = [list](int row, int column) { return list->model()->index(row, column).data().toString(); };
    QStringList rows;
    for (int i = 0; i < list->model()->rowCount(); ++i)
        rows << text(i, 0) + QLatin1Char(' ') + text(i, 1) + QLatin1Char(' ') + text(i, 5);
    QCOMPARE(rows, (QStringList{"DNS 10.0.0.4 可用", "常用/DNS 10.0.0.3 可用", "当前 10.0.0.1 拒绝"}));
    QCOMPARE(text(list->currentIndex().row(), 1), QStringLiteral("10.0.0.4")); // the best, selected
    QCOMPARE(QSet<int>(f.connectTimeouts.cbegin(), f.connectTimeouts.cend()), QSet<int>{700});
    QTest::keyClick(dialog, Qt::Key_Return);
    QTRY_VERIFY(!form.findChild<QDialog*>(QStringLiteral("SpeedTest")));
    QCOMPARE(child<IpBox>(form, QStringLiteral("Combo1(%1)").arg(inView))->ip(), QStringLiteral("10.0.0.4"));
    QCOMPARE(readBytes(f.hosts), bytes); // nothing saved yet

    click(form, "CmdSave");
    QCOMPARE(readBytes(f.hosts), QByteArray("127.0.0.1 localhost\n10.0.0.4 a.example # note\n10.0.0.2 b.example\n"));
    QCOMPARE(f.messages, (QStringList{QStringLiteral("保存成功!"), QStringLiteral("a.example → 10.0.0.4: 已生效")}));
}

void tst_FormMain::speedTestWithoutThreads()
{
    // The system refuses every thread (a process limit): the dialog ends with the reason.
    ConnectPool pool({}, nullptr, [](std::function<void()>) -> std::thread {
        throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
    });
    SpeedTestDialog dialog(QStringLiteral("a.example"), QStringLiteral("10.0.0.1"), {QStringLiteral("10.0.0.2")},
                           &pool, [](QString*) { return QStringList(); }, 1000);
    dialog.show();
    auto* status = child<QLabel>(dialog, "SpeedStatus");
    QTRY_VERIFY2(status->text().startsWith(QStringLiteral("完成")), qPrintable(status->text()));
    QVERIFY2(status->text().contains(QStringLiteral("无法启动线程")), qPrintable(status->text()));
    auto* list = child<QTreeView>(dialog, "SpeedList");
    QCOMPARE(list->model()->rowCount(), 2);
}

void tst_FormMain::blockSpeedTestPutsEachHostsBest_data()
{
    QTest::addColumn<bool>("found"); // the rows a search found, or the section's row menu
    QTest::newRow("测速本节 on the section's row") << false;
    QTest::newRow("测速筛选出的行 while a search is on") << true;
}

void tst_FormMain::blockSpeedTestPutsEachHostsBest()
{
    // 10.0.0.2, the rows' address, answers fastest but serves another site; 10.0.0.1 serves
    // good.test and api.test; nothing serves bad.test. All answered from the fixture's tables.
    QFETCH(bool, found);
    const QByteArray bytes = "127.0.0.1 localhost\n# blk\n10.0.0.2 good.test\n10.0.0.2 api.test\n"
                             "10.0.0.9 bad.test\n\n10.0.0.2 other.test\n";
    WindowFixture f(&bytes);
    writeBytes(f.path(QStringLiteral("IP.txt")), "10.0.0.1\r\n10.0.0.3\r\n");
    Platform::ConnectTry fast, slow;
    fast.outcome = slow.outcome = Platform::ConnectTry::Connected;
    fast.micros = 2000;
    slow.micros = 9000;
    f.connects[QStringLiteral("10.0.0.2")] = fast;
    f.connects[QStringLiteral("10.0.0.9")] = fast;
    f.connects[QStringLiteral("10.0.0.1")] = slow;
    TlsTry other, untrusted;
    other.outcome = TlsTry::NameMismatch;
    other.names = QStringLiteral("other.test");
    untrusted.outcome = TlsTry::Untrusted;
    for (const char* host : {"good.test", "api.test", "bad.test"})
        f.tls[QStringLiteral("10.0.0.2 ") + QLatin1String(host)] = other;
    for (const char* ip : {"10.0.0.1", "10.0.0.9"})
        f.tls[QLatin1String(ip) + QStringLiteral(" bad.test")] = untrusted;
    FormMain form(f.options);
    form.show();
    QVERIFY(QTest::qWaitForWindowActive(&form));
    const char* menuRow = "Text1(2)";
    if (found) {
        QTest::keyClick(&form, Qt::Key_F, Qt::ControlModifier);
        QTest::keyClicks(child<QLineEdit>(form, "TextFind"), QStringLiteral(".test"));
        QTRY_VERIFY(child<QLabel>(form, "LabelFind")->text().endsWith(QStringLiteral("/ 7")));
        menuRow = "Text1(1)";
    }
    QWidget* w = child<QWidget>(form, menuRow);
    QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(3, 3), w->mapToGlobal(QPoint(3, 3)));
    QCoreApplication::sendEvent(w, &event);
    QMenu* menu = nullptr;
    QTRY_VERIFY((menu = form.findChild<QMenu*>(QStringLiteral("rowMenu"))) && menu->isVisible());
    QAction* action = menu->findChild<QAction*>(found ? "speedFoundAction" : "speedSectionAction");
    QVERIFY(action && action->isEnabled());
    action->trigger();
    menu->close();
    QDialog* dialog = nullptr;
    QTRY_VERIFY((dialog = form.findChild<QDialog*>(QStringLiteral("SpeedBlock"))) && dialog->isVisible());
    QVERIFY(dialog->windowTitle().startsWith(QStringLiteral("测速")));
    QTRY_COMPARE(child<QLabel>(*dialog, "SpeedStatus")->text(), QStringLiteral("完成"));
    auto* list = child<QTreeWidget>(*dialog, "SpeedList");
    QStringList lines;
    for (int i = 0; i < list->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* item = list->topLevelItem(i);
        lines << item->text(0) + QLatin1Char(' ') + item->text(1) + QLatin1Char(' ') + item->text(4);
    }
    const QStringList expected{"good.test 10.0.0.1 1/3 可用", "api.test 10.0.0.1 1/3 可用",
                               "bad.test 10.0.0.9 无可用地址"};
    QCOMPARE(found ? lines.mid(0, 3) : lines, expected);
    QStringList candidates; // good.test's, opened
    for (int i = 0; i < list->topLevelItem(0)->childCount(); ++i)
        candidates << list->topLevelItem(0)->child(i)->text(1) + QLatin1Char(' ') +
                          list->topLevelItem(0)->child(i)->text(4);
    QCOMPARE(candidates, (QStringList{"10.0.0.1 3/3  可用", "10.0.0.2 3/3  证书不符: other.test",
                                      "10.0.0.3 0/3  拒绝"}));
    QTest::keyClick(dialog, Qt::Key_Return);
    QTRY_VERIFY(!form.findChild<QDialog*>(QStringLiteral("SpeedBlock")));
    QCOMPARE(f.messages, QStringList{QStringLiteral("没有可用的地址, IP 未改: bad.test")});
    QCOMPARE(readBytes(f.hosts), bytes); // nothing saved yet
    if (found)
        QTest::keyClick(&form, Qt::Key_Escape);
    f.messages.clear();
    click(form, "CmdSave");
    QByteArray saved = bytes;
    saved.replace("10.0.0.2 good.test", "10.0.0.1 good.test").replace("10.0.0.2 api.test", "10.0.0.1 api.test");
    // other.test (found too) keeps 10.0.0.2: the fastest, and it serves other.test.
    QCOMPARE(readBytes(f.hosts), saved);
}

void tst_FormMain::deadLinesMarkedAsTheUserEdits()
{
    const QByteArray bytes = "1.1.1.1 a\n2.2.2.2 a\n::1 a\n3.3.3 b\n";
    WindowFixture f(&bytes);
    FormMain form(f.options);
    form.show();
    auto marksOf = [&](FormMain& window) {
        QStringList out;
        for (int row = 1; row <= 4; ++row) {
            const auto* host = child<QLineEdit>(window, QStringLiteral("Text1(%1)").arg(row));
            const auto* ip = child<QComboBox>(window, QStringLiteral("Combo1(%1)").arg(row));
            // Both text boxes are greyed exactly when the row has a reason.
            const QColor text = window.palette().color(QPalette::Text);
            const bool grey = !host->toolTip().isEmpty();
            const bool right = (host->palette().color(QPalette::Text) != text) == grey &&
                               (ip->palette().color(QPalette::Text) != text) == grey &&
                               ip->toolTip() == host->toolTip();
            out << host->toolTip() + (right ? QString() : QStringLiteral(" (grey wrong)"));
        }
        return out;
    };
    auto marks = [&] { return marksOf(form); };
    // The index of duplicates is made once the window shows.
    QTRY_COMPARE(marks(), (QStringList{QString(), QStringLiteral("不起作用: 第 1 行已把 a 指向 1.1.1.1，系统用前面的这一行"), QString(),
                                   QStringLiteral("不起作用: “3.3.3”不是有效的 IPv4/IPv6 地址")}));
    // Ticking "禁用" of the first row makes the second the one used; typing a host frees it.
    QTest::mouseClick(child<QCheckBox>(form, "Check1(1)"), Qt::LeftButton);
    QCOMPARE(marks(), (QStringList{QString(), QString(), QString(), QStringLiteral("不起作用: “3.3.3”不是有效的 IPv4/IPv6 地址")}));
    QTest::mouseClick(child<QCheckBox>(form, "Check1(1)"), Qt::LeftButton);
    QTest::keyClicks(child<QLineEdit>(form, "Text1(2)"), QStringLiteral("x"));
    QCOMPARE(marks(), (QStringList{QString(), QString(), QString(), QStringLiteral("不起作用: “3.3.3”不是有效的 IPv4/IPv6 地址")}));

    // Where host.conf says "multi on", the resolver answers with every line's address.
    f.resolverSettings = "multi on\n";
    FormMain everyLine(f.options);
    everyLine.show();
    QCOMPARE(marksOf(everyLine), (QStringList{QString(), QString(), QString(),
                                              QStringLiteral("不起作用: “3.3.3”不是有效的 IPv4/IPv6 地址")}));
}

QTEST_MAIN(tst_FormMain)
#include "tst_formmain.moc"
