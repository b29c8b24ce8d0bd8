#include "gui/SpeedTestDialog.h"

#include "core/net/ConnectPool.h"

#include <QAbstractTableModel>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeView>
#include <QVBoxLayout>

// The entries of a SpeedTest in its order, as the columns 来源, IP, 应答, 平均, 最快, 结果, TLS. Texts
// are made only for the rows in view; an update is one layout change, whatever the count.
class SpeedListModel : public QAbstractTableModel
{
public:
    explicit SpeedListModel(SpeedTest* test, QObject* parent) : QAbstractTableModel(parent), m_test(test) {}

    int rowCount(const QModelIndex& parent = {}) const override { return parent.isValid() ? 0 : m_rows; }
    int columnCount(const QModelIndex& parent = {}) const override { return parent.isValid() ? 0 : 7; }
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override
    {
        static const char* const names[] = {"来源", "IP", "应答", "平均", "最快", "结果", "TLS"};
        if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section >= 7)
            return {};
        return QString::fromUtf8(names[section]);
    }
    QVariant data(const QModelIndex& index, int role) const override
    {
        if (role != Qt::DisplayRole || !index.isValid() || index.row() >= m_order.size() ||
            m_order[index.row()] >= m_test->entries().size())
            return {};
        const SpeedTest::Entry& e = m_test->entries()[m_order[index.row()]];
        if (index.column() == 0)
            return SpeedTest::sourceText(e.candidate.sources);
        if (index.column() == 1)
            return e.candidate.ip;
        return SpeedTest::resultTexts(e.result, m_test->tries()).value(index.column() - 2);
    }
    // The entry shown in row.
    int entryAt(int row) const { return row >= 0 && row < m_order.size() ? m_order[row] : -1; }

    // Takes in what changed: rows keep their entries (the selection follows its address).
    void update()
    {
        if (!m_test->hasChanges() && m_rows == m_test->entries().size())
            return;
        if (m_rows != m_test->entries().size()) {
            beginResetModel();
            m_order = m_test->order();
            m_rows = int(m_order.size());
            endResetModel();
            return;
        }
        emit layoutAboutToBeChanged();
        const QModelIndexList before = persistentIndexList();
        QList<int> entries;
        for (const QModelIndex& i : before)
            entries << entryAt(i.row());
        m_order = m_test->order();
        QModelIndexList after;
        for (qsizetype k = 0; k < before.size(); ++k)
            after << index(int(m_order.indexOf(entries[k])), before[k].column());
        changePersistentIndexList(before, after);
        emit layoutChanged();
    }

private:
    SpeedTest* m_test;
    QList<int> m_order; // a copy: the view sees one order between updates
    int m_rows = 0;
};

SpeedTestDialog::SpeedTestDialog(const QString& host, const QString& currentIp, const QStringList& commonIps,
                                 ConnectPool* pool, std::function<QStringList(QString*)> dns, int timeoutMs,
                                 QWidget* parent)
    : QDialog(parent), m_currentIp(currentIp), m_commonIps(commonIps), m_dns(std::move(dns)),
      m_timeoutMs(timeoutMs), m_host(host), m_pool(pool), m_test(new SpeedTest(pool, this)),
      m_model(new SpeedListModel(m_test, this)), m_port(new QLineEdit(QStringLiteral("443"), this)),
      m_list(new QTreeView(this)), m_status(new QLabel(this)),
      m_use(new QPushButton(QStringLiteral("使用"), this))
{
    setObjectName(QStringLiteral("SpeedTest"));
    setWindowTitle(QStringLiteral("测速 - %1").arg(host));
    m_port->setObjectName(QStringLiteral("SpeedPort"));
    m_port->setValidator(new QIntValidator(1, 65535, m_port));
    m_port->setMaximumWidth(80);
    m_list->setObjectName(QStringLiteral("SpeedList"));
    m_list->setRootIsDecorated(false);
    m_list->setUniformRowHeights(true);
    m_list->setAllColumnsShowFocus(true);
    m_list->setModel(m_model);
    // Fixed widths: sizing to the contents would measure rows at every update.
    const int unit = fontMetrics().horizontalAdvance(QLatin1Char('0'));
    const int widths[] = {8, 15, 5, 9, 9, 22, 9};
    for (int c = 0; c < 7; ++c)
        m_list->header()->resizeSection(c, widths[c] * unit + 12);
    m_status->setObjectName(QStringLiteral("SpeedStatus"));
    m_use->setObjectName(QStringLiteral("SpeedUse"));
    m_use->setDefault(true); // Enter
    auto* close = new QPushButton(QStringLiteral("关闭"), this);
    close->setObjectName(QStringLiteral("SpeedClose"));
    close->setAutoDefault(false);

    auto* top = new QHBoxLayout;
    top->addWidget(new QLabel(QStringLiteral("%1  TCP 端口:").arg(host), this));
    top->addWidget(m_port);
    top->addStretch();
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_status, 1);
    buttons->addWidget(m_use);
    buttons->addWidget(close);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(m_list);
    layout->addLayout(buttons);
    resize(760, 320); // every column in view, 结果 wide enough for "证书不符: " and a name

    m_refresh.setSingleShot(true);
    m_refresh.setInterval(80);
    connect(&m_refresh, &QTimer::timeout, this, &SpeedTestDialog::showEntries);
    connect(m_test, &SpeedTest::changed, this, [this] {
        if (!m_refresh.isActive())
            m_refresh.start();
    });
    connect(m_test, &SpeedTest::finished, this, &SpeedTestDialog::showEntries);
    if (pool) {
        connect(pool, &ConnectPool::cannotStart, this, [this](const QString& reason) {
            m_poolError = reason;
            if (!m_refresh.isActive())
                m_refresh.start();
        });
    }
    connect(m_port, &QLineEdit::editingFinished, this, &SpeedTestDialog::restart);
    connect(m_list, &QTreeView::clicked, this, [this] { m_picked = true; });
    connect(m_list, &QTreeView::doubleClicked, this, &SpeedTestDialog::use);
    connect(m_use, &QPushButton::clicked, this, &SpeedTestDialog::use);
    connect(close, &QPushButton::clicked, this, &QDialog::reject);
    m_status->setText(QStringLiteral("测试中…"));
    QTimer::singleShot(0, this, &SpeedTestDialog::restart);
}

