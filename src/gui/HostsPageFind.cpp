// The find box, the switching of sections and 测速 of a block: the parts of the HOST page that
// narrow the rows in view and act on many rows at once. The rules are in core (HostsFilter,
// HostsSections, SpeedTest).
#include "gui/HostsPage.h"

#include "core/hosts/HostsFilter.h"
#include "core/hosts/HostsSections.h"
#include "core/net/ConnectPool.h"
#include "gui/BlockSpeedDialog.h"
#include "gui/MessageBox.h"
#include "gui/RowsView.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QShortcut>
#include <QStringListModel>
#include <QTabWidget>
#include <QTimer>

namespace {

QString grouped(qsizetype n)
{
    return QLocale(QLocale::English, QLocale::UnitedStates).toString(static_cast<qlonglong>(n));
}

} // namespace

void HostsPage::connectFind()
{
    m_filterTimer = new QTimer(this);
    connect(m_filterTimer, &QTimer::timeout, this, &HostsPage::filterStep);
    connect(m_findBox, &QLineEdit::textChanged, this, &HostsPage::startFilter);
    // A text box that has the focus takes "/" as a character before the shortcut sees it. The
    // keys belong to the HOST page: on the other page they do nothing.
    for (const QKeySequence& keys : {QKeySequence(QKeySequence::Find), QKeySequence(Qt::Key_Slash)}) {
        auto* shortcut = new QShortcut(keys, m_window);
        connect(shortcut, &QShortcut::activated, this, &HostsPage::showFindBox);
        connect(m_tabStrip, &QTabWidget::currentChanged, shortcut, [shortcut](int tab) { shortcut->setEnabled(tab == 0); });
    }
    // Esc is the find box's only while the box is shown.
    connect(new QShortcut(QKeySequence(Qt::Key_Escape), m_findBox, nullptr, nullptr, Qt::WindowShortcut),
            &QShortcut::activated, this, &HostsPage::hideFindBox);
    // A reading makes other rows: the search runs again over them.
    connect(&m_hosts, &QAbstractItemModel::modelReset, this, [this] {
        m_foundText.clear(); // the rows found were other lines
        if (!m_findBox->text().isEmpty())
            startFilter(m_findBox->text());
    });
    m_findCount->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
}

void HostsPage::showFindBox()
{
    if (m_tabStrip->currentIndex() != 0)
        return;
    m_findBox->show();
    m_findCount->show();
    setPageHeight(m_pageHeight);
    m_findBox->setFocus(Qt::ShortcutFocusReason);
    m_findBox->selectAll();
}

void HostsPage::hideFindBox()
{
    m_findBox->clear(); // every row again, at the scroll position before the search
    m_findBox->hide();
    m_findCount->hide();
    setPageHeight(m_pageHeight);
}

void HostsPage::startFilter(const QString& text)
{
    m_filter.reset();
    m_filterTimer->stop();
    if (text.isEmpty()) {
        m_foundText.clear();
        m_rows->clearRowFilter();
        m_findCount->clear();
        return;
    }
    // A key typed on: only the rows in view can hold the longer text.
    const bool narrows =
        m_rows->isFiltered() && !m_foundText.isEmpty() && text.contains(m_foundText, Qt::CaseInsensitive);
    m_filter = std::make_unique<HostsFilter>(m_hosts, text, narrows ? &m_rows->filteredRows() : nullptr);
    m_filterText = text;
    filterStep(); // a short list is done at once
    if (m_filter)
        m_filterTimer->start(0);
}

void HostsPage::filterStep()
{
    // A long list is searched a few milliseconds at a time, so that typing goes on meanwhile;
    // each key starts the search anew.
    if (!m_filter)
        return;
    QElapsedTimer spent;
    spent.start();
    while (!m_filter->step(128 * 1024)) {
        if (spent.elapsed() >= 8)
            return;
    }
    m_filterTimer->stop();
    const std::unique_ptr<HostsFilter> done = std::move(m_filter);
    m_findCount->setText(
        QStringLiteral("%1 / %2").arg(grouped(qsizetype(done->rows().size())), grouped(m_hosts.rowCount())));
    m_rows->setRowFilter(done->rows());
    m_foundText = m_filterText;
    emit filterApplied();
}

