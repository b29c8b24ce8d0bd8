#include "gui/FormMain.h"

#include "core/app/AppPath.h"
#include "core/app/FieldReader.h"
#include "core/app/Layout.h"
#include "core/hosts/EditorCommand.h"
#include "core/hosts/HostsBackups.h"
#include "core/ping/PingBatch.h"
#include "core/ping/PingCommands.h"
#include "core/ping/PingQueue.h"
#include "gui/ElevatedSave.h"
#include "gui/IpBox.h"
#include "gui/MessageBox.h"
#include "gui/RowsView.h"
#include "platform/ProcessWatcher.h"

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
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QStandardPaths>
#include <QStringListModel>
#include <QTabWidget>
#include <QTimer>

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
      m_commonIps(new QStringListModel(this)),
      m_pingWatcher(new ProcessWatcher(this)),
      m_pingEndTimer(new QTimer(this))
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
    m_tabStrip = control<QTabWidget>("TabStrip1");
    m_frame1 = control<QFrame>("Frame1");
    m_frame2 = control<QFrame>("Frame2");
    m_cmdExit = control<QPushButton>("CmdExit");
    m_textIp = control<QPlainTextEdit>("TextIP");
    m_textN = control<QLineEdit>("TextN");
    m_listLog = control<QListWidget>("ListLog");

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
        if (qstrcmp(c.name, "TextIP") == 0) {
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
    for (const char* name : {"Check1(0)", "Text1(0)", "Combo1(0)", "Check2(0)", "Frame2"})
        control<QWidget>(name)->hide();

    auto* label4 = control<QLabel>("Label4");
    label4->setText(QStringLiteral("修改HOST文件需要管理员权限"));
    QPalette palette = label4->palette();
    palette.setColor(QPalette::WindowText, QColor(255, 0, 0));
    label4->setPalette(palette);
}

void FormMain::createRowsView()
{
    // The rows live below the buttons of the page; their positions are the page's.
    const Layout::Control& read = Layout::control("CmdRead");
    const int rowsTop = Layout::toPixels(read.top + read.height) + 6;
    m_rows = new RowsView(&m_hosts, m_commonIps, rowsTop, m_frame1);
    m_rows->setGeometry(2, rowsTop, m_frame1->width() - 4, 0);
    m_rows->setPageHeight(m_frame1->height());
    // The rows come after the page's last button in the keyboard order.
    m_rows->setTabPredecessor(control<QWidget>("Command1"));
}

void FormMain::stackControls()
{
    // From the bottom: Label4, TabStrip1, Frame1, CmdExit, Frame2.
    for (const char* name : {"Label4", "TabStrip1", "Frame1", "CmdExit", "Frame2"})
        control<QWidget>(name)->raise();
}

void FormMain::connectHandlers()
{
    connect(m_tabStrip, &QTabWidget::currentChanged, this, &FormMain::showSelectedPage);
    connect(m_pingWatcher, &ProcessWatcher::finished, this, &FormMain::queuePingEnd);
    connect(m_pingEndTimer, &QTimer::timeout, this, &FormMain::reportQueuedPingEnds);
    const std::pair<const char*, void (FormMain::*)()> handlers[] = {
        {"CmdExit", &FormMain::exitProgram},      {"CmdRead", &FormMain::reloadHostsFile},
        {"CmdAdd", &FormMain::addEntryRow},       {"CmdSave", &FormMain::saveHostsFile},
        {"Command1", &FormMain::editHostsFile},   {"CmdIP", &FormMain::editCommonIps},
        {"Command2", &FormMain::startBatch},      {"Command3", &FormMain::saveQueue},
        {"Command4", &FormMain::openResultFolder},
    };
    for (const auto& [name, handler] : handlers)
        connect(control<QPushButton>(name), &QPushButton::clicked, this, handler);
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
    const int nonClient = Layout::toPixels(Layout::kNonClientHeight);
    move(available.x() + (available.width() - width()) / 2,
         available.y() + qMax(0, (available.height() - height() - nonClient) / 2));
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
    setFixedHeight(Layout::toPixels(fit.windowHeight - Layout::kNonClientHeight));
    m_cmdExit->move(m_cmdExit->x(), Layout::toPixels(fit.exitTop));
    setHeight(m_textIp, fit.textIpHeight);
    setHeight(m_listLog, fit.listLogHeight);
    m_rows->setPageHeight(m_frame1->height());
}

