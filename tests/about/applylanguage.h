#pragma once
// What the main window does to the about box when it applies a language file: the file's face and
// size as the window font, then the texts. Shared by the tests and the screenshot tool.
#include "app/formabout.h"
#include "app/languagefile.h"
#include "app/localization.h"

#include <QFont>

inline void applyLanguage(TAboutForm& box, const LanguageFile& file) {
    QFont font;
    font.setFamily(
        file.value(QStringLiteral("LanguageProperty"), QStringLiteral("FontName"), QStringLiteral("Tahoma")));
    font.setPointSize(fontSizeFromText(
        file.value(QStringLiteral("LanguageProperty"), QStringLiteral("FontSize"), QStringLiteral("8"))));
    box.setFont(font);
    box.applyTexts(file);
}
