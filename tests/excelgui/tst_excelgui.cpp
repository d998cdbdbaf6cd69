// The Excel-to-Excel mode through its windows: the settings dialog's rules, the command's checks
// and questions in their order, and whole runs on workbooks written and read back by openpyxl.
#include "app/runreport.h"
#include "app/services.h"
#include "merge/bookfixture.h"
#include "merge/common/formpreview.h"
#include "merge/excel/excelcommandflow.h"
#include "merge/excel/formexcel.h"
#include "merge/excel/formexcelprogress.h"
#include "office/officetestutil.h"
#include "support/fakes.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCryptographicHash>
#include <QDir>
#include <QGuiApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSpinBox>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QToolButton>
#include <QTreeView>
#include <QTreeWidget>
#include <QtTest>

#include <memory>

Q_DECLARE_METATYPE(FakePrompter::Kind)

namespace {

using Sheet = QList<QStringList>;

// Writes an .xlsx with openpyxl: one list of rows per sheet, empty texts left as empty cells.
void writeWithOpenpyxl(const QString& path, const QList<Sheet>& sheets) {
    QJsonArray sheetSpecs;
    for (const Sheet& sheet : sheets) {
        QJsonArray rows;
        for (const QStringList& row : sheet) {
            QJsonArray cells;
            for (const QString& cell : row)
                cells.append(cell.isEmpty() ? QJsonValue() : QJsonValue(cell));
            rows.append(cells);
        }
        sheetSpecs.append(QJsonObject{{"rows", rows}});
    }
    const QString error =
        bookfixture::writeBook(path, QJsonDocument(QJsonObject{{"sheets", sheetSpecs}}).toJson());
    QVERIFY2(error.isEmpty(), qPrintable(error));
}

QByteArray fileHash(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256);
}

QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Every window of the mode as the program builds them, on scripted seams and a bare run report.
struct Harness {
    FakeTexts texts{{"ExcelProgressForm.String05", "Delete [xxx] and go on?"}};
    FakePrompter prompter;
    FakeFileDialogs files;
    FakeShell shell;
    FakeAppProbe probe;
    QTreeView view;
    QLabel panels[3];
    RunReport report{&view, &panels[0], &panels[1], &panels[2]};
    Services services{texts, prompter, files, shell, probe, &report};
    TExcelForm form{services};
    TExcelAddForm addForm{services, form.sourceWorkbook(), form.destWorkbook()};
    TExcelProgressForm progress{services};
    TPreviewForm preview{services};

    Harness() {
        form.setAddForm(&addForm);
        form.setPreviewForm(&preview);
        addForm.setPreviewForm(&preview);
        progress.setSettingsSource([this] { return form.settings(); });
        form.applyTexts(texts);
        addForm.applyTexts(texts);
        progress.applyTexts(texts);
    }

    template <typename T> T* in(QWidget* window, const char* name) {
        T* child = window->findChild<T*>(QLatin1String(name));
        if (!child)
            qFatal("no %s", name);
        return child;
    }
    QLineEdit* edit(const char* name) { return in<QLineEdit>(&form, name); }
    QComboBox* combo(const char* name) { return in<QComboBox>(&form, name); }
    QPushButton* button(const char* name) { return in<QPushButton>(&form, name); }
    QTreeWidget* list() { return in<QTreeWidget>(&form, "ListView1"); }

    // Through the Add dialog, as the user does it.
    void addPair(const QString& from, const QString& to) {
        whenShown(&addForm, [this, from, to] {
            in<QComboBox>(&addForm, "ComboBox1")->setCurrentText(from);
            in<QComboBox>(&addForm, "ComboBox2")->setCurrentText(to);
            in<QPushButton>(&addForm, "ButtonAdd")->click();
        });
        button("ButtonAdd")->click();
    }

    void setPaths(const QString& source, const QString& dest) {
        edit("Edit1")->setText(source);
        edit("Edit2")->setText(dest);
    }

    // The main window's command: OK in the settings dialog, the save dialog answers saveAs.
    void runCommand(const QString& saveAs) {
        files.saveAnswers.enqueue(saveAs);
        whenShown(&form, [this] { button("ButtonOk")->click(); });
        excelToExcelCommand(services, form, progress);
    }

    QStringList messages() const {
        QStringList texts;
        for (const FakePrompter::Call& call : prompter.calls)
            texts << call.text;
        return texts;
    }
};

} // namespace

class TestExcelGui : public QObject {
    Q_OBJECT
private slots:
    void init();

    // settings dialog
    void okFollowsPathsAndList_data();
    void okFollowsPathsAndList();
    void deleteFollowsTheSelection();
    void okIsRefusedWhileASpreadsheetProgramRuns();
    void browseFillsThePathOnlyWhenAFileWasChosen();
    void settingsAreReadFromTheControls();
    void previewButtonsHandTheirFieldsToThePicker_data();
    void previewButtonsHandTheirFieldsToThePicker();
    void previewWithoutAnExistingFileDoesNothing_data();
    void previewWithoutAnExistingFileDoesNothing();

