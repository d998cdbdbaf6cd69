// Pins the save of an OpenDocument spreadsheet with changed cells: the changes land where they are
// meant, numbers as numbers, and everything else of the package stays as it was, as odfpy, pandas
// and LibreOffice read it back.
#include "odsfixtures.h"

#include <QTemporaryDir>
#include <QtTest>

#include <map>
#include <tuple>

namespace {

using CellMap = std::map<std::tuple<int, int, int>, OdfpyCell>; // sheet, row, column

CellMap cellMap(const QList<OdfpySheet>& sheets) {
    CellMap map;
    for (int s = 0; s < sheets.size(); ++s)
        for (const OdfpyCell& cell : sheets[s].cells)
            map[{s + 1, cell.row, cell.column}] = cell;
    return map;
}

struct Edit {
    int sheet, row, column;
    QString text;
    const char* type; // as odfpy sees the saved cell; "" for a cell emptied
    const char* why;
};

// Every kind of place a change can land in the hand-made book.
const Edit kEdits[] = {
    {1, 2, 2, QStringLiteral("007"), "string", "a number replaced by a text that only looks like one"},
    {1, 13, 2, QString(), "", "a boolean emptied"},
    {2, 1, 5, QStringLiteral("x"), "string", "the middle of three repeated numbers"},
    {2, 3, 2, QStringLiteral("99"), "float", "the middle of three repeated rows"},
    {2, 6, 5, QStringLiteral("new"), "string", "inside repeated empty rows and cells"},
    {2, 9, 1, QStringLiteral("top"), "string", "the first cell of a merged range"},
    {2, 20, 3, QStringLiteral("-2.5E-07"), "float", "inside the trailing million empty rows"},
    {2, 1048576, 1, QStringLiteral("1E+15"), "float", "the last row of the sheet"},
    {4, 2, 2, QStringLiteral("in an empty sheet"), "string", "a sheet of empty rows only"},
};

} // namespace

