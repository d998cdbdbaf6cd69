#pragma once

class TBulkForm;
class TBulkProgressForm;
struct Services;

// The Bulk Mails command of the main window: the bulk dialog, then, when it closed with OK and its
// workbook exists, the sending run. A missing workbook ends the command with its message.
void bulkMailsCommand(Services& services, TBulkForm& form, TBulkProgressForm& progress);