    // command
    void settingsCancelledAsksNothingMore();
    void commandRefusals_data();
    void commandRefusals();
    void overwriteQuestionNamesTheFileAsWritten_data();
    void overwriteQuestionNamesTheFileAsWritten();
    void unwritableOutputIsRefusedBeforeTheRun_data();
    void unwritableOutputIsRefusedBeforeTheRun();
    void saveDialogOffersWhatTheRunWritesWhereTheFilesAre();
    void previewStaysOnTheScreen_data();
    void previewStaysOnTheScreen();

    // runs
    void runMergesAndOffersToOpenTheResult_data();
    void runMergesAndOffersToOpenTheResult();
    void yesKeepsTheOldOutputUntilTheRunFinishes_data();
    void yesKeepsTheOldOutputUntilTheRunFinishes();
    void cancelBeforeTheFirstTickEndsSilently();
    void runEndingsWithoutOutput_data();
    void runEndingsWithoutOutput();

private:
    std::unique_ptr<Harness> h;
    std::unique_ptr<QTemporaryDir> dir;
    QString path(const QString& name) const { return dir->filePath(name); }
    void makeInputs();
};

void TestExcelGui::init() {
    h = std::make_unique<Harness>();
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
}

// source.xlsx: index in A, values in B and C; dest.xlsx: index in B.
void TestExcelGui::makeInputs() {
    writeWithOpenpyxl(path("source.xlsx"), {{{"Key", "Name", "City"},
                                             {"k1", "Ann", "Oslo"},
                                             {"K2", "Bob", ""},
                                             {"k1", "Cy", "Rome"},
                                             {" k3 ", "Dee", "Lima"}}});
    writeWithOpenpyxl(path("dest.xlsx"), {{{"No", "Key", "Who", "Where"},
                                           {"1", "k1", "", ""},
                                           {"2", "k2", "", ""},
                                           {"3", "", "keep", "keep"},
                                           {"4", "k3", "", ""},
                                           {"5", "nope", "", ""}}});
}

void TestExcelGui::okFollowsPathsAndList_data() {
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("dest");
    QTest::addColumn<int>("pairs");
    QTest::addColumn<bool>("enabled");

    QTest::newRow("both paths and a pair") << "a.xlsx"
                                           << "b.xlsx" << 1 << true;
    QTest::newRow("source of blanks only") << "   "
                                           << "b.xlsx" << 1 << false;
    QTest::newRow("destination of a tab and blanks") << "a.xlsx"
                                                     << " \t " << 2 << false;
    QTest::newRow("empty fill-in list") << "a.xlsx"
                                        << "b.xlsx" << 0 << false;
    QTest::newRow("paths padded with blanks still count") << "  a.xlsx"
                                                          << "b.xlsx  " << 1 << true;
}

void TestExcelGui::okFollowsPathsAndList() {
    QFETCH(QString, source);
    QFETCH(QString, dest);
    QFETCH(int, pairs);
    QFETCH(bool, enabled);

    for (int i = 0; i < pairs; ++i)
        h->addPair("A", "B");
    h->setPaths(source, dest);
    QCOMPARE(h->button("ButtonOk")->isEnabled(), enabled);
    h->form.FormShow();
    QCOMPARE(h->button("ButtonOk")->isEnabled(), enabled);
}

void TestExcelGui::deleteFollowsTheSelection() {
    h->setPaths("a.xlsx", "b.xlsx");
    h->addPair("A", "B");
    QVERIFY(h->button("ButtonOk")->isEnabled());
    QVERIFY2(!h->button("ButtonDelete")->isEnabled(), "nothing selected yet");

    h->list()->setCurrentItem(h->list()->topLevelItem(0));
    QVERIFY(h->button("ButtonDelete")->isEnabled());
    h->button("ButtonDelete")->click();
    QCOMPARE(h->list()->topLevelItemCount(), 0);
    QVERIFY2(!h->button("ButtonOk")->isEnabled(), "deleting the only pair disables OK");
    QVERIFY(!h->button("ButtonDelete")->isEnabled());
}

void TestExcelGui::okIsRefusedWhileASpreadsheetProgramRuns() {
    h->setPaths("a.xlsx", "b.xlsx");
    h->addPair("C", "D");
    h->probe.spreadsheet = true;
    h->form.show();
    h->button("ButtonOk")->click();
    QVERIFY2(h->form.isVisible(), "the dialog stays open");
    QCOMPARE(h->prompter.calls.size(), 1);
    QCOMPARE(h->prompter.calls[0].kind, FakePrompter::Kind::Information);
    QCOMPARE(h->prompter.calls[0].title, QString("Common.Message"));
    QCOMPARE(h->prompter.calls[0].text, QString("ExcelProgressForm.String01"));
    QCOMPARE(h->edit("Edit1")->text(), QString("a.xlsx"));
    QCOMPARE(h->list()->topLevelItemCount(), 1);

    h->probe.spreadsheet = false;
    h->button("ButtonOk")->click();
    QVERIFY(!h->form.isVisible());
    QCOMPARE(h->form.result(), int(QDialog::Accepted));
    QCOMPARE(h->prompter.calls.size(), 1);
}

