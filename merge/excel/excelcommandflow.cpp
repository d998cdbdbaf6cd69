#include "merge/excel/excelcommandflow.h"
#include "app/services.h"
#include "merge/excel/excelcommand.h"
#include "merge/excel/formexcel.h"
#include "merge/excel/formexcelprogress.h"

#include <QFileInfo>

void excelToExcelCommand(Services& services, TExcelForm& form, TExcelProgressForm& progress) {
    if (form.exec() != QDialog::Accepted)
        return;
    const ExcelMergeSettings settings = form.settings();
    // The first time in the destination's folder, later where the last output went.
    const QString lastOutput = progress.outputPath();
    const QString startFolder =
        QFileInfo(lastOutput.isEmpty() ? settings.destPath : lastOutput).absolutePath();
    const QString filter = filterWithPatterns(
        services.text(QStringLiteral("OpenDialog"), QStringLiteral("XlsFilter")), excelOutputPatterns(settings.destPath));
    const QString chosen = services.files.saveFileName(filter, startFolder);
    if (chosen.isEmpty())
        return;
    const QString output = applyExtensionRule(chosen, settings.destPath);

    const ExcelCommandCheck check = checkExcelCommand(settings.sourcePath, settings.destPath, output);
    const QString section = QStringLiteral("ExcelProgressForm");
    switch (check) {
    case ExcelCommandCheck::Ok:
        break;
    case ExcelCommandCheck::OutputExists:
        // Nothing is deleted here: the finished run renames its result over the old file.
        if (!services.ask(section, excelCommandMessageKey(check), QFileInfo(output).fileName()))
            return;
        break;
    case ExcelCommandCheck::OutputNotWritable:
        services.prompter.error(services.text(QStringLiteral("Common"), QStringLiteral("Error")),
                                services.text(section, excelCommandMessageKey(check)),
                                outputFileProblem(output));
        return;
    default:
        services.notice(section, excelCommandMessageKey(check));
        return;
    }

    progress.setOutputPath(output);
    progress.exec();
}
