// Pins the mail-client run: which rows become messages, what each message says once a mail reader
// parses it back, the outbox left clean, one system-mailer call per message delivered through a
// real SMTP server, every failure ending the run with its cause, and what each row adds to its own
// message (files, Cc, Bcc, labels in the subject, an HTML body), saved and sent.
#include "mail/composer.h"
#include "mail/journal.h"
#include "merge/outlook/outlookcommand.h"
#include "merge/outlook/outlookmerge.h"
#include "outlook/outlookfixture.h"
#include "platform/appprobe.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QtTest>

#include <functional>

using namespace outlookfixture;

namespace {

struct Line {
    QStringList subItems;
    int image;
};

class RecordingSink : public OutlookMergeSink {
public:
    void recordsBegin() override { began = true; }
    void recordDone(const QStringList& subItems, int image, int, int) override {
        lines.append({subItems, image});
        if (afterRecord)
            afterRecord(int(lines.size()));
    }
    bool stopRequested() override { return stopAfter >= 0 && lines.size() >= stopAfter; }

    bool began = false;
    int stopAfter = -1; // stop once this many records are done; -1 never
    QList<Line> lines;
    std::function<void(int)> afterRecord;
};

QString part(const QJsonObject& message, int index, const char* key) {
    return message.value("parts").toArray().at(index).toObject().value(QLatin1String(key)).toString();
}

} // namespace

class TestOutlookMerge : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();

    void savedMessagesReadBack();
    void savedMessageWithoutEmailSettingHasTheLocalSender();
    void rowsByAddressRule_data();
    void rowsByAddressRule();
    void labelsAndImages_data();
    void labelsAndImages();
    void cancelKeepsWhatWasSaved_data();
    void cancelKeepsWhatWasSaved();
    void outboxThatCannotBeMadeStopsBeforeAnyMessage();
    void failureInTheMiddleEndsTheRunAndLeavesTmpClean_data();
    void failureInTheMiddleEndsTheRunAndLeavesTmpClean();
    void sheetMissingAndWorkbookMissing();

    void sentThroughSystemMailer();
    void headerLinesInTheSubjectAddNoRecipient();
    void failingMailerEndsTheRunWithItsWords();
    void noMailerFound();

    void mailProgramsRefuseTheRun_data();
    void mailProgramsRefuseTheRun();

    void eachRowItsOwnMessage_data();
    void eachRowItsOwnMessage();

private:
    QString path(const QString& name) const { return m_dir->filePath(name); }
    QString outbox() const { return path("Maildir/.Outbox"); }
    QStringList saved() const { return entries(outbox() + "/new"); }
    OutlookMergeSettings settingsFor(const QList<QStringList>& rows);
    QJsonObject readSaved(const QString& name);

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_bin;
    QTemporaryDir m_binDir;
    mailfixture::MailServer m_server;
};

void TestOutlookMerge::initTestCase() {
    QVERIFY(m_binDir.isValid());
    m_bin = m_binDir.path();
    usePrivatePath(m_bin);
    QVERIFY2(QFile::exists("/usr/bin/msmtp"), "msmtp is a test dependency (scripts/deps.sh test)");
    const QString error = m_server.start(m_bin, {QStringLiteral("plain:plain")});
    QVERIFY2(error.isEmpty(), qPrintable(error));
}

void TestOutlookMerge::init() {
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    qputenv("MAILDIR", QFile::encodeName(path("Maildir")));
    QFile::remove(m_bin + "/sendmail");
    QFile::remove(m_bin + "/calls.log");
    QFile::remove(m_bin + "/count");
    m_server.clear();
}

OutlookMergeSettings TestOutlookMerge::settingsFor(const QList<QStringList>& rows) {
    OutlookMergeSettings s;
    s.workbookPath = path("book.csv");
    if (!writeBook(s.workbookPath, rows))
        qWarning("cannot write the workbook");
    s.subject = QStringLiteral("Hello");
    s.body = QStringLiteral("Dear NAME,\r\n");
    s.pairs = {{2, QStringLiteral("NAME")}};
    return s;
}

QJsonObject TestOutlookMerge::readSaved(const QString& name) {
    QString error;
    const QJsonObject message = mailfixture::readMessage(outbox() + "/new/" + name, &error);
    if (!error.isEmpty())
        qWarning("%s", qPrintable(error));
    return message;
}

