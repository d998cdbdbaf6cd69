// The Excel-to-Word mode through its windows: the settings dialog's rules, the command's checks
// and questions in their order, the old output kept until a run has finished, and whole runs on
// workbooks written by openpyxl and templates written and read back by python-docx.
#include "docx/docxfixture.h"
#include "merge/bookfixture.h"
#include "merge/common/formpreview.h"
#include "merge/word/formword.h"
#include "merge/word/formwordprogress.h"
#include "merge/word/wordcommandflow.h"
#include "office/officetestutil.h"
#include "support/scriptedservices.h"

#include <QComboBox>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QToolButton>
#include <QTreeWidget>
#include <QtTest>

#include <memory>

namespace {

// A template of one paragraph, written by python-docx.
void writeTemplate(const QString& path, const QString& paragraph) {
    const QString error = docxfixture::runScript({QStringLiteral("plain-template"), path, paragraph});
    QVERIFY2(error.isEmpty(), qPrintable(error));
}

// The paragraphs of a document as python-docx reads them, without the empty ones and without
// breaks, the number of its page breaks and of its sections.
struct DocText {
    QStringList paragraphs;
    int pageBreaks = -1;
    qsizetype sections = -1;
};

DocText readDocument(const QString& path) {
    QString error;
    const QJsonObject doc = docxfixture::readDocuments({path}, &error).value(path).toObject();
    if (!error.isEmpty())
        qWarning("%s", qPrintable(error));
    DocText text;
    for (QString paragraph : docxfixture::texts(doc.value(QStringLiteral("paragraphs")))) {
        paragraph.remove(QLatin1Char('\n')).remove(QLatin1Char('\f'));
        if (!paragraph.isEmpty())
            text.paragraphs << paragraph;
    }
    text.pageBreaks = doc.value(QStringLiteral("pageBreaks")).toInt(-1);
    text.sections = doc.value(QStringLiteral("sections")).toArray().size();
    return text;
}

void writeBook(const QString& path, const QJsonArray& rows, int sheets = 1) {
    QJsonArray specs{QJsonObject{{"rows", rows}}};
    for (int i = 1; i < sheets; ++i)
        specs.append(QJsonObject{{"rows", QJsonArray{QJsonArray{"other"}}}});
    const QString error =
        bookfixture::writeBook(path, QJsonDocument(QJsonObject{{"sheets", specs}}).toJson());
    QVERIFY2(error.isEmpty(), qPrintable(error));
}

QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Every window of the mode as the program builds them, on scripted seams and a bare run report.
struct Harness : ScriptedServices {
    TWordForm form{services};
    TWordAddForm addForm{services, form.sourceWorkbook()};
    TWordProgressForm progress{services};
    TPreviewForm preview{services};

    Harness()
        : ScriptedServices({{"WordProgressForm.String05", "Replace [xxx]?"},
                            {"WordProgressForm.String13", "[xxx]: replace %1, remove %2?"},
                            {"ListView.Field", "Field "}}) {
        form.setAddForm(&addForm);
        form.setPreviewForm(&preview);
        addForm.setPreviewForm(&preview);
        progress.setSettingsSource([this] { return form.settings(); });
        form.applyTexts(texts);
        addForm.applyTexts(texts);
        progress.applyTexts(texts);
    }

    template <typename T> T* in(QWidget* window, const char* name) { return childNamed<T>(window, name); }
    QLineEdit* edit(const char* name) { return in<QLineEdit>(&form, name); }
    QPushButton* button(const char* name) { return in<QPushButton>(&form, name); }
    QRadioButton* radio(const char* name) { return in<QRadioButton>(&form, name); }
    QTreeWidget* list() { return in<QTreeWidget>(&form, "ListView1"); }

    // Through the Add dialog, as the user does it.
    void addPair(const QString& label, const QString& column) {
        whenShown(&addForm, [this, label, column] {
            in<QLineEdit>(&addForm, "Edit1")->setText(label);
            in<QComboBox>(&addForm, "ComboBox1")->setCurrentText(column);
            in<QPushButton>(&addForm, "ButtonAdd")->click();
        });
        button("ButtonAdd")->click();
    }

    void setPaths(const QString& source, const QString& templ) {
        edit("Edit1")->setText(source);
        edit("Edit3")->setText(templ);
    }

    // The main window's command: OK in the settings dialog, the save dialog answers saveAs.
    void runCommand(const QString& saveAs) {
        files.saveAnswers.enqueue(saveAs);
        whenShown(&form, [this] { button("ButtonOk")->click(); });
        excelToWordCommand(services, form, progress);
    }

    // Cancel as soon as the first record has moved the progress bar.
    void cancelAfterFirstRecord() {
        QObject::connect(progress.ProgressBar1, &QProgressBar::valueChanged, &progress, [this](int value) {
            if (value > 0)
                progress.ButtonCancel->click();
        });
    }
};

} // namespace

