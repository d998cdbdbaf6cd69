// The mail-client mode through its windows: the settings dialog's rules, emptied on every show,
// the attachment list, the running-program refusal, and whole commands that save into a private
// outbox or hand each message to a scripted system mailer.
#include "app/runreport.h"
#include "app/services.h"
#include "mail/imapfixture.h"
#include "mail/mailfixture.h"
#include "merge/common/attachmentlist.h"
#include "merge/common/formpreview.h"
#include "merge/common/mailjobfields.h"
#include "merge/common/personalmailfields.h"
#include "merge/outlook/formoutlook.h"
#include "merge/outlook/formoutlookprogress.h"
#include "merge/outlook/outlookcommandflow.h"
#include "outlook/outlookfixture.h"
#include "support/fakes.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QJsonArray>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QSplitter>
#include <QTemporaryDir>
#include <QToolButton>
#include <QTreeView>
#include <QTreeWidget>
#include <QtTest>

#include <memory>

using namespace outlookfixture;

namespace {

// Every window of the mode as the program builds them, on scripted seams and a bare run report.
struct Harness {
    FakeTexts texts{{"OutlookProgressForm.String17", "left out: [xxx]"}};
    FakePrompter prompter;
    FakeFileDialogs files;
    FakeShell shell;
    FakeAppProbe probe;
    QTreeView view;
    QLabel panels[3];
    RunReport report{&view, &panels[0], &panels[1], &panels[2]};
    Services services{texts, prompter, files, shell, probe, &report};
    TOutlookForm form{services};
    TOutlookAddForm addForm{services, form.sourceWorkbook()};
    TOutlookProgressForm progress{services};
    TPreviewForm preview{services};
    QString sender;

    Harness() {
        form.setAddForm(&addForm);
        form.setPreviewForm(&preview);
        addForm.setPreviewForm(&preview);
        progress.setSettingsSource([this] { return form.settings(); });
        progress.setSenderSource([this] { return sender; });
        form.applyTexts(texts);
        addForm.applyTexts(texts);
        progress.applyTexts(texts);
    }

    // Through the Add dialog, as the user does it.
    void addPair(const QString& column, const QString& label) {
        whenShown(&addForm, [this, column, label] {
            addForm.findChild<QLineEdit*>("Edit1")->setText(label);
            addForm.findChild<QComboBox*>("ComboBox1")->setCurrentText(column);
            addForm.findChild<QPushButton*>("ButtonAdd")->click();
        });
        form.Fields->ButtonAdd->click();
    }

    void addAttachment(const QString& path) {
        files.openAnswers.enqueue(path);
        form.Fields->ButtonAttachment->click();
    }

    QStringList attachmentNames() const {
        QStringList names;
        for (int i = 0; i < form.Fields->Panel1->ListView2->count(); ++i)
            names << form.Fields->Panel1->ListView2->item(i)->text();
        return names;
    }

    // The main window's command; fill plays the user inside the dialog, which empties itself
    // when it is shown.
    void runCommand(std::function<void()> fill) {
        whenShown(&form, std::move(fill));
        excelToOutlookCommand(services, form, progress);
    }

    QStringList messages() const {
        QStringList texts;
        for (const FakePrompter::Call& call : prompter.calls)
            texts << call.text;
        return texts;
    }
};

} // namespace

class TestOutlookGui : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();

    void buttonsFollowPathSubjectAndBody_data();
    void buttonsFollowPathSubjectAndBody();
    void deleteFollowsTheRuleNotTheSelection();
    void dialogIsEmptiedOnEveryShow();
    void attachmentsKeepTheirOrderUntilARemovalSortsThem();
    void buttonsRefusedWhileAProgramRuns_data();
    void buttonsRefusedWhileAProgramRuns();
    void previewButtonsMarkAddressColumnAndStartLine();

    void commandSavesOrSends_data();
    void commandSavesOrSends();
    void reportLinesAndCounters_data();
    void reportLinesAndCounters();
    void missingWorkbookIsRefusedAndTheDialogComesBackEmpty();
    void cancelBeforeTheFirstTickMakesNoMessage();
    void failingMailerEndsTheRunWithItsCause();
    void outboxThatCannotBeMadeIsTheMailProgramMessage();
    void eachRowsDocumentIsSavedWithItsMessage();
    void documentsThatCannotBeMadeEndTheRunFirst();
    void saveIntoDraftsOnTheServer_data();
    void saveIntoDraftsOnTheServer();

