#include "office/celltext.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstring>
#include <cmath>
#include <string_view>

QString numberText(double value) {
    if (std::isnan(value) || std::isinf(value))
        return QStringLiteral("#NUM!");
    if (value == 0)
        return QStringLiteral("0"); // "-0" too
    char buf[64];
    const double magnitude = std::fabs(value);
    // Whole numbers are most cells: below 1E+15 they have at most 15 digits, so the integer form
    // is the rounded text too, found much faster.
    if (magnitude < 1e15 && value == std::trunc(value)) {
        const auto res = std::to_chars(buf, buf + sizeof buf, static_cast<long long>(value));
        return QString::fromLatin1(buf, res.ptr - buf);
    }
    // 15 significant digits, correctly rounded: "-d.dddddddddddddde+XX". The notation is chosen
    // after rounding, which may carry into the next power of ten (9.999999999999999E+14 is 1E+15).
    const auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific, 14);
    if (res.ec != std::errc())
        return QString::number(value, 'g', 15);
    const char* p = buf;
    const bool negative = *p == '-';
    if (negative)
        ++p;
    char digits[16];
    int count = 0;
    for (; *p != 'e'; ++p)
        if (*p != '.')
            digits[count++] = *p;
    while (count > 1 && digits[count - 1] == '0')
        --count;
    int exponent = 0;
    std::from_chars(p + (p[1] == '+' ? 2 : 1), res.ptr, exponent);

    char text[32];
    char* out = text;
    if (negative)
        *out++ = '-';
    if (exponent >= -4 && exponent < 15) {
        if (exponent < 0) {
            *out++ = '0';
            *out++ = '.';
            for (int i = -1; i > exponent; --i)
                *out++ = '0';
            out = std::copy(digits, digits + count, out);
        } else {
            const int whole = exponent + 1;
            for (int i = 0; i < std::max(count, whole); ++i) {
                if (i == whole)
                    *out++ = '.';
                *out++ = i < count ? digits[i] : '0';
            }
        }
    } else {
        *out++ = digits[0];
        if (count > 1) {
            *out++ = '.';
            out = std::copy(digits + 1, digits + count, out);
        }
        *out++ = 'E';
        *out++ = exponent < 0 ? '-' : '+';
        const int absolute = exponent < 0 ? -exponent : exponent;
        if (absolute < 10)
            *out++ = '0';
        out = std::to_chars(out, text + sizeof text, absolute).ptr;
    }
    return QString::fromLatin1(text, out - text);
}

bool isNumberText(QStringView text) {
    // The longest text numberText writes: "-1.23456789012346E-308".
    if (text.isEmpty() || text.size() > 24)
        return false;
    char buf[32];
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (!((c >= u'0' && c <= u'9') || c == u'-' || c == u'.' || c == u'E' || c == u'+'))
            return false;
        buf[i] = char(c);
    }
    if (!(buf[0] == '-' || (buf[0] >= '0' && buf[0] <= '9')))
        return false;
    double value = 0;
    const auto res = std::from_chars(buf, buf + text.size(), value);
    if (res.ec != std::errc() || res.ptr != buf + text.size())
        return false;
    return numberText(value) == text;
}

