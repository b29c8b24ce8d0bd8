#include "core/hosts/HostsWriter.h"
#include "gui/FormMain.h"
#include "platform/ElevatedWriter.h"
#include "platform/Platform.h"

#include <QApplication>

namespace {

bool namesPlatform(int argc, char* argv[])
{
    for (int i = 1; i < argc; ++i) {
        if (qstrcmp(argv[i], "-platform") == 0)
            return true;
    }
    return qEnvironmentVariableIsSet("QT_QPA_PLATFORM");
}

} // namespace

int main(int argc, char* argv[])
{
    // Started by the window through the UAC prompt to save the hosts file: no window, no Qt
    // application, only the save.
    if (ElevatedWriter::isWriterMode(argc, argv))
        return ElevatedWriter::runWriter(argc, argv, HostsWriter::writeFromFrame);
    const QByteArray platform = Platform::preferredQpaPlatform();
    if (!platform.isEmpty() && !namesPlatform(argc, argv))
        qputenv("QT_QPA_PLATFORM", platform);
    int exitCode = 0;
    {
        QApplication app(argc, argv);
        Platform::raiseFileLimit(); // every ping of a large batch is watched through a descriptor
        // The name, lower case and without an organisation, names the user's data folder of an
        // installed program: ~/.local/share/tarvix, %APPDATA%\tarvix.
        QApplication::setApplicationName(QStringLiteral("tarvix"));
        QApplication::setApplicationDisplayName(QStringLiteral("Tarvix"));
        QApplication::setApplicationVersion(QStringLiteral("1.00.0015"));
        QApplication::setDesktopFileName(QStringLiteral("tarvix"));

        FormMain window;
        window.show();
        exitCode = app.exec();
    }
    return Platform::endProcess(exitCode);
}