private:
    QString path(const QString& name) const { return m_dir->filePath(name); }
    QString outbox() const { return path("Maildir/.Outbox"); }

    std::unique_ptr<Harness> h;
    std::unique_ptr<QTemporaryDir> m_dir;
    QTemporaryDir m_binDir;
};

void TestOutlookGui::initTestCase() {
    QVERIFY(m_binDir.isValid());
    usePrivatePath(m_binDir.path());
}

void TestOutlookGui::init() {
    h = std::make_unique<Harness>();
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    qputenv("MAILDIR", QFile::encodeName(path("Maildir")));
    for (const QString& name : entries(m_binDir.path()))
        QFile::remove(m_binDir.filePath(name));
}

void TestOutlookGui::buttonsFollowPathSubjectAndBody_data() {
    QTest::addColumn<QString>("workbook");
    QTest::addColumn<QString>("subject");
    QTest::addColumn<QString>("body");
    QTest::addColumn<bool>("withPair");
    QTest::addColumn<bool>("enabled");
    QTest::newRow("all three and a pair") << "a.xlsx" << "Hi" << "Dear X" << true << true;
    QTest::newRow("an empty fill-in list does not disable") << "a.xlsx" << "Hi" << "Dear X" << false << true;
    QTest::newRow("workbook of blanks") << "  " << "Hi" << "Dear X" << true << false;
    QTest::newRow("subject of blanks") << "a.xlsx" << " \t " << "Dear X" << true << false;
    QTest::newRow("body of blank lines") << "a.xlsx" << "Hi" << "  \n\n \t" << true << false;
    QTest::newRow("nothing typed") << "" << "" << "" << false << false;
}

void TestOutlookGui::buttonsFollowPathSubjectAndBody() {
    QFETCH(QString, workbook);
    QFETCH(QString, subject);
    QFETCH(QString, body);
    QFETCH(bool, withPair);
    QFETCH(bool, enabled);
    h->form.show();
    QVERIFY(!h->form.ButtonSave->isEnabled());
    if (withPair)
        h->addPair("B", "NAME");
    h->form.Fields->Edit1->setText(workbook);
    h->form.Fields->Edit3->setText(subject);
    h->form.Fields->Panel1->Memo1->setPlainText(body);
    QCOMPARE(h->form.ButtonSave->isEnabled(), enabled);
    QCOMPARE(h->form.ButtonSend->isEnabled(), enabled);
}

void TestOutlookGui::deleteFollowsTheRuleNotTheSelection() {
    h->form.show();
    h->addPair("B", "NAME");
    h->addPair("C", "CITY");
    QVERIFY(!h->form.Fields->ButtonDelete->isEnabled());
    h->form.Fields->ListView1->setCurrentItem(h->form.Fields->ListView1->topLevelItem(0));
    // Selecting runs no rule: Delete catches up at the next edit.
    QVERIFY(!h->form.Fields->ButtonDelete->isEnabled());
    h->form.Fields->Edit3->setText("S");
    QVERIFY(h->form.Fields->ButtonDelete->isEnabled());
    h->form.Fields->ButtonDelete->click();
    QCOMPARE(h->form.Fields->ListView1->topLevelItemCount(), 1);
    QCOMPARE(h->form.Fields->ListView1->topLevelItem(0)->text(2), QStringLiteral("CITY"));
}