class TestOdsWrite : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        QVERIFY(m_temp.isValid());
        runPython({odsTestFile("make_ods.py"), m_temp.filePath(QStringLiteral("hand"))});
        QVERIFY(QFile::exists(hand("handmade.ods")));
        auto book = openWorkbook(hand("handmade.ods"));
        for (const Edit& edit : kEdits) {
            book->selectSheet(edit.sheet);
            book->setCellText(edit.row, edit.column, edit.text);
        }
        book->saveAs(saved());
    }

    void changesLandWhereTheyAreMeant_data() {
        QTest::addColumn<int>("index");
        for (int i = 0; i < int(std::size(kEdits)); ++i)
            QTest::newRow(kEdits[i].why) << i;
    }
    void changesLandWhereTheyAreMeant() {
        QFETCH(int, index);
        const Edit& edit = kEdits[index];
        const CellMap after = cellMap(odfpy(saved()));
        const auto it = after.find({edit.sheet, edit.row, edit.column});
        if (edit.text.isEmpty()) {
            QVERIFY2(it == after.end(), "the cell holds nothing");
            return;
        }
        QVERIFY2(it != after.end(), "odfpy finds the cell");
        QCOMPARE(it->second.type, QString::fromLatin1(edit.type));
        if (it->second.type == QLatin1String("float"))
            QCOMPARE(it->second.value.toDouble(), edit.text.toDouble());
        else
            QCOMPARE(it->second.value, edit.text);
        auto book = openWorkbook(saved());
        book->selectSheet(edit.sheet);
        QCOMPARE(book->cellText(edit.row, edit.column), edit.text);
    }

    // Every cell odfpy finds in the saved book is the original one, style included, but the
    // changed ones; and the changed one keeps its style.
    void everythingElseStaysAsItWas() {
        CellMap expected = cellMap(odfpy(hand("handmade.ods")));
        const CellMap after = cellMap(odfpy(saved()));
        for (const Edit& edit : kEdits) {
            const std::tuple<int, int, int> key{edit.sheet, edit.row, edit.column};
            const auto before = expected.find(key);
            const QString style = before == expected.end() ? QString() : before->second.style;
            expected.erase(key);
            const auto now = after.find(key);
            if (now != after.end())
                QCOMPARE(now->second.style, style);
        }
        int unchanged = 0;
        for (const auto& [key, cell] : after) {
            const auto& [sheet, row, column] = key;
            const bool edited = std::any_of(std::begin(kEdits), std::end(kEdits), [&, s = sheet, r = row, c = column](const Edit& e) {
                return e.sheet == s && e.row == r && e.column == c;
            });
            if (edited)
                continue;
            const auto it = expected.find(key);
            QVERIFY2(it != expected.end(), qPrintable(QStringLiteral("a new cell at sheet %1, row %2, column %3")
                                                          .arg(sheet).arg(row).arg(column)));
            QCOMPARE(cell.type, it->second.type);
            QCOMPARE(cell.value, it->second.value);
            QCOMPARE(cell.style, it->second.style);
            expected.erase(it);
            ++unchanged;
        }
        QVERIFY2(expected.empty(), "no cell of the original went missing");
        QVERIFY(unchanged > 40);
    }

    // The type entry comes first and stored; every other entry is the original's, byte for byte,
    // but the content.
    void thePackageKeepsItsParts() {
        static const char* script = R"(
import sys, zipfile
a, b = zipfile.ZipFile(sys.argv[1]), zipfile.ZipFile(sys.argv[2])
first = b.infolist()[0]
assert first.filename == "mimetype" and first.compress_type == zipfile.ZIP_STORED, first
assert b.read("mimetype") == a.read("mimetype")
assert sorted(a.namelist()) == sorted(b.namelist()), (a.namelist(), b.namelist())
changed = [n for n in a.namelist() if a.read(n) != b.read(n)]
assert changed == ["content.xml"], changed
print("ok")
)";
        QCOMPARE(runPython({QStringLiteral("-c"), QString::fromLatin1(script), hand("handmade.ods"), saved()}).trimmed(),
                 QByteArray("ok"));
    }

    // pandas reads number fill-ins as numbers and the others as texts.
    void pandasReadsNumbersAsNumbers() {
        static const char* script = R"(
import sys, pandas
sheet = pandas.read_excel(sys.argv[1], engine="odf", header=None, sheet_name="Repeats")
print(repr(sheet.iat[2, 1]), repr(sheet.iat[0, 4]), repr(sheet.iat[19, 2]), sep="|")
)";
        const QList<QByteArray> values =
            runPython({QStringLiteral("-c"), QString::fromLatin1(script), saved()}).trimmed().split('|');
        QCOMPARE(values.size(), 3);
        QCOMPARE(values[0], QByteArray("99")); // pandas gives whole numbers as integers, texts quoted
        QCOMPARE(values[1], QByteArray("'x'"));
        QCOMPARE(values[2], QByteArray("-2.5e-07"));
    }

    // LibreOffice opens the saved book: the changes, the merge and the hidden sheet are there.
    void libreOfficeReadsTheSavedBook() {
        if (!officeConverterAvailable())
            QSKIP("LibreOffice is not installed");
        QVERIFY(convertWithLibreOffice({saved()}, QStringLiteral("xlsx"), m_temp.filePath(QStringLiteral("lo")),
                                       m_temp.filePath(QStringLiteral("profile"))));
        static const char* script = R"(
import sys, openpyxl
book = openpyxl.load_workbook(sys.argv[1])
values, repeats = book["Values"], book["Repeats"]
print(repr(values["B2"].value), repr(values["B13"].value), repr(repeats["B3"].value), repr(repeats["E1"].value),
      repr(repeats["F1"].value), repr(repeats["A9"].value), repr(repeats["C20"].value), repr(repeats["A1048576"].value),
      [str(r) for r in repeats.merged_cells.ranges], book["Hidden"].sheet_state, sep="|")
)";
        const QByteArray out = runPython({QStringLiteral("-c"), QString::fromLatin1(script),
                                          m_temp.filePath(QStringLiteral("lo/saved.xlsx"))})
                                   .trimmed();
        QCOMPARE(out, QByteArray("'007'|None|99|'x'|7|'top'|-2.5e-07|1000000000000000|['A9:B10']|hidden"));
    }

    // Texts come back as they were given, spaces and breaks included.
    void textsComeBackAsGiven_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("back");
        QTest::newRow("leading and trailing spaces") << "  two  " << "  two  ";
        QTest::newRow("runs of spaces between words") << "a b  c   d" << "a b  c   d";
        QTest::newRow("tabs") << "\ta\tb" << "\ta\tb";
        QTest::newRow("line breaks become paragraphs") << "one\n\nthree" << "one\n\nthree";
        QTest::newRow("a carriage return and line feed are one break") << "a\r\nb" << "a\nb";
        QTest::newRow("markup characters") << "<b> & \"q\" 'a'" << "<b> & \"q\" 'a'";
        QTest::newRow("a formula's text stays a text") << "=A1+1" << "=A1+1";
        QTest::newRow("characters XML cannot carry are left out") << QStringLiteral("a\u0001b") << "ab";
        QTest::newRow("beyond the basic plane") << QStringLiteral("\U0001F600 \u4E2D") << QStringLiteral("\U0001F600 \u4E2D");
        QTest::newRow("a number with a plus sign stays a text") << "+5" << "+5";
    }
    void textsComeBackAsGiven() {
        QFETCH(QString, text);
        QFETCH(QString, back);
        const QString path = m_temp.filePath(QStringLiteral("text.ods"));
        {
            auto book = openWorkbook(hand("short.ods"));
            book->selectSheet(1);
            book->setCellText(2, 2, text);
            book->saveAs(path);
        }
        auto book = openWorkbook(path);
        book->selectSheet(1);
        QCOMPARE(book->cellText(2, 2), back);
        const CellMap cells = cellMap(odfpy(path));
        const auto it = cells.find({1, 2, 2});
        QVERIFY(it != cells.end());
        QCOMPARE(it->second.value, back);
    }

    // A table without trailing rows gets new rows and cells after its last ones.
    void rowsAndCellsAfterTheEnd() {
        const QString path = m_temp.filePath(QStringLiteral("grown.ods"));
        auto book = openWorkbook(hand("short.ods"));
        book->selectSheet(1);
        book->setCellText(1, 5, QStringLiteral("e1"));
        book->setCellText(5, 3, QStringLiteral("5"));
        book->setCellText(7, 1, QString()); // nothing to write where there is no cell
        book->saveAs(path);
        const CellMap cells = cellMap(odfpy(path));
        QCOMPARE(cells.at({1, 1, 5}).value, QStringLiteral("e1"));
        QCOMPARE(cells.at({1, 5, 3}).type, QStringLiteral("float"));
        QCOMPARE(cells.at({1, 1, 2}).value, QStringLiteral("b"));
        QCOMPARE(cells.at({2, 1, 1}).value, QStringLiteral("other"));
        QCOMPARE(int(cells.size()), 6);
    }

    // An element of a row that is no cell takes no column, when reading as when saving.
    void anElementThatIsNoCellTakesNoColumn() {
        const QString path = m_temp.filePath(QStringLiteral("foreign.ods"));
        auto book = openWorkbook(hand("foreign.ods"));
        book->selectSheet(1);
        QCOMPARE(book->cellText(1, 2), QStringLiteral("b"));
        book->setCellText(1, 1, QStringLiteral("42"));
        book->saveAs(path);
        auto saved = openWorkbook(path);
        saved->selectSheet(1);
        QCOMPARE(saved->cellText(1, 1), QStringLiteral("42"));
        QCOMPARE(saved->cellText(1, 2), QStringLiteral("b"));
    }

    // A save that fails leaves no file behind and an older output as it was.
    void aFailedSaveLeavesNothing() {
        const QString folder = m_temp.filePath(QStringLiteral("failed"));
        QVERIFY(QDir().mkpath(folder));
        const QString path = folder + QStringLiteral("/out.ods");
        writeBytes(path, QByteArray("older"));
        auto book = openWorkbook(hand("short.ods"));
        book->selectSheet(1);
        book->setCellText(1048577, 1, QStringLiteral("below the sheet"));
        QVERIFY_THROWS_EXCEPTION(WorkbookError, book->saveAs(path));
        QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("out.ods")});
        QFile older(path);
        QVERIFY(older.open(QIODevice::ReadOnly));
        QCOMPARE(older.readAll(), QByteArray("older"));
    }

    // The Excel-to-Excel run with a destination LibreOffice saved: the output is an .ods that
    // LibreOffice and pandas read with the fill-ins in place and the rest of the book as it was.
    void aMergeIntoALibreOfficeBook() {
        if (!officeConverterAvailable())
            QSKIP("LibreOffice is not installed");
        static const char* script = R"(
import sys, openpyxl
from openpyxl.styles import Font
folder = sys.argv[1]
source = openpyxl.Workbook()
for row in [("key", "amount", "note"), ("k1", 42, "hello"), ("k2", 2.5, "007"), ("k3", 1e15, "x")]:
    source.active.append(row)
source.save(folder + "/source.xlsx")
dest = openpyxl.Workbook()
sheet = dest.active
sheet.title = "Orders"
for row in [("key", "amount", "note"), ("k2", None, None), ("k9", None, None), ("k1", None, None)]:
    sheet.append(row)
sheet["A1"].font = Font(bold=True)
dest.create_sheet("Notes")["A1"] = "kept"
dest.save(folder + "/dest.xlsx")
)";
        const QString folder = m_temp.filePath(QStringLiteral("merge"));
        QVERIFY(QDir().mkpath(folder));
        runPython({QStringLiteral("-c"), QString::fromLatin1(script), folder});
        QVERIFY(convertWithLibreOffice({folder + QStringLiteral("/dest.xlsx")}, QStringLiteral("ods"), folder,
                                       m_temp.filePath(QStringLiteral("profile"))));
        const QStringList common{QStringLiteral("excel"), QStringLiteral("--source"), folder + QStringLiteral("/source.xlsx"),
                                 QStringLiteral("--source-start"), QStringLiteral("2"), QStringLiteral("--dest"),
                                 folder + QStringLiteral("/dest.ods"), QStringLiteral("--dest-start"), QStringLiteral("2"),
                                 QStringLiteral("--pair"), QStringLiteral("B:B"), QStringLiteral("--pair"),
                                 QStringLiteral("C:C"), QStringLiteral("--output")};
        QProcess batch;
        // An .xlsx output of an .ods destination is refused before anything is read.
        batch.start(qEnvironmentVariable("TALLYWEAVE_BATCH"), common + QStringList{folder + QStringLiteral("/out.xlsx")});
        QVERIFY(batch.waitForFinished(120000));
        QCOMPARE(batch.exitCode(), 1);
        QVERIFY2(batch.readAllStandardError().contains("must be of the destination's type"), "the mismatch is named");
        QVERIFY(!QFile::exists(folder + QStringLiteral("/out.xlsx")));
        // Without an extension the output takes the destination's.
        batch.start(qEnvironmentVariable("TALLYWEAVE_BATCH"), common + QStringList{folder + QStringLiteral("/out")});
        QVERIFY(batch.waitForFinished(120000));
        QVERIFY2(batch.exitCode() == 0, batch.readAllStandardError().constData());
        const QString output = folder + QStringLiteral("/out.ods");
        QVERIFY(QFile::exists(output));

        static const char* pandasScript = R"(
