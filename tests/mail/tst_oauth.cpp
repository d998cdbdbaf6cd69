// OAuth 2 sign-in against an aiosmtpd server that checks the bearer token: the token command run
// without a shell, once per run and once more when the server refuses the token, its failure
// failing the row with its cause, and the token never shown.
#include "mail/mailsettings.h"
#include "mail/oauth.h"
#include "mail/smtp.h"
#include "mail/composer.h"
#include "mailfixture.h"

#include <QProcess>
#include <QtTest>

using mailfixture::MailServer;

class TestOAuth : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void tokenCommand_data();
    void tokenCommand();
    void goodTokenSendsAndTheCommandRunsOncePerRun();
    void refusedTokenRunsTheCommandOnceMoreThenRowsFail();
    void failingCommandFailsTheRowWithItsCause();
    void batchBulkSignsInWithTheTokenAndNeverPrintsIt_data();
    void batchBulkSignsInWithTheTokenAndNeverPrintsIt();

private:
    MailServerSettings settings() const;
    SendResult send(const MailServerSettings& server);
    QStringList calls() const;
    void acceptToken(const QByteArray& token) { mailfixture::writeFile(m_server.folder() + "/token.txt", token); }

    QTemporaryDir m_dir;
    QString m_script;
    MailServer m_server;
};