void TestOutlookGui::dialogIsEmptiedOnEveryShow() {
    QVERIFY(writeFile(path("a.pdf"), "pdf"));
    h->form.show();
    h->form.Fields->Edit1->setText(path("book.csv"));
    h->form.Fields->ComboBox1->setCurrentIndex(3);
    h->form.Fields->ComboBox2->setCurrentText("D");
    h->form.Fields->UpDown1->setValue(7);
    h->addPair("B", "  NAME  ");
    h->form.Fields->Edit3->setText("Subject");
    h->form.Fields->Panel1->Memo1->setPlainText("Body");
    h->addAttachment(path("a.pdf"));
    QCOMPARE(h->form.settings().pairs.value(0).label, QStringLiteral("NAME"));
    QVERIFY(!h->form.Fields->Panel1->ListView2->isHidden());
    // The recipient page reaches the run's settings as it reaches the bulk job.
    h->form.Fields->Personal->ComboBcc->setCurrentText("E");
    h->form.Fields->Personal->CheckHtml->setChecked(true);
    QCOMPARE(h->form.settings().personal.bccColumn, 5);
    QVERIFY(h->form.settings().personal.html);
    h->form.reject();

    h->form.show();
    QCOMPARE(h->form.Fields->Edit1->text(), QString());
    QCOMPARE(h->form.Fields->ComboBox1->currentText(), QStringLiteral("Sheet1"));
    QCOMPARE(h->form.Fields->ComboBox2->currentText(), QStringLiteral("A"));
    QCOMPARE(h->form.Fields->UpDown1->value(), 1);
    QCOMPARE(h->form.Fields->ListView1->topLevelItemCount(), 0);
    QCOMPARE(h->form.Fields->Edit3->text(), QString());
    QCOMPARE(h->form.Fields->Panel1->Memo1->toPlainText(), QString());
    QCOMPARE(h->form.Fields->Panel1->ListView2->count(), 0);
    QVERIFY(h->form.Fields->Panel1->ListView2->isHidden());
    QCOMPARE(h->form.result(), 0);
    QVERIFY(!h->form.ButtonSave->isEnabled());
}

void TestOutlookGui::attachmentsKeepTheirOrderUntilARemovalSortsThem() {
    h->form.show();
    QVERIFY(h->form.Fields->Panel1->ListView2->isHidden());
    for (const char* name : {"zeta.txt", "beta.png", "report 2.pdf", "alpha.pdf"}) {
        QVERIFY(writeFile(path(name), name));
        h->addAttachment(path(name));
    }
    QCOMPARE(h->files.openFilters, QStringList(4, QString())); // every file shown
    QVERIFY(!h->form.Fields->Panel1->ListView2->isHidden());
    QCOMPARE(h->attachmentNames(), (QStringList{"zeta.txt", "beta.png", "report 2.pdf", "alpha.pdf"}));
    QVERIFY(!h->form.Fields->Panel1->ListView2->item(0)->icon().isNull());
    const QList<Attachment> listed = h->form.settings().attachments;
    QCOMPARE(listed.size(), 4);
    QCOMPARE(listed[0].path, path("zeta.txt"));

    h->form.Fields->Panel1->PopupMenu1Popup();
    QVERIFY(!h->form.Fields->Panel1->MenuRemove->isEnabled());
    h->form.Fields->Panel1->ListView2->item(2)->setSelected(true); // report 2.pdf
    h->form.Fields->Panel1->PopupMenu1Popup();
    QVERIFY(h->form.Fields->Panel1->MenuRemove->isEnabled());
    h->form.Fields->Panel1->MenuRemove->trigger();
    QCOMPARE(h->attachmentNames(), (QStringList{"alpha.pdf", "beta.png", "zeta.txt"}));
    QCOMPARE(h->form.settings().attachments.at(2).path, path("zeta.txt"));

    h->form.Fields->Panel1->ListView2->selectAll();
    h->form.Fields->Panel1->MenuRemove->trigger();
    QCOMPARE(h->form.Fields->Panel1->ListView2->count(), 0);
    QVERIFY(h->form.Fields->Panel1->ListView2->isHidden());
}

