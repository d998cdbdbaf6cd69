// The Excel-to-Word run on real files: records, images and counters, numbered and joined
// outputs as python-docx and LibreOffice read them, templates made by other writers, .doc and
// .odt through the converter, cancel, and failures that leave no output behind.
#include "docx/docxfixture.h"
#include "merge/word/wordmerge.h"
#include "office/docxdocument.h"

#include <QTemporaryDir>
#include <QtTest>

using namespace docxfixture;

namespace {

struct Line {
    QStringList values;
    int image;
};

class RecordingSink : public WordMergeSink {
public:
    void recordsBegin() override { began = true; }
    void recordDone(const QStringList& values, int image, int row, int lastRow) override {
        lines.append({values, image});
        rows << row;
        last = lastRow;
    }
    bool stopRequested() override { return ++asked > stopAfter; }

    bool began = false;
    QList<Line> lines;
    QList<int> rows;
    int last = 0;
    int asked = 0;
    int stopAfter = 1 << 30; // asked after opening and after each record: this many records, then stop
};

// Row 1 is a heading; the records start on row 2.
QJsonArray records() {
    return QJsonArray{
        QJsonArray{"Name", "City"},    QJsonArray{"Ann", "Roma"}, QJsonArray{"Bob", QJsonValue()},
        QJsonArray{QJsonValue(), "  "}, QJsonArray{"  Cy\t", 42},
    };
}

} // namespace

class TestWordMerge : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void numberedDocuments();
    void oneJoinedDocument();
    void numberedNames_data();
    void numberedNames();
    void outputExtension_data();
    void outputExtension();
    void fileNamesFromValues_data();
    void fileNamesFromValues();
    void namedDocumentsNeverReplaceAnInput();
    void startBeyondTheLastRow_data();
    void startBeyondTheLastRow();
    void cancel_data();
    void cancel();
    void sheetMissing();
    void failures_data();
    void failures();
    void templatesFromOtherWriters_data();
    void templatesFromOtherWriters();
    void convertedOutputs_data();
    void convertedOutputs();
    void pdfOutputs_data();
    void pdfOutputs();
    void withoutLibreOffice_data();
    void withoutLibreOffice();
    void thousandRecordsOpenInLibreOffice();
    void eachRecordsOwnHeaderInOneDocument();
    void moreDocumentsThanOneConverterTakes();

private:
    QString fixture(const QString& name) const { return m_fixtures.filePath(name); }
    QString at(const QString& name) const { return m_dir->filePath(name); }
    WordMergeSettings settings(bool oneFile, const QString& output = QStringLiteral("out.docx")) const;

    QTemporaryDir m_fixtures;
    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestWordMerge::initTestCase() {
    QVERIFY(m_fixtures.isValid());
    QVERIFY2(haveOffice(), "LibreOffice Writer (scripts/deps.sh test) makes and reads fixtures");
    const QString profile = fixture(QStringLiteral("profile"));
    for (const QStringList& args : QList<QStringList>{
             {QStringLiteral("python-template"), fixture(QStringLiteral("python.docx"))},
             {QStringLiteral("html-template"), fixture(QStringLiteral("writer.docx")), profile},
             {QStringLiteral("sections-template"), fixture(QStringLiteral("sections.docx"))},
             {QStringLiteral("odt-template"), fixture(QStringLiteral("writer.odt")), profile},
             {QStringLiteral("plain-template"), fixture(QStringLiteral("plain.docx")),
              QStringLiteral("Dear «NAME», town «CITY».")}}) {
        const QString error = runScript(args);
        QVERIFY2(error.isEmpty(), qPrintable(error));
    }
    QJsonArray thousand;
    for (int i = 1; i <= 1000; ++i)
        thousand.append(QJsonArray{QStringLiteral("Name%1").arg(i), QStringLiteral("City%1").arg(i)});
    QVERIFY(writeBook(fixture(QStringLiteral("records.xlsx")), records()).isEmpty());
    QVERIFY(writeBook(fixture(QStringLiteral("thousand.xlsx")), thousand).isEmpty());
}

void TestWordMerge::init() {
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    for (const QString& name : {QStringLiteral("python.docx"), QStringLiteral("records.xlsx")})
        QVERIFY(QFile::copy(fixture(name), at(name)));
}

WordMergeSettings TestWordMerge::settings(bool oneFile, const QString& output) const {
    WordMergeSettings s;
    s.sourcePath = at(QStringLiteral("records.xlsx"));
    s.startLine = 2;
    s.templatePath = at(QStringLiteral("python.docx"));
    s.oneFile = oneFile;
    s.pairs = {{1, QStringLiteral("«NAME»")}, {2, QStringLiteral("«CITY»")}};
    s.outputPath = at(output);
    return s;
}

