#pragma once
#include <QString>

#include <memory>

class QTranslator;

// The locale of Qt's own translations (qtbase_<locale>.qm) that matches a language file's
// LanguageProperty.CharSet: "zh_CN" for 134 (Simplified Chinese), "zh_TW" for 136 (Traditional
// Chinese), empty for every other set, whose files are read with Qt's built-in English texts.
QString qtTranslationLocale(int charSet);

// Keeps Qt's own texts (the standard buttons of message boxes, the file dialogs, the context menus
// of edit fields) in the language of the language file in force: one translation installed on the
// application at a time, swapped when the language changes and removed on destruction.
class QtTexts {
public:
    // folder holds the qtbase_*.qm files; empty: Qt's own translations folder.
    explicit QtTexts(QString folder = {});
    ~QtTexts();
    QtTexts(const QtTexts&) = delete;
    QtTexts& operator=(const QtTexts&) = delete;

    // Installs the translation for charSet in place of the one before; a set without one removes
    // it. False when the set has a translation but its file cannot be loaded: Qt's texts are then
    // English, and the next call tries again.
    bool apply(int charSet);
    // The locale whose translation is installed; empty when Qt's texts are English.
    QString locale() const { return m_locale; }

private:
    void remove();

    QString m_folder;
    QString m_locale;
    std::unique_ptr<QTranslator> m_translator;
};