void TestOutlookGui::buttonsRefusedWhileAProgramRuns_data() {
    QTest::addColumn<bool>("spreadsheet");
    QTest::addColumn<bool>("mailProgram");
    QTest::addColumn<QString>("button");
    QTest::newRow("spreadsheet program, Save") << true << false << "ButtonSave";
    QTest::newRow("spreadsheet program, Send") << true << false << "ButtonSend";
    QTest::newRow("mail program, Save") << false << true << "ButtonSave";
    QTest::newRow("mail program, Send") << false << true << "ButtonSend";
    QTest::newRow("neither, Save closes with OK") << false << false << "ButtonSave";
    QTest::newRow("neither, Send closes with Yes") << false << false << "ButtonSend";
}

void TestOutlookGui::buttonsRefusedWhileAProgramRuns() {
    QFETCH(bool, spreadsheet);
    QFETCH(bool, mailProgram);
    QFETCH(QString, button);
    h->probe.spreadsheet = spreadsheet;
    h->probe.mailClient = mailProgram;
    int result = -1;
    whenShown(&h->form, [this, button] {
        h->form.Fields->Edit1->setText("a.xlsx");
        h->form.Fields->Edit3->setText("Hi");
        h->form.Fields->Panel1->Memo1->setPlainText("Body");
        h->form.findChild<QPushButton*>(button)->click();
        if (h->form.isVisible()) {
            // Refused: the entries stay as typed; the user gives up.
            QCOMPARE(h->form.Fields->Edit3->text(), QStringLiteral("Hi"));
            h->form.reject();
        }
    });
    result = h->form.exec();
    if (spreadsheet || mailProgram) {
        QCOMPARE(h->messages(), QStringList{"OutlookProgressForm.String01"});
        QCOMPARE(h->prompter.calls.at(0).title, QStringLiteral("Common.Message"));
        QCOMPARE(result, int(QDialog::Rejected));
    } else {
        QVERIFY(h->prompter.calls.isEmpty());
        QCOMPARE(result, button == "ButtonSave" ? int(QDialog::Accepted) : TOutlookForm::ResultYes);
    }
}

void TestOutlookGui::previewButtonsMarkAddressColumnAndStartLine() {
    QVERIFY(writeBook(path("book.csv"), {{"a@example.com", "Ann"}}));
    h->form.show();
    // Without an existing file nothing opens.
    h->form.Fields->Edit1->setText(path("gone.csv"));
    h->form.Fields->SpeedButtonPreview1->click();
    QVERIFY(!h->preview.isVisible());

    h->form.Fields->Edit1->setText(path("book.csv"));
    h->form.Fields->ComboBox2->setCurrentText("C");
    h->form.Fields->UpDown1->setValue(4);
    for (QToolButton* button : {h->form.Fields->SpeedButtonPreview1, h->form.Fields->SpeedButtonPreview2}) {
        QStringList seen;
        whenShown(&h->preview, [this, &seen] {
            seen << h->preview.workbookPath << QString::number(h->preview.markedColumn)
                 << QString::number(h->preview.markedLine) << h->preview.columnMarkerText
                 << h->preview.lineMarkerText;
            h->preview.markedColumn = 5;
            h->preview.markedLine = 2;
            h->preview.done(0);
        });
        button->click();
        QCOMPARE(seen, (QStringList{path("book.csv"), button == h->form.Fields->SpeedButtonPreview1 ? "3" : "5",
                                    button == h->form.Fields->SpeedButtonPreview1 ? "4" : "2",
                                    "OutlookForm.EmailColumn2", "OutlookForm.StartLine2"}));
        QCOMPARE(h->form.Fields->ComboBox2->currentText(), QStringLiteral("E"));
        QCOMPARE(h->form.Fields->UpDown1->value(), 2);
    }
}

