#pragma once
#include "app/languagefile.h"

class QWidget;

// A window whose captions come from the language file. The main window applies the file to every
// window in creation order: first the font, then applyTexts.
class LocalizedWindow {
public:
    virtual ~LocalizedWindow() = default;
    virtual QWidget* widget() = 0;
    virtual void applyTexts(const Texts& texts) = 0;
};

// Run once after a window is built. With TALLYWEAVE_ACCESSIBLE_IDS=1 in the environment, every
// named widget of the window (Qt's own qt_* children aside) gets its objectName as accessible
// description, so that tests driving the real window over the accessibility bus find controls
// by their documented names. Without the variable nothing changes.
void publishObjectNames(QWidget* window);
