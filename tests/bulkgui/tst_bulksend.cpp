// Bulk-mail runs through the windows against a real SMTP server (aiosmtpd, started by the test):
// one message per tick, the report lines with their pending, sent and failed images, the server's
// words for a refused row, the counters, the run's endings and their messages, and Cancel taken
// at the end of a tick, also while an exchange is under way.
#include "bulkwindows.h"
#include "mail/journal.h"
#include "merge/bulk/bulkcommandflow.h"
#include "merge/bookfixture.h"

#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QJsonArray>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTreeView>
#include <QtTest>

#include <memory>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using Rows = QList<QStringList>;

QString writeBook(const QString& path, const QList<Rows>& sheets) {
    QJsonArray specs;
    for (const Rows& rows : sheets) {
        QJsonArray jsonRows;
        for (const QStringList& row : rows) {
            QJsonArray cells;
            for (const QString& cell : row)
                cells.append(cell.isEmpty() ? QJsonValue() : QJsonValue(cell));
            jsonRows.append(cells);
        }
        specs.append(QJsonObject{{"rows", jsonRows}});
    }
    return bookfixture::writeBook(path, QJsonDocument(QJsonObject{{"sheets", specs}}).toJson());
}

// A port on the loopback that nobody listens on: bound by the system's choice, then let go.
int freePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int port = -1;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    ::close(fd);
    return port;
}

// The messages the server stored, in arrival order: recipients and the decoded text part, as
// Python's own e-mail parser reads them.
struct Received {
    QStringList to;
    QString subject;
    QString text;
};

QList<Received> received(const QString& folder) {
    static const char* script = R"py(
import email, email.policy, json, sys, glob, os
out = []
for eml in sorted(glob.glob(os.path.join(sys.argv[1], "*.eml"))):
    meta = json.load(open(eml[:-4] + ".json"))
    msg = email.message_from_binary_file(open(eml, "rb"), policy=email.policy.default)
    part = msg.get_body(preferencelist=("plain",))
    out.append({"to": meta["rcpt_tos"], "subject": str(msg["subject"]), "text": part.get_content().replace("\r\n", "\n")})
print(json.dumps(out))
)py";
    QProcess python;
    python.start(QStringLiteral(TW_PYTHON), {QStringLiteral("-c"), QString::fromLatin1(script), folder});
    python.waitForFinished(30000);
    QList<Received> list;
    for (const QJsonValue& v : QJsonDocument::fromJson(python.readAllStandardOutput()).array()) {
        const QJsonObject o = v.toObject();
        Received r;
        for (const QJsonValue& to : o["to"].toArray())
            r.to << to.toString();
        r.subject = o["subject"].toString();
        r.text = o["text"].toString();
        list << r;
    }
    return list;
}

struct Harness : BulkWindows {
    // The pause the test wants between two messages, instead of the dialog's pace; -1 keeps the pace.
    int intervalMs = -1;
    Harness() { progress.setJobSource([this] { return job(); }); }
    BulkJob job() const {
        BulkJob j = form.job();
        if (intervalMs >= 0)
            j.intervalMs = intervalMs;
        return j;
    }

    void setServer(int port) {
        options.setFields(
            {"sender@example.org", "127.0.0.1", QString::number(port), "ann", "Open Sesame!", false});
    }

    // The main window's command, with the bulk dialog filled in as a user does it.
    void runCommand(const QString& workbook, int sheet, int startLine, const QStringList& pairs = {},
                    int perMinute = 0, int limit = 0) {
        whenShown(&form, [=, this] {
            if (perMinute > 0)
                form.SpinPace->setValue(perMinute);
            form.SpinLimit->setValue(limit);
            form.Fields->Edit1->setText(workbook);
            form.Fields->ComboBox1->setCurrentIndex(sheet - 1);
            form.Fields->UpDown1->setValue(startLine);
            for (const QString& pair : pairs)
                addPair(pair.section('=', 0, 0), pair.section('=', 1));
            form.Fields->Edit3->setText("Hello NAME");
            memo()->setPlainText("Dear NAME from CITY,\nthe list.");
            form.ButtonSend->click();
        });
        bulkMailsCommand(services, form, progress);
    }

