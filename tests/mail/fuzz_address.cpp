// The valid-address rule on arbitrary text, against the rule written as a pattern: letters, digits,
// ".", "-", "_" and one "@" that is neither first nor last, no "." right after it nor at the end,
// and a "." somewhere after the character that follows the "@".
#include "fuzz/fuzzsupport.h"
#include "mail/address.h"

#include <QRegularExpression>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const QRegularExpression rule(
        QStringLiteral("\\A[A-Za-z0-9._+-]+@[A-Za-z0-9_-][A-Za-z0-9._-]*\\.[A-Za-z0-9._-]*[A-Za-z0-9_-]\\z"));
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    // Cell texts come as UTF-8 and as UTF-16 (from .xls and UTF-16 .csv files).
    const QString texts[] = {QString::fromUtf8(bytes),
                             QString(reinterpret_cast<const QChar*>(bytes.constData()), bytes.size() / 2)};
    for (const QString& text : texts) {
        const bool usable = isUsableAddress(text);
        fuzz::check(usable == rule.match(text).hasMatch(), usable ? "accepted against the rule" : "refused against the rule",
                    text);
    }
    return 0;
}
