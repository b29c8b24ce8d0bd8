#include "gui/MessageBox.h"

#include <QMessageBox>

namespace {

MessageBox::Handler& handler()
{
    static MessageBox::Handler h;
    return h;
}

} // namespace

namespace MessageBox {

void show(QWidget* parent, const QString& text)
{
    if (handler()) {
        handler()(parent, text);
        return;
    }
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Tarvix"), text, QMessageBox::Ok, parent);
    box.exec();
}

void setHandler(Handler h)
{
    handler() = std::move(h);
}

} // namespace MessageBox