void TestOutlookMerge::savedMessagesReadBack() {
    // An older message in the outbox stays as it is.
    QVERIFY(QDir().mkpath(outbox() + "/new"));
    QVERIFY(QDir().mkpath(outbox() + "/cur"));
    QVERIFY(QDir().mkpath(outbox() + "/tmp"));
    const QByteArray older = "From: someone@example.org\nSubject: older\n\nkept\n";
    QVERIFY(writeFile(outbox() + "/new/1.1_1.old", older));

    QByteArray binary;
    for (int i = 0; i < 70000; ++i)
        binary.append(char(i * 7 % 256));
    QVERIFY(writeFile(path("report.bin"), binary));
    QVERIFY(writeFile(path("Übersicht März.txt"), "Zeile 1\r\nZeile 2\n"));

    OutlookMergeSettings s = settingsFor({{"Address", "Name", "City"},
                                          {"ann@example.com", "Ann", "Oslo"},
                                          {"not an address", "Bob", "Rome"},
                                          {" carl.d@mail.example.org ", "Carl", ""}});
    s.startLine = 2;
    s.pairs = {{2, "<name>"}, {3, "<city>"}};
    s.subject = QStringLiteral("Grüße aus <city>");
    s.body = QStringLiteral("Hello <name>,\r\nsee you in <city>.\r\n");
    s.attachments = {{"report.bin", path("report.bin")}, {"Übersicht März.txt", path("Übersicht März.txt")}};
    s.fromAddress = QStringLiteral("office@example.net");

    RecordingSink sink;
    const OutlookMergeResult result = runOutlookMerge(s, sink);
    QCOMPARE(int(result.outcome), int(OutlookMergeOutcome::Finished));
    QCOMPARE(result.records, 2);
    QCOMPARE(result.nullValues, 1);
    QCOMPARE(result.failures, 0);
    QCOMPARE(sink.lines.size(), 2);
    QCOMPARE(sink.lines[0].subItems, (QStringList{"ann@example.com", "Ann", "Oslo"}));
    QCOMPARE(sink.lines[0].image, 0);
    QCOMPARE(sink.lines[1].subItems, (QStringList{"carl.d@mail.example.org", "Carl", "-"}));
    QCOMPARE(sink.lines[1].image, 2);

    QVERIFY2(entries(outbox() + "/tmp").isEmpty(), "nothing may be left in tmp/");
    const QStringList files = saved();
    QCOMPARE(files.size(), 3);
    QVERIFY(files.contains("1.1_1.old"));
    QFile old(outbox() + "/new/1.1_1.old");
    QVERIFY(old.open(QIODevice::ReadOnly));
    QCOMPARE(old.readAll(), older);

    QStringList fresh = files;
    fresh.removeAll("1.1_1.old");
    const QRegularExpression unique(QStringLiteral("^\\d+\\.\\d+_\\d+\\.[^/:]+$"));
    QHash<QString, QJsonObject> byRecipient;
    for (const QString& name : fresh) {
        QVERIFY2(unique.match(name).hasMatch(), qPrintable(name));
        QCOMPARE(QFileInfo(outbox() + "/new/" + name).permissions() & (QFile::ReadOther | QFile::ReadGroup),
                 QFileDevice::Permissions());
        const QJsonObject message = readSaved(name);
        QVERIFY(!message.isEmpty());
        QCOMPARE(message.value("defects").toArray().size(), 0);
        byRecipient.insert(message.value("to").toArray().at(0).toArray().at(1).toString(), message);
    }
    const QJsonObject ann = byRecipient.value("ann@example.com");
    const QJsonObject carl = byRecipient.value("carl.d@mail.example.org");
    QVERIFY(!ann.isEmpty() && !carl.isEmpty());
    for (const QJsonObject& message : {ann, carl}) {
        QCOMPARE(message.value("subject").toString(), QStringLiteral("Grüße aus <city>"));
        QCOMPARE(message.value("from").toArray().at(0).toArray().at(1).toString(), QStringLiteral("office@example.net"));
        const QJsonObject headers = message.value("headers").toObject();
        QVERIFY(headers.contains("date"));
        QVERIFY(headers.contains("message-id"));
        QCOMPARE(message.value("content_type").toString(), QStringLiteral("multipart/mixed"));
        QCOMPARE(message.value("parts").toArray().size(), 3);
        QCOMPARE(part(message, 1, "filename"), QStringLiteral("report.bin"));
        QCOMPARE(mailfixture::fromBase64(message.value("parts").toArray().at(1).toObject().value("data")), binary);
        QCOMPARE(part(message, 2, "filename"), QStringLiteral("Übersicht März.txt"));
        QCOMPARE(mailfixture::fromBase64(message.value("parts").toArray().at(2).toObject().value("data")),
                 QByteArray("Zeile 1\r\nZeile 2\n"));
    }
    QCOMPARE(part(ann, 0, "text"), QStringLiteral("Hello Ann,\r\nsee you in Oslo.\r\n"));
    QCOMPARE(part(carl, 0, "text"), QStringLiteral("Hello Carl,\r\nsee you in -.\r\n"));
}

