#pragma once

#include "core/hosts/SpeedTest.h"

#include <QDialog>
#include <QPointer>
#include <QTimer>

class ConnectPool;
class QLabel;
class QLineEdit;
class QPushButton;
class QTreeView;
class SpeedListModel;

// 测速: the candidates of one row measured side by side, best first as the answers come in.
// "使用" (or Enter) hands the selected address to ipChosen; closing drops the tries still
// running. The measuring is SpeedTest's; this only shows it, a few times a second at most, so
// that 100,000 candidates never hold the window.
class SpeedTestDialog : public QDialog
{
    Q_OBJECT

public:
    // The candidates are the row's current IP, the common IPs and what dns (may be empty) gives
    // for host; pool runs the tries and the DNS query. The list is made and measured once the
    // dialog shows: 100,000 common IPs never keep it from showing.
    SpeedTestDialog(const QString& host, const QString& currentIp, const QStringList& commonIps,
                    ConnectPool* pool, std::function<QStringList(QString* error)> dns, int timeoutMs,
                    QWidget* parent = nullptr);

    SpeedTest& test() { return *m_test; }

signals:
    void ipChosen(const QString& ip);

private:
    void restart();
    void showEntries();
    void use();

    QString m_currentIp;
    QStringList m_commonIps;
    QList<SpeedTest::Candidate> m_candidates;
    std::function<QStringList(QString*)> m_dns;
    int m_timeoutMs;
    QString m_host;
    QPointer<ConnectPool> m_pool;
    SpeedTest* m_test;
    SpeedListModel* m_model;
    QLineEdit* m_port;
    QTreeView* m_list;
    QLabel* m_status;
    QPushButton* m_use;
    QTimer m_refresh; // coalesces the answers into one update of the list
    QString m_poolError;
    quint16 m_portStarted = 0;
    bool m_gathered = false; // the candidates are made
    bool m_picked = false;   // the user chose a row: the best one is no longer selected for them
};
