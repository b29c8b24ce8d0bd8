#pragma once

#include <QLineEdit>
#include <QStringList>

class QAction;

// The IP box of an entry row: an editable text with a drop-down list of the common IPs, as a
// combo box offers, built on a line edit because a screenful of rows needs fifty of them and a
// QComboBox costs ten times as much to create. The arrow button, Alt+Down and F4 open the
// list; choosing an item puts its text in the box.
class IpBox : public QLineEdit
{
    Q_OBJECT

public:
    explicit IpBox(QWidget* parent = nullptr);

    void setItems(const QStringList& items) { m_items = items; }
    QStringList items() const { return m_items; }
    int count() const { return static_cast<int>(m_items.size()); }

    // Shows the list below the box; does nothing when it is empty.
    void showList();

signals:
    // The user chose an item from the list; the box's text is already set.
    void itemChosen(const QString& text);

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    QStringList m_items;
};
