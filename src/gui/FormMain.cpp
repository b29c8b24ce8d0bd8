#include "gui/FormMain.h"

#include "core/app/AppPath.h"
#include "core/app/Controls.h"
#include "core/app/FieldReader.h"
#include "core/app/Layout.h"
#include "core/hosts/DeadLines.h"
#include "core/hosts/EditorCommand.h"
#include "core/hosts/EffectCheck.h"
#include "core/hosts/HostsFilter.h"
#include "core/ping/PingCommands.h"
#include "core/ping/PingQueue.h"
#include "core/ping/PingRunner.h"
#include "gui/ElevatedSave.h"
#include "gui/IpBox.h"
#include "gui/MessageBox.h"
#include "gui/RowsView.h"
#include "gui/SpeedTestDialog.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QDir>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QEventLoop>
#include <QGuiApplication>
#include <QHash>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QStandardPaths>
#include <QStringListModel>
#include <QTabWidget>

#include <thread>

// The icons live in the gui library, which the linker would drop without this reference.
static void initResources()
{
    Q_INIT_RESOURCE(tarvix);
}

namespace {

const QString kSaveFailed = QStringLiteral("保存失败！\r\n");
const QString kSaved = QStringLiteral("保存成功!");

void place(QWidget* w, const Layout::Control& c)
{
    w->setGeometry(Layout::toPixels(c.left), Layout::toPixels(c.top), Layout::toPixels(c.width),
                   Layout::toPixels(c.height));
}

void setHeight(QWidget* w, int twips)
{
    w->resize(w->width(), Layout::toPixels(twips));
}

QList<Layout::Control> layoutTable()
{
    int count = 0;
    const Layout::Control* table = Layout::controls(&count);
    return QList<Layout::Control>(table, table + count);
}

} // namespace

FormMain::FormMain(const FormMainOptions& options, QWidget* parent)
    : QWidget(parent),
      m_options(options),
      m_hostsPath(options.hostsPath.isEmpty() ? Platform::hostsPath() : options.hostsPath),
      m_hosts(options.encoding),
      m_deadLines(new DeadLines(&m_hosts, this)),
      m_commonIps(new QStringListModel(this)),
      m_pingRunner(new PingRunner(options.encoding, options.start, this))
{
    initResources();
    setObjectName(QStringLiteral("FormMain"));
    setWindowTitle(QStringLiteral("Tarvix"));
    setWindowIcon(QIcon(QStringLiteral(":/icons/tarvix.ico")));
    m_appDirectory = findAppDirectory();
    buildControls();
    loadAtStartUp();
    centreOnScreen();
}

FormMain::~FormMain() = default;

template <typename T>
T* FormMain::control(const char* name) const
{
    return findChild<T*>(QString::fromLatin1(name));
}

// ---- building the window ----

void FormMain::buildControls()
{
    setFixedSize(Layout::toPixels(Layout::kClientWidth), Layout::toPixels(Layout::kClientHeight));
    // Containers first, so that their children find them.
    for (bool containers : {true, false}) {
        for (const Layout::Control& c : layoutTable()) {
            if ((c.container == nullptr) != containers)
                continue;
            QWidget* parent = c.container ? control<QWidget>(c.container) : this;
            QWidget* w = makeControl(c, parent);
            w->setObjectName(QString::fromLatin1(c.name));
            place(w, c);
        }
    }
    m_tabStrip = control<QTabWidget>(Control::TabStrip);
    m_frame1 = control<QFrame>(Control::HostsPage);
    m_frame2 = control<QFrame>(Control::PingPage);
    m_cmdExit = control<QPushButton>(Control::Exit);
    m_textIp = control<QPlainTextEdit>(Control::Queue);
    m_textN = control<QLineEdit>(Control::Count);
    m_listLog = control<QListWidget>(Control::Log);
    m_findBox = control<QLineEdit>(Control::FindBox);
    m_findCount = control<QLabel>(Control::FindCount);

    setDesignTabOrder();
    setDesignState();
    createRowsView();
    stackControls();
    connectHandlers();
}

