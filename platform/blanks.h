#pragma once
#include <QString>

// Leading and trailing characters of code 32 or less removed, nothing else: a no-break space
// stays, unlike QString::trimmed. Texts from fields, cells and language files are trimmed so.
inline QString trimBlanks(const QString& text)
{
    qsizetype begin = 0, end = text.size();
    while (begin < end && text[begin].unicode() <= 32)
        ++begin;
    while (end > begin && text[end - 1].unicode() <= 32)
        --end;
    return text.mid(begin, end - begin);
}
