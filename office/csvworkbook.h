#pragma once
#include "office/workbook.h"

#include <QList>
#include <QStringList>

// Comma-separated text (RFC 4180 quoting). Read: UTF-8 with or without a byte order mark, UTF-16
// (little or big endian) with one; text without a byte order mark that is not UTF-8 is read as
// Windows-1252. The separator is ',' or ';', whichever occurs more often outside quotes in the
// first line (',' on a tie).
enum class CsvEncoding { Utf8, Utf16LE, Utf16BE };
struct CsvFormat {
    QChar separator = QLatin1Char(',');
    // UTF-16 is always written with its byte order mark.
    bool byteOrderMark = true;
    QByteArray lineEnd = "\r\n";
    // How a save writes it: a file read as UTF-16 is written back as such; one read as Windows-1252
    // is written as UTF-8 with a byte order mark, which holds every character a fill-in may bring.
    CsvEncoding encoding = CsvEncoding::Utf8;
};

// Larger files are refused rather than read into memory.
inline constexpr qint64 kCsvSizeLimit = qint64(64) << 20;

// One sheet; texts are kept exactly as written (numbers are not reformatted). A line break inside a
// quoted field is read as "\n" whether the file uses CRLF or LF.
std::unique_ptr<Workbook> openCsvWorkbook(const QString& path, const WorkbookOpenOptions& options);

// True when bytes (the start of a file, or all of it when whole) can be text the reader reads:
// UTF-8 without a NUL byte or an invalid sequence (a sequence cut by the end of a start is
// allowed); UTF-16 after its byte order mark without a NUL character, an unpaired surrogate or a
// control character other than tab, line feed, form feed and carriage return; or, in Windows-1252,
// bytes without such a control character. Binary files hold those within their first bytes.
bool looksLikeText(QByteArrayView bytes, bool whole);

// Writes rows to path atomically, each with its own number of fields; fields holding the separator,
// a quote or a line break are quoted.
void writeCsv(const QString& path, const QList<QStringList>& rows, const CsvFormat& format);
