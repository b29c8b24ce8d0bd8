#pragma once

#include "core/net/TlsCheck.h"
#include "platform/Network.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <memory>
#include <vector>

class ConnectPool;

// Which of a row's candidate addresses answers fastest from here: a timed TCP connection to a
// port, a few tries per candidate one after another, the candidates side by side through a
// ConnectPool (at most its number of tries at once).
class SpeedTest : public QObject
{
    Q_OBJECT

public:
    enum Source { Current = 1, Common = 2, Dns = 4 };

    struct Candidate {
        QString ip;
        int sources = 0; // Source flags
    };

    struct Result {
        int tries = 0; // done so far
        int answered = 0;
        int refused = 0;
        int timedOut = 0;
        qint64 totalMicros = 0; // of the answered tries
        qint64 bestMicros = 0;
        QString error; // the system's reason of the last failed try that was neither
        // The certificate (port 443 with a host name): checked once the tries end, on a
        // candidate that answered; only a valid one makes the candidate usable.
        enum Tls { TlsNotNeeded, TlsPending, TlsValid, TlsMismatch, TlsUntrusted, TlsFailed };
        Tls tls = TlsNotNeeded;
        qint64 tlsMicros = 0; // the handshake's
        QString tlsNames;     // the names of a certificate for others
    };

    struct Entry {
        Candidate candidate;
        Result result;
    };

    // Adds each of ips that is an IPv4 or IPv6 address to list, marked with source; one already
    // there only gains the mark. Text that is not an address (a name, a typo) is left out.
    static void addCandidates(QList<Candidate>* list, const QStringList& ips, Source source);
    // "当前", "常用", "DNS", joined by "/" when several.
    static QString sourceText(int sources);

    // Answered and, where needed, its certificate valid for the host.
    static bool usable(const Result& r);
    // True if a is shown before b: usable candidates, by average then best time and then by
    // answers; then those still measured; then those that answered with a certificate that
    // does not do; then those that failed every try.
    static bool before(const Result& a, const Result& b, int tries);
    // The texts of a result for the dialog's columns 应答, 平均, 最快, 结果, TLS: "2/3",
    // "12.3 ms", "10.1 ms", then "可用", "拒绝", "超时", "证书不符: <名称>", "证书不受信任",
    // "TLS 失败", the system's reason or "测试中…" where it has no answer (yet), then the
    // handshake's time or "不检查".
    static QStringList resultTexts(const Result& r, int tries);

    // pool runs the tries (and the DNS query); it is shared and may go before this object.
    explicit SpeedTest(ConnectPool* pool, QObject* parent = nullptr);
    ~SpeedTest() override; // tries still running are dropped

    // Measures candidates anew (tries still running are dropped): tries connections to port per
    // candidate, each given up after timeoutMs.
    // serverName: the row's host: where port is 443, each candidate's certificate is checked
    // for it (empty: not checked).
    void start(const QList<Candidate>& candidates, quint16 port, int tries = 3, int timeoutMs = 1000,
               const QString& serverName = QString());
    // The certificates are checked: port 443 and a host name.
    bool checksTls() const { return m_port == 443 && !m_serverName.isEmpty(); }
    // More candidates (from DNS), measured at once with the same port.
    void add(const QStringList& ips, Source source);
    // Runs lookup (a DNS query) on a thread of the pool and adds its addresses as candidates
    // from source when it answers; lookupError() then says why it gave none. A query that is
    // still running when this object goes is forgotten.
    void lookUp(std::function<QStringList(QString* error)> lookup, Source source);
    void stop();

    const QList<Entry>& entries() const { return m_entries; }
    int tries() const { return m_tries; }
    bool running() const { return m_pending > 0 || m_lookups > 0; }
    QString lookupError() const { return m_lookupError; }
    // Indexes into entries(), best first. The entries that changed since the last call are
    // taken out and merged back in at their places: O(n + k log k) for k changes, so that a
    // view asking a few times a second over 100,000 candidates stays cheap.
    const QList<int>& order();
    // Something changed since order() was last asked.
    bool hasChanges() const { return !m_changed.isEmpty(); }

signals:
    void changed();  // a candidate was added or a try ended (once per try: coalesce what it shows)
    void finished(); // every try has ended, every lookup answered

private:
    void measure(int index);
    void measureMore();
    void tried(int generation, int index, const Platform::ConnectTry& t);
    void checked(int generation, int index, const TlsTry& t);
    void ended(int index);
    void markChanged(int index);
    bool less(int a, int b) const;

    QPointer<ConnectPool> m_pool;
    QList<Entry> m_entries;
    QList<int> m_order;            // best first, of the entries not in m_changed
    QList<int> m_changed;          // entries changed since order() was asked
    std::vector<char> m_isChanged; // per entry: listed in m_changed
    quint16 m_port = 443;
    int m_tries = 3;
    int m_timeoutMs = 1000;
    QString m_serverName;
    int m_generation = 0;
    int m_pending = 0;       // candidates not measured to the end yet
    int m_measuring = 0;     // candidates whose tries are in the pool
    int m_nextToMeasure = 0; // the first candidate not started
    int m_lookups = 0;
    QString m_lookupError;
    std::shared_ptr<std::atomic<bool>> m_cancel;
};
