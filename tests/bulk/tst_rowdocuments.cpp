// Each row's own document for the mail modes: the names it is attached under, the documents as
// python-docx and poppler read them, the private folder gone however the making ends, and rows
// an earlier run of the mailing got through left without one.
#include "merge/bulk/bulkrun.h"
#include "merge/common/mailingjournal.h"
#include "merge/common/rowdocuments.h"
#include "docx/docxfixture.h"
#include "mail/mailfixture.h"

#include <QtTest>

using namespace docxfixture;

namespace {

const QList<LabelPair> kPairs{{2, QStringLiteral("<name>")}, {3, QStringLiteral("<code>")}};

PersonalMail personal(const QString& templatePath, PersonalMail::DocumentFormat format, const QString& name = {}) {
    PersonalMail p;
    p.documentTemplate = templatePath;
    p.documentFormat = format;
    p.documentName = name;
    return p;
}

// TMPDIR pointed at a folder of the test's own for a while, so that whatever a run leaves in the
// temporary folder is seen.
struct TempOverride {
    explicit TempOverride(const QString& path) : saved(qgetenv("TMPDIR")), had(qEnvironmentVariableIsSet("TMPDIR")) {
        qputenv("TMPDIR", QFile::encodeName(path));
    }
    ~TempOverride() {
        if (had)
            qputenv("TMPDIR", saved);
        else
            qunsetenv("TMPDIR");
    }
    QByteArray saved;
    bool had;
};

} // namespace

class TestRowDocuments : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void names_data();
    void names();
    void docxDocumentsWithoutLibreOffice();
    void pdfDocuments();
    void moreDocumentsThanOneConverterProcessTakes();
    void anOpenDocumentTemplateIsReadThroughTheConverter();
    void nothingIsKeptWhenStopped_data();
    void nothingIsKeptWhenStopped();
    void failuresNameTheirCause_data();
    void failuresNameTheirCause();
    void rowsDoneInAnEarlierRunGetNone();

private:
    QTemporaryDir m_dir;
    QString m_template;
    QString at(const QString& name) const { return m_dir.filePath(name); }
};

void TestRowDocuments::initTestCase() {
    QVERIFY(m_dir.isValid());
    m_template = at(QStringLiteral("letter.docx"));
    // The labels in capitals: the document engine finds them whatever their case.
    const QString error = runScript({QStringLiteral("plain-template"), m_template,
                                     QStringLiteral("Dear <NAME>, your code is <Code>.")});
    QVERIFY2(error.isEmpty(), qPrintable(error));
}

void TestRowDocuments::names_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("pdf");
    QTest::addColumn<QStringList>("values");
    QTest::addColumn<QString>("expected");
    const QStringList ann{"Ann", "A1"};
    QTest::newRow("no name gives the template's base name and the row number")
        << QString() << true << ann << "letter-7.pdf";
    QTest::newRow("a name of blanks counts as none") << "  \t" << false << ann << "letter-7.docx";
    QTest::newRow("labels are replaced with letter case counting, as in the subject")
        << "Invoice <code> for <name> <NAME>" << true << ann << "Invoice A1 for Ann _NAME_.pdf";
    QTest::newRow("characters unsafe in file names become underscores")
        << "<name>" << true << QStringList{"a/b\\c:d*e?f\"g|h", "x"} << "a_b_c_d_e_f_g_h.pdf";
    QTest::newRow("a leading dot hides no file") << ".<name>" << false << ann << "_Ann.docx";
    QTest::newRow("an empty value puts a dash") << "Invoice <code>" << true << QStringList{"Ann", "-"}
                                                << "Invoice -.pdf";
    QTest::newRow("the format's extension is not added twice")
        << "Invoice <name>.PDF" << true << ann << "Invoice Ann.PDF";
    QTest::newRow("another extension stays part of the name")
        << "Invoice <name>.pdf" << false << ann << "Invoice Ann.pdf.docx";
    QTest::newRow("a name that comes out empty gives the default")
        << "<name>" << true << QStringList{" ", "A1"} << "letter-7.pdf";
    QTest::newRow("a long value is cut to a name a file system takes")
        << "<name>" << false << QStringList{QString(300, u'x'), "A1"} << QString(120, u'x') + ".docx";
}

