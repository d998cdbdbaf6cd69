// Each row's own document in tallyweave-batch bulk and outlook: the PDF or .docx every recipient
// gets, read back from the message by Python's email package, poppler and python-docx; the
// refusals before anything is sent; and the temporary folder gone once the run is over.
#include "docx/docxfixture.h"
#include "mail/journal.h"
#include "mail/mailfixture.h"
#include "mail/mailsettings.h"

#include <QtTest>

using mailfixture::MailServer;

namespace {

struct BatchResult {
    int code = -1;
    QString out;
    QString err;
};

// One attachment of a message: its name and its bytes.
struct Part {
    QString filename;
    QByteArray data;
};

QList<Part> attachmentsOf(const QJsonObject& message) {
    QList<Part> parts;
    for (const QJsonValue& part : message.value(QStringLiteral("parts")).toArray()) {
        const QJsonObject p = part.toObject();
        if (p.value(QStringLiteral("disposition")).toString() == QLatin1String("attachment"))
            parts.append({p.value(QStringLiteral("filename")).toString(), mailfixture::fromBase64(p.value("data"))});
    }
    return parts;
}

} // namespace

class TestBatchDocuments : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void bulkAttachesEachRowsPdf();
    void bulkAttachesEachRowsDocxUnderItsName();
    void outlookSavesEachRowsDocument();
    void refusedBeforeAnythingIsSent_data();
    void refusedBeforeAnythingIsSent();

private:
    QString at(const QString& name) const { return m_dir.filePath(name); }
    BatchResult batch(const QString& mode, const QStringList& args, const QStringList& environment = {}) {
        QFile::remove(SendJournal::defaultPath());
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("TMPDIR"), m_temp->path());
        env.insert(QStringLiteral("MAILDIR"), at(QStringLiteral("Maildir")));
        for (const QString& setting : environment)
            env.insert(setting.section(u'=', 0, 0), setting.section(u'=', 1));
        QProcess process;
        process.setProcessEnvironment(env);
        process.start(qEnvironmentVariable("TALLYWEAVE_BATCH"), QStringList{mode} + args);
        if (!process.waitForFinished(300000))
            return {};
        return {process.exitCode(), QString::fromUtf8(process.readAllStandardOutput()),
                QString::fromUtf8(process.readAllStandardError())};
    }
    // Whatever a run left in the temporary folder.
    QStringList leftInTemp() const {
        return QDir(m_temp->path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    }
    QStringList mailArgs(const QString& name) const {
        return {"--source", at("book.csv"), "--subject", "Your letter", "--body-file", at("body.txt"), "--pair",
                "B:<name>", "--pair", "C:<code>", "--document-template", at("letter.docx"), "--document-name", name};
    }

    QTemporaryDir m_dir;
    std::unique_ptr<QTemporaryDir> m_temp;
    MailServer m_server;
};

void TestBatchDocuments::initTestCase() {
    QVERIFY(!qEnvironmentVariable("TALLYWEAVE_BATCH").isEmpty());
    const QString error = m_server.start(m_dir.path(), {"plain:plain"});
    QVERIFY2(error.isEmpty(), qPrintable(error));
    saveMailServerFields(SettingsStore(), MailServerFields{"me@example.org", "127.0.0.1",
                                                           QString::number(m_server.port("plain")), "me", "pw",
                                                           false});
    mailfixture::writeFile(at("book.csv"), "ann@example.org,Ann,A1\n"
                                            "no address,Nobody,N2\n"
                                            "bob@example.org,Bob,\n"
                                            "ann.b@example.org,Ann,A4\n");
    mailfixture::writeFile(at("body.txt"), "Dear <name>,\nyour letter is attached.\n");
    mailfixture::writeFile(at("terms.txt"), "Terms\r\n");
    const QString made = docxfixture::runScript(
        {QStringLiteral("plain-template"), at("letter.docx"), QStringLiteral("Dear <NAME>, your code is <Code>.")});
    QVERIFY2(made.isEmpty(), qPrintable(made));
}