// A saved message is read by a mail program as it stands, so it needs a From even when no e-mail
// address is set: the login name at the host name.
void TestOutlookMerge::savedMessageWithoutEmailSettingHasTheLocalSender() {
    OutlookMergeSettings s = settingsFor({{"ann@example.com", "Ann"}});
    s.fromAddress.clear();
    RecordingSink sink;
    QCOMPARE(int(runOutlookMerge(s, sink).outcome), int(OutlookMergeOutcome::Finished));
    const QStringList files = saved();
    QCOMPARE(files.size(), 1);
    const QJsonObject message = readSaved(files.first());
    QCOMPARE(message.value("defects").toArray().size(), 0);
    const QString from = message.value("from").toArray().at(0).toArray().at(1).toString();
    QCOMPARE(from, localSenderAddress());
    QVERIFY2(from.section(u'@', 1) == QSysInfo::machineHostName() && !from.section(u'@', 0, 0).isEmpty(),
             qPrintable(from));
}

void TestOutlookMerge::rowsByAddressRule_data() {
    QTest::addColumn<QString>("cell");
    QTest::addColumn<bool>("usable");
    QTest::newRow("blanks around are trimmed") << "  ann@example.com\t" << true;
    QTest::newRow("two dots before the at sign") << "ann..lee@example.com" << true;
    QTest::newRow("empty cell") << "" << false;
    QTest::newRow("display name with angle brackets") << "Ann Lee <ann@example.com>" << false;
    QTest::newRow("plus addressing") << "ann+news@example.com" << true;
    QTest::newRow("space inside") << "ann lee@example.com" << false;
    QTest::newRow("domain without a dot") << "ann@localhost" << false;
    QTest::newRow("line break inside") << "ann@example.com\nBcc: x@y.com" << false;
}

void TestOutlookMerge::rowsByAddressRule() {
    QFETCH(QString, cell);
    QFETCH(bool, usable);
    OutlookMergeSettings s = settingsFor({{"first@example.com", "One"}, {cell, "Two"}, {"last@example.com", "Three"}});
    RecordingSink sink;
    const OutlookMergeResult result = runOutlookMerge(s, sink);
    QCOMPARE(int(result.outcome), int(OutlookMergeOutcome::Finished));
    QStringList reported;
    for (const Line& line : sink.lines)
        reported << line.subItems.value(1);
    // A passed-over row leaves no line, no count and no message.
    QCOMPARE(reported, usable ? QStringList({"One", "Two", "Three"}) : QStringList({"One", "Three"}));
    QCOMPARE(result.records, usable ? 3 : 2);
    QCOMPARE(saved().size(), usable ? 3 : 2);
}

