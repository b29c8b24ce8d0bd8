#include "core/ping/TcpRun.h"

#include "core/net/ConnectPool.h"
#include "platform/Platform.h"
#include "platform/TextFile.h"

#include <QCoreApplication>
#include <QPointer>
#include <QThreadPool>
#include <QTimer>

#include <algorithm>
#include <numeric>

namespace {

QString ms(double value)
{
    return QString::number(value, 'f', 1);
}

} // namespace

TcpRun::TcpRun(const Options& options, ConnectPool* pool, const Platform::NameService& names,
               const TextCodec& codec, QObject* parent)
    : QObject(parent), m_options(options), m_pool(pool), m_names(names), m_codec(codec),
      m_timer(new QTimer(this)), m_cancel(std::make_shared<std::atomic<bool>>(false))
{
    m_shown = m_options.target.trimmed();
    m_timer->setInterval(m_options.intervalMs);
    connect(m_timer, &QTimer::timeout, this, &TcpRun::tryOnce);
}

TcpRun::~TcpRun()
{
    *m_cancel = true;
}

void TcpRun::start()
{
    if (Platform::addressFamily(m_options.host) != 0) {
        resolved({m_options.host}, QString());
        return;
    }
    // The system's resolver may take seconds: it is asked on a thread of Qt's pool. Its answer
    // goes to the application object, which outlives every run, and from there, on this
    // thread, to this run if it still exists.
    QPointer<TcpRun> self(this);
    const auto lookup = m_names.lookup;
    const QString host = m_options.host;
    QThreadPool::globalInstance()->start([self, lookup, host] {
        QString error;
        const QStringList addresses = lookup ? lookup(host, &error) : QStringList();
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self, addresses, error] {
                if (self)
                    self->resolved(addresses, error);
            },
            Qt::QueuedConnection);
    });
}

void TcpRun::resolved(const QStringList& addresses, const QString& error)
{
    if (m_done)
        return;
    if (addresses.isEmpty()) {
        write(QStringLiteral("TCP 连接找不到主机 %1: %2").arg(m_options.host, error));
        finish(ProcessEnd{ProcessEnd::Kind::Exited, 1});
        return;
    }
    m_address = addresses.first();
    tryOnce();
    m_timer->start();
}

void TcpRun::tryOnce()
{
    if (m_done || m_tried >= m_options.count) {
        m_timer->stop();
        return;
    }
    ++m_tried;
    if (m_tried >= m_options.count)
        m_timer->stop();
    m_pool->connectTo(
        m_address, m_options.port, m_options.timeoutMs, this,
        [this](const Platform::ConnectTry& t) { answered(t); }, m_cancel);
}

void TcpRun::answered(const Platform::ConnectTry& t)
{
    if (m_done)
        return;
    ++m_answered;
    const QString lead = QStringLiteral("连接 ") + m_shown + QStringLiteral(": ");
    switch (t.outcome) {
    case Platform::ConnectTry::Connected:
        m_times.append(t.micros / 1000.0);
        write(lead + QStringLiteral("时间=") + ms(t.micros / 1000.0) + QStringLiteral("ms"));
        break;
    case Platform::ConnectTry::Refused:
        write(lead + QStringLiteral("拒绝"));
        break;
    case Platform::ConnectTry::TimedOut:
        write(lead + QStringLiteral("超时"));
        break;
    case Platform::ConnectTry::Failed:
        write(lead + QStringLiteral("失败 (") + t.error + QLatin1Char(')'));
        break;
    case Platform::ConnectTry::Cancelled:
        return;
    }
    if (m_answered < m_options.count)
        return;

    const int sent = m_answered;
    const int received = int(m_times.size());
    const int lost = sent - received;
    QString summary =
        QStringLiteral(
            "\n%1 的 TCP Ping 统计信息:\n    数据包: 已发送 = %2，已接收 = %3，丢失 = %4 (%5% 丢失)，")
            .arg(m_shown)
            .arg(sent)
            .arg(received)
            .arg(lost)
            .arg(lost * 100 / sent);
    if (received > 0) {
        const auto [min, max] = std::minmax_element(m_times.cbegin(), m_times.cend());
        const double average = std::accumulate(m_times.cbegin(), m_times.cend(), 0.0) / received;
        summary +=
            QStringLiteral("\n往返行程的估计时间(以毫秒为单位):\n    最短 = %1ms，最长 = %2ms，平均 = %3ms")
                .arg(ms(*min), ms(*max), ms(average));
    }
    write(summary);
    finish(ProcessEnd{ProcessEnd::Kind::Exited, received > 0 ? 0 : 1});
}

void TcpRun::write(const QString& text)
{
    QString lines = text;
    lines.replace(QLatin1Char('\n'), QString::fromLatin1(Platform::lineEnd()));
    QString error;
    TextFile::append(m_options.resultFile, QByteArray(), m_codec.encode(lines) + Platform::lineEnd(), &error);
}

void TcpRun::stop()
{
    if (m_done)
        return;
    *m_cancel = true;
    m_timer->stop();
    finish(ProcessEnd{ProcessEnd::Kind::Killed, 0});
}

void TcpRun::finish(const ProcessEnd& end)
{
    m_done = true;
    m_timer->stop();
    // Told through the event loop, as a process's end is: the receiver may delete this run.
    QMetaObject::invokeMethod(
        this, [this, end] { emit finished(end); }, Qt::QueuedConnection);
}
