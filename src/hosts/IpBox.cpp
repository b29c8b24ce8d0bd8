#include "hosts/IpBox.h"

#include <QAction>
#include <QKeyEvent>
#include <QMenu>
#include <QStyle>

IpBox::IpBox(QWidget* parent) : QLineEdit(parent)
{
    static const QIcon arrow = style()->standardIcon(QStyle::SP_ArrowDown);
    QAction* drop = addAction(arrow, QLineEdit::TrailingPosition);
    drop->setToolTip(QStringLiteral("常用IP"));
    connect(drop, &QAction::triggered, this, &IpBox::showList);
}

void IpBox::showList()
{
    if (m_items.isEmpty())
        return;
    QMenu menu(this);
    menu.setMinimumWidth(width());
    for (const QString& item : m_items)
        menu.addAction(item.isEmpty() ? QStringLiteral(" ") : item)->setData(item);
    if (const QAction* chosen = menu.exec(mapToGlobal(QPoint(0, height())))) {
        const QString text = chosen->data().toString();
        setText(text);
        emit itemChosen(text);
    }
}

void IpBox::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_F4
        || (event->key() == Qt::Key_Down && (event->modifiers() & Qt::AltModifier))) {
        showList();
        return;
    }
    QLineEdit::keyPressEvent(event);
}
