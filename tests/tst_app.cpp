#include "TestMain.h"
#include "core/app/AppPath.h"
#include "core/app/Layout.h"

#include <QTest>

class tst_App : public QObject
{
    Q_OBJECT

private slots:
    void appPath_data();
    void appPath();
    void ownFilesDir_data();
    void ownFilesDir();
    void refitWorkedExample();
    void refitCappedAtScreen();
};

void tst_App::appPath_data()
{
    QTest::addColumn<QString>("reported");
    QTest::addColumn<QString>("separator");
    QTest::addColumn<QString>("expected");
    QTest::newRow("plain directory gains one backslash") << "D:\\Tools" << "\\" << "D:\\Tools\\";
    QTest::newRow("drive root keeps its one backslash") << "C:\\" << "\\" << "C:\\";
    QTest::newRow("network path keeps its leading pair") << "\\\\server\\share\\dir" << "\\"
                                                         << "\\\\server\\share\\dir\\";
    QTest::newRow("doubled backslash inside collapses") << "C:\\a\\\\b" << "\\" << "C:\\a\\b\\";
    QTest::newRow("three backslashes become two") << "C:\\a\\\\\\b" << "\\" << "C:\\a\\\\b\\";
    QTest::newRow("four backslashes become two") << "C:\\a\\\\\\\\b" << "\\" << "C:\\a\\\\b\\";
    QTest::newRow("path with spaces") << "C:\\Program Files\\Tarvix" << "\\" << "C:\\Program Files\\Tarvix\\";
    QTest::newRow("unix directory") << "/opt/tarvix" << "/" << "/opt/tarvix/";
    QTest::newRow("unix root") << "/" << "/" << "/";
    QTest::newRow("unix doubled slash inside") << "/opt//tarvix" << "/" << "/opt/tarvix/";
    QTest::newRow("unix network-style leading pair") << "//server/share" << "/" << "//server/share/";
}

void tst_App::appPath()
{
    QFETCH(QString, reported);
    QFETCH(QString, separator);
    QFETCH(QString, expected);
    QCOMPARE(AppPath::fromReportedDir(reported, separator.at(0)), expected);
}

void tst_App::ownFilesDir_data()
{
    QTest::addColumn<QString>("executableDir");
    QTest::addColumn<bool>("installed");
    QTest::addColumn<bool>("writable");
    QTest::addColumn<QString>("userDataDir");
    QTest::addColumn<QString>("expected");
    const QString home = QStringLiteral("/home/u/.local/share/tarvix");
    const QString appData = QStringLiteral("C:\\Users\\u\\AppData\\Roaming\\tarvix");
    QTest::newRow("build tree: beside the program")
        << "/home/u/tarvix/build/default/src" << false << true << home << "/home/u/tarvix/build/default/src";
    QTest::newRow("installed: the user's data folder") << "/usr/bin" << true << false << home << home;
    QTest::newRow("installed, run by root through sudo: root's data folder")
        << "/usr/bin" << true << true << "/root/.local/share/tarvix"
        << "/root/.local/share/tarvix";
    QTest::newRow("Program Files: the user's data folder")
        << "C:\\Program Files\\Tarvix" << true << false << appData << appData;
    QTest::newRow("Program Files, run as administrator: the same folder")
        << "C:\\Program Files\\Tarvix" << true << true << appData << appData;
    QTest::newRow("unzipped copy: beside the program") << "D:\\Tools" << false << true << appData
                                                       << "D:\\Tools";
    QTest::newRow("unzipped copy in a folder it cannot write: the user's data folder")
        << "C:\\Program Files\\Tools" << false << false << appData << appData;
    QTest::newRow("no user folder known: beside the program, where a save fails as before")
        << "/usr/bin" << true << false << ""
        << "/usr/bin";
}

void tst_App::ownFilesDir()
{
    QFETCH(QString, executableDir);
    QFETCH(bool, installed);
    QFETCH(bool, writable);
    QFETCH(QString, userDataDir);
    QFETCH(QString, expected);
    const AppPath::CopyKind kind = installed ? AppPath::CopyKind::Installed : AppPath::CopyKind::Portable;
    QCOMPARE(AppPath::ownFilesDir(executableDir, kind, writable, userDataDir), expected);
}

void tst_App::refitWorkedExample()
{
    const Layout::Fit fit = Layout::refit(3);
    QCOMPARE(fit.frameHeight, 1750);
    QCOMPARE(fit.tabStripHeight, 2250);
    QCOMPARE(fit.windowHeight, 3380);
    QCOMPARE(fit.exitTop, 2430);
    QCOMPARE(fit.textIpHeight, 690);
    QCOMPARE(fit.listLogHeight, 700);
    QCOMPARE(Layout::rowTop(3), 1350);
    QVERIFY(!fit.capped);
}

void tst_App::refitCappedAtScreen()
{
    // 1,000 rows want a window of 301,480 twips; a screen of 9,000 stops it there and the
    // rest follows from that height.
    const Layout::Fit fit = Layout::refit(1000, 9000);
    QVERIFY(fit.capped);
    QCOMPARE(fit.windowHeight, 9000);
    QCOMPARE(fit.frameHeight, 9000 - 480 - 1150);
    QCOMPARE(fit.exitTop, fit.frameHeight + 480 + 200);
    QCOMPARE(fit.listLogHeight, fit.textIpHeight + 10);
    QVERIFY(!Layout::refit(3, 9000).capped);
}

QTEST_GUILESS_MAIN(tst_App)
#include "tst_app.moc"
