#include "app/FormMain.h"

#include "app/AppPath.h"
#include "app/Layout.h"
#include "hosts/EditorCommand.h"
#include "hosts/FieldReader.h"
#include "hosts/RowsView.h"
#include "ping/PingBatch.h"
#include "ping/PingCommands.h"
#include "ping/PingQueue.h"
#include "platform/MessageBox.h"
#include "platform/Platform.h"
#include "platform/TextFile.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QEventLoop>
#include <QGuiApplication>
#include <QHash>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>

#include <algorithm>
#include <thread>

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

} // namespace

FormMain::FormMain(const FormMainOptions& options, QWidget* parent)
    : QWidget(parent),
      m_options(options),
      m_hostsPath(options.hostsPath.isEmpty() ? Platform::hostsPath() : options.hostsPath),
      m_hosts(options.encoding)
{
    setObjectName(QStringLiteral("FormMain"));
    setWindowTitle(QStringLiteral("Tarvix"));
    setWindowIcon(QIcon(QStringLiteral(":/icons/tarvix.ico")));
    buildControls();
    Form_Load();

    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect available = screen->availableGeometry();
        const int nonClient = Layout::toPixels(Layout::kNonClientHeight);
        move(available.x() + (available.width() - width()) / 2,
             available.y() + qMax(0, (available.height() - height() - nonClient) / 2));
    }
}

FormMain::~FormMain() = default;

void FormMain::buildControls()
{
    setFixedSize(Layout::toPixels(Layout::kClientWidth), Layout::toPixels(Layout::kClientHeight));

    int count = 0;
    const Layout::Control* table = Layout::controls(&count);
    QHash<QString, QWidget*> made;
    // Containers first, so that their children find them.
    for (int pass = 0; pass < 2; ++pass) {
        for (int i = 0; i < count; ++i) {
            const Layout::Control& c = table[i];
            if ((c.container == nullptr) != (pass == 0))
                continue;
            QWidget* parent = c.container ? made.value(QString::fromLatin1(c.container)) : this;
            const QString caption = QString::fromUtf8(c.caption);
            QWidget* w = nullptr;
            switch (c.kind) {
            case Layout::Kind::Window:
                break;
            case Layout::Kind::TabStrip: {
                auto* tabs = new QTabWidget(parent);
                // The tab strip holds no controls: the frames are laid over its pages.
                tabs->addTab(new QWidget, QStringLiteral("HOST编辑"));
                tabs->addTab(new QWidget, QStringLiteral("批量PING"));
                m_tabStrip = tabs;
                w = tabs;
                break;
            }
            case Layout::Kind::Frame: {
                auto* frame = new QFrame(parent);
                frame->setFrameStyle(QFrame::Box | QFrame::Sunken);
                frame->setAutoFillBackground(true);
                w = frame;
                break;
            }
            case Layout::Kind::Button:
                w = new QPushButton(caption, parent);
                static_cast<QPushButton*>(w)->setAutoDefault(false);
                break;
            case Layout::Kind::Label:
                w = new QLabel(caption, parent);
                break;
            case Layout::Kind::CheckBox:
                w = new QCheckBox(caption, parent);
                break;
            case Layout::Kind::TextBox:
                if (qstrcmp(c.name, "TextIP") == 0) {
                    auto* edit = new QPlainTextEdit(parent);
                    edit->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
                    edit->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
                    edit->setTabChangesFocus(true);
                    w = edit;
                } else {
                    w = new QLineEdit(caption, parent);
                }
                break;
            case Layout::Kind::ComboBox: {
                auto* combo = new QComboBox(parent);
                combo->setEditable(true);
                combo->setInsertPolicy(QComboBox::NoInsert);
                w = combo;
                break;
            }
            case Layout::Kind::ListBox: {
                auto* list = new QListWidget(parent);
                list->setUniformItemSizes(true);
                w = list;
                break;
            }
            }
            w->setObjectName(QString::fromLatin1(c.name));
            place(w, c);
            made.insert(w->objectName(), w);
        }
    }

    // Keyboard order follows the layout's tab index (the table is in that order).
    QWidget* previous = nullptr;
    for (int i = 0; i < count; ++i) {
        QWidget* w = made.value(QString::fromLatin1(table[i].name));
        if (w->focusPolicy() == Qt::NoFocus)
            continue;
        if (previous)
            setTabOrder(previous, w);
        previous = w;
    }

    m_frame1 = static_cast<QFrame*>(made.value(QStringLiteral("Frame1")));
    m_frame2 = static_cast<QFrame*>(made.value(QStringLiteral("Frame2")));
    m_cmdExit = static_cast<QPushButton*>(made.value(QStringLiteral("CmdExit")));
    m_combo0 = static_cast<QComboBox*>(made.value(QStringLiteral("Combo1(0)")));
    m_textIp = static_cast<QPlainTextEdit*>(made.value(QStringLiteral("TextIP")));
    m_textN = static_cast<QLineEdit*>(made.value(QStringLiteral("TextN")));
    m_listLog = static_cast<QListWidget*>(made.value(QStringLiteral("ListLog")));

    // The template row is never shown; the page of tab 2 starts hidden.
    for (const char* name : {"Check1(0)", "Text1(0)", "Combo1(0)", "Check2(0)"})
        made.value(QString::fromLatin1(name))->hide();
    m_frame2->hide();

    auto* label4 = static_cast<QLabel*>(made.value(QStringLiteral("Label4")));
    label4->setText(QStringLiteral("修改HOST文件需要管理员权限"));
    QPalette palette = label4->palette();
    palette.setColor(QPalette::WindowText, QColor(255, 0, 0));
    label4->setPalette(palette);

    // The rows live below the buttons of the page; their positions are the page's.
    const int rowsTop = Layout::toPixels(Layout::control("CmdRead").top + Layout::control("CmdRead").height) + 6;
    m_rows = new RowsView(&m_hosts, rowsTop, m_frame1);
    m_rows->setGeometry(2, rowsTop, m_frame1->width() - 4, 0);
    m_rows->setPageHeight(m_frame1->height());

    // Stacking, from the bottom: Label4, TabStrip1, Frame1, CmdExit, Frame2.
    for (const char* name : {"Label4", "TabStrip1", "Frame1", "CmdExit", "Frame2"})
        made.value(QString::fromLatin1(name))->raise();

    connect(m_tabStrip, &QTabWidget::currentChanged, this, &FormMain::TabStrip1_Click);
    const std::pair<const char*, void (FormMain::*)()> handlers[] = {
        {"CmdExit", &FormMain::CmdExit_Click},   {"CmdRead", &FormMain::CmdRead_Click},
        {"CmdAdd", &FormMain::CmdAdd_Click},     {"CmdSave", &FormMain::CmdSave_Click},
        {"Command1", &FormMain::Command1_Click}, {"CmdIP", &FormMain::CmdIP_Click},
        {"Command2", &FormMain::Command2_Click}, {"Command3", &FormMain::Command3_Click},
        {"Command4", &FormMain::Command4_Click},
    };
    for (const auto& [name, handler] : handlers)
        connect(static_cast<QPushButton*>(made.value(QString::fromLatin1(name))), &QPushButton::clicked, this,
                handler);
}

