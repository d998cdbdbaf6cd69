// tallyweave-batch word run as a separate process: usage errors, the command's refusals, the
// report, labels holding colons, the extension rule and what --overwrite replaces when.
#include "docx/docxfixture.h"

#include <QTemporaryDir>
#include <QtTest>

using namespace docxfixture;

namespace {

struct BatchRun {
    int exitCode = -1;
    QString out, err;
};

} // namespace

// An instrumented build holds shadow memory beside every allocation: its peaks say nothing of the
// engine's.
#ifdef __SANITIZE_ADDRESS__
constexpr bool kMemoryMeasured = false;
#else
constexpr bool kMemoryMeasured = true;
#endif

class TestBatchWord : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void badUsage_data();
    void badUsage();
    void refusals_data();
    void refusals();
    void reportLinesAndLabelsWithColons();
    void overwrite_data();
    void overwrite();
    void failedRunKeepsTheOldOutput();
    void extensionRuleAndDefaultSeparator();
    void namesFromAColumn();
    void overwriteRemovesTheEarlierTailOnceFinished();
    void templateSizeBoundsMemory();

private:
    QString at(const QString& name) const { return m_dir->filePath(name); }
    BatchRun batch(const QStringList& args);
    QStringList basicArgs(const QString& output = QStringLiteral("out.docx")) const {
        return {QStringLiteral("word"),     QStringLiteral("--source"), at(QStringLiteral("book.xlsx")),
                QStringLiteral("--start"),  QStringLiteral("2"),        QStringLiteral("--template"),
                at(QStringLiteral("letter.docx")), QStringLiteral("--pair"), QStringLiteral("A:«NAME»"),
                QStringLiteral("--output"), at(output)};
    }

    QString m_program;
    QTemporaryDir m_fixtures;
    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestBatchWord::initTestCase() {
    m_program = qEnvironmentVariable("TALLYWEAVE_BATCH");
    QVERIFY2(QFileInfo(m_program).isExecutable(), "TALLYWEAVE_BATCH names the batch program");
    QVERIFY(m_fixtures.isValid());
    QString error = runScript({QStringLiteral("plain-template"), m_fixtures.filePath(QStringLiteral("letter.docx")),
                               QStringLiteral("Dear «NAME» of «a:b»")});
    QVERIFY2(error.isEmpty(), qPrintable(error));
    // Fields with a tab and a backslash must come out escaped.
    error = writeBook(m_fixtures.filePath(QStringLiteral("book.xlsx")),
                      QJsonArray{QJsonArray{"Name", "Place"}, QJsonArray{"Ann", "x:y"},
                                 QJsonArray{"B\tb", QJsonValue()}, QJsonArray{QJsonValue(), "  "},
                                 QJsonArray{"C\\c", "z"}});
    QVERIFY2(error.isEmpty(), qPrintable(error));
}

void TestBatchWord::init() {
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    for (const QString& name : {QStringLiteral("letter.docx"), QStringLiteral("book.xlsx")})
        QVERIFY(QFile::copy(m_fixtures.filePath(name), at(name)));
}

