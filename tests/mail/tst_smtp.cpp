// The SMTP exchange against a real server: authentication, STARTTLS and TLS from the first byte
// with certificate checks, the server's refusals as comments, time-outs and broken connections.
#include "mail/composer.h"
#include "mail/smtp.h"
#include "mailfixture.h"

#include <QElapsedTimer>
#include <QSysInfo>
#include <QtTest>


using mailfixture::MailServer;

namespace {

const QString GoodPassword = QStringLiteral("Open Sesame!");

} // namespace

class TestSmtp : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void exchange_data();
    void exchange();
    void greetsWithTheLocalHostName();
    void slowReplyTimesOut();
    void slowSetUpEndsAtTheConnectTimeOut();
    void connectionDroppedInDataFails();
    void closedPortFailsWithTransportError();
    void endOfMessageWithoutReply_data();
    void endOfMessageWithoutReply();
    void echoedCredentialsAreMasked_data();
    void echoedCredentialsAreMasked();

private:
    QTemporaryDir m_certs;
    MailServer m_server;
    QByteArray message(const QString& to, int padding = 0);
};

void TestSmtp::initTestCase()
{
    QVERIFY(m_certs.isValid());
    const QString certError = mailfixture::makeCertificates(m_certs.path());
    QVERIFY2(certError.isEmpty(), qPrintable(certError));
    const QString error = m_server.start(m_certs.path(),
                                         {"plain:plain", "auth:auth", "authlogin:authlogin", "clearauth:clearauth", "foreignauth:foreignauth",
                                          "starttls:starttls", "wronghost:wronghost", "untrusted:untrusted", "tls:tls", "lagging:lagging",
                                          "echoplain:echoplain", "echologin:echologin"});
    QVERIFY2(error.isEmpty(), qPrintable(error));
}

QByteArray TestSmtp::message(const QString& to, int padding)
{
    AttachmentCache cache;
    QString body = QStringLiteral("Hello,\r\nthis is a test.\r\n");
    for (int i = 0; i < padding / 64; ++i)
        body += QString(62, QLatin1Char('x')) + QStringLiteral("\r\n");
    return composeMessage({to, QStringLiteral("Test"), body, {}},
                          {QStringLiteral("ann"), QStringLiteral("ann@example.org"), QStringLiteral("ann@example.org")},
                          cache);
}

