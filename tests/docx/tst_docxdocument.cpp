// Whole documents: which files open as templates (by content, through LibreOffice for .doc and
// .odt), headers and footers, joined documents as python-docx reads them, saves that fail
// without leaving anything behind, and templates that stay as they were.
#include "docx/docxfixture.h"
#include "office/workbook.h"
#include "office/docxdocument.h"
#include "office/zipfile.h"

#include <QTemporaryDir>
#include <QtTest>

using namespace docxfixture;

namespace {

const QString kName = QStringLiteral("«NAME»");
const QString kCity = QStringLiteral("«CITY»");

} // namespace

class TestDocxDocument : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void templateKinds_data();
    void templateKinds();
    void convertedTemplateWithoutLibreOfficeSaysSo();
    void wholeDocumentReplacesInHeadersAndFooters();
    void joinedDocument_data();
    void joinedDocument();
    void sectionsKeepThePageAndTheHeadersOwnParts();
    void joinedDocumentOfNoRecordOpens();
    void failedSaveLeavesNothing();
    void templateIsLeftAsItWas();
    void templateSavedAsDocumentSaysDocument();

private:
    QString fixture(const QString& name) const { return m_fixtures.filePath(name); }
    QTemporaryDir m_fixtures;
};

void TestDocxDocument::initTestCase() {
    QVERIFY(m_fixtures.isValid());
    QVERIFY2(haveOffice(), "LibreOffice Writer (scripts/deps.sh test) makes and reads fixtures");
    const QString profile = fixture(QStringLiteral("profile"));
    const QList<QStringList> makers = {
        {QStringLiteral("python-template"), fixture(QStringLiteral("python.docx"))},
        {QStringLiteral("sections-template"), fixture(QStringLiteral("sections.docx"))},
        {QStringLiteral("odt-template"), fixture(QStringLiteral("writer.odt")), profile},
        {QStringLiteral("doc-template"), fixture(QStringLiteral("writer.doc")), profile},
        {QStringLiteral("as-dotx"), fixture(QStringLiteral("python.docx")), fixture(QStringLiteral("python.dotx"))},
    };
    for (const QStringList& args : makers) {
        const QString error = runScript(args);
        QVERIFY2(error.isEmpty(), qPrintable(error));
    }
    QVERIFY(writeBook(fixture(QStringLiteral("book.xlsx")), QJsonArray{QJsonArray{"a"}}).isEmpty());
    QFile text(fixture(QStringLiteral("notes.txt")));
    QVERIFY(text.open(QIODevice::WriteOnly));
    text.write("Dear «NAME»\n");
    text.close();
    QFile(fixture(QStringLiteral("empty"))).open(QIODevice::WriteOnly);
    // A package whose main part is cut short.
    QFile::copy(fixture(QStringLiteral("python.docx")), fixture(QStringLiteral("damaged.docx")));
    {
        int code = 0;
        zip_t* zip = zip_open(QFile::encodeName(fixture(QStringLiteral("damaged.docx"))).constData(), 0, &code);
        QVERIFY(zip);
        static const char cut[] = "<?xml version=\"1.0\"?><w:document xmlns:w=\"x\"><w:body><w:p>";
        zip_source_t* source = zip_source_buffer(zip, cut, sizeof cut - 1, 0);
        QVERIFY(zip_file_add(zip, "word/document.xml", source, ZIP_FL_OVERWRITE) >= 0);
        QCOMPARE(zip_close(zip), 0);
    }
}

