#pragma once
#include "platform/filedialogs.h"
#include "platform/prompter.h"
#include "platform/shell.h"

class QWidget;

// The desktop's own message boxes, file dialogs and shell. Boxes are application-modal over the
// active window, the nearest a Qt program comes to a system-modal box.
class DesktopPrompter : public Prompter {
public:
    void information(const QString& title, const QString& text, const QString& detail = {}) override;
    bool question(const QString& title, const QString& text) override;
    void error(const QString& title, const QString& text, const QString& detail = {}) override;
};

class DesktopFileDialogs : public FileDialogs {
public:
    QString openFileName(const QString& filter) override;
    QString saveFileName(const QString& filter, const QString& startFolder = {},
                         QString* chosenType = nullptr) override;
};

class DesktopShell : public Shell {
public:
    void open(const QString& target) override;
};