class TestWordGui : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();

    // settings dialog
    void okFollowsPathsAndList_data();
    void okFollowsPathsAndList();
    void deleteFollowsTheSelectionAndTheLastPairDisablesOk();
    void separatorsFollowTheOutputModeAndKeepTheirChoice();
    void radioPairsStayApart_data();
    void radioPairsStayApart();
    void okIsRefusedWhileAnOfficeProgramRuns_data();
    void okIsRefusedWhileAnOfficeProgramRuns();
    void browseFillsThePathWithTheFieldsFilter();
    void settingsAreReadFromTheControls();
    void previewButtonsHandTheirFieldsToThePicker_data();
    void previewButtonsHandTheirFieldsToThePicker();
    void nameColumnFollowsTheOutputMode();
    void previewWithoutAnExistingFileDoesNothing_data();
    void previewWithoutAnExistingFileDoesNothing();

    // command
    void settingsCancelledAsksNothingAndKeepsTheValues();
    void commandRefusals_data();
    void commandRefusals();
    void overwriteQuestionNamesTheFileAsWritten_data();
    void overwriteQuestionNamesTheFileAsWritten();

    // runs
    void oneFileRunJoinsTheRecords_data();
    void oneFileRunJoinsTheRecords();
    void numberedRunWritesADocumentPerRecord();
    void replacedOutputStaysUntilTheRunHasFinished_data();
    void replacedOutputStaysUntilTheRunHasFinished();
    void numberedDocumentsAreReplacedOnlyWhenAsked_data();
    void numberedDocumentsAreReplacedOnlyWhenAsked();
    void runEndingsWithoutOutput_data();
    void runEndingsWithoutOutput();

private:
    std::unique_ptr<Harness> h;
    std::unique_ptr<QTemporaryDir> dir;
    QTemporaryDir fixtures; // written once: python is slow to start
    QString path(const QString& name) const { return dir->filePath(name); }
    void copyInputs();
};

// book.xlsx: a header, then four records (one with a value missing, one all blank);
// letter.docx: two labels, the second written in other letter case.
void TestWordGui::initTestCase() {
    QVERIFY(fixtures.isValid());
    writeBook(fixtures.filePath("book.xlsx"),
              QJsonArray{QJsonArray{"Name", "City"}, QJsonArray{"Ann", "Oslo"},
                         QJsonArray{"Bob", QJsonValue()}, QJsonArray{"   ", QJsonValue()},
                         QJsonArray{"Dee", "Lima"}});
    writeTemplate(fixtures.filePath("letter.docx"), "Dear <name>, you live in <CITY>.");
}

void TestWordGui::init() {
    h = std::make_unique<Harness>();
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
}

void TestWordGui::copyInputs() {
    for (const char* name : {"book.xlsx", "letter.docx"})
        QVERIFY(QFile::copy(fixtures.filePath(name), path(name)));
}

void TestWordGui::okFollowsPathsAndList_data() {
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("templ");
    QTest::addColumn<int>("pairs");
    QTest::addColumn<bool>("enabled");

    QTest::newRow("both paths and a pair") << "a.xlsx"
                                           << "t.docx" << 1 << true;
    QTest::newRow("source of blanks only") << "   "
                                           << "t.docx" << 1 << false;
    QTest::newRow("template of a tab and blanks") << "a.xlsx"
                                                  << " \t " << 2 << false;
    QTest::newRow("empty fill-in list") << "a.xlsx"
                                        << "t.docx" << 0 << false;
    QTest::newRow("paths that do not exist still count") << "  nowhere.xlsx"
                                                         << "nowhere.docx  " << 1 << true;
}

void TestWordGui::okFollowsPathsAndList() {
    QFETCH(QString, source);
    QFETCH(QString, templ);
    QFETCH(int, pairs);
    QFETCH(bool, enabled);

    for (int i = 0; i < pairs; ++i)
        h->addPair("<name>", "A");
    h->setPaths(source, templ);
    QCOMPARE(h->button("ButtonOk")->isEnabled(), enabled);
    h->form.FormShow();
    QCOMPARE(h->button("ButtonOk")->isEnabled(), enabled);
}

void TestWordGui::deleteFollowsTheSelectionAndTheLastPairDisablesOk() {
    h->setPaths("a.xlsx", "t.docx");
    h->addPair("<name>", "A");
    h->addPair("<city>", "B");
    QVERIFY(h->button("ButtonOk")->isEnabled());
    QVERIFY2(!h->button("ButtonDelete")->isEnabled(), "nothing selected yet");

    for (int left = 1; left >= 0; --left) {
        h->list()->setCurrentItem(h->list()->topLevelItem(0));
        QVERIFY(h->button("ButtonDelete")->isEnabled());
        h->button("ButtonDelete")->click();
        QCOMPARE(h->list()->topLevelItemCount(), left);
        QCOMPARE(h->button("ButtonDelete")->isEnabled(), !h->list()->selectedItems().isEmpty());
        QCOMPARE(h->button("ButtonOk")->isEnabled(), left > 0);
    }
    QVERIFY(!h->button("ButtonDelete")->isEnabled());
    QCOMPARE(h->form.settings().pairs.size(), 0);
}

