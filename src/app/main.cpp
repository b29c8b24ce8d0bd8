#include "gui/FormMain.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tarvix"));
    QApplication::setApplicationDisplayName(QStringLiteral("Tarvix"));
    QApplication::setApplicationVersion(QStringLiteral("1.00.0015"));
    QApplication::setOrganizationName(QStringLiteral("Tarvix"));
    QApplication::setDesktopFileName(QStringLiteral("tarvix"));

    FormMain window;
    window.show();
    return app.exec();
}
