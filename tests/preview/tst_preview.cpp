// Pins the worksheet preview popup through its widgets: what it loads, which clicks pick, what
// closes it, and the protocol every preview button follows.
#include "app/services.h"
#include "merge/common/formpreview.h"
#include "merge/common/previewbutton.h"
#include "office/workbook.h"
#include "support/fakes.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QHeaderView>
#include <QProcess>
#include <QScrollBar>
#include <QSpinBox>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QToolButton>
#include <QVBoxLayout>
#include <QtTest>

namespace {

constexpr int kPitchX = 73;
constexpr int kPitchY = 19;

// Writes an .xlsx with openpyxl: sheets is a list of sheets, each a list of rows of values.
QString writeXlsx(const QString& path, const QByteArray& sheetsJson) {
    static const char* script = R"(
import json, sys, openpyxl
book = openpyxl.Workbook()
book.remove(book.active)
for n, rows in enumerate(json.loads(sys.argv[2])):
    sheet = book.create_sheet("Sheet%d" % (n + 1))
    for row in rows:
        sheet.append(row)
book.save(sys.argv[1])
)";
    QProcess python;
    python.start(QStringLiteral(TW_PYTHON),
                 {QStringLiteral("-c"), QString::fromLatin1(script), path, QString::fromUtf8(sheetsJson)});
    if (!python.waitForFinished(60000) || python.exitCode() != 0)
        return QString::fromUtf8(python.readAllStandardError()) + python.errorString();
    return {};
}

bool writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// A CSV of rows x columns whose cells read "r<row>c<column>" with blanks around them.
QByteArray csvGrid(int rows, int columns) {
    QByteArray csv;
    for (int r = 1; r <= rows; ++r) {
        for (int c = 1; c <= columns; ++c) {
            if (c > 1)
                csv += ',';
            csv += " r" + QByteArray::number(r) + "c" + QByteArray::number(c) + "\t";
        }
        csv += "\r\n";
    }
    return csv;
}

QAbstractButton* corner(TPreviewForm& form) {
    return form.StringGrid1->findChild<QAbstractButton*>();
}

// The settings-dialog side of a preview button: workbook, worksheet, column and start line.
struct Caller {
    QWidget window;
    QToolButton* button = new QToolButton(&window);
    QComboBox* sheet = new QComboBox(&window);
    QComboBox* column = new QComboBox(&window);
    QSpinBox* line = new QSpinBox(&window);
    Caller() {
        auto* layout = new QVBoxLayout(&window);
        for (QWidget* w : {static_cast<QWidget*>(sheet), static_cast<QWidget*>(column),
                           static_cast<QWidget*>(line), static_cast<QWidget*>(button)})
            layout->addWidget(w);
        for (int i = 1; i <= 10; ++i)
            sheet->addItem(QStringLiteral("Sheet%1").arg(i));
        for (char c = 'A'; c <= 'Z'; ++c)
            column->addItem(QString(QChar(c)));
        line->setRange(1, 20);
        window.show();
    }
};

} // namespace

class TestPreview : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void loadsExactlyTheUsedTopLeftCorner_data();
    void loadsExactlyTheUsedTopLeftCorner();
    void headerClicksPick_data();
    void headerClicksPick();
    void theMarkedHeadersArePaintedOlive();
    void closers_data();
    void closers();
    void buttonPicksGoBackIntoTheCallersFields();
    void unreadableOrMissingSheetClosesWithTheMarksUnchanged_data();
    void unreadableOrMissingSheetClosesWithTheMarksUnchanged();
    void aPathThatNamesNoFileOpensNothing_data();
    void aPathThatNamesNoFileOpensNothing();
    void aHugeSheetLoadsAsFastAsItsTopRows();

private:
    QTemporaryDir m_dir;
    QString m_xlsx; // two sheets: 3 x 4, then 1 x 1
    QString m_csv;  // 25 x 30
    FakeTexts m_texts{{"PreviewForm.Close", "Close"}};
    FakePrompter m_prompter;
    FakeFileDialogs m_files;
    FakeShell m_shell;
    FakeAppProbe m_probe;
    Services m_services{m_texts, m_prompter, m_files, m_shell, m_probe};
};

