#include "merge/excel/excelcommandflow.h"
#include "app/services.h"
#include "merge/excel/excelcommand.h"
#include "merge/excel/formexcel.h"
#include "merge/excel/formexcelprogress.h"

#include <QFile>
#include <QFileInfo>

void excelToExcelCommand(Services& services, TExcelForm& form, TExcelProgressForm& progress) {
    if (form.exec() != QDialog::Accepted)
        return;
    const QString chosen =
        services.files.saveFileName(services.text(QStringLiteral("OpenDialog"), QStringLiteral("XlsFilter")));
    if (chosen.isEmpty())
        return;
    const QString output = applyExtensionRule(chosen);

    const ExcelMergeSettings settings = form.settings();
    const ExcelCommandCheck check = checkExcelCommand(settings.sourcePath, settings.destPath, output);
    const QString section = QStringLiteral("ExcelProgressForm");
    switch (check) {
    case ExcelCommandCheck::Ok:
        break;
    case ExcelCommandCheck::OutputExists:
        if (!services.ask(section, excelCommandMessageKey(check), QFileInfo(output).fileName()))
            return;
        QFile::remove(output);
        break;
    default:
        services.notice(section, excelCommandMessageKey(check));
        return;
    }

    progress.setOutputPath(output);
    progress.exec();
}
