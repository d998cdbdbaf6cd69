#include "mail/address.h"

bool isUsableAddress(const QString& text)
{
    const qsizetype n = text.size();
    if (n == 0)
        return false;
    qsizetype at = -1;
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t c = text[i].unicode();
        // Plus addressing (erin+tag@example.com) is common and valid; a "+" is taken before the "@" only.
        const bool allowed = (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9')
                             || c == u'@' || c == u'.' || c == u'-' || c == u'_' || (c == u'+' && at < 0);
        if (!allowed)
            return false;
        if (c == u'@') {
            if (at >= 0)
                return false;
            at = i;
        }
    }
    if (at <= 0 || at == n - 1)
        return false;
    if (text[at + 1] == u'.' || text[n - 1] == u'.')
        return false;
    // A dot after the character that follows the "@", before the last character.
    for (qsizetype i = at + 2; i < n - 1; ++i)
        if (text[i] == u'.')
            return true;
    return false;
}
