// The window 批量PING状态: opened from the log's menu, its rows following the runs, copied as
// tab-separated text, and 停止全部. TCP targets whose connections a stand-in answers: nothing
// leaves the test.
#include "TestMain.h"
#include "WindowFixture.h"
#include "core/ping/PingStatusModel.h"
#include "gui/PingStatusWindow.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QTableView>

class tst_PingStatus : public QObject
{
    Q_OBJECT

private slots:
    void followsCopiesAndStops();
};

void tst_PingStatus::followsCopiesAndStops()
{
    WindowFixture f;
    Platform::ConnectTry connected;
    connected.outcome = Platform::ConnectTry::Connected;
    connected.micros = 300;
    f.connects.insert(QStringLiteral("127.0.0.1"), connected); // 127.0.0.2 is refused
    FormMain form(f.options);
    form.show();
    child<QPlainTextEdit>(form, "TextIP")->setPlainText(QStringLiteral("127.0.0.1:7777\n127.0.0.2:7778"));
    child<QLineEdit>(form, "TextN")->setText(QStringLiteral("20"));
    form.batchPage().startBatch();

    auto* log = child<QListWidget>(form, "ListLog");
    QCOMPARE(log->contextMenuPolicy(), Qt::ActionsContextMenu);
    auto* open = child<QAction>(*log, "ShowPingStatus");
    QCOMPARE(open->text(), QStringLiteral("实时状态(&S)"));
    open->trigger();
    PingStatusWindow* window = nullptr;
    QTRY_VERIFY((window = form.findChild<PingStatusWindow*>()) != nullptr);
    QCOMPARE(window->windowTitle(), QStringLiteral("批量PING状态"));
    QVERIFY(window->isVisible());
    open->trigger(); // raised, not opened twice
    QCOMPARE(form.findChildren<PingStatusWindow*>().size(), 1);

    // Both targets started before the window opened are in it, and their counts follow.
    auto* table = child<QTableView>(*window, "StatusTable");
    QCOMPARE(table->model()->rowCount(), 2);
    QTRY_COMPARE_WITH_TIMEOUT(table->model()->index(0, PingStatusModel::State).data().toString(),
                              QStringLiteral("在线"), 3000);
    QTRY_VERIFY_WITH_TIMEOUT(table->model()->index(1, PingStatusModel::Sent).data().toInt() >= 2, 5000);
    QCOMPARE(table->model()->index(1, PingStatusModel::State).data().toString(), QStringLiteral("离线"));
    QVERIFY(log->findItems(QStringLiteral("掉线: 127.0.0.2:7778 "), Qt::MatchStartsWith).size() == 1);

    // Sorted by 已接收, descending, the answering target comes first; Ctrl+A, Ctrl+C copies
    // the rows shown, the header first.
    table->sortByColumn(PingStatusModel::Received, Qt::AscendingOrder);
    QCOMPARE(table->model()->index(0, PingStatusModel::Target).data().toString(),
             QStringLiteral("127.0.0.2:7778"));
    table->setFocus();
    QTest::keyClick(table, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(table, Qt::Key_C, Qt::ControlModifier);
    const QStringList lines = QApplication::clipboard()->text().split(QLatin1Char('\n'));
    QCOMPARE(lines.size(), 4); // header, two rows, the last line end
    QCOMPARE(lines[0], QStringLiteral("目标\t状态\t已发送\t已接收\t丢失\t最近\t平均\t最后变化"));
    QVERIFY2(lines[1].startsWith(QStringLiteral("127.0.0.2:7778\t离线\t")), qPrintable(lines[1]));
    const QStringList up = lines[2].split(QLatin1Char('\t'));
    QCOMPARE(up.size(), 8);
    QCOMPARE(up[0], QStringLiteral("127.0.0.1:7777"));
    QVERIFY(up[3].toInt() >= 1);
    QCOMPARE(up[5], QStringLiteral("0.3"));

    // 停止全部 ends both; closing the window then changes nothing.
    QTest::mouseClick(child<QPushButton>(*window, "StopAll"), Qt::LeftButton);
    QTRY_COMPARE(log->findItems(QStringLiteral("已停止: "), Qt::MatchStartsWith).size(), 2);
    QTRY_COMPARE(table->model()->index(0, PingStatusModel::State).data().toString(),
                 QStringLiteral("已停止"));
    window->close();
    QTRY_VERIFY(form.findChild<PingStatusWindow*>() == nullptr);
    QCOMPARE(log->findItems(QStringLiteral("本批完成: 2 个目标中 1 个有回应"), Qt::MatchStartsWith).size(),
             1);
}

QTEST_MAIN(tst_PingStatus)
#include "tst_pingstatus.moc"
