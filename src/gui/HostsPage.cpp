#include "gui/HostsPage.h"

#include "core/app/Controls.h"
#include "core/app/FieldReader.h"
#include "core/app/Layout.h"
#include "core/hosts/DeadLines.h"
#include "core/hosts/EditorCommand.h"
#include "core/hosts/EffectCheck.h"
#include "core/hosts/EffectCheckService.h"
#include "core/hosts/HostsFilter.h"
#include "gui/MessageBox.h"
#include "gui/RowsView.h"
#include "gui/SpeedTestDialog.h"

#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QStringListModel>
#include <QTabWidget>

namespace {

const QString kSaveFailed = QStringLiteral("保存失败！\r\n");
const QString kSaved = QStringLiteral("保存成功!");

HostsSaveSettings saveSettings(const HostsPageOptions& options, const QString& hostsPath,
                               const AppFolder& folder)
{
    HostsSaveSettings s;
    s.hostsPath = hostsPath;
    s.backupFolder = folder.path() + QStringLiteral("backup");
    s.executableDir = folder.executableDir();
    s.saveFile = options.saveFile;
    s.elevatedSaveTimeoutMs = options.elevatedSaveTimeoutMs;
    s.startElevatedWriter = options.startElevatedWriter;
    return s;
}

} // namespace

HostsPage::HostsPage(QWidget* window, const HostsPageOptions& options, const AppFolder& folder,
                     QStringListModel* commonIps)
    : QObject(window), m_window(window), m_options(options), m_folder(folder),
      m_hostsPath(options.hostsPath.isEmpty() ? Platform::hostsPath() : options.hostsPath),
      m_hosts(options.encoding), m_deadLines(new DeadLines(&m_hosts, DeadLines::Indexing::WhenStarted, this)), m_commonIps(commonIps),
      m_effectCheck(new EffectCheckService(options.names, options.effectCheckLimitMs, this)),
      m_fileService(saveSettings(options, m_hostsPath, folder))
{
    m_readButton = control<QPushButton>(Control::ReadHosts);
    m_saveButton = control<QPushButton>(Control::SaveHosts);
    m_status = control<QLabel>(Control::RightsNotice);
    m_rightsNotice = m_status->text();
    m_tabStrip = control<QTabWidget>(Control::TabStrip);
    m_findBox = control<QLineEdit>(Control::FindBox);
    m_findCount = control<QLabel>(Control::FindCount);
    createRowsView();
    const std::pair<const char*, void (HostsPage::*)()> handlers[] = {
        {Control::ReadHosts, &HostsPage::reloadHostsFile},   {Control::AddRow, &HostsPage::addEntryRow},
        {Control::SaveHosts, &HostsPage::saveHostsFile},     {Control::EditHosts, &HostsPage::editHostsFile},
        {Control::EditCommonIps, &HostsPage::editCommonIps},
    };
    for (const auto& [name, handler] : handlers)
        connect(control<QPushButton>(name), &QPushButton::clicked, this, handler);
    connect(m_rows, &RowsView::rowMenuRequested, this, &HostsPage::showRowMenu);
    connect(&m_fileService, &HostsSaveService::readDone, this, &HostsPage::showReading);
    connect(&m_fileService, &HostsSaveService::saved, this, &HostsPage::showSaving);
    connect(m_deadLines, &DeadLines::changed, this, &HostsPage::checkEffect);
    connect(m_effectCheck, &EffectCheckService::checked, this, [this](const QStringList& lines) {
        if (!lines.isEmpty())
            MessageBox::show(m_window, lines.join(QStringLiteral("\r\n")));
    });
    // An edit while a save runs is carried over the rows read back after it.
    const auto edited = [this] { m_editedWhileSaving = m_editedWhileSaving || m_snapshot != nullptr; };
    connect(&m_hosts, &QAbstractItemModel::dataChanged, this, edited);
    connect(&m_hosts, &QAbstractItemModel::rowsInserted, this, edited);
    connectFind();
}

HostsPage::~HostsPage()
{
    if (m_fileService.isBusy())
        QGuiApplication::restoreOverrideCursor();
}

void HostsPage::startIndexing()
{
    m_deadLines->start();
}

bool HostsPage::isChecking() const
{
    return m_checkWaits || m_effectCheck->isChecking();
}

template <typename T> T* HostsPage::control(const char* name) const
{
    return m_window->findChild<T*>(QString::fromLatin1(name));
}