void TestDocxDocument::templateKinds_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("cause"); // empty: opens, and «NAME» in its first line is replaced
    QTest::newRow("a package under a name of another kind") << "python.docx" << "letter.txt" << "";
    QTest::newRow("an OpenDocument text, through the converter") << "writer.odt" << "letter.odt" << "";
    QTest::newRow("a legacy .doc, through the converter") << "writer.doc" << "letter.doc" << "";
    QTest::newRow("an OpenDocument text named .docx is still converted") << "writer.odt" << "odt.docx" << "";
    QTest::newRow("a workbook package is no document")
        << "book.xlsx" << "book.docx" << "not a word-processing document";
    QTest::newRow("plain text is no document") << "notes.txt" << "notes.docx" << "not a word-processing document";
    QTest::newRow("an empty file is no document") << "empty" << "empty.docx" << "not a word-processing document";
    QTest::newRow("a missing file") << "" << "missing.docx" << "cannot read";
    QTest::newRow("a damaged main part: the part and the byte are named")
        << "damaged.docx" << "damaged.docx" << "word/document.xml: malformed XML at byte";
}

void TestDocxDocument::templateKinds() {
    QFETCH(QString, file);
    QFETCH(QString, name);
    QFETCH(QString, cause);
    QTemporaryDir dir;
    const QString path = dir.filePath(name);
    if (!file.isEmpty())
        QVERIFY(QFile::copy(fixture(file), path));
    const QString out = dir.filePath(QStringLiteral("out.docx"));
    try {
        const docx::DocxTemplate tpl(path);
        docx::DocxDocument doc(tpl, docx::DocxDocument::Scope::Whole);
        QVERIFY(doc.replaceAll(kName, QStringLiteral("Ann")) > 0);
        doc.saveAs(out);
        QVERIFY2(cause.isEmpty(), "the file was expected to be refused");
    } catch (const WorkbookError& error) {
        QVERIFY2(!cause.isEmpty(), qPrintable(error.cause()));
        QVERIFY2(error.cause().contains(cause), qPrintable(error.cause()));
        QVERIFY2(error.cause().contains(name), "the cause names the file");
        return;
    }
    QString error;
    const QJsonObject read = readDocuments({out}, &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    const QStringList paragraphs = texts(read.value(out).toObject().value(QStringLiteral("paragraphs")));
    QVERIFY2(paragraphs.join(u'|').contains(QStringLiteral("Dear Ann,")), qPrintable(paragraphs.join(u'|')));
}

void TestDocxDocument::convertedTemplateWithoutLibreOfficeSaysSo() {
    QTemporaryDir empty;
    const PathOverride path(QFile::encodeName(empty.path()));
    try {
        const docx::DocxTemplate tpl(fixture(QStringLiteral("writer.odt")));
        QFAIL("an .odt template opened without LibreOffice");
    } catch (const WorkbookError& error) {
        QVERIFY2(error.cause().contains(QStringLiteral("LibreOffice")), qPrintable(error.cause()));
        QVERIFY2(error.cause().contains(QStringLiteral(".docx")), "the cause says that .docx works without it");
    }
    // A .docx template needs no converter.
    const docx::DocxTemplate tpl(fixture(QStringLiteral("python.docx")));
}

void TestDocxDocument::wholeDocumentReplacesInHeadersAndFooters() {
    QTemporaryDir dir;
    const QString out = dir.filePath(QStringLiteral("whole.docx"));
    const docx::DocxTemplate tpl(fixture(QStringLiteral("python.docx")));
    docx::DocxDocument doc(tpl, docx::DocxDocument::Scope::Whole);
    doc.replaceAll(kName, QStringLiteral("Ann"));
    doc.replaceAll(kCity, QStringLiteral("Roma"));
    doc.saveAs(out);
    QString error;
    const QJsonObject read = readDocuments({out}, &error).value(out).toObject();
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QCOMPARE(texts(read.value(QStringLiteral("header"))), QStringList{"Letter for Ann"});
    QCOMPARE(texts(read.value(QStringLiteral("footer"))), QStringList{"Roma office"});
    QCOMPARE(texts(read.value(QStringLiteral("boxes"))), (QStringList{"Box Ann", "Box Ann"}));
    QCOMPARE(texts(read.value(QStringLiteral("cells"))), (QStringList{"Cell Roma", "\n", "Inner Ann"}));
}

void TestDocxDocument::joinedDocument_data() {
    QTest::addColumn<docx::Separator>("separator");
    QTest::newRow("paragraphs: the records share pages and the template's header")
        << docx::Separator::Paragraph;
    QTest::newRow("page breaks: each record a section with its own header and footer")
        << docx::Separator::PageBreak;
}

void TestDocxDocument::joinedDocument() {
    QFETCH(docx::Separator, separator);
    const bool sections = separator == docx::Separator::PageBreak;
    QTemporaryDir dir;
    const QString out = dir.filePath(QStringLiteral("joined.docx"));
    const QString templatePath = fixture(QStringLiteral("python.docx"));
    const docx::DocxTemplate tpl(templatePath);
    const QStringList names = {QStringLiteral("Ann"), QStringLiteral("Bob"), QStringLiteral("Cy")};
    {
        docx::DocxJoiner joiner(tpl, separator, out);
        for (const QString& name : names) {
            docx::DocxDocument record(tpl, docx::DocxDocument::Scope::MainText);
            record.replaceAll(kName, name);
            record.replaceAll(kCity, name + QStringLiteral("ville"));
            joiner.append(record);
        }
        joiner.save();
    }
    QCOMPARE(filesIn(dir.path()), QStringList{"joined.docx"});

    QString error;
    const QJsonObject read = readDocuments({out}, &error).value(out).toObject();
    QVERIFY2(error.isEmpty(), qPrintable(error));
    const QStringList paragraphs = texts(read.value(QStringLiteral("paragraphs")));
    QCOMPARE(paragraphs.count(QStringLiteral("Dear Ann,")), 1);
    QVERIFY(paragraphs.indexOf(QStringLiteral("Dear Ann,")) < paragraphs.indexOf(QStringLiteral("Dear Bob,")));
    QVERIFY(paragraphs.indexOf(QStringLiteral("Dear Bob,")) < paragraphs.indexOf(QStringLiteral("Dear Cy,")));
    // Each record ends with "The end."; paragraphs follow it with an empty paragraph, sections end
    // every record but the last with an empty paragraph holding the section's end.
    QCOMPARE(paragraphs.count(QStringLiteral("The end.")), 3);
    QCOMPARE(paragraphs.last(), sections ? QStringLiteral("The end.") : QString());
    for (qsizetype i = 0; i + 1 < paragraphs.size(); ++i)
        if (paragraphs[i] == QLatin1String("The end."))
            QCOMPARE(paragraphs.value(i + 1), QString());
    QCOMPARE(read.value(QStringLiteral("pageBreaks")).toInt(), 0);
    const QJsonArray readSections = read.value(QStringLiteral("sections")).toArray();
    if (sections) {
        QCOMPARE(readSections.size(), 3);
        for (int i = 0; i < 3; ++i) {
            const QJsonObject section = readSections[i].toObject();
            QCOMPARE(section.value(QStringLiteral("header")).toString(), QStringLiteral("Letter for ") + names[i]);
            QCOMPARE(section.value(QStringLiteral("footer")).toString(), names[i] + QStringLiteral("ville office"));
        }
    } else {
        QCOMPARE(readSections.size(), 1);
        QCOMPARE(texts(read.value(QStringLiteral("header"))), QStringList{"Letter for «NAME»"});
    }

    QByteArray checked;
    QVERIFY(runScript({QStringLiteral("check"), out}, &checked).isEmpty());
    const QJsonObject check = QJsonDocument::fromJson(checked).object();
    for (const char* key : {"bookmarkNames", "bookmarkIds", "paraIds", "drawingIds"})
        QVERIFY2(check.value(QLatin1String(key)).toArray().isEmpty(),
                 qPrintable(QStringLiteral("%1 repeated: %2")
                                .arg(QLatin1String(key), QString::fromUtf8(QJsonDocument(check).toJson()))));
    QCOMPARE(check.value(QStringLiteral("sectionsAtEnd")).toInt(), 1);
    QCOMPARE(check.value(QStringLiteral("bodySections")).toInt(), 1);
    QCOMPARE(check.value(QStringLiteral("images")).toInt(), 3);

    // Everything but the main text, and with sections the headers, footers and what names them,
    // comes over as stored; sections add two parts (a header and a footer) per record after the first.
    const ZipArchive before(templatePath), after(out);
    QCOMPARE(after.entryCount(), before.entryCount() + (sections ? 4 : 0));
    const QStringList changing = sections ? QStringList{"word/document.xml", "word/header1.xml", "word/footer1.xml",
                                                        "word/_rels/document.xml.rels", "[Content_Types].xml"}
                                          : QStringList{"word/document.xml"};
    for (qint64 i = 0; i < before.entryCount(); ++i) {
        const QString part = before.entryName(i);
        if (!changing.contains(part))
            QVERIFY2(after.read(part) == before.read(part), qPrintable(part));
    }
}

void TestDocxDocument::sectionsKeepThePageAndTheHeadersOwnParts() {
    QTemporaryDir dir;
    const QString templatePath = fixture(QStringLiteral("sections.docx"));
    const QString out = dir.filePath(QStringLiteral("joined.docx"));
    const docx::DocxTemplate tpl(templatePath);
    {
        docx::DocxJoiner joiner(tpl, docx::Separator::PageBreak, out);
        for (const QString& name : {QStringLiteral("Ann"), QStringLiteral("Bob")}) {
            docx::DocxDocument record(tpl, docx::DocxDocument::Scope::MainText);
            record.replaceAll(kName, name);
            joiner.append(record);
        }
        joiner.save();
    }
    QString error;
    const QJsonObject read = readDocuments({templatePath, out}, &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    const QJsonObject page = read.value(templatePath)[QStringLiteral("sections")][0].toObject();
    const QJsonArray joined = read.value(out)[QStringLiteral("sections")].toArray();
    QCOMPARE(joined.size(), 2);
    for (const QJsonValue& section : joined) {
        QCOMPARE(section[QStringLiteral("pageWidth")], page.value(QStringLiteral("pageWidth")));
        QCOMPARE(section[QStringLiteral("orientation")], page.value(QStringLiteral("orientation")));
    }
    QCOMPARE(joined[0][QStringLiteral("header")].toString(), QStringLiteral("Header for Ann"));
    QCOMPARE(joined[1][QStringLiteral("header")].toString(), QStringLiteral("Header for Bob"));
    // The header's picture: each copy of the header has its relationships, leading to the image.
    QByteArray checked;
    QVERIFY(runScript({QStringLiteral("header-images"), out}, &checked).isEmpty());
    QCOMPARE(QJsonDocument::fromJson(checked).array(), (QJsonArray{1, 1}));
}

void TestDocxDocument::joinedDocumentOfNoRecordOpens() {
    QTemporaryDir dir;
    const QString out = dir.filePath(QStringLiteral("none.docx"));
    const docx::DocxTemplate tpl(fixture(QStringLiteral("python.docx")));
    docx::DocxJoiner joiner(tpl, docx::Separator::PageBreak, out);
    joiner.save();
    QString error;
    const QJsonObject read = readDocuments({out}, &error).value(out).toObject();
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QCOMPARE(texts(read.value(QStringLiteral("paragraphs"))), QStringList{""});
    QCOMPARE(texts(read.value(QStringLiteral("cells"))), QStringList{});
}

void TestDocxDocument::failedSaveLeavesNothing() {
    QTemporaryDir dir;
    const docx::DocxTemplate tpl(fixture(QStringLiteral("python.docx")));
    // A folder where the document should go: the rename into place fails.
    const QString blocked = dir.filePath(QStringLiteral("blocked.docx"));
    QVERIFY(QDir().mkpath(blocked + QStringLiteral("/inside")));
    try {
        docx::DocxDocument doc(tpl, docx::DocxDocument::Scope::Whole);
        doc.saveAs(blocked);
        QFAIL("saving over a folder succeeded");
    } catch (const WorkbookError& error) {
        QVERIFY2(error.cause().contains(QStringLiteral("blocked.docx")), qPrintable(error.cause()));
    }
    try {
        docx::DocxJoiner joiner(tpl, docx::Separator::Paragraph, blocked);
        docx::DocxDocument record(tpl, docx::DocxDocument::Scope::MainText);
        joiner.append(record);
        joiner.save();
        QFAIL("saving a joined document over a folder succeeded");
    } catch (const WorkbookError& error) {
        QVERIFY2(error.cause().contains(QStringLiteral("blocked.docx")), qPrintable(error.cause()));
    }
    QCOMPARE(filesIn(dir.path()), QStringList{"blocked.docx"});
    // An unsaved join takes its stream with it.
    {
        docx::DocxJoiner joiner(tpl, docx::Separator::Paragraph, dir.filePath(QStringLiteral("unsaved.docx")));
        docx::DocxDocument record(tpl, docx::DocxDocument::Scope::MainText);
        joiner.append(record);
        QCOMPARE(filesIn(dir.path()).size(), 2);
    }
    QCOMPARE(filesIn(dir.path()), QStringList{"blocked.docx"});
    // A folder that does not exist.
    try {
        docx::DocxJoiner joiner(tpl, docx::Separator::Paragraph, dir.filePath(QStringLiteral("no/such/out.docx")));
        QFAIL("a join into a missing folder started");
    } catch (const WorkbookError& error) {
        QVERIFY2(error.cause().contains(QStringLiteral("no/such")), qPrintable(error.cause()));
    }
}

void TestDocxDocument::templateIsLeftAsItWas() {
    QTemporaryDir dir;
    for (const QString& name : {QStringLiteral("python.docx"), QStringLiteral("writer.odt")}) {
        const QString path = fixture(name);
        const QByteArray before = digest(path);
        {
            const docx::DocxTemplate tpl(path);
            docx::DocxDocument doc(tpl, docx::DocxDocument::Scope::Whole);
            doc.replaceAll(kName, QStringLiteral("Ann"));
            doc.saveAs(dir.filePath(QStringLiteral("a.docx")));
            docx::DocxJoiner joiner(tpl, docx::Separator::PageBreak, dir.filePath(QStringLiteral("b.docx")));
            docx::DocxDocument record(tpl, docx::DocxDocument::Scope::MainText);
            joiner.append(record);
            joiner.save();
        }
        QCOMPARE(digest(path), before);
        QCOMPARE(QDir(m_fixtures.path()).entryList({QStringLiteral(".*")}, QDir::Files | QDir::Hidden), QStringList{});
    }
}

void TestDocxDocument::templateSavedAsDocumentSaysDocument() {
    QTemporaryDir dir;
    const QString out = dir.filePath(QStringLiteral("from-template.docx"));
    const QString joined = dir.filePath(QStringLiteral("joined.docx"));
    const docx::DocxTemplate tpl(fixture(QStringLiteral("python.dotx")));
    docx::DocxDocument doc(tpl, docx::DocxDocument::Scope::Whole);
    doc.saveAs(out);
    docx::DocxJoiner joiner(tpl, docx::Separator::Paragraph, joined);
    docx::DocxDocument record(tpl, docx::DocxDocument::Scope::MainText);
    joiner.append(record);
    joiner.save();
    // python-docx refuses a package whose main part is typed as a template.
    QString error;
    const QJsonObject read = readDocuments({out, joined}, &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QCOMPARE(read.size(), 2);
}

QTEST_GUILESS_MAIN(TestDocxDocument)
#include "tst_docxdocument.moc"
