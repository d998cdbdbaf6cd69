// tallyweave-batch outlook run as a separate process: usage errors, refusals, the report lines and
// the counters, the saved messages of a workbook written by openpyxl, a mailer failing mid-run.
#include "mail/mailfixture.h"
#include "merge/bookfixture.h"
#include "outlook/outlookfixture.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QtTest>

using namespace outlookfixture;

namespace {

struct BatchRun {
    int exitCode = -1;
    QString out, err;
};

} // namespace

class TestBatchOutlook : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void badUsage_data();
    void badUsage();
    void refusals_data();
    void refusals();
    void savesOneMessagePerUsableRow();
    void noUsableRowIsAFinishedRun();
    void mailerFailingMidRun();
    void eachRowItsOwnMessage();

private:
    QString at(const QString& name) const { return m_dir->filePath(name); }
    QString outbox() const { return at("Maildir/.Outbox"); }
    BatchRun batch(const QStringList& args);
    QStringList basicArgs(const QString& mode = QStringLiteral("--save")) const {
        return {"outlook", mode, "--source", at("book.csv"), "--subject", "Hi", "--body-file", at("body.txt")};
    }

    QString m_program;
    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestBatchOutlook::initTestCase() {
    m_program = qEnvironmentVariable("TALLYWEAVE_BATCH");
    QVERIFY2(QFileInfo(m_program).isExecutable(), "TALLYWEAVE_BATCH names the batch program");
}

void TestBatchOutlook::init() {
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    QVERIFY(QDir().mkpath(at("bin")));
    QVERIFY(QDir().mkpath(at("config")));
    QVERIFY(writeBook(at("book.csv"), {{"ann@example.com", "Ann"}, {"bad", "Bob"}, {"carl@example.org", ""}}));
    QVERIFY(writeFile(at("body.txt"), "Dear NAME,\nhello.\n"));
}

BatchRun TestBatchOutlook::batch(const QStringList& args) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("MAILDIR", at("Maildir"));
    env.insert("PATH", at("bin"));
    env.insert("XDG_CONFIG_HOME", at("config"));
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(m_program, args.mid(0));
    BatchRun run;
    if (!process.waitForFinished(60000))
        return run;
    run.exitCode = process.exitCode();
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

void TestBatchOutlook::badUsage_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("message");
    const QStringList base{"--source", "b.csv", "--subject", "Hi", "--body-file", "body.txt"};
    QTest::newRow("neither --save nor --send") << base << "exactly one of --save and --send";
    QTest::newRow("both --save and --send") << QStringList{"--save", "--send"} + base
                                             << "exactly one of --save and --send";
    QTest::newRow("no --source") << QStringList{"--save", "--subject", "Hi", "--body-file", "b"} << "are required";
    QTest::newRow("no --body-file") << QStringList{"--save", "--source", "b.csv", "--subject", "Hi"}
                                    << "are required";
    QTest::newRow("blank subject") << QStringList{"--save", "--source", "b", "--subject", "  ", "--body-file", "b"}
                                   << "not blank";
    QTest::newRow("a column of two letters") << QStringList{"--save", "--email-column", "AB"} + base
                                             << "--email-column wants a column letter";
    QTest::newRow("a pair without a label") << QStringList{"--save", "--pair", "B:  "} + base
                                            << "--pair wants COL:LABEL";
    QTest::newRow("an unknown flag") << QStringList{"--save", "--bcc", "x"} + base << "unknown argument '--bcc'";
    QTest::newRow("a Cc column of two letters") << QStringList{"--save", "--cc-column", "CC"} + base
                                                << "--cc-column wants a column letter";
    QTest::newRow("an attachment column without its letter") << QStringList{"--save"} + base + QStringList{"--attach-column"}
                                                             << "--attach-column wants a value";
}

void TestBatchOutlook::badUsage() {
    QFETCH(QStringList, args);
    QFETCH(QString, message);
    const BatchRun run = batch(QStringList{"outlook"} + args);
    QCOMPARE(run.exitCode, 2);
    QVERIFY2(run.err.contains(message), qPrintable(run.err));
    QVERIFY(run.out.isEmpty());
}