QWidget* FormMain::makeControl(const Layout::Control& c, QWidget* parent)
{
    const QString caption = QString::fromUtf8(c.caption);
    switch (c.kind) {
    case Layout::Kind::TabStrip: {
        auto* tabs = new QTabWidget(parent);
        // The tab strip holds no controls: the frames are laid over its pages.
        tabs->addTab(new QWidget, QStringLiteral("HOST编辑"));
        tabs->addTab(new QWidget, QStringLiteral("批量PING"));
        return tabs;
    }
    case Layout::Kind::Frame: {
        auto* frame = new QFrame(parent);
        frame->setFrameStyle(QFrame::Box | QFrame::Sunken);
        frame->setAutoFillBackground(true);
        return frame;
    }
    case Layout::Kind::Button: {
        auto* button = new QPushButton(caption, parent);
        button->setAutoDefault(false); // Enter presses no button
        return button;
    }
    case Layout::Kind::Label:
        return new QLabel(caption, parent);
    case Layout::Kind::CheckBox:
        return new QCheckBox(caption, parent);
    case Layout::Kind::TextBox:
        if (qstrcmp(c.name, Control::Queue) == 0) {
            auto* edit = new QPlainTextEdit(parent);
            edit->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
            edit->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
            edit->setTabChangesFocus(true);
            return edit;
        }
        return new QLineEdit(caption, parent);
    case Layout::Kind::ComboBox:
        return new IpBox(m_commonIps, parent);
    case Layout::Kind::ListBox: {
        auto* list = new QListWidget(parent);
        list->setUniformItemSizes(true);
        return list;
    }
    case Layout::Kind::Window:
        break;
    }
    Q_UNREACHABLE();
    return nullptr;
}

void FormMain::setDesignTabOrder()
{
    // The layout table is in the order of the tab index.
    QWidget* previous = nullptr;
    for (const Layout::Control& c : layoutTable()) {
        QWidget* w = control<QWidget>(c.name);
        if (w->focusPolicy() == Qt::NoFocus)
            continue;
        if (previous)
            setTabOrder(previous, w);
        previous = w;
    }
}

void FormMain::setDesignState()
{
    for (const char* name : {Control::TemplateDisable, Control::TemplateHost, Control::TemplateIp,
                             Control::TemplateDelete, Control::PingPage, Control::FindBox,
                             Control::FindCount})
        control<QWidget>(name)->hide();

    auto* label4 = control<QLabel>(Control::RightsNotice);
    label4->setText(QStringLiteral("修改HOST文件需要管理员权限"));
    QPalette palette = label4->palette();
    palette.setColor(QPalette::WindowText, QColor(255, 0, 0));
    label4->setPalette(palette);
}

void FormMain::createRowsView()
{
    // The rows live below the buttons of the page; their positions are the page's.
    const Layout::Control& read = Layout::control(Control::ReadHosts);
    const int rowsTop = Layout::toPixels(read.top + read.height) + 6;
    m_rows = new RowsView(&m_hosts, m_commonIps, rowsTop, m_frame1);
    m_rows->setGeometry(2, rowsTop, m_frame1->width() - 4, 0);
    m_rows->setPageHeight(m_frame1->height());
    // The rows come after the page's last button in the keyboard order.
    m_rows->setTabPredecessor(control<QWidget>(Control::EditHosts));
    m_rows->setDeadLines(m_deadLines);
    connect(m_rows, &RowsView::speedTestRequested, this, &FormMain::openSpeedTest);
}

void FormMain::stackControls()
{
    // From the bottom: Label4, TabStrip1, Frame1, CmdExit, the find box, Frame2.
    for (const char* name : {Control::RightsNotice, Control::TabStrip, Control::HostsPage, Control::Exit,
                             Control::FindBox, Control::FindCount, Control::PingPage})
        control<QWidget>(name)->raise();
}