void TestOutlookGui::commandSavesOrSends_data() {
    QTest::addColumn<bool>("save");
    QTest::newRow("Save to the outbox") << true;
    QTest::newRow("Send by the system mailer") << false;
}

void TestOutlookGui::commandSavesOrSends() {
    QFETCH(bool, save);
    QVERIFY(installFailingMailer(m_binDir.path(), 100)); // takes every message, keeps each
    QVERIFY(writeBook(path("book.csv"), {{"Mail", "Name"}, {"ann@example.com", "Ann"}, {"bob@example.org", "Bob"}}));
    QVERIFY(writeFile(path("map.png"), QByteArray("\x89PNG\r\n\x1a\n", 8)));
    h->sender = QStringLiteral("office@example.net");
    h->runCommand([this, save] {
        h->form.Fields->Edit1->setText(path("book.csv"));
        h->form.Fields->UpDown1->setValue(2);
        h->addPair("B", "{name}");
        h->form.Fields->Edit3->setText("Hello {name}");
        h->form.Fields->Panel1->Memo1->setPlainText("Dear {name},\nsee the map.");
        h->addAttachment(path("map.png"));
        (save ? h->form.ButtonSave : h->form.ButtonSend)->click();
    });
    QCOMPARE(h->progress.saveMode(), save);
    QCOMPARE(h->messages(), QStringList{save ? "OutlookProgressForm.String08" : "OutlookProgressForm.String09"});
    QVERIFY(!h->progress.isVisible());
    QCOMPARE(h->report.lineCount(), 2);
    QCOMPARE(h->report.subItems(0), (QStringList{"ann@example.com", "Ann"}));
    QCOMPARE(h->report.columnCaptions(), (QStringList{"", "ListView.MailTo", "ListView.Field1", "ListView.Comment"}));

    QStringList files;
    if (save) {
        for (const QString& name : entries(outbox() + "/new"))
            files << outbox() + "/new/" + name;
        QVERIFY(entries(m_binDir.path()).contains("sendmail"));
        QVERIFY(!QFile::exists(m_binDir.filePath("mail-1")));
    } else {
        files << m_binDir.filePath("mail-1") << m_binDir.filePath("mail-2");
        QVERIFY(!QFileInfo::exists(outbox()));
    }
    QCOMPARE(files.size(), 2);
    QStringList bodies;
    for (const QString& file : files) {
        const QJsonObject message = mailfixture::readMessage(file);
        QCOMPARE(message.value("subject").toString(), QStringLiteral("Hello {name}"));
        QCOMPARE(message.value("from").toArray().at(0).toArray().at(1).toString(), h->sender);
        const QJsonArray parts = message.value("parts").toArray();
        QCOMPARE(parts.size(), 2);
        QCOMPARE(parts.at(1).toObject().value("filename").toString(), QStringLiteral("map.png"));
        bodies << parts.at(0).toObject().value("text").toString();
    }
    bodies.sort();
    QCOMPARE(bodies, (QStringList{"Dear Ann,\r\nsee the map.\r\n", "Dear Bob,\r\nsee the map.\r\n"}));
}

void TestOutlookGui::reportLinesAndCounters_data() {
    QTest::addColumn<bool>("withPairs");
    QTest::addColumn<QList<int>>("images");
    QTest::addColumn<QStringList>("panels");
    QTest::newRow("values, one empty, all empty") << true << QList<int>{0, 2, 1}
                                                  << QStringList{"StatusBar.Records3", "StatusBar.NullValues1",
                                                                 "StatusBar.Failures1"};
    QTest::newRow("an empty fill-in list makes every line a failure")
        << false << QList<int>{1, 1, 1}
        << QStringList{"StatusBar.Records3", "StatusBar.NullValues0", "StatusBar.Failures3"};
}