void TestOutlookMerge::labelsAndImages_data() {
    QTest::addColumn<QStringList>("cells"); // B, C, ...
    QTest::addColumn<QStringList>("labels"); // pair i takes column B + i
    QTest::addColumn<QString>("body");
    QTest::addColumn<QString>("expectedBody");
    QTest::addColumn<int>("image");
    QTest::addColumn<QStringList>("reported");

    QTest::newRow("a label several times is replaced everywhere")
        << QStringList{"Ann"} << QStringList{"[N]"} << "[N], [N] and [N]" << "Ann, Ann and Ann" << 0
        << QStringList{"Ann"};
    QTest::newRow("other capitals are not replaced")
        << QStringList{"Ann"} << QStringList{"Name"} << "Name name NAME" << "Ann name NAME" << 0 << QStringList{"Ann"};
    QTest::newRow("an empty value puts a dash and gives image 2")
        << QStringList{"Ann", ""} << QStringList{"[N]", "[C]"} << "[N] from [C]" << "Ann from -" << 2
        << QStringList{"Ann", "-"};
    QTest::newRow("all values empty: still a message, image 1")
        << QStringList{"", " "} << QStringList{"[N]", "[C]"} << "[N]/[C]" << "-/-" << 1 << QStringList{"-", "-"};
    QTest::newRow("no pairs: the body as typed, image 1")
        << QStringList{"Ann"} << QStringList{} << "Dear [N]" << "Dear [N]" << 1 << QStringList{};
    QTest::newRow("two pairs with one label: the first takes every occurrence")
        << QStringList{"Ann", "Bob"} << QStringList{"[N]", "[N]"} << "[N] [N]" << "Ann Ann" << 0
        << QStringList{"Ann", "Bob"};
    QTest::newRow("a later pair searches what an earlier one put")
        << QStringList{"Y", "Z"} << QStringList{"X", "Y"} << "X and X" << "Z and Z" << 0 << QStringList{"Y", "Z"};
    QTest::newRow("a value is trimmed of blanks and control characters")
        << QStringList{"\t Ann \x01"} << QStringList{"[N]"} << "<[N]>" << "<Ann>" << 0 << QStringList{"Ann"};
}

void TestOutlookMerge::labelsAndImages() {
    QFETCH(QStringList, cells);
    QFETCH(QStringList, labels);
    QFETCH(QString, body);
    QFETCH(QString, expectedBody);
    QFETCH(int, image);
    QFETCH(QStringList, reported);

    OutlookMergeSettings s = settingsFor({QStringList{"ann@example.com"} + cells});
    s.pairs.clear();
    for (int i = 0; i < labels.size(); ++i)
        s.pairs.append({2 + i, labels[i]});
    s.body = body;
    // Labels in the subject stay as typed.
    s.subject = labels.isEmpty() ? QStringLiteral("Plain") : QStringLiteral("About ") + labels.first();

    RecordingSink sink;
    const OutlookMergeResult result = runOutlookMerge(s, sink);
    QCOMPARE(int(result.outcome), int(OutlookMergeOutcome::Finished));
    QCOMPARE(sink.lines.size(), 1);
    QCOMPARE(sink.lines[0].image, image);
    QCOMPARE(sink.lines[0].subItems, QStringList{"ann@example.com"} + reported);
    QCOMPARE(result.failures, image == 1 ? 1 : 0);
    QCOMPARE(result.nullValues, image == 2 ? 1 : 0);

    QCOMPARE(saved().size(), 1);
    const QJsonObject message = readSaved(saved().first());
    QCOMPARE(message.value("content_type").toString(), QStringLiteral("text/plain"));
    QCOMPARE(part(message, 0, "text"), expectedBody);
    QCOMPARE(message.value("subject").toString(), s.subject);
}

void TestOutlookMerge::cancelKeepsWhatWasSaved_data() {
    QTest::addColumn<int>("stopAfter");
    QTest::newRow("Cancel before the first record") << 0;
    QTest::newRow("Cancel after the second record") << 2;
}

void TestOutlookMerge::cancelKeepsWhatWasSaved() {
    QFETCH(int, stopAfter);
    OutlookMergeSettings s = settingsFor(
        {{"a@example.com", "A"}, {"b@example.com", "B"}, {"c@example.com", "C"}, {"d@example.com", "D"}});
    RecordingSink sink;
    sink.stopAfter = stopAfter;
    const OutlookMergeResult result = runOutlookMerge(s, sink);
    QCOMPARE(int(result.outcome), int(OutlookMergeOutcome::Cancelled));
    QCOMPARE(int(sink.lines.size()), stopAfter);
    QCOMPARE(int(saved().size()), stopAfter);
}

