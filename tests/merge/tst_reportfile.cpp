// A run report saved as .csv and .xlsx and read back by Python's csv module and by openpyxl: the
// captions, the image words, every text exactly as it was, and the causes of a refused save.
#include "merge/common/reportfile.h"
#include "office/workbook.h"
#include "support/reportreader.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

Q_DECLARE_METATYPE(QList<ReportLine>)

namespace {
const QStringList kCaptions = {QString(), QStringLiteral("Index value"), QStringLiteral("Mail to"),
                               QStringLiteral("Comment")};

// What a reader should find: the captions, then per line the image word and the sub-items, filled
// to the captions' width.
QList<QStringList> expectedRows(const QStringList& captions, const QList<ReportLine>& lines) {
    QList<QStringList> rows{captions};
    for (const ReportLine& line : lines) {
        QStringList row = QStringList{reportImageWord(line.image)} + line.subItems;
        while (row.size() < captions.size())
            row << QString();
        rows << row;
    }
    return rows;
}

// Saves a one-line report at path; the cause of the failure, empty when it was saved.
QString causeOfSaving(const QString& path) {
    try {
        saveReportFile(path, kCaptions, {{0, {"1", "a@example.com", "sent"}}});
    } catch (const WorkbookError& error) {
        return error.cause();
    }
    return {};
}

QByteArray contentOf(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
} // namespace

class TestReportFile : public QObject {
    Q_OBJECT
private slots:
    void readersGetTheReportBack_data();
    void readersGetTheReportBack();
    void csvBytesAreThoseOfTheFormat();
    void workbookColumnsAreAsWideAsTheirTexts_data();
    void workbookColumnsAreAsWideAsTheirTexts();
    void onlyCsvAndXlsxAreSaved_data();
    void onlyCsvAndXlsxAreSaved();
    void failedSaveNamesItsCauseAndKeepsTheOldFile_data();
    void failedSaveNamesItsCauseAndKeepsTheOldFile();
};

void TestReportFile::readersGetTheReportBack_data() {
    QTest::addColumn<QString>("extension");
    QTest::addColumn<QList<ReportLine>>("lines");

    const QList<std::pair<const char*, QList<ReportLine>>> cases = {
        {"every image is written as its word",
         {{0, {"1", "a@example.com", "sent"}},
          {1, {"2", "b@example.com", "refused"}},
          {2, {"3", "c@example.com", "Name is empty"}},
          {3, {"4", "d@example.com", ""}}}},
        {"texts with commas, quotes and line breaks come back whole",
         {{0, {"1", "Smith, John", "he said \"hi\""}},
          {1, {"2", "line one\nline two", "\"quoted\", and more"}},
          {0, {"3", " leading and trailing spaces ", "a;b\tc"}}}},
        {"numbers and leading zeros stay the texts they were",
         {{0, {"00123", "12", "1.5"}}, {0, {"-3", "1E+05", "0"}}, {2, {"007", "3.0", "+1"}}}},
        {"non-ASCII texts keep every character",
         {{0, {"1", "张伟 <zhang@例子.中国>", "已发送 ✓"}}, {1, {"2", "Zoë Ærø", "😀 emoji, too"}}}},
        {"empty values and short lines are filled to the columns",
         {{0, {"", "", ""}}, {2, {"5"}}, {1, {}}}},
    };
    for (const char* extension : {".csv", ".xlsx"})
        for (const auto& [name, lines] : cases)
            QTest::addRow("%s: %s", extension + 1, name) << QString::fromLatin1(extension) << lines;
}

void TestReportFile::readersGetTheReportBack() {
    QFETCH(QString, extension);
    QFETCH(QList<ReportLine>, lines);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("report") + extension);

    // As a batch command collects its lines while it prints them.
    ReportFile report(kCaptions);
    for (int i = 0; i < lines.size(); ++i)
        QCOMPARE(report.addLine(lines[i].image, lines[i].subItems), i);
    report.save(path);

    const ReadReport read = readReportFile(path);
    QVERIFY(read.ok);
    QCOMPARE(read.rows, expectedRows(kCaptions, lines));
    if (extension == QLatin1String(".csv")) {
        QVERIFY2(read.byteOrderMark, "a report in CSV starts with the UTF-8 byte order mark");
        QVERIFY2(read.canonical, contentOf(path).constData());
    } else {
        QVERIFY2(read.onlyTexts, "a report cell was written as a number");
    }
    QCOMPARE(QDir(dir.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries), QStringList{"report" + extension});
}

