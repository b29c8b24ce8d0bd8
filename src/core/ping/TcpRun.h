#pragma once

#include "platform/Network.h"
#include "platform/ProcessHandle.h"
#include "platform/TextCodec.h"

#include <QList>
#include <QObject>
#include <QString>

#include <atomic>
#include <memory>

class ConnectPool;
class QTimer;

// The run of a TCP target: count connections to host:port, one a second, each given up after
// timeoutMs, through the connection pool; a line per try appended to the result file as ping
// writes its replies, then a summary in the form of Chinese Windows' ping statistics, which the
// end entry and the summary table read as they read ping's:
//   连接 127.0.0.1:7777: 时间=0.3ms / 连接 127.0.0.1:7777: 拒绝 / … 超时 / … 失败 (reason)
//   127.0.0.1:7777 的 TCP Ping 统计信息:
//       数据包: 已发送 = 4，已接收 = 3，丢失 = 1 (25% 丢失)，
//   往返行程的估计时间(以毫秒为单位):
//       最短 = 0.2ms，最长 = 0.4ms，平均 = 0.3ms
// A name is resolved once, beside the window, through the name service; a name that gives no
// address is one line and no summary, as ping writes for an unknown host.
class TcpRun : public QObject
{
    Q_OBJECT

public:
    struct Options
    {
        QString target; // as the queue holds it
        QString host;   // name or address, without brackets
        quint16 port = 0;
        int count = 0;
        int timeoutMs = 1000;
        int intervalMs = 1000;
        QString resultFile;
    };

    TcpRun(const Options& options, ConnectPool* pool, const Platform::NameService& names,
           const TextCodec& codec, QObject* parent = nullptr);
    ~TcpRun() override;

    void start();
    // Ends the run at once: no more tries, nothing more written; finished() follows.
    void stop();

signals:
    // The run is over: Exited 0 if a connection succeeded, 1 if none did; Killed when stopped.
    void finished(const ProcessEnd& end);

private:
    void resolved(const QStringList& addresses, const QString& error);
    void tryOnce();
    void answered(const Platform::ConnectTry& t);
    void write(const QString& line);
    void finish(const ProcessEnd& end);

    Options m_options;
    ConnectPool* m_pool = nullptr;
    Platform::NameService m_names;
    TextCodec m_codec;
    QString m_address;
    QString m_shown; // host:port as the lines name it
    QTimer* m_timer = nullptr;
    std::shared_ptr<std::atomic<bool>> m_cancel;
    int m_tried = 0;
    int m_answered = 0;
    QList<double> m_times; // of the connections made, in ms
    bool m_done = false;
};