void TestExcelGui::browseFillsThePathOnlyWhenAFileWasChosen() {
    h->setPaths("old source", "old dest");
    h->files.openAnswers.enqueue("/data/new source.xlsx");
    h->in<QToolButton>(&h->form, "SpeedButton1")->click();
    h->in<QToolButton>(&h->form, "SpeedButton2")->click(); // cancelled: empty answer
    QCOMPARE(h->edit("Edit1")->text(), QString("/data/new source.xlsx"));
    QCOMPARE(h->edit("Edit2")->text(), QString("old dest"));
    QCOMPARE(h->files.openFilters, (QStringList{"OpenDialog.XlsFilter", "OpenDialog.XlsFilter"}));
}

void TestExcelGui::settingsAreReadFromTheControls() {
    h->setPaths("  /x/source.xlsx ", "/x/dest.xlsx");
    h->combo("ComboBox1")->setCurrentIndex(2);
    h->combo("ComboBox2")->setCurrentText("D");
    h->combo("ComboBox3")->setCurrentIndex(9);
    h->combo("ComboBox4")->setCurrentText("Z");
    h->in<QCheckBox>(&h->form, "CheckBox1")->setChecked(true);
    // The start lines are typed into Edit3/Edit4, the fields of the up-down controls.
    h->edit("Edit3")->setText("7");
    h->in<QSpinBox>(&h->form, "UpDown1")->interpretText();
    h->in<QSpinBox>(&h->form, "UpDown2")->setValue(25);
    h->addPair("B", "C");
    h->addPair("Z", "A");

    const ExcelMergeSettings s = h->form.settings();
    QCOMPARE(s.sourcePath, QString("/x/source.xlsx"));
    QCOMPARE(s.sourceSheet, 3);
    QCOMPARE(s.sourceIndexColumn, 4);
    QCOMPARE(s.sourceStartLine, 7);
    QVERIFY(s.uniqueIndexValue);
    QCOMPARE(s.destSheet, 10);
    QCOMPARE(s.destIndexColumn, 26);
    QCOMPARE(s.destStartLine, 20);
    QVERIFY(!s.caseSensitive);
    QCOMPARE(s.pairs.size(), 2);
    QCOMPARE((QList<int>{s.pairs[0].sourceColumn, s.pairs[0].destColumn, s.pairs[1].sourceColumn,
                         s.pairs[1].destColumn}),
             (QList<int>{2, 3, 26, 1}));
}

void TestExcelGui::previewButtonsHandTheirFieldsToThePicker_data() {
    QTest::addColumn<bool>("inAddDialog");
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("workbook");
    QTest::addColumn<int>("sheet");
    QTest::addColumn<QString>("column"); // the drop-down that is marked and gets the pick
    QTest::addColumn<QString>("line");   // the up-down likewise, or empty: no line picking
    QTest::addColumn<QString>("columnMarker");

    QTest::newRow("source index column") << false << "SpeedButtonPreview1"
                                         << "source.xlsx" << 2 << "ComboBox2"
                                         << "UpDown1"
                                         << "ExcelForm.IndexColumn2";
    QTest::newRow("source start line") << false << "SpeedButtonPreview2"
                                       << "source.xlsx" << 2 << "ComboBox2"
                                       << "UpDown1"
                                       << "ExcelForm.IndexColumn2";
    QTest::newRow("destination index column") << false << "SpeedButtonPreview3"
                                              << "dest.xlsx" << 3 << "ComboBox4"
                                              << "UpDown2"
                                              << "ExcelForm.IndexColumn2";
    QTest::newRow("destination start line") << false << "SpeedButtonPreview4"
                                            << "dest.xlsx" << 3 << "ComboBox4"
                                            << "UpDown2"
                                            << "ExcelForm.IndexColumn2";
    QTest::newRow("add dialog, source column") << true << "SpeedButtonPreview1"
                                               << "source.xlsx" << 2 << "ComboBox1"
                                               << ""
                                               << "ExcelAddForm.From2";
    QTest::newRow("add dialog, destination column") << true << "SpeedButtonPreview2"
                                                    << "dest.xlsx" << 3 << "ComboBox2"
                                                    << ""
                                                    << "ExcelAddForm.To2";
}