void TestPreview::initTestCase() {
    QVERIFY(m_dir.isValid());
    m_xlsx = m_dir.filePath("small.xlsx");
    const QString error = writeXlsx(
        m_xlsx,
        R"([[["a1", "  b1  ", 3, 2.5], ["a2", null, "c2", "d2"], [true, "b3", "c3", "d3"]], [["other"]]])");
    QVERIFY2(error.isEmpty(), qPrintable(error));
    m_csv = m_dir.filePath("wide.csv");
    QVERIFY(writeFile(m_csv, csvGrid(25, 30)));
}

void TestPreview::loadsExactlyTheUsedTopLeftCorner_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("sheet");
    QTest::addColumn<QList<QStringList>>("expected");
    const QList<QStringList> small{
        {"a1", "b1", "3", "2.5"}, {"a2", "", "c2", "d2"}, {"TRUE", "b3", "c3", "d3"}};
    QTest::newRow("3 x 4 sheet fills A1:D3 and nothing else") << "small.xlsx" << 1 << small;
    QTest::newRow("second sheet") << "small.xlsx" << 2 << QList<QStringList>{{"other"}};
    QList<QStringList> wide;
    for (int r = 1; r <= 20; ++r) {
        QStringList row;
        for (int c = 1; c <= 26; ++c)
            row << QStringLiteral("r%1c%2").arg(r).arg(c);
        wide << row;
    }
    QTest::newRow("25 x 30 sheet shows its first 20 rows and 26 columns") << "wide.csv" << 1 << wide;
}

void TestPreview::loadsExactlyTheUsedTopLeftCorner() {
    QFETCH(QString, file);
    QFETCH(int, sheet);
    QFETCH(QList<QStringList>, expected);
    TPreviewForm form(m_services);
    // Leftovers of an earlier showing must go.
    for (int r = 0; r < 20; ++r)
        for (int c = 0; c < 26; ++c)
            form.StringGrid1->item(r, c)->setText("old");
    form.workbookPath = m_dir.filePath(file);
    form.sheet = sheet;
    form.show();
    QVERIFY2(!form.StringGrid1->isEnabled(), "the grid takes no clicks until the sheet is loaded");
    QTRY_VERIFY(form.StringGrid1->isEnabled());
    QVERIFY(form.isVisible());
    for (int r = 0; r < 20; ++r)
        for (int c = 0; c < 26; ++c) {
            const QString want = expected.value(r).value(c);
            QVERIFY2(form.StringGrid1->item(r, c)->text() == want,
                     qPrintable(QStringLiteral("row %1 column %2: '%3', wanted '%4'")
                                    .arg(r + 1)
                                    .arg(c + 1)
                                    .arg(form.StringGrid1->item(r, c)->text(), want)));
        }
    QCOMPARE(form.StringGrid1->horizontalHeaderItem(0)->text(), QString("A"));
    QCOMPARE(form.StringGrid1->horizontalHeaderItem(25)->text(), QString("Z"));
    QCOMPARE(form.StringGrid1->verticalHeaderItem(19)->text(), QString("20"));
    QCOMPARE(corner(form)->text(), QString("Close"));
    form.close();
}

