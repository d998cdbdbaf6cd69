#include "merge/common/personalcells.h"

#include "mail/composer.h"
#include "office/workbook.h"
#include "platform/blanks.h"

#include <QFileInfo>

void readPersonalCells(const Workbook& book, int row, const PersonalMail& personal, const QString& workbookPath,
                       Recipient& recipient)
{
    const auto cell = [&](int column) { return column > 0 ? trimBlanks(book.cellText(row, column)) : QString(); };
    recipient.cc = addressesOfCell(cell(personal.ccColumn));
    recipient.bcc = addressesOfCell(cell(personal.bccColumn));
    recipient.attachments =
        attachmentsOfCell(cell(personal.attachColumn), QFileInfo(workbookPath).absolutePath());
}
