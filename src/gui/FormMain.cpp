#include "gui/FormMain.h"

#include "core/app/Controls.h"
#include "core/app/Layout.h"
#include "gui/BatchPage.h"
#include "gui/HostsPage.h"
#include "gui/IpBox.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QStringListModel>
#include <QTabWidget>

// The icons live in the gui library, which the linker would drop without this reference.
static void initResources()
{
    Q_INIT_RESOURCE(tarvix);
}

namespace {

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

// A page's options, with the window's encoding and program starter where it names none.
template <typename PageOptions> PageOptions withShared(PageOptions page, const FormMainOptions& window)
{
    if (page.encoding.isEmpty())
        page.encoding = window.encoding;
    if (!page.start)
        page.start = window.start;
    return page;
}

} // namespace

FormMain::FormMain(const FormMainOptions& options, QWidget* parent)
    : QWidget(parent), m_options(options), m_folder(options.executableDir, options.userDataDir),
      m_commonIps(new QStringListModel(this))
{
    initResources();
    setObjectName(QStringLiteral("FormMain"));
    setWindowTitle(QStringLiteral("Tarvix"));
    setWindowIcon(QIcon(QStringLiteral(":/icons/tarvix.ico")));
    buildControls();
    m_hostsPage = new HostsPage(this, withShared(options.hosts, options), m_folder, m_commonIps);
    // TCP targets of a batch resolve and connect as 测速 does, unless the batch names its own.
    BatchPageOptions batch = withShared(options.batch, options);
    if (!batch.names.lookup && !batch.names.dns && !batch.connect) {
        batch.names = options.hosts.names;
        batch.connect = options.hosts.connect;
    }
    m_batchPage = new BatchPage(this, batch, m_folder);
    connect(m_hostsPage, &HostsPage::rowsChanged, this, &FormMain::fitToRows);
    loadAtStartUp();
    centreOnScreen();
}

FormMain::~FormMain() = default;

template <typename T> T* FormMain::control(const char* name) const
{
    return findChild<T*>(QString::fromLatin1(name));
}

HostsDocument& FormMain::hosts()
{
    return m_hostsPage->hosts();
}

QString FormMain::queueText() const
{
    return m_batchPage->queueText();
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
            w->setAccessibleName(Layout::spokenName(c));
            place(w, c);
        }
    }
    m_tabStrip = control<QTabWidget>(Control::TabStrip);
    m_hostsFrame = control<QFrame>(Control::HostsPage);
    m_batchFrame = control<QFrame>(Control::PingPage);
    m_exitButton = control<QPushButton>(Control::Exit);
    setDesignTabOrder();
    setDesignState();
    stackControls();
    connect(m_tabStrip, &QTabWidget::currentChanged, this, &FormMain::showSelectedPage);
    connect(m_exitButton, &QPushButton::clicked, this, &FormMain::exitProgram);
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
    for (const char* name :
         {Control::TemplateDisable, Control::TemplateHost, Control::TemplateIp, Control::TemplateDelete,
          Control::PingPage, Control::FindBox, Control::FindCount})
        control<QWidget>(name)->hide();

    auto* label4 = control<QLabel>(Control::RightsNotice);
    label4->setText(QStringLiteral("修改HOST文件需要管理员权限"));
    QPalette palette = label4->palette();
    palette.setColor(QPalette::WindowText, QColor(255, 0, 0));
    label4->setPalette(palette);
}

void FormMain::stackControls()
{
    // From the bottom: Label4, TabStrip1, Frame1, CmdExit, Frame2.
    for (const char* name : {Control::RightsNotice, Control::TabStrip, Control::HostsPage, Control::Exit,
                             Control::PingPage})
        control<QWidget>(name)->raise();
}

void FormMain::loadAtStartUp()
{
    // Each step stands alone: one that fails is abandoned and the next one runs, silently.
    QString ignored;
    m_folder.prepare();
    m_hostsPage->loadAtStartUp();
    m_batchPage->loadQueue(&ignored);
    m_batchFrame->move(m_hostsFrame->x(), m_hostsFrame->y());
    m_batchFrame->resize(m_hostsFrame->width(), m_batchFrame->height());
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
    m_hostsPage->startIndexing(); // once the window shows: nothing of it is needed for the first paint
    // The rows set the window's outer height: with the real frame known, the client gets the
    // rest of it.
    if (m_outerHeight > 0 && height() != m_outerHeight - nonClientHeight())
        setFixedHeight(m_outerHeight - nonClientHeight());
}

// ---- tabs, height and ending ----

void FormMain::showSelectedPage()
{
    const bool hostsPage = m_tabStrip->currentIndex() == 0;
    m_hostsFrame->setVisible(hostsPage);
    m_batchFrame->setVisible(!hostsPage);
}

void FormMain::exitProgram()
{
    close();
    QCoreApplication::quit();
}

void FormMain::fitToRows(int rows)
{
    int maxHeight = m_options.maxWindowHeight;
    if (maxHeight < 0) {
        const QScreen* screen = QGuiApplication::primaryScreen();
        maxHeight = screen ? Layout::toTwips(screen->availableGeometry().height()) : 0;
    }
    const Layout::Fit fit = Layout::refit(rows, maxHeight);
    setHeight(m_hostsFrame, fit.frameHeight);
    setHeight(m_batchFrame, fit.frameHeight);
    setHeight(m_tabStrip, fit.tabStripHeight);
    m_outerHeight = Layout::toPixels(fit.windowHeight);
    setFixedHeight(m_outerHeight - nonClientHeight());
    m_exitButton->move(m_exitButton->x(), Layout::toPixels(fit.exitTop));
    // The find box keeps its place at the foot of the HOST page.
    const int frameDesignHeight = Layout::control(Control::HostsPage).height;
    for (QWidget* w : {control<QWidget>(Control::FindBox), control<QWidget>(Control::FindCount)}) {
        const int fromFoot = frameDesignHeight - Layout::control(qPrintable(w->objectName())).top;
        w->move(w->x(), Layout::toPixels(fit.frameHeight - fromFoot));
    }
    setHeight(control<QWidget>(Control::Queue), fit.textIpHeight);
    setHeight(control<QWidget>(Control::Log), fit.listLogHeight);
    m_hostsPage->setPageHeight(m_hostsFrame->height());
}
