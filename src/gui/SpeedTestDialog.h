#pragma once

#include "core/hosts/SpeedTest.h"

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;
class QTreeWidget;

// 测速: the candidates of one row measured side by side, best first as the answers come in.
// "使用" (or Enter) hands the selected address to ipChosen; closing drops the tries still
// running. The measuring is SpeedTest's; this only shows it.
class SpeedTestDialog : public QDialog
{
    Q_OBJECT

public:
    // dns (may be empty) is asked for the host's addresses on a thread of its own.
    SpeedTestDialog(const QString& host, const QList<SpeedTest::Candidate>& candidates,
                    Platform::Connector connector, std::function<QStringList(QString* error)> dns,
                    int timeoutMs, QWidget* parent = nullptr);

    SpeedTest& test() { return *m_test; }

signals:
    void ipChosen(const QString& ip);

private:
    void restart();
    void showEntries();
    void use();

    QList<SpeedTest::Candidate> m_candidates;
    std::function<QStringList(QString*)> m_dns;
    int m_timeoutMs;
    SpeedTest* m_test;
    QLineEdit* m_port;
    QTreeWidget* m_list;
    QLabel* m_status;
    QPushButton* m_use;
    quint16 m_portStarted = 0;
    bool m_picked = false; // the user chose a row: the best one is no longer selected for them
};
