#pragma once

#include <QAbstractScrollArea>
#include <QStringList>

#include <vector>

class HostsDocument;
class QCheckBox;
class IpBox;
class QLineEdit;

// The entry rows of the HOST page. The rows are data in a HostsDocument; only the rows in view
// have widgets, a small pool that is bound to whichever rows the scroll position shows. Row i
// (from 1) stands at the Top that the layout gives it inside the page, shifted only by
// scrolling, which the page needs only when the window is as tall as the screen allows.
class RowsView : public QAbstractScrollArea
{
    Q_OBJECT

public:
    // top: where the view starts inside the page, in pixels. The view is a child of the page.
    RowsView(HostsDocument* document, int top, QWidget* page);

    // The list that every IP box offers; each pooled box takes it once.
    void setCommonIps(const QStringList& ips);

    // Call after rows were added to the document.
    void rowsChanged();
    // Call after the document was read anew: every row may hold another line.
    void reset();

    // Sets the page height in pixels; the view fills the page below its top.
    void setPageHeight(int height);

    void scrollToRow(int row);

protected:
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
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
    void ensureSlots();
    void bind();
    void bindSlot(Slot& slot, int row);
    void edit(const Slot& slot);

    HostsDocument* m_document;
    int m_top;
    QStringList m_ips;
    std::vector<Slot> m_slots;
};
