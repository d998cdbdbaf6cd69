// Pins that a value reads as the same text whichever program wrote it and whichever format holds
// it: numbers as a spreadsheet shows them (15 significant digits), elapsed times as durations,
// booleans and error codes by name, also in .xls files.
#include "office/workbook.h"
#include "office/officeconvert.h"
#include "officetestutil.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <map>

class TestCellValues : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        QVERIFY(m_temp.isValid());
        runPython({officeTestFile("make_values.py"), m_temp.path()});
        QVERIFY2(QFile::exists(m_temp.filePath(QStringLiteral("xlwt.xls"))), "the writers wrote the books");
        if (!officeConverterAvailable())
            return;
        // LibreOffice calculates the formulas and stores their results, as a spreadsheet program does.
        QProcess office;
        office.start(QStringLiteral("soffice"),
                     {QStringLiteral("-env:UserInstallation=file://") + m_temp.filePath(QStringLiteral("profile")),
                      QStringLiteral("--headless"), QStringLiteral("--convert-to"), QStringLiteral("xlsx"),
                      QStringLiteral("--outdir"), m_temp.filePath(QStringLiteral("calculated")),
                      m_temp.filePath(QStringLiteral("formulas.xlsx"))});
        QVERIFY(office.waitForFinished(180000));
        QVERIFY2(QFile::exists(m_temp.filePath(QStringLiteral("calculated/formulas.xlsx"))),
                 office.readAll().constData());
    }

    void everyWriterGivesTheSameText_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("text");
        const std::pair<const char*, const char*> values[] = {
            {"a sum that is not 0.3", "0.3"},
            {"a product that is not 11.9", "11.9"},
            {"a computed 119", "119"},
            {"just below 3", "3"},
            {"just above 7", "7"},
            {"more digits than 15", "1234567.89012346"},
            {"a third", "0.333333333333333"},
            {"minus a third", "-0.333333333333333"},
            {"2 to the 53rd", "9.00719925474099E+15"},
            {"a tenth", "0.1"},
            {"rounds up to 1E+15", "1E+15"},
            {"rounds up to 0.0001", "0.0001"},
            {"small, scientific", "1.23456789012346E-07"},
            {"large whole number", "123456789012"},
            {"minus zero", "0"},
            {"elapsed hours", "36:00:00"},
            {"whole days elapsed", "48:00:00"},
            {"elapsed minutes", "18:00:00"},
            {"elapsed hours and minutes", "30:00:00"},
            {"elapsed seconds round to the nearest", "25:01:02"},
            {"negative elapsed time", "-06:00:00"},
            {"a time of day stays one", "12:00:00"},
            {"true", "TRUE"},
            {"false", "FALSE"},
            {"division by zero", "#DIV/0!"},
            {"not available", "#N/A"},
            {"a text", "00123"},
        };
        for (const char* file : {"openpyxl.xlsx", "xlsxwriter.xlsx", "xlwt.xls", "calculated/formulas.xlsx"})
            for (const auto& [name, text] : values)
                QTest::addRow("%s: %s", file, name) << file << name << text;
    }
    void everyWriterGivesTheSameText() {
        QFETCH(QString, file);
        QFETCH(QString, name);
        QFETCH(QString, text);
        if (file.startsWith(QLatin1String("calculated/")) && !officeConverterAvailable())
            QSKIP("LibreOffice is not installed");
        Workbook& book = opened(file);
        int row = 1;
        while (row <= book.usedRows() && book.cellText(row, 1) != name)
            ++row;
        QVERIFY2(row <= book.usedRows(), "the book holds the value");
        QCOMPARE(book.cellText(row, 2), text);
    }

    // The scan that corrects the .xls reader's booleans keeps each sheet's cells on that sheet.
    void xlsCorrectionsStayOnTheirSheet() {
        Workbook& book = opened(QStringLiteral("xlwt.xls"));
        book.selectSheet(2);
        QCOMPARE(book.cellText(1, 1), QStringLiteral("FALSE"));
        QCOMPARE(book.cellText(1, 2), QStringLiteral("1"));
        book.selectSheet(1);
        QCOMPARE(book.cellText(1, 1), QStringLiteral("a sum that is not 0.3"));
    }

private:
    Workbook& opened(const QString& file) {
        auto& book = m_books[file];
        if (!book) {
            book = openWorkbook(m_temp.filePath(file));
            book->selectSheet(1);
        }
        return *book;
    }

    QTemporaryDir m_temp;
    std::map<QString, std::unique_ptr<Workbook>> m_books;
};

QTEST_GUILESS_MAIN(TestCellValues)
#include "tst_cellvalues.moc"