void TestOutlookGui::reportLinesAndCounters() {
    QFETCH(bool, withPairs);
    QFETCH(QList<int>, images);
    QFETCH(QStringList, panels);
    QVERIFY(writeBook(path("book.csv"), {{"a@example.com", "Ann", "Oslo"},
                                         {"Ann <b@example.com>", "skipped", ""},
                                         {"c@example.com", "Cy", ""},
                                         {"d@example.com", "", ""}}));
    h->runCommand([this, withPairs] {
        h->form.Fields->Edit1->setText(path("book.csv"));
        if (withPairs) {
            h->addPair("B", "N");
            h->addPair("C", "C");
        }
        h->form.Fields->Edit3->setText("S");
        h->form.Fields->Panel1->Memo1->setPlainText("N C");
        h->form.ButtonSave->click();
    });
    // The row whose address is a display name is passed over, and counted in the end message.
    QCOMPARE(h->messages(), QStringList{"OutlookProgressForm.String08\n\nleft out: 1"});
    QList<int> seen;
    for (int line = 0; line < h->report.lineCount(); ++line)
        seen << h->report.image(line);
    QCOMPARE(seen, images);
    if (withPairs)
        QCOMPARE(h->report.subItems(2), (QStringList{"d@example.com", "-", "-"}));
    h->report.flush();
    QCOMPARE((QStringList{h->report.panelText(0), h->report.panelText(1), h->report.panelText(2)}), panels);
    QCOMPARE(h->progress.Label1->text(), QStringLiteral("OutlookProgressForm.String04"));
    QCOMPARE(entries(outbox() + "/new").size(), 3);
}

void TestOutlookGui::missingWorkbookIsRefusedAndTheDialogComesBackEmpty() {
    bool progressShown = false;
    whenShown(&h->progress, [&progressShown] { progressShown = true; });
    h->runCommand([this] {
        h->form.Fields->Edit1->setText(path("gone.xlsx"));
        h->form.Fields->Edit3->setText("S");
        h->form.Fields->Panel1->Memo1->setPlainText("B");
        h->form.ButtonSend->click();
    });
    QCOMPARE(h->messages(), QStringList{"OutlookProgressForm.String02"});
    QVERIFY(!progressShown);
    h->form.show();
    QCOMPARE(h->form.Fields->Edit1->text(), QString());
    QCOMPARE(h->form.Fields->Edit3->text(), QString());
}

void TestOutlookGui::cancelBeforeTheFirstTickMakesNoMessage() {
    QVERIFY(writeBook(path("book.csv"), {{"a@example.com"}, {"b@example.com"}}));
    // The run dialog is on screen for half a second before its tick: Cancel is taken then.
    whenShown(&h->progress, [this] { h->progress.ButtonCancel->click(); });
    h->runCommand([this] {
        h->form.Fields->Edit1->setText(path("book.csv"));
        h->form.Fields->Edit3->setText("S");
        h->form.Fields->Panel1->Memo1->setPlainText("B");
        h->form.ButtonSave->click();
    });
    QVERIFY(h->prompter.calls.isEmpty());
    QCOMPARE(h->report.lineCount(), 0);
    QVERIFY(entries(outbox() + "/new").isEmpty());
    QVERIFY(!h->progress.isVisible());
}

void TestOutlookGui::failingMailerEndsTheRunWithItsCause() {
    QVERIFY(installFailingMailer(m_binDir.path(), 1));
    QVERIFY(writeBook(path("book.csv"), {{"a@example.com"}, {"b@example.com"}, {"c@example.com"}}));
    h->runCommand([this] {
        h->form.Fields->Edit1->setText(path("book.csv"));
        h->form.Fields->Edit3->setText("S");
        h->form.Fields->Panel1->Memo1->setPlainText("B");
        h->form.ButtonSend->click();
    });
    QCOMPARE(h->messages(), QStringList{"OutlookProgressForm.String07"});
    QVERIFY2(h->prompter.calls.at(0).detail.contains("451 relay temporarily refused"),
             qPrintable(h->prompter.calls.at(0).detail));
    QCOMPARE(h->report.lineCount(), 1);
    QVERIFY(!h->progress.isVisible());
    QVERIFY(h->progress.stopFlag());
}