void HostsPage::addSectionActions(QMenu& menu, int row)
{
    // The section is found again when an entry is chosen: the rows may have changed meanwhile.
    // Only a row that heads a section has them.
    const bool heads = !HostsSections::sectionRows(m_hosts, row).empty();
    for (const auto& [text, disabled] : {std::pair{"禁用本节(&D)", true}, std::pair{"启用本节(&E)", false}}) {
        if (!heads)
            break;
        QAction* action = menu.addAction(QString::fromUtf8(text));
        connect(action, &QAction::triggered, this, [this, row, disabled = disabled] {
            m_hosts.setDisabled(HostsSections::sectionRows(m_hosts, row), disabled);
        });
    }
    if (heads) {
        QAction* speed = menu.addAction(QStringLiteral("测速本节(&S)"));
        speed->setObjectName(QStringLiteral("speedSectionAction"));
        connect(speed, &QAction::triggered, this,
                [this, row] { openBlockSpeedTest(HostsSections::sectionRows(m_hosts, row)); });
    }
    if (!m_rows->isFiltered())
        return;
    QAction* speedFound = menu.addAction(QStringLiteral("测速筛选出的行"));
    speedFound->setObjectName(QStringLiteral("speedFoundAction"));
    connect(speedFound, &QAction::triggered, this, [this] {
        if (m_rows->isFiltered())
            openBlockSpeedTest(m_rows->filteredRows());
    });
    for (const auto& [text, disabled] :
         {std::pair{"禁用筛选出的行", true}, std::pair{"启用筛选出的行", false}}) {
        QAction* action = menu.addAction(QString::fromUtf8(text));
        connect(action, &QAction::triggered, this, [this, disabled = disabled] {
            if (m_rows->isFiltered())
                m_hosts.setDisabled(m_rows->filteredRows(), disabled);
        });
    }
}

ConnectPool* HostsPage::connectPool()
{
    if (!m_connectPool) {
        m_connectPool = new ConnectPool(m_options.connect, this);
        m_connectPool->setTlsChecker(m_options.tlsCheck);
    }
    return m_connectPool;
}

void HostsPage::openBlockSpeedTest(const std::vector<int>& rows)
{
    QList<BlockSpeedDialog::Row> block;
    for (const int row : rows) {
        if (row < 0 || row >= m_hosts.rowCount())
            continue;
        const HostsValues values = m_hosts.values(row);
        if (!values.host.trimmed().isEmpty())
            block.append({row, values.host.trimmed(), values.ip});
    }
    if (block.isEmpty())
        return;
    const Platform::NameService names = m_options.names.withSystemDefaults();
    auto* dialog = new BlockSpeedDialog(block, m_commonIps->stringList(), connectPool(), names.dns,
                                        m_options.speedTimeoutMs, m_window);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &BlockSpeedDialog::chosen, this,
            [this, block](const QHash<int, QString>& ipByRow, const QStringList& without) {
                // As if typed: the rows count as edited, nothing is saved until "保存文件". A row
                // whose host changed meanwhile is left alone.
                for (const BlockSpeedDialog::Row& r : block) {
                    if (!ipByRow.contains(r.row) || r.row >= m_hosts.rowCount())
                        continue;
                    HostsValues v = m_hosts.values(r.row);
                    if (v.host.trimmed() != r.host)
                        continue;
                    v.ip = ipByRow.value(r.row);
                    m_hosts.setValues(r.row, v);
                }
                if (!without.isEmpty())
                    MessageBox::show(m_window, QStringLiteral("没有可用的地址, IP 未改: ") +
                                               without.join(QStringLiteral(", ")));
            });
    dialog->open();
}