void FormMain::Form_Load()
{
    // Each step stands alone: one that fails is abandoned and the next one runs, silently.
    QString ignored;
    LoadIP(&ignored);
    LoadHost(&ignored);
    LoadPing(&ignored);
    m_frame2->move(m_frame1->x(), m_frame1->y());
    m_frame2->resize(m_frame1->width(), m_frame2->height());
}

QString FormMain::GetAppPath() const
{
    const QString dir = m_options.executableDir.isEmpty() ? Platform::executableDir() : m_options.executableDir;
    return AppPath::fromReportedDir(dir, Platform::separator());
}

QString FormMain::ownFile(const QString& name) const
{
    return Platform::resolveFileName(GetAppPath(), name);
}

QDate FormMain::today() const
{
    return m_options.today ? m_options.today() : QDate::currentDate();
}

// ---- tabs and ending ----

void FormMain::TabStrip1_Click()
{
    if (m_tabStrip->currentIndex() + 1 == 1) {
        m_frame1->show();
        m_frame2->hide();
    } else {
        m_frame1->hide();
        m_frame2->show();
    }
}

void FormMain::CmdExit_Click()
{
    close();
    QCoreApplication::quit();
}

// ---- rows ----

void FormMain::refit(int rows)
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

void FormMain::AddItemSub()
{
    // The document holds the rows; the view gives widgets to those in sight.
    while (m_hosts.rowCount() < m_itemIndex)
        m_hosts.addRow();
    refit(m_hosts.rowCount());
    m_rows->rowsChanged();
}

void FormMain::CmdAdd_Click()
{
    AddItemSub();
    ++m_itemIndex;
    m_rows->scrollToRow(m_hosts.rowCount());
}

// ---- the hosts file ----

bool FormMain::LoadHost(QString* error)
{
    m_hosts.clear();
    m_itemIndex = 1;

    QByteArray bytes;
    const TextFile::ReadStatus status = TextFile::read(m_hostsPath, &bytes, error);
    // A file that is missing may be created by a save; one that could not be read must not be
    // overwritten by the few rows that the user adds.
    m_hostsReadable = status != TextFile::ReadStatus::Failed;
    m_hostsReadError = status == TextFile::ReadStatus::Failed ? *error : QString();
    if (status != TextFile::ReadStatus::Ok) {
        m_rows->reset(); // the rows are gone
        return false;
    }

    m_hosts.load(bytes);
    m_itemIndex = m_hosts.rowCount() + 1;
    if (m_hosts.rowCount() > 0)
        refit(m_hosts.rowCount());
    m_rows->reset();
    return true;
}

void FormMain::CmdRead_Click()
{
    QString error;
    if (!LoadHost(&error))
        MessageBox::show(this, QStringLiteral("读取失败！\r\n") + error);
}