    QList<int> images() const {
        QList<int> list;
        for (int i = 0; i < report.lineCount(); ++i)
            list << report.image(i);
        return list;
    }
};

} // namespace

class TestBulkSend : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanupTestCase();

    void aRunSendsOneMessagePerTickAndReportsTheServersWords();
    void runEndings_data();
    void runEndings();
    void cancelBetweenTicksSendsExactlyOneMore();
    void theDialogStaysOpenAndResponsiveDuringAnExchange();
    void cancelWhileTheDocumentsAreMadeSendsNothing();
    void aDocumentThatCannotBeMadeEndsTheRunFirst();
    void aMailingRunBeforeIsAskedAbout_data();
    void aMailingRunBeforeIsAskedAbout();
    void thePaceAndTheLimitOfTheDialogRuleTheRun();

private:
    QProcess m_server;
    int m_port = 0;
    QTemporaryDir m_mailbox;
    QTemporaryDir m_books;
    std::unique_ptr<Harness> h;
    QString book(const QString& name) const { return m_books.filePath(name); }
    void clearMailbox();
};

void TestBulkSend::initTestCase() {
    QVERIFY(m_mailbox.isValid() && m_books.isValid());
    m_server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_server.start(QStringLiteral(TW_PYTHON),
                   {QStringLiteral(TW_SOURCE_DIR "/tests/mail/smtpserver.py"), m_mailbox.path(),
                    m_books.path(), QStringLiteral("good:auth")});
    QVERIFY2(m_server.waitForStarted(), "python3 did not start");
    QByteArray line;
    QDeadlineTimer deadline(30000);
    while (!line.contains('\n') && !deadline.hasExpired()) {
        m_server.waitForReadyRead(1000);
        line += m_server.readAll();
    }
    const QByteArray ready = line.trimmed();
    QVERIFY2(ready.startsWith("READY good="), ready.constData());
    m_port = ready.mid(int(qstrlen("READY good="))).toInt();
    QVERIFY(m_port > 0);

    // Row 1 is a heading, whose "address" no rule accepts; row 3 is no address either.
    const Rows people{{"Email", "Name", "City"},
                      {"ann@example.org", "Ann", "Oslo"},
                      {"not an address", "Bob", "Rome"},
                      {"refuse-rcpt@example.org", "Cy", ""},
                      {" dee@example.org ", "Dee", "Lima"}};
    QString error = writeBook(book("people.xlsx"), {people});
    QVERIFY2(error.isEmpty(), qPrintable(error));
    Rows lastInvalid = people;
    lastInvalid << QStringList{"Eve at example.org", "Eve", "Bonn"};
    error = writeBook(book("last-invalid.xlsx"), {lastInvalid, {{"x"}}, {{"y"}}});
    QVERIFY2(error.isEmpty(), qPrintable(error));
    Rows many;
    for (int i = 1; i <= 20; ++i)
        many << QStringList{QStringLiteral("p%1@example.org").arg(i), QStringLiteral("P%1").arg(i)};
    error = writeBook(book("twenty.xlsx"), {many});
    QVERIFY2(error.isEmpty(), qPrintable(error));
    error = writeBook(book("two.xlsx"), {Rows{{"fay@example.org", "Fay"}, {"gus@example.org", "Gus"}}});
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QFile broken(book("broken.xlsx"));
    QVERIFY(broken.open(QIODevice::WriteOnly));
    broken.write(QByteArray("PK\x03\x04", 4) + "a package cut short"); // a damaged workbook package
}

void TestBulkSend::init() {
    h = std::make_unique<Harness>();
    h->setServer(m_port);
    clearMailbox();
}

void TestBulkSend::cleanupTestCase() {
    m_server.kill();
    m_server.waitForFinished();
}

void TestBulkSend::clearMailbox() {
    QDir box(m_mailbox.path());
    for (const QString& name : box.entryList(QDir::Files))
        box.remove(name);
}

