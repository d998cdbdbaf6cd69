// The bulk-mail dialog and its command: the button rule, the emptying on every showing, the
// attachment list's order and visibility, the job read from the controls, the checks of the send
// button in their order and the command's refusal of a missing workbook.
#include "bulkwindows.h"
#include "merge/bulk/bulkcommandflow.h"
#include "merge/common/personalmailfields.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QSpinBox>
#include <QSplitter>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QToolButton>
#include <QTreeWidget>
#include <QtTest>

#include <memory>

Q_DECLARE_METATYPE(FakePrompter::Kind)

namespace {

struct Harness : BulkWindows {
    QListWidget* attachments() { return form.Fields->Panel1->ListView2; }

    void attach(const QString& path) {
        files.openAnswers.enqueue(path);
        form.Fields->ButtonAttachment->click();
    }

    QStringList attachmentNames() {
        QStringList names;
        for (int i = 0; i < attachments()->count(); ++i)
            names << attachments()->item(i)->text();
        return names;
    }

    void fill(const QString& workbook) {
        form.Fields->Edit1->setText(workbook);
        form.Fields->Edit3->setText("Subject");
        memo()->setPlainText("Body");
    }
};

bool listShown(MessagePanel* panel) {
    return !panel->ListView2->isHidden() && !panel->Splitter1->handle(1)->isHidden();
}

} // namespace

class TestBulkForm : public QObject {
    Q_OBJECT
private slots:
    void init();

    void sendFollowsPathSubjectAndBody_data();
    void sendFollowsPathSubjectAndBody();
    void deleteFollowsTheRuleNotTheSelection();
    void everyShowingStartsEmpty();
    void browseTakesTheChosenWorkbook();
    void previewButtonsHandTheirFieldsToThePicker_data();
    void previewButtonsHandTheirFieldsToThePicker();
    void recipientColumnButtonsPickTheirOwnColumn_data();
    void recipientColumnButtonsPickTheirOwnColumn();
    void templateBrowseAndTheDocumentFieldsFollowTheTemplate();

    void attachmentsKeepTheirOrderUntilARemovalSorts();
    void removeNeedsASelectionAndTheLastRemovalHidesTheList();
    void bodyIsTheMemosLinesEachEndedByCrLf_data();
    void bodyIsTheMemosLinesEachEndedByCrLf();
    void theJobIsReadFromTheControls();
    void theRecipientPageIsReadIntoTheJob();
    void thePaceBecomesThePauseBetweenMessages_data();
    void thePaceBecomesThePauseBetweenMessages();

    void sendChecks_data();
    void sendChecks();
    void commandRefusesAMissingWorkbook_data();
    void commandRefusesAMissingWorkbook();

private:
    std::unique_ptr<Harness> h;
    std::unique_ptr<QTemporaryDir> dir;
    QString path(const QString& name) const { return dir->filePath(name); }
    void touch(const QString& name) {
        QFile file(path(name));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("x");
    }
};

void TestBulkForm::init() {
    h = std::make_unique<Harness>();
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
}

void TestBulkForm::sendFollowsPathSubjectAndBody_data() {
    QTest::addColumn<QString>("workbook");
    QTest::addColumn<QString>("subject");
    QTest::addColumn<QString>("body");
    QTest::addColumn<bool>("enabled");

    QTest::newRow("all three") << "book.xlsx"
                               << "Hello"
                               << "Dear NAME" << true;
    QTest::newRow("no fill-in pair needed") << "b"
                                            << "s"
                                            << "x" << true;
    QTest::newRow("empty body") << "book.xlsx"
                                << "Hello"
                                << "" << false;
    QTest::newRow("body of blanks and line breaks") << "book.xlsx"
                                                    << "Hello"
                                                    << "  \n\t\n  " << false;
    QTest::newRow("empty subject") << "book.xlsx"
                                   << ""
                                   << "Body" << false;
    QTest::newRow("subject of blanks") << "book.xlsx"
                                       << "   "
                                       << "Body" << false;
    QTest::newRow("workbook path of blanks") << " \t"
                                             << "Hello"
                                             << "Body" << false;
    QTest::newRow("blanks around the texts still count") << " book.xlsx "
                                                         << " Hi "
                                                         << "\n Body \n"
                                                         << true;
}

