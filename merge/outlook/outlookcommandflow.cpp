#include "merge/outlook/outlookcommandflow.h"

#include "app/services.h"
#include "merge/outlook/formoutlook.h"
#include "merge/outlook/formoutlookprogress.h"
#include "mail/mailsettings.h"
#include "merge/outlook/outlookcommand.h"

void excelToOutlookCommand(Services& services, TOutlookForm& form, TOutlookProgressForm& progress) {
    const int result = form.exec();
    if (result != QDialog::Accepted && result != TOutlookForm::ResultYes)
        return;
    const OutlookCommandCheck check = checkOutlookCommand(form.settings().workbookPath);
    if (check != OutlookCommandCheck::Ok) {
        services.notice(QStringLiteral("OutlookProgressForm"), outlookCommandMessageKey(check));
        return;
    }
    // Drafts on the server want the IMAP settings complete before anything is saved.
    const bool drafts = result == QDialog::Accepted && form.saveToDrafts();
    if (drafts && !isComplete(progress.imapAccount())) {
        services.notice(QStringLiteral("OutlookProgressForm"), QStringLiteral("String18"));
        return;
    }
    progress.setSaveMode(result == QDialog::Accepted);
    progress.setSaveToDrafts(drafts);
    progress.exec();
}
