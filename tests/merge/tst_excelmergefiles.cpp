// The Excel-to-Excel run on real files: workbooks written by openpyxl, outputs read back by it.
// The output holds the fill-ins and everything else of the destination; the destination and the
// folder are left as they were whenever no output is due.
#include "bookfixture.h"
#include "merge/excel/excelmerge.h"

#include <QTemporaryDir>
#include <QtTest>

using namespace bookfixture;

namespace {

class CountingSink : public ExcelMergeSink {
public:
    void recordDone(const QStringList& subItems, int image, int, int) override {
        lines << QString::number(image) + QLatin1Char('|') + subItems.join(QLatin1Char('|'));
    }
    bool stopRequested() override { return stopAfter >= 0 && int(lines.size()) >= stopAfter; }

    QStringList lines;
    int stopAfter = -1;
};

} // namespace

class TestExcelMergeFiles : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void outputHoldsFillInsAndKeepsTheRest();
    void cancelledRunLeavesNothing();
    void startLineBeyondLastRowStillSaves();
    void csvDestinationBecomesAWorkbook();
    void unreadableSourceFails();

private:
    ExcelMergeSettings settings() const {
        ExcelMergeSettings s;
        s.sourcePath = m_dir->filePath(QStringLiteral("source.xlsx"));
        s.sourceSheet = 2;
        s.sourceStartLine = 2;
        s.destPath = m_dir->filePath(QStringLiteral("dest.xlsx"));
        s.destStartLine = 2;
        s.pairs = {{2, 3}, {3, 4}};
        s.outputPath = m_dir->filePath(QStringLiteral("out.xlsx"));
        return s;
    }

    QTemporaryDir m_fixtures;
    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestExcelMergeFiles::initTestCase() {
    QVERIFY(m_fixtures.isValid());
    // source.json: a decoy first sheet, the data on sheet 2 below a header. dest.json: styles,
    // widths, merged cells, a formula and a second sheet that must all survive.
    const QString error = writePair(m_fixtures.path(), "source.json", "dest.json");
    QVERIFY2(error.isEmpty(), qPrintable(error));
}

void TestExcelMergeFiles::init() {
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    QVERIFY(copyPair(m_fixtures.path(), m_dir->path()));
}

void TestExcelMergeFiles::outputHoldsFillInsAndKeepsTheRest() {
    const ExcelMergeSettings s = settings();
    const QByteArray destHash = fileHash(s.destPath);
    CountingSink sink;
    const ExcelMergeResult result = runExcelMerge(s, sink);
    QCOMPARE(result.outcome, ExcelMergeOutcome::Finished);
    QCOMPARE(sink.lines,
             (QStringList{QStringLiteral("0|k1|3/x|=HYPERLINK(\"http://example.org\",\"site\")/-"),
                          QStringLiteral("1|missing|-|-"), QStringLiteral("0|k2|2.5|TRUE")}));
    QCOMPARE(result.records, 3);
    QCOMPARE(result.failures, 1);
    QCOMPARE(fileHash(s.destPath), destHash);
    QCOMPARE(folderEntries(m_dir->path()),
             (QStringList{QStringLiteral("dest.xlsx"), QStringLiteral("out.xlsx"),
                          QStringLiteral("source.xlsx")}));

    QString error;
    const QJsonObject dest = dumpBook(s.destPath, &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    const QJsonObject out = dumpBook(s.outputPath, &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));

    const QList<std::pair<QString, QString>> fillIns = {
        {QStringLiteral("C2"), QStringLiteral("3/x")},
        {QStringLiteral("D2"), QStringLiteral("=HYPERLINK(\"http://example.org\",\"site\")/-")},
        {QStringLiteral("C4"), QStringLiteral("-")},
        {QStringLiteral("D4"), QStringLiteral("-")},
        {QStringLiteral("C5"), QStringLiteral("2.5")},
        {QStringLiteral("D5"), QStringLiteral("TRUE")}};
    QStringList coordinates;
    for (const auto& [coordinate, value] : fillIns) {
        const QJsonObject cell = cellOf(out, 0, coordinate);
        QCOMPARE(cell.value(QStringLiteral("value")).toString(), value);
        // A number stays a number cell; every other fill-in is a text cell, never a formula.
        const QLatin1String type(value == QLatin1String("2.5") ? "n" : "s");
        QVERIFY2(cell.value(QStringLiteral("type")).toString() == type,
                 qPrintable(coordinate + QStringLiteral(" must be a cell of type ") + type));
        // The cell keeps its own style: the fill-in changes the value alone.
        const QJsonObject before = cellOf(dest, 0, coordinate);
        for (const char* aspect : {"bold", "fill", "format"})
            if (!before.isEmpty())
                QCOMPARE(cell.value(QLatin1String(aspect)), before.value(QLatin1String(aspect)));
        coordinates << coordinate;
    }
    QCOMPARE(withoutCells(out, coordinates), withoutCells(dest, coordinates));
}

