// 测速's certificate check through the TLS backend that Windows builds carry (Schannel, the
// system's own TLS and certificate store), run under Wine by tls-under-wine.sh: that script
// makes an authority and certificates with openssl and serves each with openssl s_server on
// 127.0.0.1, and names them here through TARVIX_TLS (the authority's file, then name=port
// pairs). Linux meets the same rows through OpenSSL in tst_network.
#include "TestMain.h"
#include "core/net/TlsCheck.h"

#include <QSslSocket>
#include <QTest>

class tst_TlsCheck : public QObject
{
    Q_OBJECT

private slots:
    void schannelIsLinked();
    void certificateChecked_data();
    void certificateChecked();

private:
    quint16 portOf(const QString& served) const;
};

quint16 tst_TlsCheck::portOf(const QString& served) const
{
    const QStringList parts = qEnvironmentVariable("TARVIX_TLS").split(QLatin1Char(';'));
    for (const QString& part : parts.mid(1)) {
        if (part.section(QLatin1Char('='), 0, 0) == served)
            return quint16(part.section(QLatin1Char('='), 1).toUInt());
    }
    return 0;
}

void tst_TlsCheck::schannelIsLinked()
{
    QVERIFY2(QSslSocket::availableBackends().contains(QStringLiteral("schannel")),
             qPrintable(QSslSocket::availableBackends().join(QLatin1Char(' '))));
    QVERIFY(QSslSocket::supportsSsl());
}

void tst_TlsCheck::certificateChecked_data()
{
    QTest::addColumn<QString>("served"); // which of the script's listeners
    QTest::addColumn<int>("outcome");
    QTest::addColumn<QString>("names");
    QTest::newRow("a certificate for the host") << "good" << int(TlsTry::Valid) << QString();
    QTest::newRow("a certificate for another name")
        << "other" << int(TlsTry::NameMismatch) << QStringLiteral("other.test");
    QTest::newRow("an expired certificate") << "expired" << int(TlsTry::Untrusted) << QString();
    QTest::newRow("from an authority not trusted") << "unknown" << int(TlsTry::Untrusted) << QString();
}

void tst_TlsCheck::certificateChecked()
{
    QFETCH(QString, served);
    QFETCH(int, outcome);
    QFETCH(QString, names);
    const QString ca = qEnvironmentVariable("TARVIX_TLS").section(QLatin1Char(';'), 0, 0);
    if (ca.isEmpty())
        QSKIP("no listeners: run through tls-under-wine.sh");
    const QList<QSslCertificate> trusted = QSslCertificate::fromPath(ca);
    QVERIFY(!trusted.isEmpty());
    const quint16 port = portOf(served);
    QVERIFY(port != 0);
    const TlsTry tried = checkTls(QStringLiteral("127.0.0.1"), port, QStringLiteral("good.test"), 5000, nullptr,
                                  &trusted);
    QVERIFY2(tried.outcome == outcome, qPrintable(QStringLiteral("outcome %1: %2").arg(tried.outcome).arg(tried.error)));
    if (!names.isEmpty())
        QVERIFY2(tried.names.contains(names), qPrintable(tried.names));
    if (tried.outcome == TlsTry::Valid)
        QVERIFY(tried.micros > 0);
}

QTEST_GUILESS_MAIN(tst_TlsCheck)
#include "tst_tlscheck.moc"