void TestBatchOutlook::refusals_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("setup");
    QTest::addColumn<QString>("cause");
    QTest::newRow("workbook missing") << QStringList{"--source", "gone.csv"} << "" << "does not exist";
    QTest::newRow("sheet missing") << QStringList{"--sheet", "2"} << "" << "has no sheet 2";
    QTest::newRow("attachment missing") << QStringList{"--attach", "gone.pdf"} << "" << "gone.pdf does not exist";
    QTest::newRow("outbox cannot be made") << QStringList{} << "maildir-is-file" << "cannot be created";
    QTest::newRow("no sendmail to send with") << QStringList{"--send"} << "" << "no sendmail program";
    QTest::newRow("body file not UTF-8") << QStringList{} << "latin1-body" << "is not UTF-8 text";
}

void TestBatchOutlook::refusals() {
    QFETCH(QStringList, args);
    QFETCH(QString, setup);
    QFETCH(QString, cause);
    if (args.contains("--send") && (QFile::exists("/usr/sbin/sendmail") || QFile::exists("/usr/lib/sendmail")))
        QSKIP("this machine has a system-wide sendmail");
    if (setup == "maildir-is-file")
        QVERIFY(writeFile(at("Maildir"), "in the way"));
    if (setup == "latin1-body")
        QVERIFY(writeFile(at("body.txt"), "Gr\xfc\xdf" "e NAME\n"));
    // File names in args are made paths of the test folder; --source replaces the basic one.
    QStringList all = basicArgs(args.contains("--send") ? "--send" : "--save");
    for (int i = 0; i < args.size(); ++i) {
        const QString flag = args[i];
        if (flag == "--send")
            continue;
        if (flag == "--source") {
            all[all.indexOf(flag) + 1] = at(args[i + 1]);
            ++i;
        } else if (flag == "--attach") {
            all << flag << at(args[i + 1]);
            ++i;
        } else {
            all << flag;
        }
    }
    const BatchRun run = batch(all);
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.err.contains(cause), qPrintable(run.err));
    QVERIFY(entries(outbox() + "/new").isEmpty());
}

void TestBatchOutlook::savesOneMessagePerUsableRow() {
    // A workbook made by another program, with a number and a text holding a tab.
    const QByteArray layout = R"({"sheets": [{"title": "People", "rows": [
        ["Mail", "Name", "Count"],
        ["ann@example.com", "Ann\tLee", 3],
        ["no address", "Bob", 4],
        ["carl@example.org", null, null]]}]})";
    QVERIFY2(bookfixture::writeBook(at("people.xlsx"), layout).isEmpty(), "openpyxl writes the workbook");
    QVERIFY(writeFile(at("config/Tallyweave.conf"), "[General]\nEmail=office@example.net\n"));
    QVERIFY(writeFile(at("notes.txt"), "attached bytes\n"));
    const BatchRun run = batch({"outlook", "--save", "--source", at("people.xlsx"), "--start", "2", "--subject",
                                "Your count", "--body-file", at("body.txt"), "--pair", "B:NAME", "--pair",
                                "c:COUNT", "--attach", at("notes.txt")});
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.err, QStringLiteral("tallyweave-batch outlook: 1 row left out: the address cannot be used\n"));
    QCOMPARE(run.out, QStringLiteral("0\tann@example.com\tAnn\\tLee\t3\n"
                                     "1\tcarl@example.org\t-\t-\n"
                                     "records 2, null values 0, failures 1\n"));
    const QStringList files = entries(outbox() + "/new");
    QCOMPARE(files.size(), 2);
    QVERIFY(entries(outbox() + "/tmp").isEmpty());
    QStringList seen;
    for (const QString& name : files) {
        const QJsonObject message = mailfixture::readMessage(outbox() + "/new/" + name);
        QCOMPARE(message.value("from").toArray().at(0).toArray().at(1).toString(), QStringLiteral("office@example.net"));
        QCOMPARE(message.value("subject").toString(), QStringLiteral("Your count"));
        const QJsonArray parts = message.value("parts").toArray();
        QCOMPARE(parts.size(), 2);
        QCOMPARE(mailfixture::fromBase64(parts.at(1).toObject().value("data")), QByteArray("attached bytes\n"));
        seen << message.value("to").toArray().at(0).toArray().at(1).toString() + ": " +
                    parts.at(0).toObject().value("text").toString();
    }
    seen.sort();
    QCOMPARE(seen, (QStringList{"ann@example.com: Dear Ann\tLee,\r\nhello.\r\n", "carl@example.org: Dear -,\r\nhello.\r\n"}));
}