void TestExcelMergeFiles::cancelledRunLeavesNothing() {
    ExcelMergeSettings s = settings();
    const QByteArray destHash = fileHash(s.destPath);
    const QStringList entries = folderEntries(m_dir->path());
    CountingSink sink;
    sink.stopAfter = 2;
    const ExcelMergeResult result = runExcelMerge(s, sink);
    QCOMPARE(result.outcome, ExcelMergeOutcome::Cancelled);
    QCOMPARE(sink.lines.size(), 2);
    QVERIFY2(!QFile::exists(s.outputPath), "a cancelled run writes no output");
    QCOMPARE(folderEntries(m_dir->path()), entries);
    QCOMPARE(fileHash(s.destPath), destHash);
}

void TestExcelMergeFiles::startLineBeyondLastRowStillSaves() {
    ExcelMergeSettings s = settings();
    s.destStartLine = 20;
    CountingSink sink;
    const ExcelMergeResult result = runExcelMerge(s, sink);
    QCOMPARE(result.outcome, ExcelMergeOutcome::Finished);
    QCOMPARE(result.records, 0);
    QVERIFY(sink.lines.isEmpty());
    QString error;
    const QJsonObject out = dumpBook(s.outputPath, &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QCOMPARE(out, dumpBook(s.destPath));
}

void TestExcelMergeFiles::csvDestinationBecomesAWorkbook() {
    ExcelMergeSettings s = settings();
    s.destPath = m_dir->filePath(QStringLiteral("dest.csv"));
    QFile csv(s.destPath);
    QVERIFY(csv.open(QIODevice::WriteOnly));
    csv.write("Key,Name,Fill1\r\nk1,first,old\r\n,no key,keep\r\nmissing,\"a, b\",\r\n");
    csv.close();
    const QByteArray destHash = fileHash(s.destPath);
    CountingSink sink;
    const ExcelMergeResult result = runExcelMerge(s, sink);
    QVERIFY2(result.outcome == ExcelMergeOutcome::Finished, qPrintable(result.cause));
    QCOMPARE(fileHash(s.destPath), destHash);
    QString error;
    const QJsonObject out = dumpBook(s.outputPath, &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    const auto value = [&out](const char* coordinate) {
        return cellOf(out, 0, QLatin1String(coordinate)).value(QStringLiteral("value")).toString();
    };
    QCOMPARE(value("A1"), QStringLiteral("Key"));
    QCOMPARE(value("C2"), QStringLiteral("3/x"));
    QCOMPARE(value("D2"), QStringLiteral("=HYPERLINK(\"http://example.org\",\"site\")/-"));
    QCOMPARE(value("C3"), QStringLiteral("keep"));
    QCOMPARE(value("B4"), QStringLiteral("a, b"));
    QCOMPARE(value("C4"), QStringLiteral("-"));
    QCOMPARE(cellOf(out, 0, QStringLiteral("D2")).value(QStringLiteral("type")).toString(),
             QStringLiteral("s"));
}

void TestExcelMergeFiles::unreadableSourceFails() {
    ExcelMergeSettings s = settings();
    QFile broken(s.sourcePath);
    QVERIFY(broken.open(QIODevice::WriteOnly | QIODevice::Truncate));
    broken.write("PK\x03\x04 this is not a workbook package");
    broken.close();
    CountingSink sink;
    const ExcelMergeResult result = runExcelMerge(s, sink);
    QCOMPARE(result.outcome, ExcelMergeOutcome::Failed);
    QVERIFY2(!result.cause.isEmpty(), "a failure says what went wrong");
    QVERIFY(!QFile::exists(s.outputPath));
}

QTEST_GUILESS_MAIN(TestExcelMergeFiles)
#include "tst_excelmergefiles.moc"