void TestBulkSend::aRunSendsOneMessagePerTickAndReportsTheServersWords() {
    h->panels[0].setText("left by the last run");
    QCOMPARE(h->progress.Timer1->interval(), 1000);
    QStringList pendingSeen; // the image of each line as it first shows
    QTimer watch;
    int lastCount = 0;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        const int count = h->report.lineCount();
        if (count > lastCount) {
            lastCount = count;
            pendingSeen << QString::number(h->report.image(count - 1));
        }
    });
    watch.start(1);

    QElapsedTimer clock;
    clock.start();
    h->runCommand(book("people.xlsx"), 1, 1, {"NAME=B", "CITY=C"});
    const qint64 took = clock.elapsed();

    QCOMPARE(h->report.columnCaptions(),
             (QStringList{"", "ListView.MailTo", "Field 1", "Field 2", "ListView.Comment"}));
    QCOMPARE(h->view.header()->sectionSize(1), 150);
    QCOMPARE(h->view.header()->sectionSize(2), 100);
    QCOMPARE(h->view.header()->sectionSize(4), 200);

    QCOMPARE(h->report.lineCount(), 3);
    QCOMPARE(h->report.subItems(0), (QStringList{"ann@example.org", "Ann", "Oslo", ""}));
    QCOMPARE(h->report.subItems(2), (QStringList{"dee@example.org", "Dee", "Lima", ""}));
    const QStringList refused = h->report.subItems(1);
    QCOMPARE(refused.mid(0, 3), (QStringList{"refuse-rcpt@example.org", "Cy", "-"}));
    QVERIFY2(refused.value(3).contains("No such user here"), qPrintable("comment: " + refused.value(3)));
    QCOMPARE(h->images(), (QList<int>{ImageProcessed, ImageFailure, ImageProcessed}));
    QCOMPARE(pendingSeen, (QStringList{"3", "3", "3"}));
    QCOMPARE(h->report.panelText(0), QString("Records: 3"));
    QCOMPARE(h->report.panelText(1), QString("Null: 0"));
    QCOMPARE(h->report.panelText(2), QString("Failures: 1"));
    QCOMPARE(h->progress.ProgressBar1->value(), 100);
    // The heading and "not an address" were passed over, and the end message counts them.
    QCOMPARE(h->messages(), QStringList{"BulkProgressForm.String09\n\nleft out: 2"});
    QVERIFY(!h->progress.isVisible());
    QVERIFY2(took >= 2900, "a pause of one timer interval before each message");

    const QList<Received> mail = received(m_mailbox.path());
    QCOMPARE(mail.size(), 2);
    QCOMPARE(mail[0].to, QStringList{"ann@example.org"});
    QCOMPARE(mail[1].to, QStringList{"dee@example.org"});
    QCOMPARE(mail[0].subject, QString("Hello NAME"));
    QCOMPARE(mail[0].text, QString("Dear Ann from Oslo,\nthe list.\n"));
    QCOMPARE(mail[1].text, QString("Dear Dee from Lima,\nthe list.\n"));
}

void TestBulkSend::runEndings_data() {
    QTest::addColumn<QString>("workbook");
    QTest::addColumn<int>("sheet");
    QTest::addColumn<int>("startLine");
    QTest::addColumn<int>("port"); // 0: the test's server
    QTest::addColumn<QList<int>>("images");
    QTest::addColumn<QList<int>>("progress"); // after each message
    QTest::addColumn<QString>("message");
    QTest::addColumn<bool>("detailed"); // the message carries a cause

    const QList<int> none;
    QTest::newRow("start line below the last row")
        << "people.xlsx" << 1 << 6 << 0 << none << none << "BulkProgressForm.String08" << false;
    QTest::newRow("last row without a usable address ends one tick later")
        << "last-invalid.xlsx" << 1 << 4 << 0 << QList<int>{ImageFailure, ImageProcessed}
        << QList<int>{66, 83} << "BulkProgressForm.String08\n\nleft out: 1" << false;
    QTest::newRow("worksheet beyond the workbook")
        << "last-invalid.xlsx" << 4 << 1 << 0 << none << none << "BulkProgressForm.String07" << false;
    QTest::newRow("a damaged workbook")
        << "broken.xlsx" << 1 << 1 << 0 << none << none << "BulkProgressForm.String06" << true;
    QTest::newRow("the last two of twenty rows")
        << "twenty.xlsx" << 1 << 19 << 0 << QList<int>{ImageProcessed, ImageProcessed} << QList<int>{95, 100}
        << "BulkProgressForm.String09" << false;
    QTest::newRow("server unreachable")
        << "people.xlsx" << 1 << 1 << -1 << QList<int>{ImageFailure, ImageFailure, ImageFailure}
        << QList<int>{40, 80, 100} << "BulkProgressForm.String09\n\nleft out: 2" << false;
}

