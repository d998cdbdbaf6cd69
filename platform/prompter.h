#pragma once
#include <QString>

// Message boxes. Windows speak only through this seam; the desktop implementation shows
// system-modal boxes, tests script the answers and record what was said.
class Prompter {
public:
    virtual ~Prompter() = default;
    // Information icon, OK button. A technical cause may go into the detailed text.
    virtual void information(const QString& title, const QString& text, const QString& detail = {}) = 0;
    // Question icon, Yes and No; true only for Yes.
    virtual bool question(const QString& title, const QString& text) = 0;
    // Stop icon, OK button.
    virtual void error(const QString& title, const QString& text, const QString& detail = {}) = 0;
};