// The picker is driven by its own tests; here it matters what each button gives it and takes back.
void TestExcelGui::previewButtonsHandTheirFieldsToThePicker() {
    QFETCH(bool, inAddDialog);
    QFETCH(QString, button);
    QFETCH(QString, workbook);
    QFETCH(int, sheet);
    QFETCH(QString, column);
    QFETCH(QString, line);
    QFETCH(QString, columnMarker);

    writeWithOpenpyxl(path("source.xlsx"), {{{"s"}}, {{"s2"}}});
    writeWithOpenpyxl(path("dest.xlsx"), {{{"d"}}, {{"d2"}}, {{"d3"}}});
    h->setPaths(path("source.xlsx"), path("dest.xlsx"));
    h->combo("ComboBox1")->setCurrentIndex(1);
    h->combo("ComboBox3")->setCurrentIndex(2);
    QWidget* window = inAddDialog ? static_cast<QWidget*>(&h->addForm) : &h->form;
    auto* columnCombo = h->in<QComboBox>(window, qPrintable(column));
    columnCombo->setCurrentText("C");
    QSpinBox* lineSpin = line.isEmpty() ? nullptr : h->in<QSpinBox>(window, qPrintable(line));
    if (lineSpin)
        lineSpin->setValue(4);

    struct Seen {
        QString path, columnMarker, lineMarker;
        int sheet = 0, column = 0, line = 0;
    } seen;
    whenShown(&h->preview, [&] {
        TPreviewForm& p = h->preview;
        seen = {p.workbookPath, p.columnMarkerText, p.lineMarkerText, p.sheet, p.markedColumn, p.markedLine};
        (void)QTest::qWaitFor([&] { return p.StringGrid1->isEnabled(); }, 10000);
        p.markedColumn = 5; // as if the user had clicked "E" and row 9
        if (p.markedLine > 0)
            p.markedLine = 9;
        p.close();
    });
    window->show();
    h->in<QToolButton>(window, qPrintable(button))->click();
    window->hide();

    QCOMPARE(seen.path, path(workbook));
    QCOMPARE(seen.sheet, sheet);
    QCOMPARE(seen.column, 3);
    QCOMPARE(seen.columnMarker, columnMarker);
    QCOMPARE(seen.line, lineSpin ? 4 : 0);
    QCOMPARE(seen.lineMarker, lineSpin ? QString("ExcelForm.StartLine2") : QString());
    QCOMPARE(columnCombo->currentText(), QString("E"));
    if (lineSpin)
        QCOMPARE(lineSpin->value(), 9);
}

void TestExcelGui::previewWithoutAnExistingFileDoesNothing_data() {
    QTest::addColumn<QString>("workbook");
    QTest::newRow("empty path") << "";
    QTest::newRow("no such file") << "missing.xlsx";
    QTest::newRow("a folder") << ".";
    QTest::newRow("existing file behind a leading blank") << " source.xlsx";
}

void TestExcelGui::previewWithoutAnExistingFileDoesNothing() {
    QFETCH(QString, workbook);

    writeBytes(path("source.xlsx"), "x");
    const QString typed = workbook.isEmpty()         ? QString()
                          : workbook.startsWith(' ') ? " " + path(workbook.mid(1))
                                                     : path(workbook);
    h->setPaths(typed, typed);
    bool shown = false;
    whenShown(
        &h->preview,
        [&] {
            shown = true;
            h->preview.close();
        },
        300);
    for (const char* name :
         {"SpeedButtonPreview1", "SpeedButtonPreview2", "SpeedButtonPreview3", "SpeedButtonPreview4"})
        h->in<QToolButton>(&h->form, name)->click();
    for (const char* name : {"SpeedButtonPreview1", "SpeedButtonPreview2"})
        h->in<QToolButton>(&h->addForm, name)->click();
    QTest::qWait(50);
    QVERIFY(!shown);
    QVERIFY(h->prompter.calls.isEmpty());
    QCOMPARE(h->combo("ComboBox2")->currentText(), QString("A"));
    QCOMPARE(h->in<QSpinBox>(&h->form, "UpDown1")->value(), 1);
}

void TestExcelGui::settingsCancelledAsksNothingMore() {
    whenShown(&h->form, [this] { h->button("ButtonCancel")->click(); });
    excelToExcelCommand(h->services, h->form, h->progress);
    QVERIFY(h->files.saveFilters.isEmpty());
    QVERIFY(h->prompter.calls.isEmpty());
}

