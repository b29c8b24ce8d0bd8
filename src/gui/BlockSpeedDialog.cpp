#include "gui/BlockSpeedDialog.h"

#include "core/net/ConnectPool.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

// A host's line opens to this many candidates at most, best first.
constexpr int kShownCandidates = 200;

QString ms(qint64 micros)
{
    return QStringLiteral("%1 ms").arg(micros / 1000.0, 0, 'f', 1);
}

} // namespace

BlockSpeedDialog::BlockSpeedDialog(const QList<Row>& rows, const QStringList& commonIps, ConnectPool* pool,
                                   std::function<QStringList(const QString&, QString*)> dns, int timeoutMs,
                                   QWidget* parent)
    : QDialog(parent), m_commonIps(commonIps), m_dns(std::move(dns)), m_timeoutMs(timeoutMs),
      m_port(new QLineEdit(QStringLiteral("443"), this)), m_list(new QTreeWidget(this)),
      m_status(new QLabel(this))
{
    setObjectName(QStringLiteral("SpeedBlock"));
    setWindowTitle(QStringLiteral("测速 - %1 个主机").arg(rows.size()));
    m_port->setObjectName(QStringLiteral("SpeedPort"));
    m_port->setValidator(new QIntValidator(1, 65535, m_port));
    m_port->setMaximumWidth(80);
    m_list->setObjectName(QStringLiteral("SpeedList"));
    m_list->setUniformRowHeights(true);
    m_list->setHeaderLabels({QStringLiteral("主机"), QStringLiteral("IP"), QStringLiteral("平均"),
                             QStringLiteral("TLS"), QStringLiteral("结果")});
    const int unit = fontMetrics().horizontalAdvance(QLatin1Char('0'));
    const int widths[] = {22, 17, 9, 9, 16};
    for (int c = 0; c < 5; ++c)
        m_list->header()->resizeSection(c, widths[c] * unit + 12);
    m_status->setObjectName(QStringLiteral("SpeedStatus"));
    auto* use = new QPushButton(QStringLiteral("全部使用"), this);
    use->setObjectName(QStringLiteral("SpeedUseAll"));
    use->setDefault(true); // Enter
    auto* close = new QPushButton(QStringLiteral("关闭"), this);
    close->setObjectName(QStringLiteral("SpeedClose"));
    close->setAutoDefault(false);

    auto* top = new QHBoxLayout;
    top->addWidget(new QLabel(QStringLiteral("TCP 端口:"), this));
    top->addWidget(m_port);
    top->addStretch();
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_status, 1);
    buttons->addWidget(use);
    buttons->addWidget(close);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(m_list);
    layout->addLayout(buttons);
    resize(700, 420);

    m_refresh.setSingleShot(true);
    m_refresh.setInterval(100);
    connect(&m_refresh, &QTimer::timeout, this, &BlockSpeedDialog::showHosts);
    for (const Row& r : rows) {
        Host h;
        h.row = r;
        h.test = new SpeedTest(pool, this);
        h.item = new QTreeWidgetItem(m_list, {r.host, r.ip});
        connect(h.test, &SpeedTest::changed, this, [this] {
            if (!m_refresh.isActive())
                m_refresh.start();
        });
        connect(h.test, &SpeedTest::finished, this, [this] {
            if (!m_refresh.isActive())
                m_refresh.start();
        });
        m_hosts.append(h);
    }
    connect(m_port, &QLineEdit::editingFinished, this, &BlockSpeedDialog::restart);
    connect(use, &QPushButton::clicked, this, &BlockSpeedDialog::useAll);
    connect(close, &QPushButton::clicked, this, &QDialog::reject);
    m_status->setText(QStringLiteral("测试中…"));
    QTimer::singleShot(0, this, &BlockSpeedDialog::restart);
}