BatchRun TestBatchWord::batch(const QStringList& args) {
    QProcess process;
    process.start(m_program, args);
    BatchRun run;
    if (!process.waitForFinished(120000))
        return run;
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

void TestBatchWord::badUsage_data() {
    QTest::addColumn<QStringList>("change"); // flag and value to append, or a flag to remove ("-F")
    QTest::addColumn<QString>("message");
    QTest::newRow("--separator without --one-file") << QStringList{"--separator", "page"} << "--one-file";
    QTest::newRow("an unknown separator") << QStringList{"--one-file", "--separator", "line"} << "paragraph or page";
    QTest::newRow("a column of two letters") << QStringList{"--pair", "AB:«x»"} << "column letter";
    QTest::newRow("a column that is a digit") << QStringList{"--pair", "1:«x»"} << "column letter";
    QTest::newRow("no column") << QStringList{"--pair", ":«x»"} << "column letter";
    QTest::newRow("an empty label") << QStringList{"--pair", "B:"} << "label";
    QTest::newRow("a blank label") << QStringList{"--pair", "B: \t "} << "label";
    QTest::newRow("a pair without colon") << QStringList{"--pair", "B"} << "COL:LABEL";
    QTest::newRow("start line 0") << QStringList{"--start", "0"} << "--start";
    QTest::newRow("sheet 0") << QStringList{"--sheet", "0"} << "--sheet";
    QTest::newRow("a sheet that is no number") << QStringList{"--sheet", "two"} << "--sheet";
    QTest::newRow("a flag without its value") << QStringList{"--sheet"} << "wants a value";
    QTest::newRow("an unknown flag") << QStringList{"--page"} << "unknown argument";
    QTest::newRow("no template") << QStringList{"-F", "--template"} << "required";
    QTest::newRow("no pair") << QStringList{"-F", "--pair"} << "--pair";
    QTest::newRow("names from a column for one file")
        << QStringList{"--one-file", "--name-column", "B"} << "--name-column";
    QTest::newRow("a name column of two letters") << QStringList{"--name-column", "AB"} << "column letter";
}

void TestBatchWord::badUsage() {
    QFETCH(QStringList, change);
    QFETCH(QString, message);
    QStringList args = basicArgs();
    if (change.size() == 2 && change[0] == QLatin1String("-F")) {
        const qsizetype i = args.indexOf(change[1]);
        args.remove(i, 2);
    } else {
        args << change;
    }
    const BatchRun run = batch(args);
    QCOMPARE(run.exitCode, 2);
    QVERIFY2(run.err.contains(message), qPrintable(run.err));
    QCOMPARE(run.out, QString());
    QCOMPARE(filesIn(m_dir->path()), (QStringList{"book.xlsx", "letter.docx"}));
}

void TestBatchWord::refusals_data() {
    QTest::addColumn<QString>("scenario");
    QTest::addColumn<QString>("message");
    QTest::newRow("the source does not exist") << "no-source" << "does not exist";
    QTest::newRow("the template does not exist") << "no-template" << "does not exist";
    QTest::newRow("the output is the template, by another path") << "output-template" << "is the template";
    QTest::newRow("one file: the output exists") << "exists"
                                                 << "--overwrite";
    QTest::newRow("numbered: a document of this run exists") << "numbered-exists"
                                                             << "out0002.docx exists";
    QTest::newRow("numbered: an earlier document beyond this run") << "numbered-stale"
                                                                   << "out0005.docx";
    QTest::newRow("a sheet past the last") << "sheet" << "no sheet 4";
    QTest::newRow("a source that is no workbook") << "bad-source" << "book.xlsx";
    QTest::newRow("a template that is no document") << "bad-template" << "letter.docx";
}

void TestBatchWord::refusals() {
    QFETCH(QString, scenario);
    QFETCH(QString, message);
    QStringList args = basicArgs();
    const qsizetype source = args.indexOf(QStringLiteral("--source")) + 1;
    const qsizetype templ = args.indexOf(QStringLiteral("--template")) + 1;
    const qsizetype output = args.indexOf(QStringLiteral("--output")) + 1;
    if (scenario == QLatin1String("no-source"))
        args[source] = at(QStringLiteral("missing.xlsx"));
    else if (scenario == QLatin1String("no-template"))
        args[templ] = at(QStringLiteral("missing.docx"));
    else if (scenario == QLatin1String("output-template"))
        args[output] = m_dir->path() + QStringLiteral("/./letter.docx");
    else if (scenario == QLatin1String("exists")) {
        QFile(at(QStringLiteral("out.docx"))).open(QIODevice::WriteOnly);
        args << QStringLiteral("--one-file");
    } else if (scenario == QLatin1String("numbered-exists"))
        QFile(at(QStringLiteral("out0002.docx"))).open(QIODevice::WriteOnly);
    else if (scenario == QLatin1String("numbered-stale"))
        QFile(at(QStringLiteral("out0005.docx"))).open(QIODevice::WriteOnly);
    else if (scenario == QLatin1String("sheet"))
        args << QStringLiteral("--sheet") << QStringLiteral("4");
    else if (scenario == QLatin1String("bad-source"))
        QVERIFY(QFile::remove(at(QStringLiteral("book.xlsx"))) &&
                QFile::copy(at(QStringLiteral("letter.docx")), at(QStringLiteral("book.xlsx"))));
    else if (scenario == QLatin1String("bad-template")) {
        QFile file(at(QStringLiteral("letter.docx")));
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write("plain text") > 0);
    }
    const QStringList before = filesIn(m_dir->path());
    const QByteArray templateBefore = digest(at(QStringLiteral("letter.docx")));
    const BatchRun run = batch(args);
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.err.contains(message), qPrintable(run.err));
    QCOMPARE(filesIn(m_dir->path()), before);
    QCOMPARE(digest(at(QStringLiteral("letter.docx"))), templateBefore);
}