void HostsPage::createRowsView()
{
    // The rows live below the buttons of the page; their positions are the page's.
    QWidget* page = control<QWidget>(Control::HostsPage);
    const Layout::Control& read = Layout::control(Control::ReadHosts);
    const int rowsTop = Layout::toPixels(read.top + read.height) + 6;
    m_rows = new RowsView(&m_hosts, m_commonIps, rowsTop, page);
    m_rows->setGeometry(2, rowsTop, page->width() - 4, 0);
    m_pageHeight = page->height();
    m_rows->setPageHeight(m_pageHeight);
    // The find box stands over the foot of the rows' place, which they give up while it shows.
    control<QWidget>(Control::FindBox)->raise();
    control<QWidget>(Control::FindCount)->raise();
    // The rows come after the page's last button in the keyboard order.
    m_rows->setTabPredecessor(control<QWidget>(Control::EditHosts));
    m_rows->setDeadLines(m_deadLines);
    connect(m_rows, &RowsView::speedTestRequested, this, &HostsPage::openSpeedTest);
}

void HostsPage::setPageHeight(int pixels)
{
    m_pageHeight = pixels;
    // While the find box shows, the rows end above it: it hides none of them.
    m_rows->setPageHeight(m_findBox->isHidden() ? pixels : m_findBox->y() - 2);
}

void HostsPage::loadAtStartUp()
{
    // The common IPs come first, so that every row offers them.
    QString ignored;
    loadCommonIps(&ignored);
    takeReading(m_fileService.readNow(), &ignored);
}

// ---- rows ----

void HostsPage::addEntryRow()
{
    hideFindBox(); // the new row is among all rows, at the end
    m_hosts.addRow();
    emit rowsChanged(m_hosts.rowCount());
    m_rows->scrollToRow(m_hosts.rowCount());
}

void HostsPage::showRowMenu(int row, const QPoint& globalPos)
{
    auto* menu = new QMenu(m_window);
    menu->setObjectName(QStringLiteral("rowMenu"));
    menu->setAttribute(Qt::WA_DeleteOnClose);
    addSpeedTestAction(*menu, row);
    addSectionActions(*menu, row);
    menu->popup(globalPos);
}

// ---- reading and saving ----

void HostsPage::setBusy(const QString& status)
{
    // The window keeps answering; only the buttons that would start another reading or save wait.
    const bool busy = !status.isEmpty();
    m_readButton->setEnabled(!busy);
    m_saveButton->setEnabled(!busy);
    m_status->setText(busy ? status : m_rightsNotice);
    if (busy)
        QGuiApplication::setOverrideCursor(Qt::BusyCursor);
    else
        QGuiApplication::restoreOverrideCursor();
}

bool HostsPage::takeReading(const HostsReading& reading, QString* error)
{
    m_checkWaits = false; // other rows: a check still waiting would plan on them
    m_hosts.clear();
    // A save that was cut off (the program killed, the power lost) left a kept copy of the old
    // content: it was put right before the file was read, and the user learns how.
    if (reading.recovered)
        MessageBox::show(m_window, reading.recoveryMessage);
    // A file that is missing may be created by a save; one that could not be read, or not be
    // put right, must not be overwritten by the few rows that the user adds. One that only the
    // administrator can put right is saved through the helper, which does that first.
    m_hostsSaveable = reading.saveable();
    m_unsaveableReason = m_hostsSaveable ? QString() : reading.unsaveableReason();
    *error = reading.error;
    if (reading.status != HostsReading::Status::Ok)
        return false;
    // The resolver's rule for a name on several lines, read with the file it applies to.
    m_deadLines->setRule(Platform::hostsRule(m_options.names.withSystemDefaults().resolverSettings()));
    m_hosts.load(reading.bytes);
    // No rows leave the window at the height it has.
    if (m_hosts.rowCount() > 0)
        emit rowsChanged(m_hosts.rowCount());
    return true;
}

void HostsPage::reloadHostsFile()
{
    if (m_fileService.isBusy())
        return;
    setBusy(QStringLiteral("正在读取HOST文件…"));
    m_fileService.read();
}

void HostsPage::showReading(const HostsReading& reading)
{
    setBusy(QString());
    QString error;
    if (!takeReading(reading, &error))
        MessageBox::show(m_window, QStringLiteral("读取失败！\r\n") + error);
    emit readEnded();
}

void HostsPage::saveHostsFile()
{
    if (m_fileService.isBusy())
        return;
    if (!m_hostsSaveable) {
        MessageBox::show(m_window, kSaveFailed +
                                       QStringLiteral("HOST文件上次没有读取完整，保存会丢失没有读到的内容。"
                                                      "请先重新读取HOST文件。\r\n") +
                                       m_unsaveableReason);
        emit saveEnded();
        return;
    }
    // The save works on a copy of the rows: the user may edit on meanwhile.
    m_snapshotChanges = m_hosts.changes();
    m_snapshot = m_hosts.snapshot();
    m_editedWhileSaving = false;
    setBusy(QStringLiteral("正在保存HOST文件…"));
    m_fileService.save(m_snapshot.get());
}

