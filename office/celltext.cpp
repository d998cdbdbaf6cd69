#include "office/celltext.h"

#include <QDate>

#include <charconv>
#include <cmath>

QString numberText(double value) {
    if (std::isnan(value) || std::isinf(value))
        return QStringLiteral("#NUM!");
    if (value == 0)
        return QStringLiteral("0"); // "-0" too
    char buf[64];
    const double magnitude = std::fabs(value);
    const bool plain = magnitude >= 1e-4 && magnitude < 1e15;
    // Without a precision, to_chars gives the shortest form that reads back to the same double.
    const auto res = std::to_chars(buf, buf + sizeof buf, value,
                                   plain ? std::chars_format::fixed : std::chars_format::scientific);
    if (res.ec != std::errc())
        return QString::number(value, 'g', 17);
    for (char* p = buf; p != res.ptr; ++p)
        if (*p == 'e')
            *p = 'E';
    return QString::fromLatin1(buf, res.ptr - buf);
}

QString serialDateText(double serial, bool date1904, bool hasDate, bool hasTime) {
    // 9999-12-31 is the last day either date system can show.
    const double last = date1904 ? 2957003.0 : 2958465.0;
    if (std::isnan(serial) || serial < 0 || serial >= last + 1)
        return {};
    double whole = std::floor(serial);
    auto days = qint64(whole);
    auto seconds = qint64(std::llround((serial - whole) * 86400.0));
    if (seconds >= 86400) {
        ++days;
        seconds -= 86400;
    }
    const QString time = QStringLiteral("%1:%2:%3")
                             .arg(seconds / 3600, 2, 10, QLatin1Char('0'))
                             .arg(seconds / 60 % 60, 2, 10, QLatin1Char('0'))
                             .arg(seconds % 60, 2, 10, QLatin1Char('0'));
    // A time of day alone is stored as a fraction of day 0, which is no real date in the 1900
    // system ("1900-01-00"). In the 1904 system day 0 is 1904-01-01, a date like any other.
    if (days == 0 && (!date1904 || !hasDate))
        return time;
    QDate date;
    if (date1904) {
        date = QDate(1904, 1, 1).addDays(days);
    } else {
        // The 1900 system counts a 29 February 1900 that never was (serial 60). Serials before it
        // are one day off the real calendar; serial 60 itself is read as 28 February, as other
        // readers do.
        date = QDate(1899, 12, 30).addDays(days < 60 ? days + 1 : days);
    }
    if (!date.isValid() || date.year() > 9999)
        return {};
    QString text = date.toString(QStringLiteral("yyyy-MM-dd"));
    if (hasTime || seconds != 0)
        text += QLatin1Char(' ') + time;
    return text;
}
