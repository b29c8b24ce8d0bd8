#pragma once

#include "core/ping/PingTally.h"

#include <QAbstractTableModel>
#include <QHash>
#include <QList>

class PingMonitor;
class QTimer;

// One row per target of the batches started since the model was made, with its live counts:
// 目标, 状态, 已发送, 已接收, 丢失, 最近, 平均, 最后变化. The rows follow the monitor; the view
// is told of changed counts at most every kRefreshMs, as one range, however many changed.
class PingStatusModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    static constexpr int kRefreshMs = 100;
    enum Column { Target, State, Sent, Received, Loss, Last, Average, LastChange, ColumnCount };

    explicit PingStatusModel(PingMonitor* monitor, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    // The state as the table shows it.
    static QString stateText(PingTally::State state);
    // The text of a cell, as shown and copied.
    QString text(int row, int column) const;
    // The value a column sorts by (numbers as numbers).
    QVariant sortValue(int row, int column) const;

private:
    void addRow(quint64 id, const QString& target);
    void update(quint64 id, const PingTally& tally);
    void refresh();

    struct Row

    {
        QString target;
        PingTally tally;
    };
    QList<Row> m_rows;
    QHash<quint64, int> m_rowOf; // a run's row
    int m_firstChanged = -1;     // the rows changed since the last refresh
    int m_lastChanged = -1;
    QTimer* m_refresh = nullptr;
};
