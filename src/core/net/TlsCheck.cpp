#include "core/net/TlsCheck.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QSslConfiguration>
#include <QSslSocket>

TlsTry checkTls(const QString& ip, quint16 port, const QString& host, int timeoutMs,
                const std::atomic<bool>* cancel, const QList<QSslCertificate>* caCertificates)
{
    TlsTry result;
    QSslSocket socket;
    QSslConfiguration config = QSslConfiguration::defaultConfiguration();
    if (caCertificates)
        config.setCaCertificates(*caCertificates);
    config.setPeerVerifyMode(QSslSocket::VerifyPeer);
    socket.setSslConfiguration(config);
    QDeadlineTimer deadline(timeoutMs);
    auto cancelled = [cancel] { return cancel && cancel->load(); };
    // The wait in short steps: a cancel is seen within them.
    auto waitFor = [&](auto wait) {
        while (!deadline.hasExpired() && !cancelled()) {
            if (wait(int(qMin<qint64>(50, qMax<qint64>(1, deadline.remainingTime())))))
                return true;
            if (socket.state() == QAbstractSocket::UnconnectedState)
                return false;
        }
        return false;
    };
    socket.connectToHost(ip, port);
    if (!waitFor([&](int ms) { return socket.waitForConnected(ms); })) {
        result.outcome = cancelled() ? TlsTry::Cancelled : TlsTry::Failed;
        result.error = socket.errorString();
        return result;
    }
    QElapsedTimer clock;
    clock.start();
    socket.setPeerVerifyName(host); // the server name sent (SNI) and checked
    socket.ignoreSslErrors();       // judged below from sslHandshakeErrors(), not by a failed handshake
    socket.startClientEncryption();
    const bool encrypted = waitFor([&](int ms) { return socket.waitForEncrypted(ms); });
    result.micros = clock.nsecsElapsed() / 1000;
    if (!encrypted) {
        result.outcome = cancelled() ? TlsTry::Cancelled : TlsTry::Failed;
        result.error = socket.errorString();
        return result;
    }
    bool mismatch = false, untrusted = false;
    for (const QSslError& e : socket.sslHandshakeErrors()) {
        if (e.error() == QSslError::HostNameMismatch)
            mismatch = true;
        else
            untrusted = true;
    }
    if (untrusted) {
        result.outcome = TlsTry::Untrusted;
    } else if (mismatch) {
        result.outcome = TlsTry::NameMismatch;
        const QSslCertificate cert = socket.peerCertificate();
        QStringList names = cert.subjectAlternativeNames().values(QSsl::DnsEntry);
        if (names.isEmpty())
            names = cert.subjectInfo(QSslCertificate::CommonName);
        result.names = names.join(QStringLiteral(", "));
    } else {
        result.outcome = TlsTry::Valid;
    }
    socket.abort();
    return result;
}