void TestBulkForm::sendFollowsPathSubjectAndBody() {
    QFETCH(QString, workbook);
    QFETCH(QString, subject);
    QFETCH(QString, body);
    QFETCH(bool, enabled);

    h->form.show();
    QVERIFY2(!h->form.ButtonSend->isEnabled(), "an empty dialog cannot send");
    h->form.Fields->Edit1->setText(workbook);
    h->form.Fields->Edit3->setText(subject);
    h->memo()->setPlainText(body);
    QCOMPARE(h->form.ButtonSend->isEnabled(), enabled);
    // In any order of typing: the last edit decides with all three in view.
    h->memo()->setPlainText(body);
    h->form.Fields->Edit1->setText(workbook);
    QCOMPARE(h->form.ButtonSend->isEnabled(), enabled);
}

void TestBulkForm::deleteFollowsTheRuleNotTheSelection() {
    h->form.show();
    h->addPair("NAME", "B");
    h->addPair("CITY", "C");
    QCOMPARE(h->form.Fields->ListView1->topLevelItemCount(), 2);
    h->form.Fields->ListView1->setCurrentItem(h->form.Fields->ListView1->topLevelItem(0));
    QVERIFY2(!h->form.Fields->ButtonDelete->isEnabled(), "a selection alone does not run the rule");
    h->form.Fields->Edit3->setText("S");
    QVERIFY2(h->form.Fields->ButtonDelete->isEnabled(), "the next edit runs it");
    h->form.Fields->ButtonDelete->click();
    QCOMPARE(h->form.Fields->ListView1->topLevelItemCount(), 1);
    QCOMPARE(h->form.Fields->ListView1->topLevelItem(0)->text(2), QString("CITY"));
    // The rule ran after the deletion: Delete is on exactly when a pair is selected now.
    QCOMPARE(h->form.Fields->ButtonDelete->isEnabled(), !h->form.Fields->ListView1->selectedItems().isEmpty());
    h->form.Fields->ListView1->setCurrentItem(h->form.Fields->ListView1->topLevelItem(0));
    h->memo()->setPlainText("x");
    h->form.Fields->ButtonDelete->click();
    QCOMPARE(h->form.Fields->ListView1->topLevelItemCount(), 0);
    QVERIFY2(!h->form.Fields->ButtonDelete->isEnabled(), "nothing left to delete");
}

void TestBulkForm::everyShowingStartsEmpty() {
    touch("a.txt");
    h->form.show();
    h->fill("book.xlsx");
    h->form.Fields->ComboBox1->setCurrentIndex(2);
    h->form.Fields->ComboBox2->setCurrentText("D");
    h->form.Fields->UpDown1->setValue(5);
    h->addPair("NAME", "B");
    h->attach(path("a.txt"));
    PersonalMailFields* p = h->form.Fields->Personal;
    p->ComboAttach->setCurrentText("F");
    p->ComboCc->setCurrentText("G");
    p->ComboBcc->setCurrentText("H");
    p->CheckSubjectLabels->setChecked(true);
    p->CheckHtml->setChecked(true);
    p->EditTemplate->setText("letter.docx");
    p->ComboFormat->setCurrentIndex(1);
    p->EditName->setText("Invoice NAME");
    h->form.Fields->Tabs->setCurrentIndex(1);
    QVERIFY(listShown(h->form.Fields->Panel1));
    QVERIFY(h->form.ButtonSend->isEnabled());
    h->form.hide();

    h->form.show();
    QCOMPARE(h->form.Fields->Edit1->text(), QString());
    QCOMPARE(h->form.Fields->Edit3->text(), QString());
    QCOMPARE(h->memo()->toPlainText(), QString());
    QCOMPARE(h->form.Fields->ComboBox1->currentText(), QString("Sheet1"));
    QCOMPARE(h->form.Fields->ComboBox2->currentText(), QString("A"));
    QCOMPARE(h->form.Fields->UpDown1->value(), 1);
    QCOMPARE(h->form.Fields->ListView1->topLevelItemCount(), 0);
    QCOMPARE(h->attachments()->count(), 0);
    QVERIFY(!listShown(h->form.Fields->Panel1));
    QVERIFY(!h->form.ButtonSend->isEnabled());
    QVERIFY(!h->form.Fields->ButtonDelete->isEnabled());
    // The recipient page is back to the plain mailing, behind the message page.
    QCOMPARE(h->form.Fields->Tabs->currentIndex(), 0);
    const PersonalMail personal = h->form.job().personal;
    QCOMPARE(personal.attachColumn + personal.ccColumn + personal.bccColumn, 0);
    QVERIFY(!personal.subjectLabels && !personal.html);
    QVERIFY(personal.documentTemplate.isEmpty() && personal.documentName.isEmpty());
    QVERIFY(personal.documentFormat == PersonalMail::DocumentFormat::Pdf);
}