void TestSmtp::exchange_data()
{
    QTest::addColumn<QString>("listener");
    QTest::addColumn<bool>("ssl");
    QTest::addColumn<bool>("implicitTls"); // the listener's port is the one for TLS from the first byte
    QTest::addColumn<bool>("trustTestCa");
    QTest::addColumn<QString>("account");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("sender");
    QTest::addColumn<QString>("recipient");
    QTest::addColumn<bool>("sent");
    QTest::addColumn<QString>("comment"); // the whole comment, or "~text" for a part of it
    QTest::addColumn<QString>("auth");    // the server's AUTH log for the listener: "MECHANISM LOGIN"
    QTest::addColumn<bool>("tls");

    const QString ann = QStringLiteral("ann@example.org");
    const QString bob = QStringLiteral("bob@example.org");
    QTest::newRow("plain, no account") << "plain" << false << false << false << "" << "" << ann << bob << true << ""
                                       << "" << false;
    QTest::newRow("account set but no AUTH offered: sent without AUTH")
        << "plain" << false << false << false << "ann" << GoodPassword << ann << bob << true << "" << "" << false;
    QTest::newRow("AUTH PLAIN chosen when PLAIN and LOGIN are offered")
        << "auth" << false << false << false << "ann" << GoodPassword << ann << bob << true << "" << "PLAIN ann"
        << false;
    QTest::newRow("AUTH PLAIN refused") << "auth" << false << false << false << "ann" << "wrong horse battery" << ann
                                        << bob << false << "535 5.7.8 Authentication credentials invalid"
                                        << "PLAIN ann" << false;
    QTest::newRow("AUTH LOGIN when only LOGIN is offered")
        << "authlogin" << false << false << false << "ann" << GoodPassword << ann << bob << true << "" << "LOGIN ann"
        << false;
    QTest::newRow("AUTH LOGIN refused") << "authlogin" << false << false << false << "bob" << "hunter2hunter2" << ann
                                        << bob << false << "535 5.7.8 Authentication credentials invalid"
                                        << "LOGIN bob" << false;
    QTest::newRow("only an unknown AUTH mechanism offered: the comment names it")
        << "foreignauth" << false << false << false << "ann" << GoodPassword << ann << bob << false
        << "the server offers no AUTH mechanism this program can use (AUTH X-TEST-TOKEN)" << "" << false;
    QTest::newRow("server requires AUTH, no account set")
        << "auth" << false << false << false << "" << "" << ann << bob << false << "~530" << "" << false;
    QTest::newRow("STARTTLS with a trusted certificate, then AUTH")
        << "starttls" << true << false << true << "ann" << GoodPassword << ann << bob << true << "" << "PLAIN ann"
        << true;
    QTest::newRow("STARTTLS with a certificate not in the store")
        << "starttls" << true << false << false << "ann" << GoodPassword << ann << bob << false << "~certificate" << ""
        << false;
    QTest::newRow("STARTTLS with a self-signed certificate")
        << "untrusted" << true << false << true << "ann" << GoodPassword << ann << bob << false << "~self-signed"
        << "" << false;
    QTest::newRow("STARTTLS with a certificate for another host")
        << "wronghost" << true << false << true << "ann" << GoodPassword << ann << bob << false << "~127.0.0.1" << ""
        << false;
    QTest::newRow("ssl on, STARTTLS not offered: no AUTH, no message in the clear")
        << "clearauth" << true << false << true << "ann" << GoodPassword << ann << bob << false << "~STARTTLS" << ""
        << false;
    QTest::newRow("ssl off against a server that wants STARTTLS: plain exchange refused")
        << "starttls" << false << false << true << "" << "" << ann << bob << false << "~530" << "" << false;
    QTest::newRow("TLS from the first byte on the chosen port")
        << "tls" << true << true << true << "ann" << GoodPassword << ann << bob << true << "" << "PLAIN ann" << true;
    QTest::newRow("TLS from the first byte, untrusted")
        << "tls" << true << true << false << "ann" << GoodPassword << ann << bob << false << "~certificate" << ""
        << false;
    QTest::newRow("sender refused at MAIL, two-line reply")
        << "plain" << false << false << false << "" << "" << "refuse-mail@example.org" << bob << false
        << "553 5.1.8 Sender address refused 5.1.8 Ask the postmaster" << "" << false;
    QTest::newRow("recipient refused at RCPT, two-line reply")
        << "plain" << false << false << false << "" << "" << ann << "refuse-rcpt@example.org" << false
        << "550 5.1.1 No such user here 5.1.1 Try another mailbox" << "" << false;
    QTest::newRow("message refused after DATA, two-line reply")
        << "plain" << false << false << false << "" << "" << ann << "refuse-data@example.org" << false
        << "554 5.6.0 Message refused 5.6.0 Content not accepted" << "" << false;
}