void TestRowDocuments::names() {
    QFETCH(QString, name);
    QFETCH(bool, pdf);
    QFETCH(QStringList, values);
    const RowDocuments documents(
        personal(m_template, pdf ? PersonalMail::DocumentFormat::Pdf : PersonalMail::DocumentFormat::Docx, name),
        kPairs);
    QTEST(documents.attachmentName({7, values}), "expected");
}

// Each row's .docx as python-docx reads it; two rows of the same name keep their own files. The
// converter is not needed: PATH holds no LibreOffice during the making.
void TestRowDocuments::docxDocumentsWithoutLibreOffice() {
    QTemporaryDir temp;
    const TempOverride tmp(temp.path());
    const QList<DocumentRow> rows{{2, {"Ann", "A1"}}, {3, {"Bob", "-"}}, {5, {"Ann", "A2"}}};
    QList<Attachment> attachments;
    QString folder;
    {
        RowDocuments documents(personal(m_template, PersonalMail::DocumentFormat::Docx, "Letter <name>"), kPairs);
        QList<int> done;
        RowDocuments::Outcome made;
        {
            QTemporaryDir empty;
            const PathOverride path(QFile::encodeName(empty.path()));
            made = documents.make(rows, [&](int d, int total) {
                QCOMPARE(total, 3);
                done << d;
            });
        }
        QVERIFY2(made == RowDocuments::Outcome::Made, qPrintable(documents.cause()));
        QCOMPARE(done, (QList<int>{1, 2, 3}));
        folder = documents.folder();
        QVERIFY(folder.startsWith(temp.path()));
        QCOMPARE(QFile(folder).permissions() & (QFile::ReadOther | QFile::ReadGroup), QFileDevice::Permissions());
        QString cause;
        for (const DocumentRow& row : rows)
            QVERIFY2(documents.attachTo(row.row, attachments, &cause), qPrintable(cause));
        QVERIFY(!documents.attachTo(4, attachments, &cause));
        QVERIFY2(cause.contains(QLatin1String("row 4")), qPrintable(cause));

        QCOMPARE(attachments.size(), 3);
        QCOMPARE(attachments[0].name, QStringLiteral("Letter Ann.docx"));
        QCOMPARE(attachments[1].name, QStringLiteral("Letter Bob.docx"));
        QCOMPARE(attachments[2].name, QStringLiteral("Letter Ann.docx"));
        QVERIFY(attachments[0].path != attachments[2].path);
        QStringList paths;
        for (const Attachment& a : std::as_const(attachments))
            paths << a.path;
        QString error;
        const QJsonObject read = readDocuments(paths, &error);
        QVERIFY2(error.isEmpty(), qPrintable(error));
        const QStringList expected{"Dear Ann, your code is A1.", "Dear Bob, your code is -.",
                                   "Dear Ann, your code is A2."};
        for (qsizetype i = 0; i < paths.size(); ++i)
            QCOMPARE(texts(read.value(paths[i]).toObject().value(QStringLiteral("paragraphs"))),
                     QStringList{expected[i]});
    }
    QVERIFY2(!QFileInfo::exists(folder), "the documents go with their RowDocuments");
    QCOMPARE(filesIn(temp.path()), QStringList());
}

// PDFs from one converter run: the values as poppler reads them, and nothing left behind by the
// converter either (its profile lives in the temporary folder too).
void TestRowDocuments::pdfDocuments() {
    QTemporaryDir temp;
    const TempOverride tmp(temp.path());
    {
        RowDocuments documents(personal(m_template, PersonalMail::DocumentFormat::Pdf), kPairs);
        int lastDone = -1;
        const RowDocuments::Outcome made =
            documents.make({{2, {"Ann", "A1"}}, {4, {"Bob", "-"}}}, [&](int d, int) { lastDone = d; });
        QVERIFY2(made == RowDocuments::Outcome::Made, qPrintable(documents.cause()));
        QCOMPARE(lastDone, 2);
        QList<Attachment> attachments;
        QString cause;
        QVERIFY(documents.attachTo(2, attachments, &cause) && documents.attachTo(4, attachments, &cause));
        QCOMPARE(attachments[0].name, QStringLiteral("letter-2.pdf"));
        QCOMPARE(attachments[1].name, QStringLiteral("letter-4.pdf"));
        const PdfReading ann = readPdf(attachments[0].path);
        const PdfReading bob = readPdf(attachments[1].path);
        QVERIFY2(ann.error.isEmpty() && bob.error.isEmpty(), qPrintable(ann.error + bob.error));
        QCOMPARE(ann.pages, 1);
        QVERIFY2(ann.text.contains(QLatin1String("Dear Ann, your code is A1.")), qPrintable(ann.text));
        QVERIFY2(bob.text.contains(QLatin1String("Dear Bob, your code is -.")), qPrintable(bob.text));
    }
    QCOMPARE(filesIn(temp.path()), QStringList());
}