void TestWordGui::separatorsFollowTheOutputModeAndKeepTheirChoice() {
    h->form.show();
    QVERIFY2(h->radio("RadioButton1")->isChecked(), "multiple files by default");
    QVERIFY(h->radio("RadioButton3")->isChecked());
    QVERIFY(!h->radio("RadioButton3")->isEnabled());
    QVERIFY(!h->radio("RadioButton4")->isEnabled());

    h->radio("RadioButton2")->click();
    QVERIFY(h->radio("RadioButton3")->isEnabled());
    QVERIFY(h->radio("RadioButton4")->isEnabled());
    h->radio("RadioButton4")->click();
    QVERIFY2(h->radio("RadioButton2")->isChecked(), "the separators are a radio group of their own");

    h->radio("RadioButton1")->click();
    QVERIFY(!h->radio("RadioButton3")->isEnabled());
    QVERIFY(!h->radio("RadioButton4")->isEnabled());
    QVERIFY2(h->radio("RadioButton4")->isChecked(), "greyed, but still chosen");
    QCOMPARE(h->form.settings().oneFile, false);

    h->radio("RadioButton2")->click();
    QVERIFY(h->radio("RadioButton4")->isEnabled() && h->radio("RadioButton4")->isChecked());
    QCOMPARE(h->form.settings().oneFile, true);
    QCOMPARE(h->form.settings().separator, RecordSeparator::PageBreak);
    h->form.hide();
}

// Clicks on RadioButton1..4 in order (a digit each); then which output mode and which separator
// are checked. A click on a checked button of either pair must leave both pairs as they were.
void TestWordGui::radioPairsStayApart_data() {
    QTest::addColumn<QString>("clicks");
    QTest::addColumn<bool>("oneFile");
    QTest::addColumn<bool>("pageBreak");

    QTest::newRow("one file, page breaks, then one file again") << "242" << true << true;
    QTest::newRow("one file, line breaks, then one file again") << "232" << true << false;
    QTest::newRow("page breaks clicked twice") << "244" << true << true;
    QTest::newRow("one file clicked three times") << "2222" << true << false;
    QTest::newRow("multiple files clicked while chosen") << "2411" << false << true;
    QTest::newRow("back to one file keeps page breaks") << "24122" << true << true;
}

void TestWordGui::radioPairsStayApart() {
    QFETCH(QString, clicks);
    QFETCH(bool, oneFile);
    QFETCH(bool, pageBreak);

    h->form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&h->form));
    for (const QChar click : clicks) {
        const QByteArray name = "RadioButton" + QByteArray(1, click.toLatin1());
        QRadioButton* radio = h->radio(name.constData());
        // On the round indicator: a radio button takes clicks on its indicator and caption only.
        QTest::mouseClick(radio, Qt::LeftButton, {}, QPoint(radio->height() / 2, radio->height() / 2));
    }
    QCOMPARE(h->radio("RadioButton1")->isChecked(), !oneFile);
    QCOMPARE(h->radio("RadioButton2")->isChecked(), oneFile);
    QCOMPARE(h->radio("RadioButton3")->isChecked(), !pageBreak);
    QCOMPARE(h->radio("RadioButton4")->isChecked(), pageBreak);
    QCOMPARE(h->radio("RadioButton4")->isEnabled(), oneFile);
    const WordMergeSettings settings = h->form.settings();
    QCOMPARE(settings.oneFile, oneFile);
    QCOMPARE(settings.separator, pageBreak ? RecordSeparator::PageBreak : RecordSeparator::Paragraph);
    h->form.hide();
}

void TestWordGui::okIsRefusedWhileAnOfficeProgramRuns_data() {
    QTest::addColumn<bool>("spreadsheet");
    QTest::addColumn<bool>("wordProcessor");
    QTest::newRow("spreadsheet program") << true << false;
    QTest::newRow("word processor") << false << true;
    QTest::newRow("both") << true << true;
}

void TestWordGui::okIsRefusedWhileAnOfficeProgramRuns() {
    QFETCH(bool, spreadsheet);
    QFETCH(bool, wordProcessor);

    h->setPaths("a.xlsx", "t.docx");
    h->addPair("<name>", "C");
    h->radio("RadioButton2")->setChecked(true);
    h->probe.spreadsheet = spreadsheet;
    h->probe.wordProcessor = wordProcessor;
    h->form.show();
    h->button("ButtonOk")->click();
    QVERIFY2(h->form.isVisible(), "the dialog stays open");
    QCOMPARE(h->prompter.calls.size(), 1);
    QCOMPARE(h->prompter.calls[0].kind, FakePrompter::Kind::Information);
    QCOMPARE(h->prompter.calls[0].title, QString("Common.Message"));
    QCOMPARE(h->prompter.calls[0].text, QString("WordProgressForm.String01"));
    QCOMPARE(h->edit("Edit1")->text(), QString("a.xlsx"));
    QVERIFY(h->radio("RadioButton2")->isChecked());
    QCOMPARE(h->list()->topLevelItemCount(), 1);

    h->probe.spreadsheet = h->probe.wordProcessor = false;
    h->button("ButtonOk")->click();
    QVERIFY(!h->form.isVisible());
    QCOMPARE(h->form.result(), int(QDialog::Accepted));
    QCOMPARE(h->prompter.calls.size(), 1);
}

void TestWordGui::browseFillsThePathWithTheFieldsFilter() {
    h->setPaths("old source", "old template");
    h->files.openAnswers.enqueue("/data/new letter.docx");
    h->in<QToolButton>(&h->form, "SpeedButton2")->click();
    h->in<QToolButton>(&h->form, "SpeedButton1")->click(); // cancelled: empty answer
    QCOMPARE(h->edit("Edit1")->text(), QString("old source"));
    QCOMPARE(h->edit("Edit3")->text(), QString("/data/new letter.docx"));
    QCOMPARE(h->files.openFilters, (QStringList{"OpenDialog.DocFilter", "OpenDialog.XlsFilter"}));
}