void TestBulkForm::browseTakesTheChosenWorkbook() {
    h->form.show();
    h->form.Fields->Edit1->setText("typed.xlsx");
    h->form.Fields->SpeedButton1->click(); // cancelled
    QCOMPARE(h->form.Fields->Edit1->text(), QString("typed.xlsx"));
    h->files.openAnswers.enqueue("/data/list.xlsx");
    h->form.Fields->SpeedButton1->click();
    QCOMPARE(h->form.Fields->Edit1->text(), QString("/data/list.xlsx"));
    QCOMPARE(h->files.openFilters, (QStringList{"OpenDialog.XlsFilter", "OpenDialog.XlsFilter"}));
}

void TestBulkForm::previewButtonsHandTheirFieldsToThePicker_data() {
    QTest::addColumn<QString>("button");
    QTest::newRow("e-mail column button") << "SpeedButtonPreview1";
    QTest::newRow("start line button") << "SpeedButtonPreview2";
}

void TestBulkForm::previewButtonsHandTheirFieldsToThePicker() {
    QFETCH(QString, button);
    touch("book.xlsx");
    h->form.show();
    h->form.Fields->Edit1->setText(path("book.xlsx"));
    h->form.Fields->ComboBox1->setCurrentIndex(1);
    h->form.Fields->ComboBox2->setCurrentText("C");
    h->form.Fields->UpDown1->setValue(4);

    struct Seen {
        QString path, columnMarker, lineMarker;
        int sheet = 0, column = 0, line = 0;
    } seen;
    whenShown(&h->preview, [&] {
        TPreviewForm& p = h->preview;
        seen = {p.workbookPath, p.columnMarkerText, p.lineMarkerText, p.sheet, p.markedColumn, p.markedLine};
        p.markedColumn = 5; // as if "E" and row 9 had been clicked
        p.markedLine = 9;
        p.close();
    });
    h->form.findChild<QToolButton*>(button)->click();
    QCOMPARE(seen.path, path("book.xlsx"));
    QCOMPARE(seen.sheet, 2);
    QCOMPARE(seen.column, 3);
    QCOMPARE(seen.line, 4);
    QCOMPARE(seen.columnMarker, QString("BulkForm.EmailColumn2"));
    QCOMPARE(seen.lineMarker, QString("BulkForm.StartLine2"));
    QCOMPARE(h->form.Fields->ComboBox2->currentText(), QString("E"));
    QCOMPARE(h->form.Fields->UpDown1->value(), 9);
}

void TestBulkForm::recipientColumnButtonsPickTheirOwnColumn_data() {
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("combo");
    QTest::addColumn<QString>("marker");
    QTest::addColumn<QString>("before"); // the combo's text when the picker opens
    QTest::addColumn<int>("shownColumn");
    QTest::newRow("attachments from None start on column A")
        << "PreviewAttach" << "ComboAttach" << "BulkForm.AttachColumn2" << "" << 1;
    QTest::newRow("cc marks the chosen column") << "PreviewCc" << "ComboCc" << "BulkForm.CcColumn2" << "D" << 4;
    QTest::newRow("bcc marks the chosen column") << "PreviewBcc" << "ComboBcc" << "BulkForm.BccColumn2" << "Z" << 26;
}

