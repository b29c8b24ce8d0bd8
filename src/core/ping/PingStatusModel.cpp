#include "core/ping/PingStatusModel.h"

#include "core/ping/PingMonitor.h"

#include <QLocale>
#include <QTimer>

namespace {

QString number(double value)
{
    return QString::number(value, 'f', value < 10 ? 1 : 0);
}

} // namespace

PingStatusModel::PingStatusModel(PingMonitor* monitor, QObject* parent)
    : QAbstractTableModel(parent), m_refresh(new QTimer(this))
{
    connect(monitor, &PingMonitor::added, this, &PingStatusModel::addRow);
    connect(monitor, &PingMonitor::changed, this, &PingStatusModel::update);
    m_refresh->setInterval(kRefreshMs);
    m_refresh->setSingleShot(true);
    connect(m_refresh, &QTimer::timeout, this, &PingStatusModel::refresh);
}

int PingStatusModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

int PingStatusModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QString PingStatusModel::stateText(PingTally::State state)
{
    switch (state) {
    case PingTally::State::Running:
        return QStringLiteral("进行中");
    case PingTally::State::Up:
        return QStringLiteral("在线");
    case PingTally::State::Down:
        return QStringLiteral("离线");
    case PingTally::State::Ended:
        return QStringLiteral("已结束");
    case PingTally::State::Stopped:
        return QStringLiteral("已停止");
    }
    return QString();
}

QString PingStatusModel::text(int row, int column) const
{
    const Row& r = m_rows.at(row);
    const PingTally& t = r.tally;
    switch (column) {
    case Target:
        return r.target;
    case State:
        return stateText(t.state());
    case Sent:
        return QString::number(t.sent());
    case Received:
        return QString::number(t.received());
    case Loss:
        return t.sent() > 0 ? QString::number(t.lossPercent(), 'f', 0) + QLatin1Char('%') : QString();
    case Last:
        return t.hasTimes() ? number(t.lastMs()) : QString();
    case Average:
        return t.hasTimes() ? number(t.averageMs()) : QString();
    case LastChange:
        return t.lastChange().isValid() ? t.lastChange().toString(u"HH:mm:ss") : QString();
    default:
        return QString();
    }
}

QVariant PingStatusModel::sortValue(int row, int column) const
{
    const PingTally& t = m_rows.at(row).tally;
    switch (column) {
    case Sent:
        return t.sent();
    case Received:
        return t.received();
    case Loss:
        return t.sent() > 0 ? t.lossPercent() : -1.0;
    case Last:
        return t.hasTimes() ? t.lastMs() : -1.0;
    case Average:
        return t.hasTimes() ? t.averageMs() : -1.0;
    case LastChange:
        return t.lastChange();
    default:
        return text(row, column);
    }
}

QVariant PingStatusModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= m_rows.size())
        return QVariant();
    if (role == Qt::DisplayRole)
        return text(index.row(), index.column());
    if (role == Qt::UserRole)
        return sortValue(index.row(), index.column());
    if (role == Qt::TextAlignmentRole && index.column() >= Sent && index.column() <= Average)
        return int(Qt::AlignRight | Qt::AlignVCenter);
    return QVariant();
}

QVariant PingStatusModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    static const QStringList names{
        QStringLiteral("目标"), QStringLiteral("状态"), QStringLiteral("已发送"), QStringLiteral("已接收"),
        QStringLiteral("丢失"), QStringLiteral("最近"), QStringLiteral("平均"),   QStringLiteral("最后变化")};
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 && section < names.size())
        return names.at(section);
    return QAbstractTableModel::headerData(section, orientation, role);
}

void PingStatusModel::addRow(quint64 id, const QString& target)
{
    const int row = int(m_rows.size());
    beginInsertRows(QModelIndex(), row, row);
    m_rows.append(Row{target, PingTally()});
    m_rowOf.insert(id, row);
    endInsertRows();
}

void PingStatusModel::update(quint64 id, const PingTally& tally)
{
    const auto it = m_rowOf.constFind(id);
    if (it == m_rowOf.cend())
        return;
    const int row = it.value();
    m_rows[row].tally = tally;
    m_firstChanged = m_firstChanged < 0 ? row : qMin(m_firstChanged, row);
    m_lastChanged = qMax(m_lastChanged, row);
    if (!m_refresh->isActive())
        m_refresh->start();
    // An ended run keeps its row, but is no longer looked up.
    if (tally.state() == PingTally::State::Ended || tally.state() == PingTally::State::Stopped)
        m_rowOf.erase(it);
}

void PingStatusModel::refresh()
{
    if (m_firstChanged < 0)
        return;
    emit dataChanged(index(m_firstChanged, 0), index(m_lastChanged, ColumnCount - 1));
    m_firstChanged = m_lastChanged = -1;
}
