// The bulk run over a real workbook and a real SMTP server: which rows become recipients, their
// values, one connection and one attempt per row, the attachment encoded once per run, and what
// each row adds to its own message (files, Cc, Bcc, labels in the subject, an HTML body).
#include "merge/bulk/bulkrun.h"
#include "mail/journal.h"
#include "mail/smtp.h"
#include "mail/mailfixture.h"
#include "merge/common/mailingjournal.h"

#include <QSet>
#include <QThread>
#include <QtTest>

using mailfixture::MailServer;

class TestBulkRun : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void open_data();
    void open();
    void recipientsFromTheStartLine();
    void lastRowWithoutAddressEndsWithoutRecipient();
    void everyValidRowTriedOnceOverItsOwnConnection();
    void sendsOffTheMainThread();
    void eachRowItsOwnMessage_data();
    void eachRowItsOwnMessage();

private:
    QTemporaryDir m_dir;
    MailServer m_server;
    QString writeFile(const QString& name, const QByteArray& content)
    {
        return mailfixture::writeFile(m_dir.filePath(name), content);
    }
    MailServerSettings plainServer() const
    {
        return {"ann@example.org", "127.0.0.1", m_server.port("plain"), "", "", false};
    }
};

void TestBulkRun::initTestCase()
{
    const QString error = m_server.start(m_dir.path(), {"plain:plain"});
    QVERIFY2(error.isEmpty(), qPrintable(error));
}

void TestBulkRun::open_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("sheet");
    QTest::addColumn<int>("opened");
    QTest::newRow("workbook of one sheet") << "book.csv" << 1 << int(BulkRun::Opened::Ok);
    QTest::newRow("second sheet of a one-sheet workbook") << "book.csv" << 2 << int(BulkRun::Opened::SheetMissing);
    QTest::newRow("missing workbook") << "nothing.csv" << 1 << int(BulkRun::Opened::Failed);
}

void TestBulkRun::open()
{
    QFETCH(QString, file);
    QFETCH(int, sheet);
    writeFile(QStringLiteral("book.csv"), "ann@example.org,Ann\n");
    BulkJob job;
    job.workbookPath = m_dir.filePath(file);
    job.sheet = sheet;
    BulkRun run(job, plainServer());
    QString cause;
    QTEST(int(run.open(&cause)), "opened");
    if (run.open(&cause) == BulkRun::Opened::Failed)
        QVERIFY2(cause.contains(job.workbookPath), qPrintable(cause));
    else
        QVERIFY(cause.isEmpty());
}

void TestBulkRun::recipientsFromTheStartLine()
{
    BulkJob job;
    job.workbookPath = writeFile(QStringLiteral("rows.csv"),
                                 "email,name,code\n"
                                 "ann@example.org,Ann,A1\n"
                                 "  bob@example.org\t,  Bob ,\n"
                                 "carl@localhost,Carl,C3\n"
                                 ",Nobody,N5\n"
                                 "Dora <dora@example.org>,Dora,D6\n"
                                 "eve@example.org,,E7\n");
    job.startLine = 3;
    job.pairs = {{2, "<name>"}, {3, "<code>"}, {3, "<again>"}};
    BulkRun run(job, plainServer());
    QCOMPARE(run.open(nullptr), BulkRun::Opened::Ok);

    std::optional<Recipient> bob = run.nextRecipient();
    QVERIFY(bob);
    QCOMPARE(bob->row, 3);
    QCOMPARE(bob->lastRow, 7);
    QCOMPARE(bob->address, QStringLiteral("bob@example.org"));
    QCOMPARE(bob->values, (QStringList{"Bob", "-", "-"}));
    QVERIFY(run.rowsLeft());

    std::optional<Recipient> eve = run.nextRecipient();
    QVERIFY2(eve, "rows 4 to 6 have no usable address and are passed over");
    QCOMPARE(eve->row, 7);
    QCOMPARE(eve->values, (QStringList{"-", "E7", "E7"}));
    QVERIFY(!run.rowsLeft());
    QVERIFY(!run.nextRecipient());
}