void FormMain::connectHandlers()
{
    connect(m_tabStrip, &QTabWidget::currentChanged, this, &FormMain::showSelectedPage);
    connect(m_pingRunner, &PingRunner::logged, this, &FormMain::log);
    const std::pair<const char*, void (FormMain::*)()> handlers[] = {
        {Control::Exit, &FormMain::exitProgram},
        {Control::ReadHosts, &FormMain::reloadHostsFile},
        {Control::AddRow, &FormMain::addEntryRow},
        {Control::SaveHosts, &FormMain::saveHostsFile},
        {Control::EditHosts, &FormMain::editHostsFile},
        {Control::EditCommonIps, &FormMain::editCommonIps},
        {Control::StartBatch, &FormMain::startBatch},
        {Control::SaveQueue, &FormMain::saveQueue},
        {Control::OpenResultFolder, &FormMain::openResultFolder},
    };
    for (const auto& [name, handler] : handlers)
        connect(control<QPushButton>(name), &QPushButton::clicked, this, handler);
    connect(m_rows, &RowsView::rowMenuRequested, this, &FormMain::showRowMenu);
    connectFind();
}

void FormMain::loadAtStartUp()
{
    // Each step stands alone: one that fails is abandoned and the next one runs, silently. The
    // common IPs come first, so that every row offers them.
    QString ignored;
    prepareAppDirectory();
    loadCommonIps(&ignored);
    readHostsFile(&ignored);
    loadQueue(&ignored);
    m_frame2->move(m_frame1->x(), m_frame1->y());
    m_frame2->resize(m_frame1->width(), m_frame2->height());
}

void FormMain::centreOnScreen()
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect available = screen->availableGeometry();
    move(available.x() + (available.width() - width()) / 2,
         available.y() + qMax(0, (available.height() - height() - nonClientHeight()) / 2));
}

int FormMain::nonClientHeight() const
{
    // Once the window exists on the screen, the system says what its frame and title bar take
    // (Windows knows it as soon as the window is made); until then, and where the system cannot
    // tell (an X11 window manager decorates later), 450 twips are assumed.
    const int frame = frameGeometry().height() - height();
    return frame > 0 ? frame : Layout::toPixels(Layout::kNonClientHeight);
}

void FormMain::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    // The rows set the window's outer height: with the real frame known, the client gets the
    // rest of it.
    if (m_outerHeight > 0 && height() != m_outerHeight - nonClientHeight())
        setFixedHeight(m_outerHeight - nonClientHeight());
}

// ---- where things are ----

QString FormMain::executableDir() const
{
    return m_options.executableDir.isEmpty() ? Platform::executableDir() : m_options.executableDir;
}

QString FormMain::appDirectory() const
{
    return m_appDirectory;
}

QString FormMain::findAppDirectory() const
{
    // Decided once per start: asking whether a folder is writable costs a probe file on
    // Windows, and the answer must not change between two files of one batch.
    const QString exeDir = executableDir();
    const AppPath::CopyKind kind = QFileInfo::exists(Platform::installedMarker(exeDir))
                                       ? AppPath::CopyKind::Installed
                                       : AppPath::CopyKind::Portable;
    const bool writable = kind == AppPath::CopyKind::Portable && Platform::canWriteDirectory(exeDir);
    const QString userDir = QDir::toNativeSeparators(
        m_options.userDataDir.isEmpty() ? QStandardPaths::writableLocation(QStandardPaths::AppDataLocation)
                                        : m_options.userDataDir);
    const QString dir = AppPath::ownFilesDir(QDir::toNativeSeparators(exeDir), kind, writable, userDir);
    return AppPath::fromReportedDir(dir, Platform::separator());
}

QString FormMain::prepareAppDirectory() const
{
    // The user's data folder of an installed program may not exist yet. Making the
    // executable's own directory is never tried: it exists, writable or not.
    const QString dir = appDirectory();
    if (dir != AppPath::fromReportedDir(QDir::toNativeSeparators(executableDir()), Platform::separator()))
        QDir().mkpath(dir);
    return dir;
}

