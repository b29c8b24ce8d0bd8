#include "gui/PingStatusWindow.h"

#include "core/ping/PingRunner.h"
#include "core/ping/PingStatusModel.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QListWidget>
#include <QPushButton>
#include <QSortFilterProxyModel>
#include <QTableView>
#include <QVBoxLayout>

#include <algorithm>

PingStatusWindow::PingStatusWindow(PingRunner* runner, QWidget* parent)
    : QWidget(parent, Qt::Window), m_runner(runner), m_table(new QTableView(this)),
      m_sorted(new QSortFilterProxyModel(this))
{
    setObjectName(QStringLiteral("PingStatus"));
    setWindowTitle(QStringLiteral("批量PING状态"));
    setAttribute(Qt::WA_DeleteOnClose);

    // Numbers sort as numbers: the model gives each cell's sort value under Qt::UserRole.
    m_sorted->setSourceModel(runner->statusModel());
    m_sorted->setSortRole(Qt::UserRole);
    m_table->setObjectName(QStringLiteral("StatusTable"));
    m_table->setModel(m_sorted);
    m_table->setSortingEnabled(true);
    m_table->sortByColumn(-1, Qt::AscendingOrder); // the order the targets started in, until a click
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->verticalHeader()->hide();
    m_table->verticalHeader()->setDefaultSectionSize(m_table->fontMetrics().height() + 6);
    // Columns as wide as their usual content: a host name, and times such as 12:34:56.
    const QFontMetrics metrics = m_table->fontMetrics();
    m_table->horizontalHeader()->setDefaultSectionSize(metrics.horizontalAdvance(QStringLiteral("00:00:00")) + 24);
    m_table->setColumnWidth(PingStatusModel::Target, metrics.horizontalAdvance(QString(24, QLatin1Char('0'))));
    m_table->horizontalHeader()->setStretchLastSection(true);

    auto* copy = new QAction(this);
    copy->setShortcut(QKeySequence::Copy);
    copy->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    connect(copy, &QAction::triggered, this, &PingStatusWindow::copySelection);
    m_table->addAction(copy);

    auto* stop = new QPushButton(QStringLiteral("停止全部(&T)"), this);
    stop->setObjectName(QStringLiteral("StopAll"));
    connect(stop, &QPushButton::clicked, runner, &PingRunner::stopAll);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(stop);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_table);
    layout->addLayout(buttons);
    resize(m_table->horizontalHeader()->length() + 60, 420);
}

void PingStatusWindow::addToLog(QListWidget* log, PingRunner* runner)
{
    auto* open = new QAction(QStringLiteral("实时状态(&S)"), log);
    open->setObjectName(QStringLiteral("ShowPingStatus"));
    log->setContextMenuPolicy(Qt::ActionsContextMenu);
    log->addAction(open);
    auto window = std::make_shared<QPointer<PingStatusWindow>>();
    QObject::connect(open, &QAction::triggered, log, [log, runner, window] {
        if (!*window) {
            *window = new PingStatusWindow(runner, log->window());
            (*window)->show();
        }
        (*window)->raise();
        (*window)->activateWindow();
    });
}

QString PingStatusWindow::selectedText() const
{
    QList<int> rows;
    for (const QModelIndex& index : m_table->selectionModel()->selectedRows())
        rows << index.row();
    std::sort(rows.begin(), rows.end());
    QStringList cells;
    for (int c = 0; c < m_sorted->columnCount(); ++c)
        cells << m_sorted->headerData(c, Qt::Horizontal).toString();
    QString text = cells.join(QLatin1Char('\t')) + QLatin1Char('\n');
    for (int row : rows) {
        cells.clear();
        for (int c = 0; c < m_sorted->columnCount(); ++c)
            cells << m_sorted->index(row, c).data().toString();
        text += cells.join(QLatin1Char('\t')) + QLatin1Char('\n');
    }
    return text;
}

void PingStatusWindow::copySelection()
{
    QApplication::clipboard()->setText(selectedText());
}
