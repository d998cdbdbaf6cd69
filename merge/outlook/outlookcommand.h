#pragma once
#include "platform/appprobe.h"

#include <QString>

// The checks of the mail-client command, shared by the window command and tallyweave-batch. Pure
// functions of the paths, the file system and the running programs; nothing here asks.

// True while a spreadsheet program (which may hold the workbook) or a desktop mail program (which
// may be working on the same outbox) runs: the settings dialog then refuses to start a run.
bool blockingProgramRunning(const AppProbe& probe);

enum class OutlookCommandCheck {
    Ok,
    WorkbookMissing, // no file at the workbook path (a folder does not count)
};

OutlookCommandCheck checkOutlookCommand(const QString& workbookPath);

// The key in section OutlookProgressForm of the message for a check, empty for Ok.
QString outlookCommandMessageKey(OutlookCommandCheck check);