void TestPreview::headerClicksPick_data() {
    QTest::addColumn<int>("columnIn");
    QTest::addColumn<int>("lineIn");
    QTest::addColumn<int>("scrollX");
    QTest::addColumn<int>("scrollY");
    QTest::addColumn<QString>("where");
    QTest::addColumn<int>("visible"); // 0-based position among the visible cells; -1: the right edge
    QTest::addColumn<int>("button");
    QTest::addColumn<int>("columnOut");
    QTest::addColumn<int>("lineOut");
    QTest::newRow("first letter header") << 3 << 2 << 0 << 0 << "letters" << 0 << 1 << 1 << 2;
    QTest::newRow("scrolled to D, second letter header picks E")
        << 1 << 2 << 3 << 0 << "letters" << 1 << 1 << 5 << 2;
    QTest::newRow("sixth letter header, right button") << 1 << 2 << 0 << 0 << "letters" << 5 << 2 << 6 << 2;
    QTest::newRow("scrolled to the end, right edge picks Z")
        << 1 << 2 << 25 << 0 << "letters" << -1 << 1 << 26 << 2;
    QTest::newRow("letter header with column picking off")
        << 0 << 2 << 0 << 0 << "letters" << 1 << 1 << 0 << 2;
    QTest::newRow("number header") << 1 << 2 << 0 << 0 << "numbers" << 6 << 1 << 1 << 7;
    QTest::newRow("scrolled down 5, third number header picks 8")
        << 1 << 2 << 0 << 5 << "numbers" << 2 << 1 << 1 << 8;
    QTest::newRow("number header with line picking off") << 4 << 0 << 0 << 0 << "numbers" << 3 << 1 << 4 << 0;
    QTest::newRow("data cell") << 4 << 9 << 0 << 0 << "cells" << 2 << 1 << 4 << 9;
    QTest::newRow("while loading") << 4 << 9 << 0 << 0 << "letters while loading" << 1 << 1 << 4 << 9;
}

void TestPreview::headerClicksPick() {
    QFETCH(int, columnIn);
    QFETCH(int, lineIn);
    QFETCH(int, scrollX);
    QFETCH(int, scrollY);
    QFETCH(QString, where);
    QFETCH(int, visible);
    QFETCH(int, button);
    QFETCH(int, columnOut);
    QFETCH(int, lineOut);
    TPreviewForm form(m_services);
    form.workbookPath = m_csv;
    form.sheet = 1;
    form.markedColumn = columnIn;
    form.markedLine = lineIn;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    if (where != "letters while loading")
        QTRY_VERIFY(form.StringGrid1->isEnabled());
    form.StringGrid1->horizontalScrollBar()->setValue(scrollX);
    form.StringGrid1->verticalScrollBar()->setValue(scrollY);
    if (visible >= 0) {
        QCOMPARE(form.StringGrid1->horizontalHeader()->logicalIndexAt(0), scrollX);
        QCOMPARE(form.StringGrid1->verticalHeader()->logicalIndexAt(0), scrollY);
    }

    QWidget* target = nullptr;
    QPoint pos;
    if (where.startsWith("letters")) {
        target = form.StringGrid1->horizontalHeader()->viewport();
        pos = visible >= 0 ? QPoint(visible * kPitchX + kPitchX / 2, kPitchY / 2)
                           : QPoint(target->width() - 10, kPitchY / 2);
    } else if (where == "numbers") {
        target = form.StringGrid1->verticalHeader()->viewport();
        pos = QPoint(kPitchX / 2, visible * kPitchY + kPitchY / 2);
    } else {
        target = form.StringGrid1->viewport();
        pos = QPoint(visible * kPitchX + kPitchX / 2, kPitchY / 2);
    }
    const auto mouse = button == 2 ? Qt::RightButton : Qt::LeftButton;
    QTest::mousePress(target, mouse, {}, pos);
    QTest::mouseRelease(target, mouse, {}, pos);
    QCOMPARE(form.markedColumn, columnOut);
    QCOMPARE(form.markedLine, lineOut);
    QVERIFY2(form.isVisible(), "a pick leaves the popup open for another pick");
    QTRY_VERIFY(form.StringGrid1->isEnabled());
    form.close();
}

