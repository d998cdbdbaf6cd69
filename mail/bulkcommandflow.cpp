#include "mail/bulkcommandflow.h"

#include "app/services.h"
#include "mail/formbulk.h"
#include "mail/formbulkprogress.h"
#include "merge/common/pathcheck.h"

void bulkMailsCommand(Services& services, TBulkForm& form, TBulkProgressForm& progress) {
    if (form.exec() != QDialog::Accepted)
        return;
    if (!isExistingFile(form.job().workbookPath)) {
        services.notice(QStringLiteral("BulkProgressForm"), QStringLiteral("String03"));
        return;
    }
    progress.exec();
}