void TestWordGui::settingsAreReadFromTheControls() {
    h->setPaths("  /x/book.xlsx ", "\t/x/letter.docx ");
    h->in<QComboBox>(&h->form, "ComboBox1")->setCurrentIndex(9);
    // The start line is typed into Edit2, the field of the up-down control.
    h->edit("Edit2")->setText("7");
    h->in<QSpinBox>(&h->form, "UpDown1")->interpretText();
    h->radio("RadioButton2")->setChecked(true);
    h->addPair("  <first name>  ", "B");
    h->addPair("<first name>", "B");
    h->addPair("x", "Z");

    const WordMergeSettings s = h->form.settings();
    QCOMPARE(s.sourcePath, QString("/x/book.xlsx"));
    QCOMPARE(s.sheet, 10);
    QCOMPARE(s.startLine, 7);
    QCOMPARE(s.templatePath, QString("/x/letter.docx"));
    QVERIFY(s.oneFile);
    QCOMPARE(s.separator, RecordSeparator::Paragraph);
    QCOMPARE(s.pairs.size(), 3);
    QCOMPARE((QStringList{s.pairs[0].label, s.pairs[1].label, s.pairs[2].label}),
             (QStringList{"<first name>", "<first name>", "x"}));
    QCOMPARE((QList<int>{s.pairs[0].column, s.pairs[1].column, s.pairs[2].column}), (QList<int>{2, 2, 26}));
    QCOMPARE(h->list()->topLevelItem(0)->text(1), QString("==>"));
}

void TestWordGui::previewButtonsHandTheirFieldsToThePicker_data() {
    QTest::addColumn<bool>("inAddDialog");
    QTest::addColumn<int>("column"); // marked column handed over, 0: column picking off
    QTest::addColumn<int>("line");   // marked line handed over, 0: line picking off
    QTest::addColumn<QString>("columnMarker");
    QTest::addColumn<QString>("lineMarker");

    QTest::addColumn<QString>("button");
    QTest::addColumn<int>("nameBefore"); // item of the name column: 0 None, 1 A, ...
    QTest::addColumn<int>("nameAfter");

    QTest::newRow("settings dialog: the start line only") << false << 0 << 4 << ""
                                                          << "WordForm.StartLine2"
                                                          << "SpeedButtonPreview1" << 3 << 3;
    QTest::newRow("add dialog: the source column only") << true << 3 << 0 << "WordAddForm.To2"
                                                        << ""
                                                        << "SpeedButtonPreview1" << 0 << 0;
    QTest::newRow("settings dialog: the name column only") << false << 3 << 0 << "WordForm.NameColumn2"
                                                           << ""
                                                           << "SpeedButtonPreview2" << 3 << 5;
    QTest::newRow("settings dialog: a name column picked from None starts on A")
        << false << 1 << 0 << "WordForm.NameColumn2"
        << ""
        << "SpeedButtonPreview2" << 0 << 5;
}

// The picker is driven by its own tests; here it matters what each button gives it and takes back.
void TestWordGui::previewButtonsHandTheirFieldsToThePicker() {
    QFETCH(bool, inAddDialog);
    QFETCH(int, column);
    QFETCH(int, line);
    QFETCH(QString, columnMarker);
    QFETCH(QString, lineMarker);
    QFETCH(QString, button);
    QFETCH(int, nameBefore);
    QFETCH(int, nameAfter);

    writeBook(path("book.xlsx"), QJsonArray{QJsonArray{"s"}}, 2);
    auto* nameColumn = h->in<QComboBox>(&h->form, "ComboBox2");
    nameColumn->setCurrentIndex(nameBefore);
    h->setPaths(path("book.xlsx"), "");
    h->in<QComboBox>(&h->form, "ComboBox1")->setCurrentIndex(1);
    h->in<QSpinBox>(&h->form, "UpDown1")->setValue(4);
    auto* addColumn = h->in<QComboBox>(&h->addForm, "ComboBox1");
    addColumn->setCurrentText("C");

    struct Seen {
        QString path, columnMarker, lineMarker;
        int sheet = 0, column = -1, line = -1;
    } seen;
    whenShown(&h->preview, [&] {
        TPreviewForm& p = h->preview;
        seen = {p.workbookPath, p.columnMarkerText, p.lineMarkerText, p.sheet, p.markedColumn, p.markedLine};
        (void)QTest::qWaitFor([&] { return p.StringGrid1->isEnabled(); }, 10000);
        if (p.markedColumn > 0) // as if the user had clicked "E" or row 9
            p.markedColumn = 5;
        if (p.markedLine > 0)
            p.markedLine = 9;
        p.close();
    });
    QWidget* window = inAddDialog ? static_cast<QWidget*>(&h->addForm) : &h->form;
    window->show();
    h->in<QToolButton>(window, qPrintable(button))->click();
    window->hide();

    QCOMPARE(seen.path, path("book.xlsx"));
    QCOMPARE(seen.sheet, 2);
    QCOMPARE(seen.column, column);
    QCOMPARE(seen.line, line);
    QCOMPARE(seen.columnMarker, columnMarker);
    QCOMPARE(seen.lineMarker, lineMarker);
    QCOMPARE(addColumn->currentText(), QString(inAddDialog ? "E" : "C"));
    QCOMPARE(h->in<QSpinBox>(&h->form, "UpDown1")->value(), line > 0 ? 9 : 4);
    QCOMPARE(nameColumn->currentIndex(), nameAfter);
}

