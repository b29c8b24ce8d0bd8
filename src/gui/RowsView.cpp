#include "gui/RowsView.h"

#include "core/app/Layout.h"
#include "core/hosts/DeadLines.h"
#include "core/hosts/HostsDocument.h"
#include "gui/IpBox.h"

#include <QCheckBox>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QLineEdit>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QWheelEvent>

namespace {

// Marks the pooled widgets whose wheel events the view takes over.
const char* const kRowWidget = "tarvixRowWidget";

QRect templateRect(const char* name)
{
    const Layout::Control& c = Layout::control(name);
    return QRect(Layout::toPixels(c.left), 0, Layout::toPixels(c.width), Layout::toPixels(c.height));
}

int pitch()
{
    return Layout::toPixels(Layout::kRowPitch);
}

} // namespace

RowsView::RowsView(HostsDocument* document, QAbstractItemModel* commonIps, int top, QWidget* page)
    : QAbstractScrollArea(page), m_document(document), m_commonIps(commonIps), m_top(top)
{
    setObjectName(QStringLiteral("Rows"));
    setAccessibleName(QStringLiteral("HOST条目"));
    setFrameShape(QFrame::NoFrame);
    // The rows' own widgets take the keyboard; the area around them is no stop of its own.
    setFocusPolicy(Qt::NoFocus);
    viewport()->setFocusPolicy(Qt::NoFocus);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    verticalScrollBar()->setSingleStep(pitch());
    viewport()->setAutoFillBackground(false);

    connect(m_document, &QAbstractItemModel::modelReset, this, [this] {
        m_filter.clear(); // the rows it named are other lines now
        rebindAll();
    });
    connect(m_document, &QAbstractItemModel::rowsInserted, this, [this] {
        updateScrollRange();
        bind();
    });
    connect(m_document, &QAbstractItemModel::dataChanged, this,
            [this](const QModelIndex& first, const QModelIndex& last) { refreshRows(first.row(), last.row()); });
}

int RowsView::viewRowCount() const
{
    return m_filtered ? static_cast<int>(m_filter.size()) : m_document->rowCount();
}

int RowsView::documentRow(int viewRow) const
{
    return m_filtered ? m_filter[static_cast<size_t>(viewRow - 1)] : viewRow - 1;
}

void RowsView::setRowFilter(std::vector<int> rows)
{
    if (!m_filtered)
        m_unfilteredScroll = verticalScrollBar()->value();
    m_filtered = true;
    m_filter = std::move(rows);
    rebindAll();
    verticalScrollBar()->setValue(0);
}

void RowsView::clearRowFilter()
{
    if (!m_filtered)
        return;
    m_filtered = false;
    m_filter.clear();
    rebindAll();
    verticalScrollBar()->setValue(m_unfilteredScroll);
}

void RowsView::setPageHeight(int height)
{
    // The page's border stays visible below the view.
    setGeometry(x(), m_top, width(), qMax(0, height - m_top - 2));
}

int RowsView::contentTop(int row) const
{
    // Row positions are those of the page, moved into the viewport's own coordinates.
    return Layout::toPixels(Layout::rowTop(row)) - m_top - viewport()->y();
}

void RowsView::updateScrollRange()
{
    const int rows = viewRowCount();
    const int contentHeight = rows == 0 ? 0 : contentTop(rows) + pitch() + 4;
    QScrollBar* bar = verticalScrollBar();
    bar->setPageStep(viewport()->height());
    bar->setRange(0, qMax(0, contentHeight - viewport()->height()));
}

void RowsView::scrollToRow(int row)
{
    const int top = contentTop(row);
    QScrollBar* bar = verticalScrollBar();
    if (top < bar->value())
        bar->setValue(top);
    else if (top + pitch() > bar->value() + viewport()->height())
        bar->setValue(top + pitch() - viewport()->height() + 4);
}

void RowsView::resizeEvent(QResizeEvent* event)
{
    QAbstractScrollArea::resizeEvent(event);
    updateScrollRange();
    bind(); // a taller view gets more slots
}

bool RowsView::viewportEvent(QEvent* event)
{
    const bool handled = QAbstractScrollArea::viewportEvent(event);
    if (event->type() == QEvent::Resize || event->type() == QEvent::Show)
        bind(); // shown, or the scroll bar came or went: the columns follow the viewport's right edge
    return handled;
}

void RowsView::scrollContentsBy(int, int dy)
{
    viewport()->scroll(0, dy); // moves the row widgets with the picture; only new rows are bound
    bind();
}

