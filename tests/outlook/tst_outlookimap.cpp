// The mail-client run saving into the Drafts folder of an IMAP account (a real dovecot): each
// message as the outbox would hold it, flagged \Draft, journaled; a refusal of the server ends the
// run with its words and what was appended stays.
#include "mail/imapfixture.h"
#include "merge/outlook/outlookmerge.h"
#include "outlook/outlookfixture.h"

#include <QRegularExpression>
#include <QtTest>

using namespace outlookfixture;
using imapfixture::GoodPassword;
using imapfixture::ImapServer;

namespace {

class LinesSink : public OutlookMergeSink {
public:
    void recordDone(const QStringList& subItems, int image, int, int) override { lines.append({subItems, image}); }
    bool stopRequested() override { return false; }
    QList<std::pair<QStringList, int>> lines;
};

// A message with what differs from one composition to the next (date, message id, the multipart
// boundary) blanked, and LF line ends, so that a saved draft and an outbox file of the same row
// compare equal.
QByteArray comparable(QByteArray message)
{
    message.replace("\r\n", "\n");
    static const QRegularExpression boundary(QStringLiteral("boundary=\"([^\"]+)\""));
    const QByteArray separator = boundary.match(QString::fromLatin1(message)).captured(1).toLatin1();
    if (!separator.isEmpty())
        message.replace(separator, "BOUNDARY");
    static const QRegularExpression varying(QStringLiteral("^(Date|Message-ID): .*$"),
                                            QRegularExpression::MultilineOption | QRegularExpression::CaseInsensitiveOption);
    return QString::fromLatin1(message).replace(varying, QStringLiteral("\\1: -")).toLatin1();
}

} // namespace

class TestOutlookImap : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void draftsHoldWhatTheOutboxWouldHold();
    void anEarlierRunIntoTheOutboxDoesNotCountForDrafts();
    void refusalsEndTheRunWithTheWords_data();
    void refusalsEndTheRunWithTheWords();
    void fullQuotaKeepsWhatWasAppendedAndJournalsIt();
    void batchSavesIntoDraftsWithTheSettingsOfTheStore();
    void batchRefusesBeforeSaving_data();
    void batchRefusesBeforeSaving();

private:
    QString path(const QString& name) const { return m_dir->filePath(name); }
    QString caFile() const { return m_certs.filePath(QStringLiteral("ca.pem")); }
    OutlookMergeSettings settings(int rows) const;
    QList<ImapServer::Stored> drafts(const QString& user = QStringLiteral("ann"));
    struct Batch {
        int exitCode = -1;
        QString out, err;
    };
    Batch batch(const QByteArray& settings, const QStringList& args);

    QTemporaryDir m_certs;
    ImapServer m_server;
    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestOutlookImap::initTestCase()
{
    QVERIFY(m_certs.isValid());
    const QString certError = mailfixture::makeCertificates(m_certs.path());
    QVERIFY2(certError.isEmpty(), qPrintable(certError));
    const QString error = m_server.start(m_certs.path());
    QVERIFY2(error.isEmpty(), qPrintable(error));
}

void TestOutlookImap::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    qputenv("MAILDIR", QFile::encodeName(path("Maildir")));
    qputenv("SSL_CERT_FILE", QFile::encodeName(caFile()));
}

OutlookMergeSettings TestOutlookImap::settings(int rows) const
{
    QList<QStringList> book{{"Address", "Name"}};
    for (int i = 1; i <= rows; ++i)
        book.append(QStringList{QStringLiteral("p%1@example.org").arg(i), QStringLiteral("Person %1").arg(i)});
    book.append(QStringList{"no address", "Nobody"});
    OutlookMergeSettings s;
    s.workbookPath = path("book.csv");
    writeBook(s.workbookPath, book);
    writeFile(path("plan.txt"), QByteArray(3000, 'p'));
    s.startLine = 2;
    s.subject = QStringLiteral("Entwurf");
    s.body = QStringLiteral("Dear NAME,\r\nsee the plan.\r\n");
    s.pairs = {{2, QStringLiteral("NAME")}};
    s.attachments = {{"plan.txt", path("plan.txt")}};
    s.fromAddress = QStringLiteral("ann@example.org");
    ImapAccount account;
    account.host = QStringLiteral("127.0.0.1");
    account.port = m_server.startTlsPort(); // STARTTLS: the implicit-TLS port is 993
    account.account = QStringLiteral("ann");
    account.password = GoodPassword;
    s.imap = account;
    return s;
}

QList<ImapServer::Stored> TestOutlookImap::drafts(const QString& user)
{
    QString error;
    const QList<ImapServer::Stored> stored = m_server.read(caFile(), user, QStringLiteral("Drafts"), &error);
    if (!error.isEmpty())
        qWarning("%s", qPrintable(error));
    return stored;
}