void TestBatchWord::reportLinesAndLabelsWithColons() {
    QStringList args = basicArgs();
    args << QStringLiteral("--pair") << QStringLiteral("b:«a:b»") << QStringLiteral("--one-file");
    const BatchRun run = batch(args);
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.err, QStringLiteral("tallyweave-batch word: wrote %1\n").arg(at(QStringLiteral("out.docx"))));
    QCOMPARE(run.out, QStringLiteral("0\tAnn\tx:y\n"
                                     "2\tB\\tb\t-\n"
                                     "1\t-\t-\n"
                                     "0\tC\\\\c\tz\n"
                                     "records 4, null values 1, failures 1\n"));
    QString error;
    const QString out = at(QStringLiteral("out.docx"));
    const QStringList paragraphs = texts(readDocuments({out}, &error).value(out).toObject().value(QStringLiteral("paragraphs")));
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QCOMPARE(paragraphs, (QStringList{"Dear Ann of x:y", "", "Dear B\tb of -", "", "Dear - of -", "",
                                      "Dear C\\c of z", ""}));
}

void TestBatchWord::overwrite_data() {
    QTest::addColumn<bool>("oneFile");
    QTest::addColumn<QStringList>("left");
    QTest::newRow("one file: replaced by the finished run")
        << true << QStringList{"book.xlsx", "letter.docx", "out.docx"};
    QTest::newRow("multiple files: the named file is never theirs to delete")
        << false << QStringList{"book.xlsx",    "letter.docx",  "out.docx",    "out0001.docx",
                                "out0002.docx", "out0003.docx", "out0004.docx"};
}

void TestBatchWord::overwrite() {
    QFETCH(bool, oneFile);
    QFETCH(QStringList, left);
    QFile old(at(QStringLiteral("out.docx")));
    QVERIFY(old.open(QIODevice::WriteOnly) && old.write("old") == 3);
    old.close();
    QStringList args = basicArgs();
    args << QStringLiteral("--overwrite");
    if (oneFile)
        args << QStringLiteral("--one-file");
    const BatchRun run = batch(args);
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(filesIn(m_dir->path()), left);
    // What was written is named once the run has finished.
    const QString written = oneFile ? QStringLiteral("wrote ") + at(QStringLiteral("out.docx"))
                                    : QStringLiteral("wrote 4 documents in ") + m_dir->path();
    QCOMPARE(run.err, QStringLiteral("tallyweave-batch word: ") + written + u'\n');
    const QString first = at(oneFile ? QStringLiteral("out.docx") : QStringLiteral("out0001.docx"));
    QString error;
    const QStringList paragraphs =
        texts(readDocuments({first}, &error).value(first).toObject().value(QStringLiteral("paragraphs")));
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QCOMPARE(paragraphs.value(0), QStringLiteral("Dear Ann of «a:b»"));
}

