#pragma once
#include "app/languagefile.h"
#include "platform/appprobe.h"
#include "platform/filedialogs.h"
#include "platform/prompter.h"
#include "platform/shell.h"

class RunReport;

// What every window is given when it is built: the texts in force, the seams that speak to the
// user and the desktop, and the main window's run report. The desktop program passes the real
// ones; tests pass scripted ones.
struct Services {
    const Texts& texts;
    Prompter& prompter;
    FileDialogs& files;
    Shell& shell;
    AppProbe& probe;
    RunReport* report = nullptr; // set once the main window exists

    QString text(const QString& section, const QString& key) const { return texts.text(section, key); }
    // Notice titled Common.Message with the text of section.key, information icon, OK.
    void notice(const QString& section, const QString& key, const QString& detail = {}) const;
    // Question titled Common.Message; "[xxx]" in the text is replaced by marker when one is given.
    bool ask(const QString& section, const QString& key, const QString& marker = {}) const;
};