bool RowsView::eventFilter(QObject* watched, QEvent* event)
{
    // The wheel scrolls the rows; it never changes the IP or text under the pointer.
    if (event->type() == QEvent::Wheel && watched->property(kRowWidget).toBool()) {
        QCoreApplication::sendEvent(verticalScrollBar(), event);
        return true;
    }
    if (event->type() == QEvent::ContextMenu && watched->property(kRowWidget).toBool()) {
        const int row = rowOf(watched);
        if (row >= 0) {
            emit rowMenuRequested(row, static_cast<QContextMenuEvent*>(event)->globalPos());
            return true;
        }
    }
    if (event->type() == QEvent::KeyPress && watched->property(kRowWidget).toBool()) {
        const auto* key = static_cast<QKeyEvent*>(event);
        const int row = rowOf(watched);
        if (key->key() == Qt::Key_T && key->modifiers() == Qt::ControlModifier && row >= 0) {
            emit speedTestRequested(row);
            return true;
        }
    }
    return QAbstractScrollArea::eventFilter(watched, event);
}

int RowsView::rowOf(QObject* widget) const
{
    for (const Slot& slot : m_slots) {
        if (slot.row > 0
            && (widget == slot.disable || widget == slot.host || widget == slot.ip || widget == slot.ip->lineEdit()
                || widget == slot.remove))
            return documentRow(slot.row);
    }
    return -1;
}

void RowsView::setDeadLines(const DeadLines* dead)
{
    m_dead = dead;
    connect(dead, &DeadLines::changed, this, &RowsView::showMarks);
    showMarks();
}

void RowsView::showMarks()
{
    for (Slot& slot : m_slots) {
        if (slot.row > 0)
            showMark(slot);
    }
}

void RowsView::showMark(Slot& slot)
{
    const QString reason = m_dead ? m_dead->reason(documentRow(slot.row)) : QString();
    if (slot.host->toolTip() == reason)
        return;
    // The row's two text boxes, host and IP, are greyed; its check boxes keep their look.
    QPalette palette = slot.host->parentWidget()->palette();
    if (!reason.isEmpty())
        palette.setColor(QPalette::Text, palette.color(QPalette::Disabled, QPalette::Text));
    for (QWidget* box : {static_cast<QWidget*>(slot.host), static_cast<QWidget*>(slot.ip)}) {
        box->setToolTip(reason);
        box->setProperty("deadLine", !reason.isEmpty());
        box->setPalette(palette);
    }
}

void RowsView::ensureSlots()
{
    const size_t wanted = static_cast<size_t>(viewport()->height() / pitch() + 2);
    while (m_slots.size() < wanted) {
        Slot slot;
        QWidget* vp = viewport();
        slot.disable = new QCheckBox(QString::fromUtf8(Layout::control("Check1(0)").caption), vp);
        slot.host = new QLineEdit(vp);
        slot.ip = new IpBox(m_commonIps, vp);
        slot.remove = new QCheckBox(QString::fromUtf8(Layout::control("Check2(0)").caption), vp);
        QWidget* const widgets[] = {slot.disable, slot.host, slot.ip, slot.remove};
        for (QWidget* w : widgets)
            w->hide();
        // The IP box's text part sees the wheel first.
        for (QWidget* w : {widgets[0], widgets[1], widgets[2], widgets[3], static_cast<QWidget*>(slot.ip->lineEdit())}) {
            w->installEventFilter(this);
            w->setProperty(kRowWidget, true);
        }
        const size_t index = m_slots.size();
        auto store = [this, index](Field field) { storeEdit(m_slots[index], field); };
        connect(slot.disable, &QCheckBox::toggled, this, [store] { store(Field::Disabled); });
        connect(slot.host, &QLineEdit::textEdited, this, [store] { store(Field::Host); });
        connect(slot.ip, &IpBox::ipEdited, this, [store] { store(Field::Ip); });
        connect(slot.remove, &QCheckBox::toggled, this, [this, index] {
            const Slot& s = m_slots[index];
            if (s.row > 0)
                m_document->setDeleted(documentRow(s.row), s.remove->isChecked());
        });
        m_slots.push_back(slot);
    }
}

void RowsView::bind()
{
    ensureSlots();
    const int scroll = verticalScrollBar()->value();
    // The first row whose band reaches into the view.
    const int first = qMax(1, (scroll + m_top + viewport()->y() - Layout::toPixels(Layout::kRowTop0)) / pitch());
    const int rows = viewRowCount();
    // Row r always uses slot r % n, so scrolling by a row rebinds one slot, not all of them.
    const int n = static_cast<int>(m_slots.size());
    std::vector<bool> used(m_slots.size(), false);
    for (int row = first; row < first + n && row <= rows; ++row) {
        used[static_cast<size_t>(row % n)] = true;
        bindSlot(m_slots[static_cast<size_t>(row % n)], row);
    }
    for (int k = 0; k < n; ++k) {
        if (!used[static_cast<size_t>(k)])
            bindSlot(m_slots[static_cast<size_t>(k)], 0);
    }
    orderTabStops(first, qMin(rows, first + n - 1));
}

