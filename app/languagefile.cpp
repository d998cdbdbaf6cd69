#include "app/languagefile.h"
#include "platform/blanks.h"

#include <QFile>

namespace {
QString fold(const QString& name) { return name.trimmed().toCaseFolded(); }
} // namespace

LanguageFile::LanguageFile(const QString& path) : m_path(path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return;
    m_exists = true;
    parse(file.readAll());
}

LanguageFile LanguageFile::fromText(const QByteArray& content)
{
    LanguageFile file;
    file.m_exists = true;
    file.parse(content);
    return file;
}

void LanguageFile::parse(const QByteArray& content)
{
    QByteArray bytes = content;
    if (bytes.startsWith("\xEF\xBB\xBF"))
        bytes.remove(0, 3);
    const QString all = QString::fromUtf8(bytes);
    QHash<QString, QString>* section = nullptr;
    for (QStringView rawLine : QStringView(all).split(QLatin1Char('\n'))) {
        const QString line = trimBlanks(rawLine.toString());
        if (line.isEmpty())
            continue;
        if (line.startsWith(QLatin1Char('['))) {
            const qsizetype close = line.indexOf(QLatin1Char(']'));
            if (close > 0) {
                const QString name = fold(line.mid(1, close - 1));
                section = &m_sections[name]; // a repeated section name continues the first one
                continue;
            }
        }
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (!section || eq <= 0)
            continue;
        const QString key = fold(line.left(eq));
        if (key.isEmpty() || section->contains(key))
            continue; // first match wins
        QString value = trimBlanks(line.mid(eq + 1));
        if (value.size() >= 2) {
            const QChar q = value.front();
            if ((q == QLatin1Char('"') || q == QLatin1Char('\'')) && value.back() == q)
                value = value.mid(1, value.size() - 2);
        }
        if (value.size() > kMaxValueLength) {
            qsizetype cut = kMaxValueLength;
            if (value[cut - 1].isHighSurrogate())
                --cut; // never leave half a character behind
            value.truncate(cut);
        }
        section->insert(key, value);
    }
}

QString LanguageFile::value(const QString& section, const QString& key, const QString& defaultValue) const
{
    const auto s = m_sections.constFind(fold(section));
    if (s == m_sections.constEnd())
        return defaultValue;
    const auto v = s->constFind(fold(key));
    return v == s->constEnd() ? defaultValue : *v;
}
