#pragma once

class TOutlookForm;
class TOutlookProgressForm;
struct Services;

// The mail-client command of the main window: the settings dialog, the workbook check, then the
// run in the mode the dialog closed with (OK saves, Yes sends). Asks for no file and no overwrite.
void excelToOutlookCommand(Services& services, TOutlookForm& form, TOutlookProgressForm& progress);
