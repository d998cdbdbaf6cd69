#pragma once
#include <QLocale>

// The Windows language identifier of a locale (zh_CN 0x0804, zh_TW 0x0404, en_US 0x0409, ...);
// 0 when the locale has none we know.
int windowsLanguageId(const QLocale& locale);
inline int userLanguageId() { return windowsLanguageId(QLocale::system()); }
