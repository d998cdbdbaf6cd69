#include "merge/common/workbook.h"

QString trimBlanks(const QString& text)
{
    qsizetype begin = 0, end = text.size();
    while (begin < end && text[begin].unicode() <= 32)
        ++begin;
    while (end > begin && text[end - 1].unicode() <= 32)
        --end;
    return text.mid(begin, end - begin);
}

int columnNumber(const QString& letter)
{
    if (letter.isEmpty())
        return 0;
    const char16_t c = letter[0].unicode();
    return (c >= u'A' && c <= u'Z') ? int(c - u'A') + 1 : 0;
}
