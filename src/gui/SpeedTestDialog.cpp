#include "gui/SpeedTestDialog.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTreeWidget>
#include <QVBoxLayout>

SpeedTestDialog::SpeedTestDialog(const QString& host, const QList<SpeedTest::Candidate>& candidates,
                                 Platform::Connector connector, std::function<QStringList(QString*)> dns,
                                 int timeoutMs, QWidget* parent)
    : QDialog(parent), m_candidates(candidates), m_dns(std::move(dns)), m_timeoutMs(timeoutMs),
      m_test(new SpeedTest(std::move(connector), this)), m_port(new QLineEdit(QStringLiteral("443"), this)),
      m_list(new QTreeWidget(this)), m_status(new QLabel(this)),
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
    m_list->setHeaderLabels({QStringLiteral("来源"), QStringLiteral("IP"), QStringLiteral("应答"),
                             QStringLiteral("平均"), QStringLiteral("最快"), QStringLiteral("结果")});
    m_list->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
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
    resize(520, 320);

    connect(m_test, &SpeedTest::changed, this, &SpeedTestDialog::showEntries);
    connect(m_test, &SpeedTest::finished, this, &SpeedTestDialog::showEntries);
    connect(m_port, &QLineEdit::editingFinished, this, &SpeedTestDialog::restart);
    connect(m_list, &QTreeWidget::itemClicked, this, [this] { m_picked = true; });
    connect(m_list, &QTreeWidget::itemDoubleClicked, this, &SpeedTestDialog::use);
    connect(m_use, &QPushButton::clicked, this, &SpeedTestDialog::use);
    connect(close, &QPushButton::clicked, this, &QDialog::reject);
    restart();
}

void SpeedTestDialog::restart()
{
    const quint16 port = quint16(m_port->text().toUInt());
    if (port == 0 || port == m_portStarted)
        return;
    m_portStarted = port;
    // Addresses that DNS gave are measured again at another port.
    for (const SpeedTest::Entry& e : m_test->entries())
        SpeedTest::addCandidates(&m_candidates, {e.candidate.ip}, SpeedTest::Source(e.candidate.sources));
    m_picked = false;
    m_test->start(m_candidates, port, 3, m_timeoutMs);
    if (m_dns)
        m_test->lookUp(m_dns, SpeedTest::Dns);
    m_dns = nullptr;
}

void SpeedTestDialog::showEntries()
{
    const QString selected = m_list->currentItem() ? m_list->currentItem()->text(1) : QString();
    const QSignalBlocker blocker(m_list);
    m_list->clear();
    QTreeWidgetItem* keep = nullptr;
    for (const int i : m_test->order()) {
        const SpeedTest::Entry& e = m_test->entries()[i];
        auto* item = new QTreeWidgetItem(
            m_list, QStringList{SpeedTest::sourceText(e.candidate.sources), e.candidate.ip} +
                        SpeedTest::resultTexts(e.result, m_test->tries()));
        if (e.candidate.ip == selected)
            keep = item;
    }
    // The best answering candidate is selected until the user picks one.
    QTreeWidgetItem* best = m_list->topLevelItemCount() > 0 ? m_list->topLevelItem(0) : nullptr;
    const bool bestAnswered = best && !m_test->entries().isEmpty() &&
                              m_test->entries()[m_test->order().first()].result.answered > 0;
    m_list->setCurrentItem(m_picked && keep ? keep : bestAnswered ? best : keep);
    QString status = m_test->running() ? QStringLiteral("测试中…") : QStringLiteral("完成");
    if (!m_test->lookupError().isEmpty())
        status += QStringLiteral("  DNS: ") + m_test->lookupError();
    m_status->setText(status);
}

void SpeedTestDialog::use()
{
    if (!m_list->currentItem())
        return;
    emit ipChosen(m_list->currentItem()->text(1));
    accept();
}
