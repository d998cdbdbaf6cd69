// Pins the comma-separated text reader and writer: quoting, separators, encodings, used range,
// damaged input, and saving the values in the other formats.
#include "office/csvworkbook.h"
#include "office/officeconvert.h"
#include "officetestutil.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

using Rows = QList<QStringList>;

namespace {
// text in UTF-16 after its byte order mark.
QByteArray utf16(QStringView text, bool little = true) {
    QByteArray bytes;
    for (QChar c : QChar(0xFEFF) + text.toString()) {
        const char16_t u = c.unicode();
        bytes += char(little ? u & 0xFF : u >> 8);
        bytes += char(little ? u >> 8 : u & 0xFF);
    }
    return bytes;
}

Rows allCells(const Workbook& book) {
    Rows rows;
    for (int row = 1; row <= book.usedRows(); ++row) {
        QStringList texts;
        for (int column = 1; column <= book.usedColumns(); ++column)
            texts << book.cellText(row, column);
        rows << texts;
    }
    return rows;
}
} // namespace

class TestCsv : public QObject {
    Q_OBJECT

private slots:
    void init() {
        m_temp = std::make_unique<QTemporaryDir>();
        QVERIFY(m_temp->isValid());
        m_dir.setPath(m_temp->path());
    }

    void readsFieldsExactly_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<Rows>("expected");
        QTest::newRow("plain fields, LF lines") << QByteArray("a,b\nc,d\n") << Rows{{"a", "b"}, {"c", "d"}};
        QTest::newRow("CRLF lines, no final line break")
            << QByteArray("a,b\r\nc,d") << Rows{{"a", "b"}, {"c", "d"}};
        QTest::newRow("lone CR lines") << QByteArray("a,b\rc,d\r") << Rows{{"a", "b"}, {"c", "d"}};
        QTest::newRow("numbers kept as written")
            << QByteArray("1.50,007, 3 ,1e3\n") << Rows{{"1.50", "007", " 3 ", "1e3"}};
        QTest::newRow("quoted separator, quote and line breaks")
            << QByteArray("\"x,y\",\"say \"\"hi\"\"\",\"one\r\ntwo\",\"three\nfour\"\r\n")
            << Rows{{"x,y", "say \"hi\"", "one\ntwo", "three\nfour"}};
        QTest::newRow("empty quoted field and doubled quotes alone")
            << QByteArray("\"\",\"\"\"\"\n") << Rows{{"", "\""}};
        QTest::newRow("quote inside an unquoted field is a character")
            << QByteArray("ab\"c,d\n") << Rows{{"ab\"c", "d"}};
        QTest::newRow("text after a closing quote is kept")
            << QByteArray("\"ab\"c,d\n") << Rows{{"abc", "d"}};
        QTest::newRow("byte order mark is not part of the first field")
            << QByteArray("\xEF\xBB\xBFname,mail\n") << Rows{{"name", "mail"}};
        QTest::newRow("semicolons outnumber commas in the first line")
            << QByteArray("a;b,c;d\n1,5;2;3\n") << Rows{{"a", "b,c", "d"}, {"1,5", "2", "3"}};
        QTest::newRow("a tie goes to the comma") << QByteArray("a;b,c\n") << Rows{{"a;b", "c"}};
        QTest::newRow("separators inside quotes do not vote")
            << QByteArray("\"x;y;z\",b\n") << Rows{{"x;y;z", "b"}};
        QTest::newRow("empty line inside counts as a row, trailing ones do not")
            << QByteArray("a\n\nb\n\n\n") << Rows{{"a"}, {""}, {"b"}};
        QTest::newRow("leading empty rows and columns stay in the used range")
            << QByteArray(",,\n,,x\n") << Rows{{"", "", ""}, {"", "", "x"}};
        QTest::newRow("ragged rows, empty trailing fields")
            << QByteArray("a,,,\nb,c\nd,,,,,\n") << Rows{{"a", ""}, {"b", "c"}, {"d", ""}};
        QTest::newRow("non-ASCII text") << QByteArray("Zoë,日本,😀\n") << Rows{{"Zoë", "日本", "😀"}};
        QTest::newRow("nothing at all") << QByteArray() << Rows{};
        QTest::newRow("only blanks are texts") << QByteArray(" ,\t\n") << Rows{{" ", "\t"}};
    }
    void readsFieldsExactly() {
        QFETCH(QByteArray, bytes);
        QFETCH(Rows, expected);
        const QString path = m_dir.filePath(QStringLiteral("in.csv"));
        writeBytes(path, bytes);
        const auto book = openCsvWorkbook(path, {});
        QCOMPARE(book->sheetCount(), 1);
        QCOMPARE(book->selectedSheet(), 1);
        QCOMPARE(allCells(*book), expected);
        QCOMPARE(book->cellText(book->usedRows() + 1, 1), QString());
        QCOMPARE(book->cellText(1, book->usedColumns() + 1), QString());
    }

    void damagedTextIsRefusedWithItsPlace_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("cause");
        QTest::newRow("NUL byte") << QByteArray("a,b\nc,\0d\n", 9)
                                  << QStringLiteral("line 2: holds a NUL byte");
        QTest::newRow("a byte order mark says UTF-8, a byte is not")
            << QByteArray("\xEF\xBB\xBF" "a\nb\nZo\xEB\n") << QStringLiteral("line 3: not UTF-8");
        QTest::newRow("a byte order mark says UTF-8, the file ends inside a character")
            << QByteArray("\xEF\xBB\xBF" "ab\xE6\x97") << QStringLiteral("UTF-8 sequence");
        QTest::newRow("UTF-16 with a lone low surrogate")
            << utf16(u"a,b\n") + QByteArray("\x00\xDC", 2) << QStringLiteral("not UTF-16 text");
        QTest::newRow("UTF-16 with a high surrogate at the end")
            << utf16(u"a,b\n") + QByteArray("\x00\xD8", 2) << QStringLiteral("not UTF-16 text");
        QTest::newRow("UTF-16 ending in half a character")
            << utf16(u"a,b\n") + QByteArray("x") << QStringLiteral("ends in half a character");
        QTest::newRow("UTF-16 holding a NUL character")
            << utf16(u"a,b\n") + QByteArray(2, '\0') << QStringLiteral("line 2: holds a NUL byte");
        QTest::newRow("quote never closed")
            << QByteArray("a\n\"b,c\nd\n") << QStringLiteral("quoted field opened on line 2 is not closed");
        QTest::newRow("more fields than a sheet has columns")
            << QByteArray(16385, ',') << QStringLiteral("more than 16384 fields");
    }
    void damagedTextIsRefusedWithItsPlace() {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, cause);
        const QString path = m_dir.filePath(QStringLiteral("bad.csv"));
        writeBytes(path, bytes);
        try {
            openCsvWorkbook(path, {});
            QFAIL("damaged text was read");
        } catch (const WorkbookError& error) {
            QVERIFY2(error.cause().contains(cause), qPrintable(error.cause()));
            QVERIFY2(error.cause().contains(path), "the cause names the file");
        }
    }

    void otherEncodingsAreDecoded_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<Rows>("expected");
        QTest::newRow("UTF-16 little endian")
            << utf16(u"name,city\r\nZoë,日本\r\n") << Rows{{"name", "city"}, {"Zoë", "日本"}};
        QTest::newRow("UTF-16 big endian, a character beyond 16 bits")
            << utf16(u"a;\"b;c\"\n😀;x\n", false) << Rows{{"a", "b;c"}, {"😀", "x"}};
        QTest::newRow("Windows-1252 letters") << QByteArray("Zo\xEB,caf\xE9\n") << Rows{{"Zoë", "café"}};
        QTest::newRow("Windows-1252 between 0x80 and 0x9F")
            << QByteArray("\x80,\x93q\x94,\x8A\x9F,\x85\n") << Rows{{"€", "“q”", "ŠŸ", "…"}};
        QTest::newRow("bytes Windows-1252 leaves undefined") << QByteArray("\x81\x8D\n") << Rows{{"\u0081\u008D"}};
        QTest::newRow("an overlong UTF-8 form") << QByteArray("\xC0\xAF\n") << Rows{{"À¯"}};
        QTest::newRow("a surrogate in UTF-8 form") << QByteArray("\xED\xA0\x80\n") << Rows{{"í\u00A0€"}};
        QTest::newRow("ending inside a UTF-8 character") << QByteArray("ab\xE6\x97") << Rows{{"abæ—"}};
        QTest::newRow("UTF-8 before the first wrong byte is Windows-1252 too")
            << QByteArray("\xC3\xAB\n\"x\ny\",\xE9\n") << Rows{{"Ã«", ""}, {"x\ny", "é"}};
    }
    void otherEncodingsAreDecoded() {
        QFETCH(QByteArray, bytes);
        QFETCH(Rows, expected);
        const QString path = m_dir.filePath(QStringLiteral("encoded"));
        writeBytes(path, bytes);
        const auto book = openWorkbook(path);
        QCOMPARE(allCells(*book), expected);
    }

    void exactlyTheSheetsRowsAreRead_data() {
        QTest::addColumn<int>("lines");
        QTest::addColumn<bool>("read");
        QTest::newRow("as many lines as a sheet has rows") << 1048576 << true;
        QTest::newRow("one line more") << 1048577 << false;
    }
    void exactlyTheSheetsRowsAreRead() {
        QFETCH(int, lines);
        QFETCH(bool, read);
        const QString path = m_dir.filePath(QStringLiteral("tall.csv"));
        QByteArray bytes;
        bytes.reserve(lines * 2);
        for (int i = 0; i < lines; ++i)
            bytes += "x\n";
        writeBytes(path, bytes);
        try {
            const auto book = openCsvWorkbook(path, {});
            QVERIFY2(read, "a file longer than a sheet was read");
            QCOMPARE(book->usedRows(), lines);
        } catch (const WorkbookError& error) {
            QVERIFY2(!read, qPrintable(error.cause()));
            QVERIFY2(error.cause().contains(QStringLiteral("line 1048577: more than 1048576 rows")),
                     qPrintable(error.cause()));
        }
    }

    void aGlanceReadsOnlyTheFirstRows() {
        // Damage far down and a size beyond the limit: a glance at the top sees neither.
        QByteArray bytes;
        for (int i = 1; i <= 1000; ++i)
            bytes += "row " + QByteArray::number(i) + ",x\n";
        bytes += "\xFF\n";
        const QString path = m_dir.filePath(QStringLiteral("long.csv"));
        writeBytes(path, bytes);
        {
            QFile file(path);
            QVERIFY(file.resize(kCsvSizeLimit + 1)); // sparse tail of NUL bytes
        }
        const auto glance = openCsvWorkbook(path, {20});
        QCOMPARE(glance->usedRows(), 20);
        QCOMPARE(glance->cellText(20, 1), QStringLiteral("row 20"));
        try {
            openCsvWorkbook(path, {});
            QFAIL("an oversized file was read whole");
        } catch (const WorkbookError& error) {
            QVERIFY2(error.cause().contains(QStringLiteral("larger than 64 MB")), qPrintable(error.cause()));
        }
    }

    void changesAndUsedRange() {
        const QString path = m_dir.filePath(QStringLiteral("range.csv"));
        writeBytes(path, "a,b\nc,d\n");
        const auto book = openCsvWorkbook(path, {});
        book->setCellText(5, 4, QStringLiteral("far"));
        QCOMPARE(book->usedRows(), 5);
        QCOMPARE(book->usedColumns(), 4);
        QCOMPARE(book->cellText(5, 4), QStringLiteral("far"));
        book->setCellText(5, 4, QString());
        QCOMPARE(book->usedRows(), 2);
        QCOMPARE(book->usedColumns(), 2);
        book->setCellText(2, 2, QString());
        book->setCellText(2, 1, QString());
        QCOMPARE(book->usedRows(), 1);
        book->setCellText(1, 1, QStringLiteral("A"));
        QCOMPARE(allCells(*book), (Rows{{"A", "b"}}));
    }

    void aFarCellDoesNotWidenEveryRow() {
        const QString path = m_dir.filePath(QStringLiteral("sparse.csv"));
        writeBytes(path, "a,b\n");
        const auto book = openCsvWorkbook(path, {});
        book->setCellText(100000, 16000, QStringLiteral("far"));
        const QString out = m_dir.filePath(QStringLiteral("sparse-out.csv"));
        book->saveAs(out);
        QVERIFY2(QFileInfo(out).size() < 200000, "empty rows are written as empty lines");
        const auto back = openCsvWorkbook(out, {});
        QCOMPARE(back->usedRows(), 100000);
        QCOMPARE(back->usedColumns(), 16000);
        QCOMPARE(back->cellText(100000, 16000), QStringLiteral("far"));
        QCOMPARE(back->cellText(1, 2), QStringLiteral("b"));
    }

    void savedTextKeepsTheFilesFormat_data() {
        QTest::addColumn<QByteArray>("original");
        QTest::addColumn<QByteArray>("saved");
        QTest::newRow("semicolons, BOM and CRLF stay")
            << QByteArray("\xEF\xBB\xBFname;city\r\nAnn;Paris\r\n")
            << QByteArray("\xEF\xBB\xBFname;city;note\r\nAnn;Paris;\"x;y\"\r\nBob;;\"say \"\"a\"\";b\"\r\n");
        QTest::newRow("commas and LF without BOM stay")
            << QByteArray("name,city\nAnn,Paris\n")
            << QByteArray("name,city,note\nAnn,Paris,x;y\nBob,,\"say "
                          "\"\"a\"\";b\"\n");
        QTest::newRow("UTF-16 stays")
            << utf16(u"name;city\r\nAnn;Paris\r\n")
            << utf16(u"name;city;note\r\nAnn;Paris;\"x;y\"\r\nBob;;\"say \"\"a\"\";b\"\r\n");
        QTest::newRow("Windows-1252 becomes UTF-8 with BOM, which holds any fill-in")
            << QByteArray("name,city\nZo\xEB,Paris\n")
            << QByteArray("\xEF\xBB\xBFname,city,note\nZoë,Paris,x;y\nBob,,\"say \"\"a\"\";b\"\n");
    }
    void savedTextKeepsTheFilesFormat() {
        QFETCH(QByteArray, original);
        QFETCH(QByteArray, saved);
        const QString path = m_dir.filePath(QStringLiteral("orig.csv"));
        writeBytes(path, original);
        const auto book = openCsvWorkbook(path, {});
        book->setCellText(1, 3, QStringLiteral("note"));
        book->setCellText(2, 3, QStringLiteral("x;y"));
        book->setCellText(3, 1, QStringLiteral("Bob"));
        book->setCellText(3, 3, QStringLiteral("say \"a\";b"));
        const QString out = m_dir.filePath(QStringLiteral("out.csv"));
        book->saveAs(out);
        QFile file(out);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), saved);
        QCOMPARE(allCells(*openCsvWorkbook(out, {})), allCells(*book));
    }

    void lineBreaksAndQuotesSurviveARoundTrip() {
        const QString path = m_dir.filePath(QStringLiteral("trip.csv"));
        writeBytes(path, "a\n");
        const auto book = openCsvWorkbook(path, {});
        const Rows values{{"line\nbreak", "\"quoted\"", " padded ", "semi;colon"},
                          {"", "comma,", "", "tab\t"}};
        for (int r = 0; r < values.size(); ++r)
            for (int c = 0; c < values[r].size(); ++c)
                book->setCellText(r + 1, c + 1, values[r][c]);
        const QString out = m_dir.filePath(QStringLiteral("trip-out.csv"));
        book->saveAs(out);
        QCOMPARE(allCells(*openCsvWorkbook(out, {})), values);
    }

    void savedAsXlsxIsANewWorkbookOfTheValues() {
        const QString path = m_dir.filePath(QStringLiteral("values.csv"));
        writeBytes(path, "name;amount\nAnn;1.50\nZoë;007\n");
        const auto book = openCsvWorkbook(path, {});
        book->setCellText(2, 3, QStringLiteral("added"));
        const QString out = m_dir.filePath(QStringLiteral("values.xlsx"));
        book->saveAs(out);
        QCOMPARE(readWithOpenpyxl(out),
                 (Rows{{"name", "amount", ""}, {"Ann", "1.50", "added"}, {"Zoë", "007", ""}}));
    }

    void savedAsXlsThroughTheConverter() {
        if (!officeConverterAvailable())
            QSKIP("LibreOffice is not installed");
        const QString path = m_dir.filePath(QStringLiteral("legacy.csv"));
        writeBytes(path, "name,amount\nAnn,12\n");
        const auto book = openCsvWorkbook(path, {});
        book->setCellText(3, 1, QStringLiteral("Zoë"));
        const QString out = m_dir.filePath(QStringLiteral("legacy.xls"));
        book->saveAs(out);
        const auto back = openWorkbook(out);
        back->selectSheet(1);
        QCOMPARE(allCells(*back), (Rows{{"name", "amount"}, {"Ann", "12"}, {"Zoë", ""}}));
        QCOMPARE(m_dir.entryList({QStringLiteral("*.xls*")}, QDir::Files), QStringList{"legacy.xls"});
    }

    void savingAsXlsWithoutTheConverterSaysWhatToDo() {
        const QByteArray path = qgetenv("PATH");
        qputenv("PATH", m_dir.path().toLocal8Bit());
        const auto restore = qScopeGuard([&] { qputenv("PATH", path); });
        QVERIFY(!officeConverterAvailable());
        const QString source = m_dir.filePath(QStringLiteral("src.csv"));
        writeBytes(source, "a,b\n");
        const auto book = openCsvWorkbook(source, {});
        const QString out = m_dir.filePath(QStringLiteral("out.xls"));
        try {
            book->saveAs(out);
            QFAIL("saved as .xls without the converter");
        } catch (const WorkbookError& error) {
            QVERIFY2(error.cause().contains(QStringLiteral("saving as .xls needs LibreOffice")),
                     qPrintable(error.cause()));
            QVERIFY2(error.cause().contains(QStringLiteral(".xlsx, which works without it")),
                     qPrintable(error.cause()));
        }
        QCOMPARE(m_dir.entryList(QDir::Files), QStringList{"src.csv"});
    }

    void aSaveThatFailsLeavesNothing_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("cause");
        QTest::newRow("unknown extension")
            << QStringLiteral("out.txt") << QStringLiteral("must end in .xlsx");
        QTest::newRow("folder that does not exist")
            << QStringLiteral("missing/out.csv") << QStringLiteral("cannot write");
    }
    void aSaveThatFailsLeavesNothing() {
        QFETCH(QString, name);
        QFETCH(QString, cause);
        const QString path = m_dir.filePath(QStringLiteral("src.csv"));
        writeBytes(path, "a,b\n");
        const auto book = openCsvWorkbook(path, {});
        const QString out = m_dir.filePath(name);
        try {
            book->saveAs(out);
            QFAIL("the save did not fail");
        } catch (const WorkbookError& error) {
            QVERIFY2(error.cause().contains(cause), qPrintable(error.cause()));
        }
        QVERIFY(!QFile::exists(out));
        QCOMPARE(m_dir.entryList(QDir::Files), QStringList{"src.csv"});
    }

private:
    // A folder of its own for every test function, so that a test can check what it left behind.
    std::unique_ptr<QTemporaryDir> m_temp;
    QDir m_dir;
};

QTEST_GUILESS_MAIN(TestCsv)
#include "tst_csv.moc"