// LibreOffice silently converts no more than about 245 files of one command line: a run of more
// rows gets every one of its PDFs all the same.
void TestRowDocuments::moreDocumentsThanOneConverterProcessTakes() {
    QList<DocumentRow> rows;
    for (int row = 1; row <= 260; ++row)
        rows.append({row, {QStringLiteral("Name%1").arg(row), QStringLiteral("C%1").arg(row)}});
    RowDocuments documents(personal(m_template, PersonalMail::DocumentFormat::Pdf), kPairs);
    const RowDocuments::Outcome made = documents.make(rows);
    QVERIFY2(made == RowDocuments::Outcome::Made, qPrintable(documents.cause()));
    QList<Attachment> attachments;
    QString cause;
    for (const DocumentRow& row : std::as_const(rows))
        QVERIFY2(documents.attachTo(row.row, attachments, &cause), qPrintable(cause));
    for (const Attachment& attachment : std::as_const(attachments))
        QVERIFY2(QFileInfo(attachment.path).size() > 0, qPrintable(attachment.path));
    for (const int n : {245, 260}) {
        const PdfReading pdf = readPdf(attachments[n - 1].path);
        QVERIFY2(pdf.text.contains(QStringLiteral("Dear Name%1, your code is C%1.").arg(n)), qPrintable(pdf.text));
    }
}

void TestRowDocuments::anOpenDocumentTemplateIsReadThroughTheConverter() {
    const QString odt = at(QStringLiteral("writer.odt"));
    const QString error = runScript({QStringLiteral("odt-template"), odt, at(QStringLiteral("profile"))});
    QVERIFY2(error.isEmpty(), qPrintable(error));
    RowDocuments documents(personal(odt, PersonalMail::DocumentFormat::Docx),
                           {{2, QStringLiteral("«name»")}, {3, QStringLiteral("«city»")}});
    QVERIFY2(documents.make({{4, {"Ann", "Oslo"}}}) == RowDocuments::Outcome::Made, qPrintable(documents.cause()));
    QList<Attachment> attachments;
    QString cause;
    QVERIFY2(documents.attachTo(4, attachments, &cause), qPrintable(cause));
    QCOMPARE(attachments[0].name, QStringLiteral("writer-4.docx"));
    QString readError;
    const QJsonObject read = readDocuments({attachments[0].path}, &readError);
    QVERIFY2(readError.isEmpty(), qPrintable(readError));
    const QStringList paragraphs = texts(read.value(attachments[0].path).toObject().value(QStringLiteral("paragraphs")));
    QVERIFY2(paragraphs.contains(QStringLiteral("Dear Ann, from Oslo.")), qPrintable(paragraphs.join(u'|')));
}

void TestRowDocuments::nothingIsKeptWhenStopped_data() {
    QTest::addColumn<bool>("pdf");
    QTest::addColumn<int>("answersBeforeStop"); // how often stop answers false first
    QTest::newRow("stopped before the first document") << false << 0;
    QTest::newRow("stopped between two documents") << false << 2;
    QTest::newRow("stopped while the converter works") << true << 4;
}

void TestRowDocuments::nothingIsKeptWhenStopped() {
    QFETCH(bool, pdf);
    QFETCH(int, answersBeforeStop);
    QTemporaryDir temp;
    const TempOverride tmp(temp.path());
    RowDocuments documents(
        personal(m_template, pdf ? PersonalMail::DocumentFormat::Pdf : PersonalMail::DocumentFormat::Docx), kPairs);
    int asked = 0;
    QElapsedTimer clock;
    clock.start();
    const RowDocuments::Outcome made = documents.make({{1, {"Ann", "A1"}}, {2, {"Bob", "B2"}}, {3, {"Cy", "C3"}}}, {},
                                                      [&] { return ++asked > answersBeforeStop; });
    QCOMPARE(made, RowDocuments::Outcome::Stopped);
    QCOMPARE(asked, answersBeforeStop + 1);
    if (pdf)
        QVERIFY2(clock.elapsed() < 60000, "a stop ends the converter at once");
    QVERIFY(documents.folder().isEmpty());
    QList<Attachment> attachments;
    QString cause;
    QVERIFY(!documents.attachTo(1, attachments, &cause));
    QVERIFY(attachments.isEmpty());
    QCOMPARE(filesIn(temp.path()), QStringList());
}

