// Plays one Excel-to-Word merge through the windows start-up builds, in English, and saves what
// the user sees, for a person to judge:
//   wordshot <folder>
// writes <folder>/word-settings.png (the filled-in settings dialog), <folder>/word-add.png (the Add
// dialog), <folder>/word-report.png (the main window after the run) and <folder>/word-letters.docx
// (the merged document, one letter a page, each with its own header), then a second play in
// multiple-files mode: <folder>/word-names.png (the dialog with file names from a column chosen)
// and <folder>/word-overwrite.png (the question before numbered letters replace those of an earlier
// run, drawn as the desktop's message box draws it; answered No). The workbook is written by
// openpyxl and the template by python-docx; the save dialog and the questions are scripted. Run it
// on a real display (xvfb-run -a).
#include "app/formmain.h"
#include "app/startup.h"
#include "merge/common/formfillin.h"
#include "merge/word/formword.h"
#include "support/fakes.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QLineEdit>
#include <QMessageBox>
#include <QPixmap>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>

namespace {

bool writeInputs(const QString& folder) {
    static const char* script = R"py(
import sys, openpyxl, docx
from docx.shared import Pt
book = openpyxl.Workbook(); s = book.active
for row in [("Name", "Street", "Town", "Balance", "Due"),
            ("Ann Lee", "4 Harbour Road", "Oslo", 1200.5, "2027-01-15"),
            ("Bob Stone", "17 Mill Lane", "Lyon", 80, "2027-01-20"),
            ("Cy Young", None, "Rome", None, "2027-02-01"),
            ("Dee Park", "9 Elm Street", "Lima", 15.75, "2027-02-03")]:
    s.append(row)
book.save(sys.argv[1] + "/customers.xlsx")
letter = docx.Document()
letter.sections[0].header.paragraphs[0].text = "Statement for <name>, <town>"
letter.add_heading("Account statement", level=1)
letter.add_paragraph("<name>")
letter.add_paragraph("<street>")
letter.add_paragraph("<town>")
p = letter.add_paragraph("Dear ")
p.add_run("<NAME>").bold = True
p.add_run(",")
body = letter.add_paragraph("your balance is ")
body.add_run("<balance>").bold = True
body.add_run(" EUR, due on <due>. Please get in touch if this is not what your records say.")
letter.add_paragraph("Kind regards,")
letter.add_paragraph("The accounts team")
letter.save(sys.argv[1] + "/statement.docx")
)py";
    return QProcess::execute(QStringLiteral("/usr/bin/python3"),
                             {QStringLiteral("-c"), QString::fromLatin1(script), folder}) == 0;
}

// Lets the windows paint and the report catch up with its newest lines, as they do for a user.
void settle() {
    QEventLoop loop;
    QTimer::singleShot(300, &loop, &QEventLoop::quit);
    loop.exec();
}

