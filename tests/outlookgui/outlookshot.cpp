// Plays one mail-client merge through the windows start-up builds, in English, and takes pictures
// of the screen for a person to judge:
//   outlookshot <picture folder> <work folder>
// writes outlook-dialog.png (the filled-in settings dialog with three attachments) and
// outlook-report.png (the main window after the run) into the picture folder; the workbook, the
// attached files and the outbox (<work folder>/Maildir/.Outbox) stay in the work folder, to be
// opened with a mail reader. Message boxes are scripted. Run it on a real display (xvfb-run -a);
// the pictures are taken with ImageMagick's import.
#include "app/formmain.h"
#include "app/startup.h"
#include "merge/common/attachmentlist.h"
#include "merge/common/formfillin.h"
#include "merge/common/mailjobfields.h"
#include "merge/outlook/formoutlook.h"
#include "support/fakes.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QEventLoop>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>

#include <cstdio>

namespace {

bool writeInputs(const QString& folder) {
    static const char* script = R"py(
import sys, openpyxl
book = openpyxl.Workbook(); s = book.active
for row in [("E-mail", "Name", "Course", "Date"),
            ("ann.lee@example.com", "Ann Lee", "Spreadsheets 1", "2024-03-04"),
            ("Bob Stone <bob@example.com>", "Bob Stone", "Spreadsheets 2", "2024-03-05"),
            ("carl@mail.example.org", "Carl Dunn", "Letters", None),
            ("dee+news@example.com", "Dee Park", "Letters", "2024-03-06"),
            ("eve@example.net", None, None, None)]:
    s.append(row)
book.save(sys.argv[1] + "/course.xlsx")
)py";
    if (QProcess::execute(QStringLiteral("/usr/bin/python3"), {QStringLiteral("-c"), QString::fromLatin1(script), folder}) != 0)
        return false;
    for (const char* name : {"Price list 2024.pdf", "Übersicht März.xlsx", "map.png"}) {
        QFile file(folder + QLatin1Char('/') + QString::fromUtf8(name));
        if (!file.open(QIODevice::WriteOnly))
            return false;
        file.write(QByteArray("content of ") + name + "\n");
    }
    return true;
}

void settle(int ms = 400) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

void screenshot(const QString& path) {
    if (QProcess::execute(QStringLiteral("import"), {QStringLiteral("-window"), QStringLiteral("root"), path}) != 0)
        std::fprintf(stderr, "import failed for %s\n", qPrintable(path));
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 3) {
        std::fputs("usage: outlookshot <picture folder> <work folder>\n", stderr);
        return 2;
    }
    const QString out = args.at(1);
    const QString work = args.at(2);
    QDir().mkpath(out);
    QDir().mkpath(work);
    if (!writeInputs(work)) {
        std::fputs("cannot write the inputs\n", stderr);
        return 1;
    }
    qputenv("MAILDIR", QFile::encodeName(work + QStringLiteral("/Maildir")));
    QFile settings(work + QStringLiteral("/Tallyweave.conf"));
    if (settings.open(QIODevice::WriteOnly))
        settings.write("[General]\nEmail=courses@example.org\n");
    settings.close();

    FakePrompter prompter;
    FakeFileDialogs files;
    FakeShell shell;
    FakeAppProbe probe;
    MainFormOptions options;
    options.programDirectory = QStringLiteral(TW_SOURCE_DIR);
    options.settingsFile = settings.fileName();
    options.languageId = [] { return 0x0409; };
    TMainForm mainForm(prompter, files, shell, probe, options);
    createWindows(mainForm);
    mainForm.resize(760, 420);
    mainForm.show();
    settle();

    auto* form = mainForm.findChild<TOutlookForm*>();
    auto* addForm = mainForm.findChild<TOutlookAddForm*>();
    if (!form || !addForm) {
        std::fputs("start-up built no mail-client windows\n", stderr);
        return 1;
    }
    whenShown(form, [&] {
        form->Fields->Edit1->setText(work + QStringLiteral("/course.xlsx"));
        form->Fields->UpDown1->setValue(2);
        for (const auto& pair : {std::pair{"B", "<name>"}, std::pair{"C", "<course>"}, std::pair{"D", "<date>"}}) {
            const char* column = pair.first;
            const char* label = pair.second;
            whenShown(addForm, [addForm, column, label] {
                addForm->findChild<QLineEdit*>(QStringLiteral("Edit1"))->setText(QLatin1String(label));
                addForm->findChild<QComboBox*>(QStringLiteral("ComboBox1"))->setCurrentText(QLatin1String(column));
                addForm->findChild<QPushButton*>(QStringLiteral("ButtonAdd"))->click();
            });
            form->Fields->ButtonAdd->click();
        }
        form->Fields->Edit3->setText(QStringLiteral("Your place in the course"));
        form->Fields->Panel1->Memo1->setPlainText(QStringLiteral(
            "Dear <name>,\n\nyour place in \"<course>\" on <date> is booked.\nThe price list and a map are attached.\n\nKind regards,\nthe course office"));
        for (const char* name : {"Price list 2024.pdf", "Übersicht März.xlsx", "map.png"})
            form->Fields->Panel1->addAttachment(work + QLatin1Char('/') + QString::fromUtf8(name));
        settle();
        screenshot(out + QStringLiteral("/outlook-dialog.png"));
        // The choice of folder open on the Drafts of the mail server, for a picture; the run itself
        // saves into the outbox, which needs no server.
        form->ComboBoxSaveTo->setCurrentIndex(1);
        settle();
        screenshot(out + QStringLiteral("/outlook-dialog-drafts.png"));
        form->ComboBoxSaveTo->setCurrentIndex(0);
        form->ButtonSave->click();
    });
    mainForm.MExcelToOutlookClick();
    settle(800);
    screenshot(out + QStringLiteral("/outlook-report.png"));
    for (const FakePrompter::Call& call : prompter.calls)
        std::printf("message: %s | %s\n", qPrintable(call.text), qPrintable(call.detail));
    return 0;
}