void TestExcelGui::commandRefusals_data() {
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("dest");
    QTest::addColumn<QString>("saveAs");
    QTest::addColumn<QStringList>("messages");

    QTest::newRow("save dialog cancelled: no message") << "source.xlsx"
                                                       << "dest.xlsx"
                                                       << "" << QStringList{};
    QTest::newRow("missing source, seen only after the save dialog")
        << "nothing.xlsx"
        << "dest.xlsx"
        << "out.xlsx" << QStringList{"ExcelProgressForm.String02"};
    QTest::newRow("a folder is no source") << "folder"
                                           << "dest.xlsx"
                                           << "out.xlsx" << QStringList{"ExcelProgressForm.String02"};
    QTest::newRow("missing destination") << "source.xlsx"
                                         << "nothing.xlsx"
                                         << "out.xlsx" << QStringList{"ExcelProgressForm.String03"};
    QTest::newRow("output is the destination in other letter case")
        << "source.xlsx"
        << "dest.xlsx"
        << "DEST.XLSX" << QStringList{"ExcelProgressForm.String04"};
    QTest::newRow("output is the source by another way")
        << "source.xlsx"
        << "dest.xlsx"
        << "folder/../source.xlsx" << QStringList{"ExcelProgressForm.String04"};
    QTest::newRow("output becomes the source once .xlsx is appended")
        << "source.xlsx"
        << "dest.xlsx"
        << "Source" << QStringList{"ExcelProgressForm.String04"};
}

void TestExcelGui::commandRefusals() {
    QFETCH(QString, source);
    QFETCH(QString, dest);
    QFETCH(QString, saveAs);
    QFETCH(QStringList, messages);

    QDir(dir->path()).mkdir("folder");
    writeBytes(path("source.xlsx"), "not read by the command");
    writeBytes(path("dest.xlsx"), "not read by the command");
    h->setPaths(path(source), path(dest));
    h->addPair("A", "B");

    h->runCommand(saveAs.isEmpty() ? QString() : path(saveAs));
    QCOMPARE(h->files.saveFilters.size(), 1);
    QCOMPARE(h->messages(), messages);
    for (const FakePrompter::Call& call : h->prompter.calls) {
        QCOMPARE(call.kind, FakePrompter::Kind::Information);
        QCOMPARE(call.title, QString("Common.Message"));
    }
    QVERIFY2(h->progress.outputPath().isEmpty(), "no run was started");
    QCOMPARE(h->report.lineCount(), 0);
    // A refusal leaves the settings for the next try.
    QCOMPARE(h->edit("Edit1")->text(), path(source));
    QCOMPARE(h->list()->topLevelItemCount(), 1);
    QCOMPARE(QDir(dir->path()).entryList(QDir::Files).size(), 2);
}

void TestExcelGui::overwriteQuestionNamesTheFileAsWritten_data() {
    QTest::addColumn<QString>("saveAs");
    QTest::addColumn<QString>("written");

    QTest::newRow("no extension: .xlsx appended") << "report"
                                                  << "report.xlsx";
    QTest::newRow("capital .XLSX kept") << "REPORT.XLSX"
                                        << "REPORT.XLSX";
    QTest::newRow(".xls kept") << "report.xls"
                               << "report.xls";
    QTest::newRow(".xlsm kept") << "report.xlsm"
                                << "report.xlsm";
    QTest::newRow("another extension: .xlsx appended after it") << "report.txt"
                                                                << "report.txt.xlsx";
    QTest::newRow("dot in a folder name is no extension") << "v1.2/report"
                                                          << "v1.2/report.xlsx";
}

void TestExcelGui::overwriteQuestionNamesTheFileAsWritten() {
    QFETCH(QString, saveAs);
    QFETCH(QString, written);

    QDir(dir->path()).mkdir("v1.2");
    writeBytes(path("source.xlsx"), "x");
    writeBytes(path("dest.xlsx"), "y");
    writeBytes(path(written), "keep me");
    h->setPaths(path("source.xlsx"), path("dest.xlsx"));
    h->addPair("A", "B");
    h->prompter.answers.enqueue(false);

    h->runCommand(path(saveAs));
    QCOMPARE(h->prompter.calls.size(), 1);
    QCOMPARE(h->prompter.calls[0].kind, FakePrompter::Kind::Question);
    QCOMPARE(h->prompter.calls[0].title, QString("Common.Message"));
    QCOMPARE(h->prompter.calls[0].text, "Delete " + QFileInfo(written).fileName() + " and go on?");
    QCOMPARE(readAll(path(written)), QByteArray("keep me"));
    QVERIFY2(h->progress.outputPath().isEmpty(), "No starts nothing");
}

void TestExcelGui::unwritableOutputIsRefusedBeforeTheRun_data() {
    QTest::addColumn<QString>("saveAs");
    QTest::addColumn<QString>("cause");

    QTest::newRow("the folder does not exist") << "gone/out.xlsx"
                                               << "gone does not exist";
    QTest::newRow("the \"folder\" is a regular file") << "plain/out.xlsx"
                                                      << "plain is not a folder";
    QTest::newRow("a folder stands at the output") << "folder.xlsx"
                                                   << "folder.xlsx is a folder";
}