void TestPreview::theMarkedHeadersArePaintedOlive() {
    TPreviewForm form(m_services);
    form.workbookPath = m_xlsx;
    form.markedColumn = 3;
    form.markedLine = 2;
    form.columnMarkerText = "Col";
    form.lineMarkerText = "Line";
    form.show();
    QTRY_VERIFY(form.StringGrid1->isEnabled());
    const QColor olive(128, 128, 0);
    const QImage letters = form.StringGrid1->horizontalHeader()->viewport()->grab().toImage();
    const QImage numbers = form.StringGrid1->verticalHeader()->viewport()->grab().toImage();
    // Sample the lower right of a cell, away from its text.
    auto letterPixel = [&](int column) { return letters.pixelColor((column - 1) * kPitchX + 65, 15); };
    auto numberPixel = [&](int line) { return numbers.pixelColor(65, (line - 1) * kPitchY + 15); };
    QCOMPARE(letterPixel(3), olive);
    QVERIFY(letterPixel(2) != olive);
    QVERIFY(letterPixel(4) != olive);
    QCOMPARE(numberPixel(2), olive);
    QVERIFY(numberPixel(1) != olive);
    QVERIFY(numberPixel(3) != olive);

    // A new pick moves the paint.
    QTest::mouseClick(form.StringGrid1->horizontalHeader()->viewport(), Qt::LeftButton, {},
                      QPoint(kPitchX / 2, kPitchY / 2));
    const QImage repainted = form.StringGrid1->horizontalHeader()->viewport()->grab().toImage();
    QCOMPARE(repainted.pixelColor(65, 15), olive);
    QVERIFY(repainted.pixelColor(2 * kPitchX + 65, 15) != olive);
    form.close();
}

void TestPreview::closers_data() {
    QTest::addColumn<QString>("how");
    QTest::newRow("corner cell") << "corner";
    QTest::newRow("the popup loses activation") << "deactivate";
    QTest::newRow("the application loses activation") << "application";
    QTest::newRow("the popup loses activation before it loaded") << "deactivate at once";
}

void TestPreview::closers() {
    QFETCH(QString, how);
    TPreviewForm form(m_services);
    form.workbookPath = m_xlsx;
    form.markedColumn = 2;
    form.markedLine = 0;
    form.show();
    if (how == "deactivate at once") {
        QEvent deactivate(QEvent::WindowDeactivate);
        QCoreApplication::sendEvent(&form, &deactivate);
        QVERIFY(!form.isVisible());
        QTest::qWait(300);
        QVERIFY2(form.StringGrid1->item(0, 0)->text().isEmpty(), "a closed popup went on to load the sheet");
        QCOMPARE(form.markedColumn, 2);
        return;
    }
    QTRY_VERIFY(form.StringGrid1->isEnabled());
    QTest::mouseClick(form.StringGrid1->horizontalHeader()->viewport(), Qt::LeftButton, {},
                      QPoint(3 * kPitchX + 10, 5));
    QCOMPARE(form.markedColumn, 4);
    if (how == "corner") {
        QTest::mouseClick(corner(form), Qt::LeftButton);
    } else if (how == "deactivate") {
        QEvent deactivate(QEvent::WindowDeactivate);
        QCoreApplication::sendEvent(&form, &deactivate);
    } else {
        // What the application reports when the user switches to another program.
        emit qApp->applicationStateChanged(Qt::ApplicationInactive);
    }
    QTRY_VERIFY(!form.isVisible());
    QCOMPARE(form.markedColumn, 4);
    QCOMPARE(form.markedLine, 0);
}

void TestPreview::buttonPicksGoBackIntoTheCallersFields() {
    Caller caller;
    caller.sheet->setCurrentIndex(0);
    caller.column->setCurrentIndex(1);
    caller.line->setValue(3);
    TPreviewForm form(m_services);
    QPoint placedAt;
    QString columnMarker, lineMarker;
    whenShown(&form, [&] {
        placedAt = form.pos();
        columnMarker = form.columnMarkerText;
        lineMarker = form.lineMarkerText;
        QTRY_VERIFY(form.StringGrid1->isEnabled());
        QCOMPARE(form.markedColumn, 2);
        QCOMPARE(form.markedLine, 3);
        QTest::mouseClick(form.StringGrid1->horizontalHeader()->viewport(), Qt::LeftButton, {},
                          QPoint(2 * kPitchX + 30, 9));
        QTest::mouseClick(form.StringGrid1->verticalHeader()->viewport(), Qt::LeftButton, {},
                          QPoint(30, 4 * kPitchY + 9));
        QTest::mouseClick(corner(form), Qt::LeftButton);
    });
    QTimer::singleShot(20000, &form, [&] { form.close(); }); // never hang the suite
    QVERIFY(
        showPreview(form, caller.button, m_xlsx, caller.sheet, caller.column, caller.line, "Index", "Start"));
    QCOMPARE(placedAt, caller.button->mapToGlobal(QPoint(0, caller.button->height())));
    QCOMPARE(columnMarker, QString("Index"));
    QCOMPARE(lineMarker, QString("Start"));
    QCOMPARE(caller.column->currentText(), QString("C"));
    QCOMPARE(caller.line->value(), 5);

    // Without a line field: line picking is off and the line marker is not drawn.
    whenShown(&form, [&] {
        lineMarker = form.lineMarkerText;
        QCOMPARE(form.markedLine, 0);
        form.close();
    });
    QVERIFY(showPreview(form, caller.button, m_xlsx, caller.sheet, caller.column, nullptr, "Index", "Start"));
    QCOMPARE(lineMarker, QString());
    QCOMPARE(caller.column->currentText(), QString("C"));
}

