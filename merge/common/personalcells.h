#pragma once
#include "mail/mailjob.h"

class Workbook; // office/workbook.h

// The cells of a recipient row that the personal settings name, read into the recipient: its Cc
// and Bcc addresses and its own files, a relative path taken from the workbook's folder. A column
// of 0 adds nothing. The addresses and files are checked when the message is made. A cell that
// cannot be read throws WorkbookError.
void readPersonalCells(const Workbook& book, int row, const PersonalMail& personal, const QString& workbookPath,
                       Recipient& recipient);