void TestBulkRun::lastRowWithoutAddressEndsWithoutRecipient()
{
    BulkJob job;
    job.workbookPath = writeFile(QStringLiteral("tail.csv"), "ann@example.org\nnot an address\n");
    BulkRun run(job, plainServer());
    QCOMPARE(run.open(nullptr), BulkRun::Opened::Ok);
    QVERIFY(run.nextRecipient());
    QVERIFY2(run.rowsLeft(), "a row is left to look at, though it has no address");
    QVERIFY(!run.nextRecipient());
    QVERIFY(!run.rowsLeft());

    job.startLine = 5; // below the last used row
    BulkRun past(job, plainServer());
    QCOMPARE(past.open(nullptr), BulkRun::Opened::Ok);
    QVERIFY(!past.rowsLeft());
    QVERIFY(!past.nextRecipient());
}

void TestBulkRun::everyValidRowTriedOnceOverItsOwnConnection()
{
    m_server.clear();
    QByteArray binary(300 * 1024, Qt::Uninitialized);
    for (int i = 0; i < binary.size(); ++i)
        binary[i] = char((quint32(i) * 7919u) >> 3);
    BulkJob job;
    job.workbookPath = writeFile(QStringLiteral("run.csv"),
                                 "ann@example.org,Ann,1\n"
                                 "refuse-rcpt@example.org,Rolf,2\n"
                                 "bob@example.org,Bob,\n"
                                 "refuse-data@example.org,Rita,4\n"
                                 "cleo@example.org,Cleo,5\n");
    job.subject = QStringLiteral("Invoice <n> for <name>");
    job.body = QStringLiteral("Dear <name>,\r\ninvoice <n> is due.\r\n");
    job.pairs = {{2, "<name>"}, {3, "<n>"}};
    job.attachments = {{"invoice.bin", writeFile(QStringLiteral("invoice.bin"), binary)},
                       {"gone.pdf", m_dir.filePath(QStringLiteral("gone.pdf"))}};
    BulkRun run(job, plainServer());
    QCOMPARE(run.open(nullptr), BulkRun::Opened::Ok);

    QStringList outcomes;
    while (const std::optional<Recipient> recipient = run.nextRecipient()) {
        const SendResult result = run.send(*recipient);
        outcomes.append(recipient->address + (result.sent ? QStringLiteral(" sent") : QLatin1Char(' ') + result.comment));
    }
    QCOMPARE(outcomes, (QStringList{"ann@example.org sent",
                                    "refuse-rcpt@example.org 550 5.1.1 No such user here 5.1.1 Try another mailbox",
                                    "bob@example.org sent",
                                    "refuse-data@example.org 554 5.6.0 Message refused 5.6.0 Content not accepted",
                                    "cleo@example.org sent"}));
    QCOMPARE(run.attachmentEncodings(), 1);

    const QList<MailServer::Received> received = m_server.received();
    QCOMPARE(received.size(), 3);
    const QStringList names{"Ann", "Bob", "Cleo"};
    const QStringList numbers{"1", "-", "5"};
    QSet<int> clientPorts;
    for (int i = 0; i < 3; ++i) {
        clientPorts.insert(received[i].envelope["peer"].toArray()[1].toInt());
        const QJsonObject parsed = mailfixture::readMessage(received[i].path);
        QCOMPARE(parsed["to"].toArray().first().toArray()[1].toString(), names[i].toLower() + "@example.org");
        QCOMPARE(parsed["subject"].toString(), QStringLiteral("Invoice <n> for <name>"));
        const QJsonArray parts = parsed["parts"].toArray();
        QCOMPARE(parts.size(), 2);
        QCOMPARE(parts[0].toObject()["text"].toString(),
                 QStringLiteral("Dear %1,\r\ninvoice %2 is due.\r\n").arg(names[i], numbers[i]));
        QCOMPARE(parts[1].toObject()["filename"].toString(), QStringLiteral("invoice.bin"));
        QVERIFY(mailfixture::fromBase64(parts[1].toObject()["data"]) == binary);
    }
    QCOMPARE(clientPorts.size(), 3); // a connection of its own for every message
}