void TestWordMerge::numberedDocuments() {
    const QByteArray templateBefore = digest(at(QStringLiteral("python.docx")));
    const QByteArray bookBefore = digest(at(QStringLiteral("records.xlsx")));
    // An older numbered file is overwritten; the named path itself is never written.
    QFile old(at(QStringLiteral("out0002.docx")));
    QVERIFY(old.open(QIODevice::WriteOnly) && old.write("old") == 3);
    old.close();
    RecordingSink sink;
    const WordMergeResult result = runWordMerge(settings(false), sink);
    QCOMPARE(result.outcome, WordMergeOutcome::Finished);
    QVERIFY(sink.began);
    QCOMPARE(result.records, 4);
    QCOMPARE(result.nullValues, 1);
    QCOMPARE(result.failures, 1);
    QCOMPARE(sink.lines.size(), 4);
    const QList<QStringList> values = {{"Ann", "Roma"}, {"Bob", "-"}, {"-", "-"}, {"Cy", "42"}};
    const QList<int> images = {0, 2, 1, 0};
    for (int i = 0; i < 4; ++i) {
        QCOMPARE(sink.lines[i].values, values[i]);
        QCOMPARE(sink.lines[i].image, images[i]);
    }
    QCOMPARE(sink.rows, (QList<int>{2, 3, 4, 5}));
    QCOMPARE(sink.last, 5);
    const QStringList names = {at("out0001.docx"), at("out0002.docx"), at("out0003.docx"), at("out0004.docx")};
    QCOMPARE(result.written, names);
    QCOMPARE(filesIn(m_dir->path()), (QStringList{"out0001.docx", "out0002.docx", "out0003.docx",
                                                  "out0004.docx", "python.docx", "records.xlsx"}));

    QString error;
    const QJsonObject read = readDocuments(names, &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    for (int i = 0; i < 4; ++i) {
        const QJsonObject doc = read.value(names[i]).toObject();
        const QStringList paragraphs = texts(doc.value(QStringLiteral("paragraphs")));
        QCOMPARE(paragraphs.value(1), QStringLiteral("Dear %1,").arg(values[i][0]));
        QCOMPARE(paragraphs.value(2), QStringLiteral("Town: %1").arg(values[i][1]));
        QCOMPARE(texts(doc.value(QStringLiteral("header"))), QStringList{"Letter for " + values[i][0]});
        QCOMPARE(texts(doc.value(QStringLiteral("footer"))), QStringList{values[i][1] + " office"});
    }
    QCOMPARE(digest(at(QStringLiteral("python.docx"))), templateBefore);
    QCOMPARE(digest(at(QStringLiteral("records.xlsx"))), bookBefore);
}

void TestWordMerge::oneJoinedDocument() {
    const QByteArray templateBefore = digest(at(QStringLiteral("python.docx")));
    WordMergeSettings s = settings(true);
    s.separator = RecordSeparator::PageBreak;
    RecordingSink sink;
    const WordMergeResult result = runWordMerge(s, sink);
    QCOMPARE(result.outcome, WordMergeOutcome::Finished);
    QCOMPARE(result.records, 4);
    QCOMPARE(result.nullValues, 1);
    QCOMPARE(result.failures, 1);
    QCOMPARE(result.written, QStringList{s.outputPath});
    QCOMPARE(filesIn(m_dir->path()), (QStringList{"out.docx", "python.docx", "records.xlsx"}));

    QString error;
    const QJsonObject doc = readDocuments({s.outputPath}, &error).value(s.outputPath).toObject();
    QVERIFY2(error.isEmpty(), qPrintable(error));
    const QStringList paragraphs = texts(doc.value(QStringLiteral("paragraphs")));
    QStringList dear;
    for (const QString& p : paragraphs)
        if (p.startsWith(QLatin1String("Dear ")))
            dear << p;
    QCOMPARE(dear, (QStringList{"Dear Ann,", "Dear Bob,", "Dear -,", "Dear Cy,"}));
    // Each record a section of its own, its header and footer holding its values.
    const QJsonArray sections = doc.value(QStringLiteral("sections")).toArray();
    QCOMPARE(sections.size(), 4);
    const QList<QStringList> values = {{"Ann", "Roma"}, {"Bob", "-"}, {"-", "-"}, {"Cy", "42"}};
    for (int i = 0; i < 4; ++i) {
        QCOMPARE(sections[i][QStringLiteral("header")].toString(), "Letter for " + values[i][0]);
        QCOMPARE(sections[i][QStringLiteral("footer")].toString(), values[i][1] + " office");
    }
    QCOMPARE(digest(at(QStringLiteral("python.docx"))), templateBefore);
}

void TestWordMerge::numberedNames_data() {
    QTest::addColumn<QString>("output");
    QTest::addColumn<int>("n");
    QTest::addColumn<QString>("expected");
    QTest::newRow("first record") << "/out/letter.doc" << 1 << "/out/letter0001.doc";
    QTest::newRow("tenth") << "/out/letter.docx" << 10 << "/out/letter0010.docx";
    QTest::newRow("four digits need no zero") << "/out/letter.docx" << 1000 << "/out/letter1000.docx";
    QTest::newRow("nothing cut above 9999") << "/out/letter.docx" << 12345 << "/out/letter12345.docx";
    QTest::newRow("only the last extension moves") << "/out/a.b.odt" << 2 << "/out/a.b0002.odt";
    QTest::newRow("a dot in a folder is no extension") << "/out.d/letter" << 3 << "/out.d/letter0003";
}

void TestWordMerge::numberedNames() {
    QFETCH(QString, output);
    QFETCH(int, n);
    QFETCH(QString, expected);
    QCOMPARE(numberedOutputPath(output, n), expected);
}

void TestWordMerge::outputExtension_data() {
    QTest::addColumn<QString>("chosen");
    QTest::addColumn<QString>("expected");
    QTest::newRow("no extension gains .docx") << "/o/letter" << "/o/letter.docx";
    QTest::newRow(".docx in capitals is kept") << "/o/LETTER.DOCX" << "/o/LETTER.DOCX";
    QTest::newRow(".doc is kept") << "/o/letter.doc" << "/o/letter.doc";
    QTest::newRow(".odt is kept") << "/o/letter.Odt" << "/o/letter.Odt";
    QTest::newRow(".pdf in any case is kept") << "/o/letter.pDf"
                                              << "/o/letter.pDf";
    QTest::newRow("a third extension gains .docx behind it") << "/o/letter.txt" << "/o/letter.txt.docx";
}

void TestWordMerge::outputExtension() {
    QFETCH(QString, chosen);
    QFETCH(QString, expected);
    QCOMPARE(withWordExtension(chosen), expected);
}

// The values of the name column, record by record, and the files they give beside /o/Invoice.pdf.
void TestWordMerge::fileNamesFromValues_data() {
    QTest::addColumn<QStringList>("values");
    QTest::addColumn<QStringList>("files");
    QTest::newRow("ordinary names are kept") << QStringList{"Invoice 2024-017 Kowalski", " Nowak "}
                                             << QStringList{"Invoice 2024-017 Kowalski.pdf", "Nowak.pdf"};
    QTest::newRow("unsafe characters become underscores")
        << QStringList{"a/b\\c:d*e?f\"g<h>i|j", "x\ty\u0001z\u007f"}
        << QStringList{"a_b_c_d_e_f_g_h_i_j.pdf", "x_y_z_.pdf"};
    QTest::newRow("leading dots and blanks become underscores")
        << QStringList{"..hidden", ". x", "a.b"} << QStringList{"__hidden.pdf", "__x.pdf", "a.b.pdf"};
    QTest::newRow("an empty value gives the numbered name")
        << QStringList{"Ann", "", "  \t "} << QStringList{"Ann.pdf", "Invoice0002.pdf", "Invoice0003.pdf"};
    QTest::newRow("a repeated name counts on, whatever its case")
        << QStringList{"Ann", "Ann", "ANN", "Ann (2)"}
        << QStringList{"Ann.pdf", "Ann (2).pdf", "ANN (3).pdf", "Ann (2) (2).pdf"};
    QTest::newRow("a value equal to a numbered name")
        << QStringList{"", "Invoice0001"} << QStringList{"Invoice0001.pdf", "Invoice0001 (2).pdf"};
    QTest::newRow("300 characters are cut to 120")
        << QStringList{QString(300, u'x')} << QStringList{QString(120, u'x') + ".pdf"};
    QTest::newRow("right-to-left text is kept")
        << QStringList{"שלום עולם", "مرحبا"} << QStringList{"שלום עולם.pdf", "مرحبا.pdf"};
    QTest::newRow("a direction override cannot disguise the name")
        << QStringList{"bill\u202Efdp.exe"} << QStringList{"bill_fdp.exe.pdf"};
    // Three bytes a character: 80 of them fill the 240 bytes left for the name.
    QTest::newRow("long Chinese names are cut to fit the file system")
        << QStringList{QString(150, QChar(0x4E2D))} << QStringList{QString(80, QChar(0x4E2D)) + ".pdf"};
    QString emoji;
    for (int i = 0; i < 130; ++i)
        emoji += QString::fromUcs4(U"\U0001F600", 1);
    QTest::newRow("a cut never splits a character")
        << QStringList{emoji} << QStringList{emoji.left(120) + ".pdf"};
}

void TestWordMerge::fileNamesFromValues() {
    QFETCH(QStringList, values);
    QFETCH(QStringList, files);
    RecordFileNames names(QStringLiteral("/o/Invoice.pdf"));
    for (qsizetype i = 0; i < values.size(); ++i) {
        const QString path = names.next(int(i) + 1, values[i]);
        QCOMPARE(path, QStringLiteral("/o/") + files[i]);
        QVERIFY2(path.mid(3).toUtf8().size() <= 255, qPrintable(path));
    }
}

// Names from a column in a real run: a value that names the template goes on to "(2)", and the
// template and the workbook stay as they were.
void TestWordMerge::namedDocumentsNeverReplaceAnInput() {
    QVERIFY(writeBook(at(QStringLiteral("names.xlsx")),
                      QJsonArray{QJsonArray{"plain", "Roma"}, QJsonArray{"Ann", "Oslo"},
                                 QJsonArray{QJsonValue(), "Lima"}})
                .isEmpty());
    WordMergeSettings s = settings(false);
    s.sourcePath = at(QStringLiteral("names.xlsx"));
    s.startLine = 1;
    s.templatePath = at(QStringLiteral("plain.docx"));
    QVERIFY(QFile::copy(fixture(QStringLiteral("plain.docx")), s.templatePath));
    s.nameColumn = 1;
    const QByteArray templateBefore = digest(s.templatePath);
    const QByteArray bookBefore = digest(s.sourcePath);
    RecordingSink sink;
    const WordMergeResult result = runWordMerge(s, sink);
    QCOMPARE(result.outcome, WordMergeOutcome::Finished);
    QCOMPARE(result.written, (QStringList{at("plain (2).docx"), at("Ann.docx"), at("out0003.docx")}));
    QCOMPARE(digest(s.templatePath), templateBefore);
    QCOMPARE(digest(s.sourcePath), bookBefore);
    QString error;
    const QJsonObject read = readDocuments(result.written, &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    const QStringList expected = {"Dear plain, town Roma.", "Dear Ann, town Oslo.", "Dear -, town Lima."};
    for (qsizetype i = 0; i < expected.size(); ++i)
        QCOMPARE(texts(read.value(result.written[i]).toObject().value(QStringLiteral("paragraphs"))).value(0),
                 expected[i]);
}

void TestWordMerge::startBeyondTheLastRow_data() {
    QTest::addColumn<bool>("oneFile");
    QTest::newRow("one file: an empty result document") << true;
    QTest::newRow("multiple files: nothing") << false;
}

void TestWordMerge::startBeyondTheLastRow() {
    QFETCH(bool, oneFile);
    WordMergeSettings s = settings(oneFile);
    s.startLine = 20;
    RecordingSink sink;
    const WordMergeResult result = runWordMerge(s, sink);
    QCOMPARE(result.outcome, WordMergeOutcome::Finished);
    QCOMPARE(result.records, 0);
    QVERIFY(sink.lines.isEmpty());
    if (!oneFile) {
        QCOMPARE(result.written, QStringList{});
        QCOMPARE(filesIn(m_dir->path()), (QStringList{"python.docx", "records.xlsx"}));
        return;
    }
    QCOMPARE(result.written, QStringList{s.outputPath});
    QString error;
    const QJsonObject doc = readDocuments({s.outputPath}, &error).value(s.outputPath).toObject();
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QCOMPARE(texts(doc.value(QStringLiteral("paragraphs"))), QStringList{""});
}

void TestWordMerge::cancel_data() {
    QTest::addColumn<bool>("oneFile");
    QTest::addColumn<int>("stopAfter"); // records before the stop is asked for
    QTest::addColumn<QStringList>("left");
    const QStringList inputs = {"python.docx", "records.xlsx"};
    QTest::newRow("one file, right after opening") << true << 0 << inputs;
    QTest::newRow("one file, after two records: nothing written") << true << 2 << inputs;
    QTest::newRow("multiple files, right after opening") << false << 0 << inputs;
    QTest::newRow("multiple files, after two records: those stay")
        << false << 2 << QStringList{"out0001.docx", "out0002.docx", "python.docx", "records.xlsx"};
}

void TestWordMerge::cancel() {
    QFETCH(bool, oneFile);
    QFETCH(int, stopAfter);
    QFETCH(QStringList, left);
    RecordingSink sink;
    sink.stopAfter = stopAfter;
    const WordMergeResult result = runWordMerge(settings(oneFile), sink);
    QCOMPARE(result.outcome, WordMergeOutcome::Cancelled);
    QCOMPARE(result.records, stopAfter);
    QCOMPARE(filesIn(m_dir->path()), left);
}

void TestWordMerge::sheetMissing() {
    WordMergeSettings s = settings(true);
    s.sheet = 3;
    RecordingSink sink;
    const WordMergeResult result = runWordMerge(s, sink);
    QCOMPARE(result.outcome, WordMergeOutcome::SheetMissing);
    QVERIFY(!sink.began);
    QCOMPARE(filesIn(m_dir->path()), (QStringList{"python.docx", "records.xlsx"}));
}

void TestWordMerge::failures_data() {
    QTest::addColumn<QString>("scenario");
    QTest::addColumn<bool>("oneFile");
    QTest::addColumn<WordMergeFailure>("failure");
    QTest::addColumn<QString>("named"); // the file the cause names
    QTest::addColumn<int>("records");
    QTest::newRow("a template that is no document") << "template" << true << WordMergeFailure::Template
                                                    << "python.docx" << 0;
    QTest::newRow("a source that is no workbook") << "source" << false << WordMergeFailure::Workbook
                                                  << "records.xlsx" << 0;
    QTest::newRow("a numbered document that cannot be written: the ones before stay")
        << "blocked" << false << WordMergeFailure::Output << "out0002.docx" << 1;
    QTest::newRow("a joined document that cannot be written")
        << "blocked-one" << true << WordMergeFailure::Output << "out.docx" << 4;
    QTest::newRow("the output is the template") << "output-template" << true << WordMergeFailure::Settings
                                                << "python.docx" << 0;
    QTest::newRow("the output is the source") << "output-source" << true << WordMergeFailure::Settings
                                              << "records.xlsx" << 0;
    QTest::newRow("a numbered name that is the template") << "numbered-template" << false
                                                          << WordMergeFailure::Settings << "out0003.docx" << 0;
}

void TestWordMerge::failures() {
    QFETCH(QString, scenario);
    QFETCH(bool, oneFile);
    QFETCH(WordMergeFailure, failure);
    QFETCH(QString, named);
    QFETCH(int, records);
    WordMergeSettings s = settings(oneFile);
    const auto writeText = [](const QString& path) {
        QFile file(path);
        return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write("not what it says\n") > 0;
    };
    if (scenario == QLatin1String("template"))
        QVERIFY(writeText(s.templatePath));
    else if (scenario == QLatin1String("source")) // a package, but no workbook
        QVERIFY(QFile::remove(s.sourcePath) && QFile::copy(s.templatePath, s.sourcePath));
    else if (scenario == QLatin1String("blocked"))
        QVERIFY(QDir().mkpath(at(QStringLiteral("out0002.docx/inside"))));
    else if (scenario == QLatin1String("blocked-one"))
        QVERIFY(QDir().mkpath(at(QStringLiteral("out.docx/inside"))));
    else if (scenario == QLatin1String("output-template"))
        s.outputPath = s.templatePath;
    else if (scenario == QLatin1String("output-source"))
        s.outputPath = s.sourcePath;
    else if (scenario == QLatin1String("numbered-template")) {
        QVERIFY(QFile::rename(s.templatePath, at(QStringLiteral("out0003.docx"))));
        s.templatePath = at(QStringLiteral("out0003.docx"));
    }
    const QStringList before = filesIn(m_dir->path());
    const QByteArray templateBefore = digest(s.templatePath);

    RecordingSink sink;
    const WordMergeResult result = runWordMerge(s, sink);
    QCOMPARE(result.outcome, WordMergeOutcome::Failed);
    QCOMPARE(result.failure, failure);
    QVERIFY2(result.cause.contains(named), qPrintable(result.cause));
    QCOMPARE(result.records, records);
    QCOMPARE(digest(s.templatePath), templateBefore);
    QStringList expected = before;
    if (scenario == QLatin1String("blocked"))
        expected.prepend(QStringLiteral("out0001.docx"));
    QCOMPARE(filesIn(m_dir->path()), expected);
}

void TestWordMerge::templatesFromOtherWriters_data() {
    QTest::addColumn<QString>("templateName");
    QTest::addColumn<QStringList>("lines"); // what each record's text holds, with %1 the name, %2 the city
    QTest::newRow("python-docx")
        << "python.docx"
        << QStringList{"Dear %1,", "Town: %2", "Link: %1", "Controls: [%2] [%1] [%2]", "Surname%1; kept: «NA",
                       "Cell %2", "Inner %1"};
    QTest::newRow("LibreOffice, from a web page")
        << "writer.docx" << QStringList{"Dear %1, from %2.", "Visit %1 online.", "Cell %2", "Inner %1"};
    QTest::newRow("LibreOffice, an OpenDocument text")
        << "writer.odt" << QStringList{"Dear %1, from %2.", "Visit %1 online.", "Cell %2", "Inner %1"};
}

void TestWordMerge::templatesFromOtherWriters() {
    QFETCH(QString, templateName);
    QFETCH(QStringList, lines);
    const QString templatePath = at(templateName);
    if (!QFileInfo::exists(templatePath))
        QVERIFY(QFile::copy(fixture(templateName), templatePath));
    const QByteArray before = digest(templatePath);
    QStringList outputs;
    for (const bool oneFile : {false, true}) {
        WordMergeSettings s = settings(oneFile, oneFile ? QStringLiteral("joined.docx") : QStringLiteral("n.docx"));
        s.templatePath = templatePath;
        RecordingSink sink;
        const WordMergeResult result = runWordMerge(s, sink);
        QCOMPARE(result.outcome, WordMergeOutcome::Finished);
        QCOMPARE(result.records, 4);
        outputs << result.written;
    }
    QCOMPARE(outputs.size(), 5);
    QCOMPARE(digest(templatePath), before);

    QString error;
    const QJsonObject read = readDocuments(outputs, &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QCOMPARE(read.size(), 5);
    const QMap<QString, QString> office = officeTexts(outputs, at(QStringLiteral("txt")), &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    const QList<QStringList> values = {{"Ann", "Roma"}, {"Bob", "-"}, {"-", "-"}, {"Cy", "42"}};
    const QString joined = office.value(outputs.last());
    qsizetype from = 0;
    for (int i = 0; i < 4; ++i) {
        const QString text = office.value(outputs[i]);
        for (const QString& line : lines) {
            const QString wanted = QString(line).replace(QLatin1String("%1"), values[i][0]).replace(QLatin1String("%2"), values[i][1]);
            QVERIFY2(text.contains(wanted), qPrintable(QStringLiteral("%1 lacks '%2':\n%3").arg(outputs[i], wanted, text)));
            // In the joined document the records follow each other in order.
            const qsizetype at = joined.indexOf(wanted, from);
            QVERIFY2(at >= 0, qPrintable(QStringLiteral("joined document lacks '%1' after %2").arg(wanted).arg(from)));
            if (line == lines.first())
                from = at;
        }
    }
}

void TestWordMerge::convertedOutputs_data() {
    QTest::addColumn<bool>("oneFile");
    QTest::addColumn<QString>("output");
    QTest::addColumn<docx::DocumentKind>("kind");
    QTest::newRow("numbered .odt documents") << false << "out.odt" << docx::DocumentKind::OpenDocument;
    QTest::newRow("one joined .doc") << true << "out.doc" << docx::DocumentKind::Compound;
}

void TestWordMerge::convertedOutputs() {
    QFETCH(bool, oneFile);
    QFETCH(QString, output);
    QFETCH(docx::DocumentKind, kind);
    WordMergeSettings s = settings(oneFile, output);
    RecordingSink sink;
    const WordMergeResult result = runWordMerge(s, sink);
    QCOMPARE(result.outcome, WordMergeOutcome::Finished);
    const QStringList expected =
        oneFile ? QStringList{s.outputPath}
                : QStringList{at("out0001.odt"), at("out0002.odt"), at("out0003.odt"), at("out0004.odt")};
    QCOMPARE(result.written, expected);
    QStringList names;
    for (const QString& path : expected)
        names << QFileInfo(path).fileName();
    QCOMPARE(filesIn(m_dir->path()), names + QStringList({"python.docx", "records.xlsx"}));
    for (const QString& path : expected)
        QCOMPARE(docx::detectKind(path), kind);
    QString error;
    const QMap<QString, QString> office = officeTexts(expected, at(QStringLiteral("txt")), &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QVERIFY(office.value(expected.first()).contains(QStringLiteral("Dear Ann,")));
    QVERIFY(office.value(expected.last()).contains(QStringLiteral("Dear Cy,")));
}

// PDF documents from the same run as .docx ones, checked by poppler: the pages, each record's
// values, and fonts embedded so that the letters look the same on every machine.
void TestWordMerge::pdfOutputs_data() {
    QTest::addColumn<bool>("oneFile");
    QTest::addColumn<RecordSeparator>("separator");
    QTest::addColumn<QString>("output");
    QTest::addColumn<QList<int>>("pages"); // per document written
    QTest::newRow("numbered PDFs, a page each")
        << false << RecordSeparator::Paragraph << "out.pdf" << QList<int>{1, 1, 1, 1};
    QTest::newRow("one PDF in capitals with a page per record")
        << true << RecordSeparator::PageBreak << "Out.PDF" << QList<int>{4};
    QTest::newRow("one PDF with records sharing a page")
        << true << RecordSeparator::Paragraph << "out.pdf" << QList<int>{1};
}

void TestWordMerge::pdfOutputs() {
    QFETCH(bool, oneFile);
    QFETCH(RecordSeparator, separator);
    QFETCH(QString, output);
    QFETCH(QList<int>, pages);
    WordMergeSettings s = settings(oneFile, output);
    s.templatePath = fixture(QStringLiteral("plain.docx"));
    s.separator = separator;
    RecordingSink sink;
    const WordMergeResult result = runWordMerge(s, sink);
    QCOMPARE(result.outcome, WordMergeOutcome::Finished);
    QStringList expected;
    for (int n = 1; n <= 4; ++n)
        expected << (oneFile ? s.outputPath : numberedOutputPath(s.outputPath, n));
    expected.removeDuplicates();
    QCOMPARE(result.written, expected);
    QStringList names;
    for (const QString& path : expected)
        names << QFileInfo(path).fileName();
    QCOMPARE(filesIn(m_dir->path()), names + QStringList({"python.docx", "records.xlsx"}));

    const QList<QStringList> values = {{"Ann", "Roma"}, {"Bob", "-"}, {"-", "-"}, {"Cy", "42"}};
    QString all;
    for (qsizetype i = 0; i < expected.size(); ++i) {
        const PdfReading pdf = readPdf(expected[i]);
        QVERIFY2(pdf.error.isEmpty(), qPrintable(pdf.error));
        QCOMPARE(pdf.pages, pages[i]);
        QVERIFY2(!pdf.fontsEmbedded.isEmpty() && !pdf.fontsEmbedded.contains(false),
                 qPrintable(expected[i] + QStringLiteral(": a font is not embedded")));
        if (!oneFile)
            QVERIFY2(pdf.text.contains(QStringLiteral("Dear %1,").arg(values[i][0])), qPrintable(pdf.text));
        all += pdf.text;
    }
    // Every record's values, in order; with page breaks each record's letter opens its own page.
    qsizetype from = 0;
    for (int i = 0; i < 4; ++i) {
        const qsizetype at =
            all.indexOf(QStringLiteral("Dear %1, town %2.").arg(values[i][0], values[i][1]), from);
        QVERIFY2(at >= from,
                 qPrintable(QStringLiteral("record %1 missing after %2:\n%3").arg(i + 1).arg(from).arg(all)));
        from = at + 1;
    }
    if (oneFile && separator == RecordSeparator::PageBreak)
        QCOMPARE(all.split(u'\f', Qt::SkipEmptyParts).size(), 4);
}

void TestWordMerge::withoutLibreOffice_data() {
    QTest::addColumn<QString>("templateName");
    QTest::addColumn<QString>("output");
    QTest::addColumn<bool>("oneFile");
    QTest::newRow("an .odt template") << "writer.odt" << "out.docx" << true;
    QTest::newRow("a .doc output, one file") << "python.docx" << "out.doc" << true;
    QTest::newRow("an .odt output, numbered files") << "python.docx" << "out.odt" << false;
    QTest::newRow("a .pdf output, numbered files") << "python.docx"
                                                   << "out.pdf" << false;
    QTest::newRow("a .PDF output, one file") << "python.docx"
                                             << "out.PDF" << true;
}

void TestWordMerge::withoutLibreOffice() {
    QFETCH(QString, templateName);
    QFETCH(QString, output);
    QFETCH(bool, oneFile);
    if (!QFileInfo::exists(at(templateName)))
        QVERIFY(QFile::copy(fixture(templateName), at(templateName)));
    const QStringList before = filesIn(m_dir->path());
    WordMergeSettings s = settings(oneFile, output);
    s.templatePath = at(templateName);
    QTemporaryDir empty;
    const PathOverride path(QFile::encodeName(empty.path()));
    RecordingSink sink;
    const WordMergeResult result = runWordMerge(s, sink);
    QCOMPARE(result.outcome, WordMergeOutcome::Failed);
    QCOMPARE(result.failure, WordMergeFailure::ConverterMissing);
    QVERIFY2(result.cause.contains(QStringLiteral("LibreOffice")) && result.cause.contains(QStringLiteral(".docx")),
             qPrintable(result.cause));
    QCOMPARE(result.records, 0);
    QCOMPARE(filesIn(m_dir->path()), before);
}

void TestWordMerge::thousandRecordsOpenInLibreOffice() {
    WordMergeSettings s = settings(true, QStringLiteral("thousand.docx"));
    s.sourcePath = fixture(QStringLiteral("thousand.xlsx"));
    s.templatePath = fixture(QStringLiteral("plain.docx"));
    s.startLine = 1;
    s.separator = RecordSeparator::PageBreak;
    RecordingSink sink;
    const WordMergeResult result = runWordMerge(s, sink);
    QCOMPARE(result.outcome, WordMergeOutcome::Finished);
    QCOMPARE(result.records, 1000);
    QString error;
    const QJsonObject doc = readDocuments({s.outputPath}, &error).value(s.outputPath).toObject();
    QVERIFY2(error.isEmpty(), qPrintable(error));
    // A record's paragraph, then the paragraph that ends its section (but for the last record's).
    const QStringList paragraphs = texts(doc.value(QStringLiteral("paragraphs")));
    QCOMPARE(paragraphs.size(), 1999);
    QCOMPARE(paragraphs.value(1998), QStringLiteral("Dear Name1000, town City1000."));
    QCOMPARE(doc.value(QStringLiteral("sections")).toArray().size(), 1000);
    const QString outDir = at(QStringLiteral("pdf"));
    error = officeConvert({s.outputPath}, QStringLiteral("pdf"), outDir);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    const PdfReading pdf = readPdf(QDir(outDir).filePath(QStringLiteral("thousand.pdf")));
    QVERIFY2(pdf.error.isEmpty(), qPrintable(pdf.error));
    QCOMPARE(pdf.pages, 1000);
}

// Two hundred letters in one document, each a section of its own: python-docx finds each record's
// values in its section's header and footer, and LibreOffice lays out a page per record whose
// header is the record's.
void TestWordMerge::eachRecordsOwnHeaderInOneDocument() {
    QJsonArray rows;
    for (int i = 1; i <= 200; ++i)
        rows.append(QJsonArray{QStringLiteral("Name%1").arg(i), QStringLiteral("City%1").arg(i)});
    QVERIFY(writeBook(at(QStringLiteral("two hundred.xlsx")), rows).isEmpty());
    WordMergeSettings s = settings(true, QStringLiteral("letters.docx"));
    s.sourcePath = at(QStringLiteral("two hundred.xlsx"));
    s.templatePath = fixture(QStringLiteral("sections.docx"));
    s.startLine = 1;
    s.separator = RecordSeparator::PageBreak;
    RecordingSink sink;
    const WordMergeResult result = runWordMerge(s, sink);
    QCOMPARE(result.outcome, WordMergeOutcome::Finished);
    QCOMPARE(result.records, 200);

    QString error;
    const QJsonObject read = readDocuments({s.templatePath, s.outputPath}, &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    const QJsonObject page = read.value(s.templatePath)[QStringLiteral("sections")][0].toObject();
    const QJsonArray sections = read.value(s.outputPath)[QStringLiteral("sections")].toArray();
    QCOMPARE(sections.size(), 200);
    for (int i = 0; i < 200; ++i) {
        const QJsonObject section = sections[i].toObject();
        QCOMPARE(section.value(QStringLiteral("header")).toString(), QStringLiteral("Header for Name%1").arg(i + 1));
        QCOMPARE(section.value(QStringLiteral("footer")).toString(), QStringLiteral("Footer City%1").arg(i + 1));
        QCOMPARE(section.value(QStringLiteral("pageWidth")), page.value(QStringLiteral("pageWidth")));
        QCOMPARE(section.value(QStringLiteral("orientation")), page.value(QStringLiteral("orientation")));
    }

    const QString outDir = at(QStringLiteral("pdf"));
    error = officeConvert({s.outputPath}, QStringLiteral("pdf"), outDir);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    const PdfReading pdf = readPdf(QDir(outDir).filePath(QStringLiteral("letters.pdf")));
    QVERIFY2(pdf.error.isEmpty(), qPrintable(pdf.error));
    QCOMPARE(pdf.pages, 200);
    const QStringList pages = pdf.text.split(u'\f');
    for (int i = 0; i < 200; ++i) {
        const QString n = QString::number(i + 1);
        for (const QString& line : {"Header for Name" + n, "Dear Name" + n + " of City" + n + '.', "Footer City" + n})
            QVERIFY2(pages.value(i).contains(QRegularExpression(QRegularExpression::escape(line) + QStringLiteral("(?!\\d)"))),
                     qPrintable(QStringLiteral("page %1 lacks \"%2\":\n%3").arg(n, line, pages.value(i))));
    }
}

// One LibreOffice process quietly stops after some 245 documents: a run of 250 PDFs still gives
// every one of them, each its own record's.
void TestWordMerge::moreDocumentsThanOneConverterTakes() {
    WordMergeSettings s = settings(false, QStringLiteral("many/letter.pdf"));
    QVERIFY(QDir().mkpath(at(QStringLiteral("many"))));
    s.sourcePath = fixture(QStringLiteral("thousand.xlsx"));
    s.templatePath = fixture(QStringLiteral("plain.docx"));
    s.startLine = 751;
    RecordingSink sink;
    const WordMergeResult result = runWordMerge(s, sink);
    QVERIFY2(result.outcome == WordMergeOutcome::Finished, qPrintable(result.cause));
    QCOMPARE(result.written.size(), 250);
    QCOMPARE(filesIn(at(QStringLiteral("many"))).size(), 250);
    for (const int n : {1, 245, 246, 250}) {
        const PdfReading pdf = readPdf(numberedOutputPath(s.outputPath, n));
        QVERIFY2(pdf.error.isEmpty(), qPrintable(pdf.error));
        QVERIFY2(pdf.text.contains(QStringLiteral("Dear Name%1, town City%1.").arg(750 + n)), qPrintable(pdf.text));
    }
}

QTEST_GUILESS_MAIN(TestWordMerge)
#include "tst_wordmerge.moc"