void TestBulkSend::runEndings() {
    QFETCH(QString, workbook);
    QFETCH(int, sheet);
    QFETCH(int, startLine);
    QFETCH(int, port);
    QFETCH(QList<int>, images);
    QFETCH(QList<int>, progress);
    QFETCH(QString, message);
    QFETCH(bool, detailed);

    if (port < 0) {
        port = freePort();
        QVERIFY(port > 0);
    }
    if (port > 0)
        h->setServer(port);
    h->panels[0].setText("left by the last run");
    h->intervalMs = 20;
    QList<int> seen;
    QObject::connect(h->progress.ProgressBar1, &QProgressBar::valueChanged,
                     [&seen](int value) { seen << value; });

    h->runCommand(book(workbook), sheet, startLine);
    QCOMPARE(h->images(), images);
    QCOMPARE(seen, progress);
    QCOMPARE(h->messages(), QStringList{message});
    QCOMPARE(!h->prompter.calls[0].detail.isEmpty(), detailed);
    QVERIFY(!h->progress.isVisible());
    if (images.isEmpty())
        QCOMPARE(h->report.panelText(0), QString("left by the last run"));
    else
        QCOMPARE(h->report.panelText(2), QStringLiteral("Failures: %1").arg(images.count(int(ImageFailure))));
    if (images.count(int(ImageFailure)) == images.size()) {
        for (int i = 0; i < h->report.lineCount(); ++i)
            QVERIFY2(!h->report.subItems(i).last().isEmpty(), "every failure says why");
    }
}

void TestBulkSend::cancelBetweenTicksSendsExactlyOneMore() {
    h->intervalMs = 300;
    bool cancelled = false;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        // The first message is through and the next tick is armed: the user clicks Cancel.
        if (!cancelled && h->report.lineCount() == 1 && h->report.image(0) == ImageProcessed &&
            h->progress.Timer1->isActive()) {
            cancelled = true;
            QTest::mouseClick(h->progress.ButtonCancel, Qt::LeftButton);
        }
    });
    watch.start(1);
    h->runCommand(book("twenty.xlsx"), 1, 1);
    QVERIFY(cancelled);
    QCOMPARE(h->images(), (QList<int>{ImageProcessed, ImageProcessed}));
    QVERIFY2(h->prompter.calls.isEmpty(), "a cancelled run ends without a message");
    QCOMPARE(received(m_mailbox.path()).size(), 2);
    QVERIFY(!h->progress.isVisible());
}

void TestBulkSend::theDialogStaysOpenAndResponsiveDuringAnExchange() {
    const QString path = book("slow.xlsx");
    QString error = writeBook(path, {{{"slow@example.org"}, {"fast@example.org"}}});
    QVERIFY2(error.isEmpty(), qPrintable(error));
    h->intervalMs = 20;

    int ticksDuringExchange = 0;
    bool stillOpenAfterClose = false;
    int imageDuringExchange = -1;
    QTimer during;
    QObject::connect(&during, &QTimer::timeout, [&] {
        if (!h->progress.sending())
            return;
        // Events are handled while the server takes its time.
        if (++ticksDuringExchange == 20) {
            imageDuringExchange = h->report.image(0);
            QTest::mouseClick(h->progress.ButtonCancel, Qt::LeftButton);
            h->progress.close();
            QTest::keyClick(&h->progress, Qt::Key_Escape);
            stillOpenAfterClose = h->progress.isVisible();
        }
    });
    during.start(20);
    h->runCommand(path, 1, 1);
    QVERIFY2(ticksDuringExchange >= 20, "the window did not handle events while sending");
    QCOMPARE(imageDuringExchange, int(ImagePending));
    QVERIFY2(stillOpenAfterClose, "closed while a message was on its way");
    // The cancelled run ends after that message: the slow reply failed it, nothing more was sent.
    QCOMPARE(h->images(), QList<int>{ImageFailure});
    QVERIFY(!h->report.subItems(0).last().isEmpty());
    QVERIFY(h->prompter.calls.isEmpty());
    QVERIFY(!h->progress.isVisible());
    QCOMPARE(received(m_mailbox.path()).size(), 0);
}