// The name column serves numbered files only: greyed with one file, its choice kept.
void TestWordGui::nameColumnFollowsTheOutputMode() {
    h->form.show();
    auto* nameColumn = h->in<QComboBox>(&h->form, "ComboBox2");
    QCOMPARE(nameColumn->count(), 27);
    QCOMPARE(nameColumn->itemText(0), QStringLiteral("WordForm.NameColumnNone"));
    QCOMPARE(nameColumn->itemText(26), QStringLiteral("Z"));
    QCOMPARE(h->form.settings().nameColumn, 0);
    nameColumn->setCurrentText(QStringLiteral("C"));
    QVERIFY(nameColumn->isEnabled() && h->in<QToolButton>(&h->form, "SpeedButtonPreview2")->isEnabled());
    QCOMPARE(h->form.settings().nameColumn, 3);

    h->radio("RadioButton2")->click();
    QVERIFY(!nameColumn->isEnabled() && !h->in<QToolButton>(&h->form, "SpeedButtonPreview2")->isEnabled());
    QCOMPARE(h->form.settings().nameColumn, 0);
    h->radio("RadioButton1")->click();
    QVERIFY(nameColumn->isEnabled());
    QCOMPARE(h->form.settings().nameColumn, 3);
    h->form.hide();
}

void TestWordGui::previewWithoutAnExistingFileDoesNothing_data() {
    QTest::addColumn<QString>("workbook");
    QTest::newRow("empty path") << "";
    QTest::newRow("no such file") << "missing.xlsx";
    QTest::newRow("a folder") << ".";
    QTest::newRow("existing file behind a leading blank") << " book.xlsx";
}

void TestWordGui::previewWithoutAnExistingFileDoesNothing() {
    QFETCH(QString, workbook);

    writeBytes(path("book.xlsx"), "x");
    const QString typed = workbook.isEmpty()         ? QString()
                          : workbook.startsWith(' ') ? " " + path(workbook.mid(1))
                                                     : path(workbook);
    h->setPaths(typed, "");
    h->in<QSpinBox>(&h->form, "UpDown1")->setValue(3);
    bool shown = false;
    whenShown(
        &h->preview,
        [&] {
            shown = true;
            h->preview.close();
        },
        300);
    h->in<QToolButton>(&h->form, "SpeedButtonPreview1")->click();
    h->in<QToolButton>(&h->addForm, "SpeedButtonPreview1")->click();
    QTest::qWait(50);
    QVERIFY(!shown);
    QVERIFY(h->prompter.calls.isEmpty());
    QCOMPARE(h->in<QSpinBox>(&h->form, "UpDown1")->value(), 3);
}

void TestWordGui::settingsCancelledAsksNothingAndKeepsTheValues() {
    h->setPaths("a.xlsx", "t.docx");
    h->addPair("<name>", "A");
    h->radio("RadioButton2")->setChecked(true);
    h->radio("RadioButton4")->setChecked(true);
    whenShown(&h->form, [this] { h->button("ButtonCancel")->click(); });
    excelToWordCommand(h->services, h->form, h->progress);
    QVERIFY(h->files.saveFilters.isEmpty());
    QVERIFY(h->prompter.calls.isEmpty());

    // The next showing offers what was left.
    bool okEnabled = false;
    whenShown(&h->form, [&] {
        okEnabled = h->button("ButtonOk")->isEnabled();
        h->button("ButtonCancel")->click();
    });
    excelToWordCommand(h->services, h->form, h->progress);
    QVERIFY(okEnabled);
    QCOMPARE(h->edit("Edit3")->text(), QString("t.docx"));
    QVERIFY(h->radio("RadioButton4")->isChecked());
    QCOMPARE(h->list()->topLevelItemCount(), 1);
}

void TestWordGui::commandRefusals_data() {
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("templ");
    QTest::addColumn<QString>("saveAs");
    QTest::addColumn<QString>("message"); // empty: nothing said
    QTest::addColumn<QString>("detailWord");

    QTest::newRow("save dialog cancelled") << "book.xlsx"
                                           << "letter.docx"
                                           << ""
                                           << ""
                                           << "";
    QTest::newRow("missing source, seen only after the save dialog") << "nothing.xlsx"
                                                                     << "letter.docx"
                                                                     << "out.docx"
                                                                     << "WordProgressForm.String02"
                                                                     << "";
    QTest::newRow("missing template") << "book.xlsx"
                                      << "nothing.docx"
                                      << "out.docx"
                                      << "WordProgressForm.String03"
                                      << "";
    QTest::newRow("output becomes the template once .docx is appended") << "book.xlsx"
                                                                        << "letter.docx"
                                                                        << "Letter"
                                                                        << "WordProgressForm.String04"
                                                                        << "";
    QTest::newRow("output folder does not exist") << "book.xlsx"
                                                  << "letter.docx"
                                                  << "gone/out.docx"
                                                  << "WordProgressForm.String10"
                                                  << "gone";
    QTest::newRow("a file where the output folder should be") << "book.xlsx"
                                                              << "letter.docx"
                                                              << "book.xlsx/out"
                                                              << "WordProgressForm.String10"
                                                              << "not a folder";
}