QString FormMain::ownFile(const QString& name) const
{
    return Platform::resolveFileName(appDirectory(), name);
}

QDate FormMain::today() const
{
    return m_options.today ? m_options.today() : QDate::currentDate();
}

QString FormMain::resultFolder(const QString& appDir) const
{
    return PingCommands::resultFolder(appDir, PingCommands::dateText(today()), Platform::separator());
}

// ---- tabs and ending ----

void FormMain::showSelectedPage()
{
    const bool hostsPage = m_tabStrip->currentIndex() == 0;
    m_frame1->setVisible(hostsPage);
    m_frame2->setVisible(!hostsPage);
}

void FormMain::exitProgram()
{
    close();
    QCoreApplication::quit();
}

// ---- rows ----

void FormMain::fitToRows(int rows)
{
    int maxHeight = m_options.maxWindowHeight;
    if (maxHeight < 0) {
        const QScreen* screen = QGuiApplication::primaryScreen();
        maxHeight = screen ? Layout::toTwips(screen->availableGeometry().height()) : 0;
    }
    const Layout::Fit fit = Layout::refit(rows, maxHeight);
    setHeight(m_frame1, fit.frameHeight);
    setHeight(m_frame2, fit.frameHeight);
    setHeight(m_tabStrip, fit.tabStripHeight);
    m_outerHeight = Layout::toPixels(fit.windowHeight);
    setFixedHeight(m_outerHeight - nonClientHeight());
    m_cmdExit->move(m_cmdExit->x(), Layout::toPixels(fit.exitTop));
    // The find box keeps its place beside 退出.
    for (QWidget* w : {static_cast<QWidget*>(m_findBox), static_cast<QWidget*>(m_findCount)}) {
        const int offset = Layout::control(qPrintable(w->objectName())).top - Layout::control("CmdExit").top;
        w->move(w->x(), Layout::toPixels(fit.exitTop + offset));
    }
    setHeight(m_textIp, fit.textIpHeight);
    setHeight(m_listLog, fit.listLogHeight);
    m_rows->setPageHeight(m_frame1->height());
}

void FormMain::addEntryRow()
{
    hideFindBox(); // the new row is among all rows, at the end
    m_hosts.addRow();
    fitToRows(m_hosts.rowCount());
    m_rows->scrollToRow(m_hosts.rowCount());
}

void FormMain::showRowMenu(int row, const QPoint& globalPos)
{
    auto* menu = new QMenu(this);
    menu->setObjectName(QStringLiteral("rowMenu"));
    menu->setAttribute(Qt::WA_DeleteOnClose);
    addSpeedTestAction(*menu, row);
    addSectionActions(*menu, row);
    menu->popup(globalPos);
}

// ---- the hosts file ----

bool FormMain::readHostsFile(QString* error)
{
    m_hosts.clear();
    // A save that was cut off (the program killed, the power lost) left a kept copy of the old
    // content: it is put right before the file is read, and the user learns how.
    QByteArray bytes;
    TextFile::Recovery recovered = TextFile::Recovery::Nothing;
    QString recovery;
    const TextFile::ReadStatus status = hostsSaver().read(&bytes, &recovered, &recovery, error);
    if (recovered != TextFile::Recovery::Nothing)
        MessageBox::show(this, recovery);
    // A file that is missing may be created by a save; one that could not be read, or not be
    // put right, must not be overwritten by the few rows that the user adds. One that only the
    // administrator can put right is saved through the helper, which does that first.
    m_hostsReadable = status != TextFile::ReadStatus::Failed && recovered != TextFile::Recovery::Failed;
    m_hostsReadError = status == TextFile::ReadStatus::Failed ? *error
                       : m_hostsReadable                      ? QString()
                                                              : recovery;
    if (status != TextFile::ReadStatus::Ok)
        return false;
    m_hosts.load(bytes);
    // No rows leave the window at the height it has.
    if (m_hosts.rowCount() > 0)
        fitToRows(m_hosts.rowCount());
    return true;
}

