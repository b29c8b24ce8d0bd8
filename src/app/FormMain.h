#pragma once

#include "hosts/HostsDocument.h"
#include "platform/Command.h"
#include "platform/TextFile.h"

#include <QDate>
#include <QWidget>

#include <functional>

class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QPushButton;
class QTabWidget;
class RowsView;

// Where the window finds what it works on. Tests and benchmarks point it at their own files
// and replace the program starter; the program uses the defaults.
struct FormMainOptions
{
    QString hostsPath;       // empty: the system's hosts file
    QString executableDir;   // empty: the directory of the running executable
    QByteArray encoding;     // empty: the system's ANSI code page
    int maxWindowHeight = -1; // in twips; -1: the screen's available height; 0: no limit
    std::function<StartResult(const Command&)> start; // empty: the platform's
    std::function<QDate()> today;                     // empty: the local date
    const TextFile::Faults* saveFaults = nullptr;     // faults injected into saving the hosts file
};

// The program's only window: the hosts editor and the batch ping on two tabs.
class FormMain : public QWidget
{
    Q_OBJECT

public:
    explicit FormMain(const FormMainOptions& options = FormMainOptions(), QWidget* parent = nullptr);
    ~FormMain() override;

    // The application directory, ending in one separator.
    QString GetAppPath() const;

    int ItemIndex() const { return m_itemIndex; }
    HostsDocument& hosts() { return m_hosts; }
    QString hostsPath() const { return m_hostsPath; }

    // The ping queue: the text of TextIP with CR LF between its lines.
    QString queueText() const;

    // Procedures of the window. Those that can fail return false and set *error.
    bool LoadIP(QString* error);
    bool LoadHost(QString* error);
    bool SaveHost(QString* error);
    bool LoadPing(QString* error);
    bool SavePing(QString* error);
    void AddItemSub();

public slots:
    void TabStrip1_Click();
    void CmdExit_Click();
    void CmdRead_Click();
    void CmdAdd_Click();
    void CmdSave_Click();
    void Command1_Click();
    void CmdIP_Click();
    void Command2_Click();
    void Command3_Click();
    void Command4_Click();

private:
    void buildControls();
    void Form_Load();
    void refit(int rows);
    void log(const QString& entry);
    StartResult start(const Command& cmd);
    bool startReported(const Command& cmd);
    QString ownFile(const QString& name) const;
    QDate today() const;

    FormMainOptions m_options;
    QString m_hostsPath;
    HostsDocument m_hosts;
    // False after a reading that failed with the file present: saving would drop its lines.
    bool m_hostsReadable = true;
    QString m_hostsReadError;
    int m_itemIndex = 0;
    QStringList m_commonIps;

    QTabWidget* m_tabStrip = nullptr;
    QFrame* m_frame1 = nullptr;
    QFrame* m_frame2 = nullptr;
    QPushButton* m_cmdExit = nullptr;
    QComboBox* m_combo0 = nullptr;
    QPlainTextEdit* m_textIp = nullptr;
    QLineEdit* m_textN = nullptr;
    QListWidget* m_listLog = nullptr;
    RowsView* m_rows = nullptr;
};
