// Opens the window with a large Ping.txt and shows the batch tab: the time from the window's
// creation until the tab has been painted, and what the log says. One line of output for each
// size given in bytes: a file of one line that long (1 MB and 8 MB by default), or, with a
// leading "x", a file of that many bytes in lines of "127.0.0.1".
//   build/default/bench/bench_queue [bytes | xbytes ...]
#include "gui/FormMain.h"
#include "gui/MessageBox.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QListWidget>
#include <QTabWidget>
#include <QTemporaryDir>

#include <cstdio>

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    MessageBox::setHandler([](QWidget*, const QString&) {});
    QList<QByteArray> sizes;
    for (int i = 1; i < argc; ++i)
        sizes << QByteArray(argv[i]);
    if (sizes.isEmpty())
        sizes = {"1000000", "8000000"};
    for (const QByteArray& arg : sizes) {
        const bool lines = arg.startsWith('x');
        const qint64 size = arg.mid(lines ? 1 : 0).toLongLong();
        const QByteArray bytes =
            lines ? QByteArray("127.0.0.1\r\n").repeated(size / 11) : QByteArray(size, 'a') + "\r\n";
        QTemporaryDir dir;
        QFile ping(dir.filePath(QStringLiteral("Ping.txt")));
        if (!ping.open(QIODevice::WriteOnly) || ping.write(bytes) != bytes.size())
            return 1;
        ping.close();
        FormMainOptions options;
        options.hosts.hostsPath = dir.filePath(QStringLiteral("hosts"));
        options.executableDir = dir.path();
        QElapsedTimer timer;
        timer.start();
        FormMain form(options);
        form.show();
        form.findChild<QTabWidget*>(QStringLiteral("TabStrip1"))->setCurrentIndex(1);
        QCoreApplication::processEvents();
        form.grab(); // paints the batch tab, the task box with it
        const auto* log = form.findChild<QListWidget*>(QStringLiteral("ListLog"));
        std::printf(
            "Ping.txt of %lld bytes in %s: batch tab shown after %lld ms, queue %lld characters, log: %s\n",
            static_cast<long long>(bytes.size()), lines ? "short lines" : "one line",
            static_cast<long long>(timer.elapsed()), static_cast<long long>(form.queueText().size()),
            log->count() > 0 ? qPrintable(log->item(0)->text()) : "(empty)");
    }
    return 0;
}
