#pragma once

#include <QPointer>
#include <QWidget>

class PingRunner;
class QListWidget;
class QSortFilterProxyModel;
class QTableView;

// 批量PING状态: the live state of every target of the batches started since the main window
// opened, one row per target, sorted by a click on a header; Ctrl+C copies the selected rows
// with the header row as tab-separated text. 停止全部 ends every ping and TCP run still going.
// The window only shows: closing it changes nothing about the runs.
class PingStatusWindow : public QWidget
{
    Q_OBJECT

public:
    explicit PingStatusWindow(PingRunner* runner, QWidget* parent = nullptr);

    // Gives the log's context menu the entry "实时状态(&S)", which opens the window of runner (or
    // raises the one that is open).
    static void addToLog(QListWidget* log, PingRunner* runner);

    // The selected rows in the order shown, the header row first, tab-separated, a line each.
    QString selectedText() const;

public slots:
    void copySelection();

private:
    PingRunner* m_runner = nullptr;
    QTableView* m_table = nullptr;
    QSortFilterProxyModel* m_sorted = nullptr;
};