void TestBulkForm::recipientColumnButtonsPickTheirOwnColumn() {
    QFETCH(QString, button);
    QFETCH(QString, combo);
    QFETCH(QString, marker);
    QFETCH(QString, before);
    QFETCH(int, shownColumn);
    touch("book.xlsx");
    h->form.show();
    h->form.Fields->Edit1->setText(path("book.xlsx"));
    h->form.Fields->ComboBox1->setCurrentIndex(2);
    h->form.Fields->ComboBox2->setCurrentText("C");
    h->form.Fields->UpDown1->setValue(4);
    auto* column = h->form.findChild<QComboBox*>(combo);
    if (!before.isEmpty())
        column->setCurrentText(before);

    int sheet = 0, seenColumn = 0, seenLine = -1;
    QString seenMarker;
    whenShown(&h->preview, [&] {
        TPreviewForm& p = h->preview;
        sheet = p.sheet;
        seenColumn = p.markedColumn;
        seenLine = p.markedLine;
        seenMarker = p.columnMarkerText;
        p.markedColumn = 7; // as if "G" had been clicked
        p.close();
    });
    h->form.findChild<QToolButton*>(button)->click();
    QCOMPARE(sheet, 3);
    QCOMPARE(seenColumn, shownColumn);
    QCOMPARE(seenLine, 0); // no line to pick for a column of the recipient page
    QCOMPARE(seenMarker, marker);
    QCOMPARE(column->currentText(), QString("G"));
    // The address column and the start line are not this button's.
    QCOMPARE(h->form.Fields->ComboBox2->currentText(), QString("C"));
    QCOMPARE(h->form.Fields->UpDown1->value(), 4);
    QCOMPARE(h->form.job().personal.attachColumn, combo == "ComboAttach" ? 7 : 0);
}

void TestBulkForm::templateBrowseAndTheDocumentFieldsFollowTheTemplate() {
    h->form.show();
    PersonalMailFields* p = h->form.Fields->Personal;
    QVERIFY2(!p->ComboFormat->isEnabled() && !p->EditName->isEnabled(), "no template, nothing to name");
    h->files.openAnswers.enqueue("/data/letter.docx");
    p->ButtonTemplate->click();
    QCOMPARE(h->files.openFilters, QStringList{"OpenDialog.DocFilter"});
    QCOMPARE(p->EditTemplate->text(), QString("/data/letter.docx"));
    QVERIFY(p->ComboFormat->isEnabled() && p->EditName->isEnabled());
    p->EditTemplate->setText("  ");
    QVERIFY2(!p->ComboFormat->isEnabled(), "a template of blanks is none");
}

void TestBulkForm::attachmentsKeepTheirOrderUntilARemovalSorts() {
    for (const char* name : {"b.txt", "a.txt", "d.pdf", "c.png"})
        touch(name);
    h->form.show();
    QVERIFY(!listShown(h->form.Fields->Panel1));
    h->attach(path("b.txt"));
    QVERIFY2(listShown(h->form.Fields->Panel1), "the first attachment shows the list and its splitter");
    h->attach(path("a.txt"));
    h->attach(path("d.pdf"));
    h->attach(path("b.txt")); // the same file twice is two items
    h->attach(path("c.png"));
    h->form.Fields->ButtonAttachment->click(); // cancelled: nothing added
    QCOMPARE(h->files.openFilters, QStringList(6, QString()));
    QCOMPARE(h->attachmentNames(), (QStringList{"b.txt", "a.txt", "d.pdf", "b.txt", "c.png"}));
    QVERIFY(!h->attachments()->item(0)->icon().isNull());
    QCOMPARE(h->attachments()->iconSize(), QSize(32, 32));

    h->attachments()->item(2)->setSelected(true); // d.pdf
    h->form.Fields->Panel1->MenuRemoveClick();
    QCOMPARE(h->attachmentNames(), (QStringList{"a.txt", "b.txt", "b.txt", "c.png"}));
    // Each item still carries its own path.
    const BulkJob job = h->form.job();
    QCOMPARE(job.attachments.size(), 4);
    for (const Attachment& a : job.attachments)
        QCOMPARE(a.path, path(a.name));
}

void TestBulkForm::removeNeedsASelectionAndTheLastRemovalHidesTheList() {
    touch("one.txt");
    touch("two.txt");
    h->form.show();
    h->attach(path("one.txt"));
    h->attach(path("two.txt"));
    MessagePanel* panel = h->form.Fields->Panel1;

    panel->PopupMenu1Popup();
    QVERIFY2(!panel->MenuRemove->isEnabled(), "nothing selected");
    panel->MenuRemoveClick();
    QCOMPARE(h->attachments()->count(), 2);

    h->attachments()->selectAll();
    panel->PopupMenu1Popup();
    QVERIFY(panel->MenuRemove->isEnabled());
    panel->MenuRemove->trigger();
    QCOMPARE(h->attachments()->count(), 0);
    QVERIFY2(!listShown(panel), "an empty list is hidden with its splitter");

    h->attach(path("two.txt"));
    QVERIFY2(listShown(panel), "the next attachment shows it again");
    QCOMPARE(h->attachmentNames(), QStringList{"two.txt"});
}

