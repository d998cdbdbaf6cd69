// Mail servers that break off or answer nonsense at each step of the exchange (tests/faults/
// badsmtp.py): every row of a bulk run fails on its own with a comment that says what happened,
// the run goes on to the next row, and nothing waits past the time-outs.
#include "merge/bulk/bulkrun.h"
#include "mail/mailfixture.h"
#include "mail/mailsettings.h"
#include "mail/smtp.h"

#include <QElapsedTimer>
#include <QHash>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const QString Password = QStringLiteral("Open Sesame!");

// Steps and behaviours of the peer; each pair is one listener.
const QStringList Steps = {"greeting", "ehlo", "auth", "data", "dot"};
const QStringList Behaviours = {"drop", "garbage", "badcode", "stall"};

} // namespace

class TestSmtpFaults : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void brokenExchange_data();
    void brokenExchange();
    void batchReportsEveryRow_data();
    void batchReportsEveryRow();

private:
    // Lines "CONNECT STEP:BEHAVIOUR" the peer printed so far, by listener.
    QHash<QString, int> connections();

    QTemporaryDir m_dir;
    QProcess m_peer;
    QHash<QString, int> m_ports;
    QHash<QString, int> m_connections;
    QByteArray m_pending;
    QString m_book;
};

void TestSmtpFaults::initTestCase() {
    QVERIFY(m_dir.isValid());
    QStringList listeners;
    for (const QString& step : Steps)
        for (const QString& behaviour : Behaviours)
            listeners << step + u':' + behaviour;
    m_peer.start(QStringLiteral(TW_PYTHON),
                 QStringList{QStringLiteral(TW_SOURCE_DIR "/tests/faults/badsmtp.py")} + listeners);
    QByteArray line;
    while (!line.contains('\n')) {
        QVERIFY2(m_peer.waitForReadyRead(20000), qPrintable(m_peer.readAllStandardError()));
        line += m_peer.readAllStandardOutput();
    }
    QVERIFY2(line.startsWith("READY "), line.constData());
    const qsizetype end = line.indexOf('\n');
    m_pending = line.mid(end + 1);
    for (const QByteArray& pair : line.left(end).mid(6).split(' ')) {
        const QList<QByteArray> sides = pair.split('=');
        m_ports.insert(QString::fromUtf8(sides.value(0)), sides.value(1).toInt());
    }
    QCOMPARE(m_ports.size(), listeners.size());
    // Two recipients and a row without an address between them.
    m_book = mailfixture::writeFile(m_dir.filePath(QStringLiteral("book.csv")),
                                    "ann@example.org,Ann\nno address,Nobody\nbob@example.org,Bob\n");
}

void TestSmtpFaults::cleanupTestCase() {
    m_peer.kill();
    m_peer.waitForFinished(5000);
}

QHash<QString, int> TestSmtpFaults::connections() {
    m_peer.waitForReadyRead(200);
    m_pending += m_peer.readAllStandardOutput();
    for (qsizetype end = m_pending.indexOf('\n'); end >= 0; end = m_pending.indexOf('\n')) {
        const QByteArray line = m_pending.left(end).trimmed();
        m_pending.remove(0, end + 1);
        if (line.startsWith("CONNECT "))
            ++m_connections[QString::fromUtf8(line.mid(8))];
    }
    return m_connections;
}

void TestSmtpFaults::brokenExchange_data() {
    QTest::addColumn<QString>("listener");
    QTest::addColumn<QString>("comment"); // every row's comment holds this
    const QHash<QString, QString> where = {{"greeting", "waiting for the greeting"},
                                           {"ehlo", "waiting for the reply to EHLO"},
                                           {"auth", "waiting for the reply to AUTH"},
                                           {"data", "while the message was sent"},
                                           {"dot", "while the message was sent"}};
    for (const QString& step : Steps) {
        const QString at = where.value(step);
        const auto row = [&](const char* behaviour, const QString& comment) {
            QTest::addRow("%s, %s", qPrintable(step), behaviour)
                << step + u':' + QLatin1String(behaviour) << comment;
        };
        row("drop", "the server closed the connection (" + at + ")");
        row("garbage", "the server's answer is not SMTP (" + at + "): \"??[31mHTTP/1.1 400 Bad Request??\"");
        // A refused EHLO is followed by HELO, which this peer answers no better.
        row("badcode", step == "ehlo" ? "timeout (waiting for the reply to HELO)" : "999 what was that");
        row("stall", "timeout (" + at + ")");
    }
}

