// Plays one bulk mailing through the real windows, as start-up builds them, in English, against
// the test SMTP server, and saves what the user sees, for a person to judge:
//   bulkshot <folder>
// writes <folder>/bulk-options.png (the server options, with the IMAP server of the drafts;
// options-screen.png the same on the whole screen), <folder>/bulk-dialog.png (the filled-in
// bulk dialog with two attachments), <folder>/bulk-recipient.png (its page of what each recipient
// adds) and <folder>/bulk-report.png (the main window after the run,
// one row refused by the server). Message boxes are scripted. Run it on a real display
// (xvfb-run -a).
#include "app/formmain.h"
#include "app/runreport.h"
#include "app/startup.h"
#include "merge/bulk/formbulk.h"
#include "merge/bulk/formbulkprogress.h"
#include "merge/common/formoptions.h"
#include "merge/common/attachmentlist.h"
#include "merge/common/mailjobfields.h"
#include "merge/common/personalmailfields.h"
#include "support/fakes.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QEventLoop>
#include <QMessageBox>
#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>

namespace {

bool writeInputs(const QString& folder) {
    static const char* script = R"py(
import sys, openpyxl
book = openpyxl.Workbook(); s = book.active
for row in [("E-mail", "Name", "Invoice"), ("ann.lee@example.org", "Ann Lee", "INV-1001"),
            ("bob.stone@example.org", "Bob Stone", "INV-1002"), ("refuse-rcpt@example.org", "Cy Moss", "INV-1003"),
            ("dee.park@example.org", "Dee Park", None)]:
    s.append(row)
book.save(sys.argv[1] + "/customers.xlsx")
open(sys.argv[1] + "/terms.pdf", "wb").write(b"%PDF-1.4\n")
open(sys.argv[1] + "/price list.xlsx", "wb").write(b"x")
)py";
    return QProcess::execute(QStringLiteral("/usr/bin/python3"),
                             {QStringLiteral("-c"), QString::fromLatin1(script), folder}) == 0;
}