void TestReportFile::csvBytesAreThoseOfTheFormat() {
    // One look at the bytes themselves, the quoting rule and a line break that is CR LF inside a
    // field included, which a reader that normalises line ends would not tell apart.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("report.csv"));
    saveReportFile(path, {QString(), QStringLiteral("Value")},
                   {{1, {QStringLiteral("a,b")}}, {0, {QStringLiteral("x\r\ny \"z\"")}}, {2, {QString()}}});
    QCOMPARE(contentOf(path), QByteArray("\xEF\xBB\xBF,Value\r\n"
                                         "failure,\"a,b\"\r\n"
                                         "processed,\"x\r\ny \"\"z\"\"\"\r\n"
                                         "null value,\r\n"));
}

void TestReportFile::workbookColumnsAreAsWideAsTheirTexts_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("width");
    QTest::newRow("a short text is as wide as the caption") << "ok" << 9.0;
    QTest::newRow("a longer text widens its column") << "someone@example.com" << 21.0;
    QTest::newRow("wide characters count twice") << "张伟伟伟伟伟伟伟伟伟" << 22.0;
    QTest::newRow("the longest line of several counts") << "short\na line of 23 chars here\nend" << 25.0;
    QTest::newRow("a very long text stops at sixty") << QString(500, QLatin1Char('x')) << 60.0;
}

void TestReportFile::workbookColumnsAreAsWideAsTheirTexts() {
    QFETCH(QString, text);
    QFETCH(double, width);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("report.xlsx"));
    saveReportFile(path, {QString(), QStringLiteral("Mail to")}, {{2, {text}}});
    const ReadReport read = readReportFile(path);
    QVERIFY(read.ok);
    // The image column fits "null value", the second the wider of caption and text, plus two.
    QCOMPARE(read.widths, (QList<double>{12.0, width}));
    QCOMPARE(read.rows.last().last(), text);
}

void TestReportFile::onlyCsvAndXlsxAreSaved_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("saved");
    QTest::newRow("upper-case .CSV is a CSV file") << "Report.CSV" << true;
    QTest::newRow("mixed-case .Xlsx is a workbook") << "Report.Xlsx" << true;
    QTest::newRow("a text file is refused") << "report.txt" << false;
    QTest::newRow("an old workbook is refused") << "report.xls" << false;
    QTest::newRow("a macro-enabled workbook is refused") << "report.xlsm" << false;
    QTest::newRow("a name without extension is refused") << "report" << false;
    QTest::newRow("a dot in the folder name alone is no extension") << "folder.csv/report" << false;
}

void TestReportFile::onlyCsvAndXlsxAreSaved() {
    QFETCH(QString, name);
    QFETCH(bool, saved);
    QTemporaryDir dir;
    QDir(dir.path()).mkdir(QStringLiteral("folder.csv"));
    const QString path = dir.filePath(name);
    const QString cause = causeOfSaving(path);
    QCOMPARE(cause.isEmpty(), saved);
    QCOMPARE(QFile::exists(path), saved);
    QCOMPARE(reportFileProblem(path).isEmpty(), saved);
    if (!saved) {
        QVERIFY2(cause.contains(path) && cause.contains(QLatin1String(".csv")) && cause.contains(QLatin1String(".xlsx")),
                 qPrintable(cause));
        return;
    }
    const ReadReport read = readReportFile(path);
    QVERIFY(read.ok);
    QCOMPARE(read.rows.size(), 2);
}

void TestReportFile::failedSaveNamesItsCauseAndKeepsTheOldFile_data() {
    QTest::addColumn<QString>("name");
    QTest::newRow("csv into a folder that does not exist") << "missing/report.csv";
    QTest::newRow("xlsx into a folder that does not exist") << "missing/report.xlsx";
    QTest::newRow("csv over a folder of that name") << "taken.csv";
    QTest::newRow("xlsx over a folder of that name") << "taken.xlsx";
}

void TestReportFile::failedSaveNamesItsCauseAndKeepsTheOldFile() {
    QFETCH(QString, name);
    QTemporaryDir dir;
    QDir(dir.path()).mkdir(QStringLiteral("taken.csv"));
    QDir(dir.path()).mkdir(QStringLiteral("taken.xlsx"));
    const QString path = dir.filePath(name);
    const QString cause = causeOfSaving(path);
    QVERIFY2(cause.contains(path), qPrintable(cause));
    // Nothing left behind: no half-written file, no temporary file beside the folder.
    QCOMPARE(QDir(dir.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
             (QStringList{"taken.csv", "taken.xlsx"}));
    QVERIFY(QFileInfo(dir.filePath(QStringLiteral("taken.csv"))).isDir());
}

QTEST_GUILESS_MAIN(TestReportFile)
#include "tst_reportfile.moc"
