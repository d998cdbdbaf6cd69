#include "app/helpcommands.h"
#include "app/formabout.h"
#include "app/formmain.h"
#include "app/homepage.h"

TAboutForm* addHelpCommands(TMainForm& mainForm) {
    auto* about = new TAboutForm(mainForm.services(), &mainForm);
    mainForm.registerWindow(about);
    Shell& shell = mainForm.services().shell;
    mainForm.setCommand(TMainForm::Command::Help,
                        [&mainForm, &shell] { openHelp(shell, mainForm.programDir()); });
    mainForm.setCommand(TMainForm::Command::About, [about] { showAboutBox(*about); });
    mainForm.setCommand(TMainForm::Command::Release, [&shell] { openHomePage(shell); });
    return about;
}