void TestBatchDocuments::init() {
    m_server.clear();
    m_temp = std::make_unique<QTemporaryDir>();
    QVERIFY(m_temp->isValid());
}

// The default: a PDF named after the template and the row, after the files every message gets.
void TestBatchDocuments::bulkAttachesEachRowsPdf() {
    const BatchResult result =
        batch("bulk", mailArgs(QString()) + QStringList{"--attach", at("terms.txt"), "--interval-ms", "0"});
    QCOMPARE(result.code, 0);
    QCOMPARE(result.out.split(u'\n'), (QStringList{"0\tann@example.org\tAnn\tA1\t", "0\tbob@example.org\tBob\t-\t",
                                                   "0\tann.b@example.org\tAnn\tA4\t",
                                                   "records 3, null values 0, failures 0", ""}));
    const QList<MailServer::Received> received = m_server.received();
    QCOMPARE(received.size(), 3);
    const QStringList names{"letter-1.pdf", "letter-3.pdf", "letter-4.pdf"};
    const QStringList texts{"Dear Ann, your code is A1.", "Dear Bob, your code is -.", "Dear Ann, your code is A4."};
    for (int i = 0; i < 3; ++i) {
        QString error;
        const QJsonObject message = mailfixture::readMessage(received[i].path, &error);
        QVERIFY2(error.isEmpty(), qPrintable(error));
        QCOMPARE(message.value("defects").toArray(), QJsonArray());
        const QList<Part> attached = attachmentsOf(message);
        QCOMPARE(attached.size(), 2);
        QCOMPARE(attached[0].filename, QStringLiteral("terms.txt"));
        QCOMPARE(attached[1].filename, names[i]);
        const QString pdf = at(QStringLiteral("received-%1.pdf").arg(i));
        mailfixture::writeFile(pdf, attached[1].data);
        const docxfixture::PdfReading reading = docxfixture::readPdf(pdf);
        QVERIFY2(reading.error.isEmpty(), qPrintable(reading.error));
        QCOMPARE(reading.pages, 1);
        QVERIFY2(reading.text.contains(texts[i]), qPrintable(reading.text));
    }
    QCOMPARE(leftInTemp(), QStringList());
}

