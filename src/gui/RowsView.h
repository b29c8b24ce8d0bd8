#pragma once

#include <QAbstractScrollArea>

#include <vector>

class HostsDocument;
class IpBox;
class QAbstractItemModel;
class QCheckBox;
class QLineEdit;

// The entry rows of the HOST page. The rows are data in a HostsDocument; only the rows in view
// have widgets, a small pool that is bound to whichever rows the scroll position shows, and the
// view follows the document's changes by itself. Row i (from 1) stands at the Top that the
// layout gives it inside the page, shifted only by scrolling, which the page needs only when
// the window is as tall as the screen allows.
class RowsView : public QAbstractScrollArea
{
    Q_OBJECT

public:
    // top: where the view starts inside the page, in pixels. The view is a child of the page;
    // commonIps is the list that every IP box offers.
    RowsView(HostsDocument* document, QAbstractItemModel* commonIps, int top, QWidget* page);

    // Sets the page height in pixels; the view fills the page below its top.
    void setPageHeight(int height);

    void scrollToRow(int row);

    // Tab goes from before to the first row in view, then along the rows in order.
    void setTabPredecessor(QWidget* before)
    {
        m_before = before;
        m_tabLast = -1; // ordered anew at the next binding
    }

protected:
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    bool viewportEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Slot
    {
        QCheckBox* disable = nullptr;
        QLineEdit* host = nullptr;
        IpBox* ip = nullptr;
        QCheckBox* remove = nullptr;
        int row = 0; // bound row from 1; 0 = unused, -1 = to be bound anew
    };

    int contentTop(int row) const;
    void updateScrollRange();
    void ensureSlots();
    void bind();
    void bindSlot(Slot& slot, int row);
    void showValues(Slot& slot);
    void rebindAll();
    void refreshRows(int first, int last);
    void storeEdit(const Slot& slot);
    void orderTabStops(int first, int last);

    HostsDocument* m_document;
    QAbstractItemModel* m_commonIps;
    int m_top;
    QWidget* m_before = nullptr;
    // The rows and pool size of the last tab order set: scrolling within them changes nothing.
    int m_tabFirst = 0, m_tabLast = -1;
    size_t m_tabSlots = 0;
    std::vector<Slot> m_slots;
};
