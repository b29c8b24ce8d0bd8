#include "gui/BatchPage.h"

#include "core/app/Controls.h"
#include "core/ping/PingCommands.h"
#include "core/ping/PingQueue.h"
#include "core/ping/PingRunner.h"
#include "gui/MessageBox.h"
#include "gui/PingStatusWindow.h"

#include <QDateTime>
#include <QDir>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>

BatchPage::BatchPage(QWidget* window, const BatchPageOptions& options, const AppFolder& folder)
    : QObject(window), m_window(window), m_options(options), m_folder(folder),
      m_pingRunner(new PingRunner(options.encoding, options.start, this)),
      m_queue(window->findChild<QPlainTextEdit*>(QString::fromLatin1(Control::Queue))),
      m_count(window->findChild<QLineEdit*>(QString::fromLatin1(Control::Count))),
      m_log(window->findChild<QListWidget*>(QString::fromLatin1(Control::Log)))
{
    connect(m_pingRunner, &PingRunner::logged, this, &BatchPage::log);
    m_pingRunner->setNetwork(options.names, options.connect);
    PingStatusWindow::addToLog(m_log, m_pingRunner);
    const std::pair<const char*, void (BatchPage::*)()> handlers[] = {
        {Control::StartBatch, &BatchPage::startBatch},
        {Control::SaveQueue, &BatchPage::saveQueue},
        {Control::OpenResultFolder, &BatchPage::openResultFolder},
    };
    for (const auto& [name, handler] : handlers)
        connect(window->findChild<QPushButton*>(QString::fromLatin1(name)), &QPushButton::clicked, this,
                handler);
}

QString BatchPage::resultFolder(const QString& appDir) const
{
    const QDate today = m_options.today ? m_options.today() : QDate::currentDate();
    return PingCommands::resultFolder(appDir, PingCommands::dateText(today), Platform::separator());
}

QString BatchPage::queueText() const
{
    QString text = m_queue->toPlainText();
    text.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
    return text;
}

bool BatchPage::loadQueue(QString* error)
{
    m_queue->clear();
    QString text;
    const PingQueue::LoadStatus status = PingQueue::load(m_folder.file(QStringLiteral("Ping.txt")),
                                                         TextCodec(m_options.encoding), &text, error);
    m_queueRefusal.clear();
    if (status == PingQueue::LoadStatus::Refused) {
        // Start-up shows no message: the log says why the box is empty.
        m_queueRefusal = *error;
        log(m_queueRefusal);
        return false;
    }
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    m_queue->setPlainText(text);
    return status == PingQueue::LoadStatus::Loaded;
}

bool BatchPage::writeQueue(QString* error)
{
    if (!m_queueRefusal.isEmpty()) {
        // The file holds what the box could not show: a copy is kept before it is written over.
        m_queueKept = PingQueue::keepRefused(m_folder.file(QStringLiteral("Ping.txt")),
                                             m_folder.path() + QStringLiteral("backup"),
                                             QDateTime::currentDateTime(), error);
        if (m_queueKept.isEmpty())
            return false;
    }
    const QString text = queueText() + QStringLiteral("\r\n");
    QByteArray bytes;
    const TextCodec codec(m_options.encoding);
    m_folder.prepare();
    if (!codec.encode(text, &bytes)) {
        *error =
            QStringLiteral("任务队列含有 %1 编码无法表示的字符").arg(QString::fromLatin1(codec.encoding()));
        return false;
    }
    if (!PingQueue::save(m_folder.file(QStringLiteral("Ping.txt")), bytes, error))
        return false;
    m_queueRefusal.clear();
    return true;
}

void BatchPage::saveQueue()
{
    QString error;
    m_queueKept.clear();
    if (writeQueue(&error))
        MessageBox::show(m_window, m_queueKept.isEmpty()
                                       ? QStringLiteral("保存成功!")
                                       : QStringLiteral("保存成功!\r\n没有载入的原 Ping.txt 另存为 ")
                                             + QDir::toNativeSeparators(m_queueKept));
    else
        MessageBox::show(m_window, QStringLiteral("保存失败！\r\n") + error);
}

void BatchPage::log(const QString& entry)
{
    m_log->addItem(entry);
    m_log->setCurrentRow(m_log->count() - 1);
}

void BatchPage::startBatch()
{
    // The folder is found once per click; the date is taken anew for each target, so that a
    // batch across midnight names the new day. The window takes no input while the pings start.
    const QString appDir = m_folder.prepare();
    QString error;
    m_window->setEnabled(false);
    const bool started = m_pingRunner->start(
        queueText(), m_count->text(), [&] { return resultFolder(appDir); }, &error);
    m_window->setEnabled(true);
    MessageBox::show(m_window, started ? QStringLiteral("后台启动完成!")
                                       : QStringLiteral("后台启动失败！\r\n") + error);
}

void BatchPage::openResultFolder()
{
    const Command cmd = PingCommands::explorerCommand(resultFolder(m_folder.path()));
    const StartResult result = m_options.start ? m_options.start(cmd) : Platform::start(cmd);
    if (!result.ok)
        MessageBox::show(m_window, QStringLiteral("启动失败！\r\n") + cmd.commandLine +
                                       QStringLiteral("\r\n") + result.error);
}