void TestExcelGui::unwritableOutputIsRefusedBeforeTheRun() {
    QFETCH(QString, saveAs);
    QFETCH(QString, cause);

    QDir(dir->path()).mkdir("folder.xlsx");
    writeBytes(path("plain"), "a file");
    writeBytes(path("source.xlsx"), "not read by the command");
    writeBytes(path("dest.xlsx"), "not read by the command");
    h->setPaths(path("source.xlsx"), path("dest.xlsx"));
    h->addPair("A", "B");

    h->runCommand(path(saveAs));
    QCOMPARE(h->prompter.calls.size(), 1);
    const FakePrompter::Call& call = h->prompter.calls[0];
    QCOMPARE(call.kind, FakePrompter::Kind::Error);
    QCOMPARE(call.title, QString("Common.Error"));
    QCOMPARE(call.text, QString("ExcelProgressForm.String10"));
    QVERIFY2(call.detail.contains(cause), qPrintable(call.detail));
    QVERIFY2(h->progress.outputPath().isEmpty(), "no run was started");
    QCOMPARE(h->report.lineCount(), 0);
}

void TestExcelGui::saveDialogOffersWhatTheRunWritesWhereTheFilesAre() {
    h->texts.set("OpenDialog.XlsFilter", "Workbooks|*.xlsx;*.xlsm;*.xls;*.csv|Excel workbook|*.xlsx|"
                                         "Comma-separated values|*.csv|Excel 97-2003 workbook|*.XLS|"
                                         "All files|*.*");
    makeInputs();
    QVERIFY(QDir(dir->path()).mkpath("books/results"));
    QVERIFY(QFile::rename(path("dest.xlsx"), path("books/dest.xlsx")));
    h->setPaths(path("source.xlsx"), path("books/dest.xlsx"));
    h->addPair("B", "C");
    h->prompter.answers.enqueue(false);

    h->runCommand(path("books/results/out.xlsx")); // a whole run: the output's folder is remembered
    h->runCommand(QString());

    QCOMPARE(h->files.saveFilters.size(), 2);
    QCOMPARE(h->files.saveFilters[0], QString("Workbooks|*.xlsx;*.xlsm;*.xls|Excel workbook|*.xlsx|"
                                              "Excel 97-2003 workbook|*.XLS"));
    QCOMPARE(h->files.saveFolders, (QStringList{path("books"), path("books/results")}));
    QVERIFY(QFile::exists(path("books/results/out.xlsx")));

    // A language file whose filter names none of the writable types still offers exactly those.
    h->texts.set("OpenDialog.XlsFilter", "Text|*.txt");
    h->runCommand(QString());
    QCOMPARE(h->files.saveFilters.last(), QString("*.xlsx;*.xlsm;*.xls|*.xlsx;*.xlsm;*.xls"));
}

void TestExcelGui::previewStaysOnTheScreen_data() {
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("corner"); // where the settings dialog stands on the screen

    QTest::newRow("destination index column, dialog at the right edge") << "SpeedButtonPreview3"
                                                                        << "right";
    QTest::newRow("destination start line, dialog at the bottom right") << "SpeedButtonPreview4"
                                                                        << "bottom right";
    QTest::newRow("source index column, dialog at the top left: moved left only") << "SpeedButtonPreview1"
                                                                                  << "top left";
}

void TestExcelGui::previewStaysOnTheScreen() {
    QFETCH(QString, button);
    QFETCH(QString, corner);

    writeWithOpenpyxl(path("book.xlsx"), {{{"x"}}});
    h->setPaths(path("book.xlsx"), path("book.xlsx"));
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    h->form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&h->form));
    const QSize frame = h->form.frameGeometry().size();
    QPoint at = screen.topLeft();
    if (corner.contains("right"))
        at.setX(screen.right() + 1 - frame.width());
    if (corner.contains("bottom"))
        at.setY(screen.bottom() + 1 - frame.height());
    h->form.move(at);
    QTRY_COMPARE(h->form.frameGeometry().topLeft(), at);

    auto* clicked = h->in<QToolButton>(&h->form, qPrintable(button));
    const QPoint under = clicked->mapToGlobal(QPoint(0, clicked->height()));
    QRect shownAt;
    whenShown(&h->preview, [&] {
        shownAt = h->preview.frameGeometry();
        h->preview.close();
    });
    clicked->click();
    h->form.hide();

    QCOMPARE(shownAt.size(), QSize(532, 250));
    QVERIFY2(screen.contains(shownAt), qPrintable(QStringLiteral("%1,%2 %3x%4 off the screen")
                                                      .arg(shownAt.x())
                                                      .arg(shownAt.y())
                                                      .arg(shownAt.width())
                                                      .arg(shownAt.height())));
    // Moved left or up only as far as needed, never elsewhere.
    QCOMPARE(shownAt.x(), std::min(under.x(), screen.right() + 1 - shownAt.width()));
    QCOMPARE(shownAt.y(), std::min(under.y(), screen.bottom() + 1 - shownAt.height()));
}

