#pragma once

#include <QComboBox>

class QAbstractItemModel;

// The IP box of an entry row: an editable combo box whose list is the common IP list. Every box
// shows the one list model it is given, so a box costs the same however long the list is, and
// the list opens as one scrolling column under the box. The text need not be in the list.
class IpBox : public QComboBox
{
    Q_OBJECT

public:
    IpBox(QAbstractItemModel* commonIps, QWidget* parent = nullptr);

    // Shows ip as the box's text without choosing an item.
    void setIp(const QString& ip);
    QString ip() const { return currentText(); }

signals:
    // The user typed, chose an item from the list or stepped to one with Up or Down.
    void ipEdited();

protected:
    void keyPressEvent(QKeyEvent* event) override;
};