void TestWordGui::commandRefusals() {
    QFETCH(QString, source);
    QFETCH(QString, templ);
    QFETCH(QString, saveAs);
    QFETCH(QString, message);
    QFETCH(QString, detailWord);

    QDir(dir->path()).mkdir("folder");
    writeBytes(path("book.xlsx"), "not read by the command");
    writeBytes(path("letter.docx"), "not read by the command");
    h->setPaths(path(source), path(templ));
    h->addPair("<name>", "A");

    h->runCommand(saveAs.isEmpty() ? QString() : path(saveAs));
    QCOMPARE(h->files.saveFilters, QStringList{"OpenDialog.DocFilter"});
    QCOMPARE(h->messages(), message.isEmpty() ? QStringList{} : QStringList{message});
    for (const FakePrompter::Call& call : h->prompter.calls) {
        QCOMPARE(call.kind, FakePrompter::Kind::Information);
        QCOMPARE(call.title, QString("Common.Message"));
        QVERIFY2(call.detail.contains(detailWord), qPrintable(call.detail));
    }
    QVERIFY2(h->progress.outputPath().isEmpty(), "no run was started");
    QCOMPARE(h->report.lineCount(), 0);
    // A refusal leaves the settings for the next try, and the files as they were.
    QCOMPARE(h->edit("Edit1")->text(), path(source));
    QCOMPARE(h->list()->topLevelItemCount(), 1);
    QCOMPARE(bookfixture::folderEntries(dir->path()), (QStringList{"book.xlsx", "folder", "letter.docx"}));
}

void TestWordGui::overwriteQuestionNamesTheFileAsWritten_data() {
    QTest::addColumn<QString>("saveAs");
    QTest::addColumn<QString>("written");

    QTest::newRow("no extension: .docx appended") << "report"
                                                  << "report.docx";
    QTest::newRow(".doc kept") << "report.doc"
                               << "report.doc";
    QTest::newRow("another extension: .docx appended after it") << "report.txt"
                                                                << "report.txt.docx";
}

void TestWordGui::overwriteQuestionNamesTheFileAsWritten() {
    QFETCH(QString, saveAs);
    QFETCH(QString, written);

    writeBytes(path("book.xlsx"), "x");
    writeBytes(path("letter.docx"), "y");
    writeBytes(path(written), "keep me");
    h->setPaths(path("book.xlsx"), path("letter.docx"));
    h->addPair("<name>", "A");
    h->radio("RadioButton2")->setChecked(true);
    h->prompter.answers.enqueue(false);

    h->runCommand(path(saveAs));
    QCOMPARE(h->prompter.calls.size(), 1);
    QCOMPARE(h->prompter.calls[0].kind, FakePrompter::Kind::Question);
    QCOMPARE(h->prompter.calls[0].title, QString("Common.Message"));
    QCOMPARE(h->prompter.calls[0].text, "Replace " + written + "?");
    QCOMPARE(readAll(path(written)), QByteArray("keep me"));
    QVERIFY2(h->progress.outputPath().isEmpty(), "No starts nothing");
}

void TestWordGui::oneFileRunJoinsTheRecords_data() {
    QTest::addColumn<bool>("pageBreaks");
    QTest::addColumn<bool>("open");
    QTest::newRow("line breaks, opened") << false << true;
    QTest::newRow("page breaks, not opened") << true << false;
}

void TestWordGui::oneFileRunJoinsTheRecords() {
    QFETCH(bool, pageBreaks);
    QFETCH(bool, open);

    copyInputs();
    const QByteArray templateBefore = readAll(path("letter.docx"));
    h->setPaths(path("book.xlsx"), path("letter.docx"));
    h->in<QSpinBox>(&h->form, "UpDown1")->setValue(2);
    h->radio("RadioButton2")->setChecked(true);
    h->radio(pageBreaks ? "RadioButton4" : "RadioButton3")->setChecked(true);
    h->addPair("<Name>", "A");
    h->addPair("<city>", "B");
    h->prompter.answers.enqueue(open);

    h->runCommand(path("letters"));

    const QString output = path("letters.docx");
    QCOMPARE(h->messages(), QStringList{"WordProgressForm.String11"});
    QCOMPARE(h->prompter.calls[0].kind, FakePrompter::Kind::Question);
    QCOMPARE(h->shell.opened, open ? QStringList{output} : QStringList{});
    QVERIFY(!h->progress.isVisible());
    QCOMPARE(h->progress.outcome(), WordMergeOutcome::Finished);
    QCOMPARE(h->progress.Label1->text(), QString("WordProgressForm.String07"));
    QCOMPARE(h->progress.ProgressBar1->value(), 100);

    // One line per record; a blank cell counts as empty.
    QCOMPARE(h->report.columnCaptions(), (QStringList{"", "Field 1", "Field 2"}));
    QCOMPARE(h->report.lineCount(), 4);
    const QList<QStringList> lines{{"Ann", "Oslo"}, {"Bob", "-"}, {"-", "-"}, {"Dee", "Lima"}};
    for (int i = 0; i < lines.size(); ++i)
        QCOMPARE(h->report.subItems(i), lines[i]);
    QCOMPARE((QList<int>{h->report.image(0), h->report.image(1), h->report.image(2), h->report.image(3)}),
             (QList<int>{ImageProcessed, ImageNullValue, ImageFailure, ImageProcessed}));
    QCOMPARE(h->report.panelText(0), QString("StatusBar.Records4"));
    QCOMPARE(h->report.panelText(1), QString("StatusBar.NullValues1"));
    QCOMPARE(h->report.panelText(2), QString("StatusBar.Failures1"));

    const DocText text = readDocument(output);
    QCOMPARE(text.paragraphs, (QStringList{"Dear Ann, you live in Oslo.", "Dear Bob, you live in -.",
                                           "Dear -, you live in -.", "Dear Dee, you live in Lima."}));
    // With page breaks each record is a section (and a page) of its own.
    QCOMPARE(text.pageBreaks, 0);
    QCOMPARE(text.sections, pageBreaks ? 4 : 1);
    QCOMPARE(readAll(path("letter.docx")), templateBefore);
    QCOMPARE(bookfixture::folderEntries(dir->path()),
             (QStringList{"book.xlsx", "letter.docx", "letters.docx"}));
}