void TestRowDocuments::failuresNameTheirCause_data() {
    QTest::addColumn<QString>("templateName");
    QTest::addColumn<bool>("pdf");
    QTest::addColumn<bool>("withOffice");
    QTest::addColumn<QString>("cause");
    QTest::newRow("a template that does not exist") << "missing.docx" << false << true << "missing.docx";
    QTest::newRow("a template that is no document") << "notes.docx" << false << true << "notes.docx";
    QTest::newRow("PDF documents without LibreOffice") << "letter.docx" << true << false << "LibreOffice";
}

void TestRowDocuments::failuresNameTheirCause() {
    QFETCH(QString, templateName);
    QFETCH(bool, pdf);
    QFETCH(bool, withOffice);
    QFETCH(QString, cause);
    mailfixture::writeFile(at(QStringLiteral("notes.docx")), "plain text, not a package\n");
    const PersonalMail p =
        personal(at(templateName), pdf ? PersonalMail::DocumentFormat::Pdf : PersonalMail::DocumentFormat::Docx);
    QTemporaryDir empty;
    QTemporaryDir temp;
    const TempOverride tmp(temp.path());
    std::optional<PathOverride> path;
    if (!withOffice)
        path.emplace(QFile::encodeName(empty.path()));
    // What the batch command refuses before it starts is what the making fails with.
    const QString problem = rowDocumentsProblem(p);
    if (templateName != QLatin1String("notes.docx"))
        QVERIFY2(problem.contains(cause), qPrintable(problem));
    RowDocuments documents(p, kPairs);
    QCOMPARE(documents.make({{1, {"Ann", "A1"}}}), RowDocuments::Outcome::Failed);
    QVERIFY2(documents.cause().contains(cause), qPrintable(documents.cause()));
    QVERIFY(documents.folder().isEmpty());
    QCOMPARE(filesIn(temp.path()), QStringList());
}

// A mailing resumed: the row the journal holds as sent needs no document, and is given none.
void TestRowDocuments::rowsDoneInAnEarlierRunGetNone() {
    BulkJob job;
    job.workbookPath = mailfixture::writeFile(at(QStringLiteral("rows.csv")), "ann@example.org,Ann,A1\n"
                                                                                "not an address,Nobody,N2\n"
                                                                                "bob@example.org,Bob,B3\n");
    job.pairs = kPairs;
    job.subject = QStringLiteral("s");
    job.body = QStringLiteral("b");
    job.personal = personal(m_template, PersonalMail::DocumentFormat::Docx);
    const MailServerSettings server{"me@example.org", "127.0.0.1", 1, "", "", false};
    const QString journalPath = at(QStringLiteral("journal.sqlite"));
    QString cause;
    {
        BulkRun first(job, server);
        QCOMPARE(first.open(&cause), BulkRun::Opened::Ok);
        auto journal = MailingJournal::open(journalPath, bulkMailing(job, server), first.recipientRows(), &cause);
        QVERIFY2(journal && journal->start(MailingJournal::Choice::Resume, &cause), qPrintable(cause));
        QVERIFY2(journal->record({1, "ann@example.org"}, RowState::Sent, {}, &cause), qPrintable(cause));
    }
    BulkRun run(job, server);
    QCOMPARE(run.open(&cause), BulkRun::Opened::Ok);
    auto journal = MailingJournal::open(journalPath, bulkMailing(job, server), run.recipientRows(), &cause);
    QVERIFY2(journal && journal->start(MailingJournal::Choice::Resume, &cause), qPrintable(cause));
    run.setJournal(journal.get());
    int total = -1;
    QCOMPARE(run.makeDocuments([&](int, int t) { total = t; }, {}, &cause), RowDocuments::Outcome::Made);
    QCOMPARE(total, 1);
    // Should a caller send to that row all the same, it goes without its document: not at all.
    const std::optional<Recipient> ann = run.nextRecipient();
    QVERIFY(ann && ann->row == 1);
    const SendResult result = run.send(*ann);
    QVERIFY(!result.sent);
    QVERIFY2(result.comment.contains(QLatin1String("document of row 1")), qPrintable(result.comment));
}

QTEST_GUILESS_MAIN(TestRowDocuments)
#include "tst_rowdocuments.moc"