void TestOutlookMerge::outboxThatCannotBeMadeStopsBeforeAnyMessage() {
    // MAILDIR names a file: no folder can be made below it.
    QVERIFY(writeFile(path("Maildir"), "not a folder"));
    OutlookMergeSettings s = settingsFor({{"a@example.com", "A"}});
    RecordingSink sink;
    const OutlookMergeResult result = runOutlookMerge(s, sink);
    QCOMPARE(int(result.outcome), int(OutlookMergeOutcome::MailerUnavailable));
    QVERIFY2(result.cause.contains(path("Maildir")), qPrintable(result.cause));
    QVERIFY(!sink.began);
    QVERIFY(sink.lines.isEmpty());
}

void TestOutlookMerge::failureInTheMiddleEndsTheRunAndLeavesTmpClean_data() {
    QTest::addColumn<QString>("what");
    QTest::addColumn<QString>("cause");
    QTest::newRow("the attachment was deleted") << "attachment" << "no longer exists";
    QTest::newRow("new/ is no folder any more") << "new" << "cannot be moved into";
    QTest::newRow("tmp/ is no folder any more") << "tmp" << "cannot be written into";
}

void TestOutlookMerge::failureInTheMiddleEndsTheRunAndLeavesTmpClean() {
    QFETCH(QString, what);
    QFETCH(QString, cause);
    QVERIFY(writeFile(path("a.txt"), "attached"));
    OutlookMergeSettings s = settingsFor({{"a@example.com", "A"}, {"b@example.com", "B"}, {"c@example.com", "C"}});
    s.attachments = {{"a.txt", path("a.txt")}};
    RecordingSink sink;
    const QString box = outbox();
    sink.afterRecord = [&](int done) {
        if (done != 1)
            return;
        if (what == "attachment") {
            QFile::remove(path("a.txt"));
        } else {
            // The first message moves aside with its folder, where the test counts it.
            QDir().rename(box + "/" + what, box + "/" + what + ".kept");
            writeFile(box + "/" + what, "in the way");
        }
    };
    const OutlookMergeResult result = runOutlookMerge(s, sink);
    QCOMPARE(int(result.outcome), int(OutlookMergeOutcome::Failed));
    QVERIFY2(result.cause.contains(cause), qPrintable(result.cause));
    QCOMPARE(result.records, 1);
    const QString newFolder = what == "new" ? box + "/new.kept" : box + "/new";
    QCOMPARE(entries(newFolder).size(), 1);
    if (what != "tmp")
        QVERIFY2(entries(box + "/tmp").isEmpty(), "a message that could not be moved is removed from tmp/");
}

void TestOutlookMerge::sheetMissingAndWorkbookMissing() {
    OutlookMergeSettings s = settingsFor({{"a@example.com", "A"}});
    s.sheet = 2;
    RecordingSink sink;
    QCOMPARE(int(runOutlookMerge(s, sink).outcome), int(OutlookMergeOutcome::SheetMissing));
    s.sheet = 1;
    s.workbookPath = path("gone.xlsx");
    const OutlookMergeResult result = runOutlookMerge(s, sink);
    QCOMPARE(int(result.outcome), int(OutlookMergeOutcome::WorkbookFailed));
    QVERIFY(!result.cause.isEmpty());
    QVERIFY(!QFileInfo::exists(outbox()));
    QCOMPARE(checkOutlookCommand(s.workbookPath), OutlookCommandCheck::WorkbookMissing);
    QCOMPARE(checkOutlookCommand(m_dir->path()), OutlookCommandCheck::WorkbookMissing);
    QCOMPARE(checkOutlookCommand(path("book.csv")), OutlookCommandCheck::Ok);
}

