// tallyweave-batch bulk as a script runs it: usage errors, refusals before sending, the report
// lines of a run against a real server, SSL_CERT_FILE and the pause between messages.
#include "mail/journal.h"
#include "mail/mailsettings.h"
#include "mail/mailfixture.h"

#include <QElapsedTimer>
#include <QProcessEnvironment>
#include <QtTest>

using mailfixture::MailServer;

namespace {

struct BatchResult {
    int code = -1;
    QString out;
    QString err;
};

} // namespace

class TestBatchBulk : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void badUsage_data();
    void badUsage();
    void refusedBeforeSending_data();
    void refusedBeforeSending();
    void reportsEveryRecipient();
    void noRecipientIsARunThatEnded();
    void honoursSslCertFile();
    void pausesBetweenMessages();
    void eachRowItsOwnMessage();

private:
    QTemporaryDir m_dir;
    MailServer m_server;
    QString m_book;
    QString m_body;

    QString writeFile(const QString& name, const QByteArray& content)
    {
        return mailfixture::writeFile(m_dir.filePath(name), content);
    }
    void storeSettings(const QString& listener, bool ssl, const QString& password = QStringLiteral("pw"))
    {
        saveMailServerFields(SettingsStore(), MailServerFields{" ann@example.org ", "127.0.0.1",
                                                               QString::number(m_server.port(listener)), "ann",
                                                               password, ssl});
    }
    BatchResult batch(const QStringList& args, const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment())
    {
        // Each run here is a mailing of its own: none resumes an earlier one.
        QFile::remove(SendJournal::defaultPath());
        QProcess process;
        process.setProcessEnvironment(env);
        process.start(qEnvironmentVariable("TALLYWEAVE_BATCH"), QStringList{"bulk"} + args);
        if (!process.waitForFinished(60000))
            return {};
        return {process.exitCode(), QString::fromUtf8(process.readAllStandardOutput()),
                QString::fromUtf8(process.readAllStandardError())};
    }
};

void TestBatchBulk::initTestCase()
{
    QVERIFY(!qEnvironmentVariable("TALLYWEAVE_BATCH").isEmpty());
    const QString certError = mailfixture::makeCertificates(m_dir.path());
    QVERIFY2(certError.isEmpty(), qPrintable(certError));
    const QString error = m_server.start(m_dir.path(), {"plain:plain", "starttls:starttls"});
    QVERIFY2(error.isEmpty(), qPrintable(error));
    m_book = writeFile(QStringLiteral("book.csv"),
                       "ann@example.org,Ann,A1\n"
                       "no address,Nobody,N2\n"
                       "bob@example.org,\"Bob\tthe builder\",\n"
                       "refuse-rcpt@example.org,Rolf,R4\n");
    m_body = writeFile(QStringLiteral("body.txt"), "Dear <name>,\nyour code: <code>\nbye");
}

void TestBatchBulk::init()
{
    m_server.clear();
    storeSettings(QStringLiteral("plain"), false);
}

void TestBatchBulk::badUsage_data()
{
    QTest::addColumn<QStringList>("args");
    const QStringList base{"--source", "book.csv", "--subject", "s", "--body-file", "body.txt"};
    QTest::newRow("nothing") << QStringList{};
    QTest::newRow("no --source") << QStringList{"--subject", "s", "--body-file", "body.txt"};
    QTest::newRow("no --subject") << QStringList{"--source", "book.csv", "--body-file", "body.txt"};
    QTest::newRow("no --body-file") << QStringList{"--source", "book.csv", "--subject", "s"};
    QTest::newRow("blank --subject") << QStringList{"--source", "book.csv", "--subject", " ", "--body-file", "body.txt"};
    QTest::newRow("--pair without a colon") << base + QStringList{"--pair", "B"};
    QTest::newRow("--pair without a label") << base + QStringList{"--pair", "B: "};
    QTest::newRow("column beyond Z") << base + QStringList{"--email-column", "AA"};
    QTest::newRow("--start 0") << base + QStringList{"--start", "0"};
    QTest::newRow("--start not a number") << base + QStringList{"--start", "two"};
    QTest::newRow("--sheet negative") << base + QStringList{"--sheet", "-1"};
    QTest::newRow("--interval-ms negative") << base + QStringList{"--interval-ms", "-5"};
    QTest::newRow("--interval-ms not a number") << base + QStringList{"--interval-ms", "1s"};
    QTest::newRow("unknown option") << base + QStringList{"--cc", "x@example.org"};
    QTest::newRow("option without its value") << base + QStringList{"--sheet"};
    QTest::newRow("--cc-column a number") << base + QStringList{"--cc-column", "3"};
    QTest::newRow("--bcc-column of two letters") << base + QStringList{"--bcc-column", "AB"};
    QTest::newRow("--attach-column without its value") << base + QStringList{"--attach-column"};
}

