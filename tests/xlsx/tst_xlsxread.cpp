// Pins how .xlsx workbooks written by other programs read: cell texts, sheet order, used range,
// glances at the top of large books, and the causes given for damaged packages.
#include "office/xlsxworkbook.h"
#include "xlsx/xlsxfixtures.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

namespace {

std::pair<int, int> cellPosition(const QString& ref) {
    int column = 0, i = 0;
    for (; i < ref.size() && ref[i].isLetter(); ++i)
        column = column * 26 + (ref[i].unicode() - u'A' + 1);
    return {ref.mid(i).toInt(), column};
}

} // namespace

class TestXlsxRead : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QString fixture(const QString& name) const { return m_dir.filePath(name); }

private slots:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        const QString failure = makeXlsxFixtures(m_dir.path());
        QVERIFY2(failure.isEmpty(), qPrintable(failure));
    }

    void cellTexts_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("sheet");
        QTest::addColumn<QString>("cell");
        QTest::addColumn<QString>("text");
        auto row = [](const char* name, const char* file, int sheet, const char* cell, const QString& text) {
            QTest::newRow(name) << file << sheet << cell << text;
        };
        row("inline string", "openpyxl.xlsx", 1, "A1", "hello");
        row("blanks around a string stay", "openpyxl.xlsx", 1, "B1", " padded ");
        row("non-ASCII string", "openpyxl.xlsx", 1, "C1", QString::fromUtf8("ünïcödé €"));
        row("tab inside a string", "openpyxl.xlsx", 1, "D1", "tab\there");
        row("integer", "openpyxl.xlsx", 1, "A2", "42");
        row("negative integer", "openpyxl.xlsx", 1, "B2", "-7");
        row("large integer in plain notation", "openpyxl.xlsx", 1, "C2", "1234567890123");
        row("decimal that has no exact binary form", "openpyxl.xlsx", 1, "D2", "0.1");
        row("1E+15 is where scientific notation starts", "openpyxl.xlsx", 1, "A3", "1E+15");
        row("small number in scientific notation", "openpyxl.xlsx", 1, "B3", "2.5E-07");
        row("minus zero reads as zero", "openpyxl.xlsx", 1, "C3", "0");
        row("decimal", "openpyxl.xlsx", 1, "D3", "123456.789");
        row("display format does not round", "openpyxl.xlsx", 1, "B6", "3.14159");
        row("0.0001 is still plain", "openpyxl.xlsx", 1, "C6", "0.0001");
        row("just below 1E+15 is still plain", "openpyxl.xlsx", 1, "D6", "99999999999999.9");
        row("boolean true", "openpyxl.xlsx", 1, "A4", "TRUE");
        row("boolean false", "openpyxl.xlsx", 1, "B4", "FALSE");
        row("error cell", "openpyxl.xlsx", 1, "C4", "#N/A");
        row("another error cell", "openpyxl.xlsx", 1, "D4", "#DIV/0!");
        row("date", "openpyxl.xlsx", 1, "A5", "2024-01-05");
        row("date and time", "openpyxl.xlsx", 1, "B5", "2024-01-05 13:45:00");
        row("time of day", "openpyxl.xlsx", 1, "C5", "13:45:30");
        row("formula never calculated is empty", "openpyxl.xlsx", 1, "A6", "");
        row("custom date format", "openpyxl.xlsx", 1, "A7", "2023-12-31 23:59:59");
        row("letters in quotes are no date codes", "openpyxl.xlsx", 1, "B7", "45000.5");
        row("elapsed hours are a time", "openpyxl.xlsx", 1, "C7", "18:00:00");
        row("a colour in brackets is no date code", "openpyxl.xlsx", 1, "D7", "45000");
        row("values that start late", "openpyxl.xlsx", 2, "C3", "first");
        row("nothing before them", "openpyxl.xlsx", 2, "A1", "");
        row("last value of a late sheet", "openpyxl.xlsx", 2, "E9", "last");

        row("shared string", "xlsxwriter.xlsx", 1, "A1", "Name");
        row("shared string used twice", "xlsxwriter.xlsx", 1, "A2", "Name");
        row("rich text runs joined", "xlsxwriter.xlsx", 1, "C1", "rich bold and italic");
        row("cached number of a formula", "xlsxwriter.xlsx", 1, "C2", "2469");
        row("cached text of a formula", "xlsxwriter.xlsx", 1, "D2", "xName");
        row("cached error of a formula", "xlsxwriter.xlsx", 1, "E2", "#DIV/0!");
        row("cached boolean of a formula", "xlsxwriter.xlsx", 1, "F2", "TRUE");
        row("date from a built-like format", "xlsxwriter.xlsx", 1, "A3", "2024-01-05");
        row("date-time", "xlsxwriter.xlsx", 1, "B3", "2024-01-05 13:45:00");
        row("time alone", "xlsxwriter.xlsx", 1, "C3", "09:30:00");
        row("empty shared string", "xlsxwriter.xlsx", 1, "A4", "");
        row("formula giving an empty text", "xlsxwriter.xlsx", 1, "A5", "");
        row("serial 1 is the first of January 1900", "xlsxwriter.xlsx", 1, "A6", "1900-01-01");
        row("serial 59 is the 28th of February 1900", "xlsxwriter.xlsx", 1, "B6", "1900-02-28");
        row("serial 60, a day that never was, reads as the 28th", "xlsxwriter.xlsx", 1, "C6", "1900-02-28");
        row("serial 61 is the first of March 1900", "xlsxwriter.xlsx", 1, "D6", "1900-03-01");
        row("sheet behind a chart sheet", "xlsxwriter.xlsx", 3, "B2", "behind the chart");

        row("1904 system: date", "date1904.xlsx", 1, "A3", "2024-01-05");
        row("1904 system: date-time", "date1904.xlsx", 1, "B3", "2024-01-05 13:45:00");
        row("1904 system: time", "date1904.xlsx", 1, "C3", "09:30:00");
        row("1904 system: serial 1", "date1904.xlsx", 1, "A6", "1904-01-02");

        row("inline rich runs joined, phonetic run left out", "raw.xlsx", 1, "A1", "inline ");
        row("escaped characters", "raw.xlsx", 1, "A2", "a\tb_x0041_");
        row("cached value of a shared formula", "raw.xlsx", 1, "B3", "3");
        row("cells without references follow each other", "raw.xlsx", 1, "A3", "formula text");
        row("outside the used range", "raw.xlsx", 1, "Z99", "");
    }

    void cellTexts() {
        QFETCH(QString, file);
        QFETCH(int, sheet);
        QFETCH(QString, cell);
        QFETCH(QString, text);
        auto book = openXlsxWorkbook(fixture(file), {});
        book->selectSheet(sheet);
        const auto [row, column] = cellPosition(cell);
        QCOMPARE(book->cellText(row, column), text);
    }

    void usedRange_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("sheet");
        QTest::addColumn<int>("rows");
        QTest::addColumn<int>("columns");
        QTest::newRow("typed values") << "openpyxl.xlsx" << 1 << 7 << 4;
        QTest::newRow("empty first rows do not cut the last ones") << "openpyxl.xlsx" << 2 << 9 << 5;
        QTest::newRow("empty sheet") << "openpyxl.xlsx" << 3 << 0 << 0;
        QTest::newRow("empty texts do not count") << "xlsxwriter.xlsx" << 1 << 6 << 6;
        QTest::newRow("chart sheet has no rows") << "xlsxwriter.xlsx" << 2 << 0 << 0;
        QTest::newRow("stale dimension is not trusted") << "raw.xlsx" << 1 << 3 << 2;
    }

    void usedRange() {
        QFETCH(QString, file);
        QFETCH(int, sheet);
        QFETCH(int, rows);
        QFETCH(int, columns);
        auto book = openXlsxWorkbook(fixture(file), {});
        book->selectSheet(sheet);
        QCOMPARE(book->selectedSheet(), sheet);
        QCOMPARE(book->usedRows(), rows);
        QCOMPARE(book->usedColumns(), columns);
    }

    void sheetsCountByPositionChartSheetsIncluded() {
        auto book = openXlsxWorkbook(fixture("xlsxwriter.xlsx"), {});
        QCOMPARE(book->sheetCount(), 3);
        auto other = openXlsxWorkbook(fixture("openpyxl.xlsx"), {});
        QCOMPARE(other->sheetCount(), 3);
        // "Zeta" comes first although "Alpha" sorts before it
        other->selectSheet(1);
        QCOMPARE(other->cellText(1, 1), QStringLiteral("hello"));
    }

    void damagedSheetLeavesTheOthersReadable() {
        auto book = openXlsxWorkbook(fixture("onebad.xlsx"), {});
        QCOMPARE(book->sheetCount(), 2);
        try {
            book->selectSheet(2);
            QFAIL("a truncated sheet was read");
        } catch (const WorkbookError& e) {
            QVERIFY2(e.cause().startsWith(QLatin1String("sheet 2, ")), qPrintable(e.cause()));
        }
        QCOMPARE(book->selectedSheet(), 0);
        book->selectSheet(1);
        QCOMPARE(book->cellText(1, 1), QStringLiteral("fine"));
    }

    void rowLimitReadsTheTopOnly() {
        auto glance = openXlsxWorkbook(fixture("big.xlsx"), {20});
        glance->selectSheet(1);
        QCOMPARE(glance->usedRows(), 20);
        QCOMPARE(glance->usedColumns(), 2);
        QCOMPARE(glance->cellText(20, 1), QStringLiteral("row 20"));
        QCOMPARE(glance->cellText(21, 1), QString());

        auto whole = openXlsxWorkbook(fixture("big.xlsx"), {});
        whole->selectSheet(1);
        QCOMPARE(whole->usedRows(), 50000);
        QCOMPARE(whole->cellText(50000, 1), QStringLiteral("row 50000"));
        QCOMPARE(whole->cellText(50000, 2), QStringLiteral("50000"));

        // The glance must not cost the whole sheet (nor all of its shared strings).
        QElapsedTimer timer;
        qint64 glanceTime = std::numeric_limits<qint64>::max(), wholeTime = glanceTime;
        for (int i = 0; i < 3; ++i) {
            timer.start();
            openXlsxWorkbook(fixture("big.xlsx"), {20})->selectSheet(1);
            glanceTime = std::min(glanceTime, timer.nsecsElapsed());
            timer.start();
            openXlsxWorkbook(fixture("big.xlsx"), {})->selectSheet(1);
            wholeTime = std::min(wholeTime, timer.nsecsElapsed());
        }
        QVERIFY2(
            glanceTime * 5 < wholeTime,
            qPrintable(
                QStringLiteral("glance %1 us, whole %2 us").arg(glanceTime / 1000).arg(wholeTime / 1000)));
    }

    void faults_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("sheet"); // 0: the fault shows when opening
        QTest::addColumn<QString>("cause");
        QTest::newRow("truncated zip") << "truncated.xlsx" << 0 << "not a workbook package";
        QTest::newRow("text file named .xlsx") << "text.xlsx" << 0 << "not a workbook package";
        QTest::newRow("package of another kind") << "notbook.xlsx" << 0 << "holds no workbook";
        QTest::newRow("entry inflating beyond its declared size") << "liar.xlsx" << 0 << "xl/workbook.xml";
        QTest::newRow("column beyond the last")
            << "badref.xlsx" << 1 << "sheet 1, cell XFE1: column beyond XFD";
        QTest::newRow("row beyond the last")
            << "hugerow.xlsx" << 1 << "sheet 1, row 1048577: row beyond 1048576";
        QTest::newRow("unclosed element")
            << "badxml.xlsx" << 1
            << "sheet 1, xl/worksheets/sheet1.xml: malformed XML at byte 117: </row> does not close";
        QTest::newRow("shared string that is not there")
            << "badshared.xlsx" << 1 << "sheet 1, cell B7: shared string index 912 out of range";
        QTest::newRow("entity declarations")
            << "doctype.xlsx" << 1 << "document type declarations are not accepted";
        QTest::newRow("sheet number beyond the last") << "openpyxl.xlsx" << 4 << "sheet 4 does not exist";
        QTest::newRow("sheet number zero") << "openpyxl.xlsx" << -1 << "sheet -1 does not exist";
    }

    void faults() {
        QFETCH(QString, file);
        QFETCH(int, sheet);
        QFETCH(QString, cause);
        try {
            auto book = openXlsxWorkbook(fixture(file), {});
            QVERIFY2(sheet != 0, "the package opened");
            book->selectSheet(sheet);
            QFAIL("the sheet was read");
        } catch (const WorkbookError& e) {
            QVERIFY2(e.cause().contains(cause), qPrintable(e.cause()));
        }
    }

    void packageInflatingBeyondTheLimitIsRefused() {
        const QString bomb = fixture("bomb.xlsx");
        QProcess python;
        python.start(TW_PYTHON, {TW_SOURCE_DIR "/tests/xlsx/make_bomb.py", bomb});
        QVERIFY(python.waitForFinished(240000));
        QCOMPARE(python.exitCode(), 0);
        QVERIFY(QFileInfo(bomb).size() < 20 << 20);
        auto book = openXlsxWorkbook(bomb, {});
        QElapsedTimer timer;
        timer.start();
        try {
            book->selectSheet(1);
            QFAIL("the sheet was read");
        } catch (const WorkbookError& e) {
            QVERIFY2(e.cause().contains(QLatin1String("beyond the limit")), qPrintable(e.cause()));
        }
        QVERIFY2(timer.elapsed() < 1000, "the size was not checked before inflating");
        QFile::remove(bomb);
    }
};

QTEST_GUILESS_MAIN(TestXlsxRead)
#include "tst_xlsxread.moc"
