// The send journal as a script meets it: every recipient gets exactly one message however a run
// ends (killed outright, stopped by a signal, held up by the server) and is resumed; a mailing run
// before is refused without --resume or --restart; rows the server refused are sent on resume.
#include "mail/mailfixture.h"
#include "mail/mailsettings.h"
#include "outlook/outlookfixture.h"

#include <QDir>
#include <QElapsedTimer>
#include <QMap>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

using mailfixture::MailServer;

namespace {

struct BatchResult {
    int code = -1;
    QStringList lines; // the report lines, the counters line last
    QString err;
};

} // namespace

class TestBatchJournal : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void killedRunsResumeWithoutASecondMessage_data();
    void killedRunsResumeWithoutASecondMessage();
    void mailingRunTwice_data();
    void mailingRunTwice();
    void refusedRowsAreSentOnResume();
    void bothFlagsAreBadUsage();

private:
    QString at(const QString& name) const { return m_dir.filePath(name); }
    QStringList mailArgs(const QString& mode) const;
    BatchResult batch(const QStringList& args);
    // Starts a run and kills it with signal once its stdout holds lines report lines, waiting
    // afterMs more before the signal.
    BatchResult interrupted(const QStringList& args, int lines, int afterMs, int signal);
    QMap<QString, int> receivedPerAddress() const;

    QTemporaryDir m_dir;
    MailServer m_server;
    QStringList m_addresses;
};

void TestBatchJournal::initTestCase() {
    QVERIFY(!qEnvironmentVariable("TALLYWEAVE_BATCH").isEmpty());
    const QString certError = mailfixture::makeCertificates(m_dir.path());
    QVERIFY2(certError.isEmpty(), qPrintable(certError));
    const QString error = m_server.start(m_dir.path(), {"plain:plain"});
    QVERIFY2(error.isEmpty(), qPrintable(error));
    saveMailServerFields(SettingsStore(), MailServerFields{"ann@example.org", "127.0.0.1",
                                                           QString::number(m_server.port("plain")), "ann", "pw",
                                                           false});
    // The third recipient's server keeps the message and holds back its answer past the time-out.
    m_addresses = {"a1@example.org", "a2@example.org", "hold-3@example.org", "a4@example.org", "a5@example.org",
                   "a6@example.org"};
    QByteArray book = "not an address,Nobody\n";
    for (const QString& address : m_addresses)
        book += address.toUtf8() + ",Name of " + address.toUtf8() + "\n";
    mailfixture::writeFile(at("book.csv"), book);
    mailfixture::writeFile(at("body.txt"), "Dear <name>\n");
    QVERIFY(QDir().mkpath(at("bin")));
    QVERIFY(outlookfixture::installMsmtp(at("bin"), m_server.port("plain"), "envelope@example.org"));
}

void TestBatchJournal::init() {
    m_server.clear();
    QFile::remove(m_server.folder() + "/refuse.txt");
    QFile::remove(at("journal.sqlite"));
}

QStringList TestBatchJournal::mailArgs(const QString& mode) const {
    const QStringList common{"--source", at("book.csv"), "--subject", "Hello", "--body-file", at("body.txt"),
                             "--pair", "B:<name>", "--journal", at("journal.sqlite")};
    if (mode == QLatin1String("bulk"))
        return QStringList{"bulk", "--interval-ms", "300"} + common;
    return QStringList{"outlook", "--send"} + common;
}

BatchResult TestBatchJournal::batch(const QStringList& args) {
    return interrupted(args, -1, 0, 0);
}

BatchResult TestBatchJournal::interrupted(const QStringList& args, int lines, int afterMs, int signal) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("PATH", at("bin") + ':' + env.value("PATH"));
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(qEnvironmentVariable("TALLYWEAVE_BATCH"), args);
    if (!process.waitForStarted())
        return {};
    QByteArray out;
    if (lines >= 0) {
        QElapsedTimer waited;
        waited.start();
        while (out.count('\n') < lines && waited.elapsed() < 60000 && process.state() == QProcess::Running) {
            process.waitForReadyRead(50);
            out += process.readAllStandardOutput();
        }
        QTest::qWait(afterMs);
        ::kill(pid_t(process.processId()), signal);
    }
    if (!process.waitForFinished(120000))
        return {};
    out += process.readAllStandardOutput();
    BatchResult result;
    result.code = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -signal;
    result.lines = QString::fromUtf8(out).split(u'\n', Qt::SkipEmptyParts);
    result.err = QString::fromUtf8(process.readAllStandardError());
    return result;
}

QMap<QString, int> TestBatchJournal::receivedPerAddress() const {
    QMap<QString, int> counts;
    for (const MailServer::Received& one : m_server.received())
        for (const QJsonValue& rcpt : one.envelope.value("rcpt_tos").toArray())
            ++counts[rcpt.toString()];
    return counts;
}

void TestBatchJournal::killedRunsResumeWithoutASecondMessage_data() {
    QTest::addColumn<QString>("mode");
    QTest::addColumn<int>("lines");
    QTest::addColumn<int>("afterMs");
    QTest::addColumn<int>("signal");
    QTest::newRow("bulk, SIGKILL after the first message") << "bulk" << 1 << 0 << int(SIGKILL);
    QTest::newRow("bulk, SIGKILL while the server holds its answer") << "bulk" << 2 << 1500 << int(SIGKILL);
    QTest::newRow("bulk, SIGTERM after the second message") << "bulk" << 2 << 0 << int(SIGTERM);
    QTest::newRow("outlook --send, SIGKILL after the first message") << "outlook" << 1 << 0 << int(SIGKILL);
    QTest::newRow("outlook --send, SIGTERM after the first message") << "outlook" << 1 << 0 << int(SIGTERM);
}