void FormMain::reloadHostsFile()
{
    QString error;
    if (!readHostsFile(&error))
        MessageBox::show(this, QStringLiteral("读取失败！\r\n") + error);
}

QString FormMain::backupFolder() const
{
    return appDirectory() + QStringLiteral("backup");
}

HostsSaver FormMain::hostsSaver()
{
    HostsSaver saver(m_hostsPath, backupFolder());
    if (m_options.saveFile)
        saver.setSaveFile(m_options.saveFile);
    saver.setElevate([this](const QByteArray& base, const QByteArray& bytes, QString* error) {
        const int timeoutMs =
            m_options.elevatedSaveTimeoutMs > 0 ? m_options.elevatedSaveTimeoutMs : 10 * 60 * 1000;
        return ElevatedSave::run(this, Platform::hostsElevation(executableDir()), base, bytes, timeoutMs, error,
                                 m_options.startElevatedWriter);
    });
    return saver;
}

bool FormMain::writeHostsFile(QString* error)
{
    m_backupError.clear();
    m_wroteHostsFile = false;
    if (!m_hostsReadable) {
        *error = QStringLiteral("HOST文件上次没有读取完整，保存会丢失没有读到的内容。请先重新读取HOST文件。\r\n")
                 + m_hostsReadError;
        return false;
    }
    HostsSaver saver = hostsSaver();
    const bool saved = saver.save(m_hosts, error);
    m_backupError = saver.backupNote();
    m_wroteHostsFile = saver.wroteFile();
    return saved;
}

void FormMain::saveHostsFile()
{
    QString error;
    const QList<RowChange> changes = m_hosts.changes();
    if (!writeHostsFile(&error)) {
        MessageBox::show(this, kSaveFailed + error);
        return;
    }
    // A backup that could not be written does not stop the save, but the user should know.
    QStringList lines{kSaved};
    if (!m_backupError.isEmpty())
        lines << m_backupError;
    // The file holds the new content even when it cannot be read back: that is said as it is.
    if (!readHostsFile(&error))
        lines << QStringLiteral("但重新读取HOST文件失败: ") + error;
    else if (m_wroteHostsFile)
        lines << checkEffect(changes);
    MessageBox::show(this, lines.join(QStringLiteral("\r\n")));
}

QStringList FormMain::checkEffect(const QList<RowChange>& changes)
{
    // The cache is flushed after every save that changed the file; then each changed row's host
    // is asked, side by side, as a lookup that misses the hosts file may wait on DNS.
    const Platform::NameService names = m_options.names.withSystemDefaults();
    const QString unavailable = names.unavailable();
    int more = 0;
    m_deadLines->waitUntilReady(); // the earlier lines of a large file
    const QList<EffectCheck::Probe> probes = EffectCheck::plan(changes, m_hosts, *m_deadLines, 20, &more);
    Platform::CacheFlush flush;
    QList<EffectCheck::Answer> answers(probes.size());
    if (unavailable.isEmpty()) {
        runBeside([&] {
            flush = names.flush();
            std::vector<std::thread> lookups;
            for (qsizetype i = 0; i < probes.size(); ++i) {
                lookups.emplace_back([&, i] {
                    answers[i].addresses = names.lookup(probes[i].host, &answers[i].error);
                });
            }
            for (std::thread& t : lookups)
                t.join();
        });
    } else if (probes.isEmpty() && more == 0) {
        return {};
    }
    return EffectCheck::lines(probes, answers, flush, more, unavailable);
}

void FormMain::runBeside(const std::function<void()>& work)
{
    QEventLoop wait;
    std::thread worker([&] {
        work();
        QMetaObject::invokeMethod(&wait, &QEventLoop::quit, Qt::QueuedConnection);
    });
    setEnabled(false);
    wait.exec(QEventLoop::ExcludeUserInputEvents);
    worker.join();
    setEnabled(true);
}

