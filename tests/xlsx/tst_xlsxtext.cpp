// Pins the texts of numbers and serial dates, and how a shared formula moves to another cell.
#include "office/celltext.h"
#include "office/xlsxparts.h"

#include <QtTest>

#include <cmath>
#include <limits>

class TestXlsxText : public QObject {
    Q_OBJECT

private slots:
    void numbers_data() {
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("text");
        QTest::newRow("zero") << 0.0 << "0";
        QTest::newRow("minus zero") << -0.0 << "0";
        QTest::newRow("whole number") << 3.0 << "3";
        QTest::newRow("negative whole number") << -42.0 << "-42";
        QTest::newRow("0.1, not 17 digits") << 0.1 << "0.1";
        QTest::newRow("sum that is not 0.3") << 0.1 + 0.2 << "0.3";
        QTest::newRow("15 significant digits, rounded") << 1234567.8901234567 << "1234567.89012346";
        QTest::newRow("rounding carries into the units") << 118.99999999999999 << "119";
        QTest::newRow("rounding down to a whole number") << 7.000000000000001 << "7";
        QTest::newRow("negative, rounded") << -2.9999999999999996 << "-3";
        QTest::newRow("carry into 1E+15 turns scientific") << 999999999999999.9 << "1E+15";
        QTest::newRow("carry into 0.0001 turns plain") << std::nextafter(1e-4, 0.0) << "0.0001";
        QTest::newRow("carry in scientific form") << 9.9999999999999999e20 << "1E+21";
        QTest::newRow("zeros between the digits stay") << 100.5 << "100.5";
        QTest::newRow("rounding drops the fraction of a large number") << 150000000000000.25 << "150000000000000";
        QTest::newRow("zeros after the point stay") << 0.00102 << "0.00102";
        QTest::newRow("2 to the 53rd") << 9007199254740992.0 << "9.00719925474099E+15";
        QTest::newRow("smallest plain magnitude") << 0.0001 << "0.0001";
        QTest::newRow("just below it") << 0.00009 << "9E-05";
        QTest::newRow("negative small") << -2.5e-7 << "-2.5E-07";
        QTest::newRow("largest plain whole number") << 999999999999999.0 << "999999999999999";
        QTest::newRow("1E+15 is scientific") << 1e15 << "1E+15";
        QTest::newRow("large with digits") << 1.2345678901234568e17 << "1.23456789012346E+17";
        QTest::newRow("three-digit exponent") << 1e300 << "1E+300";
        QTest::newRow("largest double") << std::numeric_limits<double>::max() << "1.79769313486232E+308";
        QTest::newRow("smallest subnormal") << std::numeric_limits<double>::denorm_min()
                                            << "4.94065645841247E-324";
        QTest::newRow("decimal below 1E+15") << 99999999999999.9 << "99999999999999.9";
        QTest::newRow("not a number") << std::numeric_limits<double>::quiet_NaN() << "#NUM!";
    }

    void numbers() {
        QFETCH(double, value);
        QFETCH(QString, text);
        QCOMPARE(numberText(value), text);
    }

