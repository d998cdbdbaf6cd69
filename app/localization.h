#pragma once
#include <QString>
#include <QStringList>

// The rules by which language files are found, chosen and turned into window texts.

// Replaces the first occurrence of the exact text "[xxx]" (case-sensitive) by value.
QString fillMarker(const QString& text, const QString& value);

// The toolbar hint made from a menu text: the first "&" removed; when both a "(" and a ")" are
// present, the part before the first "(" joined to the part after the first ")", trimmed of blanks
// and control characters; otherwise the text without its "&", untrimmed.
QString hintFromMenuText(const QString& menuText);

// The language file chosen at a first start for a Windows language identifier.
QString defaultLanguageFileName(int languageId);

// The names (without folder) of the *.ini files in a folder, sorted without regard to case by the
// locale's comparison.
QStringList languageFileNames(const QString& folder);

// The path of a language file named fileName in folder. When no file has exactly that name, a
// language file whose name differs only in case stands in for it. Empty for an empty name.
QString languageFilePath(const QString& folder, const QString& fileName);

// LanguageProperty.FontSize and .CharSet: a decimal integer, else the fallback. CharSet keeps only
// its low 8 bits.
int fontSizeFromText(const QString& text);
int charSetFromText(const QString& text);

// The folder that holds Languages/ and Help.html: beside the executable when it is there,
// else the installed data folder.
QString programDirectory();
