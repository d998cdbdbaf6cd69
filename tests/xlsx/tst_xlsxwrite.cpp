// Pins what saving does: changed cells become texts that another program reads, everything else in
// the package stays, shared formulas survive the loss of their master, and a failed save leaves
// nothing behind.
#include "office/workbook.h"
#include "office/officeconvert.h"
#include "office/xlsxworkbook.h"
#include "office/zipfile.h"
#include "xlsx/xlsxfixtures.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <sys/resource.h>

namespace {

QJsonObject runJson(const QString& script, const QString& file) {
    QProcess python;
    python.start(TW_PYTHON, {QStringLiteral(TW_SOURCE_DIR "/tests/xlsx/") + script, file});
    if (!python.waitForFinished(120000) || python.exitCode() != 0) {
        qWarning().noquote() << python.readAllStandardError();
        return {};
    }
    const QJsonDocument doc = QJsonDocument::fromJson(python.readAllStandardOutput());
    return doc.isArray() ? QJsonObject{{QStringLiteral("rows"), doc.array()}} : doc.object();
}

} // namespace

class TestXlsxWrite : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QString fixture(const QString& name) const { return m_dir.filePath(name); }
    static QString textFile(const QTemporaryDir& dir, const QString& name, const QByteArray& bytes) {
        QFile file(dir.filePath(name));
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
            qFatal("cannot write %s", qPrintable(file.fileName()));
        return file.fileName();
    }