void TestOutlookMerge::sentThroughSystemMailer() {
    QVERIFY(installMsmtp(m_bin, m_server.port("plain"), "envelope@sender.example"));
    QVERIFY(writeFile(path("list.csv"), "a,b\r\n1,2\r\n"));
    for (const bool withFrom : {true, false}) {
        m_server.clear();
        QFile::remove(m_bin + "/calls.log");
        OutlookMergeSettings s = settingsFor({{"ann@example.com", "Ann"}, {"", "nobody"}, {"bob@example.org", ""}});
        s.saveMode = false;
        s.fromAddress = withFrom ? QStringLiteral("office@example.net") : QString();
        s.subject = QStringLiteral("Ticket für NAME");
        s.attachments = {{"list.csv", path("list.csv")}};
        RecordingSink sink;
        const OutlookMergeResult result = runOutlookMerge(s, sink);
        QCOMPARE(int(result.outcome), int(OutlookMergeOutcome::Finished));
        QCOMPARE(result.records, 2);
        QCOMPARE(result.failures, 1); // bob's only value is empty

        // One call per message, the recipients taken from the headers.
        QCOMPARE(mailerCalls(m_bin), (QStringList{"-t -oi", "-t -oi"}));
        QVERIFY(!QFileInfo::exists(outbox()));
        const QList<mailfixture::MailServer::Received> received = m_server.received();
        QCOMPARE(received.size(), 2);
        QStringList bodies;
        for (const auto& one : received) {
            const QJsonArray rcpt = one.envelope.value("rcpt_tos").toArray();
            QCOMPARE(rcpt.size(), 1);
            const QJsonObject message = mailfixture::readMessage(one.path);
            QCOMPARE(message.value("to").toArray().at(0).toArray().at(1).toString(), rcpt.at(0).toString());
            QCOMPARE(message.value("subject").toString(), QStringLiteral("Ticket für NAME"));
            // Without an address of our own, the system mailer puts its sender.
            QCOMPARE(message.value("from").toArray().at(0).toArray().at(1).toString(),
                     withFrom ? QStringLiteral("office@example.net") : QStringLiteral("envelope@sender.example"));
            QCOMPARE(mailfixture::fromBase64(message.value("parts").toArray().at(1).toObject().value("data")),
                     QByteArray("a,b\r\n1,2\r\n"));
            bodies << rcpt.at(0).toString() + ": " + part(message, 0, "text");
        }
        bodies.sort();
        QCOMPARE(bodies, (QStringList{"ann@example.com: Dear Ann,\r\n", "bob@example.org: Dear -,\r\n"}));
    }
}

void TestOutlookMerge::headerLinesInTheSubjectAddNoRecipient() {
    QVERIFY(installMsmtp(m_bin, m_server.port("plain"), "envelope@sender.example"));
    OutlookMergeSettings s = settingsFor({{"ann@example.com", "Ann"}});
    s.saveMode = false;
    s.subject = QStringLiteral("Hi\r\nBcc: victim@example.org\nCc: other@example.org");
    RecordingSink sink;
    QCOMPARE(int(runOutlookMerge(s, sink).outcome), int(OutlookMergeOutcome::Finished));
    const auto received = m_server.received();
    QCOMPARE(received.size(), 1);
    QCOMPARE(received[0].envelope.value("rcpt_tos").toArray(), QJsonArray{"ann@example.com"});
    const QJsonObject headers = mailfixture::readMessage(received[0].path).value("headers").toObject();
    QVERIFY(!headers.contains("bcc"));
    QVERIFY(!headers.contains("cc"));
}

void TestOutlookMerge::failingMailerEndsTheRunWithItsWords() {
    QVERIFY(installFailingMailer(m_bin, 1));
    OutlookMergeSettings s = settingsFor({{"a@example.com", "A"}, {"b@example.com", "B"}, {"c@example.com", "C"}});
    s.saveMode = false;
    RecordingSink sink;
    const OutlookMergeResult result = runOutlookMerge(s, sink);
    QCOMPARE(int(result.outcome), int(OutlookMergeOutcome::Failed));
    QVERIFY2(result.cause.contains("status 75"), qPrintable(result.cause));
    QVERIFY2(result.cause.contains("451 relay temporarily refused"), qPrintable(result.cause));
    QCOMPARE(result.records, 1);
    QCOMPARE(sink.lines.size(), 1);
    // The mailer was given LF line ends, and nothing was asked of it after the refusal.
    QFile first(m_bin + "/mail-1");
    QVERIFY(first.open(QIODevice::ReadOnly));
    const QByteArray handed = first.readAll();
    QVERIFY(handed.contains("\nTo: a@example.com\n"));
    QVERIFY(!handed.contains('\r'));
    QVERIFY(!QFile::exists(m_bin + "/mail-3"));
}

