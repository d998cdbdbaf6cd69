// Plays one Excel-to-Excel merge through the real windows, in English, and saves what the user
// sees, for a person to judge:
//   excelshot <folder>
// writes <folder>/excel-settings.png (the filled-in settings dialog), <folder>/excel-add.png (the
// Add dialog) and <folder>/excel-report.png (the main window after the run). Workbooks are written
// by openpyxl; the save dialog and the final question are scripted. Run it on a real display
// (xvfb-run -a).
#include "app/formmain.h"
#include "app/runreport.h"
#include "merge/common/formfillin.h"
#include "merge/common/formpreview.h"
#include "merge/excel/excelcommandflow.h"
#include "merge/excel/formexcel.h"
#include "merge/excel/formexcelprogress.h"
#include "support/fakes.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QEventLoop>
#include <QLineEdit>
#include <QPixmap>
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
src = openpyxl.Workbook(); s = src.active
for row in [("Code", "Customer", "City", "Credit"), ("C-101", "Ann Lee", "Oslo", 1200),
            ("C-102", "Bob Stone", "Lyon", 800), ("c-101", "Ann Lee (2nd account)", "Oslo", 300),
            ("C-104", "Dee Park", "", 50)]:
    s.append(row)
src.save(sys.argv[1] + "/customers.xlsx")
dst = openpyxl.Workbook(); d = dst.active
for row in [("Order", "Code", "Name", "Credit"), (5001, "C-101", None, None), (5002, "C-104", None, None),
            (5003, None, "no code", None), (5004, "C-999", None, None), (5005, "C-102", None, None)]:
    d.append(row)
dst.save(sys.argv[1] + "/orders.xlsx")
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

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 2) {
        std::fputs("usage: excelshot <folder>\n", stderr);
        return 2;
    }
    const QString out = args.at(1);
    QTemporaryDir work;
    if (!work.isValid() || !writeInputs(work.path())) {
        std::fputs("cannot write the workbooks\n", stderr);
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

    // The windows of the mode as start-up builds them.
    Services& services = mainForm.services();
    auto* excelForm = new TExcelForm(services, &mainForm);
    mainForm.registerWindow(excelForm);
    auto* excelAdd =
        new TExcelAddForm(services, excelForm->sourceWorkbook(), excelForm->destWorkbook(), &mainForm);
    mainForm.registerWindow(excelAdd);
    excelForm->setAddForm(excelAdd);
    auto* excelProgress = new TExcelProgressForm(services, &mainForm);
    mainForm.registerWindow(excelProgress);
    excelProgress->setSettingsSource([excelForm] { return excelForm->settings(); });
    auto* preview = new TPreviewForm(services, &mainForm);
    mainForm.registerWindow(preview);
    excelForm->setPreviewForm(preview);
    excelAdd->setPreviewForm(preview);
    mainForm.setCommand(TMainForm::Command::ExcelToExcel, [&services, excelForm, excelProgress] {
        excelToExcelCommand(services, *excelForm, *excelProgress);
    });
    mainForm.show();
    settle();

    // What the user fills in.
    excelForm->findChild<QLineEdit*>(QStringLiteral("Edit1"))
        ->setText(work.filePath(QStringLiteral("customers.xlsx")));
    excelForm->findChild<QLineEdit*>(QStringLiteral("Edit2"))
        ->setText(work.filePath(QStringLiteral("orders.xlsx")));
    excelForm->findChild<QComboBox*>(QStringLiteral("ComboBox4"))->setCurrentText(QStringLiteral("B"));
    excelForm->findChild<QSpinBox*>(QStringLiteral("UpDown1"))->setValue(2);
    excelForm->findChild<QSpinBox*>(QStringLiteral("UpDown2"))->setValue(2);
    for (const auto& pair : {std::pair{"B", "C"}, std::pair{"D", "D"}}) {
        const char* from = pair.first;
        const char* to = pair.second;
        whenShown(excelAdd, [excelAdd, from, to, out] {
            excelAdd->findChild<QComboBox*>(QStringLiteral("ComboBox1"))->setCurrentText(QLatin1String(from));
            excelAdd->findChild<QComboBox*>(QStringLiteral("ComboBox2"))->setCurrentText(QLatin1String(to));
            excelAdd->grab().save(out + QStringLiteral("/excel-add.png"));
            excelAdd->findChild<QPushButton*>(QStringLiteral("ButtonAdd"))->click();
        });
        excelForm->findChild<QPushButton*>(QStringLiteral("ButtonAdd"))->click();
    }

    files.saveAnswers.enqueue(work.filePath(QStringLiteral("orders with names")));
    prompter.answers.enqueue(false); // do not open the result
    bool settingsSaved = false;
    whenShown(excelForm, [&] {
        settle();
        settingsSaved = excelForm->grab().save(out + QStringLiteral("/excel-settings.png"));
        excelForm->findChild<QPushButton*>(QStringLiteral("ButtonOk"))->click();
    });
    mainForm.MExcelToExcelClick();
    settle();
    const bool reportSaved = mainForm.grab().save(out + QStringLiteral("/excel-report.png"));

    for (const FakePrompter::Call& call : prompter.calls)
        std::printf("message: %s | %s\n", qPrintable(call.text), qPrintable(call.detail));
    const QString output = work.filePath(QStringLiteral("orders with names.xlsx"));
    std::printf("output %s: %s\n", qPrintable(output), QFile::exists(output) ? "written" : "missing");
    return settingsSaved && reportSaved && QFile::exists(output) ? 0 : 1;
}
