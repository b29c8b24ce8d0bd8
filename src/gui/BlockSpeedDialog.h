#pragma once

#include "core/hosts/SpeedTest.h"

#include <QDialog>
#include <QHash>
#include <QPointer>
#include <QTimer>

class ConnectPool;
class QLabel;
class QLineEdit;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

// 测速 of a block of rows (a section, or the rows a search found): every row's candidates
// measured at once through the shared pool, one line per host with its best usable address;
// a host's line opens to show all its candidates. "全部使用" (Enter) hands each host's best to
// chosen(); the hosts without a usable address keep theirs and are named.
class BlockSpeedDialog : public QDialog
{
    Q_OBJECT

public:
    struct Row {
        int row = 0; // the document's
        QString host;
        QString ip;
    };

    // dns (may be empty) gives a host's addresses from DNS, on a thread of the pool.
    BlockSpeedDialog(const QList<Row>& rows, const QStringList& commonIps, ConnectPool* pool,
                     std::function<QStringList(const QString& host, QString* error)> dns, int timeoutMs,
                     QWidget* parent = nullptr);

signals:
    // ipByRow: each row's best usable address; without: the hosts that have none.
    void chosen(const QHash<int, QString>& ipByRow, const QStringList& without);

private:
    struct Host {
        Row row;
        SpeedTest* test = nullptr;
        QTreeWidgetItem* item = nullptr;
    };

    void restart();
    void showHosts();
    void showHost(Host& host);
    void useAll();

    QList<Host> m_hosts;
    QStringList m_commonIps;
    std::function<QStringList(const QString&, QString*)> m_dns;
    int m_timeoutMs;
    QLineEdit* m_port;
    QTreeWidget* m_list;
    QLabel* m_status;
    QTimer m_refresh; // coalesces the answers into one update a few times a second
    quint16 m_portStarted = 0;
};
