#include "gui/FormMain.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    // The name, lower case and without an organisation, names the user's data folder of an
    // installed program: ~/.local/share/tarvix, %APPDATA%\tarvix.
    QApplication::setApplicationName(QStringLiteral("tarvix"));
    QApplication::setApplicationDisplayName(QStringLiteral("Tarvix"));
    QApplication::setApplicationVersion(QStringLiteral("1.00.0015"));
    QApplication::setDesktopFileName(QStringLiteral("tarvix"));

    FormMain window;
    window.show();
    return app.exec();
}
