#include "merge/outlook/outlookcommand.h"

#include "merge/common/pathcheck.h"

bool blockingProgramRunning(const AppProbe& probe) {
    return probe.spreadsheetRunning() || probe.mailClientRunning();
}

OutlookCommandCheck checkOutlookCommand(const QString& workbookPath) {
    return isExistingFile(workbookPath) ? OutlookCommandCheck::Ok : OutlookCommandCheck::WorkbookMissing;
}

QString outlookCommandMessageKey(OutlookCommandCheck check) {
    return check == OutlookCommandCheck::WorkbookMissing ? QStringLiteral("String02") : QString();
}
