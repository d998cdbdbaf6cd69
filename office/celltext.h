#pragma once
#include <QString>

#include <cstdint>
#include <string_view>

// How cell values become texts, shared by every format.

// A number as a spreadsheet shows it in its general format: rounded to 15 significant digits, in
// plain notation for magnitudes from 0.0001 up to below 1E+15 and in scientific form outside it
// ("1E+15", "2.5E-07"), without trailing zeros; "-0" as "0". A computed 118.99999999999999 is
// "119", 0.1 + 0.2 is "0.3".
QString numberText(double value);

// True when text is exactly what numberText writes for some number ("119", "-2.5", "1E+15"), so
// that storing it as a number reads back as the same text. "007", "1.50", "+5", " 5", "1e3" and
// "-0" are not.
bool isNumberText(QStringView text);

// A spreadsheet serial date (days since the epoch of the workbook's date system, fraction = time
// of day) as ISO 8601: "2024-01-05", "2024-01-05 13:45:00", or "13:45:00" for a time alone
// (serial below 1). Empty when the value is out of the representable range.
QString serialDateText(double serial, bool date1904, bool hasDate, bool hasTime);

// A number of days shown by an elapsed-time format ([h]:mm:ss, [mm]:ss, ...) as hours, minutes and
// seconds, rounded to the nearest second, the hours not wrapping at a day: 1.5 is "36:00:00",
// -0.25 is "-06:00:00". Empty when the value is out of range (more than about a billion years).
QString elapsedTimeText(double days);

// A number as a part stores it ("12.5", "-3E-07", "+4"), blanks around it allowed; false for
// anything else.
bool parseStoredNumber(std::string_view text, double& value);

// The most characters (UTF-16 code units) a cell holds.
inline constexpr qsizetype kCellTextLimit = 32767;

// text cut to kCellTextLimit characters, never inside a surrogate pair.
QString fitToCell(const QString& text);

// What a number format shows of a cell's number, by the format's built-in id or its code.
namespace numberformat {
// Elapsed: a duration ([h]:mm:ss, [mm]:ss), whatever else the format shows.
enum DateKind : uint8_t { NotDate = 0, HasDate = 1, HasTime = 2, Elapsed = 4 };
uint8_t builtinDateKind(int id);
// Codes outside quotes, escapes and brackets, first section only.
uint8_t customDateKind(std::string_view code);
} // namespace numberformat
