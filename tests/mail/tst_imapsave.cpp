// Saving into an IMAP folder against a real dovecot: what imaplib reads back is byte for byte what
// was appended, flagged \Draft and \Seen; every refusal (folder, login, certificate, quota) ends
// with the server's or the transport's words, never with the password.
#include "imapfixture.h"
#include "mail/composer.h"
#include "mail/imapsave.h"
#include "mailfixture.h"

#include <QtTest>

using imapfixture::GoodPassword;
using imapfixture::ImapServer;

class TestImapSave : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void mailboxNames_data();
    void mailboxNames();
    void appendedMessagesReadBackAsDrafts_data();
    void appendedMessagesReadBackAsDrafts();
    void refusalsCarryTheWords_data();
    void refusalsCarryTheWords();
    void fullQuotaEndsTheRunAndKeepsWhatWasSaved();

private:
    ImapAccount account(bool implicitTls) const;
    QByteArray message(const QString& to, int padding = 0) const;
    QString caFile() const { return m_certs.filePath(QStringLiteral("ca.pem")); }

    QTemporaryDir m_certs;
    ImapServer m_server;
};

void TestImapSave::initTestCase()
{
    QVERIFY(m_certs.isValid());
    const QString certError = mailfixture::makeCertificates(m_certs.path());
    QVERIFY2(certError.isEmpty(), qPrintable(certError));
    const QString error = m_server.start(m_certs.path());
    QVERIFY2(error.isEmpty(), qPrintable(error));
}

ImapAccount TestImapSave::account(bool implicitTls) const
{
    ImapAccount a;
    a.host = QStringLiteral("127.0.0.1");
    a.port = implicitTls ? m_server.tlsPort() : m_server.startTlsPort();
    a.ssl = true;
    a.account = QStringLiteral("ann");
    a.password = GoodPassword;
    return a;
}

ImapOptions options(const QString& caFile, int implicitTlsPort)
{
    ImapOptions o;
    o.caFile = caFile;
    o.implicitTlsPort = implicitTlsPort;
    o.replyTimeoutSeconds = 10;
    return o;
}

QByteArray TestImapSave::message(const QString& to, int padding) const
{
    AttachmentCache cache;
    QString body = QStringLiteral("Grüße,\r\nthis is a draft.\r\n");
    for (int i = 0; i < padding / 64; ++i)
        body += QString(62, QLatin1Char('x')) + QStringLiteral("\r\n");
    return composeMessage({to, QStringLiteral("Entwurf für dich"), body, {}},
                          {QStringLiteral("ann"), QStringLiteral("ann@example.org"), QStringLiteral("ann@example.org")},
                          cache);
}

void TestImapSave::mailboxNames_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QByteArray>("quoted");
    QTest::newRow("plain ASCII is quoted as it is") << "Drafts" << QByteArray("\"Drafts\"");
    QTest::newRow("a space and a slash stay") << "Work/Not sent" << QByteArray("\"Work/Not sent\"");
    QTest::newRow("an ampersand becomes &-") << "R&D" << QByteArray("\"R&-D\"");
    QTest::newRow("quote and backslash are escaped") << "a\"b\\c" << QByteArray("\"a\\\"b\\\\c\"");
    QTest::newRow("an umlaut in modified UTF-7") << "Entwürfe" << QByteArray("\"Entw&APw-rfe\"");
    QTest::newRow("a run of CJK characters in one shift") << "草稿" << QByteArray("\"&g0l6Pw-\"");
    QTest::newRow("a line break cannot be used") << "Drafts\r\nA1 DELETE INBOX" << QByteArray();
}

void TestImapSave::mailboxNames()
{
    QFETCH(QString, folder);
    QFETCH(QByteArray, quoted);
    QCOMPARE(imapMailboxName(folder), quoted);
}

void TestImapSave::appendedMessagesReadBackAsDrafts_data()
{
    QTest::addColumn<bool>("implicitTls");
    QTest::addColumn<QString>("folder");
    QTest::newRow("TLS from the first byte, into Drafts") << true << "Drafts";
    QTest::newRow("STARTTLS on the other port, into Drafts") << false << "Drafts";
    QTest::newRow("a folder whose name is not ASCII") << true << "Entwürfe";
}