void settle(int ms = 300) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 2) {
        std::fputs("usage: bulkshot <folder>\n", stderr);
        return 2;
    }
    const QString out = args.at(1);
    QTemporaryDir work;
    // The send journal of this play stays with it.
    qputenv("XDG_STATE_HOME", work.path().toUtf8());
    if (!work.isValid() || !writeInputs(work.path())) {
        std::fputs("cannot write the inputs\n", stderr);
        return 1;
    }
    QProcess server;
    server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    server.start(QStringLiteral("/usr/bin/python3"),
                 {QStringLiteral(TW_SOURCE_DIR "/tests/mail/smtpserver.py"), work.path(), work.path(),
                  QStringLiteral("good:auth")});
    QByteArray ready;
    while (!ready.contains('\n') && server.waitForReadyRead(10000))
        ready += server.readAll();
    if (!ready.startsWith("READY good=")) {
        std::fputs("the SMTP server did not start\n", stderr);
        return 1;
    }
    const QString port = QString::fromLatin1(ready.trimmed().mid(int(qstrlen("READY good="))));

    FakePrompter prompter;
    FakeFileDialogs files;
    FakeShell shell;
    FakeAppProbe probe;
    MainFormOptions options;
    options.programDirectory = QStringLiteral(TW_SOURCE_DIR);
    options.settingsFile = work.filePath(QStringLiteral("Tallyweave.conf"));
    options.languageId = [] { return 0x0409; };
    TMainForm mainForm(prompter, files, shell, probe, options);
    createWindows(mainForm);
    auto* optionsForm = mainForm.findChild<TOptionsForm*>();
    auto* bulkForm = mainForm.findChild<TBulkForm*>();
    mainForm.show();
    settle();

    bool optionsSaved = false;
    whenShown(optionsForm, [&] {
        optionsForm->EditEmail->setText(QStringLiteral("billing@example.org"));
        optionsForm->EditSMTPServer->setText(QStringLiteral("127.0.0.1"));
        optionsForm->EditPort->setText(port);
        optionsForm->EditAccounts->setText(QStringLiteral("ann"));
        optionsForm->EditPassword->setText(QStringLiteral("Open Sesame!"));
        optionsForm->EditIMAPServer->setText(QStringLiteral("imap.example.org"));
        settle();
        optionsSaved = optionsForm->grab().save(out + QStringLiteral("/bulk-options.png"));
        // The whole screen as well, with the window manager's view of the dialog over the main window.
        QProcess::execute(QStringLiteral("import"), {QStringLiteral("-window"), QStringLiteral("root"),
                                                     out + QStringLiteral("/options-screen.png")});
        optionsForm->ButtonOk->click();
    });
    mainForm.MServerOptionsClick();

    bool dialogSaved = false;
    bool recipientSaved = false;
    const auto fillIn = [&](bool picture) {
        bulkForm->Fields->Edit1->setText(work.filePath(QStringLiteral("customers.xlsx")));
        bulkForm->Fields->UpDown1->setValue(2);
        auto* addForm = mainForm.findChild<TBulkAddForm*>();
        for (const auto& pair : {std::pair{"[NAME]", "B"}, std::pair{"[INVOICE]", "C"}}) {
            const char* label = pair.first;
            const char* column = pair.second;
            whenShown(addForm, [addForm, label, column] {
                addForm->findChild<QLineEdit*>(QStringLiteral("Edit1"))->setText(QLatin1String(label));
                addForm->findChild<QComboBox*>(QStringLiteral("ComboBox1"))
                    ->setCurrentText(QLatin1String(column));
                addForm->findChild<QPushButton*>(QStringLiteral("ButtonAdd"))->click();
            });
            bulkForm->Fields->ButtonAdd->click();
        }
        bulkForm->Fields->Edit3->setText(QStringLiteral("Your invoice"));
        bulkForm->Fields->Panel1->Memo1->setPlainText(QStringLiteral(
            "Dear [NAME],\n\nplease find invoice [INVOICE] attached.\n\nKind regards,\nBilling"));
        files.openAnswers.enqueue(work.filePath(QStringLiteral("terms.pdf")));
        bulkForm->Fields->ButtonAttachment->click();
        files.openAnswers.enqueue(work.filePath(QStringLiteral("price list.xlsx")));
        bulkForm->Fields->ButtonAttachment->click();
        settle();
        if (picture) {
            dialogSaved = bulkForm->grab().save(out + QStringLiteral("/bulk-dialog.png"));
            // What each recipient adds, as a user fills it in; the mailing itself goes without.
            PersonalMailFields* p = bulkForm->Fields->Personal;
            p->ComboAttach->setCurrentText(QStringLiteral("D"));
            p->ComboCc->setCurrentText(QStringLiteral("E"));
            p->CheckSubjectLabels->setChecked(true);
            p->EditTemplate->setText(work.filePath(QStringLiteral("invoice.docx")));
            p->EditName->setText(QStringLiteral("Invoice [INVOICE]"));
            bulkForm->Fields->Tabs->setCurrentIndex(1);
            settle();
            recipientSaved = bulkForm->grab().save(out + QStringLiteral("/bulk-recipient.png"));
            p->clear();
            bulkForm->Fields->Tabs->setCurrentIndex(0);
        }
        bulkForm->ButtonSend->click();
    };
    whenShown(bulkForm, [&] { fillIn(true); });
    mainForm.MBulkMailsClick();
    settle(600);
    const bool reportSaved = mainForm.grab().save(out + QStringLiteral("/bulk-report.png"));

    // The same mailing once more: the question about the run before, drawn as the desktop's
    // message box draws it; answered No.
    bool questionSaved = false;
    prompter.onCall = [&](const FakePrompter::Call& call) {
        if (call.kind != FakePrompter::Kind::Question)
            return;
        QMessageBox box(QMessageBox::Question, call.title, call.text, QMessageBox::Yes | QMessageBox::No);
        box.show();
        settle();
        questionSaved = box.grab().save(out + QStringLiteral("/bulk-question.png"));
    };
    whenShown(bulkForm, [&] { fillIn(false); });
    mainForm.MBulkMailsClick();
    settle(600);

    for (const FakePrompter::Call& call : prompter.calls)
        std::printf("message: %s | %s\n", qPrintable(call.text), qPrintable(call.detail));
    server.kill();
    server.waitForFinished();
    return optionsSaved && dialogSaved && recipientSaved && reportSaved && questionSaved ? 0 : 1;
}
