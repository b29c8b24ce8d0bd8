#pragma once

#include "core/app/AppFolder.h"
#include "platform/Network.h"
#include "platform/Platform.h"

#include <QDate>
#include <QObject>

#include <functional>

class PingRunner;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QWidget;

// The seams of the 批量PING page.
struct BatchPageOptions {
    QByteArray encoding;          // empty: the system's ANSI code page
    Platform::Starter start;      // the pings, the file browser; empty: the platform's
    std::function<QDate()> today; // empty: the local date
    // The names and connections of TCP targets (empty members: the system's).
    Platform::NameService names;
    Platform::Connector connect;
};

// The 批量PING page: the ping queue (TextIP) and Ping.txt, the count, the batches and their
// log, today's result folder. It takes over Frame2's controls, which the window built at their
// design places.
class BatchPage : public QObject
{
    Q_OBJECT

public:
    BatchPage(QWidget* window, const BatchPageOptions& options, const AppFolder& folder);

    // The ping queue: the text of TextIP with CR LF between its lines.
    QString queueText() const;

    // The task box from Ping.txt. A file too large for the box is not loaded: the log says
    // why, and the next writeQueue keeps a copy of it in the backup folder before writing.
    bool loadQueue(QString* error);
    bool writeQueue(QString* error);

public slots:
    void startBatch();       // Command2: a ping for every target of the queue, logged
    void saveQueue();        // Command3: the queue to Ping.txt, confirmed or reported
    void openResultFolder(); // Command4: today's result folder in the file browser

private:
    void log(const QString& entry);
    QString resultFolder(const QString& appDir) const; // today's, in appDir

    QWidget* m_window;
    BatchPageOptions m_options;
    AppFolder m_folder;
    // Why Ping.txt was not loaded (too large for the task box); "保存任务" then leaves it alone.
    QString m_queueRefusal;
    QString m_queueKept; // where the last save kept the Ping.txt that was refused
    PingRunner* m_pingRunner = nullptr; // the batches, from the click to their last end
    QPlainTextEdit* m_queue = nullptr;  // TextIP
    QLineEdit* m_count = nullptr;       // TextN
    QListWidget* m_log = nullptr;       // ListLog
};