private slots:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        const QString failure = makeXlsxFixtures(m_dir.path());
        QVERIFY2(failure.isEmpty(), qPrintable(failure));
    }

    void patchedBookKeepsEverythingElse() {
        const QString source = fixture("openpyxl.xlsx");
        const QString target = fixture("patched.xlsx");
        {
            auto book = openXlsxWorkbook(source, {});
            book->selectSheet(1);
            book->setCellText(1, 1, QStringLiteral("new <&> text")); // bold, keeps its font
            book->setCellText(2, 2, QStringLiteral("  blanks kept  "));
            book->setCellText(5, 1, QStringLiteral("no longer a date"));         // styled as a date
            book->setCellText(6, 1, QStringLiteral("=HYPERLINK(\"http://x\")")); // was a formula
            book->setCellText(12, 8, QStringLiteral("far away"));                // row and column are new
            book->setCellText(3, 1, QString());                                  // emptied
            book->selectSheet(2);
            book->setCellText(1, 1, QStringLiteral("before the first"));
            QCOMPARE(book->cellText(1, 1), QStringLiteral("before the first"));
            book->saveAs(target);
        }
        const QJsonObject before = runJson("dump_book.py", source);
        const QJsonObject after = runJson("dump_book.py", target);
        QVERIFY(!after.isEmpty());
        QCOMPARE(after["sheets"], before["sheets"]);
        QVERIFY2(after["fullCalcOnLoad"].toBool(), "a changed book must recalculate when next opened");

        const QHash<QString, QString> changed{{"A1", "new <&> text"},
                                              {"B2", "  blanks kept  "},
                                              {"A5", "no longer a date"},
                                              {"A6", "=HYPERLINK(\"http://x\")"},
                                              {"H12", "far away"}};
        const QJsonObject oldCells = before["cells"]["Zeta"].toObject();
        const QJsonObject newCells = after["cells"]["Zeta"].toObject();
        for (auto it = oldCells.begin(); it != oldCells.end(); ++it) {
            if (changed.contains(it.key()) || it.key() == QLatin1String("A3"))
                continue;
            QVERIFY2(newCells[it.key()] == it.value(), qPrintable(it.key() + QStringLiteral(" changed")));
        }
        for (auto it = changed.begin(); it != changed.end(); ++it) {
            const QJsonObject cell = newCells[it.key()].toObject();
            QCOMPARE(cell["v"].toString(), it.value());
            QCOMPARE(cell["t"].toString(), QStringLiteral("s")); // a text, never a formula
        }
        QVERIFY(newCells["A1"]["bold"].toBool());
        QCOMPARE(newCells["A5"]["fmt"], oldCells["A5"]["fmt"]);
        QVERIFY(!newCells.contains(QStringLiteral("A3"))); // no value and no style left
        QCOMPARE(after["cells"]["Alpha"]["A1"]["v"].toString(), QStringLiteral("before the first"));
        QCOMPARE(after["cells"]["Alpha"]["E9"], before["cells"]["Alpha"]["E9"]);

        // The streaming reader goes by the sheet's dimension: the new far cell must be inside.
        const QJsonObject fast = after["readonly"]["Zeta"].toObject();
        QCOMPARE(fast["max_row"].toInt(), 12);
        QCOMPARE(fast["max_column"].toInt(), 8);
        QCOMPARE(fast["values"]["H12"].toString(), QStringLiteral("far away"));
        QCOMPARE(fast["values"]["D7"], before["readonly"]["Zeta"]["values"]["D7"]);

        auto reread = openXlsxWorkbook(target, {});
        reread->selectSheet(1);
        QCOMPARE(reread->cellText(1, 1), QStringLiteral("new <&> text"));
        QCOMPARE(reread->cellText(3, 1), QString());
        QCOMPARE(reread->cellText(3, 2), QStringLiteral("2.5E-07"));
        QCOMPARE(reread->usedRows(), 12);
        QCOMPARE(reread->usedColumns(), 8);
    }

    void sharedFormulaSurvivesItsMaster() {
        const QString target = fixture("shared.xlsx");
        {
            auto book = openXlsxWorkbook(fixture("raw.xlsx"), {});
            book->selectSheet(1);
            book->setCellText(1, 2, QStringLiteral("master gone"));
            book->saveAs(target);
        }
        const QJsonObject after = runJson("dump_book.py", target);
        const QJsonObject cells = after["cells"]["Raw"].toObject();
        QCOMPARE(cells["B1"]["v"].toString(), QStringLiteral("master gone"));
        QCOMPARE(cells["B2"]["v"].toString(), QStringLiteral("=A2&\"!\"&$A$1"));
        QCOMPARE(cells["B3"]["v"].toString(), QStringLiteral("=A3&\"!\"&$A$1"));
        QCOMPARE(cells["A1"]["v"].toString(), QStringLiteral("inline "));
        // The chain of formula cells named B1, which has none now: it goes, with every mention.
        QVERIFY(!after["parts"].toArray().contains(QStringLiteral("xl/calcChain.xml")));
        QVERIFY(!after["types"].toString().contains(QLatin1String("calcChain")));
        QVERIFY(!after["workbookRels"].toString().contains(QLatin1String("calcChain")));
        QVERIFY(after["fullCalcOnLoad"].toBool());

        auto reread = openXlsxWorkbook(target, {});
        reread->selectSheet(1);
        QCOMPARE(reread->cellText(2, 2), QStringLiteral("2")); // cached values stay until recalculated
        QCOMPARE(reread->cellText(1, 2), QStringLiteral("master gone"));
    }

    // Several edits in one row, between, onto and after existing cells: every cell lands in column
    // order, ahead of the row's extension list, and none is written twice.
    void rowEditsKeepColumnOrder() {
        const QString target = fixture("gaps-out.xlsx");
        {
            auto book = openXlsxWorkbook(fixture("gaps.xlsx"), {});
            book->selectSheet(1);
            for (const auto& [column, text] : {std::pair{6, "f"}, {2, "b"}, {3, "C"}, {4, "d"}, {7, "g"}})
                book->setCellText(1, column, QString::fromLatin1(text));
            book->setCellText(2, 1, QStringLiteral("a2"));
            book->setCellText(2, 3, QStringLiteral("c2"));
            book->saveAs(target);
        }
        const QByteArray xml = ZipArchive(target).read(QStringLiteral("xl/worksheets/sheet1.xml"));
        QRegularExpression ref(QStringLiteral("<c r=\"([A-Z]+[0-9]+)\""));
        QStringList order;
        for (const QRegularExpressionMatch& m : ref.globalMatch(QString::fromUtf8(xml)))
            order << m.captured(1);
        QCOMPARE(order, QStringList({"A1", "B1", "C1", "D1", "E1", "F1", "G1", "A2", "B2", "C2"}));
        QVERIFY(xml.indexOf("G1") < xml.indexOf("<extLst"));
        QVERIFY(xml.indexOf("<extLst") < xml.indexOf("</row>"));

        const QJsonObject cells = runJson("dump_book.py", target)["cells"].toObject()["Raw"].toObject();
        const QStringList texts{"a", "b", "C", "d", "e", "f", "g"};
        for (int column = 1; column <= 7; ++column)
            QCOMPARE(cells[QString(QChar(u'A' + column - 1)) + u'1']["v"].toString(), texts[column - 1]);
        QCOMPARE(cells["A2"]["v"].toString(), QStringLiteral("a2"));
        QCOMPARE(cells["B2"]["v"].toString(), QStringLiteral("b2"));
        QCOMPARE(cells["C2"]["v"].toString(), QStringLiteral("c2"));
    }

    // The sheet is patched as it streams past; every shape of it must come out whole, as an
    // independent reader sees it. edits and cells (among others the sheet holds): "B2=text".
    void streamedPatchKeepsEveryShape_data() {
        QTest::addColumn<QString>("book");
        QTest::addColumn<QStringList>("edits");
        QTest::addColumn<QStringList>("cells");
        QTest::addColumn<int>("maxRow");
        QTest::addColumn<int>("maxColumn");
        QTest::addColumn<QString>("refusal");
        QTest::newRow("prefixed, no dimension, rows before and after")
            << "prefixed.xlsx" << QStringList{"A2=a", "C2=c", "B1=b1", "D5=5"}
            << QStringList{"B1=b1", "A2=a", "C2=c", "D5=5"} << 5 << 4 << QString();
        QTest::newRow("no sheet data") << "nodata.xlsx" << QStringList{"B2=x"} << QStringList{"B2=x"} << 2 << 2
                                       << QString();
        QTest::newRow("empty sheet data") << "emptydata.xlsx" << QStringList{"A1=one", "A3=three"}
                                          << QStringList{"A1=one", "A3=three"} << 3 << 1 << QString();
        QTest::newRow("references left out")
            << "implicit.xlsx" << QStringList{"B1=x", "C2=z", "A4=new"}
            << QStringList{"A1=1", "B1=x", "A2=3 > 2", "C2=z", "A4=new"} << 4 << 3 << QString();
        QTest::newRow("master and the next member overwritten")
            << "raw.xlsx" << QStringList{"B1=one", "B2=two"}
            << QStringList{"B1=one", "B2=two", "B3==A3&\"!\"&$A$1"} << 3 << 2 << QString();
        QTest::newRow("rows out of order") << "unordered.xlsx" << QStringList{"A1=x"} << QStringList{} << 0 << 0
                                           << "out of order";
    }

    void streamedPatchKeepsEveryShape() {
        QFETCH(QString, book);
        QFETCH(QStringList, edits);
        QFETCH(QStringList, cells);
        QFETCH(int, maxRow);
        QFETCH(int, maxColumn);
        QFETCH(QString, refusal);
        const QString target = fixture(QStringLiteral("streamed-") + book);
        QFile::remove(target);
        auto opened = openXlsxWorkbook(fixture(book), {});
        opened->selectSheet(1);
        const auto split = [](const QString& edit) {
            const qsizetype eq = edit.indexOf(u'=');
            return std::pair{edit.left(eq), edit.mid(eq + 1)};
        };
        for (const QString& edit : edits) {
            const auto [ref, text] = split(edit);
            const int column = ref[0].unicode() - 'A' + 1;
            opened->setCellText(ref.mid(1).toInt(), column, text);
        }
        if (!refusal.isEmpty()) {
            try {
                opened->saveAs(target);
                QFAIL("the save went through");
            } catch (const WorkbookError& e) {
                QVERIFY2(e.cause().contains(refusal), qPrintable(e.cause()));
            }
            QVERIFY(!QFile::exists(target));
            QCOMPARE(QDir(m_dir.path()).entryList({QStringLiteral(".streamed-*")}, QDir::Hidden | QDir::Files),
                     QStringList());
            return;
        }
        opened->saveAs(target);
        const QJsonObject dump = runJson("dump_book.py", target);
        QVERIFY(!dump.isEmpty());
        const QJsonObject sheet = dump["cells"].toObject().begin()->toObject();
        for (const QString& cell : cells) {
            const auto [ref, text] = split(cell);
            QCOMPARE(sheet[ref].toObject()[QStringLiteral("v")].toString(), text);
        }
        const QJsonObject fast = dump["readonly"].toObject().begin()->toObject();
        QCOMPARE(fast["max_row"].toInt(), maxRow);
        QCOMPARE(fast["max_column"].toInt(), maxColumn);
    }

    void failedSaveLeavesNothing_data() {
        QTest::addColumn<QString>("target");
        QTest::addColumn<QString>("cause");
        QTest::newRow("target is a folder") << "folder.xlsx"
                                            << "cannot write";
        QTest::newRow("folder does not exist") << "missing/out.xlsx"
                                               << "cannot create a file";
        QTest::newRow("unknown format") << "out.ods"
                                        << "not supported";
    }

    void failedSaveLeavesNothing() {
        QFETCH(QString, target);
        QFETCH(QString, cause);
        QTemporaryDir out(m_dir.filePath("failXXXXXX"));
        QVERIFY(QDir(out.path()).mkdir("folder.xlsx"));
        auto book = openXlsxWorkbook(fixture("xlsxwriter.xlsx"), {});
        book->selectSheet(1);
        book->setCellText(1, 1, QStringLiteral("x"));
        try {
            book->saveAs(out.filePath(target));
            QFAIL("the save succeeded");
        } catch (const WorkbookError& e) {
            QVERIFY2(e.cause().contains(cause), qPrintable(e.cause()));
        }
        const QStringList left =
            QDir(out.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
        QCOMPARE(left, QStringList{QStringLiteral("folder.xlsx")});
    }

    void saveReplacesAnExistingFile() {
        const QString target = fixture("existing.xlsx");
        QFile old(target);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("old content");
        old.close();
        auto book = openXlsxWorkbook(fixture("xlsxwriter.xlsx"), {});
        book->selectSheet(3);
        book->setCellText(2, 2, QStringLiteral("replaced"));
        book->saveAs(target);
        auto reread = openXlsxWorkbook(target, {});
        reread->selectSheet(3);
        QCOMPARE(reread->cellText(2, 2), QStringLiteral("replaced"));
        QCOMPARE(QFileInfo(target).permissions() & QFile::ReadOther, QFile::ReadOther);
    }

    // A macro-enabled workbook keeps its macros only under a macro-enabled name; saved as .xlsx the
    // macro project goes with everything that names it, or the package would not open.
    void macrosStayInAMacroWorkbookOnly() {
        for (const char* name : {"kept.xlsm", "dropped.xlsx"}) {
            auto book = openXlsxWorkbook(fixture("macro.xlsm"), {});
            book->selectSheet(1);
            book->setCellText(2, 1, QStringLiteral("changed"));
            book->saveAs(fixture(name));
        }
        const QJsonObject kept = runJson("dump_book.py", fixture("kept.xlsm"));
        QCOMPARE(kept["cells"]["Macro"]["A2"]["v"].toString(), QStringLiteral("changed"));
        for (const char* part : {"xl/vbaProject.bin", "xl/_rels/vbaProject.bin.rels", "xl/vbaProjectSignature.bin"})
            QVERIFY2(kept["parts"].toArray().contains(QLatin1String(part)), part);
        QVERIFY2(kept["vba"].toArray().contains(QStringLiteral("xl/vbaProject.bin")), "openpyxl finds the macros");
        QVERIFY(kept["workbookRels"].toString().contains(QLatin1String("relationships/vbaProject\"")));
        QVERIFY(kept["types"].toString().contains(QLatin1String("macroEnabled.main+xml")));
        QVERIFY(kept["types"].toString().contains(QLatin1String("application/vnd.ms-office.vbaProject\"")));
        QCOMPARE(ZipArchive(fixture("kept.xlsm")).read(QStringLiteral("xl/vbaProject.bin")),
                 ZipArchive(fixture("macro.xlsm")).read(QStringLiteral("xl/vbaProject.bin")));

        const QJsonObject dropped = runJson("dump_book.py", fixture("dropped.xlsx"));
        QCOMPARE(dropped["cells"]["Macro"]["A2"]["v"].toString(), QStringLiteral("changed"));
        QCOMPARE(dropped["parts"].toArray(),
                 (QJsonArray{"[Content_Types].xml", "_rels/.rels", "xl/workbook.xml", "xl/_rels/workbook.xml.rels",
                             "xl/worksheets/sheet1.xml"}));
        const QString types = dropped["types"].toString();
        QVERIFY2(!types.contains(QLatin1String("vbaProject")), qPrintable(types));
        QVERIFY2(!types.contains(QLatin1String("Extension=\"bin\"")), qPrintable(types));
        QVERIFY2(!types.contains(QLatin1String("macroEnabled")), qPrintable(types));
        QVERIFY(types.contains(QLatin1String(
            "PartName=\"/xl/workbook.xml\" ContentType=\"application/vnd.openxmlformats-officedocument."
            "spreadsheetml.sheet.main+xml\"")));
        QVERIFY2(!dropped["workbookRels"].toString().contains(QLatin1String("vbaProject")),
                 qPrintable(dropped["workbookRels"].toString()));
        QVERIFY(dropped["workbookRels"].toString().contains(QLatin1String("worksheets/sheet1.xml")));

        // A plain workbook saved as .xlsm, and a new one of values, are marked macro-enabled.
        openXlsxWorkbook(fixture("xlsxwriter.xlsx"), {})->saveAs(fixture("marked.xlsm"));
        writeNewXlsx(fixture("new.xlsm"), {{"a"}});
        for (const char* name : {"marked.xlsm", "new.xlsm"}) {
            const QJsonObject marked = runJson("dump_book.py", fixture(name));
            QVERIFY2(marked["types"].toString().contains(QLatin1String("macroEnabled.main+xml")), name);
            QVERIFY2(!marked["sheets"].toArray().isEmpty(), name);
        }
    }

    // Fill-ins that are numbers stay numbers, keeping the cell's style; every other text stays a
    // text, never a formula. Patched packages, new packages of .csv and .xls values, and .xls
    // outputs alike.
    void numberFillInsStayNumbers_data() {
        QTest::addColumn<QString>("kind");
        QTest::newRow("patched package") << "patched";
        QTest::newRow("new package of .csv values") << "csv";
        QTest::newRow("new package of .xls values") << "xls values";
        QTest::newRow(".xls output") << "xls output";
    }
    void numberFillInsStayNumbers() {
        QFETCH(QString, kind);
        // text, and whether openpyxl must see it as a number
        const QList<std::pair<QString, bool>> fillIns{
            {"1000000", true}, {"119", true}, {"-2.5", true}, {"0.3", true}, {"1E+15", true}, {"2.5E-07", true},
            {"00123", false}, {"10/30", false}, {"=HYPERLINK(\"http://x\")", false}, {"-", false},
            {"1.50", false}, {"+5", false}, {" 5", false}, {"-0", false}, {"1e3", false},
        };
        if (kind.startsWith(QLatin1String("xls")) && !officeConverterAvailable() && kind != "xls values")
            QSKIP("LibreOffice is not installed");
        QTemporaryDir out(m_dir.filePath("numbersXXXXXX"));
        std::unique_ptr<Workbook> book;
        const QByteArray path = qgetenv("PATH");
        const auto restore = qScopeGuard([&] { qputenv("PATH", path); });
        if (kind == "patched") {
            book = openXlsxWorkbook(fixture("openpyxl.xlsx"), {});
        } else if (kind == "csv") {
            book = openWorkbook(textFile(out, "values.csv", "key\n"));
        } else if (kind == "xls values") {
            // Without the converter an .xls workbook is saved as a new package of its values.
            QVERIFY(QProcess::execute(TW_PYTHON, {"-c", "import sys, xlwt\nb = xlwt.Workbook()\n"
                                                        "b.add_sheet('S').write(0, 0, 'key')\nb.save(sys.argv[1])",
                                                  out.filePath("values.xls")}) == 0);
            qputenv("PATH", out.path().toLocal8Bit());
            book = openWorkbook(out.filePath("values.xls"));
        } else {
            book = openXlsxWorkbook(fixture("openpyxl.xlsx"), {});
        }
        book->selectSheet(1);
        for (int i = 0; i < fillIns.size(); ++i)
            book->setCellText(i + 1, 8, fillIns[i].first);
        if (kind == "patched" || kind == "xls output") {
            book->setCellText(1, 1, QStringLiteral("1000000")); // bold
            book->setCellText(6, 2, QStringLiteral("1000000")); // "0.00"
        }
        QString saved = out.filePath("out.xlsx");
        if (kind == "xls output") {
            book->saveAs(out.filePath("out.xls"));
            convertWithOffice(out.filePath("out.xls"), saved);
        } else {
            book->saveAs(saved);
        }
        qputenv("PATH", path);

        const QJsonObject dump = runJson("dump_book.py", saved);
        const QJsonObject cells = dump["cells"][dump["sheets"][0].toString()].toObject();
        for (int i = 0; i < fillIns.size(); ++i) {
            const auto& [text, number] = fillIns[i];
            const QJsonObject cell = cells[QStringLiteral("H%1").arg(i + 1)].toObject();
            const QString v = cell["v"].toString();
            const bool right = number ? cell["t"] == "n" && v.toDouble() == text.toDouble()
                                      : cell["t"] == "s" && v == text;
            QVERIFY2(right, qPrintable(QStringLiteral("\"%1\" is %2 %3").arg(text, cell["t"].toString(), v)));
        }
        if (kind == "patched") {
            const QJsonObject original = runJson("dump_book.py", fixture("openpyxl.xlsx"));
            const QJsonObject before = original["cells"]["Zeta"].toObject();
            for (const char* ref : {"A1", "B6"}) {
                QCOMPARE(cells[ref]["t"].toString(), QStringLiteral("n"));
                QCOMPARE(cells[ref]["v"].toString(), QStringLiteral("1000000"));
                QCOMPARE(cells[ref]["style"], before[ref]["style"]);
            }
            QVERIFY(cells["A1"]["bold"].toBool());
            QCOMPARE(cells["B6"]["fmt"].toString(), QStringLiteral("0.00"));
        } else if (kind == "xls output") {
            QCOMPARE(cells["A1"]["t"].toString(), QStringLiteral("n"));
            QVERIFY(cells["A1"]["bold"].toBool());
            QCOMPARE(cells["B6"]["fmt"].toString(), QStringLiteral("0.00"));
        }
        // What the engine reads back is the text that was set.
        auto back = openWorkbook(saved);
        back->selectSheet(1);
        for (int i = 0; i < fillIns.size(); ++i)
            QCOMPARE(back->cellText(i + 1, 8), fillIns[i].first);
    }

    // A cell holds 32,767 characters: a longer fill-in is cut there, never inside a surrogate pair,
    // whatever the output.
    void longFillInsAreCutAtACell_data() {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("output");
        QTest::newRow("patched package") << "xlsxwriter.xlsx" << "out.xlsx";
        QTest::newRow("new package of .csv values") << "values.csv" << "out.xlsx";
        QTest::newRow(".csv output") << "xlsxwriter.xlsx" << "out.csv";
        QTest::newRow(".xls output") << "xlsxwriter.xlsx" << "out.xls";
    }
    void longFillInsAreCutAtACell() {
        QFETCH(QString, source);
        QFETCH(QString, output);
        if (output.endsWith(QLatin1String(".xls")) && !officeConverterAvailable())
            QSKIP("LibreOffice is not installed");
        QTemporaryDir out(m_dir.filePath("longXXXXXX"));
        const QString from =
            source.endsWith(QLatin1String(".csv")) ? textFile(out, source, "key\n") : fixture(source);
        const QString pairAcrossTheLimit = QString(32766, u'a') + QStringLiteral("\U0001F600tail");
        const QString longer = QString(40000, u'b');
        auto book = openWorkbook(from);
        book->selectSheet(1);
        book->setCellText(1, 5, pairAcrossTheLimit);
        book->setCellText(2, 5, longer);
        QCOMPARE(book->cellText(1, 5), QString(32766, u'a'));
        book->saveAs(out.filePath(output));
        auto back = openWorkbook(out.filePath(output));
        back->selectSheet(1);
        QCOMPARE(back->cellText(1, 5), QString(32766, u'a'));
        QCOMPARE(back->cellText(2, 5), QString(32767, u'b'));
    }

    // The temporary file is a step on the way: a cause names the file the user chose.
    void aFailedSaveNamesTheChosenFile_data() {
        QTest::addColumn<QString>("source");
        QTest::newRow("patched package") << "big.xlsx";
        QTest::newRow("new package of values") << "big.csv";
    }
    void aFailedSaveNamesTheChosenFile() {
        QFETCH(QString, source);
        QTemporaryDir out(m_dir.filePath("limitXXXXXX"));
        QByteArray rows;
        for (int i = 0; i < 20000; ++i)
            rows += QByteArray::number(i) + ",row with a text of its own " + QByteArray::number(i * 7) + '\n';
        const QString from = source.endsWith(QLatin1String(".csv")) ? textFile(out, source, rows) : fixture(source);
        auto book = openWorkbook(from);
        book->selectSheet(1);
        book->setCellText(1, 1, QStringLiteral("changed"));
        const QString target = out.filePath(QStringLiteral("chosen.xlsx"));
        // The file system takes no file beyond 64 KB: writing the package fails part way.
        signal(SIGXFSZ, SIG_IGN);
        rlimit saved{};
        QCOMPARE(getrlimit(RLIMIT_FSIZE, &saved), 0);
        rlimit small = saved;
        small.rlim_cur = 64 * 1024;
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);
        QString cause;
        try {
            book->saveAs(target);
        } catch (const WorkbookError& e) {
            cause = e.cause();
        }
        setrlimit(RLIMIT_FSIZE, &saved);
        QVERIFY2(cause.startsWith(QStringLiteral("cannot write ") + target + QStringLiteral(": ")), qPrintable(cause));
        QVERIFY2(!cause.contains(QLatin1String("/.chosen")), qPrintable(cause));
        const QStringList left = QDir(out.path()).entryList(QDir::Files | QDir::Hidden);
        QCOMPARE(left, source.endsWith(QLatin1String(".csv")) ? QStringList{source} : QStringList{});
    }

    void newBookReadsElsewhere() {
        const QString target = fixture("new.xlsx");
        const QList<QStringList> rows{
            {"Name", "a<b&c>", "  spaces  "},
            {},
            {"", "line\nbreak", QString::fromUtf8("ctrl\x01") + "char", "_x0041_"},
        };
        writeNewXlsx(target, rows);
        const QJsonObject dump = runJson("dump_book.py", target);
        const QJsonObject cells = dump["cells"]["Sheet1"].toObject();
        QCOMPARE(cells["A1"]["v"].toString(), QStringLiteral("Name"));
        QCOMPARE(cells["B1"]["v"].toString(), QStringLiteral("a<b&c>"));
        QCOMPARE(cells["C1"]["v"].toString(), QStringLiteral("  spaces  "));
        QCOMPARE(cells["B3"]["v"].toString(), QStringLiteral("line\nbreak"));
        // D3 is left out here: openpyxl does not resolve "_xHHHH_" escapes in inline strings.
        QVERIFY(!cells.contains(QStringLiteral("A3")));
        QCOMPARE(dump["readonly"]["Sheet1"]["max_column"].toInt(), 4);

        auto book = openXlsxWorkbook(target, {});
        QCOMPARE(book->sheetCount(), 1);
        book->selectSheet(1);
        QCOMPARE(book->usedRows(), 3);
        QCOMPARE(book->usedColumns(), 4);
        QCOMPARE(book->cellText(3, 3), QString::fromUtf8("ctrl\x01") + "char");
        QCOMPARE(book->cellText(3, 4), QStringLiteral("_x0041_"));
    }

    void saveAsCsvWritesTheSelectedSheet() {
        auto book = openXlsxWorkbook(fixture("xlsxwriter.xlsx"), {});
        book->selectSheet(1);
        book->setCellText(1, 2, QStringLiteral("with, comma \"and quotes\""));
        book->saveAs(fixture("out.csv"));
        const QJsonArray rows = runJson("read_csv.py", fixture("out.csv"))["rows"].toArray();
        QCOMPARE(rows.size(), 6);
        QCOMPARE(rows[0].toArray()[0].toString(), QStringLiteral("Name"));
        QCOMPARE(rows[0].toArray()[1].toString(), QStringLiteral("with, comma \"and quotes\""));
        QCOMPARE(rows[1].toArray()[2].toString(), QStringLiteral("2469"));
        QCOMPARE(rows[2].toArray()[0].toString(), QStringLiteral("2024-01-05"));
    }

    void saveAsXlsGoesThroughTheConverter() {
        if (!officeConverterAvailable())
            QSKIP("LibreOffice is not installed");
        auto book = openXlsxWorkbook(fixture("xlsxwriter.xlsx"), {});
        book->selectSheet(3);
        book->setCellText(2, 2, QStringLiteral("converted"));
        QTemporaryDir out(m_dir.filePath("xlsXXXXXX"));
        book->saveAs(out.filePath("out.xls"));
        QCOMPARE(QDir(out.path()).entryList(QDir::Files | QDir::Hidden),
                 QStringList{QStringLiteral("out.xls")});
        QFile file(out.filePath("out.xls"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(file.read(8).startsWith("\xD0\xCF\x11\xE0"));
    }
};

QTEST_GUILESS_MAIN(TestXlsxWrite)
#include "tst_xlsxwrite.moc"