void SpeedTestDialog::restart()
{
    const quint16 port = quint16(m_port->text().toUInt());
    if (port == 0 || port == m_portStarted)
        return;
    if (!m_gathered) {
        // The list of 100,000 common IPs is read beside the window.
        auto gather = [ip = m_currentIp, common = m_commonIps] {
            QList<SpeedTest::Candidate> list;
            SpeedTest::addCandidates(&list, {ip}, SpeedTest::Current);
            SpeedTest::addCandidates(&list, common, SpeedTest::Common);
            return list;
        };
        auto gathered = [this](const QList<SpeedTest::Candidate>& list) {
            m_candidates = list;
            m_gathered = true;
            m_commonIps.clear();
            restart();
        };
        if (!m_pool) {
            gathered(gather());
            return;
        }
        m_pool->run(
            [gather, gathered] {
                return std::function<void()>([gathered, list = gather()] { gathered(list); });
            },
            this,
            [this, gather, gathered](const QString& reason) {
                m_poolError = reason;
                gathered(gather());
            });
        return;
    }
    m_portStarted = port;
    // Addresses that DNS gave are measured again at another port.
    QStringList dnsIps;
    for (const SpeedTest::Entry& e : m_test->entries()) {
        if (e.candidate.sources & SpeedTest::Dns)
            dnsIps << e.candidate.ip;
    }
    if (!dnsIps.isEmpty())
        SpeedTest::addCandidates(&m_candidates, dnsIps, SpeedTest::Dns);
    m_picked = false;
    m_test->start(m_candidates, port, 3, m_timeoutMs, m_host);
    if (m_dns)
        m_test->lookUp(m_dns, SpeedTest::Dns);
    m_dns = nullptr;
    showEntries();
}

void SpeedTestDialog::showEntries()
{
    m_refresh.stop();
    m_model->update();
    // The best answering candidate is selected until the user picks one.
    const int best = m_model->entryAt(0);
    if (!m_picked && best >= 0 && m_test->entries()[best].result.answered > 0)
        m_list->setCurrentIndex(m_model->index(0, 0));
    QString status = m_test->running() ? QStringLiteral("测试中…") : QStringLiteral("完成");
    if (!m_test->lookupError().isEmpty())
        status += QStringLiteral("  DNS: ") + m_test->lookupError();
    if (!m_poolError.isEmpty())
        status += QStringLiteral("  ") + m_poolError;
    if (!m_test->checksTls())
        status += QStringLiteral("  不检查证书 (端口不是 443)");
    m_status->setText(status);
}

void SpeedTestDialog::use()
{
    const int entry = m_model->entryAt(m_list->currentIndex().row());
    if (entry < 0)
        return;
    emit ipChosen(m_test->entries()[entry].candidate.ip);
    accept();
}