bool FormMain::SaveHost(QString* error)
{
    if (!m_hostsReadable) {
        *error = QStringLiteral("HOST文件上次没有读取完整，保存会丢失没有读到的内容。请先重新读取HOST文件。\r\n")
                 + m_hostsReadError;
        return false;
    }
    QByteArray bytes;
    if (!m_hosts.toBytes(&bytes, error))
        return false;
    return TextFile::save(m_hostsPath, bytes, error, m_options.saveFaults);
}

void FormMain::CmdSave_Click()
{
    QString error;
    if (!SaveHost(&error) || !LoadHost(&error)) {
        MessageBox::show(this, kSaveFailed + error);
        return;
    }
    MessageBox::show(this, kSaved);
}

StartResult FormMain::start(const Command& cmd)
{
    return m_options.start ? m_options.start(cmd) : Platform::start(cmd);
}

bool FormMain::startReported(const Command& cmd)
{
    const StartResult result = start(cmd);
    if (!result.ok)
        MessageBox::show(this, QStringLiteral("启动失败！\r\n") + cmd.commandLine + QStringLiteral("\r\n") + result.error);
    return result.ok;
}

void FormMain::Command1_Click()
{
    startReported(editorCommand(m_hostsPath));
}

// ---- the common IP list ----

bool FormMain::LoadIP(QString* error)
{
    m_combo0->clear();
    const bool ok = readFieldsFile(ownFile(QStringLiteral("IP.txt")), TextCodec(m_options.encoding),
                                   &m_commonIps, error);
    m_combo0->addItems(m_commonIps);
    m_rows->setCommonIps(m_commonIps);
    return ok;
}

void FormMain::CmdIP_Click()
{
    Command cmd = editorCommand(GetAppPath() + QStringLiteral("ip.txt"));
    cmd.path = ownFile(QStringLiteral("ip.txt")); // IP.txt, also where names are case-sensitive
    startReported(cmd);
}

// ---- the ping queue ----

QString FormMain::queueText() const
{
    QString text = m_textIp->toPlainText();
    text.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
    return text;
}

bool FormMain::LoadPing(QString* error)
{
    m_textIp->clear();
    QStringList fields;
    const bool ok = readFieldsFile(ownFile(QStringLiteral("Ping.txt")), TextCodec(m_options.encoding), &fields, error);
    QString text = PingQueue::fromFields(fields);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    m_textIp->setPlainText(text);
    return ok;
}

bool FormMain::SavePing(QString* error)
{
    const QString text = queueText() + QStringLiteral("\r\n");
    QByteArray bytes;
    const TextCodec codec(m_options.encoding);
    if (!codec.encode(text, &bytes)) {
        *error = QStringLiteral("任务队列含有 %1 编码无法表示的字符").arg(QString::fromLatin1(codec.encoding()));
        return false;
    }
    return TextFile::save(ownFile(QStringLiteral("Ping.txt")), bytes, error);
}

void FormMain::Command3_Click()
{
    QString error;
    if (SavePing(&error))
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

void FormMain::Command2_Click()
{
    using namespace PingCommands;
    const QChar sep = Platform::separator();
    Platform::createDirectory(resultFolder(GetAppPath(), dateText(today()), sep));

    // Each started target: its separator, start-time and ping commands, in that order.
    const QString count = m_textN->text();
    const QList<PingBatch::Target> targets = PingBatch::targets(queueText(), count);
    QList<QList<Command>> groups;
    for (const PingBatch::Target& t : targets) {
        if (!t.skipped.isEmpty())
            continue;
        // The date is taken anew for each target: a batch across midnight names the new day.
        const QString file = resultFile(resultFolder(GetAppPath(), dateText(today()), sep), t.target);
        groups.append({separatorCommand(file), startTimeCommand(file, QTime::currentTime()),
                       pingCommand(t.target, count, file)});
    }

    QList<StartResult> results;
    if (m_options.start) {
        for (const QList<Command>& group : groups) {
            StartResult last;
            for (const Command& cmd : group)
                last = m_options.start(cmd);
            results.append(last);
        }
    } else {
        // The starts run beside the window, which keeps painting meanwhile but takes no input
        // until they are done: no other handler runs in between.
        QEventLoop wait;
        std::thread starter([&] {
            results = Platform::startGroups(groups);
            QMetaObject::invokeMethod(&wait, &QEventLoop::quit, Qt::QueuedConnection);
        });
        setEnabled(false);
        wait.exec(QEventLoop::ExcludeUserInputEvents);
        starter.join();
        setEnabled(true);
    }

    qsizetype started = 0;
    for (const PingBatch::Target& t : targets) {
        if (!t.skipped.isEmpty()) {
            log(PingBatch::skippedEntry(t));
            continue;
        }
        log(QStringLiteral("执行:") + groups[started].last().commandLine);
        const StartResult& result = results[started++];
        if (result.ok)
            log(QStringLiteral("执行完成，PID: ") + QString::number(result.pid));
        else
            log(QStringLiteral("执行失败:") + result.error);
    }
    MessageBox::show(this, QStringLiteral("后台启动完成!"));
}

void FormMain::Command4_Click()
{
    using namespace PingCommands;
    startReported(explorerCommand(resultFolder(GetAppPath(), dateText(today()), Platform::separator())));
}
