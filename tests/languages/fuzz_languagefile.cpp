// The language-file reader on arbitrary bytes: every section and key named in the input is looked
// up, and no value may break the reader's limits.
#include "app/languagefile.h"
#include "fuzz/fuzzsupport.h"

#include <QRegularExpression>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const LanguageFile file = LanguageFile::fromText(bytes);
    CurrentLanguage current;
    current.setFile(file);
    current.setFallback(LanguageFile::fromText(QByteArrayLiteral("[MainForm]\nCaption=Fallback\n")));

    const auto checkValue = [](const QString& value) {
        fuzz::check(value.size() <= LanguageFile::kMaxValueLength, "value longer than the limit",
                    QString::number(value.size()));
        // Decoded UTF-8 holds no lone surrogates, so one at the end was left by the cut.
        fuzz::check(value.isEmpty() || !value.back().isHighSurrogate(), "value cut inside a character");
    };
    // Names as a reader of the file would ask for them; at most a few dozen per input.
    static const QRegularExpression sectionLine(QStringLiteral("^\\s*\\[([^\\]\\n]*)\\]"),
                                                QRegularExpression::MultilineOption);
    static const QRegularExpression keyLine(QStringLiteral("^\\s*([^=\\n\\[]+)="),
                                            QRegularExpression::MultilineOption);
    const QString text = QString::fromUtf8(bytes);
    QStringList sections{QStringLiteral("MainForm")};
    QStringList keys{QStringLiteral("Caption")};
    for (auto it = sectionLine.globalMatch(text); it.hasNext() && sections.size() < 16;)
        sections << it.next().captured(1);
    for (auto it = keyLine.globalMatch(text); it.hasNext() && keys.size() < 16;)
        keys << it.next().captured(1);
    for (const QString& section : sections)
        for (const QString& key : keys) {
            const QString value = file.value(section, key, QStringLiteral("\x01missing"));
            if (value != QStringLiteral("\x01missing"))
                checkValue(value);
            // The same lookup in other case finds the same value.
            fuzz::check(file.value(section.toUpper(), key.toLower(), QStringLiteral("\x01missing")) == value
                            || section.toUpper().toCaseFolded() != section.toCaseFolded()
                            || key.toLower().toCaseFolded() != key.toCaseFolded(),
                        "lookup depends on case", section + QLatin1Char('.') + key);
            checkValue(current.text(section, key));
        }
    return 0;
}
