#include "app/qttexts.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

QString qtTranslationLocale(int charSet) {
    switch (charSet) {
    case 134:
        return QStringLiteral("zh_CN");
    case 136:
        return QStringLiteral("zh_TW");
    default:
        return {};
    }
}

QtTexts::QtTexts(QString folder) : m_folder(std::move(folder)) {
    if (m_folder.isEmpty())
        m_folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
}

QtTexts::~QtTexts() {
    remove();
}

void QtTexts::remove() {
    if (m_translator)
        QCoreApplication::removeTranslator(m_translator.get());
    m_translator.reset();
    m_locale.clear();
}

bool QtTexts::apply(int charSet) {
    const QString wanted = qtTranslationLocale(charSet);
    // The language is applied at every activation of the main window; reload only on a change.
    if (wanted == m_locale)
        return true;
    remove();
    if (wanted.isEmpty())
        return true;
    auto translator = std::make_unique<QTranslator>();
    if (!translator->load(QStringLiteral("qtbase_") + wanted, m_folder))
        return false;
    // Installing sends every widget a LanguageChange event, so open Qt dialogs retranslate too.
    QCoreApplication::installTranslator(translator.get());
    m_translator = std::move(translator);
    m_locale = wanted;
    return true;
}
