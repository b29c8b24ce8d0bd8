#pragma once

// TLS for 测速's certificate check in tests and benchmarks, on 127.0.0.1 only: certificates
// made at run time with the openssl command (an authority of the caller's own, never the
// machine's store), and listeners that serve one of them or accept and never answer.

#include <QFile>
#include <QProcess>
#include <QSslCertificate>
#include <QSslKey>
#include <QSslSocket>
#include <QTcpServer>
#include <QTemporaryDir>

// Makes keys and certificates in a folder of its own.
class TestAuthority
{
public:
    // name: the authority's common name.
    explicit TestAuthority(const QString& name = QStringLiteral("Tarvix Test CA"))
    {
        m_ok = m_dir.isValid() && run({"req", "-x509", "-newkey", "ec", "-pkeyopt",
                                       "ec_paramgen_curve:prime256v1", "-nodes", "-keyout", path("ca.key"),
                                       "-out", path("ca.crt"), "-days", "30", "-subj", "/CN=" + name});
        if (m_ok)
            m_certificates = QSslCertificate::fromPath(path("ca.crt"));
    }
    bool ok() const { return m_ok && !m_certificates.isEmpty(); }
    const QList<QSslCertificate>& certificates() const { return m_certificates; }

    // A certificate for dnsName (several: separated by commas), signed by this authority, valid for days
    // (negative: expired that many days ago). Returns false if openssl cannot make it.
    bool issue(const QString& dnsName, int days, QSslCertificate* certificate, QSslKey* key)
    {
        const QString base = QStringLiteral("c%1").arg(m_serial++);
        QFile ext(path(base + ".ext"));
        if (!ext.open(QIODevice::WriteOnly) ||
            ext.write("subjectAltName=DNS:" +
                      dnsName.split(QLatin1Char(',')).join(QStringLiteral(",DNS:")).toUtf8() + "\n") < 0)
            return false;
        ext.close();
        if (!run({"req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-keyout",
                  path(base + ".key"), "-out", path(base + ".csr"), "-subj",
                  "/CN=" + dnsName.section(QLatin1Char(','), 0, 0)}) ||
            !run({"x509", "-req", "-in", path(base + ".csr"), "-CA", path("ca.crt"), "-CAkey", path("ca.key"),
                  "-set_serial", QString::number(m_serial), "-out", path(base + ".crt"), "-days",
                  QString::number(days), "-extfile", path(base + ".ext")}))
            return false;
        const QList<QSslCertificate> certs = QSslCertificate::fromPath(path(base + ".crt"));
        QFile keyFile(path(base + ".key"));
        if (certs.isEmpty() || !keyFile.open(QIODevice::ReadOnly))
            return false;
        *certificate = certs.first();
        *key = QSslKey(keyFile.readAll(), QSsl::Ec);
        return !key->isNull();
    }

private:
    QString path(const QString& name) const { return m_dir.filePath(name); }
    bool run(const QStringList& args)
    {
        QProcess p;
        p.start(QStringLiteral("openssl"), args);
        return p.waitForFinished(30000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    }

    QTemporaryDir m_dir;
    bool m_ok = false;
    int m_serial = 1;
    QList<QSslCertificate> m_certificates;
};

// Serves certificate on 127.0.0.1 (a port of the system's choosing); with a null certificate
// it accepts connections and never answers a handshake.
class TlsListener : public QTcpServer
{
public:
    TlsListener(const QSslCertificate& certificate, const QSslKey& key)
        : m_certificate(certificate), m_key(key)
    {
        // A block's tries come 64 at a time to this one listener, as they would to many
        // servers: Qt's default queue of 50 would drop some of them unanswered.
        setListenBacklogSize(1024);
        listen(QHostAddress::LocalHost);
    }

protected:
    void incomingConnection(qintptr descriptor) override
    {
        if (m_certificate.isNull()) {
            auto* socket = new QTcpSocket(this); // held open, never read
            socket->setSocketDescriptor(descriptor);
            return;
        }
        auto* socket = new QSslSocket(this);
        if (!socket->setSocketDescriptor(descriptor)) {
            delete socket;
            return;
        }
        socket->setLocalCertificate(m_certificate);
        socket->setPrivateKey(m_key);
        QObject::connect(socket, &QSslSocket::disconnected, socket, &QObject::deleteLater);
        socket->startServerEncryption();
    }

private:
    QSslCertificate m_certificate;
    QSslKey m_key;
};