void TestOutlookGui::outboxThatCannotBeMadeIsTheMailProgramMessage() {
    QVERIFY(writeFile(path("Maildir"), "in the way"));
    QVERIFY(writeBook(path("book.csv"), {{"a@example.com"}}));
    h->runCommand([this] {
        h->form.Fields->Edit1->setText(path("book.csv"));
        h->form.Fields->Edit3->setText("S");
        h->form.Fields->Panel1->Memo1->setPlainText("B");
        h->form.ButtonSave->click();
    });
    QCOMPARE(h->messages(), QStringList{"OutlookProgressForm.String07"});
    QVERIFY(h->prompter.calls.at(0).detail.contains(path("Maildir")));
    QCOMPARE(h->report.lineCount(), 0);
}

// The row's own document, made with the row's values (its labels found whatever their case),
// goes with that row's message into the outbox; .docx needs no LibreOffice (PATH holds none here).
void TestOutlookGui::eachRowsDocumentIsSavedWithItsMessage() {
    QVERIFY(writeBook(path("book.csv"), {{"ann@example.com", "Ann"}, {"bob@example.org", "Bob"}}));
    QProcess python;
    python.start(QStringLiteral(TW_PYTHON), {"-c",
                                             "import docx,sys\nd=docx.Document()\nd.add_paragraph('Dear {NAME}')\n"
                                             "d.save(sys.argv[1])",
                                             path("letter.docx")});
    QVERIFY(python.waitForFinished(60000) && python.exitCode() == 0);
    h->progress.setSettingsSource([this] {
        OutlookMergeSettings s = h->form.settings();
        s.personal.documentTemplate = path("letter.docx");
        s.personal.documentFormat = PersonalMail::DocumentFormat::Docx;
        s.personal.documentName = QStringLiteral("Letter {name}");
        return s;
    });
    h->runCommand([this] {
        h->form.Fields->Edit1->setText(path("book.csv"));
        h->addPair("B", "{name}");
        h->form.Fields->Edit3->setText("S");
        h->form.Fields->Panel1->Memo1->setPlainText("Dear {name}");
        h->form.ButtonSave->click();
    });
    QCOMPARE(h->messages(), QStringList{"OutlookProgressForm.String08"});
    QStringList found;
    for (const QString& name : entries(outbox() + "/new")) {
        const QJsonObject message = mailfixture::readMessage(outbox() + "/new/" + name);
        const QJsonArray parts = message.value("parts").toArray();
        QCOMPARE(parts.size(), 2);
        const QString text = parts.at(0).toObject().value("text").toString();
        const QString file = parts.at(1).toObject().value("filename").toString();
        QCOMPARE(file, QStringLiteral("Letter %1.docx").arg(text.mid(5).trimmed()));
        const QString saved = path(file);
        QVERIFY(writeFile(saved, mailfixture::fromBase64(parts.at(1).toObject().value("data"))));
        QProcess reader;
        reader.start(QStringLiteral(TW_PYTHON),
                     {"-c", "import docx,sys\nprint(docx.Document(sys.argv[1]).paragraphs[0].text)", saved});
        QVERIFY(reader.waitForFinished(60000) && reader.exitCode() == 0);
        QCOMPARE(QString::fromUtf8(reader.readAllStandardOutput()).trimmed(), text.trimmed());
        found << file;
    }
    found.sort();
    QCOMPARE(found, (QStringList{"Letter Ann.docx", "Letter Bob.docx"}));
}