void TestWordGui::numberedRunWritesADocumentPerRecord() {
    copyInputs();
    h->setPaths(path("book.xlsx"), path("letter.docx"));
    h->in<QSpinBox>(&h->form, "UpDown1")->setValue(3); // from Bob on: his letter is number 1
    h->addPair("<name>", "A");
    h->addPair("<city>", "B");
    h->prompter.answers.enqueue(true);

    h->runCommand(path("Letters.DOCX"));

    QCOMPARE(h->messages(), QStringList{"WordProgressForm.String12"});
    QCOMPARE(h->shell.opened, QStringList{QStringLiteral("file://") + dir->path() + QStringLiteral("/")});
    QCOMPARE(h->report.lineCount(), 3);
    QCOMPARE(bookfixture::folderEntries(dir->path()),
             (QStringList{"Letters0001.DOCX", "Letters0002.DOCX", "Letters0003.DOCX", "book.xlsx",
                          "letter.docx"}));
    QCOMPARE(readDocument(path("Letters0001.DOCX")).paragraphs, QStringList{"Dear Bob, you live in -."});
    QCOMPARE(readDocument(path("Letters0003.DOCX")).paragraphs, QStringList{"Dear Dee, you live in Lima."});
}

void TestWordGui::replacedOutputStaysUntilTheRunHasFinished_data() {
    QTest::addColumn<QString>("ending"); // "finish", "cancel" or "fail"

    QTest::newRow("one file, finished: replaced by the result") << "finish";
    QTest::newRow("one file, cancelled: the old file stays") << "cancel";
    QTest::newRow("one file, failed: the old file stays") << "fail";
}

// Yes to the overwrite question agrees to a replacement, not to losing the old file for nothing.
void TestWordGui::replacedOutputStaysUntilTheRunHasFinished() {
    QFETCH(QString, ending);

    copyInputs();
    if (ending == "fail") // a template that exists but is no document
        writeBytes(path("letter.docx"), "PK this is no package");
    const QByteArray old = "the letters of last year";
    writeBytes(path("out.docx"), old);
    h->setPaths(path("book.xlsx"), path("letter.docx"));
    h->in<QSpinBox>(&h->form, "UpDown1")->setValue(2);
    h->radio("RadioButton2")->setChecked(true);
    h->addPair("<name>", "A");
    h->prompter.answers.enqueue(true);  // replace
    h->prompter.answers.enqueue(false); // do not open
    if (ending == "cancel")
        h->cancelAfterFirstRecord();
    QList<QByteArray> duringRun;
    connect(h->progress.ProgressBar1, &QProgressBar::valueChanged, &h->progress,
            [&] { duringRun << readAll(path("out.docx")); });
    h->runCommand(path("out"));

    QCOMPARE(h->messages().value(0), QString("Replace out.docx?"));
    for (const QByteArray& seen : duringRun)
        QCOMPARE(seen, old);
    const QStringList inputs{"book.xlsx", "letter.docx"};
    if (ending == "finish") {
        QCOMPARE(h->messages().value(1), QString("WordProgressForm.String11"));
        QCOMPARE(duringRun.size(), 4);
        QCOMPARE(readDocument(path("out.docx")).paragraphs.value(0),
                 QString("Dear Ann, you live in <CITY>."));
        QCOMPARE(bookfixture::folderEntries(dir->path()), inputs + QStringList{"out.docx"});
        return;
    }
    QCOMPARE(readAll(path("out.docx")), old);
    if (ending == "cancel") {
        QCOMPARE(h->messages().size(), 1);
        QCOMPARE(h->progress.outcome(), WordMergeOutcome::Cancelled);
        QCOMPARE(h->report.lineCount(), 1);
        QCOMPARE(bookfixture::folderEntries(dir->path()), inputs + QStringList{"out.docx"});
    } else {
        QCOMPARE(h->messages().value(1), QString("WordProgressForm.String10"));
        QVERIFY2(!h->prompter.calls[1].detail.isEmpty(), "the cause is told");
        QCOMPARE(h->progress.outcome(), WordMergeOutcome::Failed);
        QCOMPARE(bookfixture::folderEntries(dir->path()), inputs + QStringList{"out.docx"});
    }
    QVERIFY(h->shell.opened.isEmpty());
}

