#pragma once

#include <QList>
#include <QSslCertificate>
#include <QString>

#include <atomic>
#include <functional>

// Whether an address really serves a host: a TLS handshake to ip:port with host as the server
// name (SNI), through Qt Network's QSslSocket (OpenSSL on Linux, Schannel on Windows). The
// chain must be one the system trusts and valid for host.
struct TlsTry {
    enum Outcome { Valid, NameMismatch, Untrusted, Failed, Cancelled };
    Outcome outcome = Failed;
    qint64 micros = 0; // the handshake's, from the connection to its end
    QString names;     // the names the certificate is for, when it is not for host
    QString error;     // the reason when Failed
};

// Blocks up to timeoutMs (cancel, may be null, is looked at every few milliseconds). Runs on any
// thread. caCertificates: the authorities to trust instead of the system's (tests); null: the
// system's.
TlsTry checkTls(const QString& ip, quint16 port, const QString& host, int timeoutMs,
                const std::atomic<bool>* cancel, const QList<QSslCertificate>* caCertificates = nullptr);

using TlsChecker = std::function<TlsTry(const QString& ip, quint16 port, const QString& host, int timeoutMs,
                                        const std::atomic<bool>* cancel)>;