void TestBatchBulk::badUsage()
{
    QFETCH(QStringList, args);
    for (QString& arg : args)
        if (arg.endsWith(QLatin1String(".csv")) || arg.endsWith(QLatin1String(".txt")))
            arg = m_dir.filePath(arg);
    const BatchResult result = batch(args);
    QCOMPARE(result.code, 2);
    QVERIFY2(result.err.contains(QLatin1String("usage:")), qPrintable(result.err));
    QVERIFY(result.out.isEmpty());
    QVERIFY(m_server.received().isEmpty());
}

void TestBatchBulk::refusedBeforeSending_data()
{
    QTest::addColumn<QString>("book");
    QTest::addColumn<QString>("body");
    QTest::addColumn<QString>("sheet");
    QTest::addColumn<QString>("settings"); // "ok", "none", "blank password"
    QTest::addColumn<QString>("cause");
    QTest::newRow("workbook missing") << "missing.csv" << "body.txt" << "1" << "ok" << "missing.csv";
    QTest::newRow("sheet missing") << "book.csv" << "body.txt" << "2" << "ok" << "sheet 2";
    QTest::newRow("no settings stored") << "book.csv" << "body.txt" << "1" << "none" << "incomplete";
    QTest::newRow("password only blanks") << "book.csv" << "body.txt" << "1" << "blank password" << "incomplete";
    QTest::newRow("body file missing") << "book.csv" << "nobody.txt" << "1" << "ok" << "nobody.txt";
    QTest::newRow("body file is a folder") << "book.csv" << "." << "1" << "ok" << "cannot be read";
    QTest::newRow("body file of blank lines") << "book.csv" << "blank.txt" << "1" << "ok" << "holds no text";
    QTest::newRow("body file not UTF-8") << "book.csv" << "latin1.txt" << "1" << "ok" << "not UTF-8";
}

void TestBatchBulk::refusedBeforeSending()
{
    QFETCH(QString, book);
    QFETCH(QString, body);
    QFETCH(QString, sheet);
    QFETCH(QString, settings);
    QFETCH(QString, cause);
    writeFile(QStringLiteral("latin1.txt"), "Gr\xfc\xdf" "e\n");
    writeFile(QStringLiteral("blank.txt"), " \n\t\n\n");
    if (settings == QLatin1String("none"))
        QFile::remove(SettingsStore().filePath());
    else if (settings == QLatin1String("blank password"))
        storeSettings(QStringLiteral("plain"), false, QStringLiteral("   "));
    const BatchResult result = batch({"--source", m_dir.filePath(book), "--sheet", sheet, "--subject", "s",
                                      "--body-file", m_dir.filePath(body), "--interval-ms", "0"});
    QCOMPARE(result.code, 1);
    QVERIFY2(result.err.contains(cause), qPrintable(result.err));
    QVERIFY2(result.out.isEmpty(), "nothing was sent, so there is no report");
    QVERIFY(m_server.received().isEmpty());
}

void TestBatchBulk::reportsEveryRecipient()
{
    const QString attachment = writeFile(QStringLiteral("terms.txt"), "Terms\r\n");
    const BatchResult result =
        batch({"--source", m_book, "--subject", QString::fromUtf8("Grüße, <name>"), "--body-file", m_body, "--pair",
               "b:<name>", "--pair", "C:<code>", "--attach", attachment, "--attach", m_dir.filePath("gone.pdf"),
               "--interval-ms", "0"});
    QCOMPARE(result.code, 0);
    QCOMPARE(result.out.split(QLatin1Char('\n')),
             (QStringList{"0\tann@example.org\tAnn\tA1\t",
                          "0\tbob@example.org\tBob\\tthe builder\t-\t",
                          "1\trefuse-rcpt@example.org\tRolf\tR4\t550 5.1.1 No such user here 5.1.1 Try another mailbox",
                          "records 3, null values 0, failures 1", ""}));

    const QList<MailServer::Received> received = m_server.received();
    QCOMPARE(received.size(), 2);
    QCOMPARE(received[0].envelope["mail_from"].toString(), QStringLiteral("ann@example.org"));
    const QJsonObject parsed = mailfixture::readMessage(received[1].path);
    QCOMPARE(parsed["subject"].toString(), QString::fromUtf8("Grüße, <name>"));
    QCOMPARE(parsed["from"].toArray().first().toArray(), (QJsonArray{"ann", "ann@example.org"}));
    const QJsonArray parts = parsed["parts"].toArray();
    QCOMPARE(parts.size(), 2);
    QCOMPARE(parts[0].toObject()["text"].toString(), QStringLiteral("Dear Bob\tthe builder,\r\nyour code: -\r\nbye\r\n"));
    QCOMPARE(parts[1].toObject()["filename"].toString(), QStringLiteral("terms.txt"));
    QCOMPARE(mailfixture::fromBase64(parts[1].toObject()["data"]), QByteArray("Terms\r\n"));
}