    // What setCellText stores as a number: exactly the texts numbers read as, nothing else.
    void numberTexts_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("number");
        for (const char* text : {"0", "119", "-42", "1000000", "0.3", "-2.5", "0.0001", "1E+15", "2.5E-07",
                                 "-1.23456789012346E+17", "999999999999999", "1234567.89012346"})
            QTest::newRow(text) << QString::fromLatin1(text) << true;
        for (const char* text : {"", "00123", "007", "10/30", "1.50", "1.", ".5", "+5", " 5", "5 ", "-", "-0",
                                 "1e3", "1E3", "1E+3", "0.00001", "1E-04", "1000000000000000",
                                 "0.30000000000000004", "1234567890123456789", "1,5", "0x10", "inf", "nan",
                                 "=1+2", "=HYPERLINK(\"http://x\")", "\u0661\u0662"})
            QTest::newRow(text[0] ? text : "empty") << QString::fromUtf8(text) << false;
    }

    void numberTexts() {
        QFETCH(QString, text);
        QFETCH(bool, number);
        QCOMPARE(isNumberText(text), number);
    }

    void elapsedTimes_data() {
        QTest::addColumn<double>("days");
        QTest::addColumn<QString>("text");
        QTest::newRow("a day and a half") << 1.5 << "36:00:00";
        QTest::newRow("under an hour") << 0.01 << "00:14:24";
        QTest::newRow("more than 99 hours") << 5.0 << "120:00:00";
        QTest::newRow("rounding carries into the minutes") << 59.6 / 86400 << "00:01:00";
        QTest::newRow("half a second rounds up") << 1.5 / 86400 << "00:00:02";
        QTest::newRow("negative") << -0.25 << "-06:00:00";
        QTest::newRow("negative below half a second is zero") << -0.1 / 86400 << "00:00:00";
        QTest::newRow("beyond any clock") << 1e300 << "";
    }

    void elapsedTimes() {
        QFETCH(double, days);
        QFETCH(QString, text);
        QCOMPARE(elapsedTimeText(days), text);
    }

    void serialDates_data() {
        QTest::addColumn<double>("serial");
        QTest::addColumn<bool>("date1904");
        QTest::addColumn<bool>("hasDate");
        QTest::addColumn<bool>("hasTime");
        QTest::addColumn<QString>("text");
        QTest::newRow("a date") << 45296.0 << false << true << false << "2024-01-05";
        QTest::newRow("a date with its time")
            << 45296.5729166667 << false << true << true << "2024-01-05 13:45:00";
        QTest::newRow("midnight shown by a date-time format")
            << 45296.0 << false << true << true << "2024-01-05 00:00:00";
        QTest::newRow("a time under a date-only format still shows")
            << 45296.25 << false << true << false << "2024-01-05 06:00:00";
        QTest::newRow("time alone") << 0.5 << false << false << true << "12:00:00";
        QTest::newRow("seconds round to the nearest") << 0.99999999 << false << false << true << "00:00:00";
        QTest::newRow("rounding up to the next day")
            << 45296.999999999 << false << true << false << "2024-01-06";
        QTest::newRow("serial 1") << 1.0 << false << true << false << "1900-01-01";
        QTest::newRow("serial 59") << 59.0 << false << true << false << "1900-02-28";
        QTest::newRow("serial 60, the day that never was") << 60.0 << false << true << false << "1900-02-28";
        QTest::newRow("serial 61") << 61.0 << false << true << false << "1900-03-01";
        QTest::newRow("last day") << 2958465.0 << false << true << false << "9999-12-31";
        QTest::newRow("beyond the last day") << 2958466.0 << false << true << false << "";
        QTest::newRow("negative serial") << -1.0 << false << true << false << "";
        QTest::newRow("1904 system: day 0 is a date") << 0.0 << true << true << false << "1904-01-01";
        QTest::newRow("1904 system: a date") << 43834.0 << true << true << false << "2024-01-05";
        QTest::newRow("1904 system: time alone") << 0.25 << true << false << true << "06:00:00";
    }

    void serialDates() {
        QFETCH(double, serial);
        QFETCH(bool, date1904);
        QFETCH(bool, hasDate);
        QFETCH(bool, hasTime);
        QFETCH(QString, text);
        QCOMPARE(serialDateText(serial, date1904, hasDate, hasTime), text);
    }

    void sharedFormulaMoves_data() {
        QTest::addColumn<QString>("formula");
        QTest::addColumn<int>("rows");
        QTest::addColumn<int>("columns");
        QTest::addColumn<QString>("moved");
        QTest::newRow("relative reference") << "A1*2" << 1 << 0 << "A2*2";
        QTest::newRow("absolute parts stay") << "$A1+A$1+$A$1" << 2 << 1 << "$A3+B$1+$A$1";
        QTest::newRow("range") << "SUM(A1:B2)" << 1 << 1 << "SUM(B2:C3)";
        QTest::newRow("function names that look like cells")
            << "LOG10(A1)+ATAN2(1,B1)" << 1 << 0 << "LOG10(A2)+ATAN2(1,B2)";
        QTest::newRow("texts are left alone")
            << "\"A1\"&A1&\"say \"\"B2\"\"\"" << 1 << 0 << "\"A1\"&A2&\"say \"\"B2\"\"\"";
        QTest::newRow("quoted sheet name") << "'Sheet A1'!B1" << 1 << 0 << "'Sheet A1'!B2";
        QTest::newRow("sheet name") << "Sheet2!C3" << 0 << 1 << "Sheet2!D3";
        QTest::newRow("whole columns") << "SUM(A:B)" << 5 << 1 << "SUM(B:C)";
        QTest::newRow("whole rows") << "SUM(1:2)" << 3 << 4 << "SUM(4:5)";
        QTest::newRow("numbers stay") << "A1*1.5E+3+2" << 1 << 0 << "A2*1.5E+3+2";
        QTest::newRow("structured reference") << "Table1[Col1]+A1" << 1 << 0 << "Table1[Col1]+A2";
        QTest::newRow("beyond the last column") << "XFD1" << 0 << 1 << "#REF!";
        QTest::newRow("names are no references") << "TRUE+Rate*A1" << 1 << 0 << "TRUE+Rate*A2";
    }

    void sharedFormulaMoves() {
        QFETCH(QString, formula);
        QFETCH(int, rows);
        QFETCH(int, columns);
        QFETCH(QString, moved);
        QCOMPARE(QString::fromStdString(xlsx::shiftFormula(formula.toStdString(), rows, columns)), moved);
    }

    void cellReferences_data() {
        QTest::addColumn<QString>("ref");
        QTest::addColumn<QString>("problem");
        QTest::newRow("last cell") << "XFD1048576"
                                   << "";
        QTest::newRow("column beyond XFD") << "XFE1"
                                           << "column beyond XFD";
        QTest::newRow("row beyond the last") << "A1048577"
                                             << "row beyond 1048576";
        QTest::newRow("absurd length") << "AAAAAAAAAAAAAAAAAAAAAAAA99999999999999999"
                                       << "column beyond XFD";
        QTest::newRow("row zero") << "A0"
                                  << "not a cell reference";
        QTest::newRow("no row") << "AB"
                                << "not a cell reference";
        QTest::newRow("no column") << "12"
                                   << "not a cell reference";
        QTest::newRow("trailing junk") << "A1x"
                                       << "not a cell reference";
    }

    void cellReferences() {
        QFETCH(QString, ref);
        QFETCH(QString, problem);
        int row = 0, column = 0;
        const QByteArray utf8 = ref.toUtf8();
        QCOMPARE(xlsx::refProblem(xlsx::parseCellRef(utf8.toStdString(), row, column)), problem);
    }
};

QTEST_GUILESS_MAIN(TestXlsxText)
#include "tst_xlsxtext.moc"