QString fitToCell(const QString& text) {
    if (text.size() <= kCellTextLimit)
        return text;
    qsizetype cut = kCellTextLimit;
    if (text[cut - 1].isHighSurrogate())
        --cut;
    return text.left(cut);
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

QString elapsedTimeText(double days) {
    // Beyond this the seconds no longer fit the counter (and no sheet means it).
    if (std::isnan(days) || std::fabs(days) > 1e13)
        return {};
    const qint64 total = std::llround(days * 86400.0);
    const qint64 seconds = total < 0 ? -total : total;
    QString text = total < 0 ? QStringLiteral("-") : QString();
    const qint64 hours = seconds / 3600;
    if (hours < 10)
        text += QLatin1Char('0');
    text += QString::number(hours);
    char buf[8];
    char* p = buf;
    *p++ = ':';
    p = putDigits(p, int(seconds / 60 % 60), 2);
    *p++ = ':';
    p = putDigits(p, int(seconds % 60), 2);
    return text + QLatin1String(buf, p - buf);
}

namespace numberformat {


uint8_t builtinDateKind(int id) {
    switch (id) {
    case 14:
    case 15:
    case 16:
    case 17:
        return HasDate;
    case 18:
    case 19:
    case 20:
    case 21:
    case 45:
    case 47:
        return HasTime;
    case 46: // [h]:mm:ss
        return HasTime | Elapsed;
    case 22:
        return HasDate | HasTime;
    default:
        break;
    }
    // The East Asian locales number their own date and time formats here.
    if ((id >= 27 && id <= 31) || id == 36 || (id >= 50 && id <= 58))
        return HasDate;
    if (id >= 32 && id <= 35)
        return HasTime;
    return NotDate;
}

// What a custom number format shows of a date: codes outside quotes, escapes and brackets, first
// section only. An elapsed-time bracket such as [h] or [mm] makes the value a duration.
uint8_t customDateKind(std::string_view code) {
    std::vector<char> runs;
    uint8_t kind = NotDate;
    for (size_t i = 0; i < code.size(); ++i) {
        const char c = code[i];
        if (c == ';')
            break;
        if (c == '"') {
            const size_t close = code.find('"', i + 1);
            if (close == std::string_view::npos)
                break;
            i = close;
            continue;
        }
        if (c == '\\' || c == '_' || c == '*') {
            ++i; // the next character is literal (or a fill / padding)
            continue;
        }
        if (c == '[') {
            const size_t close = code.find(']', i + 1);
            if (close == std::string_view::npos)
                break;
            const std::string_view inside = code.substr(i + 1, close - i - 1);
            const bool elapsed = !inside.empty() && std::all_of(inside.begin(), inside.end(), [&](char x) {
                return std::tolower(static_cast<unsigned char>(x)) ==
                           std::tolower(static_cast<unsigned char>(inside[0])) &&
                       std::strchr("hmsHMS", inside[0]) != nullptr;
            });
            if (elapsed)
                kind |= HasTime | Elapsed;
            i = close;
            continue;
        }
        const auto lower = char(std::tolower(static_cast<unsigned char>(c)));
        if (lower == 'a') {
            // AM/PM and A/P are not months
            if (code.substr(i, 5) == "AM/PM" || code.substr(i, 5) == "am/pm") {
                i += 4;
                continue;
            }
            if (code.substr(i, 3) == "A/P" || code.substr(i, 3) == "a/p") {
                i += 2;
                continue;
            }
        }
        if (lower == 'y' || lower == 'd' || lower == 'm' || lower == 'h' || lower == 's') {
            if (runs.empty() || runs.back() != lower || (i > 0 && std::tolower(code[i - 1]) != lower))
                runs.push_back(lower);
        }
    }
    for (size_t i = 0; i < runs.size(); ++i) {
        switch (runs[i]) {
        case 'y':
        case 'd':
            kind |= HasDate;
            break;
        case 'h':
        case 's':
            kind |= HasTime;
            break;
        case 'm': {
            const bool minute = (i > 0 && runs[i - 1] == 'h') || (i + 1 < runs.size() && runs[i + 1] == 's');
            kind |= minute ? HasTime : HasDate;
            break;
        }
        }
    }
    return kind;
}

} // namespace numberformat

bool parseStoredNumber(std::string_view s, double& value) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
    while (!s.empty() && blank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && blank(s.back()))
        s.remove_suffix(1);
    if (!s.empty() && s.front() == '+')
        s.remove_prefix(1);
    const auto res = std::from_chars(s.data(), s.data() + s.size(), value);
    return !s.empty() && res.ec == std::errc() && res.ptr == s.data() + s.size();
}
