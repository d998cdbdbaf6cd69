// Pins the .xls reader against files written by an independent program (xlwt): texts of every
// value kind, sheets by position, the used range, a glance at the top, and damaged files.
#include "office/biffscan.h"
#include "office/officeconvert.h"
#include "office/xlsworkbook.h"
#include "officetestutil.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

using Rows = QList<QStringList>;

class TestXls : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        QVERIFY(m_temp.isValid());
        m_fixture = m_temp.filePath(QStringLiteral("fixture.xls"));
        runPython({officeTestFile("make_xls.py"), m_fixture});
        QVERIFY2(QFile::exists(m_fixture), "xlwt wrote the fixture");
    }

    void sheetsCountByPosition() {
        const auto book = openXlsWorkbook(m_fixture, {});
        QCOMPARE(book->sheetCount(), 4);
        book->selectSheet(2); // "Alpha", second in the file
        QCOMPARE(book->selectedSheet(), 2);
        QCOMPARE(book->cellText(1, 1), QStringLiteral("first of Alpha"));
        QCOMPARE(book->cellText(2, 2), QStringLiteral("7"));
        book->selectSheet(3);
        QCOMPARE(book->usedRows(), 0);
        QCOMPARE(book->usedColumns(), 0);
        for (int n : {0, 5}) {
            try {
                book->selectSheet(n);
                QFAIL("a sheet beyond the workbook was selected");
            } catch (const WorkbookError& error) {
                QVERIFY2(error.cause().contains(QStringLiteral("no sheet %1").arg(n)),
                         qPrintable(error.cause()));
            }
        }
        QCOMPARE(book->selectedSheet(), 3);
    }

    void cellTexts_data() {
        QTest::addColumn<int>("row");
        QTest::addColumn<QString>("text");
        QTest::newRow("shared string") << 3 << QStringLiteral("Name");
        QTest::newRow("integer") << 4 << QStringLiteral("42");
        QTest::newRow("decimal") << 5 << QStringLiteral("2.5");
        QTest::newRow("shortest round trip, not 0.10000000000000001") << 6 << QStringLiteral("0.1");
        QTest::newRow("negative") << 7 << QStringLiteral("-7.25");
        QTest::newRow("large, still plain") << 8 << QStringLiteral("123456789012");
        QTest::newRow("1E+15 and above scientific") << 9 << QStringLiteral("1E+15");
        QTest::newRow("below 0.0001 scientific") << 10 << QStringLiteral("2.5E-07");
        QTest::newRow("minus zero") << 11 << QStringLiteral("0");
        QTest::newRow("tab and line break kept") << 12 << QStringLiteral("Zoë\tTab\nLine");
        QTest::newRow("boolean") << 13 << QStringLiteral("TRUE");
        QTest::newRow("date") << 14 << QStringLiteral("2024-01-05");
        QTest::newRow("date and time") << 15 << QStringLiteral("2024-01-05 13:45:00");
        QTest::newRow("time") << 16 << QStringLiteral("09:30:00");
    }
    void cellTexts() {
        QFETCH(int, row);
        QFETCH(QString, text);
        const auto book = openXlsWorkbook(m_fixture, {});
        book->selectSheet(1);
        QCOMPARE(book->cellText(row, row == 3 ? 3 : 4), text);
    }

    void usedRangeStartsAtA1AndIgnoresFormatting() {
        const auto book = openXlsWorkbook(m_fixture, {});
        book->selectSheet(1);
        // Data from C3 to D16; a styled blank cell at H21 is no content.
        QCOMPARE(book->usedRows(), 16);
        QCOMPARE(book->usedColumns(), 4);
        QCOMPARE(book->cellText(1, 1), QString());
        QCOMPARE(book->cellText(21, 8), QString());
    }

    void aGlanceReadsTheFirstRows() {
        const auto book = openXlsWorkbook(m_fixture, {20});
        book->selectSheet(4);
        QCOMPARE(book->usedRows(), 20);
        QCOMPARE(book->cellText(20, 1), QStringLiteral("row 20"));
        QCOMPARE(book->cellText(21, 1), QString());
        const auto whole = openXlsWorkbook(m_fixture, {});
        whole->selectSheet(4);
        QCOMPARE(whole->usedRows(), 500);
        QCOMPARE(whole->cellText(500, 2), QStringLiteral("500"));
    }

    void changesSurviveSwitchingSheets() {
        const auto book = openXlsWorkbook(m_fixture, {});
        book->selectSheet(2);
        book->setCellText(1, 3, QStringLiteral("changed"));
        book->selectSheet(1);
        book->selectSheet(2);
        QCOMPARE(book->cellText(1, 3), QStringLiteral("changed"));
        QCOMPARE(book->usedColumns(), 3);
    }

    void savedAsXlsxKeepsEverySheetThroughTheConverter() {
        if (!officeConverterAvailable())
            QSKIP("LibreOffice is not installed");
        const auto book = openXlsWorkbook(m_fixture, {});
        book->selectSheet(2);
        book->setCellText(3, 1, QStringLiteral("added"));
        book->selectSheet(1);
        book->setCellText(4, 4, QStringLiteral("changed"));
        const QString out = m_temp.filePath(QStringLiteral("every.xlsx"));
        book->saveAs(out);
        const QByteArray names = runPython(
            {QStringLiteral("-c"),
             QStringLiteral("import openpyxl, sys; print(openpyxl.load_workbook(sys.argv[1]).sheetnames)"),
             out});
        QCOMPARE(names.trimmed(), QByteArray("['Zeta', 'Alpha', 'Middle', 'Long']"));
        QCOMPARE(readWithOpenpyxl(out, 1), (Rows{{"first of Alpha", ""}, {"", "7"}, {"added", ""}}));
        const Rows zeta = readWithOpenpyxl(out, 0);
        QCOMPARE(zeta.value(3).value(3), QStringLiteral("changed"));
        QCOMPARE(zeta.value(4).value(3), QStringLiteral("2.5"));
        QCOMPARE(readWithOpenpyxl(out, 3).size(), 500);
    }

    void savedAsXlsxWithoutTheConverterIsTheSelectedSheetsValues() {
        const QByteArray path = qgetenv("PATH");
        qputenv("PATH", m_temp.path().toLocal8Bit());
        const auto restore = qScopeGuard([&] { qputenv("PATH", path); });
        const auto book = openXlsWorkbook(m_fixture, {});
        book->selectSheet(2);
        book->setCellText(3, 1, QStringLiteral("added"));
        const QString out = m_temp.filePath(QStringLiteral("alpha.xlsx"));
        book->saveAs(out);
        qputenv("PATH", path);
        QCOMPARE(readWithOpenpyxl(out), (Rows{{"first of Alpha", ""}, {"", "7"}, {"added", ""}}));
    }

    void savedAsCsvAndAsXls() {
        const auto book = openXlsWorkbook(m_fixture, {});
        book->selectSheet(1);
        book->setCellText(17, 3, QStringLiteral("new, with comma"));
        const QString csv = m_temp.filePath(QStringLiteral("zeta.csv"));
        book->saveAs(csv);
        const auto fromCsv = openWorkbook(csv);
        QCOMPARE(fromCsv->usedRows(), 17);
        QCOMPARE(fromCsv->cellText(12, 4), QStringLiteral("Zoë\tTab\nLine"));
        QCOMPARE(fromCsv->cellText(17, 3), QStringLiteral("new, with comma"));

        if (!officeConverterAvailable())
            QSKIP("LibreOffice is not installed");
        const QString xls = m_temp.filePath(QStringLiteral("zeta.xls"));
        book->saveAs(xls);
        const auto back = openXlsWorkbook(xls, {});
        back->selectSheet(1);
        QCOMPARE(back->usedRows(), 17);
        QCOMPARE(back->usedColumns(), 4);
        QCOMPARE(back->sheetCount(), 4);
        // The boolean went through the converted copy as a boolean, and reads so in both.
        QCOMPARE(back->cellText(13, 4), QStringLiteral("TRUE"));
        for (int row = 1; row <= 17; ++row)
            for (int column = 1; column <= 4; ++column)
                QCOMPARE(back->cellText(row, column), book->cellText(row, column));
    }

    void declaredDimensionsAreFoundWithoutTheReader() {
        QFile fixture(m_fixture);
        QVERIFY(fixture.open(QIODevice::ReadOnly));
        const auto summary = scanBiff(fixture.readAll());
        QVERIFY(summary.has_value());
        // Zeta A1:H21 (the styled blank included), Alpha A1:B2, Middle empty, Long A1:B500.
        QCOMPARE(summary->declaredCells, qint64(21 * 8 + 2 * 2 + 500 * 2));
        QCOMPARE(summary->formulas, qint64(0));
    }

    void tinyFilesDeclaringHugeSheetsAreRefused() {
        // Each sheet touches the last cell of the format: the reader would allocate about 270 MB
        // per sheet for a file of a few kilobytes.
        const QString path = m_temp.filePath(QStringLiteral("corners.xls"));
        runPython({QStringLiteral("-c"),
                   QStringLiteral("import sys, xlwt\n"
                                  "b = xlwt.Workbook()\n"
                                  "for i in range(3):\n"
                                  "    s = b.add_sheet('S%d' % i); s.write(65535, 255, 'x')\n"
                                  "b.save(sys.argv[1])"),
                   path});
        QVERIFY(QFileInfo(path).size() < 64 * 1024);
        try {
            openXlsWorkbook(path, {20});
            QFAIL("a workbook declaring 50 million cells was read");
        } catch (const WorkbookError& error) {
            QVERIFY2(error.cause().contains(QStringLiteral("declare 50331648 cells")),
                     qPrintable(error.cause()));
        }
    }

    void formulasGiveTheirResults() {
        const QString path = m_temp.filePath(QStringLiteral("formulas.xls"));
        runPython({QStringLiteral("-c"),
                   QStringLiteral("import sys, xlwt\n"
                                  "b = xlwt.Workbook(); s = b.add_sheet('F')\n"
                                  "s.write(0, 0, 2); s.write(0, 1, 3)\n"
                                  "s.write(0, 2, xlwt.Formula('A1*B1'))\n"
                                  "s.write(1, 0, xlwt.Formula('\"x\"&\"y\"'))\n"
                                  "b.save(sys.argv[1])"),
                   path});
        const auto book = openXlsWorkbook(path, {});
        QCOMPARE(book->path(), path);
        book->selectSheet(1);
        QCOMPARE(book->cellText(1, 2), QStringLiteral("3"));
        if (!officeConverterAvailable())
            QSKIP("without LibreOffice, formula results of .xls files are not read");
        QCOMPARE(book->cellText(1, 3), QStringLiteral("6"));
        QCOMPARE(book->cellText(2, 1), QStringLiteral("xy"));
    }

    // The reader gives booleans and error codes as the numbers 1 and 0; they read by name.
    void booleansAndErrorCodesReadByName_data() {
        QTest::addColumn<int>("column");
        QTest::addColumn<QString>("text");
        const char* texts[] = {"TRUE", "FALSE", "#NULL!", "#DIV/0!", "#VALUE!", "#REF!", "#NAME?", "#NUM!", "#N/A", "1", "0"};
        for (int i = 0; i < int(std::size(texts)); ++i)
            QTest::newRow(texts[i]) << i + 1 << QString::fromLatin1(texts[i]);
    }
    void booleansAndErrorCodesReadByName() {
        QFETCH(int, column);
        QFETCH(QString, text);
        const QString path = m_temp.filePath(QStringLiteral("codes.xls"));
        if (!QFile::exists(path))
            runPython({QStringLiteral("-c"),
                       QStringLiteral("import sys, xlwt\n"
                                      "b = xlwt.Workbook(); s = b.add_sheet('C')\n"
                                      "s.write(0, 0, True); s.write(0, 1, False)\n"
                                      "for i, code in enumerate((0x00, 0x07, 0x0F, 0x17, 0x1D, 0x24, 0x2A)):\n"
                                      "    s.row(0).set_cell_error(2 + i, code)\n"
                                      "s.write(0, 9, 1); s.write(0, 10, 0)\n"
                                      "b.save(sys.argv[1])"),
                       path});
        const auto book = openXlsWorkbook(path, {});
        book->selectSheet(1);
        QCOMPARE(book->cellText(1, column), text);
    }

    // The reader reports success yet gives no workbook for a text this long; the converter reads it.
    void aWorkbookTheReaderGivesUpOnGoesThroughTheConverter() {
        const QString path = m_temp.filePath(QStringLiteral("longtext.xls"));
        runPython({QStringLiteral("-c"),
                   QStringLiteral("import sys, xlwt\n"
                                  "b = xlwt.Workbook(); s = b.add_sheet('L')\n"
                                  "s.write(0, 0, 'x' * 20000); s.write(1, 0, 'short'); s.write(1, 1, 2.5)\n"
                                  "b.save(sys.argv[1])"),
                   path});
        {
            const QByteArray saved = qgetenv("PATH");
            qputenv("PATH", m_temp.path().toLocal8Bit());
            const auto restore = qScopeGuard([&] { qputenv("PATH", saved); });
            try {
                openXlsWorkbook(path, {});
                QFAIL("read without the converter");
            } catch (const WorkbookError& error) {
                QVERIFY2(error.cause().contains(QStringLiteral("the reader gave up on it")), qPrintable(error.cause()));
            }
        }
        if (!officeConverterAvailable())
            QSKIP("LibreOffice is not installed");
        const auto book = openXlsWorkbook(path, {});
        QCOMPARE(book->path(), path);
        book->selectSheet(1);
        QCOMPARE(book->cellText(1, 1), QString(20000, u'x'));
        QCOMPARE(book->cellText(2, 1), QStringLiteral("short"));
        QCOMPARE(book->cellText(2, 2), QStringLiteral("2.5"));
    }

    void damagedFilesAreRefusedWithACause_data() {
        QTest::addColumn<QString>("damage");
        QTest::newRow("truncated to half") << QStringLiteral("half");
        QTest::newRow("header only") << QStringLiteral("header");
        QTest::newRow("signature then random bytes") << QStringLiteral("random");
        QTest::newRow("sectors overwritten") << QStringLiteral("scrambled");
        // The reader would read the claimed length out of a 64-byte field, far beyond its buffer.
        QTest::newRow("directory entry claiming a name longer than its field") << QStringLiteral("longname");
    }
    void damagedFilesAreRefusedWithACause() {
        QFETCH(QString, damage);
        QFile fixture(m_fixture);
        QVERIFY(fixture.open(QIODevice::ReadOnly));
        QByteArray bytes = fixture.readAll();
        if (damage == QLatin1String("half")) {
            bytes.truncate(bytes.size() / 2);
        } else if (damage == QLatin1String("header")) {
            bytes.truncate(512);
        } else if (damage == QLatin1String("random")) {
            QByteArray noise(bytes.size() - 8, Qt::Uninitialized);
            quint32 state = 12345;
            for (char& c : noise)
                c = char((state = state * 1103515245u + 12345u) >> 24);
            bytes = bytes.left(8) + noise;
        } else if (damage == QLatin1String("longname")) {
            const qsizetype sectorSize = qsizetype(1) << qFromLittleEndian<quint16>(bytes.constData() + 0x1E);
            const qsizetype directory = (qFromLittleEndian<quint32>(bytes.constData() + 0x30) + 1) * sectorSize;
            QVERIFY(directory + 128 <= bytes.size());
            qToLittleEndian<quint16>(0xFFFF, bytes.data() + directory + 0x40);
        } else {
            for (qsizetype i = 512; i < bytes.size(); i += 7)
                bytes[i] = char(0xFF);
        }
        const QString path = m_temp.filePath(QStringLiteral("damaged.xls"));
        writeBytes(path, bytes);
        try {
            const auto book = openXlsWorkbook(path, {});
            for (int n = 1; n <= book->sheetCount(); ++n)
                book->selectSheet(n);
            QFAIL("a damaged workbook was read");
        } catch (const WorkbookError& error) {
            QVERIFY2(error.cause().contains(path), qPrintable(error.cause()));
            if (damage == QLatin1String("longname"))
                QVERIFY2(error.cause().contains(QLatin1String("directory is damaged")), qPrintable(error.cause()));
        }
    }

private:
    QTemporaryDir m_temp;
    QString m_fixture;
};

QTEST_GUILESS_MAIN(TestXls)
#include "tst_xls.moc"
