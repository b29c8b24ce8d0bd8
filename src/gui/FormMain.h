#pragma once

#include "core/hosts/HostsDocument.h"
#include "core/ping/PingReport.h"
#include "platform/ElevatedWriter.h"
#include "platform/Platform.h"
#include "platform/TextFile.h"

#include <QDate>
#include <QWidget>

#include <functional>

class QFrame;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QPushButton;
class QStringListModel;
class QTabWidget;
class QTimer;
class ProcessWatcher;
class RowsView;
namespace Layout {
struct Control;
}

// Where the window finds what it works on. Tests and benchmarks point it at their own files
// and replace the program starter; the program uses the defaults.
struct FormMainOptions
{
    QString hostsPath;        // empty: the system's hosts file
    QString executableDir;    // empty: the directory of the running executable
    QString userDataDir;      // empty: the user's data folder (QStandardPaths::AppDataLocation)
    QByteArray encoding;      // empty: the system's ANSI code page
    int maxWindowHeight = -1; // in twips; -1: the screen's available height; 0: no limit
    Platform::Starter start;  // empty: the platform's
    std::function<QDate()> today; // empty: the local date
    // Saves the hosts file (empty: TextFile::save). Tests put in a save over a file system that
    // fails where they choose.
    std::function<bool(const QString& path, const QByteArray& bytes, QString* error)> saveFile;
    int elevatedSaveTimeoutMs = 0; // a save through pkexec or the UAC prompt is given up after this; 0: ten minutes
    // Starts the writer through the UAC prompt on Windows (empty: ElevatedWriter::start). Tests
    // put in one that answers as a declined prompt, a failing writer or one that writes.
    ElevatedWriter::Start startElevatedWriter;
};

// The program's only window: the hosts editor and the batch ping on two tabs. Its controls are
// those of the layout table, found by their object names; its slots are the handlers of the
// buttons and tabs.
class FormMain : public QWidget
{
    Q_OBJECT

public:
    explicit FormMain(const FormMainOptions& options = FormMainOptions(), QWidget* parent = nullptr);
    ~FormMain() override;

    // The folder of IP.txt, Ping.txt and the result folders, ending in one separator, as
    // AppPath::ownFilesDir chooses it at the window's start.
    QString appDirectory() const;

    HostsDocument& hosts() { return m_hosts; }
    QString hostsPath() const { return m_hostsPath; }

    // The ping queue: the text of TextIP with CR LF between its lines.
    QString queueText() const;

    // The steps behind the buttons. Each returns false and sets *error when it fails.
    bool loadCommonIps(QString* error);
    // The rows anew from the hosts file, after a save that was cut off has been put right (the
    // user is told). The rows are gone whatever happens.
    bool readHostsFile(QString* error);
    // The rows to the hosts file, merged with what other programs changed in it since it was
    // read; its previous content goes to the backup folder first. The rows stay as they are.
    bool writeHostsFile(QString* error);
    bool loadQueue(QString* error);
    bool writeQueue(QString* error);

public slots:
    void showSelectedPage();  // TabStrip1: the page of the selected tab, the other one hidden
    void exitProgram();       // CmdExit: ends at once, nothing saved or asked
    void reloadHostsFile();   // CmdRead: the rows anew from the file; a failure is shown
    void addEntryRow();       // CmdAdd: an empty row at the end, the window grown for it
    void saveHostsFile();     // CmdSave: write the rows, read them back, confirm or report
    void editHostsFile();     // Command1: the hosts file in the text editor
    void editCommonIps();     // CmdIP: IP.txt in the text editor
    void startBatch();        // Command2: a ping for every target of the queue, logged
    void saveQueue();         // Command3: the queue to Ping.txt, confirmed or reported
    void openResultFolder();  // Command4: today's result folder in the file browser

private:
    void buildControls();
    QWidget* makeControl(const Layout::Control& c, QWidget* parent);
    void setDesignTabOrder();
    void setDesignState();
    void createRowsView();
    void stackControls();
    void connectHandlers();
    void loadAtStartUp();
    void centreOnScreen();

    void fitToRows(int rows);
    void log(const QString& entry);
    bool startAndReport(const Command& cmd);
    QList<StartResult> startBeside(const QList<QList<Command>>& groups);
    QString executableDir() const;
    QString findAppDirectory() const;
    QString prepareAppDirectory() const; // made if missing; returned
    void queuePingEnd(quint64 id, const ProcessEnd& end);
    void reportQueuedPingEnds();
    void reportPingEnd(quint64 id, const ProcessEnd& end);
    QString ownFile(const QString& name) const;
    QString backupFolder() const;
    QString resultFolder(const QString& appDir) const; // today's, in appDir
    QDate today() const;
    template <typename T>
    T* control(const char* name) const;

    FormMainOptions m_options;
    QString m_hostsPath;
    QString m_appDirectory;
    HostsDocument m_hosts;
    // False after a reading that failed with the file present: saving would drop its lines.
    bool m_hostsReadable = true;
    QString m_hostsReadError;
    QString m_backupError; // why the last save could not keep a backup
    QStringListModel* m_commonIps = nullptr;
    // The started pings that are watched until they end, and what to report of each.
    ProcessWatcher* m_pingWatcher = nullptr;
    PingReport::Runs m_pingRuns;
    QList<std::pair<quint64, ProcessEnd>> m_endedPings; // ended, not yet reported, in order
    QTimer* m_pingEndTimer = nullptr;

    QTabWidget* m_tabStrip = nullptr;
    QFrame* m_frame1 = nullptr;
    QFrame* m_frame2 = nullptr;
    QPushButton* m_cmdExit = nullptr;
    QPlainTextEdit* m_textIp = nullptr;
    QLineEdit* m_textN = nullptr;
    QListWidget* m_listLog = nullptr;
    RowsView* m_rows = nullptr;
};