void TestBatchBulk::noRecipientIsARunThatEnded()
{
    const BatchResult result = batch({"--source", m_book, "--start", "5", "--subject", "s", "--body-file", m_body});
    QCOMPARE(result.code, 0);
    QCOMPARE(result.out, QStringLiteral("records 0, null values 0, failures 0\n"));
    QVERIFY2(result.err.isEmpty(), "no row was left out, so nothing is said of it");
}

void TestBatchBulk::honoursSslCertFile()
{
    storeSettings(QStringLiteral("starttls"), true, QStringLiteral("Open Sesame!"));
    const QStringList args{"--source", m_book, "--email-column", "A", "--sheet", "1", "--subject", "s",
                           "--body-file", m_body, "--interval-ms", "0"};
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("SSL_CERT_FILE"));
    const BatchResult untrusted = batch(args, env);
    QCOMPARE(untrusted.code, 0);
    QVERIFY2(untrusted.out.contains(QLatin1String("SSL certificate problem")), qPrintable(untrusted.out));
    QVERIFY(m_server.received().isEmpty());

    env.insert(QStringLiteral("SSL_CERT_FILE"), m_dir.filePath(QStringLiteral("ca.pem")));
    const BatchResult trusted = batch(args, env);
    QCOMPARE(trusted.code, 0);
    QVERIFY2(trusted.out.endsWith(QLatin1String("records 3, null values 0, failures 1\n")), qPrintable(trusted.out));
    QCOMPARE(m_server.received().size(), 2);
    QVERIFY(m_server.received().first().envelope["tls"].toBool());
}

void TestBatchBulk::pausesBetweenMessages()
{
    QElapsedTimer clock;
    clock.start();
    const BatchResult result =
        batch({"--source", m_book, "--subject", "s", "--body-file", m_body, "--interval-ms", "400"});
    QCOMPARE(result.code, 0);
    QVERIFY2(clock.elapsed() >= 800, "three messages, two pauses");
    QCOMPARE(m_server.received().size(), 2);
}

void TestBatchBulk::eachRowItsOwnMessage()
{
    writeFile(QStringLiteral("ann.txt"), "Ann's own\n");
    const QString book = writeFile(QStringLiteral("personal.csv"),
                                   "ann@example.org,Ann & Co,ann.txt,boss@example.org,audit@example.org\n"
                                   "no address,Nobody,,,\n"
                                   "bob@example.org,Bob,gone.pdf,,\n"
                                   "erin+tag@example.org,Erin,,,\n");
    const QString body = writeFile(QStringLiteral("body.html"), "<p>Dear <name></p>\n");
    const BatchResult result =
        batch({"--source", book, "--subject", "For <name>", "--body-file", body, "--pair", "B:<name>",
               "--attach-column", "c", "--cc-column", "D", "--bcc-column", "E", "--subject-labels", "--html",
               "--interval-ms", "0"});
    QCOMPARE(result.code, 0);
    QCOMPARE(result.out.split(QLatin1Char('\n')),
             (QStringList{"0\tann@example.org\tAnn & Co\t",
                          "1\tbob@example.org\tBob\tthe attachment " + m_dir.filePath("gone.pdf") + " does not exist",
                          "0\terin+tag@example.org\tErin\t", "records 3, null values 0, failures 1", ""}));
    QCOMPARE(result.err, QStringLiteral("tallyweave-batch bulk: 1 row left out: the address cannot be used\n"));

    const QList<MailServer::Received> received = m_server.received();
    QCOMPARE(received.size(), 2);
    QCOMPARE(received[0].envelope["rcpt_tos"].toArray(),
             (QJsonArray{"ann@example.org", "boss@example.org", "audit@example.org"}));
    QCOMPARE(received[1].envelope["rcpt_tos"].toArray(), QJsonArray{"erin+tag@example.org"});
    const QJsonObject ann = mailfixture::readMessage(received[0].path);
    QCOMPARE(ann["subject"].toString(), QStringLiteral("For Ann & Co"));
    QCOMPARE(ann["cc"].toArray(), (QJsonArray{QJsonArray{"", "boss@example.org"}}));
    QVERIFY(!ann["headers"].toObject().contains("bcc"));
    const QJsonArray parts = ann["parts"].toArray();
    QCOMPARE(parts.size(), 3);
    QCOMPARE(parts[0].toObject()["text"].toString(), QStringLiteral("Dear Ann & Co\r\n"));
    QCOMPARE(parts[1].toObject()["text"].toString(), QStringLiteral("<p>Dear Ann &amp; Co</p>\r\n"));
    QCOMPARE(parts[2].toObject()["filename"].toString(), QStringLiteral("ann.txt"));
    QCOMPARE(mailfixture::fromBase64(parts[2].toObject()["data"]), QByteArray("Ann's own\n"));
}

QTEST_GUILESS_MAIN(TestBatchBulk)
#include "tst_batchbulk.moc"
