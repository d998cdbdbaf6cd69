#pragma once

class TAboutForm;
class TMainForm;

// Builds the about box, the last window of the creation order, registers it for the language file
// and gives the main window its Help, About and New Release commands. Called once at start-up,
// after every other window exists.
TAboutForm* addHelpCommands(TMainForm& mainForm);
