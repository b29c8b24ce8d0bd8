#include "hosts/RowsView.h"

#include "app/Layout.h"
#include "hosts/HostsDocument.h"
#include "hosts/IpBox.h"

#include <QCheckBox>
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

} // namespace

RowsView::RowsView(HostsDocument* document, int top, QWidget* page)
    : QAbstractScrollArea(page), m_document(document), m_top(top)
{
    setObjectName(QStringLiteral("Rows"));
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    verticalScrollBar()->setSingleStep(Layout::toPixels(Layout::kRowPitch));
    viewport()->setAutoFillBackground(false);
}

void RowsView::setCommonIps(const QStringList& ips)
{
    m_ips = ips;
    for (Slot& slot : m_slots)
        slot.ip->setItems(m_ips); // shared, not copied: every row offers the same list
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

void RowsView::rowsChanged()
{
    const int rows = m_document->rowCount();
    const int pitch = Layout::toPixels(Layout::kRowPitch);
    const int contentHeight = rows == 0 ? 0 : contentTop(rows) + pitch + 4;
    QScrollBar* bar = verticalScrollBar();
    bar->setPageStep(viewport()->height());
    bar->setRange(0, qMax(0, contentHeight - viewport()->height()));
    bind();
}

void RowsView::scrollToRow(int row)
{
    const int top = contentTop(row);
    const int pitch = Layout::toPixels(Layout::kRowPitch);
    QScrollBar* bar = verticalScrollBar();
    if (top < bar->value())
        bar->setValue(top);
    else if (top + pitch > bar->value() + viewport()->height())
        bar->setValue(top + pitch - viewport()->height() + 4);
}

void RowsView::resizeEvent(QResizeEvent* event)
{
    QAbstractScrollArea::resizeEvent(event);
    rowsChanged(); // a taller view gets more slots
}

void RowsView::scrollContentsBy(int, int dy)
{
    viewport()->scroll(0, dy); // moves the row widgets with the picture; only new rows are bound
    bind();
}

bool RowsView::eventFilter(QObject* watched, QEvent* event)
{
    // The wheel scrolls the rows; it never changes the IP under the pointer.
    if (event->type() == QEvent::Wheel && watched->property(kRowWidget).toBool()) {
        QCoreApplication::sendEvent(verticalScrollBar(), event);
        return true;
    }
    return QAbstractScrollArea::eventFilter(watched, event);
}

void RowsView::ensureSlots()
{
    const int pitch = Layout::toPixels(Layout::kRowPitch);
    const size_t wanted = static_cast<size_t>(viewport()->height() / pitch + 2);
    while (m_slots.size() < wanted) {
        Slot slot;
        QWidget* vp = viewport();
        slot.disable = new QCheckBox(QString::fromUtf8(Layout::control("Check1(0)").caption), vp);
        slot.host = new QLineEdit(vp);
        slot.ip = new IpBox(vp);
        slot.ip->setItems(m_ips);
        slot.remove = new QCheckBox(QString::fromUtf8(Layout::control("Check2(0)").caption), vp);
        const size_t index = m_slots.size();
        QWidget* const widgets[] = {slot.disable, slot.host, slot.ip, slot.remove};
        for (QWidget* w : widgets) {
            w->installEventFilter(this);
            w->setProperty(kRowWidget, true);
            w->hide();
        }
        connect(slot.disable, &QCheckBox::toggled, this, [this, index] { edit(m_slots[index]); });
        connect(slot.host, &QLineEdit::textEdited, this, [this, index] { edit(m_slots[index]); });
        connect(slot.ip, &QLineEdit::textEdited, this, [this, index] { edit(m_slots[index]); });
        connect(slot.ip, &IpBox::itemChosen, this, [this, index] { edit(m_slots[index]); });
        connect(slot.remove, &QCheckBox::toggled, this, [this, index] {
            const Slot& s = m_slots[index];
            if (s.row > 0)
                m_document->setDeleted(s.row - 1, s.remove->isChecked());
        });
        m_slots.push_back(slot);
    }
}

void RowsView::bind()
{
    ensureSlots();
    const int pitch = Layout::toPixels(Layout::kRowPitch);
    const int scroll = verticalScrollBar()->value();
    // The first row whose band reaches into the view.
    const int first = qMax(1, (scroll + m_top + viewport()->y() - Layout::toPixels(Layout::kRowTop0)) / pitch);
    const int rows = m_document->rowCount();
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
}

void RowsView::reset()
{
    for (Slot& slot : m_slots)
        slot.row = -1; // rebind every slot: the rows hold other lines now
    rowsChanged();
}

void RowsView::bindSlot(Slot& slot, int row)
{
    QWidget* const widgets[] = {slot.disable, slot.host, slot.ip, slot.remove};
    if (row == 0) {
        if (slot.row == 0)
            return;
        for (QWidget* w : widgets)
            w->hide();
        slot.disable->setObjectName(QString());
        slot.host->setObjectName(QString());
        slot.ip->setObjectName(QString());
        slot.remove->setObjectName(QString());
        slot.row = 0;
        return;
    }
    // A row's controls take the template row's columns and sizes, in pixels.
    static const QRect columns[] = {templateRect("Check1(0)"), templateRect("Text1(0)"),
                                    templateRect("Combo1(0)"), templateRect("Check2(0)")};
    const int y = contentTop(row) - verticalScrollBar()->value();
    const int dx = x() + viewport()->x(); // the viewport's own left inside the page
    for (int k = 0; k < 4; ++k)
        widgets[k]->setGeometry(columns[k].x() - dx, y, columns[k].width(), columns[k].height());

    if (slot.row != row) {
        slot.row = row;
        const HostsValues values = m_document->values(row - 1);
        const QSignalBlocker b1(slot.disable), b2(slot.host), b3(slot.ip), b4(slot.remove);
        slot.disable->setChecked(values.disabled);
        slot.host->setText(values.host);
        slot.host->setCursorPosition(0);
        slot.ip->setText(values.ip);
        slot.ip->setCursorPosition(0);
        slot.remove->setChecked(m_document->isDeleted(row - 1));
        const QString index = QStringLiteral("(%1)").arg(row);
        slot.disable->setObjectName(QStringLiteral("Check1") + index);
        slot.host->setObjectName(QStringLiteral("Text1") + index);
        slot.ip->setObjectName(QStringLiteral("Combo1") + index);
        slot.remove->setObjectName(QStringLiteral("Check2") + index);
    }
    for (QWidget* w : widgets)
        w->show();
}

void RowsView::edit(const Slot& slot)
{
    if (slot.row == 0)
        return;
    HostsValues values;
    values.disabled = slot.disable->isChecked();
    values.ip = slot.ip->text();
    values.host = slot.host->text();
    m_document->setValues(slot.row - 1, values);
}