// The rows' PDFs are made off the user-interface thread: the dialog shows the step, takes Cancel
// and refuses to close while the converter works; Cancel then sends nothing and leaves no file.
void TestBulkSend::cancelWhileTheDocumentsAreMadeSendsNothing() {
    QTemporaryDir temp;
    const QByteArray savedTemp = qgetenv("TMPDIR");
    qputenv("TMPDIR", QFile::encodeName(temp.path()));
    const QString letter = book("letter.docx");
    QProcess python;
    python.start(QStringLiteral(TW_PYTHON), {QStringLiteral("-c"),
                                             QStringLiteral("import docx,sys\nd=docx.Document()\n"
                                                            "d.add_paragraph('Dear NAME')\nd.save(sys.argv[1])"),
                                             letter});
    QVERIFY(python.waitForFinished(60000) && python.exitCode() == 0);
    h->progress.setJobSource([this, letter] {
        BulkJob job = h->job();
        job.personal.documentTemplate = letter;
        return job;
    });
    h->intervalMs = 20;
    int ticksWhileMaking = 0;
    bool stillOpenAfterClose = false;
    QString status;
    QTimer during;
    QObject::connect(&during, &QTimer::timeout, [&] {
        if (!h->progress.sending() || !QDir(temp.path()).entryList({"tallyweave-documents-*"}, QDir::Dirs).size())
            return;
        if (++ticksWhileMaking == 10) {
            status = h->progress.Label1->text();
            QTest::mouseClick(h->progress.ButtonCancel, Qt::LeftButton);
            h->progress.close();
            stillOpenAfterClose = h->progress.isVisible();
        }
    });
    during.start(20);
    h->runCommand(book("twenty.xlsx"), 1, 1, {"NAME=B"});
    qputenv("TMPDIR", savedTemp);
    QVERIFY2(ticksWhileMaking >= 10, "the window did not handle events while the documents were made");
    QCOMPARE(status, QStringLiteral("BulkProgressForm.String15"));
    QVERIFY2(stillOpenAfterClose, "closed while the documents were made");
    QVERIFY(!h->progress.isVisible());
    QVERIFY(h->prompter.calls.isEmpty());
    QCOMPARE(h->report.lineCount(), 0);
    QCOMPARE(received(m_mailbox.path()).size(), 0);
    QCOMPARE(QDir(temp.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList());
}

void TestBulkSend::aDocumentThatCannotBeMadeEndsTheRunFirst() {
    const QString notes = book("notes.docx");
    QFile file(notes);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("plain text, not a document\n");
    file.close();
    h->progress.setJobSource([this, notes] {
        BulkJob job = h->job();
        job.personal.documentTemplate = notes;
        job.personal.documentFormat = PersonalMail::DocumentFormat::Docx;
        return job;
    });
    h->intervalMs = 0;
    h->runCommand(book("two.xlsx"), 1, 1, {"NAME=B"});
    QCOMPARE(h->messages(), QStringList{"BulkProgressForm.String16"});
    QVERIFY2(h->prompter.calls.first().detail.contains(notes), qPrintable(h->prompter.calls.first().detail));
    QCOMPARE(h->report.lineCount(), 0);
    QCOMPARE(received(m_mailbox.path()).size(), 0);
}

// A second start of the same mailing asks before anything goes: with a row left (refused by the
// server) Yes sends to it alone and No to everyone again; with every row through, No sends nothing
// and Yes sends the whole mailing again.
void TestBulkSend::aMailingRunBeforeIsAskedAbout_data() {
    QTest::addColumn<QString>("workbook");
    QTest::addColumn<bool>("answer");
    QTest::addColumn<QString>("question");
    QTest::addColumn<QStringList>("sentAgain");
    QTest::addColumn<QList<int>>("images");
    QTest::newRow("a row left, Yes: that row alone")
        << "people.xlsx" << true << "BulkProgressForm.String10" << QStringList{} << QList<int>{ImageFailure};
    QTest::newRow("a row left, No: every row again")
        << "people.xlsx" << false << "BulkProgressForm.String10"
        << QStringList{"ann@example.org", "dee@example.org"}
        << QList<int>{ImageProcessed, ImageFailure, ImageProcessed};
    QTest::newRow("every row through, No: nothing")
        << "two.xlsx" << false << "BulkProgressForm.String12" << QStringList{} << QList<int>{};
    QTest::newRow("every row through, Yes: the whole mailing again")
        << "two.xlsx" << true << "BulkProgressForm.String12" << QStringList{"fay@example.org", "gus@example.org"}
        << QList<int>{ImageProcessed, ImageProcessed};
}

void TestBulkSend::aMailingRunBeforeIsAskedAbout() {
    QFETCH(QString, workbook);
    QFETCH(bool, answer);
    QFETCH(QString, question);
    QFETCH(QStringList, sentAgain);
    QFETCH(QList<int>, images);
    QFile::remove(SendJournal::defaultPath());
    h->intervalMs = 0;
    h->runCommand(book(workbook), 1, 1, {"NAME=B"});
    QVERIFY2(!h->messages().contains(question), "a first run asks nothing");
    clearMailbox();

    h = std::make_unique<Harness>();
    h->setServer(m_port);
    h->intervalMs = 0;
    h->prompter.answers.enqueue(answer);
    h->runCommand(book(workbook), 1, 1, {"NAME=B"});
    QCOMPARE(h->prompter.calls.value(0).kind, FakePrompter::Kind::Question);
    QCOMPARE(h->prompter.calls.value(0).text, question);
    QStringList to;
    for (const Received& one : received(m_mailbox.path()))
        to << one.to;
    QCOMPARE(to, sentAgain);
    QCOMPARE(h->images(), images);
}

// The dialog's pace sets the pause before each message; its limit ends the run, and the journal
// lets a later run go on with the rows left, so that every recipient gets one message.
void TestBulkSend::thePaceAndTheLimitOfTheDialogRuleTheRun() {
    QFile::remove(SendJournal::defaultPath());
    h->runCommand(book("people.xlsx"), 1, 1, {"NAME=B"}, 600, 2);
    QCOMPARE(h->progress.Timer1->interval(), 100);
    QCOMPARE(h->messages(), QStringList{"BulkProgressForm.String18\n\nleft out: 2"});
    QCOMPARE(h->images(), (QList<int>{ImageProcessed, ImageFailure}));
    QStringList to;
    for (const Received& one : received(m_mailbox.path()))
        to << one.to;
    QCOMPARE(to, QStringList{"ann@example.org"});
    clearMailbox();

    h = std::make_unique<Harness>();
    h->setServer(m_port);
    h->prompter.answers.enqueue(true); // go on with the rows not sent to
    h->runCommand(book("people.xlsx"), 1, 1, {"NAME=B"}, 600, 2);
    QCOMPARE(h->prompter.calls.value(0).text, QStringLiteral("BulkProgressForm.String10"));
    to.clear();
    for (const Received& one : received(m_mailbox.path()))
        to << one.to;
    QCOMPARE(to, QStringList{"dee@example.org"}); // the refused row is tried again and refused again
    QCOMPARE(h->images(), (QList<int>{ImageFailure, ImageProcessed}));
}

QTEST_MAIN(TestBulkSend)
#include "tst_bulksend.moc"
