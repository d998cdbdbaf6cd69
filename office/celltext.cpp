#include "office/celltext.h"

#include <charconv>
#include <cmath>

QString numberText(double value) {
    if (std::isnan(value) || std::isinf(value))
        return QStringLiteral("#NUM!");
    if (value == 0)
        return QStringLiteral("0"); // "-0" too
    char buf[64];
    const double magnitude = std::fabs(value);
    // Whole numbers are most cells: the integer form is the same text, found much faster.
    if (magnitude < 1e15 && value == std::trunc(value)) {
        const auto res = std::to_chars(buf, buf + sizeof buf, static_cast<long long>(value));
        return QString::fromLatin1(buf, res.ptr - buf);
    }
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

namespace {

// Days since 1970-01-01 to a civil date (proleptic Gregorian), without a calendar object: a sheet
// of dates asks for this a million times.
void civilFromDays(qint64 z, int& year, int& month, int& day) {
    z += 719468;
    const qint64 era = (z >= 0 ? z : z - 146096) / 146097;
    const auto doe = unsigned(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    day = int(doy - (153 * mp + 2) / 5 + 1);
    month = int(mp < 10 ? mp + 3 : mp - 9);
    year = int(qint64(yoe) + era * 400 + (month <= 2 ? 1 : 0));
}

char* putDigits(char* p, int value, int width) {
    for (int i = width - 1; i >= 0; --i) {
        p[i] = char('0' + value % 10);
        value /= 10;
    }
    return p + width;
}

char* putTime(char* p, qint64 seconds) {
    p = putDigits(p, int(seconds / 3600), 2);
    *p++ = ':';
    p = putDigits(p, int(seconds / 60 % 60), 2);
    *p++ = ':';
    return putDigits(p, int(seconds % 60), 2);
}

} // namespace

QString serialDateText(double serial, bool date1904, bool hasDate, bool hasTime) {
    // 9999-12-31 is the last day either date system can show.
    const double last = date1904 ? 2957003.0 : 2958465.0;
    if (std::isnan(serial) || serial < 0 || serial >= last + 1)
        return {};
    const double whole = std::floor(serial);
    auto days = qint64(whole);
    auto seconds = qint64(std::llround((serial - whole) * 86400.0));
    // A time alone stays a time when it rounds up to midnight.
    const bool timeAlone = days == 0 && (!date1904 || !hasDate);
    if (seconds >= 86400) {
        days += timeAlone ? 0 : 1;
        seconds -= 86400;
    }
    char buf[32];
    // A time of day alone is stored as a fraction of day 0, which is no real date in the 1900
    // system ("1900-01-00"). In the 1904 system day 0 is 1904-01-01, a date like any other.
    if (timeAlone)
        return QString::fromLatin1(buf, putTime(buf, seconds) - buf);
    // Day numbers from 1970-01-01: the 1904 system counts from 1904-01-01 (-24107). The 1900
    // system counts a 29 February 1900 that never was (serial 60): serials before it are one day
    // off the real calendar, and serial 60 itself is read as 28 February, as other readers do.
    const qint64 unixDay = date1904 ? days - 24107 : (days < 60 ? days + 1 : days) - 25569;
    int year = 0, month = 0, day = 0;
    civilFromDays(unixDay, year, month, day);
    if (year > 9999)
        return {};
    char* p = putDigits(buf, year, 4);
    *p++ = '-';
    p = putDigits(p, month, 2);
    *p++ = '-';
    p = putDigits(p, day, 2);
    if (hasTime || seconds != 0) {
        *p++ = ' ';
        p = putTime(p, seconds);
    }
    return QString::fromLatin1(buf, p - buf);
}
