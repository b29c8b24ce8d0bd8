// Types into the find box of a window that holds a hosts file of 1,000,000 lines (the offscreen
// platform) and measures, for each key, the time until the rows that hold the text are in view
// and painted, and the longest time the event loop went without turning meanwhile (the window
// takes input between the steps of a search).
//   build/default/bench/bench_find            1,000,000 lines
//   build/default/bench/bench_find 250000     another size
#include "gui/FormMain.h"
#include "gui/MessageBox.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <ctime>

namespace {

struct KeyTime
{
    double ms = 0;
    double cpuMs = 0; // the process's processor time: what the key cost on a machine of its own
    double longestPauseMs = 0;
};

// One key into the box, then the event loop until the rows are in view and painted.
KeyTime typeKey(FormMain& form, QLineEdit* box, QKeyEvent& key)
{
    bool applied = false;
    const QMetaObject::Connection c = QObject::connect(&form.hostsPage(), &HostsPage::filterApplied, [&] { applied = true; });
    QElapsedTimer timer, sinceTurn;
    KeyTime t;
    const std::clock_t cpu = std::clock();
    timer.start();
    sinceTurn.start();
    QCoreApplication::sendEvent(box, &key);
    while (!applied) {
        t.longestPauseMs = qMax(t.longestPauseMs, sinceTurn.nsecsElapsed() / 1e6);
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        sinceTurn.restart();
    }
    form.repaint(); // the rows in view, painted
    t.ms = timer.nsecsElapsed() / 1e6;
    t.cpuMs = double(std::clock() - cpu) * 1000.0 / CLOCKS_PER_SEC;
    QObject::disconnect(c);
    return t;
}

} // namespace

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int lines = argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : 1000000;
    QTemporaryDir dir;
    const QString hosts = dir.filePath(QStringLiteral("hosts"));
    {
        QFile f(hosts);
        f.open(QIODevice::WriteOnly);
        QByteArray bytes;
        bytes.reserve(qsizetype(lines) * 40);
        for (int i = 0; i < lines; ++i) {
            if (i % 40 == 0)
                bytes += "# tracker group " + QByteArray::number(i / 40) + "\r\n";
            bytes += "0.0.0.0 ads" + QByteArray::number(i) + ".tracker.example.com\r\n";
        }
        f.write(bytes);
    }
    MessageBox::setHandler([](QWidget*, const QString&) {});
    FormMainOptions options;
    options.hosts.hostsPath = hosts;
    options.executableDir = dir.path();
    options.encoding = "UTF-8";
    options.maxWindowHeight = 16200; // a 1080-pixel screen
    FormMain form(options);
    form.show();
    QCoreApplication::processEvents();
    form.hostsPage().showFindBox();
    auto* box = form.findChild<QLineEdit*>(QStringLiteral("TextFind"));
    auto* count = form.findChild<QLabel*>(QStringLiteral("LabelFind"));

    std::printf("%d rows\n%-14s %10s %8s %12s  %s\n", form.hosts().rowCount(), "text", "key(ms)", "cpu(ms)",
                "pause(ms)", "count");
    // Each text is typed a key at a time into an empty box; "0" matches every entry, "ADS" in
    // capitals, "谷歌" nothing, "é" has a case outside ASCII (every line is read as text).
    for (const QString& text : {QStringLiteral("ads99999"), QStringLiteral("0"), QStringLiteral("ADS"),
                                QStringLiteral("谷歌"), QStringLiteral("é")}) {
        box->clear();
        QCoreApplication::processEvents();
        QString typed;
        for (const QChar c : text) {
            typed += c;
            QKeyEvent key(QEvent::KeyPress, c.toUpper().unicode() < 0x80 ? c.toUpper().unicode() : 0, Qt::NoModifier,
                          QString(c));
            const KeyTime t = typeKey(form, box, key);
            std::printf("%-14s %10.1f %8.1f %12.1f  %s\n", qPrintable(typed), t.ms, t.cpuMs, t.longestPauseMs,
                        qPrintable(count->text()));
        }
    }
    // Backspace from "ads99999" to "a": each key widens the search again.
    box->setText(QStringLiteral("ads99999"));
    while (form.findChild<QLabel*>(QStringLiteral("LabelFind"))->text().isEmpty())
        QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    for (int i = 0; i < 7; ++i) {
        QKeyEvent key(QEvent::KeyPress, Qt::Key_Backspace, Qt::NoModifier);
        const KeyTime t = typeKey(form, box, key);
        std::printf("%-14s %10.1f %8.1f %12.1f  %s\n", qPrintable(QStringLiteral("<-") + box->text()), t.ms, t.cpuMs,
                    t.longestPauseMs, qPrintable(count->text()));
    }
    return 0;
}