void TestBatchJournal::killedRunsResumeWithoutASecondMessage() {
    QFETCH(QString, mode);
    QFETCH(int, lines);
    QFETCH(int, afterMs);
    QFETCH(int, signal);
    const BatchResult first = interrupted(mailArgs(mode), lines, afterMs, signal);
    if (signal == SIGTERM) {
        QCOMPARE(first.code, 1);
        QVERIFY2(first.err.contains(mode + ": interrupted"), qPrintable(first.err));
        QVERIFY2(first.lines.value(first.lines.size() - 1).startsWith("records "), qPrintable(first.lines.join('\n')));
    } else {
        QCOMPARE(first.code, -SIGKILL);
    }
    // Resumed until a run ends on its own.
    BatchResult resumed = batch(mailArgs(mode) + QStringList{"--resume"});
    QCOMPARE(resumed.code, 0);
    const QString counters = resumed.lines.value(resumed.lines.size() - 1);
    QVERIFY2(counters.startsWith("records "), qPrintable(counters));

    // No recipient gets a second message. A message the kill caught on its way is unknown: it may
    // or may not have arrived, and the resumed run names it instead of sending it again; every
    // other recipient got exactly one.
    QStringList unknown;
    for (const QString& line : resumed.lines)
        if (line.startsWith("1\t") && line.contains("unknown"))
            unknown << line.section(u'\t', 1, 1);
    const QMap<QString, int> received = receivedPerAddress();
    for (const QString& address : m_addresses) {
        const int got = received.value(address);
        QVERIFY2(got == 1 || (got == 0 && unknown.contains(address)),
                 qPrintable(QStringLiteral("%1 received %2 messages").arg(address).arg(got)));
    }
    QVERIFY(received.size() <= m_addresses.size());

    // A run after the chain is through sends nothing; unknown rows are named again with image 1.
    m_server.clear();
    const BatchResult again = batch(mailArgs(mode) + QStringList{"--resume"});
    QCOMPARE(again.code, 0);
    QVERIFY(m_server.received().isEmpty());
    for (const QString& line : again.lines.mid(0, again.lines.size() - 1)) {
        QVERIFY2(line.startsWith("1\t") && line.contains("unknown"), qPrintable(line));
    }
}

void TestBatchJournal::mailingRunTwice_data() {
    QTest::addColumn<QString>("mode");
    QTest::newRow("bulk") << "bulk";
    QTest::newRow("outlook --send") << "outlook";
}

void TestBatchJournal::mailingRunTwice() {
    QFETCH(QString, mode);
    // Without the held recipient, so that every row gets through.
    mailfixture::writeFile(at("two.csv"), "b1@example.org,Bea\nb2@example.org,Bo\n");
    QStringList args = mailArgs(mode);
    args[args.indexOf(at("book.csv"))] = at("two.csv");
    const BatchResult first = batch(args);
    QCOMPARE(first.code, 0);
    QCOMPARE(m_server.received().size(), 2);

    const BatchResult refused = batch(args);
    QCOMPARE(refused.code, 1);
    QVERIFY2(refused.err.contains("sent 2, failed 0, unknown 0") && refused.err.contains("--resume")
                 && refused.err.contains("--restart"),
             qPrintable(refused.err));
    QCOMPARE(m_server.received().size(), 2);

    const BatchResult resumed = batch(args + QStringList{"--resume"});
    QCOMPARE(resumed.code, 0);
    QCOMPARE(resumed.lines, QStringList{"records 0, null values 0, failures 0"});
    QCOMPARE(m_server.received().size(), 2);

    const BatchResult restarted = batch(args + QStringList{"--restart"});
    QCOMPARE(restarted.code, 0);
    QCOMPARE(m_server.received().size(), 4);
    QCOMPARE(receivedPerAddress().value("b1@example.org"), 2);
}

void TestBatchJournal::refusedRowsAreSentOnResume() {
    mailfixture::writeFile(m_server.folder() + "/refuse.txt", "a2@example.org\na5@example.org\n");
    QStringList args = mailArgs("bulk");
    args[args.indexOf("300")] = "0";
    const BatchResult first = batch(args);
    QCOMPARE(first.code, 0);
    QVERIFY2(first.lines.last().endsWith("failures 3"), qPrintable(first.lines.join('\n'))); // 2 refused, 1 held
    QFile::remove(m_server.folder() + "/refuse.txt");
    m_server.clear();

    const BatchResult resumed = batch(args + QStringList{"--resume"});
    QCOMPARE(resumed.code, 0);
    const QMap<QString, int> received = receivedPerAddress();
    QCOMPARE(received.keys(), (QStringList{"a2@example.org", "a5@example.org"}));
    QCOMPARE(received.value("a2@example.org"), 1);
    QCOMPARE(received.value("a5@example.org"), 1);
}

void TestBatchJournal::bothFlagsAreBadUsage() {
    for (const QString mode : {"bulk", "outlook"}) {
        const BatchResult both = batch(mailArgs(mode) + QStringList{"--resume", "--restart"});
        QCOMPARE(both.code, 2);
        QVERIFY2(both.err.contains("usage:"), qPrintable(both.err));
    }
    QVERIFY(m_server.received().isEmpty());
}

QTEST_GUILESS_MAIN(TestBatchJournal)
#include "tst_batchjournal.moc"