void TestSmtp::exchange()
{
    QFETCH(QString, listener);
    QFETCH(bool, ssl);
    QFETCH(bool, implicitTls);
    QFETCH(bool, trustTestCa);
    QFETCH(QString, account);
    QFETCH(QString, password);
    QFETCH(QString, sender);
    QFETCH(QString, recipient);
    QFETCH(bool, sent);
    QFETCH(QString, comment);
    QFETCH(QString, auth);
    QFETCH(bool, tls);
    m_server.clear();

    const int port = m_server.port(listener);
    const MailServerSettings settings{sender, QStringLiteral("127.0.0.1"), port, account, password, ssl};
    SmtpOptions options;
    options.implicitTlsPort = implicitTls ? port : 465;
    options.caFile = trustTestCa ? m_certs.filePath(QStringLiteral("ca.pem")) : QString();
    const SendResult result = sendMail(settings, recipient, message(recipient), options);

    QVERIFY2(result.sent == sent, qPrintable(result.comment));
    if (comment.startsWith(QLatin1Char('~')))
        QVERIFY2(result.comment.contains(comment.mid(1), Qt::CaseInsensitive), qPrintable(result.comment));
    else
        QCOMPARE(result.comment, comment);
    if (!password.isEmpty()) {
        QVERIFY2(!result.comment.contains(password), "the password never appears in a comment");
        QVERIFY(!result.comment.contains(QString::fromLatin1(password.toUtf8().toBase64())));
    }

    const QList<MailServer::Received> received = m_server.received();
    QCOMPARE(received.size(), sent ? 1 : 0);
    if (sent) {
        const QJsonObject& envelope = received.first().envelope;
        QCOMPARE(envelope["listener"].toString(), listener);
        QCOMPARE(envelope["mail_from"].toString(), sender);
        QCOMPARE(envelope["rcpt_tos"].toArray(), QJsonArray{recipient});
        QCOMPARE(envelope["tls"].toBool(), tls);
        QCOMPARE(envelope["auth_user"].toString(), auth.section(QLatin1Char(' '), 1));
        const QJsonObject parsed = mailfixture::readMessage(received.first().path);
        QCOMPARE(parsed["parts"].toArray().first()["text"].toString().left(7), QStringLiteral("Hello,\r"));
    }
    QStringList attempts;
    for (const QString& line : m_server.authLog())
        if (line.section(QLatin1Char(' '), 0, 0) == listener)
            attempts.append(line.section(QLatin1Char(' '), 1));
    QCOMPARE(attempts, auth.isEmpty() ? QStringList() : QStringList{auth});
}

void TestSmtp::greetsWithTheLocalHostName()
{
    m_server.clear();
    const MailServerSettings settings{"ann@example.org", "127.0.0.1", m_server.port("plain"), "", "", false};
    QVERIFY(sendMail(settings, "bob@example.org", message("bob@example.org"), SmtpOptions{}).sent);
    const QString host = QSysInfo::machineHostName();
    QCOMPARE(m_server.received().value(0).envelope["ehlo"].toString(),
             host.isEmpty() ? QStringLiteral("Tallyweave") : host);
}

void TestSmtp::slowReplyTimesOut()
{
    m_server.clear();
    const MailServerSettings settings{"ann@example.org", "127.0.0.1", m_server.port("plain"), "", "", false};
    QElapsedTimer clock;
    clock.start();
    const SendResult result = sendMail(settings, "slow@example.org", message("slow@example.org"), SmtpOptions{});
    QVERIFY(!result.sent);
    QVERIFY2(result.comment.contains(QLatin1String("timeout"), Qt::CaseInsensitive), qPrintable(result.comment));
    QVERIFY2(clock.elapsed() >= 4500 && clock.elapsed() < 12000, "the 5 s limit for a reply, and not much more");
    QVERIFY(m_server.received().isEmpty());
}

void TestSmtp::slowSetUpEndsAtTheConnectTimeOut()
{
    // Every reply comes within the reply time-out; only the limit on the whole connect phase (greeting,
    // EHLO, AUTH) ends the exchange, before the AUTH reply at 12 s.
    const MailServerSettings settings{"ann@example.org", "127.0.0.1", m_server.port("lagging"), "ann", "pw", false};
    QElapsedTimer clock;
    clock.start();
    const SendResult result = sendMail(settings, "bob@example.org", message("bob@example.org"), SmtpOptions{});
    QVERIFY(!result.sent);
    QVERIFY2(result.comment.contains(QLatin1String("timed out"), Qt::CaseInsensitive)
                 || result.comment.contains(QLatin1String("timeout"), Qt::CaseInsensitive),
             qPrintable(result.comment));
    QVERIFY2(clock.elapsed() >= 9500 && clock.elapsed() < 11900, qPrintable(QString::number(clock.elapsed())));
}

void TestSmtp::connectionDroppedInDataFails()
{
    m_server.clear();
    const MailServerSettings settings{"ann@example.org", "127.0.0.1", m_server.port("plain"), "", "", false};
    const SendResult result =
        sendMail(settings, "drop@example.org", message("drop@example.org", 8 * 1024 * 1024), SmtpOptions{});
    QVERIFY(!result.sent);
    QVERIFY2(!result.comment.isEmpty(), "the transport's error is the comment");
    QVERIFY(m_server.received().isEmpty());
}

