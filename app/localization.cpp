#include "app/localization.h"
#include "platform/blanks.h"

#include <QCollator>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLocale>

#include <algorithm>

QString fillMarker(const QString& text, const QString& value)
{
    static const QString kMarker = QStringLiteral("[xxx]");
    const qsizetype at = text.indexOf(kMarker);
    if (at < 0)
        return text;
    QString result = text;
    result.replace(at, kMarker.size(), value);
    return result;
}

namespace {
bool parseDecimal(const QString& text, int* out)
{
    bool ok = false;
    const int value = text.trimmed().toInt(&ok, 10);
    if (ok)
        *out = value;
    return ok;
}
} // namespace

QString hintFromMenuText(const QString& menuText)
{
    QString text = menuText;
    const qsizetype amp = text.indexOf(QLatin1Char('&'));
    if (amp >= 0)
        text.remove(amp, 1);
    const qsizetype open = text.indexOf(QLatin1Char('('));
    const qsizetype close = text.indexOf(QLatin1Char(')'));
    if (open < 0 || close < 0)
        return text;
    return trimBlanks(text.left(open) + text.mid(close + 1));
}

QString defaultLanguageFileName(int languageId)
{
    switch (languageId) {
    case 0x0804:
    case 0x1004: return QStringLiteral("ChineseGB.ini");
    case 0x0404:
    case 0x0C04: return QStringLiteral("ChineseBig5.ini");
    default: return QStringLiteral("English.ini");
    }
}

QStringList languageFileNames(const QString& folder)
{
    QDir dir(folder);
    QStringList names = dir.entryList({QStringLiteral("*.ini")}, QDir::Files | QDir::Hidden | QDir::System,
                                      QDir::NoSort);
    QCollator collator{QLocale()};
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    // Names that differ only in case can sit side by side here, unlike on the system the rule
    // comes from; ordering them by code point keeps "the first file" the same from run to run.
    std::sort(names.begin(), names.end(), [&](const QString& a, const QString& b) {
        const int order = collator.compare(a, b);
        return order != 0 ? order < 0 : a < b;
    });
    return names;
}

QString languageFilePath(const QString& folder, const QString& fileName)
{
    if (fileName.isEmpty())
        return {};
    const QDir dir(folder);
    if (QFileInfo(dir.filePath(fileName)).isFile())
        return dir.filePath(fileName);
    // The stored name was matched without regard to case when it was chosen; file names here are
    // case-sensitive, so find the file the same way.
    const QStringList names = languageFileNames(folder);
    for (const QString& name : names)
        if (name.compare(fileName, Qt::CaseInsensitive) == 0)
            return dir.filePath(name);
    return dir.filePath(fileName);
}

int fontSizeFromText(const QString& text)
{
    int size = 8;
    parseDecimal(text, &size);
    return size;
}

int charSetFromText(const QString& text)
{
    int charset = 1;
    parseDecimal(text, &charset);
    return charset & 0xFF;
}

QString programDirectory()
{
    const QString besideExecutable = QCoreApplication::applicationDirPath();
    if (QFileInfo(QDir(besideExecutable).filePath(QStringLiteral("Languages"))).isDir())
        return QDir(besideExecutable).absolutePath() + QLatin1Char('/');
    // An installed copy moved as a whole (or installed with another prefix) keeps its data
    // beside its bin folder.
    const QDir relocated(QDir(besideExecutable).filePath(QStringLiteral("../share/tallyweave")));
    if (QFileInfo(relocated.filePath(QStringLiteral("Languages"))).isDir())
        return relocated.absolutePath() + QLatin1Char('/');
    return QDir(QStringLiteral(TW_INSTALL_DATADIR)).absolutePath() + QLatin1Char('/');
}