void TestBatchOutlook::noUsableRowIsAFinishedRun() {
    QVERIFY(writeBook(at("book.csv"), {{"Ann <ann@example.com>", "Ann"}, {"", "Bob"}}));
    const BatchRun run = batch(basicArgs());
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.out, QStringLiteral("records 0, null values 0, failures 0\n"));
}

void TestBatchOutlook::mailerFailingMidRun() {
    QVERIFY(installFailingMailer(at("bin"), 1));
    const BatchRun run = batch(basicArgs("--send") + QStringList{"--pair", "B:NAME"});
    QCOMPARE(run.exitCode, 1);
    QCOMPARE(run.out, QStringLiteral("0\tann@example.com\tAnn\nrecords 1, null values 0, failures 0\n"));
    QVERIFY2(run.err.contains("exited with status 75: sendmail: 451 relay temporarily refused"), qPrintable(run.err));
    // The first message went to the mailer, the second was refused, no third was tried.
    QVERIFY(QFile::exists(at("bin/mail-2")));
    QVERIFY(!QFile::exists(at("bin/mail-3")));
}

void TestBatchOutlook::eachRowItsOwnMessage() {
    QVERIFY(writeBook(at("book.csv"), {{"ann@example.com", "Ann", "own/ann.pdf", "boss@example.com", "audit@example.com"},
                                       {"bob@example.com", "Bob", "own/gone.pdf", "", ""},
                                       {"Carl <carl@example.org>", "Carl", "", "", ""}}));
    QVERIFY(QDir().mkpath(at("own")));
    QVERIFY(writeFile(at("own/ann.pdf"), "%PDF-1.4 Ann"));
    QVERIFY(writeFile(at("body.txt"), "Dear NAME,\nsee the file.\n"));
    const BatchRun run = batch(basicArgs() + QStringList{"--pair", "B:NAME", "--attach-column", "C", "--cc-column", "D",
                                                         "--bcc-column", "E", "--subject-labels", "--subject",
                                                         "Hi NAME"});
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.out, "0\tann@example.com\tAnn\n1\tbob@example.com\tBob\tthe attachment " + at("own/gone.pdf")
                          + " does not exist\nrecords 2, null values 0, failures 1\n");
    QCOMPARE(run.err, QStringLiteral("tallyweave-batch outlook: 1 row left out: the address cannot be used\n"));
    const QStringList files = entries(outbox() + "/new");
    QCOMPARE(files.size(), 1);
    const QJsonObject message = mailfixture::readMessage(outbox() + "/new/" + files.first());
    QCOMPARE(message.value("subject").toString(), QStringLiteral("Hi Ann"));
    QCOMPARE(message.value("cc").toArray(), (QJsonArray{QJsonArray{"", "boss@example.com"}}));
    QCOMPARE(message.value("bcc").toArray(), (QJsonArray{QJsonArray{"", "audit@example.com"}}));
    const QJsonArray parts = message.value("parts").toArray();
    QCOMPARE(parts.size(), 2);
    QCOMPARE(parts.at(0).toObject().value("text").toString(), QStringLiteral("Dear Ann,\r\nsee the file.\r\n"));
    QCOMPARE(parts.at(1).toObject().value("filename").toString(), QStringLiteral("ann.pdf"));
    QCOMPARE(mailfixture::fromBase64(parts.at(1).toObject().value("data")), QByteArray("%PDF-1.4 Ann"));
}

QTEST_GUILESS_MAIN(TestBatchOutlook)
#include "tst_batchoutlook.moc"