// A folder holding the six documents of an earlier run of out.docx, the named file itself and files
// of other names; this run has four records.
void TestWordGui::numberedDocumentsAreReplacedOnlyWhenAsked_data() {
    QTest::addColumn<QStringList>("before"); // besides the inputs
    QTest::addColumn<QString>("answer");     // "yes", "no", or "cancel": yes, then cancel the run
    QTest::addColumn<QString>("question");   // empty when none is asked
    QTest::addColumn<QStringList>("after");  // besides the inputs
    const QStringList others{"out.docx", "out0003.txt", "outline0009.docx", "out00005.docx"};
    const QStringList six{"out0001.docx", "out0002.docx", "out0003.docx",
                          "out0004.docx", "out0005.docx", "out0006.docx"};
    const QStringList four = six.mid(0, 4);
    QTest::newRow("a second, shorter run, answered yes: the earlier tail goes once finished")
        << six + others << "yes"
        << "out.docx: replace 4, remove 2?" << four + others;
    QTest::newRow("answered no: nothing is written") << six + others << "no"
                                                     << "out.docx: replace 4, remove 2?" << six + others;
    QTest::newRow("a cancelled run removes nothing") << six + others << "cancel"
                                                     << "out.docx: replace 4, remove 2?" << six + others;
    QTest::newRow("only the tail of a longer run") << QStringList{"out0007.docx", "out10000.docx"} << "yes"
                                                   << "out.docx: replace 0, remove 2?" << four;
    QTest::newRow("only files of other names: no question") << others << "yes"
                                                            << "" << four + others;
}

void TestWordGui::numberedDocumentsAreReplacedOnlyWhenAsked() {
    QFETCH(QStringList, before);
    QFETCH(QString, answer);
    QFETCH(QString, question);
    QFETCH(QStringList, after);

    copyInputs();
    for (const QString& name : before)
        writeBytes(path(name), "earlier");
    h->setPaths(path("book.xlsx"), path("letter.docx"));
    h->in<QSpinBox>(&h->form, "UpDown1")->setValue(2);
    h->addPair("<name>", "A");
    if (!question.isEmpty())
        h->prompter.answers.enqueue(answer != "no");
    h->prompter.answers.enqueue(false); // do not show the folder
    if (answer == "cancel")
        h->cancelAfterFirstRecord();

    h->runCommand(path("out"));

    if (!question.isEmpty())
        QCOMPARE(h->messages().value(0), question);
    else
        QCOMPARE(h->messages().value(0), QString("WordProgressForm.String12"));
    QStringList expected = after + QStringList{"book.xlsx", "letter.docx"};
    expected.sort();
    QCOMPARE(bookfixture::folderEntries(dir->path()), expected);
    QCOMPARE(readAll(path("out.docx")), QByteArray(before.contains("out.docx") ? "earlier" : ""));
    if (answer == "yes")
        QCOMPARE(readDocument(path("out0004.docx")).paragraphs.value(0),
                 QString("Dear Dee, you live in <CITY>."));
    if (answer == "cancel")
        QCOMPARE(readDocument(path("out0001.docx")).paragraphs.value(0),
                 QString("Dear Ann, you live in <CITY>."));
    else if (answer == "no")
        QCOMPARE(readAll(path("out0001.docx")), QByteArray("earlier"));
}

void TestWordGui::runEndingsWithoutOutput_data() {
    QTest::addColumn<QString>("case_");
    QTest::addColumn<QString>("message");
    QTest::addColumn<bool>("detailed");

    QTest::newRow("the worksheet is not in the workbook") << "sheet"
                                                          << "WordProgressForm.String09" << false;
    QTest::newRow("the workbook is damaged") << "workbook"
                                             << "WordProgressForm.String08" << true;
    QTest::newRow("the template is no document") << "template"
                                                 << "WordProgressForm.String10" << true;
    QTest::newRow("cancelled before the first tick") << "early cancel"
                                                     << "" << false;
}

void TestWordGui::runEndingsWithoutOutput() {
    QFETCH(QString, case_);
    QFETCH(QString, message);
    QFETCH(bool, detailed);

    copyInputs();
    h->setPaths(path("book.xlsx"), path("letter.docx"));
    h->radio("RadioButton2")->setChecked(true);
    h->addPair("<name>", "A");
    if (case_ == "sheet")
        h->in<QComboBox>(&h->form, "ComboBox1")->setCurrentText("Sheet2");
    if (case_ == "workbook") // a package cut short, as a broken download leaves it
        writeBytes(path("book.xlsx"), readAll(path("book.xlsx")).left(200));
    if (case_ == "template")
        writeBytes(path("letter.docx"), readAll(path("letter.docx")).left(200));
    if (case_ == "early cancel")
        whenShown(&h->progress, [this] { h->progress.ButtonCancel->click(); });

    h->runCommand(path("out.docx"));

    QCOMPARE(h->messages(), message.isEmpty() ? QStringList{} : QStringList{message});
    for (const FakePrompter::Call& call : h->prompter.calls) {
        QCOMPARE(call.kind, FakePrompter::Kind::Information);
        QCOMPARE(call.title, QString("Common.Message"));
        QCOMPARE(call.detail.isEmpty(), !detailed);
    }
    QVERIFY(!h->progress.isVisible());
    QCOMPARE(h->report.lineCount(), 0);
    QCOMPARE(bookfixture::folderEntries(dir->path()), (QStringList{"book.xlsx", "letter.docx"}));
    QVERIFY(h->shell.opened.isEmpty());
}

QTEST_MAIN(TestWordGui)
#include "tst_wordgui.moc"
