#include "office/odsparts.h"

#include "office/celltext.h"
#include "office/zipfile.h"

#include <QDate>

#include <charconv>
#include <cmath>

namespace ods {

namespace {

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && isSpace(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && isSpace(s.back()))
        s.remove_suffix(1);
    return s;
}

// Digits at the front of s, taken off it; false when there are none or too many.
bool takeNumber(std::string_view& s, int64_t& value, size_t maxDigits = 12) {
    size_t n = 0;
    while (n < s.size() && s[n] >= '0' && s[n] <= '9')
        ++n;
    if (n == 0 || n > maxDigits)
        return false;
    std::from_chars(s.data(), s.data() + n, value);
    s.remove_prefix(n);
    return true;
}

bool take(std::string_view& s, char c) {
    if (s.empty() || s.front() != c)
        return false;
    s.remove_prefix(1);
    return true;
}

// Seconds with an optional fraction ("30", "30.25").
bool takeSeconds(std::string_view& s, double& seconds) {
    size_t n = 0;
    while (n < s.size() && ((s[n] >= '0' && s[n] <= '9') || s[n] == '.'))
        ++n;
    if (n == 0 || n > 40)
        return false;
    const auto res = std::from_chars(s.data(), s.data() + n, seconds);
    if (res.ec != std::errc() || res.ptr != s.data() + n)
        return false;
    s.remove_prefix(n);
    return true;
}

QString twoDigits(int64_t n) {
    return QString::number(n).rightJustified(2, u'0');
}

} // namespace

PackageKind packageKind(const ZipArchive& zip, QString* mimeType) {
    if (zip.indexOf(QStringLiteral("mimetype")) >= 0) {
        const QByteArray type = zip.read(QStringLiteral("mimetype"), 256).trimmed();
        if (mimeType)
            *mimeType = QString::fromUtf8(type);
        const std::string_view view(type.constData(), size_t(type.size()));
        if (view.substr(0, spreadsheetType.size()) == spreadsheetType)
            return PackageKind::Spreadsheet;
        if (view.substr(0, 35) == spreadsheetType.substr(0, 35)) // application/vnd.oasis.opendocument.
            return PackageKind::OtherDocument;
        return PackageKind::NotOpenDocument;
    }
    if (zip.indexOf(QStringLiteral("content.xml")) >= 0 && zip.indexOf(QStringLiteral("[Content_Types].xml")) < 0)
        return PackageKind::Spreadsheet;
    return PackageKind::NotOpenDocument;
}

uint64_t repeatCount(std::string_view value, bool present) {
    if (!present)
        return 1;
    value = trimmed(value);
    uint64_t n = 0;
    const auto res = std::from_chars(value.data(), value.data() + value.size(), n);
    if (value.empty() || res.ec != std::errc() || res.ptr != value.data() + value.size() || n == 0 ||
        n >= (uint64_t(1) << 40))
        return 0;
    return n;
}

QString dateValueText(std::string_view value) {
    std::string_view s = trimmed(value);
    const bool negative = take(s, '-');
    int64_t year = 0, month = 0, day = 0;
    if (!takeNumber(s, year, 9) || !take(s, '-') || !takeNumber(s, month, 2) || !take(s, '-') ||
        !takeNumber(s, day, 2) || month < 1 || month > 12 || day < 1 || day > 31)
        return {};
    if (negative)
        year = -year;
    int64_t hour = 0, minute = 0;
    double seconds = 0;
    const bool hasTime = take(s, 'T');
    if (hasTime && (!takeNumber(s, hour, 2) || !take(s, ':') || !takeNumber(s, minute, 2) || !take(s, ':') ||
                    !takeSeconds(s, seconds) || hour > 24 || minute > 59 || seconds >= 61))
        return {};
    // A zone, when given, is left as it is: the cell shows the local time written.
    if (!s.empty() && s != "Z" && !(s.size() == 6 && (s[0] == '+' || s[0] == '-') && s[3] == ':'))
        return {};
    int64_t total = hour * 3600 + minute * 60 + std::llround(seconds);
    QDate date{int(year), int(month), int(day)};
    if (total >= 86400 && date.isValid()) {
        date = date.addDays(total / 86400);
        total %= 86400;
    }
    QString text;
    if (date.isValid()) {
        year = date.year();
        month = date.month();
        day = date.day();
    }
    text = (year < 0 ? QStringLiteral("-") : QString()) + QString::number(std::llabs(year)).rightJustified(4, u'0') +
           u'-' + twoDigits(month) + u'-' + twoDigits(day);
    if (hasTime)
        text += u' ' + twoDigits(total / 3600) + u':' + twoDigits(total / 60 % 60) + u':' + twoDigits(total % 60);
    return text;
}

QString timeValueText(std::string_view value) {
    std::string_view s = trimmed(value);
    const bool negative = take(s, '-');
    if (!take(s, 'P'))
        return {};
    double days = 0;
    int64_t n = 0;
    bool any = false;
    // Days before the "T"; hours, minutes and seconds after it.
    if (!s.empty() && s.front() != 'T') {
        if (!takeNumber(s, n) || !take(s, 'D'))
            return {};
        days += double(n);
        any = true;
    }
    if (take(s, 'T')) {
        for (const char unit : {'H', 'M'}) {
            std::string_view probe = s;
            if (takeNumber(probe, n) && take(probe, unit)) {
                days += double(n) / (unit == 'H' ? 24.0 : 1440.0);
                s = probe;
                any = true;
            }
        }
        double seconds = 0;
        std::string_view probe = s;
        if (takeSeconds(probe, seconds) && take(probe, 'S')) {
            days += seconds / 86400.0;
            s = probe;
            any = true;
        }
    }
    if (!s.empty() || !any)
        return {};
    return elapsedTimeText(negative ? -days : days);
}

std::string_view localPart(std::string_view name) {
    const size_t colon = name.rfind(':');
    return colon == std::string_view::npos ? name : name.substr(colon + 1);
}

} // namespace ods
