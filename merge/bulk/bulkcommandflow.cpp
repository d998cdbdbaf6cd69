#include "merge/bulk/bulkcommandflow.h"

#include "app/services.h"
#include "merge/bulk/formbulk.h"
#include "merge/bulk/formbulkprogress.h"
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