void TestOutlookImap::draftsHoldWhatTheOutboxWouldHold()
{
    const qsizetype before = drafts().size();
    OutlookMergeSettings s = settings(3);
    LinesSink intoDrafts;
    const OutlookMergeResult result = runOutlookMerge(s, intoDrafts);
    QVERIFY2(result.outcome == OutlookMergeOutcome::Finished, qPrintable(result.cause));
    QCOMPARE(result.records, 3);

    s.imap.reset();
    LinesSink intoOutbox;
    QVERIFY(runOutlookMerge(s, intoOutbox).outcome == OutlookMergeOutcome::Finished);
    QCOMPARE(intoDrafts.lines, intoOutbox.lines);

    const QList<ImapServer::Stored> stored = drafts().mid(before);
    QCOMPARE(stored.size(), 3);
    QStringList outbox = entries(path("Maildir/.Outbox/new"));
    QCOMPARE(outbox.size(), 3);
    QList<QByteArray> files;
    for (const QString& name : outbox) {
        QFile file(path("Maildir/.Outbox/new/") + name);
        QVERIFY(file.open(QIODevice::ReadOnly));
        files.append(comparable(file.readAll()));
    }
    for (const ImapServer::Stored& draft : stored) {
        QVERIFY2(draft.flags.contains(QStringLiteral("\\Draft")) && draft.flags.contains(QStringLiteral("\\Seen")),
                 qPrintable(draft.flags.join(' ')));
        QVERIFY2(draft.message.contains("\r\n") && !draft.message.contains("\n\n"), "an IMAP message ends its lines in CR LF");
        QVERIFY2(files.removeOne(comparable(draft.message)), draft.message.left(600).constData());
    }
}

void TestOutlookImap::anEarlierRunIntoTheOutboxDoesNotCountForDrafts()
{
    OutlookMergeSettings s = settings(2);
    s.journaled = true;
    s.journalPath = path("journal.sqlite");
    const std::optional<ImapAccount> account = s.imap;
    s.imap.reset();
    LinesSink outbox;
    QVERIFY(runOutlookMerge(s, outbox).outcome == OutlookMergeOutcome::Finished);
    QCOMPARE(outbox.lines.size(), 2);

    const qsizetype before = drafts().size();
    s.imap = account;
    LinesSink intoDrafts;
    const OutlookMergeResult result = runOutlookMerge(s, intoDrafts);
    QVERIFY2(result.outcome == OutlookMergeOutcome::Finished, qPrintable(result.cause));
    QCOMPARE(intoDrafts.lines.size(), 2);
    QCOMPARE(drafts().size(), before + 2);
}

void TestOutlookImap::refusalsEndTheRunWithTheWords_data()
{
    QTest::addColumn<QString>("change");
    QTest::addColumn<int>("outcome");
    QTest::addColumn<QString>("words");
    QTest::newRow("a folder the account does not have")
        << "folder" << int(OutlookMergeOutcome::Failed) << "NO [TRYCREATE] Mailbox doesn't exist: Unsent";
    QTest::newRow("a password the server refuses") << "password" << int(OutlookMergeOutcome::MailerUnavailable)
                                                   << "NO [AUTHENTICATIONFAILED] Authentication failed.";
    QTest::newRow("a certificate no trusted CA signed")
        << "untrusted" << int(OutlookMergeOutcome::MailerUnavailable) << "SSL certificate problem";
}

void TestOutlookImap::refusalsEndTheRunWithTheWords()
{
    QFETCH(QString, change);
    QFETCH(int, outcome);
    QFETCH(QString, words);
    OutlookMergeSettings s = settings(2);
    if (change == QLatin1String("folder"))
        s.imap->folder = QStringLiteral("Unsent");
    else if (change == QLatin1String("password"))
        s.imap->password = QStringLiteral("Not Sesame");
    else
        qputenv("SSL_CERT_FILE", QFile::encodeName(m_certs.filePath(QStringLiteral("selfsigned.pem"))));
    const qsizetype before = drafts().size();
    LinesSink sink;
    const OutlookMergeResult result = runOutlookMerge(s, sink);
    QCOMPARE(int(result.outcome), outcome);
    QVERIFY2(result.cause.contains(words), qPrintable(result.cause));
    QVERIFY2(!result.cause.contains(s.imap->password), qPrintable(result.cause));
    QCOMPARE(result.records, 0);
    QVERIFY2(!QFileInfo::exists(path("Maildir/.Outbox")), "a Save to Drafts never falls back to the outbox");
    QCOMPARE(drafts().size(), before);
}

void TestOutlookImap::fullQuotaKeepsWhatWasAppendedAndJournalsIt()
{
    OutlookMergeSettings s = settings(8);
    writeFile(path("plan.txt"), QByteArray(2500, 'q'));
    s.imap->account = QStringLiteral("bea"); // 12 KB in all
    s.journaled = true;
    s.journalPath = path("journal.sqlite");
    LinesSink sink;
    const OutlookMergeResult result = runOutlookMerge(s, sink);
    QCOMPARE(int(result.outcome), int(OutlookMergeOutcome::Failed));
    QVERIFY2(result.cause.contains(QLatin1String("NO [OVERQUOTA]")), qPrintable(result.cause));
    QVERIFY2(result.records >= 1 && result.records < 8, qPrintable(QString::number(result.records)));
    QCOMPARE(drafts(QStringLiteral("bea")).size(), result.records);

    JournalError error;
    const std::unique_ptr<SendJournal> journal = SendJournal::open(s.journalPath, &error);
    QVERIFY2(journal, qPrintable(error.cause));
    const QHash<RowKey, RowState> done = journal->doneRows(SendJournal::mailingKey(outlookMailing(s)));
    QCOMPARE(done.size(), result.records);
    for (int row = 2; row < 2 + result.records; ++row)
        QCOMPARE(done.value(RowKey{row, QStringLiteral("p%1@example.org").arg(row - 1)}), RowState::Sent);
}

