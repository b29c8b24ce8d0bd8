#pragma once

#include "TestFiles.h"
#include "gui/FormMain.h"
#include "gui/MessageBox.h"

#include <QDir>
#include <QHash>
#include <QMutex>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <stdexcept>

// A window's surroundings for a test: a temporary application directory and hosts file, a
// user data folder inside it (used only when the application directory cannot be written), a
// fixed date, message boxes recorded instead of shown, program starts recorded instead of run
// (a test that wants real processes clears options.start). A pkexec that refuses comes first on
// PATH, so that no window of a test ever asks the system's pkexec to write the system's hosts
// file; tests of that save put a stand-in of their own in front of it. Names are never asked of
// the system: the resolver answers from resolved, DNS from dns, a cache is never there, and a
// TCP connection of 测速 is answered from connects (refused for any other address), so no
// test ever resolves a name or connects beyond the machine through the window.
struct WindowFixture
{
    QTemporaryDir dir;
    QString hosts;
    QStringList messages;
    QList<Command> started; // in the order of the starts; a batch starts from several threads
    QMutex startedLock;
    FormMainOptions options;
    QTemporaryDir noPkexec; // beside the application directory, not in it
    QByteArray oldPath = qgetenv("PATH");
    QMutex namesLock; // lookups and tries run on threads of their own
    QHash<QString, QStringList> resolved; // the system resolver's answer for each name
    QHash<QString, QStringList> dns;      // DNS's
    QHash<QString, Platform::ConnectTry> connects; // by address
    QList<int> connectTimeouts; // the time-out each try of 测速 was given
    QHash<QString, TlsTry> tls; // by "address host"; any other: a valid certificate
    QStringList asked; // the names asked of the resolver, in any order
    QByteArray resolverSettings; // the resolver's host.conf: empty, so the first line wins

    explicit WindowFixture(const QByteArray* hostsBytes = nullptr)
    {
        const QString refuse = noPkexec.filePath(QStringLiteral("pkexec"));
        writeBytes(refuse, "#!/bin/sh\necho 'pkexec of the tests: refused' >&2\nexit 127\n");
        QFile::setPermissions(refuse, QFile::ReadOwner | QFile::ExeOwner);
        qputenv("PATH", QFile::encodeName(QDir::toNativeSeparators(noPkexec.path()))
                            + QDir::listSeparator().toLatin1() + oldPath);
        hosts = dir.filePath(QStringLiteral("hosts"));
        if (hostsBytes)
            writeBytes(hosts, *hostsBytes);
        options.hosts.hostsPath = hosts;
        options.executableDir = dir.path();
        options.userDataDir = dir.filePath(QStringLiteral("user-data"));
        options.encoding = "UTF-8";
        options.maxWindowHeight = 0;
        options.batch.today = [] { return QDate(2026, 12, 7); };
        options.start = [this](const Command& cmd) {
            const QMutexLocker locker(&startedLock);
            started << cmd;
            StartResult r;
            r.ok = true;
            r.pid = 4242;
            return r;
        };
        options.hosts.names.lookup = [this](const QString& host, QString* error) {
            const QMutexLocker locker(&namesLock);
            asked << host;
            if (!resolved.contains(host))
                *error = QStringLiteral("未知的名称");
            return resolved.value(host);
        };
        options.hosts.names.dns = [this](const QString& host, QString* error) {
            const QMutexLocker locker(&namesLock);
            if (!dns.contains(host))
                *error = QStringLiteral("DNS 无此名称");
            return dns.value(host);
        };
        options.hosts.names.flush = [] { return Platform::CacheFlush(); };
        options.hosts.names.unavailable = [] { return QString(); };
        options.hosts.names.resolverSettings = [this] { return resolverSettings; };
        options.hosts.connect = [this](const QString& ip, quint16, int timeoutMs, const std::atomic<bool>*) {
            const QMutexLocker locker(&namesLock);
            connectTimeouts << timeoutMs;
            Platform::ConnectTry refused;
            refused.outcome = Platform::ConnectTry::Refused;
            return connects.value(ip, refused);
        };
        options.hosts.tlsCheck = [this](const QString& ip, quint16, const QString& host, int, const std::atomic<bool>*) {
            const QMutexLocker locker(&namesLock);
            TlsTry valid;
            valid.outcome = TlsTry::Valid;
            valid.micros = 5000;
            return tls.value(ip + QLatin1Char(' ') + host, valid);
        };
        MessageBox::setHandler([this](QWidget*, const QString& text) { messages << text; });
    }
    ~WindowFixture()
    {
        MessageBox::setHandler({});
        qputenv("PATH", oldPath);
    }

    QString path(const QString& name) const { return dir.filePath(name); }
};

// The control named name inside parent. A control that is not there fails the test: the
// failure is recorded and the exception ends the test program, which QtTest reports.
template <typename T>
T* child(const QObject& parent, const QString& name)
{
    T* found = parent.findChild<T*>(name);
    if (!found) {
        QTest::qFail(qPrintable(QStringLiteral("no control named %1 of that kind").arg(name)), __FILE__, __LINE__);
        throw std::runtime_error("missing control");
    }
    return found;
}

template <typename T>
T* child(const QObject& parent, const char* name)
{
    return child<T>(parent, QString::fromLatin1(name));
}

// The first line of each message: a save's own result, without the lines that follow it.
inline QStringList firstLines(const QStringList& messages)
{
    QStringList out;
    for (const QString& m : messages)
        out << m.section(QStringLiteral("\r\n"), 0, 0);
    return out;
}

inline void click(const QWidget& form, const char* name)
{
    QTest::mouseClick(child<QPushButton>(form, name), Qt::LeftButton);
}

// Until the window's reading or save has shown its messages and the check after a save its
// lines; the window's event loop runs meanwhile.
inline bool waitUntilIdle(FormMain& form, int timeoutMs = 20000)
{
    return QTest::qWaitFor([&] { return !form.hostsPage().isBusy() && !form.hostsPage().isChecking(); },
                           timeoutMs);
}

// A click on a button of the window, and the work it started seen to its end.
inline void click(FormMain& form, const char* name)
{
    QTest::mouseClick(child<QPushButton>(form, name), Qt::LeftButton);
    if (!waitUntilIdle(form))
        QTest::qFail("the window's reading or save did not end", __FILE__, __LINE__);
}