void TestImapSave::appendedMessagesReadBackAsDrafts()
{
    QFETCH(bool, implicitTls);
    QFETCH(QString, folder);
    QString error;
    const int before = int(m_server.read(caFile(), QStringLiteral("ann"), folder, &error).size());
    QVERIFY2(error.isEmpty(), qPrintable(error));

    ImapAccount a = account(implicitTls);
    a.folder = folder;
    const QList<QByteArray> messages{message(QStringLiteral("bob@example.org")),
                                     message(QStringLiteral("cy@example.org"), 200 * 1024)};
    {
        ImapDrafts drafts(a, options(caFile(), m_server.tlsPort()));
        try {
            drafts.connect();
            for (const QByteArray& m : messages)
                drafts.append(m);
        } catch (const LocalMailError& e) {
            QFAIL(qPrintable(e.cause()));
        }
    }
    const QList<ImapServer::Stored> stored = m_server.read(caFile(), QStringLiteral("ann"), folder, &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QCOMPARE(stored.size(), before + messages.size());
    for (int i = 0; i < messages.size(); ++i) {
        const ImapServer::Stored& s = stored.at(before + i);
        QVERIFY2(s.flags.contains(QStringLiteral("\\Draft")), qPrintable(s.flags.join(' ')));
        QVERIFY2(s.flags.contains(QStringLiteral("\\Seen")), qPrintable(s.flags.join(' ')));
        QCOMPARE(s.message, messages.at(i));
    }
}

void TestImapSave::refusalsCarryTheWords_data()
{
    QTest::addColumn<QString>("change");
    QTest::addColumn<QString>("words");
    QTest::newRow("a folder that does not exist: the server's words")
        << "folder" << "refused APPEND into \"Nowhere\": NO [TRYCREATE] Mailbox doesn't exist: Nowhere";
    QTest::newRow("a wrong password: the server's refusal of the login")
        << "password" << "refused the login: NO [AUTHENTICATIONFAILED] Authentication failed.";
    QTest::newRow("a certificate no trusted CA signed: the transport's words")
        << "untrusted" << "SSL certificate problem";
    QTest::newRow("STARTTLS asked of the port that speaks TLS at once") << "wrongport" << "cannot be reached";
    QTest::newRow("nothing listening") << "closed" << "cannot be reached";
}

void TestImapSave::refusalsCarryTheWords()
{
    QFETCH(QString, change);
    QFETCH(QString, words);
    ImapAccount a = account(true);
    ImapOptions o = options(caFile(), m_server.tlsPort());
    o.connectTimeoutSeconds = 5;
    o.replyTimeoutSeconds = 5;
    if (change == QLatin1String("folder"))
        a.folder = QStringLiteral("Nowhere");
    else if (change == QLatin1String("password"))
        a.password = QStringLiteral("Wrong Sesame");
    else if (change == QLatin1String("untrusted"))
        o.caFile = m_certs.filePath(QStringLiteral("selfsigned.pem"));
    else if (change == QLatin1String("wrongport"))
        o.implicitTlsPort = 1;
    else if (change == QLatin1String("closed"))
        a.port = mailfixture::freePort();

    ImapDrafts drafts(a, o);
    QString cause;
    try {
        drafts.connect();
        drafts.append(message(QStringLiteral("bob@example.org")));
    } catch (const LocalMailError& e) {
        cause = e.cause();
    }
    QVERIFY2(cause.contains(words), qPrintable(cause));
    QVERIFY2(!cause.contains(a.password), qPrintable(cause));
}

void TestImapSave::fullQuotaEndsTheRunAndKeepsWhatWasSaved()
{
    ImapAccount a = account(true);
    a.account = QStringLiteral("bea");
    ImapDrafts drafts(a, options(caFile(), m_server.tlsPort()));
    int appended = 0;
    QString cause;
    try {
        drafts.connect();
        for (; appended < 10; ++appended)
            drafts.append(message(QStringLiteral("bob@example.org"), 4 * 1024));
    } catch (const LocalMailError& e) {
        cause = e.cause();
    }
    QVERIFY2(cause.contains(QLatin1String("OVERQUOTA")), qPrintable(cause));
    QVERIFY2(appended >= 1 && appended < 10, qPrintable(QString::number(appended)));
    QString error;
    const QList<ImapServer::Stored> stored = m_server.read(caFile(), QStringLiteral("bea"), QStringLiteral("Drafts"), &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QCOMPARE(stored.size(), appended);
}

QTEST_GUILESS_MAIN(TestImapSave)
#include "tst_imapsave.moc"
