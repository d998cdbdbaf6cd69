// The Excel-to-Excel run on computed numbers: an index value of 0.1 + 0.2 matches "0.3" and a
// computed 118.99999999999999 fills in as "119", by either lookup; the fill-in is a number cell of
// the output, in the destination cell's style, as openpyxl reads it.
#include "bookfixture.h"
#include "merge/excel/excelmerge.h"

#include <QTemporaryDir>
#include <QtTest>

using namespace bookfixture;

namespace {

class LineSink : public ExcelMergeSink {
public:
    void recordDone(const QStringList& subItems, int image, int, int) override {
        lines << QString::number(image) + QLatin1Char('|') + subItems.join(QLatin1Char('|'));
    }
    bool stopRequested() override { return false; }
    QStringList lines;
};

// Source: computed numbers as a spreadsheet program stores them. Destination: the keys as typed,
// one as text and one as a number, fill-in cells with a style of their own.
const char* const kSource = R"({"sheets": [{"title": "S", "rows": [
    ["key", "price", "amount"],
    [0.30000000000000004, 118.99999999999999, 2.9999999999999996],
    [7.000000000000001, 0.1, "00123"]]}]})";
const char* const kDest = R"({"sheets": [{"title": "D", "rows": [
    ["Key", "Price", "Amount"],
    ["0.3", null, null],
    [7, null, null]],
    "bold": ["B2"], "formats": {"C2": "0.00"}}]})";

} // namespace

class TestExcelValues : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        QVERIFY(m_fixtures.isValid());
        QString error = writeBook(m_fixtures.filePath(QStringLiteral("source.xlsx")), kSource);
        QVERIFY2(error.isEmpty(), qPrintable(error));
        error = writeBook(m_fixtures.filePath(QStringLiteral("dest.xlsx")), kDest);
        QVERIFY2(error.isEmpty(), qPrintable(error));
    }

    void computedNumbersMatchAndFillInAsShown_data() {
        QTest::addColumn<SourceLookup>("lookup");
        QTest::newRow("index of the source") << SourceLookup::Indexed;
        QTest::newRow("rescan of the source") << SourceLookup::Rescan;
    }
    void computedNumbersMatchAndFillInAsShown() {
        QFETCH(SourceLookup, lookup);
        QTemporaryDir dir;
        QVERIFY(copyPair(m_fixtures.path(), dir.path()));
        ExcelMergeSettings s;
        s.sourcePath = dir.filePath(QStringLiteral("source.xlsx"));
        s.destPath = dir.filePath(QStringLiteral("dest.xlsx"));
        s.sourceStartLine = 2;
        s.destStartLine = 2;
        s.pairs = {{2, 2}, {3, 3}};
        s.outputPath = dir.filePath(QStringLiteral("out.xlsx"));
        LineSink sink;
        const ExcelMergeResult result = runExcelMerge(s, sink, lookup);
        QVERIFY2(result.outcome == ExcelMergeOutcome::Finished, qPrintable(result.cause));
        QCOMPARE(sink.lines, (QStringList{QStringLiteral("0|0.3|119|3"), QStringLiteral("0|7|0.1|00123")}));

        QString error;
        const QJsonObject out = dumpBook(s.outputPath, &error);
        QVERIFY2(error.isEmpty(), qPrintable(error));
        const QJsonObject dest = dumpBook(s.destPath);
        const auto cell = [&out](const char* coordinate) { return cellOf(out, 0, QLatin1String(coordinate)); };
        const std::tuple<const char*, const char*, const char*> fillIns[] = {
            {"B2", "n", "119"}, {"C2", "n", "3"}, {"B3", "n", "0.1"}, {"C3", "s", "00123"}};
        for (const auto& [coordinate, type, value] : fillIns) {
            QCOMPARE(cell(coordinate).value(QStringLiteral("type")).toString(), QLatin1String(type));
            QCOMPARE(cell(coordinate).value(QStringLiteral("value")).toString(), QLatin1String(value));
        }
        QVERIFY2(cell("B2").value(QStringLiteral("bold")).toBool(), "the fill-in keeps the cell's style");
        QCOMPARE(cell("C2").value(QStringLiteral("format")), cellOf(dest, 0, QStringLiteral("C2")).value(QStringLiteral("format")));
    }

private:
    QTemporaryDir m_fixtures;
};

QTEST_GUILESS_MAIN(TestExcelValues)
#include "tst_excelvalues.moc"
