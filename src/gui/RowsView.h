#pragma once

#include <QAbstractScrollArea>

#include <vector>

class DeadLines;
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

    void scrollToRow(int row); // a row in view, from 1

    // Shows only the given 0-based rows of the document, in that order; the first time, the
    // scroll position is kept for clearRowFilter(). A reset of the document empties the list
    // until the next one is given: its rows are other lines now.
    void setRowFilter(std::vector<int> rows);
    // Shows every row again, at the scroll position before the filter.
    void clearRowFilter();
    bool isFiltered() const { return m_filtered; }
    const std::vector<int>& filteredRows() const { return m_filter; }
    int viewRowCount() const;

    // Tab goes from before to the first row in view, then along the rows in order.
    void setTabPredecessor(QWidget* before)
    {
        m_before = before;
        m_tabLast = -1; // ordered anew at the next binding
    }

    // Marks the host box of each row in view that dead names as never used: grey text, and a
    // tooltip that says why.
    void setDeadLines(const DeadLines* dead);

signals:
    // Over any of a row's controls: the context menu (right button, menu key), and Ctrl+T.
    // row is the document's row, from 0.
    void rowMenuRequested(int row, const QPoint& globalPos);
    void speedTestRequested(int row);

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
        int row = 0; // bound row in view, from 1; 0 = unused, -1 = to be bound anew
    };

    int documentRow(int viewRow) const; // from 1; 0-based, as the document counts
    int contentTop(int row) const;
    void updateScrollRange();
    void ensureSlots();
    void bind();
    void bindSlot(Slot& slot, int row);
    void showValues(Slot& slot);
    void showMark(Slot& slot);
    void showMarks();
    int rowOf(QObject* widget) const; // from 0; -1 if widget is not bound to a row
    void rebindAll();
    void refreshRows(int first, int last);
    enum class Field { Disabled, Ip, Host };
    void storeEdit(const Slot& slot, Field field);
    void orderTabStops(int first, int last);

    HostsDocument* m_document;
    QAbstractItemModel* m_commonIps;
    int m_top;
    QWidget* m_before = nullptr;
    const DeadLines* m_dead = nullptr;
    // The rows and pool size of the last tab order set: scrolling within them changes nothing.
    int m_tabFirst = 0, m_tabLast = -1;
    size_t m_tabSlots = 0;
    std::vector<Slot> m_slots;
    bool m_filtered = false;
    std::vector<int> m_filter; // the document rows in view when filtered
    int m_unfilteredScroll = 0;
};