void TestBulkForm::bodyIsTheMemosLinesEachEndedByCrLf_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("body");

    QTest::newRow("nothing") << ""
                             << "";
    QTest::newRow("one line") << "Dear NAME,"
                              << "Dear NAME,\r\n";
    QTest::newRow("Enter after the last line") << "Hello\n"
                                               << "Hello\r\n";
    QTest::newRow("an empty line inside") << "Hello\n\nBye"
                                          << "Hello\r\n\r\nBye\r\n";
    QTest::newRow("two Enters at the end") << "Hello\n\n"
                                           << "Hello\r\n\r\n";
    QTest::newRow("blanks kept as typed") << "  x  \n y"
                                          << "  x  \r\n y\r\n";
}

void TestBulkForm::bodyIsTheMemosLinesEachEndedByCrLf() {
    QFETCH(QString, typed);
    QFETCH(QString, body);
    h->memo()->setPlainText(typed);
    QCOMPARE(h->form.job().body, body);
}

void TestBulkForm::theJobIsReadFromTheControls() {
    touch("a.txt");
    h->form.show();
    h->form.Fields->Edit1->setText("  /data/list.xlsx ");
    h->form.Fields->ComboBox1->setCurrentText("Sheet3");
    h->form.Fields->ComboBox2->setCurrentText("Z");
    h->form.Fields->UpDown1->setValue(20);
    h->addPair("  NAME ", "B");
    h->addPair("NAME", "Y");
    h->form.Fields->Edit3->setText("Hello NAME");
    h->memo()->setPlainText("Dear NAME\nbye");
    h->attach(path("a.txt"));

    const BulkJob job = h->form.job();
    QCOMPARE(job.workbookPath, QString("/data/list.xlsx"));
    QCOMPARE(job.sheet, 3);
    QCOMPARE(job.emailColumn, 26);
    QCOMPARE(job.startLine, 20);
    QCOMPARE(job.pairs.size(), 2);
    QCOMPARE(job.pairs[0].column, 2);
    QCOMPARE(job.pairs[0].label, QString("NAME"));
    QCOMPARE(job.pairs[1].column, 25);
    QCOMPARE(job.subject, QString("Hello NAME"));
    QCOMPARE(job.body, QString("Dear NAME\r\nbye\r\n"));
    QCOMPARE(job.attachments.size(), 1);
    QCOMPARE(job.attachments[0].name, QString("a.txt"));
    QCOMPARE(job.attachments[0].path, path("a.txt"));
    QCOMPARE(job.personal.attachColumn, 0);
}

void TestBulkForm::theRecipientPageIsReadIntoTheJob() {
    h->form.show();
    PersonalMailFields* p = h->form.Fields->Personal;
    p->ComboAttach->setCurrentText("A");
    p->ComboCc->setCurrentText("K");
    p->ComboBcc->setCurrentText("Z");
    p->CheckSubjectLabels->setChecked(true);
    p->CheckHtml->setChecked(true);
    p->EditTemplate->setText(" /data/letter.odt ");
    p->ComboFormat->setCurrentIndex(1);
    p->EditName->setText(" Invoice NAME ");
    const PersonalMail personal = h->form.job().personal;
    QCOMPARE(personal.attachColumn, 1);
    QCOMPARE(personal.ccColumn, 11);
    QCOMPARE(personal.bccColumn, 26);
    QVERIFY(personal.subjectLabels && personal.html);
    QCOMPARE(personal.documentTemplate, QString("/data/letter.odt"));
    QVERIFY(personal.documentFormat == PersonalMail::DocumentFormat::Docx);
    QCOMPARE(personal.documentName, QString("Invoice NAME"));
}

