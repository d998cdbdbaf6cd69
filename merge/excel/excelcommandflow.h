#pragma once

class TExcelForm;
class TExcelProgressForm;
struct Services;

// The Excel-to-Excel command of the main window: the settings dialog, the save dialog, the
// checks of the paths, the overwrite question and the run dialog, in that order. Every refusal
// ends the command with its message and leaves the settings as they were; nothing is written or
// deleted before the run, and an existing output is replaced only by a finished run.
void excelToExcelCommand(Services& services, TExcelForm& form, TExcelProgressForm& progress);