void FormMain::addEntryRow()
{
    m_hosts.addRow();
    fitToRows(m_hosts.rowCount());
    m_rows->scrollToRow(m_hosts.rowCount());
}

// ---- the hosts file ----

bool FormMain::readHostsFile(QString* error)
{
    m_hosts.clear();
    // A save that was cut off (the program killed, the power lost) left a kept copy of the old
    // content: the file gets it back before it is read, and the user learns why.
    QString recovery;
    const TextFile::Recovery recovered = TextFile::recover(m_hostsPath, &recovery);
    if (recovered != TextFile::Recovery::Nothing)
        MessageBox::show(this, recovery);
    QByteArray bytes;
    const TextFile::ReadStatus status = TextFile::read(m_hostsPath, &bytes, error);
    // A file that is missing may be created by a save; one that could not be read, or not be
    // put right, must not be overwritten by the few rows that the user adds.
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

bool FormMain::writeHostsFile(QString* error)
{
    m_backupError.clear();
    if (!m_hostsReadable) {
        *error = QStringLiteral("HOST文件上次没有读取完整，保存会丢失没有读到的内容。请先重新读取HOST文件。\r\n")
                 + m_hostsReadError;
        return false;
    }
    // The file as it is now: another program may have changed it since it was read.
    QByteArray current;
    const TextFile::ReadStatus status = TextFile::read(m_hostsPath, &current, error);
    if (status == TextFile::ReadStatus::Failed)
        return false;
    if (current == m_hosts.fileBytes())
        current = m_hosts.fileBytes(); // one buffer for both, before the new bytes are made
    QByteArray bytes;
    if (!m_hosts.mergeInto(current, &bytes, error))
        return false;
    QString backup;
    if (status == TextFile::ReadStatus::Ok) {
        if (bytes == current)
            return true; // nothing to change
        if (!HostsBackups::write(backupFolder(), current, QDateTime::currentDateTime(), &backup,
                                 &m_backupError)) {
            m_backupError = QStringLiteral("没有写成备份: ") + m_backupError;
            backup.clear();
        }
    }
    current.clear();
    bool saved = m_options.saveFile ? m_options.saveFile(m_hostsPath, bytes, error)
                                    : TextFile::save(m_hostsPath, bytes, error);
    // Only a lack of rights is something the administrator's password can overcome; a
    // read-only file system or a missing folder is not.
    if (!saved && Platform::writeAccess(m_hostsPath) == Platform::WriteAccess::Denied) {
        const int timeoutMs =
            m_options.elevatedSaveTimeoutMs > 0 ? m_options.elevatedSaveTimeoutMs : 10 * 60 * 1000;
        saved = ElevatedSave::run(this, Platform::hostsElevation(executableDir()), bytes, timeoutMs, error,
                                  m_options.startElevatedWriter);
    }
    if (!saved && !backup.isEmpty())
        HostsBackups::discard(backup); // the file still holds what it would have kept
    return saved;
}

void FormMain::saveHostsFile()
{
    QString error;
    if (!writeHostsFile(&error) || !readHostsFile(&error)) {
        MessageBox::show(this, kSaveFailed + error);
        return;
    }
    // A backup that could not be written does not stop the save, but the user should know.
    MessageBox::show(this,
                     m_backupError.isEmpty() ? kSaved : kSaved + QStringLiteral("\r\n") + m_backupError);
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
    QStringList fields;
    const bool ok = readFieldsFile(ownFile(QStringLiteral("Ping.txt")), TextCodec(m_options.encoding), &fields, error);
    QString text = PingQueue::fromFields(fields);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    m_textIp->setPlainText(text);
    return ok;
}

bool FormMain::writeQueue(QString* error)
{
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

QList<StartResult> FormMain::startBeside(const QList<QList<Command>>& groups)
{
    // The starts run beside the window, which keeps painting meanwhile but takes no input
    // until they are done: no other handler runs in between.
    QList<StartResult> results;
    QEventLoop wait;
    std::thread starter([&] {
        results = Platform::startGroups(groups, m_options.start);
        QMetaObject::invokeMethod(&wait, &QEventLoop::quit, Qt::QueuedConnection);
    });
    setEnabled(false);
    wait.exec(QEventLoop::ExcludeUserInputEvents);
    starter.join();
    setEnabled(true);
    return results;
}

void FormMain::startBatch()
{
    QString folderError;
    // The folder is found once per click; the date is taken anew for each target, so that a
    // batch across midnight names the new day.
    const QString appDir = prepareAppDirectory();
    const bool folderReady = Platform::createDirectory(resultFolder(appDir), &folderError);
    const QList<PingBatch::Target> plan = PingBatch::plan(
        queueText(), m_textN->text(), [&] { return resultFolder(appDir); }, QTime::currentTime());

    QList<QList<Command>> groups;
    for (const PingBatch::Target& t : plan) {
        if (t.skipped.isEmpty())
            groups.append(t.commands);
    }
    if (!folderReady && !groups.isEmpty()) {
        // The pings would have nowhere to write: none is started, and the cause is named.
        for (const PingBatch::Target& t : plan) {
            if (!t.skipped.isEmpty())
                log(PingBatch::plannedEntry(t));
        }
        log(QStringLiteral("无法创建结果目录: ") + folderError);
        MessageBox::show(this, QStringLiteral("后台启动失败！\r\n") + folderError);
        return;
    }

    // Each run's summary will follow the end its result file has now, before its block.
    QList<qint64> offsets;
    for (const QList<Command>& group : groups)
        offsets.append(TextFile::size(group.last().path));
    const QDateTime startedAt = QDateTime::currentDateTime();
    const QList<StartResult> results = startBeside(groups);

    const int batch = m_pingRuns.beginBatch();
    qsizetype started = 0;
    for (const PingBatch::Target& t : plan) {
        log(PingBatch::plannedEntry(t));
        if (!t.skipped.isEmpty())
            continue;
        const StartResult& result = results[started];
        log(PingBatch::startedEntry(result));
        // A start without a handle (a test's stand-in, a system that gave none) is not watched:
        // nothing is known of its end, so nothing is said of it.
        if (result.process.isValid()) {
            const PingReport::Run run{t.target, t.commands.last().path, offsets[started], startedAt};
            m_pingWatcher->watch(m_pingRuns.add(batch, run), result.process);
        }
        ++started;
    }
    MessageBox::show(this, QStringLiteral("后台启动完成!"));
}

void FormMain::queuePingEnd(quint64 id, const ProcessEnd& end)
{
    m_endedPings.append({id, end});
    if (!m_pingEndTimer->isActive())
        m_pingEndTimer->start(0);
}

void FormMain::reportQueuedPingEnds()
{
    // The pings of a batch of fast targets end together, often before the click is over. Their
    // reports (a file read, a log entry, a table row each) are made a few milliseconds' worth at
    // a time, so that the window paints and takes input between them however many there are.
    QElapsedTimer spent;
    spent.start();
    while (!m_endedPings.isEmpty() && spent.elapsed() < 5) {
        const auto [id, end] = m_endedPings.takeFirst();
        reportPingEnd(id, end);
    }
    if (m_endedPings.isEmpty())
        m_pingEndTimer->stop();
}

void FormMain::reportPingEnd(quint64 id, const ProcessEnd& end)
{
    const PingReport::Run* run = m_pingRuns.find(id);
    if (!run)
        return;
    const QDateTime ended = QDateTime::currentDateTime();
    const TextCodec codec(m_options.encoding);
    const std::optional<PingSummary> summary = PingReport::readSummary(*run, codec);
    log(PingReport::endEntry(run->target, summary, end));

    QString error;
    const QString table = PingReport::tableFile(run->resultFile);
    if (!TextFile::append(table, codec.encode(PingReport::tableHeader()),
                          codec.encode(PingReport::tableRow(*run, ended, summary, end)), &error))
        log(QStringLiteral("汇总表写入失败: ") + error);

    const auto ending = m_pingRuns.end(id, summary && summary->received > 0);
    if (ending && ending->batchDone)
        log(PingReport::batchEntry(ending->batchPings, ending->batchAnswered));
}

void FormMain::openResultFolder()
{
    startAndReport(PingCommands::explorerCommand(resultFolder(appDirectory())));
}