void TestExcelGui::runMergesAndOffersToOpenTheResult_data() {
    QTest::addColumn<bool>("unique");
    QTest::addColumn<bool>("caseSensitive");
    QTest::addColumn<bool>("open");
    QTest::addColumn<QStringList>("who");
    QTest::addColumn<QStringList>("where");

    // Rows of dest: k1, k2, (no key), k3, nope.
    QTest::newRow("all matches joined, case ignored, result opened")
        << false << false << true << QStringList{"Ann/Cy", "Bob", "keep", "Dee", "-"}
        << QStringList{"Oslo/Rome", "-", "keep", "Lima", "-"};
    QTest::newRow("first match only, case sensitive, not opened")
        << true << true << false << QStringList{"Ann", "-", "keep", "Dee", "-"}
        << QStringList{"Oslo", "-", "keep", "Lima", "-"};
}

void TestExcelGui::runMergesAndOffersToOpenTheResult() {
    QFETCH(bool, unique);
    QFETCH(bool, caseSensitive);
    QFETCH(bool, open);
    QFETCH(QStringList, who);
    QFETCH(QStringList, where);

    makeInputs();
    const QByteArray destBefore = fileHash(path("dest.xlsx"));
    h->setPaths(path("source.xlsx"), path("dest.xlsx"));
    h->combo("ComboBox4")->setCurrentText("B");
    h->in<QSpinBox>(&h->form, "UpDown1")->setValue(2);
    h->in<QSpinBox>(&h->form, "UpDown2")->setValue(2);
    h->in<QCheckBox>(&h->form, "CheckBox1")->setChecked(unique);
    h->in<QCheckBox>(&h->form, "CheckBox2")->setChecked(caseSensitive);
    h->addPair("B", "C");
    h->addPair("C", "D");
    h->prompter.answers.enqueue(open);

    h->runCommand(path("merged"));

    const QString output = path("merged.xlsx");
    QCOMPARE(h->messages(), QStringList{"ExcelProgressForm.String11"});
    QCOMPARE(h->prompter.calls[0].kind, FakePrompter::Kind::Question);
    QCOMPARE(h->shell.opened, open ? QStringList{output} : QStringList{});
    QVERIFY(!h->progress.isVisible());
    QCOMPARE(h->progress.Label1->text(), QString("ExcelProgressForm.String07"));
    QCOMPARE(h->progress.ProgressBar1->value(), 100);

    const QList<QStringList> rows = readWithOpenpyxl(output);
    QCOMPARE(rows.size(), 6);
    QCOMPARE(rows[0], (QStringList{"No", "Key", "Who", "Where"}));
    for (int i = 0; i < who.size(); ++i) {
        QCOMPARE(rows[i + 1].value(2), who[i]);
        QCOMPARE(rows[i + 1].value(3), where[i]);
    }
    QCOMPARE(fileHash(path("dest.xlsx")), destBefore);

    // One report line per keyed row; failures are the rows nothing matched.
    QCOMPARE(h->report.columnCaptions(), (QStringList{"", "ListView.IndexColumn", "C", "D"}));
    QCOMPARE(h->report.lineCount(), 4);
    QCOMPARE(h->report.subItems(0), (QStringList{"k1", who[0], where[0]}));
    QCOMPARE(h->report.subItems(2), (QStringList{"k3", "Dee", "Lima"}));
    const int k2Image = caseSensitive ? ImageFailure : ImageProcessed;
    QCOMPARE((QList<int>{h->report.image(0), h->report.image(1), h->report.image(2), h->report.image(3)}),
             (QList<int>{ImageProcessed, k2Image, ImageProcessed, ImageFailure}));
    QCOMPARE(h->report.panelText(0), QString("StatusBar.Records4"));
    QCOMPARE(h->report.panelText(2), QString("StatusBar.Failures%1").arg(caseSensitive ? 2 : 1));
}

void TestExcelGui::yesKeepsTheOldOutputUntilTheRunFinishes_data() {
    QTest::addColumn<QString>("ending");
    QTest::addColumn<QStringList>("messages"); // after the overwrite question

    QTest::newRow("cancelled after the first record") << "cancel" << QStringList{};
    QTest::newRow("cancelled before the run began") << "cancel at once" << QStringList{};
    QTest::newRow("the destination cannot be read")
        << "damaged destination" << QStringList{"ExcelProgressForm.String10"};
    QTest::newRow("finished: replaced in one rename")
        << "finish" << QStringList{"ExcelProgressForm.String11"};
}

