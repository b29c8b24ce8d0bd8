#include "gui/IpBox.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QListView>

IpBox::IpBox(QAbstractItemModel* commonIps, QWidget* parent) : QComboBox(parent)
{
    setEditable(true);
    setInsertPolicy(QComboBox::NoInsert);
    setCompleter(nullptr); // typed text stays as typed
    // The default policy measures every item of the list for the size hint.
    setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    setMinimumContentsLength(8);
    setModel(commonIps);
    if (auto* list = qobject_cast<QListView*>(view()))
        list->setUniformItemSizes(true); // a long list opens without measuring each item
    setCurrentIndex(-1);
    connect(lineEdit(), &QLineEdit::textEdited, this, &IpBox::ipEdited);
    connect(this, &QComboBox::activated, this, &IpBox::ipEdited);
}

void IpBox::setIp(const QString& ip)
{
    setCurrentIndex(-1);
    setEditText(ip);
    lineEdit()->setCursorPosition(0);
}

void IpBox::keyPressEvent(QKeyEvent* event)
{
    // Up and Down step from the item that the text names, typed or read from the file.
    const bool step = (event->key() == Qt::Key_Up || event->key() == Qt::Key_Down)
                      && !(event->modifiers() & Qt::AltModifier);
    if (step && (currentIndex() < 0 || itemText(currentIndex()) != currentText())) {
        const QString text = currentText();
        const int found = findText(text, Qt::MatchFixedString | Qt::MatchCaseSensitive);
        if (found >= 0) {
            const QSignalBlocker blocker(this);
            setCurrentIndex(found);
        } else {
            setCurrentIndex(-1);
            setEditText(text);
        }
    }
    QComboBox::keyPressEvent(event);
}