void TestSmtpFaults::brokenExchange() {
    QFETCH(QString, listener);
    QFETCH(QString, comment);
    BulkJob job;
    job.workbookPath = m_book;
    job.pairs = {LabelPair{2, QStringLiteral("NAME")}};
    job.subject = QStringLiteral("Hello");
    job.body = QStringLiteral("Dear NAME,\r\n") + QStringLiteral("a line of the letter\r\n").repeated(200);
    BulkRun run(job, MailServerSettings{"office@example.net", "127.0.0.1", m_ports.value(listener), "ann",
                                        Password, false});
    SmtpOptions options;
    options.replyTimeoutSeconds = 1;
    options.connectTimeoutSeconds = 2;
    run.setSmtpOptions(options);
    QString cause;
    QCOMPARE(run.open(&cause), BulkRun::Opened::Ok);

    const int before = connections().value(listener);
    QStringList addresses;
    while (const std::optional<Recipient> recipient = run.nextRecipient()) {
        QElapsedTimer clock;
        clock.start();
        const SendResult result = run.send(*recipient);
        const qint64 took = clock.elapsed();
        addresses << recipient->address;
        QVERIFY2(!result.sent, "a broken exchange is no message sent");
        QVERIFY2(!result.comment.trimmed().isEmpty(), "the comment says why");
        QVERIFY2(!result.comment.contains(Password), qPrintable(result.comment));
        QVERIFY2(result.comment.contains(comment), qPrintable(result.comment));
        // The connect phase has its limit, every reply after it its own.
        QVERIFY2(took < (options.connectTimeoutSeconds + options.replyTimeoutSeconds + 3) * 1000,
                 qPrintable(QString::number(took)));
    }
    QCOMPARE(addresses, (QStringList{"ann@example.org", "bob@example.org"}));
    QTRY_COMPARE_WITH_TIMEOUT(connections().value(listener), before + 2, 5000);
}

void TestSmtpFaults::batchReportsEveryRow_data() {
    QTest::addColumn<QString>("listener");
    QTest::addColumn<QString>("comment");
    QTest::newRow("dropped after EHLO") << "ehlo:drop"
                                        << "the server closed the connection (waiting for the reply to EHLO)";
    // With the program's own time-outs: five seconds for a reply.
    QTest::newRow("nonsense for AUTH") << "auth:garbage"
                                       << "the server's answer is not SMTP (waiting for the reply to AUTH): "
                                          "\"??[31mHTTP/1.1 400 Bad Request??\"";
}

void TestSmtpFaults::batchReportsEveryRow() {
    QFETCH(QString, listener);
    QFETCH(QString, comment);
    saveMailServerFields(SettingsStore(),
                         MailServerFields{"office@example.net", "127.0.0.1",
                                          QString::number(m_ports.value(listener)), "ann", Password, false});
    const QString body =
        mailfixture::writeFile(m_dir.filePath(QStringLiteral("body.txt")), "Dear NAME,\nhello.\n");
    QProcess batch;
    batch.start(qEnvironmentVariable("TALLYWEAVE_BATCH"),
                {"bulk", "--source", m_book, "--subject", "Hello", "--body-file", body, "--pair", "B:NAME"});
    QElapsedTimer clock;
    clock.start();
    QVERIFY2(batch.waitForFinished(120000), "the run ends");
    QVERIFY2(clock.elapsed() < 2 * (10 + 5 + 3) * 1000, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(batch.exitStatus(), QProcess::NormalExit);
    QCOMPARE(batch.exitCode(), 0);
    QCOMPARE(QString::fromUtf8(batch.readAllStandardOutput()),
             "1\tann@example.org\tAnn\t" + comment + "\n1\tbob@example.org\tBob\t" + comment +
                 "\nrecords 2, null values 0, failures 2\n");
    // "no address" is no usable address: the row is left out, and counted.
    QCOMPARE(batch.readAllStandardError(), QByteArray("tallyweave-batch bulk: 1 row left out: the address cannot be used\n"));
}

QTEST_GUILESS_MAIN(TestSmtpFaults)
#include "tst_smtpfaults.moc"