void TestSmtp::closedPortFailsWithTransportError()
{
    const MailServerSettings settings{"ann@example.org", "127.0.0.1", mailfixture::freePort(), "ann", GoodPassword, false};
    const SendResult result = sendMail(settings, "bob@example.org", message("bob@example.org"), SmtpOptions{});
    QVERIFY(!result.sent);
    QVERIFY2(result.comment.contains(QLatin1String("connect"), Qt::CaseInsensitive), qPrintable(result.comment));
}

void TestSmtp::endOfMessageWithoutReply_data()
{
    QTest::addColumn<QString>("recipient");
    QTest::addColumn<int>("padding");
    QTest::addColumn<bool>("unknown"); // the whole message was handed over
    QTest::addColumn<int>("atLeastMs");
    QTest::addColumn<int>("atMostMs");
    QTest::newRow("a reply held back ends at the 5 s reply limit") << "hold@example.org" << 0 << true << 4500 << 7500;
    QTest::newRow("a hang-up after the end of the message") << "vanish@example.org" << 0 << true << 0 << 3000;
    QTest::newRow("a hang-up in the middle of the message") << "drop@example.org" << 8 * 1024 * 1024 << false << 0
                                                            << 7500;
    QTest::newRow("a refusal of the message") << "refuse-data@example.org" << 0 << false << 0 << 3000;
}

void TestSmtp::endOfMessageWithoutReply()
{
    QFETCH(QString, recipient);
    QFETCH(int, padding);
    QFETCH(bool, unknown);
    QFETCH(int, atLeastMs);
    QFETCH(int, atMostMs);
    m_server.clear();
    const MailServerSettings settings{"ann@example.org", "127.0.0.1", m_server.port("plain"), "", "", false};
    QElapsedTimer clock;
    clock.start();
    const SendResult result = sendMail(settings, recipient, message(recipient, padding), SmtpOptions{});
    const qint64 took = clock.elapsed();
    QVERIFY(!result.sent);
    QCOMPARE(result.unknown, unknown);
    QCOMPARE(result.comment.contains(QLatin1String("may have been delivered")), unknown);
    QVERIFY2(took >= atLeastMs && took <= atMostMs, qPrintable(QString::number(took)));
    // What "unknown" stands for: the server has the message, its answer never came.
    QCOMPARE(m_server.received().size(), unknown ? 1 : 0);
}

void TestSmtp::echoedCredentialsAreMasked_data()
{
    QTest::addColumn<QString>("listener");
    QTest::addColumn<QString>("account");
    QTest::addColumn<QString>("password");
    QTest::newRow("a PLAIN login repeated by the server") << "echoplain" << "ann" << GoodPassword;
    QTest::newRow("a LOGIN exchange repeated by the server") << "echologin" << "ann" << GoodPassword;
    QTest::newRow("a PLAIN login with a password of non-ASCII letters")
        << "echoplain" << QStringLiteral("ann@example.org") << QStringLiteral("Sésame ouvre-toi");
}

void TestSmtp::echoedCredentialsAreMasked()
{
    QFETCH(QString, listener);
    QFETCH(QString, account);
    QFETCH(QString, password);
    const MailServerSettings settings{"ann@example.org", "127.0.0.1", m_server.port(listener), account, password, false};
    const SendResult result = sendMail(settings, "bob@example.org", message("bob@example.org"), SmtpOptions{});
    QVERIFY(!result.sent);
    QVERIFY2(result.comment.startsWith(QLatin1String("535 5.7.8 Refused: ")), qPrintable(result.comment));
    // The server's words stay, every form of the credentials goes.
    const QByteArray plainBlob = ('\0' + account.toUtf8() + '\0' + password.toUtf8()).toBase64();
    for (const QByteArray& secret : {password.toUtf8(), password.toUtf8().toBase64(), plainBlob,
                                     plainBlob.left(plainBlob.indexOf('=')), account.toUtf8().toBase64()})
        QVERIFY2(!result.comment.toUtf8().contains(secret), qPrintable(result.comment + " holds " + secret));
    QVERIFY2(result.comment.contains(QLatin1String("****")), qPrintable(result.comment));
}

QTEST_GUILESS_MAIN(TestSmtp)
#include "tst_smtp.moc"