import sys, pandas
sheets = pandas.read_excel(sys.argv[1], engine="odf", header=None, sheet_name=None)
orders = sheets["Orders"]
print(repr(orders.iat[1, 1]), repr(orders.iat[1, 2]), repr(orders.iat[3, 1]), repr(orders.iat[3, 2]),
      repr(orders.iat[2, 1]), repr(sheets["Notes"].iat[0, 0]), sep="|")
)";
        QCOMPARE(runPython({QStringLiteral("-c"), QString::fromLatin1(pandasScript), output}).trimmed(),
                 QByteArray("2.5|'007'|42|'hello'|'-'|'kept'"));

        QVERIFY(convertWithLibreOffice({output}, QStringLiteral("xlsx"), folder + QStringLiteral("/lo"),
                                       m_temp.filePath(QStringLiteral("profile"))));
        static const char* openpyxlScript = R"(
import sys, openpyxl
book = openpyxl.load_workbook(sys.argv[1])
orders = book["Orders"]
print(repr(orders["B2"].value), repr(orders["C2"].value), repr(orders["B4"].value), repr(orders["C4"].value),
      orders["A1"].font.b, repr(book["Notes"]["A1"].value), sep="|")
)";
        QCOMPARE(runPython({QStringLiteral("-c"), QString::fromLatin1(openpyxlScript),
                            folder + QStringLiteral("/lo/out.xlsx")})
                     .trimmed(),
                 QByteArray("2.5|'007'|42|'hello'|True|'kept'"));
    }

private:
    QString hand(const char* name) const { return m_temp.filePath(QStringLiteral("hand/") + QLatin1String(name)); }
    QString saved() const { return m_temp.filePath(QStringLiteral("saved.ods")); }
    QList<OdfpySheet> odfpy(const QString& path) {
        auto& sheets = m_odfpy[path];
        if (sheets.isEmpty() || path == m_temp.filePath(QStringLiteral("text.ods")) ||
            path == m_temp.filePath(QStringLiteral("grown.ods")))
            sheets = readWithOdfpy(path);
        return sheets;
    }

    QTemporaryDir m_temp;
    std::map<QString, QList<OdfpySheet>> m_odfpy;
};

QTEST_GUILESS_MAIN(TestOdsWrite)
#include "tst_odswrite.moc"