void FormMain::addSpeedTestAction(QMenu& menu, int row)
{
    QAction* action = menu.addAction(QStringLiteral("测速(&T)"));
    action->setObjectName(QStringLiteral("speedTestAction"));
    connect(action, &QAction::triggered, this, [this, row] { openSpeedTest(row); });
}

void FormMain::openSpeedTest(int row)
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
                                       m_options.speedTimeoutMs, this);
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

bool FormMain::startAndReport(const Command& cmd)
{
    const StartResult result = m_options.start ? m_options.start(cmd) : Platform::start(cmd);
    if (!result.ok)
        MessageBox::show(this, QStringLiteral("启动失败！\r\n") + cmd.commandLine + QStringLiteral("\r\n") + result.error);
    return result.ok;
}

void FormMain::editHostsFile()
{
    startAndReport(editorCommand(m_hostsPath));
}

// ---- the common IP list ----

bool FormMain::loadCommonIps(QString* error)
{
    QStringList ips;
    const bool ok = readFieldsFile(ownFile(QStringLiteral("IP.txt")), TextCodec(m_options.encoding), &ips, error);
    m_commonIps->setStringList(ips); // the fields read before a failure stay
    return ok;
}

void FormMain::editCommonIps()
{
    Command cmd = editorCommand(appDirectory() + QStringLiteral("ip.txt"));
    cmd.path = ownFile(QStringLiteral("ip.txt")); // IP.txt, also where names are case-sensitive
    startAndReport(cmd);
}

// ---- the ping queue ----

QString FormMain::queueText() const
{
    QString text = m_textIp->toPlainText();
    text.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
    return text;
}

bool FormMain::loadQueue(QString* error)
{
    m_textIp->clear();
    QString text;
    const PingQueue::LoadStatus status =
        PingQueue::load(ownFile(QStringLiteral("Ping.txt")), TextCodec(m_options.encoding), &text, error);
    m_queueRefusal.clear();
    if (status == PingQueue::LoadStatus::Refused) {
        // Start-up shows no message: the log says why the box is empty.
        m_queueRefusal = *error;
        log(m_queueRefusal);
        return false;
    }
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    m_textIp->setPlainText(text);
    return status == PingQueue::LoadStatus::Loaded;
}

bool FormMain::writeQueue(QString* error)
{
    if (!m_queueRefusal.isEmpty()) {
        *error = m_queueRefusal; // the file holds what the box could not: it is not overwritten
        return false;
    }
    const QString text = queueText() + QStringLiteral("\r\n");
    QByteArray bytes;
    const TextCodec codec(m_options.encoding);
    prepareAppDirectory();
    if (!codec.encode(text, &bytes)) {
        *error = QStringLiteral("任务队列含有 %1 编码无法表示的字符").arg(QString::fromLatin1(codec.encoding()));
        return false;
    }
    return TextFile::save(ownFile(QStringLiteral("Ping.txt")), bytes, error);
}

void FormMain::saveQueue()
{
    QString error;
    if (writeQueue(&error))
        MessageBox::show(this, kSaved);
    else
        MessageBox::show(this, kSaveFailed + error);
}

// ---- the batch ping ----

void FormMain::log(const QString& entry)
{
    m_listLog->addItem(entry);
    m_listLog->setCurrentRow(m_listLog->count() - 1);
}

void FormMain::startBatch()
{
    // The folder is found once per click; the date is taken anew for each target, so that a
    // batch across midnight names the new day. The window takes no input while the pings start.
    const QString appDir = prepareAppDirectory();
    QString error;
    setEnabled(false);
    const bool started =
        m_pingRunner->start(queueText(), m_textN->text(), [&] { return resultFolder(appDir); }, &error);
    setEnabled(true);
    MessageBox::show(this, started ? QStringLiteral("后台启动完成!") : QStringLiteral("后台启动失败！\r\n") + error);
}

void FormMain::openResultFolder()
{
    startAndReport(PingCommands::explorerCommand(resultFolder(appDirectory())));
}
