#pragma once

class TWordForm;
class TWordProgressForm;
struct Services;

// The Excel-to-Word command of the main window: the settings dialog, the save dialog, the checks
// of the paths, the overwrite question and the run dialog, in that order. Every refusal ends the
// command with its message and leaves the settings as they were. Nothing is deleted before the
// run: a file the user agreed to replace stays until the run has finished (see
// TWordProgressForm::setReplacedFile).
void excelToWordCommand(Services& services, TWordForm& form, TWordProgressForm& progress);
