#pragma once

#include <QString>

#include <functional>

class QWidget;

// The program's message box: modal, an OK button only, no icon, caption "Tarvix". Tests replace
// it with a handler that records the text instead of blocking on a dialog.
namespace MessageBox {

using Handler = std::function<void(QWidget* parent, const QString& text)>;

void show(QWidget* parent, const QString& text);

// Replaces the dialog by handler; an empty handler brings the dialog back.
void setHandler(Handler handler);

} // namespace MessageBox
