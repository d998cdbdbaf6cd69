#include "office/workbook.h"

int columnNumber(const QString& letter)
{
    if (letter.isEmpty())
        return 0;
    const char16_t c = letter[0].unicode();
    return (c >= u'A' && c <= u'Z') ? int(c - u'A') + 1 : 0;
}