void TestOAuth::initTestCase()
{
    QVERIFY(m_dir.isValid());
    const QString error = m_server.start(m_dir.path(), {"oauth:oauth"});
    QVERIFY2(error.isEmpty(), qPrintable(error));
    // Prints "tok-N" for its N-th call (blanks around it), or fails while the file "fail" exists.
    m_script = m_dir.filePath("get token");
    const QByteArray dir = QFile::encodeName(m_dir.path());
    mailfixture::writeFile(m_script, "#!/bin/sh\necho \"$@\" >> '" + dir + "/calls.log'\n"
                                     "if [ -f '" + dir + "/fail' ]; then echo 'no refresh token for ann' >&2; exit 3; fi\n"
                                     "printf '  tok-%s \\n' $(wc -l < '" + dir + "/calls.log')\n");
    QFile::setPermissions(m_script, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

void TestOAuth::init()
{
    m_server.clear();
    QFile::remove(m_dir.filePath("calls.log"));
    QFile::remove(m_dir.filePath("fail"));
}

MailServerSettings TestOAuth::settings() const
{
    MailServerFields fields;
    fields.email = QStringLiteral("ann@example.org");
    fields.host = QStringLiteral("127.0.0.1");
    fields.port = QString::number(m_server.port("oauth"));
    fields.account = QStringLiteral("ann");
    fields.oauth2 = true;
    // Quoted, as the options dialog takes it: the script's name holds a blank.
    fields.tokenCommand = QStringLiteral("'%1' --account ann").arg(m_script);
    return serverSettings(fields);
}

SendResult TestOAuth::send(const MailServerSettings& server)
{
    AttachmentCache cache;
    const QByteArray message = composeMessage({QStringLiteral("bob@example.org"), QStringLiteral("Hi"),
                                               QStringLiteral("Hello\r\n"), {}},
                                              {QStringLiteral("ann"), server.email, server.email}, cache);
    return sendMail(server, QStringLiteral("bob@example.org"), message, defaultSmtpOptions());
}

QStringList TestOAuth::calls() const
{
    QFile log(m_dir.filePath("calls.log"));
    if (!log.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(log.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

void TestOAuth::tokenCommand_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("token");
    QTest::addColumn<QString>("error"); // a part of it
    QTest::newRow("the output is trimmed") << "/usr/bin/printf '\\n  tok-A \\n\\n'" << "tok-A" << "";
    QTest::newRow("quoted words, no shell: $HOME, ; and * reach the program as written")
        << "/usr/bin/printf '%s|' 'a b' '$HOME;x' \"*\"" << "a b|$HOME;x|*|" << "";
    QTest::newRow("a failing command: its status and error output, never its output")
        << "/bin/sh -c 'echo tok-secret; echo no refresh token >&2; exit 3'" << ""
        << "failed with status 3: no refresh token";
    QTest::newRow("a command that prints nothing") << "/bin/true" << "" << "printed no token";
    QTest::newRow("a program that does not exist") << "/nonexistent/get-token" << "" << "cannot be run";
    QTest::newRow("no command at all") << "   " << "" << "no token command is set";
    QTest::newRow("an unclosed quote runs nothing") << "/usr/bin/printf 'tok" << "" << "unclosed quote";
    QTest::newRow("double quotes keep an escaped quote, a backslash escapes a blank")
        << "/usr/bin/printf %s \"say \\\"hi\\\"\" a\\ b" << "say \"hi\"a b" << "";
}

void TestOAuth::tokenCommand()
{
    QFETCH(QString, command);
    QFETCH(QString, token);
    QFETCH(QString, error);
    QString cause;
    QCOMPARE(runTokenCommand(command, &cause), token);
    if (error.isEmpty())
        QVERIFY2(cause.isEmpty(), qPrintable(cause));
    else
        QVERIFY2(cause.contains(error), qPrintable(cause));
    QVERIFY2(!cause.contains(QLatin1String("tok-secret")), qPrintable(cause));
}

void TestOAuth::goodTokenSendsAndTheCommandRunsOncePerRun()
{
    acceptToken("tok-1");
    const MailServerSettings run = settings();
    for (int i = 0; i < 3; ++i) {
        const SendResult result = send(run);
        QVERIFY2(result.sent, qPrintable(result.comment));
    }
    QCOMPARE(calls(), QStringList{"--account ann"});
    QCOMPARE(m_server.authLog(), QStringList(3, QStringLiteral("oauth XOAUTH2 ann accepted")));
    QCOMPARE(m_server.received().size(), 3);
    QCOMPARE(m_server.received().at(0).envelope.value("auth_user").toString(), QStringLiteral("ann"));

    // The next run asks again.
    acceptToken("tok-2");
    QVERIFY(send(settings()).sent);
    QCOMPARE(calls().size(), 2);
}

void TestOAuth::refusedTokenRunsTheCommandOnceMoreThenRowsFail()
{
    acceptToken("tok-2"); // the first token printed has expired
    const MailServerSettings run = settings();
    const SendResult first = send(run);
    QVERIFY2(first.sent, qPrintable(first.comment));
    QCOMPARE(calls().size(), 2);
    QCOMPARE(m_server.authLog(), (QStringList{"oauth XOAUTH2 ann refused", "oauth XOAUTH2 ann accepted"}));

    acceptToken("tok-9"); // and now the second
    const SendResult second = send(run);
    QVERIFY(!second.sent);
    // The server's words: its challenge with the reason, decoded.
    QVERIFY2(second.comment.startsWith(QLatin1String("334 {\"status\": \"401\"")), qPrintable(second.comment));
    QCOMPARE(calls().size(), 2);
    QVERIFY2(!second.comment.contains(QLatin1String("tok-")), qPrintable(second.comment));
    QCOMPARE(m_server.received().size(), 1);
}

void TestOAuth::failingCommandFailsTheRowWithItsCause()
{
    acceptToken("tok-1");
    mailfixture::writeFile(m_dir.filePath("fail"), "");
    const SendResult result = send(settings());
    QVERIFY(!result.sent);
    QVERIFY2(result.comment.contains(QLatin1String("failed with status 3: no refresh token for ann")),
             qPrintable(result.comment));
    QVERIFY2(m_server.authLog().isEmpty(), "without a token there is nothing to sign in with");
}

void TestOAuth::batchBulkSignsInWithTheTokenAndNeverPrintsIt_data()
{
    QTest::addColumn<QByteArray>("accepted");
    QTest::addColumn<QString>("lines");
    QTest::newRow("a good token: both sent") << QByteArray("tok-1") << "0\tann@example.com\t\n0\tbob@example.com\t\n";
    QTest::newRow("a token refused twice: both rows fail with the server's words")
        << QByteArray("tok-7")
        << "1\tann@example.com\t334 {\"status\": \"401\", \"schemes\": \"bearer\", \"scope\": \"mail\"}\n"
           "1\tbob@example.com\t334 {\"status\": \"401\", \"schemes\": \"bearer\", \"scope\": \"mail\"}\n";
}

void TestOAuth::batchBulkSignsInWithTheTokenAndNeverPrintsIt()
{
    QFETCH(QByteArray, accepted);
    QFETCH(QString, lines);
    acceptToken(accepted);
    const QString config = m_dir.filePath("config");
    QDir().mkpath(config);
    mailfixture::writeFile(config + "/Tallyweave.conf",
                           "[General]\nEmail=ann@example.org\nSMTPAddress=127.0.0.1\nSMTPPort="
                               + QByteArray::number(m_server.port("oauth"))
                               + "\nSMTPUserName=ann\nSMTPAuth=oauth2\nSMTPTokenCommand=\"'"
                               + QFile::encodeName(m_script) + "' --account ann\"\n");
    mailfixture::writeFile(m_dir.filePath("book.csv"), "ann@example.com\nbob@example.com\n");
    mailfixture::writeFile(m_dir.filePath("body.txt"), "Hello\n");
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_CONFIG_HOME", config);
    env.insert("XDG_STATE_HOME", m_dir.filePath("state-") + QString::fromLatin1(accepted));
    QProcess batch;
    batch.setProcessEnvironment(env);
    batch.start(qEnvironmentVariable("TALLYWEAVE_BATCH"),
                {"bulk", "--source", m_dir.filePath("book.csv"), "--subject", "Hi", "--body-file", m_dir.filePath("body.txt"),
                 "--interval-ms", "0"});
    QVERIFY(batch.waitForFinished(60000));
    const QString out = QString::fromUtf8(batch.readAllStandardOutput());
    const QString err = QString::fromUtf8(batch.readAllStandardError());
    QVERIFY2(batch.exitCode() == 0, qPrintable(err));
    QCOMPARE(out.section(QLatin1Char('\n'), 0, 1) + QLatin1Char('\n'), lines);
    QVERIFY2(!out.contains(QLatin1String("tok-")) && !err.contains(QLatin1String("tok-")), qPrintable(out + err));
    QCOMPARE(calls().size(), accepted == "tok-1" ? 1 : 2);
}

QTEST_GUILESS_MAIN(TestOAuth)
#include "tst_oauth.moc"
