#include "platform/languageid.h"

#include <QHash>

int windowsLanguageId(const QLocale& locale)
{
    // Chinese is told apart by territory (and script), as the Windows identifiers do.
    if (locale.language() == QLocale::Chinese) {
        switch (locale.territory()) {
        case QLocale::China: return 0x0804;
        case QLocale::Singapore: return 0x1004;
        case QLocale::Taiwan: return 0x0404;
        case QLocale::HongKong: return 0x0C04;
        case QLocale::Macao: return 0x1404;
        default: return locale.script() == QLocale::TraditionalChineseScript ? 0x0404 : 0x0804;
        }
    }
    struct Entry {
        QLocale::Language language;
        QLocale::Territory territory;
        int id;
    };
    static const Entry kByTerritory[] = {
        {QLocale::English, QLocale::UnitedStates, 0x0409}, {QLocale::English, QLocale::UnitedKingdom, 0x0809},
        {QLocale::English, QLocale::Australia, 0x0C09},    {QLocale::English, QLocale::Canada, 0x1009},
        {QLocale::French, QLocale::Canada, 0x0C0C},        {QLocale::German, QLocale::Switzerland, 0x0807},
        {QLocale::Portuguese, QLocale::Portugal, 0x0816},  {QLocale::Spanish, QLocale::Mexico, 0x080A},
    };
    for (const Entry& e : kByTerritory)
        if (e.language == locale.language() && e.territory == locale.territory())
            return e.id;
    static const QHash<int, int> kPrimary = {
        {QLocale::English, 0x0409},   {QLocale::German, 0x0407},  {QLocale::French, 0x040C},
        {QLocale::Spanish, 0x0C0A},   {QLocale::Italian, 0x0410}, {QLocale::Japanese, 0x0411},
        {QLocale::Korean, 0x0412},    {QLocale::Dutch, 0x0413},   {QLocale::Portuguese, 0x0416},
        {QLocale::Russian, 0x0419},   {QLocale::Polish, 0x0415},  {QLocale::Swedish, 0x041D},
        {QLocale::Turkish, 0x041F},   {QLocale::Czech, 0x0405},   {QLocale::Danish, 0x0406},
        {QLocale::Finnish, 0x040B},   {QLocale::Greek, 0x0408},   {QLocale::Hungarian, 0x040E},
        {QLocale::NorwegianBokmal, 0x0414},
    };
    return kPrimary.value(locale.language(), 0);
}
