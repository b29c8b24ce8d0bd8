#pragma once

#include "core/app/AppFolder.h"
#include "core/hosts/HostsDocument.h"
#include "core/hosts/HostsSaveService.h"
#include "core/net/TlsCheck.h"
#include "platform/ElevatedWriter.h"
#include "platform/Network.h"
#include "platform/Platform.h"

#include <QObject>

#include <functional>
#include <memory>

class ConnectPool;
class DeadLines;
class EffectCheckService;
class HostsFilter;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QStringListModel;
class QTabWidget;
class QTimer;
class QWidget;
class RowsView;

// The seams of the HOST page. Tests and benchmarks point it at their own files and answer its
// names and connections; the program uses the defaults.
struct HostsPageOptions {
    QString hostsPath;       // empty: the system's hosts file
    QByteArray encoding;     // empty: the system's ANSI code page
    Platform::Starter start; // the text editor; empty: the platform's
    // The write of the hosts file (empty: the safe save). Tests put in a save over a file system
    // that fails or waits where they choose.
    std::function<bool(const QString& path, const QByteArray& bytes, QString* error)> saveFile;
    int elevatedSaveTimeoutMs =
        0; // a save through pkexec or the UAC prompt is given up after this; 0: ten minutes
    // Starts the writer through the UAC prompt on Windows (empty: ElevatedWriter::start).
    ElevatedWriter::Start startElevatedWriter;
    // The system's resolver, DNS and resolver cache (empty members: the system's). Tests answer
    // from tables of their own: no name of a test is ever asked of the system.
    Platform::NameService names;
    Platform::Connector connect;   // 测速's TCP connections; empty: Platform::tcpConnect
    int speedTimeoutMs = 1000;     // each try of 测速 is given up after this
    TlsChecker tlsCheck;           // 测速's certificate checks; empty: checkTls with the system's trust
    int effectCheckLimitMs = 3000; // the check after a save names what is unanswered by then
};

// The HOST page: the entry rows of the hosts file, the find box, the sections, 测速, and the
// reading and saving of the file with their messages. It takes over the controls that the
// window built at their design places (Frame1's, the find box beside 退出, Label4); the slow
// work runs in core services beside the window.
class HostsPage : public QObject
{
    Q_OBJECT

public:
    // window: the frame that holds the controls; commonIps: the list every IP box offers.
    HostsPage(QWidget* window, const HostsPageOptions& options, const AppFolder& folder,
              QStringListModel* commonIps);
    ~HostsPage() override;

    HostsDocument& hosts() { return m_hosts; }
    QString hostsPath() const { return m_hostsPath; }
    // A reading or a save is under way: its buttons wait.
    bool isBusy() const { return m_fileService.isBusy(); }
    // The check after a save has not given its lines yet; the window answers meanwhile.
    bool isChecking() const;
    // The index of duplicate lines is made from now on (the window calls it once it shows).
    void startIndexing();

    // The common IPs, then the rows; each step that fails is abandoned silently. The reading is
    // done here, before the window shows.
    void loadAtStartUp();
    bool loadCommonIps(QString* error);
    void setPageHeight(int pixels);

    // The entries of a row's context menu that switch its section, or the rows the find box
    // shows, on and off.
    void addSectionActions(QMenu& menu, int row);

signals:
    void rowsChanged(int rows); // the window fits its height to them
    void filterApplied();       // the rows that hold the find box's text are in view
    void readEnded();           // a reading from "读取HOST文件" or after a save is shown
    void saveEnded();           // a save's message is shown; the check of its effect may follow

public slots:
    void reloadHostsFile(); // CmdRead: the rows anew from the file; a failure is shown
    void addEntryRow();     // CmdAdd: an empty row at the end, the window grown for it
    void saveHostsFile();   // CmdSave: write the rows, read them back, confirm or report
    void editHostsFile();   // Command1: the hosts file in the text editor
    void editCommonIps();   // CmdIP: IP.txt in the text editor
    void showFindBox();     // Ctrl+F, "/": the find box beside 退出, with the focus
    void hideFindBox();     // Esc: the find box emptied and hidden, every row in view again
    // The context menu of an entry row (row from 0), shown without waiting.
    void showRowMenu(int row, const QPoint& globalPos);
    // 测速 of a row: its candidates measured in a dialog; the address chosen goes into its IP box.
    void openSpeedTest(int row);
    // 测速 of a block of rows (from 0): each host's best address goes into its IP box.
    void openBlockSpeedTest(const std::vector<int>& rows);

private:
    ConnectPool* connectPool(); // made at the first 测速, shared by its dialogs
    void createRowsView();
    void connectFind();
    void startFilter(const QString& text);
    void filterStep();
    void addSpeedTestAction(QMenu& menu, int row);
    // The rows from a reading; false with *error when there are none.
    bool takeReading(const HostsReading& reading, QString* error);
    void showReading(const HostsReading& reading);
    void showSaving(const HostsSaving& saving);
    void checkEffect(); // the check after a save, once the dead lines are indexed
    void setBusy(const QString& status);
    bool startAndReport(const Command& cmd);
    template <typename T> T* control(const char* name) const;

    QWidget* m_window;
    HostsPageOptions m_options;
    AppFolder m_folder;
    QString m_hostsPath;
    HostsDocument m_hosts;
    DeadLines* m_deadLines = nullptr;
    QStringListModel* m_commonIps;
    int m_pageHeight = 0; // Frame1's, in pixels
    ConnectPool* m_connectPool = nullptr; // 测速's tries, shared by its dialogs; made at the first 测速
    // False after a reading that failed with the file present: saving would drop its lines.
    bool m_hostsSaveable = true;
    QString m_unsaveableReason;
    // The rows as the save in hand took them; edits made meanwhile are carried over its
    // reading back.
    std::unique_ptr<HostsDocument> m_snapshot;
    QList<RowChange> m_snapshotChanges;
    bool m_editedWhileSaving = false;
    bool m_checkWaits = false; // a save's check waits for the dead lines' index
    QString m_rightsNotice;    // Label4's own text, shown again once the work is done

    RowsView* m_rows = nullptr;
    QPushButton* m_readButton = nullptr;
    QPushButton* m_saveButton = nullptr;
    QLabel* m_status = nullptr; // Label4: says what runs
    QTabWidget* m_tabStrip = nullptr;
    QLineEdit* m_findBox = nullptr;
    QLabel* m_findCount = nullptr;
    QTimer* m_filterTimer = nullptr;
    std::unique_ptr<HostsFilter> m_filter; // the search still running, if any
    QString m_filterText;                  // its text
    QString m_foundText;                   // the text of the rows in view; empty: all rows

    // Declared last: ended first, while the rows they report on still exist.
    EffectCheckService* m_effectCheck = nullptr;
    HostsSaveService m_fileService;
};