void RowsView::orderTabStops(int first, int last)
{
    const size_t n = m_slots.size();
    if (first == m_tabFirst && last == m_tabLast && n == m_tabSlots)
        return;
    m_tabFirst = first;
    m_tabLast = last;
    m_tabSlots = n;
    // The pool's widgets were created in slot order, not row order.
    QWidget* previous = m_before;
    for (int row = first; row <= last; ++row) {
        const Slot& slot = m_slots[static_cast<size_t>(row) % n];
        for (QWidget* w : {static_cast<QWidget*>(slot.disable), static_cast<QWidget*>(slot.host),
                           static_cast<QWidget*>(slot.ip), static_cast<QWidget*>(slot.remove)}) {
            if (previous)
                QWidget::setTabOrder(previous, w);
            previous = w;
        }
    }
}

void RowsView::rebindAll()
{
    for (Slot& slot : m_slots)
        slot.row = -1; // every row may hold another line now
    updateScrollRange();
    bind();
}

void RowsView::refreshRows(int first, int last)
{
    for (Slot& slot : m_slots) {
        if (slot.row <= 0)
            continue;
        const int row = documentRow(slot.row);
        if (row >= first && row <= last)
            showValues(slot);
    }
}

void RowsView::bindSlot(Slot& slot, int row)
{
    QWidget* const widgets[] = {slot.disable, slot.host, slot.ip, slot.remove};
    if (row == 0) {
        if (slot.row == 0)
            return;
        for (QWidget* w : widgets) {
            w->hide();
            w->setObjectName(QString());
        }
        slot.row = 0;
        return;
    }
    // A row's controls take the template row's columns and sizes, in pixels.
    static const QRect columns[] = {templateRect("Check1(0)"), templateRect("Text1(0)"),
                                    templateRect("Combo1(0)"), templateRect("Check2(0)")};
    const int y = contentTop(row) - verticalScrollBar()->value();
    const int dx = x() + viewport()->x(); // the viewport's own left inside the page
    // The "删" box is as wide as its caption needs (more than its column where the scale makes
    // the font wider). Where that, or the rows' scroll bar, reaches past the right of the view,
    // the IP box and the "删" box move left by as much and the host box gives it up, so that
    // nothing covers a caption. Until the view is shown its viewport has no width to go by.
    const int removeWidth = qMax(columns[3].width(), slot.remove->sizeHint().width());
    const int covered =
        isVisible() ? qMax(0, columns[3].x() + removeWidth - dx - viewport()->width()) : 0;
    const int shift[] = {0, 0, covered, covered};
    const int width[] = {columns[0].width(), columns[1].width() - covered, columns[2].width(), removeWidth};
    for (int k = 0; k < 4; ++k)
        widgets[k]->setGeometry(columns[k].x() - dx - shift[k], y, width[k], columns[k].height());

    if (slot.row != row) {
        slot.row = row;
        showValues(slot);
        showMark(slot);
        const QString index = QStringLiteral("(%1)").arg(row);
        slot.disable->setObjectName(QStringLiteral("Check1") + index);
        slot.host->setObjectName(QStringLiteral("Text1") + index);
        slot.ip->setObjectName(QStringLiteral("Combo1") + index);
        slot.remove->setObjectName(QStringLiteral("Check2") + index);
        // What a screen reader says of each control: the line and the column.
        const QString line = QStringLiteral("第%1行 ").arg(row);
        slot.disable->setAccessibleName(line + QStringLiteral("禁用"));
        slot.host->setAccessibleName(line + QStringLiteral("主机名"));
        // Qt on Linux reads an editable combo box by its text: its edit field carries the name.
        slot.ip->setAccessibleName(line + QStringLiteral("IP"));
        slot.ip->lineEdit()->setAccessibleName(line + QStringLiteral("IP"));
        slot.remove->setAccessibleName(line + QStringLiteral("删"));
    }
    for (QWidget* w : widgets)
        w->show();
}

void RowsView::showValues(Slot& slot)
{
    // Only what differs is set: an edit that the document reports back leaves the cursor of
    // the box being typed in where it is.
    const int row = documentRow(slot.row);
    const HostsValues values = m_document->values(row);
    const QSignalBlocker b1(slot.disable), b2(slot.host), b3(slot.ip), b4(slot.remove);
    slot.disable->setChecked(values.disabled);
    if (slot.host->text() != values.host) {
        slot.host->setText(values.host);
        slot.host->setCursorPosition(0);
    }
    if (slot.ip->ip() != values.ip)
        slot.ip->setIp(values.ip);
    slot.remove->setChecked(m_document->isDeleted(row));
}

void RowsView::storeEdit(const Slot& slot, Field field)
{
    if (slot.row <= 0)
        return;
    // Only the edited box is taken from its widget: a box holds at most 32,767 characters, and
    // a longer word that the user did not touch keeps the document's value and its bytes.
    HostsValues values = m_document->values(documentRow(slot.row));
    switch (field) {
    case Field::Disabled:
        values.disabled = slot.disable->isChecked();
        break;
    case Field::Ip:
        values.ip = slot.ip->ip();
        break;
    case Field::Host:
        values.host = slot.host->text();
        break;
    }
    m_document->setValues(documentRow(slot.row), values);
}