TestOutlookImap::Batch TestOutlookImap::batch(const QByteArray& settings, const QStringList& args)
{
    QDir().mkpath(path("config"));
    writeFile(path("config/Tallyweave.conf"), settings);
    writeBook(path("batch.csv"), {{"ann@example.com", "Ann"}, {"bad", "Bob"}, {"carl@example.org", ""}});
    writeFile(path("body.txt"), "Dear NAME,\nhello.\n");
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("MAILDIR", path("Maildir"));
    env.insert("XDG_CONFIG_HOME", path("config"));
    env.insert("XDG_STATE_HOME", path("state"));
    env.insert("SSL_CERT_FILE", caFile());
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(qEnvironmentVariable("TALLYWEAVE_BATCH"),
                  QStringList{"outlook", args.contains("--send") ? "--send" : "--save", "--source", path("batch.csv"), "--subject", "Hi", "--body-file",
                              path("body.txt"), "--pair", "B:NAME"}
                      + QStringList(args).filter(QRegularExpression("^(?!--send$)")));
    Batch run;
    if (process.waitForFinished(60000)) {
        run.exitCode = process.exitCode();
        run.out = QString::fromUtf8(process.readAllStandardOutput());
        run.err = QString::fromUtf8(process.readAllStandardError());
    }
    return run;
}

QByteArray imapSettings(int port, const QByteArray& more = {})
{
    return "[General]\nEmail=ann@example.org\nSMTPAddress=127.0.0.1\nSMTPUserName=ann\nSMTPPassword=Open Sesame!\n"
           "IMAPAddress=127.0.0.1\nIMAPSSL=1\nIMAPPort="
           + QByteArray::number(port) + "\n" + more;
}

void TestOutlookImap::batchSavesIntoDraftsWithTheSettingsOfTheStore()
{
    const qsizetype before = drafts().size();
    const Batch run = batch(imapSettings(m_server.startTlsPort()), {"--imap"});
    QVERIFY2(run.exitCode == 0, qPrintable(run.err));
    QCOMPARE(run.out, QStringLiteral("0\tann@example.com\tAnn\n"
                                     "1\tcarl@example.org\t-\n"
                                     "records 2, null values 0, failures 1\n"));
    const QList<ImapServer::Stored> stored = drafts().mid(before);
    QCOMPARE(stored.size(), 2);
    for (const ImapServer::Stored& draft : stored) {
        QVERIFY(draft.flags.contains(QStringLiteral("\\Draft")));
        QVERIFY(draft.message.contains("From: ann@example.org\r\n"));
    }
    QVERIFY2(!QFileInfo::exists(path("Maildir")), "nothing goes into the outbox");
}

void TestOutlookImap::batchRefusesBeforeSaving_data()
{
    QTest::addColumn<QByteArray>("settings");
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("words");
    QTest::newRow("--imap without --save is a usage error")
        << QByteArray() << QStringList{"--imap", "--send"} << 2 << "--imap goes with --save";
    QTest::newRow("no IMAP server in the settings")
        << QByteArray("[General]\nEmail=ann@example.org\nSMTPUserName=ann\nSMTPPassword=x\n") << QStringList{"--imap"}
        << 1 << "the IMAP settings in";
    QTest::newRow("an account of its own without its password")
        << imapSettings(1, "IMAPUserName=bea\n") << QStringList{"--imap"} << 1 << "are incomplete";
    QTest::newRow("a refused login: the server's words, nothing saved")
        << imapSettings(0, "IMAPUserName=ann\nIMAPPassword=wrong\n") << QStringList{"--imap"} << 1
        << "NO [AUTHENTICATIONFAILED] Authentication failed.";
}

void TestOutlookImap::batchRefusesBeforeSaving()
{
    QFETCH(QByteArray, settings);
    QFETCH(QStringList, args);
    QFETCH(int, exitCode);
    QFETCH(QString, words);
    settings.replace("IMAPPort=0\n", "IMAPPort=" + QByteArray::number(m_server.startTlsPort()) + "\n");
    const qsizetype before = drafts().size();
    const Batch run = batch(settings, args);
    QCOMPARE(run.exitCode, exitCode);
    QVERIFY2(run.err.contains(words), qPrintable(run.err));
    QVERIFY2(!run.err.contains(QLatin1String("wrong")), qPrintable(run.err));
    QCOMPARE(drafts().size(), before);
    QVERIFY(!QFileInfo::exists(path("Maildir")));
}

QTEST_GUILESS_MAIN(TestOutlookImap)
#include "tst_outlookimap.moc"
