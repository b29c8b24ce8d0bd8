#pragma once

#include "core/app/AppFolder.h"
#include "gui/BatchPage.h"
#include "gui/HostsPage.h"

#include <QWidget>

class QFrame;
class QPushButton;
class QStringListModel;
class QTabWidget;
namespace Layout {
struct Control;
}

// Where the window finds what it works on. Tests and benchmarks point it at their own files
// and replace the program starter; the program uses the defaults.
struct FormMainOptions {
    QString executableDir;    // empty: the directory of the running executable
    QString userDataDir;      // empty: the user's data folder (QStandardPaths::AppDataLocation)
    int maxWindowHeight = -1; // in twips; -1: the screen's available height; 0: no limit
    // For both pages where their own options name none:
    QByteArray encoding;     // empty: the system's ANSI code page
    Platform::Starter start; // empty: the platform's
    HostsPageOptions hosts;
    BatchPageOptions batch;
};

// The program's only window: the controls of the layout table at their design places, the tab
// strip with the HOST page and the 批量PING page, the window's height fitted to the rows, and
// the start. The pages (HostsPage, BatchPage) take over their controls and do the work.
class FormMain : public QWidget
{
    Q_OBJECT

public:
    explicit FormMain(const FormMainOptions& options = FormMainOptions(), QWidget* parent = nullptr);
    ~FormMain() override;

    // The folder of IP.txt, Ping.txt and the result folders, ending in one separator, as
    // AppPath::ownFilesDir chooses it at the window's start.
    QString appDirectory() const { return m_folder.path(); }

    HostsPage& hostsPage() { return *m_hostsPage; }
    BatchPage& batchPage() { return *m_batchPage; }
    HostsDocument& hosts();
    QString queueText() const;

public slots:
    void showSelectedPage();  // TabStrip1: the page of the selected tab, the other one hidden
    void exitProgram();       // CmdExit: ends at once, nothing saved or asked
    void fitToRows(int rows); // the window's height for the rows, as far as the screen allows

protected:
    void showEvent(QShowEvent* event) override;

private:
    void buildControls();
    QWidget* makeControl(const Layout::Control& c, QWidget* parent);
    void setDesignTabOrder();
    void setDesignState();
    void stackControls();
    void loadAtStartUp();
    void centreOnScreen();
    int nonClientHeight() const; // what the frame and title bar add to the client's height
    template <typename T> T* control(const char* name) const;

    FormMainOptions m_options;
    AppFolder m_folder;
    QStringListModel* m_commonIps = nullptr; // IP.txt: what every IP box offers
    HostsPage* m_hostsPage = nullptr;
    BatchPage* m_batchPage = nullptr;
    int m_outerHeight = 0; // the window's height with frame and title bar, in pixels; 0: not set

    QTabWidget* m_tabStrip = nullptr;
    QFrame* m_hostsFrame = nullptr;
    QFrame* m_batchFrame = nullptr;
    QPushButton* m_exitButton = nullptr;
};