void HostsPage::showSaving(const HostsSaving& saving)
{
    setBusy(QString());
    // The copy is kept only to carry edits made meanwhile: the rows and the old bytes it holds
    // are freed before the file read back is loaded.
    std::unique_ptr<HostsDocument> saved = std::move(m_snapshot);
    if (!m_editedWhileSaving)
        saved.reset();
    if (!saving.saved) {
        MessageBox::show(m_window, kSaveFailed + saving.error);
        emit saveEnded();
        return;
    }
    // A backup that could not be written does not stop the save, but the user should know.
    QStringList lines{kSaved};
    if (!saving.backupNote.isEmpty())
        lines << saving.backupNote;
    // The rows as read back, with what the user edited while the save ran. The file holds the
    // new content even when it cannot be read back: that is said as it is.
    std::unique_ptr<HostsDocument> edited = m_editedWhileSaving ? m_hosts.snapshot() : nullptr;
    QString error;
    const bool readBack = takeReading(saving.readBack, &error);
    if (!readBack)
        lines << QStringLiteral("但重新读取HOST文件失败: ") + error;
    if (readBack && edited)
        carryEdits(*saved, *edited, &m_hosts);
    saved.reset();
    edited.reset();
    MessageBox::show(m_window, lines.join(QStringLiteral("\r\n")));
    // Whether the system now answers as saved follows in a message of its own.
    if (readBack && saving.wroteFile) {
        m_checkWaits = true;
        m_deadLines->start(); // the check needs the index, shown window or not
        checkEffect();
    }
    emit saveEnded();
}

void HostsPage::checkEffect()
{
    // The earlier lines of a large file are indexed beside the window: the check starts once
    // they are (DeadLines::changed). A reading or a save meanwhile drops it.
    if (!m_checkWaits || !m_deadLines->isReady())
        return;
    m_checkWaits = false;
    int more = 0;
    m_effectCheck->check(EffectCheck::plan(m_snapshotChanges, m_hosts, *m_deadLines, 20, &more), more);
}

// ---- 测速 and the editor ----

void HostsPage::addSpeedTestAction(QMenu& menu, int row)
{
    QAction* action = menu.addAction(QStringLiteral("测速(&T)"));
    action->setObjectName(QStringLiteral("speedTestAction"));
    connect(action, &QAction::triggered, this, [this, row] { openSpeedTest(row); });
}

void HostsPage::openSpeedTest(int row)
{
    if (row < 0 || row >= m_hosts.rowCount())
        return;
    const HostsValues values = m_hosts.values(row);
    std::function<QStringList(QString*)> dns;
    const QString host = values.host.trimmed();
    if (!host.isEmpty()) {
        const Platform::NameService names = m_options.names.withSystemDefaults();
        dns = [lookup = names.dns, host](QString* error) { return lookup(host, error); };
    }
    auto* dialog = new SpeedTestDialog(host, values.ip, m_commonIps->stringList(), connectPool(), dns,
                                       m_options.speedTimeoutMs, m_window);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &SpeedTestDialog::ipChosen, this, [this, row](const QString& ip) {
        // As if typed: the row counts as edited, nothing is saved until "保存文件".
        if (row >= m_hosts.rowCount())
            return;
        HostsValues v = m_hosts.values(row);
        v.ip = ip;
        m_hosts.setValues(row, v);
    });
    dialog->open();
}

bool HostsPage::startAndReport(const Command& cmd)
{
    const StartResult result = m_options.start ? m_options.start(cmd) : Platform::start(cmd);
    if (!result.ok)
        MessageBox::show(m_window, QStringLiteral("启动失败！\r\n") + cmd.commandLine +
                                       QStringLiteral("\r\n") + result.error);
    return result.ok;
}

void HostsPage::editHostsFile()
{
    startAndReport(editorCommand(m_hostsPath));
}

// ---- the common IP list ----

bool HostsPage::loadCommonIps(QString* error)
{
    QStringList ips;
    const bool ok =
        readFieldsFile(m_folder.file(QStringLiteral("IP.txt")), TextCodec(m_options.encoding), &ips, error);
    m_commonIps->setStringList(ips); // the fields read before a failure stay
    return ok;
}

void HostsPage::editCommonIps()
{
    Command cmd = editorCommand(m_folder.path() + QStringLiteral("ip.txt"));
    cmd.path = m_folder.file(QStringLiteral("ip.txt")); // IP.txt, also where names are case-sensitive
    startAndReport(cmd);
}