void TestOutlookMerge::noMailerFound() {
    if (QFile::exists("/usr/sbin/sendmail") || QFile::exists("/usr/lib/sendmail"))
        QSKIP("this machine has a system-wide sendmail");
    OutlookMergeSettings s = settingsFor({{"a@example.com", "A"}});
    s.saveMode = false;
    RecordingSink sink;
    const OutlookMergeResult result = runOutlookMerge(s, sink);
    QCOMPARE(int(result.outcome), int(OutlookMergeOutcome::MailerUnavailable));
    QVERIFY(result.cause.contains("sendmail"));
    QVERIFY(sink.lines.isEmpty());
}

void TestOutlookMerge::mailProgramsRefuseTheRun_data() {
    QTest::addColumn<QString>("command");
    QTest::addColumn<bool>("mailProgram");
    for (const char* name : {"thunderbird", "evolution", "kmail", "claws-mail", "geary", "sylpheed", "balsa"})
        QTest::newRow(name) << QString::fromLatin1(name) << true;
    QTest::newRow("a terminal mail reader is no desktop mail program") << "mutt" << false;
    QTest::newRow("the system mailer is none either") << "msmtp" << false;
}

void TestOutlookMerge::mailProgramsRefuseTheRun() {
    QFETCH(QString, command);
    QFETCH(bool, mailProgram);
    QVERIFY(QDir().mkpath(path("proc/4711")));
    QVERIFY(writeFile(path("proc/4711/comm"), command.toUtf8() + "\n"));
    QVERIFY(writeFile(path("proc/4711/cmdline"), "/usr/bin/" + command.toUtf8() + '\0'));
    const ProcessAppProbe probe(path("proc"));
    QCOMPARE(probe.mailClientRunning(), mailProgram);
    QCOMPARE(blockingProgramRunning(probe), mailProgram);
}

void TestOutlookMerge::eachRowItsOwnMessage_data() {
    QTest::addColumn<bool>("save");
    QTest::newRow("saved into the outbox: Bcc in its header") << true;
    QTest::newRow("sent through msmtp: Bcc in the envelope alone") << false;
}