void TestBatchWord::failedRunKeepsTheOldOutput() {
    QFile old(at(QStringLiteral("out.docx")));
    QVERIFY(old.open(QIODevice::WriteOnly) && old.write("old") == 3);
    old.close();
    for (const bool oneFile : {true, false}) {
        QStringList args = basicArgs();
        args << QStringLiteral("--overwrite") << QStringLiteral("--sheet") << QStringLiteral("2");
        if (oneFile)
            args << QStringLiteral("--one-file");
        const BatchRun run = batch(args);
        QCOMPARE(run.exitCode, 1);
        QFile kept(at(QStringLiteral("out.docx")));
        QVERIFY(kept.open(QIODevice::ReadOnly));
        QCOMPARE(kept.readAll(), QByteArray("old"));
        QCOMPARE(filesIn(m_dir->path()), (QStringList{"book.xlsx", "letter.docx", "out.docx"}));
    }
}

void TestBatchWord::extensionRuleAndDefaultSeparator() {
    const BatchRun run = batch(basicArgs(QStringLiteral("result.txt")) << QStringLiteral("--one-file"));
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(filesIn(m_dir->path()), (QStringList{"book.xlsx", "letter.docx", "result.txt.docx"}));
    const QString out = at(QStringLiteral("result.txt.docx"));
    QString error;
    const QJsonObject doc = readDocuments({out}, &error).value(out).toObject();
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QCOMPARE(doc.value(QStringLiteral("pageBreaks")).toInt(), 0);
    QCOMPARE(texts(doc.value(QStringLiteral("paragraphs"))).size(), 8);
}