void TestOutlookGui::documentsThatCannotBeMadeEndTheRunFirst() {
    QVERIFY(writeBook(path("book.csv"), {{"ann@example.com", "Ann"}}));
    QVERIFY(writeFile(path("letter.docx"), "not a document"));
    h->progress.setSettingsSource([this] {
        OutlookMergeSettings s = h->form.settings();
        s.personal.documentTemplate = path("letter.docx");
        return s;
    });
    h->runCommand([this] {
        h->form.Fields->Edit1->setText(path("book.csv"));
        h->form.Fields->Edit3->setText("S");
        h->form.Fields->Panel1->Memo1->setPlainText("B");
        h->form.ButtonSave->click();
    });
    // PDF documents want LibreOffice, which PATH does not hold here.
    QCOMPARE(h->messages(), QStringList{"OutlookProgressForm.String16"});
    QVERIFY2(h->prompter.calls.at(0).detail.contains("LibreOffice"), qPrintable(h->prompter.calls.at(0).detail));
    QCOMPARE(h->report.lineCount(), 0);
    QVERIFY(entries(outbox() + "/new").isEmpty());
}

void TestOutlookGui::saveIntoDraftsOnTheServer_data() {
    QTest::addColumn<bool>("serverSet");
    QTest::addColumn<QString>("message");
    QTest::newRow("IMAP settings incomplete: refused before anything is saved") << false << "OutlookProgressForm.String18";
    QTest::newRow("complete: every message in Drafts, and the message says so") << true << "OutlookProgressForm.String19";
}

void TestOutlookGui::saveIntoDraftsOnTheServer() {
    QFETCH(bool, serverSet);
    QFETCH(QString, message);
    QTemporaryDir certs;
    QVERIFY(certs.isValid());
    const QByteArray privatePath = qgetenv("PATH"); // openssl and python3 are found on the system's
    qputenv("PATH", "/usr/bin:/bin");
    const QString certError = mailfixture::makeCertificates(certs.path());
    qputenv("PATH", privatePath);
    QVERIFY2(certError.isEmpty(), qPrintable(certError));
    imapfixture::ImapServer server;
    const QString error = server.start(certs.path());
    QVERIFY2(error.isEmpty(), qPrintable(error));
    qputenv("SSL_CERT_FILE", QFile::encodeName(certs.filePath("ca.pem")));
    ImapAccount account;
    account.port = server.startTlsPort();
    account.account = QStringLiteral("ann");
    account.password = imapfixture::GoodPassword;
    if (serverSet)
        account.host = QStringLiteral("127.0.0.1");
    h->progress.setImapSource([account] { return account; });
    bool progressShown = false;
    whenShown(&h->progress, [&progressShown] { progressShown = true; });

    QVERIFY(writeBook(path("book.csv"), {{"a@example.com", "Ann"}, {"b@example.com", "Bob"}}));
    h->runCommand([this] {
        h->form.Fields->Edit1->setText(path("book.csv"));
        h->form.Fields->Edit3->setText("S");
        h->form.Fields->Panel1->Memo1->setPlainText("B");
        h->form.ComboBoxSaveTo->setCurrentIndex(1);
        h->form.ButtonSave->click();
    });
    QCOMPARE(h->messages(), QStringList{message});
    QCOMPARE(progressShown, serverSet);
    QCOMPARE(h->report.lineCount(), serverSet ? 2 : 0);
    QString readError;
    const auto drafts = server.read(certs.filePath("ca.pem"), "ann", "Drafts", &readError);
    QVERIFY2(readError.isEmpty(), qPrintable(readError));
    QCOMPARE(drafts.size(), serverSet ? 2 : 0);
    QVERIFY2(!QFileInfo::exists(outbox()), "a Save into Drafts writes nothing into the outbox");

    h->form.show();
    QVERIFY2(h->form.ComboBoxSaveTo->currentIndex() == 1, "the choice of folder outlives the showing");
    QCOMPARE(h->form.Fields->Edit1->text(), QString());
    h->form.hide();
}

QTEST_MAIN(TestOutlookGui)
#include "tst_outlookgui.moc"