void TestExcelGui::yesKeepsTheOldOutputUntilTheRunFinishes() {
    QFETCH(QString, ending);
    QFETCH(QStringList, messages);

    makeInputs();
    const QByteArray older("an older result");
    writeBytes(path("merged.xlsx"), older);
    if (ending == "damaged destination") // a package cut short, as a broken download leaves it
        writeBytes(path("dest.xlsx"), readAll(path("dest.xlsx")).left(300));
    h->setPaths(path("source.xlsx"), path("dest.xlsx"));
    h->combo("ComboBox4")->setCurrentText("B");
    h->addPair("B", "C");
    h->prompter.answers.enqueue(true);  // replace it
    h->prompter.answers.enqueue(false); // do not open the result
    if (ending == "cancel")
        connect(h->progress.ProgressBar1, &QProgressBar::valueChanged, &h->progress, [this](int value) {
            if (value > 0)
                h->progress.ButtonCancel->click();
        });
    if (ending == "cancel at once")
        whenShown(&h->progress, [this] { h->progress.ButtonCancel->click(); });

    h->runCommand(path("merged.xlsx"));

    QCOMPARE(h->messages(), QStringList{"Delete merged.xlsx and go on?"} + messages);
    QVERIFY(!h->progress.isVisible());
    QCOMPARE(QDir(dir->path()).entryList(QDir::Files | QDir::Hidden),
             (QStringList{"dest.xlsx", "merged.xlsx", "source.xlsx"}));
    if (ending != "finish") {
        QCOMPARE(readAll(path("merged.xlsx")), older);
        return;
    }
    const QList<QStringList> rows = readWithOpenpyxl(path("merged.xlsx"));
    QCOMPARE(rows.value(1).value(2), QString("Ann/Cy"));
}

void TestExcelGui::cancelBeforeTheFirstTickEndsSilently() {
    makeInputs();
    h->setPaths(path("source.xlsx"), path("dest.xlsx"));
    h->addPair("B", "C");
    whenShown(&h->progress, [this] { h->progress.ButtonCancel->click(); });

    h->runCommand(path("merged.xlsx"));
    QVERIFY(h->prompter.calls.isEmpty());
    QVERIFY(!QFile::exists(path("merged.xlsx")));
    QCOMPARE(h->report.lineCount(), 0);
}

void TestExcelGui::runEndingsWithoutOutput_data() {
    QTest::addColumn<QString>("case_");
    QTest::addColumn<QString>("saveAs");
    QTest::addColumn<FakePrompter::Kind>("kind");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("detailWords");

    QTest::newRow("source lacks the chosen sheet")
        << "source sheet"
        << "merged.xlsx" << FakePrompter::Kind::Information << "Common.Message"
        << "ExcelProgressForm.String08" << QStringList{};
    QTest::newRow("destination lacks the chosen sheet")
        << "dest sheet"
        << "merged.xlsx" << FakePrompter::Kind::Information << "Common.Message"
        << "ExcelProgressForm.String09" << QStringList{};
    QTest::newRow("source is a damaged workbook")
        << "garbage"
        << "merged.xlsx" << FakePrompter::Kind::Error << "Common.Error"
        << "ExcelProgressForm.String10" << QStringList{"source.xlsx"};
    QTest::newRow(".xls without the converter")
        << "no converter"
        << "merged.xls" << FakePrompter::Kind::Error << "Common.Error"
        << "ExcelProgressForm.String10" << QStringList{".xls", "LibreOffice", ".xlsx"};
}

void TestExcelGui::runEndingsWithoutOutput() {
    QFETCH(QString, case_);
    QFETCH(QString, saveAs);
    QFETCH(FakePrompter::Kind, kind);
    QFETCH(QString, title);
    QFETCH(QString, text);
    QFETCH(QStringList, detailWords);

    makeInputs();
    h->setPaths(path("source.xlsx"), path("dest.xlsx"));
    h->combo("ComboBox4")->setCurrentText("B");
    h->addPair("B", "C");
    if (case_ == "source sheet")
        h->combo("ComboBox1")->setCurrentText("Sheet2");
    if (case_ == "dest sheet")
        h->combo("ComboBox3")->setCurrentText("Sheet3");
    if (case_ == "garbage") // a package cut short, as a broken download leaves it
        writeBytes(path("source.xlsx"), readAll(path("source.xlsx")).left(200));
    const QByteArray savedPath = qgetenv("PATH");
    if (case_ == "no converter")
        qputenv("PATH", dir->path().toUtf8()); // a PATH without LibreOffice
    const auto restorePath = qScopeGuard([&] { qputenv("PATH", savedPath); });

    h->runCommand(path(saveAs));

    QCOMPARE(h->prompter.calls.size(), 1);
    const FakePrompter::Call& call = h->prompter.calls[0];
    QCOMPARE(call.kind, kind);
    QCOMPARE(call.title, title);
    QCOMPARE(call.text, text);
    for (const QString& word : detailWords)
        QVERIFY2(call.detail.contains(word), qPrintable(call.detail));
    QVERIFY(!h->progress.isVisible());
    QVERIFY2(!QFile::exists(path(saveAs)), "nothing written");
    QCOMPARE(QDir(dir->path()).entryList(QDir::Files), (QStringList{"dest.xlsx", "source.xlsx"}));
    QVERIFY(h->shell.opened.isEmpty());
}

QTEST_MAIN(TestExcelGui)
#include "tst_excelgui.moc"