// Each record's file named from column A: a tab and a backslash become "_", the record without a
// name keeps its numbered name.
void TestBatchWord::namesFromAColumn() {
    const BatchRun run = batch(basicArgs() << QStringLiteral("--name-column") << QStringLiteral("a"));
    QVERIFY2(run.exitCode == 0, qPrintable(run.err));
    QCOMPARE(run.err, QStringLiteral("tallyweave-batch word: wrote 4 documents in %1\n").arg(m_dir->path()));
    QCOMPARE(filesIn(m_dir->path()),
             (QStringList{"Ann.docx", "B_b.docx", "C_c.docx", "book.xlsx", "letter.docx", "out0003.docx"}));
    QString error;
    const QJsonObject read =
        readDocuments({at(QStringLiteral("Ann.docx")), at(QStringLiteral("C_c.docx"))}, &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QCOMPARE(texts(read.value(at(QStringLiteral("Ann.docx"))).toObject().value(QStringLiteral("paragraphs")))
                 .value(0),
             QStringLiteral("Dear Ann of «a:b»"));
    QCOMPARE(texts(read.value(at(QStringLiteral("C_c.docx"))).toObject().value(QStringLiteral("paragraphs")))
                 .value(0),
             QStringLiteral("Dear C\\c of «a:b»"));
}

// A second, shorter run over the six documents of an earlier one, beside files of other names:
// --overwrite replaces four, and removes the other two only because the run finished.
void TestBatchWord::overwriteRemovesTheEarlierTailOnceFinished() {
    const QStringList others{"out.docx", "out0005.txt", "outline0006.docx", "out00006.docx"};
    for (const QString& name : QStringList{"out0001.docx", "out0002.docx", "out0003.docx", "out0004.docx",
                                           "out0005.docx", "out0006.docx"} +
                                   others) {
        QFile file(at(name));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("earlier") == 7);
    }
    const BatchRun refused = batch(basicArgs());
    QCOMPARE(refused.exitCode, 1);
    QVERIFY2(refused.err.contains(at(QStringLiteral("out0001.docx"))), qPrintable(refused.err));

    const BatchRun run = batch(basicArgs() << QStringLiteral("--overwrite"));
    QVERIFY2(run.exitCode == 0, qPrintable(run.err));
    QCOMPARE(filesIn(m_dir->path()), (QStringList{"book.xlsx", "letter.docx", "out.docx", "out00006.docx",
                                                  "out0001.docx", "out0002.docx", "out0003.docx",
                                                  "out0004.docx", "out0005.txt", "outline0006.docx"}));
    QString error;
    const QJsonObject read = readDocuments({at(QStringLiteral("out0004.docx"))}, &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QCOMPARE(
        texts(read.value(at(QStringLiteral("out0004.docx"))).toObject().value(QStringLiteral("paragraphs")))
            .value(0),
        QStringLiteral("Dear C\\c of «a:b»"));
}

// A template whose main part inflates beyond 64 MiB is refused before anything is read of it; one
// of 60 MiB is worked, its peak memory printed, one file (each record a section) and numbered.
void TestBatchWord::templateSizeBoundsMemory() {
    for (const char* size : {"250", "60"}) {
        const QString error = runScript({QStringLiteral("large-template"),
                                         at(QStringLiteral("large%1.docx").arg(QLatin1String(size))),
                                         QLatin1String(size)});
        QVERIFY2(error.isEmpty(), qPrintable(error));
    }
    const auto measured = [this](const QString& letter, const QStringList& extra) {
        QByteArray out;
        const QString error =
            runScript(QStringList{QStringLiteral("peak"), m_program, QStringLiteral("word"), QStringLiteral("--source"),
                                  at(QStringLiteral("book.xlsx")), QStringLiteral("--start"), QStringLiteral("3"),
                                  QStringLiteral("--template"), at(letter), QStringLiteral("--pair"),
                                  QStringLiteral("A:«NAME»")} +
                          extra,
                      &out);
        const QJsonObject result = QJsonDocument::fromJson(out).object();
        return error.isEmpty() ? result : QJsonObject{{"err", error}};
    };
    const QJsonObject refused = measured(QStringLiteral("large250.docx"), {"--output", at("refused.docx")});
    QCOMPARE(refused.value(QStringLiteral("exit")).toInt(), 1);
    const QString cause = refused.value(QStringLiteral("err")).toString();
    QVERIFY2(cause.contains(QStringLiteral("word/document.xml")) && cause.contains(QStringLiteral("limit of 64.0 MiB")),
             qPrintable(cause));
    if (kMemoryMeasured)
        QVERIFY2(refused.value(QStringLiteral("peakKiB")).toInt() < 100 * 1024, "refused without inflating the part");
    QVERIFY(!filesIn(m_dir->path()).join(u' ').contains(QStringLiteral("refused")));

    const QList<std::pair<QString, QStringList>> runs = {
        {QStringLiteral("one file, a section per record"),
         {"--one-file", "--separator", "page", "--output", at("joined.docx")}},
        {QStringLiteral("numbered"), {"--output", at("numbered.docx")}},
    };
    for (const auto& [name, extra] : runs) {
        const QJsonObject run = measured(QStringLiteral("large60.docx"), extra);
        QVERIFY2(run.value(QStringLiteral("exit")).toInt() == 0, qPrintable(run.value(QStringLiteral("err")).toString()));
        const double peak = run.value(QStringLiteral("peakKiB")).toDouble() / 1024.0;
        qInfo("60 MiB template, 3 records, %s: peak %.0f MiB", qPrintable(name), peak);
        // A regression ceiling well above today's figures (see the README): a copy of the template
        // per record kept, or the whole text held as characters, goes beyond it.
        if (kMemoryMeasured)
            QVERIFY2(peak < 900, qPrintable(QStringLiteral("%1: peak %2 MiB").arg(name).arg(peak)));
    }
    const QString last = at(QStringLiteral("numbered0003.docx"));
    QString error;
    const QJsonObject doc = readDocuments({last}, &error).value(last).toObject();
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QCOMPARE(texts(doc.value(QStringLiteral("header"))), QStringList{"Letter for C\\c"});
    const QStringList paragraphs = texts(doc.value(QStringLiteral("paragraphs")));
    QCOMPARE(paragraphs.value(0), QStringLiteral("Dear C\\c,"));
    QCOMPARE(paragraphs.value(1), QStringLiteral("Paragraph 0 of C\\c, lorem ipsum dolor sit amet. "));
    QCOMPARE(paragraphs.value(101), QStringLiteral("Paragraph 100 of C\\c, lorem ipsum dolor sit amet. "));
}

QTEST_GUILESS_MAIN(TestBatchWord)
#include "tst_batchword.moc"
