#pragma once
// Pieces shared by the OpenDocument spreadsheet reader and its save.
#include <QString>

#include <cstdint>
#include <string_view>

class ZipArchive;

namespace ods {

inline constexpr std::string_view spreadsheetType = "application/vnd.oasis.opendocument.spreadsheet";
inline constexpr std::string_view officeNamespace = "urn:oasis:names:tc:opendocument:xmlns:office:1.0";
inline constexpr std::string_view tableNamespace = "urn:oasis:names:tc:opendocument:xmlns:table:1.0";
inline constexpr std::string_view textNamespace = "urn:oasis:names:tc:opendocument:xmlns:text:1.0";

// A sheet holds no more valued cells than this once repeated cells are counted one by one, and no
// more characters of text: beyond, a small file could make the reader hold gigabytes.
inline constexpr qint64 cellLimit = qint64(32) << 20;
inline constexpr qint64 textLimit = qint64(256) << 20;

// What a zip package is, by its "mimetype" entry: Spreadsheet for an OpenDocument spreadsheet (or
// its template), OtherDocument for another OpenDocument type (text, drawing), NotOpenDocument for
// anything else (a workbook package). A package without that entry counts as a spreadsheet when it
// has a content.xml and no "[Content_Types].xml".
enum class PackageKind { Spreadsheet, OtherDocument, NotOpenDocument };
PackageKind packageKind(const ZipArchive& zip, QString* mimeType = nullptr);

// A repetition attribute ("number-rows-repeated"): 1 when absent; 0 when it is not a positive
// whole number below 2^40 (callers refuse it).
uint64_t repeatCount(std::string_view value, bool present);

// office:date-value ("2024-01-05", "2024-01-05T13:45:00.5") as the engine's ISO text
// ("2024-01-05", "2024-01-05 13:45:01"), seconds rounded; empty when malformed.
QString dateValueText(std::string_view value);
// office:time-value ("PT13H45M30S", "-PT6H", "P1DT12H") as hours, minutes and seconds that do not
// wrap at a day ("13:45:30", "-06:00:00", "36:00:00"); empty when malformed.
QString timeValueText(std::string_view value);

// The local part of a qualified name ("table:table-cell" -> "table-cell").
std::string_view localPart(std::string_view name);

} // namespace ods
