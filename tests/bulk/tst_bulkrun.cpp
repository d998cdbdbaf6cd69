// The bulk run over a real workbook and a real SMTP server: which rows become recipients, their
// values, one connection and one attempt per row, the attachment encoded once per run.
#include "merge/bulk/bulkrun.h"
#include "mail/smtp.h"
#include "mail/mailfixture.h"

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

QTEST_GUILESS_MAIN(TestBulkRun)
#include "tst_bulkrun.moc"