// Two rows whose documents share a name each get their own, read back by python-docx.
void TestBatchDocuments::bulkAttachesEachRowsDocxUnderItsName() {
    const BatchResult result = batch("bulk", mailArgs("Letter for <name>: <code>") +
                                                 QStringList{"--document-format", "DOCX", "--interval-ms", "0"});
    QCOMPARE(result.code, 0);
    const QList<MailServer::Received> received = m_server.received();
    QCOMPARE(received.size(), 3);
    const QStringList names{"Letter for Ann_ A1.docx", "Letter for Bob_ -.docx", "Letter for Ann_ A4.docx"};
    const QStringList texts{"Dear Ann, your code is A1.", "Dear Bob, your code is -.", "Dear Ann, your code is A4."};
    QStringList files;
    for (int i = 0; i < 3; ++i) {
        const QList<Part> attached = attachmentsOf(mailfixture::readMessage(received[i].path));
        QCOMPARE(attached.size(), 1);
        QCOMPARE(attached[0].filename, names[i]);
        files << mailfixture::writeFile(at(QStringLiteral("received-%1.docx").arg(i)), attached[0].data);
    }
    QString error;
    const QJsonObject read = docxfixture::readDocuments(files, &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    for (int i = 0; i < 3; ++i)
        QCOMPARE(docxfixture::texts(read.value(files[i]).toObject().value("paragraphs")), QStringList{texts[i]});
    QCOMPARE(leftInTemp(), QStringList());
}

void TestBatchDocuments::outlookSavesEachRowsDocument() {
    QDir(at("Maildir")).removeRecursively();
    const BatchResult result =
        batch("outlook", QStringList{"--save"} + mailArgs("<name> <code>") + QStringList{"--document-format", "docx"});
    QCOMPARE(result.code, 0);
    const QDir outbox(at("Maildir/.Outbox/new"));
    const QStringList saved = outbox.entryList(QDir::Files, QDir::Name);
    QCOMPARE(saved.size(), 3);
    QStringList names;
    for (const QString& file : saved) {
        const QList<Part> attached = attachmentsOf(mailfixture::readMessage(outbox.filePath(file)));
        QCOMPARE(attached.size(), 1);
        names << attached[0].filename;
    }
    names.sort();
    QCOMPARE(names, (QStringList{"Ann A1.docx", "Ann A4.docx", "Bob -.docx"}));
    QCOMPARE(leftInTemp(), QStringList());
}

void TestBatchDocuments::refusedBeforeAnythingIsSent_data() {
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QStringList>("extra");
    QTest::addColumn<bool>("withOffice");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("cause");
    const QStringList docx{"--document-format", "docx"};
    QTest::newRow("bulk: a template that does not exist")
        << "bulk" << QStringList{"--document-template", "gone.docx"} << true << 1 << "gone.docx";
    QTest::newRow("outlook: a template that does not exist")
        << "outlook" << QStringList{"--document-template", "gone.docx"} << true << 1 << "gone.docx";
    QTest::newRow("bulk: PDF documents without LibreOffice") << "bulk" << QStringList{} << false << 1 << "LibreOffice";
    QTest::newRow("outlook: PDF documents without LibreOffice")
        << "outlook" << QStringList{} << false << 1 << "LibreOffice";
    QTest::newRow("bulk: a template that is no document")
        << "bulk" << QStringList{"--document-template", "body.txt"} + docx << true << 1 << "body.txt";
    QTest::newRow("outlook: a template that is no document")
        << "outlook" << QStringList{"--document-template", "body.txt"} + docx << true << 1 << "body.txt";
    QTest::newRow("bulk: a format of its own") << "bulk" << QStringList{"--document-format", "odt"} << true << 2
                                               << "--document-format";
    QTest::newRow("outlook: a format of its own")
        << "outlook" << QStringList{"--document-format", "rtf"} << true << 2 << "--document-format";
}

void TestBatchDocuments::refusedBeforeAnythingIsSent() {
    QFETCH(QString, mode);
    QFETCH(QStringList, extra);
    QFETCH(bool, withOffice);
    QFETCH(QString, cause);
    QDir(at("Maildir")).removeRecursively();
    QStringList args = (mode == QLatin1String("outlook") ? QStringList{"--save"} : QStringList{}) + mailArgs({});
    for (qsizetype i = 0; i + 1 < extra.size(); i += 2) {
        const QString value = extra[i + 1].endsWith(QLatin1String(".docx")) || extra[i + 1].endsWith(QLatin1String(".txt"))
                                  ? at(extra[i + 1])
                                  : extra[i + 1];
        const qsizetype existing = args.indexOf(extra[i]);
        if (existing >= 0)
            args[existing + 1] = value;
        else
            args << extra[i] << value;
    }
    QTemporaryDir empty;
    const BatchResult result =
        batch(mode, args, withOffice ? QStringList{} : QStringList{QStringLiteral("PATH=") + empty.path()});
    QTEST(result.code, "code");
    QVERIFY2(result.err.contains(cause), qPrintable(result.err));
    QCOMPARE(result.out, QString());
    QVERIFY(m_server.received().isEmpty());
    QVERIFY(!QFileInfo::exists(at("Maildir/.Outbox/new")) || QDir(at("Maildir/.Outbox/new")).isEmpty());
    QCOMPARE(leftInTemp(), QStringList());
}

QTEST_GUILESS_MAIN(TestBatchDocuments)
#include "tst_batchdocuments.moc"
