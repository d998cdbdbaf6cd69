#pragma once
#include "merge/common/workbook.h"

#include <QList>
#include <QStringList>

// Comma-separated text (RFC 4180 quoting), UTF-8 with or without a byte order mark. The separator
// is ',' or ';', whichever occurs more often outside quotes in the first line (',' on a tie).
struct CsvFormat {
    QChar separator = QLatin1Char(',');
    bool byteOrderMark = true;
    QByteArray lineEnd = "\r\n";
};

// Larger files are refused rather than read into memory.
inline constexpr qint64 kCsvSizeLimit = qint64(64) << 20;

// One sheet; texts are kept exactly as written (numbers are not reformatted). A line break inside a
// quoted field is read as "\n" whether the file uses CRLF or LF.
std::unique_ptr<Workbook> openCsvWorkbook(const QString& path, const WorkbookOpenOptions& options);

// True when bytes (the start of a file, or all of it when whole) can be UTF-8 text: no NUL byte
// and no invalid sequence; a sequence cut by the end of a start is allowed.
bool looksLikeUtf8Text(QByteArrayView bytes, bool whole);

// Writes rows to path atomically, each with its own number of fields; fields holding the separator,
// a quote or a line break are quoted.
void writeCsv(const QString& path, const QList<QStringList>& rows, const CsvFormat& format);