void TestBulkForm::thePaceBecomesThePauseBetweenMessages_data() {
    QTest::addColumn<int>("perMinute");
    QTest::addColumn<int>("limit");
    QTest::addColumn<int>("intervalMs");
    QTest::addColumn<QString>("limitShown");
    QTest::newRow("the default: a second between two messages") << 60 << 0 << 1000 << "BulkForm.NoLimit";
    QTest::newRow("a provider's 30 a minute") << 30 << 0 << 2000 << "BulkForm.NoLimit";
    QTest::newRow("the fastest") << 600 << 250 << 100 << "250";
    QTest::newRow("the slowest") << 1 << 1 << 60000 << "1";
    QTest::newRow("a pace that does not divide a minute rounds the pause down") << 7 << 0 << 8571 << "BulkForm.NoLimit";
    QTest::newRow("beyond the range is held to it") << 1000 << 0 << 100 << "BulkForm.NoLimit";
}

void TestBulkForm::thePaceBecomesThePauseBetweenMessages() {
    QFETCH(int, perMinute);
    QFETCH(int, limit);
    h->form.applyTexts(h->texts);
    h->form.show();
    QCOMPARE(h->form.SpinPace->value(), 60);
    QCOMPARE(h->form.SpinLimit->value(), 0);
    h->form.SpinPace->setValue(perMinute);
    h->form.SpinLimit->setValue(limit);
    QTEST(h->form.job().intervalMs, "intervalMs");
    QCOMPARE(h->form.job().limit, limit);
    QTEST(h->form.SpinLimit->text(), "limitShown");
    h->form.hide();
    h->form.show();
    QCOMPARE(h->form.job().intervalMs, 1000);
    QCOMPARE(h->form.job().limit, 0);
}

void TestBulkForm::sendChecks_data() {
    QTest::addColumn<bool>("spreadsheetRunning");
    QTest::addColumn<QString>("blankField"); // an options field left blank, or none
    QTest::addColumn<QString>("message");    // empty: the dialog closes with OK

    QTest::newRow("all well") << false << ""
                              << "";
    QTest::newRow("spreadsheet running") << true << ""
                                         << "BulkProgressForm.String01";
    QTest::newRow("spreadsheet running comes before incomplete options") << true << "EditPassword"
                                                                         << "BulkProgressForm.String01";
    for (const char* field : {"EditEmail", "EditSMTPServer", "EditPort", "EditAccounts", "EditPassword"})
        QTest::addRow("%s blank", field) << false << field << "BulkProgressForm.String02";
}

void TestBulkForm::sendChecks() {
    QFETCH(bool, spreadsheetRunning);
    QFETCH(QString, blankField);
    QFETCH(QString, message);

    h->probe.spreadsheet = spreadsheetRunning;
    if (!blankField.isEmpty())
        h->options.findChild<QLineEdit*>(blankField)->setText(blankField == "EditPort" ? "" : "   ");
    bool closedWithOk = false;
    whenShown(&h->form, [&] {
        h->fill("book.xlsx");
        h->form.ButtonSend->click();
        closedWithOk = !h->form.isVisible() && h->form.result() == QDialog::Accepted;
        if (h->form.isVisible())
            h->form.ButtonCancel->click();
    });
    const int result = h->form.exec();
    QCOMPARE(h->messages(), message.isEmpty() ? QStringList() : QStringList{message});
    QCOMPARE(closedWithOk, message.isEmpty());
    QCOMPARE(result, message.isEmpty() ? int(QDialog::Accepted) : int(QDialog::Rejected));
    if (!message.isEmpty()) {
        QCOMPARE(h->prompter.calls[0].kind, FakePrompter::Kind::Information);
        QCOMPARE(h->prompter.calls[0].title, QString("Common.Message"));
    }
}

void TestBulkForm::commandRefusesAMissingWorkbook_data() {
    QTest::addColumn<QString>("workbook");
    QTest::newRow("no such file") << "missing.xlsx";
    QTest::newRow("a folder") << ".";
}

void TestBulkForm::commandRefusesAMissingWorkbook() {
    QFETCH(QString, workbook);
    bool runShown = false;
    whenShown(&h->progress, [&] {
        runShown = true;
        h->progress.ButtonCancelClick();
        h->progress.close();
    });
    whenShown(&h->form, [&] {
        h->fill(path(workbook));
        h->form.ButtonSend->click();
    });
    bulkMailsCommand(h->services, h->form, h->progress);
    QCOMPARE(h->messages(), QStringList{"BulkProgressForm.String03"});
    QVERIFY(!runShown);
}

QTEST_MAIN(TestBulkForm)
#include "tst_bulkform.moc"