void TestBulkRun::sendsOffTheMainThread()
{
    m_server.clear();
    BulkJob job;
    job.workbookPath = writeFile(QStringLiteral("one.csv"), "ann@example.org,Ann\n");
    job.subject = QStringLiteral("Threaded");
    job.body = QStringLiteral("Hi\r\n");
    BulkRun run(job, plainServer());
    QCOMPARE(run.open(nullptr), BulkRun::Opened::Ok);
    const std::optional<Recipient> recipient = run.nextRecipient();
    QVERIFY(recipient);
    SendResult result;
    std::unique_ptr<QThread> worker(QThread::create([&] { result = run.send(*recipient); }));
    worker->start();
    QVERIFY(worker->wait(30000));
    QVERIFY2(result.sent, qPrintable(result.comment));
    QCOMPARE(m_server.received().size(), 1);
}

void TestBulkRun::eachRowItsOwnMessage_data()
{
    QTest::addColumn<bool>("html");
    QTest::addColumn<bool>("subjectLabels");
    QTest::newRow("plain text, the subject as typed") << false << false;
    QTest::newRow("an HTML body, labels in the subject") << true << true;
}

void TestBulkRun::eachRowItsOwnMessage()
{
    QFETCH(bool, html);
    QFETCH(bool, subjectLabels);
    m_server.clear();
    QDir(m_dir.path()).mkpath(QStringLiteral("own/sub"));
    const QByteArray invoice(70 * 1024 + 3, 'I');
    writeFile(QStringLiteral("own/inv-ann.bin"), invoice);
    writeFile(QStringLiteral("own/sub/terms 2.txt"), "Ann's terms\r\n");
    const QString absolute = writeFile(QStringLiteral("cleo.txt"), "Cleo's");
    BulkJob job;
    // Relative paths are the workbook's folder's, wherever the run is started from.
    job.workbookPath = writeFile(QStringLiteral("own/people.csv"),
                                 "email,name,files,cc,bcc\n"
                                 "ann@example.org,Ann & Co,\" inv-ann.bin ; sub/terms 2.txt;\",boss@example.org,"
                                 "\"audit@example.org, archive@example.org\"\n"
                                 "erin+tag@example.org,Erin,,,\n"
                                 "bob@example.org,Bob,missing.pdf,,\n"
                                 "cleo@example.org,Cleo," + absolute.toUtf8() + ",Cleo <c@example.org>,\n"
                                 "not an address,Nobody,,,\n"
                                 "dan@example.org,Dan,,,dan@localhost\n"
                                 "fay@example.org,Fay,,fay.copy@example.org;fay.two@example.org,\n");
    job.startLine = 2;
    job.subject = QStringLiteral("For <name>");
    job.body = html ? QStringLiteral("<p>Dear <name>,</p><p>see <a href=\"https://x.example/\">here</a></p>\r\n")
                    : QStringLiteral("Dear <name>,\r\n");
    job.pairs = {{2, "<name>"}};
    job.attachments = {{"fixed.txt", writeFile(QStringLiteral("fixed.txt"), "for everyone")}};
    job.personal.attachColumn = 3;
    job.personal.ccColumn = 4;
    job.personal.bccColumn = 5;
    job.personal.html = html;
    job.personal.subjectLabels = subjectLabels;

    const QString journalPath = m_dir.filePath(QStringLiteral("journal-%1.sqlite").arg(QTest::currentDataTag()));
    QFile::remove(journalPath);
    BulkRun run(job, plainServer());
    QCOMPARE(run.open(nullptr), BulkRun::Opened::Ok);
    QString cause;
    const std::unique_ptr<MailingJournal> journal =
        MailingJournal::open(journalPath, bulkMailing(job, plainServer()), run.recipientRows(), &cause);
    QVERIFY2(journal && journal->start(MailingJournal::Choice::Resume, &cause), qPrintable(cause));
    run.setJournal(journal.get());

    QStringList outcomes;
    while (const std::optional<Recipient> recipient = run.nextRecipient()) {
        const SendResult result = run.send(*recipient);
        outcomes.append(recipient->address + (result.sent ? QStringLiteral(" sent") : QLatin1Char(' ') + result.comment));
    }
    QCOMPARE(outcomes, (QStringList{"ann@example.org sent", "erin+tag@example.org sent",
                                    "bob@example.org the attachment " + m_dir.filePath("own/missing.pdf")
                                        + " does not exist",
                                    "cleo@example.org the Cc address \"Cleo <c@example.org>\" cannot be used",
                                    "dan@example.org the Bcc address \"dan@localhost\" cannot be used",
                                    "fay@example.org sent"}));
    QCOMPARE(run.leftOut(), 1);
    JournalError error;
    const std::unique_ptr<SendJournal> read = SendJournal::open(journalPath, &error);
    QVERIFY2(read, qPrintable(error.cause));
    const ChainSummary summary = read->summary(SendJournal::mailingKey(bulkMailing(job, plainServer())));
    QCOMPARE(summary.sent, 3);
    QCOMPARE(summary.failed, 3);
    QCOMPARE(summary.skipped, 1);

    const QList<MailServer::Received> received = m_server.received();
    QCOMPARE(received.size(), 3);
    QHash<QString, QJsonObject> byTo;
    QHash<QString, QJsonArray> envelopes;
    for (const MailServer::Received& one : received) {
        const QJsonObject parsed = mailfixture::readMessage(one.path);
        QCOMPARE(parsed["defects"].toArray(), QJsonArray());
        const QString to = parsed["to"].toArray().first().toArray()[1].toString();
        byTo.insert(to, parsed);
        envelopes.insert(to, one.envelope["rcpt_tos"].toArray());
        // Bcc recipients are in the envelope alone, never in a header.
        QVERIFY(!parsed["headers"].toObject().contains("bcc"));
        QFile raw(one.path);
        QVERIFY(raw.open(QIODevice::ReadOnly));
        const QByteArray bytes = raw.readAll();
        QVERIFY2(!bytes.contains("audit@") && !bytes.contains("archive@"), "no Bcc address in any sent message");
    }
    QCOMPARE(envelopes.value("ann@example.org"),
             (QJsonArray{"ann@example.org", "boss@example.org", "audit@example.org", "archive@example.org"}));
    QCOMPARE(envelopes.value("erin+tag@example.org"), QJsonArray{"erin+tag@example.org"});
    QCOMPARE(envelopes.value("fay@example.org"),
             (QJsonArray{"fay@example.org", "fay.copy@example.org", "fay.two@example.org"}));

    const QJsonObject ann = byTo.value("ann@example.org");
    QCOMPARE(ann["cc"].toArray(), (QJsonArray{QJsonArray{"", "boss@example.org"}}));
    QCOMPARE(ann["subject"].toString(), subjectLabels ? QStringLiteral("For Ann & Co") : QStringLiteral("For <name>"));
    QCOMPARE(ann["structure"].toString(),
             QStringLiteral("multipart/mixed(%1,application/octet-stream,application/octet-stream,"
                            "application/octet-stream)")
                 .arg(html ? "multipart/alternative(text/plain,text/html)" : "text/plain"));
    const QJsonArray parts = ann["parts"].toArray();
    const int files = html ? 2 : 1;
    QCOMPARE(parts[0].toObject()["text"].toString(),
             html ? QStringLiteral("Dear Ann & Co,\r\n\r\nsee here <https://x.example/>\r\n")
                  : QStringLiteral("Dear Ann & Co,\r\n"));
    if (html)
        QCOMPARE(parts[1].toObject()["text"].toString(),
                 QStringLiteral("<p>Dear Ann &amp; Co,</p><p>see <a href=\"https://x.example/\">here</a></p>\r\n"));
    const QStringList names{"fixed.txt", "inv-ann.bin", "terms 2.txt"};
    const QList<QByteArray> contents{"for everyone", invoice, "Ann's terms\r\n"};
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(parts[files + i].toObject()["filename"].toString(), names[i]);
        QVERIFY2(mailfixture::fromBase64(parts[files + i].toObject()["data"]) == contents[i], qPrintable(names[i]));
    }
    // A row without files of its own gets the job's alone; an empty Cc cell adds no header.
    const QJsonObject erin = byTo.value("erin+tag@example.org");
    QCOMPARE(erin["parts"].toArray().size(), files + 1);
    QVERIFY(!erin["headers"].toObject().contains("cc"));
}

QTEST_GUILESS_MAIN(TestBulkRun)
#include "tst_bulkrun.moc"