template <class T> T* child(QWidget* window, const char* name) {
    T* found = window->findChild<T*>(QLatin1String(name));
    if (!found) {
        std::fprintf(stderr, "no %s\n", name);
        std::exit(1);
    }
    return found;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 2) {
        std::fputs("usage: wordshot <folder>\n", stderr);
        return 2;
    }
    const QString out = args.at(1);
    QTemporaryDir work;
    if (!work.isValid() || !writeInputs(work.path())) {
        std::fputs("cannot write the workbook and the template\n", stderr);
        return 1;
    }

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
    auto* wordForm = mainForm.findChild<TWordForm*>();
    auto* wordAdd = mainForm.findChild<TWordAddForm*>();
    if (!wordForm || !wordAdd) {
        std::fputs("start-up built no Word windows\n", stderr);
        return 1;
    }
    mainForm.show();
    settle();

    // What the user fills in.
    child<QLineEdit>(wordForm, "Edit1")->setText(work.filePath(QStringLiteral("customers.xlsx")));
    child<QLineEdit>(wordForm, "Edit3")->setText(work.filePath(QStringLiteral("statement.docx")));
    child<QSpinBox>(wordForm, "UpDown1")->setValue(2);
    child<QRadioButton>(wordForm, "RadioButton2")->setChecked(true);
    child<QRadioButton>(wordForm, "RadioButton4")->setChecked(true);
    const std::pair<const char*, const char*> pairs[] = {
        {"<name>", "A"}, {"<street>", "B"}, {"<town>", "C"}, {"<balance>", "D"}, {"<due>", "E"}};
    for (const auto& pair : pairs) {
        const QString label = QLatin1String(pair.first);
        const QString column = QLatin1String(pair.second);
        whenShown(wordAdd, [wordAdd, label, column, out] {
            child<QLineEdit>(wordAdd, "Edit1")->setText(label);
            child<QComboBox>(wordAdd, "ComboBox1")->setCurrentText(column);
            wordAdd->grab().save(out + QStringLiteral("/word-add.png"));
            child<QPushButton>(wordAdd, "ButtonAdd")->click();
        });
        child<QPushButton>(wordForm, "ButtonAdd")->click();
    }

    files.saveAnswers.enqueue(work.filePath(QStringLiteral("statements")));
    prompter.answers.enqueue(true); // open the result: the shell call is only recorded
    bool settingsSaved = false;
    whenShown(wordForm, [&] {
        settle();
        settingsSaved = wordForm->grab().save(out + QStringLiteral("/word-settings.png"));
        child<QPushButton>(wordForm, "ButtonOk")->click();
    });
    mainForm.MExcelToWordClick();
    settle();
    const bool reportSaved = mainForm.grab().save(out + QStringLiteral("/word-report.png"));

    // Multiple files over six numbered letters of an earlier, longer run.
    for (int n = 1; n <= 6; ++n) {
        QFile earlier(work.filePath(QStringLiteral("statements%1.docx").arg(n, 4, 10, QLatin1Char('0'))));
        if (!earlier.open(QIODevice::WriteOnly) || earlier.write("earlier") != 7)
            return 1;
    }
    bool namesSaved = false, questionSaved = false;
    whenShown(wordForm, [&] {
        child<QRadioButton>(wordForm, "RadioButton1")->setChecked(true);
        child<QComboBox>(wordForm, "ComboBox2")->setCurrentIndex(1);
        settle();
        namesSaved = wordForm->grab().save(out + QStringLiteral("/word-names.png"));
        child<QComboBox>(wordForm, "ComboBox2")->setCurrentIndex(0); // numbered after all
        child<QPushButton>(wordForm, "ButtonOk")->click();
    });
    prompter.onCall = [&](const FakePrompter::Call& call) {
        if (call.kind != FakePrompter::Kind::Question)
            return;
        QMessageBox box(QMessageBox::Question, call.title, call.text, QMessageBox::Yes | QMessageBox::No);
        box.show();
        settle();
        questionSaved = box.grab().save(out + QStringLiteral("/word-overwrite.png"));
    };
    files.saveAnswers.enqueue(work.filePath(QStringLiteral("statements")));
    prompter.answers.enqueue(false); // No: nothing is written
    mainForm.MExcelToWordClick();
    settle();

    for (const FakePrompter::Call& call : prompter.calls)
        std::printf("message: %s | %s\n", qPrintable(call.text), qPrintable(call.detail));
    for (const QString& opened : shell.opened)
        std::printf("shell: %s\n", qPrintable(opened));
    const QString output = work.filePath(QStringLiteral("statements.docx"));
    const QString kept = out + QStringLiteral("/word-letters.docx");
    QFile::remove(kept);
    const bool copied = QFile::copy(output, kept);
    std::printf("output %s: %s\n", qPrintable(output), copied ? "written" : "missing");
    return settingsSaved && reportSaved && copied && namesSaved && questionSaved ? 0 : 1;
}
