#include "merge/word/wordcommandflow.h"
#include "app/localization.h"
#include "app/services.h"
#include "merge/word/formword.h"
#include "merge/word/formwordprogress.h"
#include "merge/word/wordcommand.h"

#include <QFileInfo>

void excelToWordCommand(Services& services, TWordForm& form, TWordProgressForm& progress) {
    if (form.exec() != QDialog::Accepted)
        return;
    const QString chosen =
        services.files.saveFileName(services.text(QStringLiteral("OpenDialog"), QStringLiteral("DocFilter")));
    if (chosen.isEmpty())
        return;
    const QString output = withWordExtension(chosen);

    const WordMergeSettings settings = form.settings();
    const QString section = QStringLiteral("WordProgressForm");
    const WordCommandCheck check = checkWordCommand(settings.sourcePath, settings.templatePath, output);
    if (check != WordCommandCheck::Ok && check != WordCommandCheck::OutputExists) {
        services.notice(section, wordCommandMessageKey(check));
        return;
    }
    // Found now rather than after every record has been merged; the cause goes with the message
    // the run would have shown for a save it could not do.
    const QString folderProblem = outputFileProblem(output);
    if (!folderProblem.isEmpty()) {
        services.notice(section, QStringLiteral("String10"), folderProblem);
        return;
    }
    // One file replaces the named file; multiple files never write it, so it is not asked about,
    // but the numbered documents they would replace or leave behind are.
    QString replaced;
    QStringList stale;
    if (settings.oneFile && check == WordCommandCheck::OutputExists) {
        if (!services.ask(section, wordCommandMessageKey(check), QFileInfo(output).fileName()))
            return;
        replaced = output;
    } else if (!settings.oneFile) {
        WordMergeSettings run = settings;
        run.outputPath = output;
        const NumberedFiles numbered = checkNumberedFiles(run);
        if (numbered.any()) {
            const QString question =
                fillMarker(services.text(section, QStringLiteral("String13")), QFileInfo(output).fileName())
                    .arg(numbered.replaced.size())
                    .arg(numbered.stale.size());
            if (!services.prompter.question(
                    services.text(QStringLiteral("Common"), QStringLiteral("Message")), question))
                return;
            stale = numbered.stale;
        }
    }

    progress.setOutputPath(output);
    progress.setReplacedFile(replaced);
    progress.setStaleFiles(stale);
    progress.exec();
}