void TestOutlookMerge::eachRowItsOwnMessage() {
    QFETCH(bool, save);
    if (!save)
        QVERIFY(installMsmtp(m_bin, m_server.port("plain"), "envelope@sender.example"));
    QVERIFY(QDir().mkpath(path("files")));
    QByteArray invoice;
    for (int i = 0; i < 50000; ++i)
        invoice.append(char(i * 13 % 256));
    QVERIFY(writeFile(path("files/inv-ann.bin"), invoice));
    QVERIFY(writeFile(path("terms.txt"), "terms for all"));
    OutlookMergeSettings s = settingsFor({{"ann@example.com", "Ann & Co", "files/inv-ann.bin", "boss@example.com",
                                           "audit@example.com"},
                                          {"erin+tag@example.com", "Erin", "", "", ""},
                                          {"bob@example.com", "Bob", "files/missing.pdf", "", ""},
                                          {"not an address", "Nobody", "", "", ""},
                                          {"cleo@example.com", "Cleo", "", "Cleo <c@example.com>", ""},
                                          {"dan@example.com", "Dan", "", "", "archive@example.com; dan2@example.com"}});
    s.saveMode = save;
    s.fromAddress = QStringLiteral("office@example.net");
    s.subject = QStringLiteral("For NAME");
    s.body = QStringLiteral("<p>Dear NAME</p>");
    s.attachments = {{"terms.txt", path("terms.txt")}};
    s.personal.attachColumn = 3;
    s.personal.ccColumn = 4;
    s.personal.bccColumn = 5;
    s.personal.html = true;
    s.personal.subjectLabels = true;
    s.journaled = true;
    s.journalPath = path("journal.sqlite");

    RecordingSink sink;
    const OutlookMergeResult result = runOutlookMerge(s, sink);
    QCOMPARE(int(result.outcome), int(OutlookMergeOutcome::Finished));
    QCOMPARE(result.records, 5);
    QCOMPARE(result.failures, 2);
    QCOMPARE(result.leftOut, 1);
    QStringList lines;
    for (const Line& line : sink.lines)
        lines << QString::number(line.image) + ' ' + line.subItems.join('|');
    QCOMPARE(lines, (QStringList{"0 ann@example.com|Ann & Co", "0 erin+tag@example.com|Erin",
                                 "1 bob@example.com|Bob|the attachment " + path("files/missing.pdf")
                                     + " does not exist",
                                 "1 cleo@example.com|Cleo|the Cc address \"Cleo <c@example.com>\" cannot be used",
                                 "0 dan@example.com|Dan"}));
    JournalError error;
    const std::unique_ptr<SendJournal> read = SendJournal::open(s.journalPath, &error);
    QVERIFY2(read, qPrintable(error.cause));
    const ChainSummary summary = read->summary(SendJournal::mailingKey(outlookMailing(s)));
    QCOMPARE(summary.sent, 3);
    QCOMPARE(summary.failed, 2);
    QCOMPARE(summary.skipped, 1);

    // The messages as a mail program finds them (the outbox) or as the server got them.
    QHash<QString, QJsonObject> byTo;
    QHash<QString, QJsonArray> envelopes;
    QStringList files;
    if (save) {
        for (const QString& name : saved())
            files << outbox() + "/new/" + name;
    } else {
        for (const auto& one : m_server.received()) {
            files << one.path;
            envelopes.insert(one.envelope.value("rcpt_tos").toArray().at(0).toString(),
                             one.envelope.value("rcpt_tos").toArray());
        }
    }
    QCOMPARE(files.size(), 3);
    for (const QString& file : files) {
        const QJsonObject message = mailfixture::readMessage(file);
        QCOMPARE(message.value("defects").toArray().size(), 0);
        byTo.insert(message.value("to").toArray().at(0).toArray().at(1).toString(), message);
    }
    const QJsonObject ann = byTo.value("ann@example.com");
    QCOMPARE(ann.value("subject").toString(), QStringLiteral("For Ann & Co"));
    QCOMPARE(ann.value("cc").toArray(), (QJsonArray{QJsonArray{"", "boss@example.com"}}));
    QCOMPARE(ann.value("structure").toString(),
             QStringLiteral("multipart/mixed(multipart/alternative(text/plain,text/html),"
                            "application/octet-stream,application/octet-stream)"));
    QCOMPARE(part(ann, 0, "text"), QStringLiteral("Dear Ann & Co\r\n"));
    QCOMPARE(part(ann, 1, "text"), QStringLiteral("<p>Dear Ann &amp; Co</p>"));
    QCOMPARE(part(ann, 2, "filename"), QStringLiteral("terms.txt"));
    QCOMPARE(part(ann, 3, "filename"), QStringLiteral("inv-ann.bin"));
    QCOMPARE(mailfixture::fromBase64(ann.value("parts").toArray().at(3).toObject().value("data")), invoice);
    QVERIFY(!byTo.value("erin+tag@example.com").value("headers").toObject().contains("cc"));

    const QJsonObject dan = byTo.value("dan@example.com");
    if (save) {
        // The mail program sends the Bcc recipients from the saved header.
        QCOMPARE(ann.value("bcc").toArray(), (QJsonArray{QJsonArray{"", "audit@example.com"}}));
        QCOMPARE(dan.value("bcc").toArray(),
                 (QJsonArray{QJsonArray{"", "archive@example.com"}, QJsonArray{"", "dan2@example.com"}}));
        return;
    }
    for (const QJsonObject& message : {ann, dan})
        QVERIFY2(!message.value("headers").toObject().contains("bcc"), "a sent message names no Bcc recipient");
    QCOMPARE(envelopes.value("ann@example.com"),
             (QJsonArray{"ann@example.com", "boss@example.com", "audit@example.com"}));
    QCOMPARE(envelopes.value("erin+tag@example.com"), QJsonArray{"erin+tag@example.com"});
    QCOMPARE(envelopes.value("dan@example.com"),
             (QJsonArray{"dan@example.com", "archive@example.com", "dan2@example.com"}));
    // A message with Bcc recipients is given its envelope on the command line; any other one
    // leaves the mailer to read the headers.
    QCOMPARE(mailerCalls(m_bin), (QStringList{"-oi -- ann@example.com boss@example.com audit@example.com", "-t -oi",
                                              "-oi -- dan@example.com archive@example.com dan2@example.com"}));
}

QTEST_GUILESS_MAIN(TestOutlookMerge)
#include "tst_outlookmerge.moc"