void BlockSpeedDialog::restart()
{
    const quint16 port = quint16(m_port->text().toUInt());
    if (port == 0 || port == m_portStarted)
        return;
    const bool first = m_portStarted == 0;
    m_portStarted = port;
    for (Host& h : m_hosts) {
        // As for one row: its IP, the common IPs, then what DNS gives (asked once); addresses
        // that DNS gave are measured again at another port.
        QList<SpeedTest::Candidate> list;
        SpeedTest::addCandidates(&list, {h.row.ip}, SpeedTest::Current);
        SpeedTest::addCandidates(&list, m_commonIps, SpeedTest::Common);
        QStringList dnsIps;
        for (const SpeedTest::Entry& e : h.test->entries()) {
            if (e.candidate.sources & SpeedTest::Dns)
                dnsIps << e.candidate.ip;
        }
        SpeedTest::addCandidates(&list, dnsIps, SpeedTest::Dns);
        h.test->start(list, port, 3, m_timeoutMs, h.row.host);
        if (first && m_dns) {
            h.test->lookUp([dns = m_dns, host = h.row.host](QString* error) { return dns(host, error); },
                           SpeedTest::Dns);
        }
    }
    showHosts();
}

void BlockSpeedDialog::showHosts()
{
    m_refresh.stop();
    bool running = false;
    for (Host& h : m_hosts) {
        running = running || h.test->running();
        if (h.test->hasChanges())
            showHost(h);
    }
    QString status = running ? QStringLiteral("测试中…") : QStringLiteral("完成");
    if (!m_hosts.isEmpty() && !m_hosts.first().test->checksTls())
        status += QStringLiteral("  不检查证书 (端口不是 443)");
    m_status->setText(status);
}

void BlockSpeedDialog::showHost(Host& h)
{
    const QList<int>& order = h.test->order();
    const QList<SpeedTest::Entry>& entries = h.test->entries();
    int usable = 0;
    for (const SpeedTest::Entry& e : entries)
        usable += SpeedTest::usable(e.result);
    const SpeedTest::Entry* best = !order.isEmpty() && SpeedTest::usable(entries[order.first()].result)
                                       ? &entries[order.first()]
                                       : nullptr;
    h.item->setText(1, best ? best->candidate.ip : h.row.ip);
    h.item->setText(2, best ? ms(best->result.totalMicros / best->result.answered) : QString());
    h.item->setText(3, best ? SpeedTest::resultTexts(best->result, h.test->tries())[4] : QString());
    const QString count = QStringLiteral("%1/%2 可用").arg(usable).arg(entries.size());
    h.item->setText(4, h.test->running() ? QStringLiteral("测试中…  ") + count
                       : best            ? count
                                         : QStringLiteral("无可用地址"));
    // The candidates, best first, each with its own texts.
    const int shown = int(qMin<qsizetype>(order.size(), kShownCandidates));
    while (h.item->childCount() > shown)
        delete h.item->takeChild(h.item->childCount() - 1);
    for (int i = 0; i < shown; ++i) {
        const SpeedTest::Entry& e = entries[order[i]];
        const QStringList t = SpeedTest::resultTexts(e.result, h.test->tries());
        QTreeWidgetItem* child = i < h.item->childCount() ? h.item->child(i) : new QTreeWidgetItem(h.item);
        child->setText(0, SpeedTest::sourceText(e.candidate.sources));
        child->setText(1, e.candidate.ip);
        child->setText(2, t[1]);
        child->setText(3, t[4]);
        child->setText(4, t[0] + QStringLiteral("  ") + t[3]);
    }
}

void BlockSpeedDialog::useAll()
{
    showHosts();
    QHash<int, QString> ipByRow;
    QStringList without;
    for (Host& h : m_hosts) {
        const QList<int>& order = h.test->order();
        if (!order.isEmpty() && SpeedTest::usable(h.test->entries()[order.first()].result))
            ipByRow.insert(h.row.row, h.test->entries()[order.first()].candidate.ip);
        else
            without << h.row.host;
    }
    emit chosen(ipByRow, without);
    accept();
}