void TestPreview::unreadableOrMissingSheetClosesWithTheMarksUnchanged_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("sheetIndex");
    QTest::newRow("worksheet beyond the sheets") << "small.xlsx" << 2;
    QTest::newRow("not a workbook") << "garbage.xlsx" << 0;
}

void TestPreview::unreadableOrMissingSheetClosesWithTheMarksUnchanged() {
    QFETCH(QString, file);
    QFETCH(int, sheetIndex);
    QVERIFY(writeFile(m_dir.filePath("garbage.xlsx"), "PK\x03\x04 this is no package"));
    Caller caller;
    caller.sheet->setCurrentIndex(sheetIndex);
    caller.column->setCurrentIndex(6);
    caller.line->setValue(7);
    TPreviewForm form(m_services);
    bool forced = false;
    QTimer::singleShot(10000, &form, [&] {
        forced = true;
        form.close();
    });
    QVERIFY(showPreview(form, caller.button, m_dir.filePath(file), caller.sheet, caller.column, caller.line,
                        "c", "l"));
    QVERIFY2(!forced, "the popup did not close by itself");
    QCOMPARE(caller.column->currentIndex(), 6);
    QCOMPARE(caller.line->value(), 7);
    QVERIFY(form.StringGrid1->isEnabled());
    QVERIFY(m_prompter.calls.isEmpty());
}

void TestPreview::aPathThatNamesNoFileOpensNothing_data() {
    QTest::addColumn<QString>("path");
    QTest::newRow("empty") << QString();
    QTest::newRow("missing file") << m_dir.filePath("nothing.xlsx");
    QTest::newRow("folder") << m_dir.path();
    QTest::newRow("existing file with a trailing blank") << m_xlsx + " ";
}

void TestPreview::aPathThatNamesNoFileOpensNothing() {
    QFETCH(QString, path);
    Caller caller;
    caller.column->setCurrentIndex(6);
    TPreviewForm form(m_services);
    bool shown = false;
    whenShown(&form, [&] {
        shown = true;
        form.close();
    });
    QVERIFY(!showPreview(form, caller.button, path, caller.sheet, caller.column, caller.line, "c", "l"));
    QCoreApplication::processEvents();
    QVERIFY(!shown);
    QCOMPARE(caller.column->currentIndex(), 6);
}

void TestPreview::aHugeSheetLoadsAsFastAsItsTopRows() {
    const QString huge = m_dir.filePath("huge.csv");
    QVERIFY(writeFile(huge, csvGrid(150000, 4)));
    QElapsedTimer clock;
    clock.start();
    {
        const auto book = openWorkbook(huge);
        QCOMPARE(book->usedRows(), 150000);
    }
    const qint64 whole = clock.restart();

    TPreviewForm form(m_services);
    form.workbookPath = huge;
    form.show();
    clock.restart();
    form.Timer1Timer();
    const qint64 preview = clock.elapsed();
    QCOMPARE(form.StringGrid1->item(19, 3)->text(), QString("r20c4"));
    QVERIFY2(preview * 5 < whole,
             qPrintable(QStringLiteral("preview %1 ms, whole sheet %2 ms").arg(preview).arg(whole)));
    form.close();
}

QTEST_MAIN(TestPreview)
#include "tst_preview.moc"
