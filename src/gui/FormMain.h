#pragma once

#include "core/hosts/HostsDocument.h"
#include "core/hosts/HostsSaver.h"
#include "core/net/TlsCheck.h"
#include "platform/Network.h"
#include "platform/ElevatedWriter.h"
#include "platform/Platform.h"
#include "platform/TextFile.h"

#include <QDate>
#include <QWidget>

#include <functional>
#include <memory>

class ConnectPool;
class DeadLines;
class HostsFilter;
class QFrame;
class QLabel;
class QMenu;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QPushButton;
class QStringListModel;
class QTabWidget;
class PingRunner;
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
    // The system's resolver, DNS and resolver cache (empty members: the system's). Tests answer
    // from tables of their own: no name of a test is ever asked of the system.
    Platform::NameService names;
    Platform::Connector connect; // 测速's TCP connections; empty: Platform::tcpConnect
    int speedTimeoutMs = 1000;   // each try of 测速 is given up after this
    TlsChecker tlsCheck;         // 测速's certificate checks; empty: checkTls with the system's trust
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
    // The task box from Ping.txt. A file too large for the box is not loaded: the log says
    // why, and writeQueue refuses to overwrite it from then on.
    bool loadQueue(QString* error);
    bool writeQueue(QString* error);

    // The entries of a row's context menu that switch its section, or the rows the find box
    // shows, on and off.
    void addSectionActions(QMenu& menu, int row);

signals:
    void filterApplied(); // the rows that hold the find box's text are in view

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
    void showFindBox();       // Ctrl+F, "/": the find box beside 退出, with the focus
    void hideFindBox();       // Esc: the find box emptied and hidden, every row in view again
    // The context menu of an entry row (row from 0), shown without waiting.
    void showRowMenu(int row, const QPoint& globalPos);
    // 测速 of a row: its candidates measured in a dialog; the address chosen goes into its IP box.
    void openSpeedTest(int row);
    // 测速 of a block of rows (from 0): each host's best address goes into its IP box.
    void openBlockSpeedTest(const std::vector<int>& rows);

protected:
    void showEvent(QShowEvent* event) override;

private:
    void addSpeedTestAction(QMenu& menu, int row);
    ConnectPool* connectPool(); // made at the first 测速, shared by its dialogs
    // What the save changed, asked of the system's resolver: the success message's lines.
    QStringList checkEffect(const QList<RowChange>& changes);
    // Runs work beside the window, which keeps painting but takes no input until it is done.
    void runBeside(const std::function<void()>& work);
    void buildControls();
    QWidget* makeControl(const Layout::Control& c, QWidget* parent);
    void setDesignTabOrder();
    void setDesignState();
    void createRowsView();
    void stackControls();
    void connectHandlers();
    void loadAtStartUp();
    void centreOnScreen();
    int nonClientHeight() const; // what the frame and title bar add to the client's height
    void connectFind();
    void startFilter(const QString& text);
    void filterStep();

    void fitToRows(int rows);
    void log(const QString& entry);
    bool startAndReport(const Command& cmd);
    QString executableDir() const;
    QString findAppDirectory() const;
    QString prepareAppDirectory() const; // made if missing; returned
    QString ownFile(const QString& name) const;
    QString backupFolder() const;
    HostsSaver hostsSaver(); // over this window's hosts file, backups and helper
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
    bool m_wroteHostsFile = false; // the last save wrote the file: it changed
    DeadLines* m_deadLines = nullptr;
    QStringListModel* m_commonIps = nullptr;
    ConnectPool* m_connectPool = nullptr; // 测速's tries, shared by its dialogs; made at the first 测速
    int m_outerHeight = 0; // the window's height with frame and title bar, in pixels; 0: not set
    // Why Ping.txt was not loaded (too large for the task box); "保存任务" then leaves it alone.
    QString m_queueRefusal;
    PingRunner* m_pingRunner = nullptr; // the batches, from the click to their last end

    QTabWidget* m_tabStrip = nullptr;
    QFrame* m_frame1 = nullptr;
    QFrame* m_frame2 = nullptr;
    QPushButton* m_cmdExit = nullptr;
    QPlainTextEdit* m_textIp = nullptr;
    QLineEdit* m_textN = nullptr;
    QListWidget* m_listLog = nullptr;
    RowsView* m_rows = nullptr;
    QLineEdit* m_findBox = nullptr;
    QLabel* m_findCount = nullptr;
    QTimer* m_filterTimer = nullptr;
    std::unique_ptr<HostsFilter> m_filter; // the search still running, if any
    QString m_filterText;                  // its text
    QString m_foundText;                   // the text of the rows in view; empty: all rows
};
