#pragma once
#include "office/workbook.h"

// Larger .xls files are refused: the reader holds the whole file in memory.
inline constexpr qint64 kXlsSizeLimit = qint64(256) << 20;

// The reader allocates every cell inside the sheets' declared dimensions at once; files that
// declare more than this (about 512 MB of the reader's memory) are refused.
inline constexpr qint64 kXlsCellLimit = qint64(32) << 20;

// The legacy binary format, read only. A sheet is read whole when it is selected (at most
// rowLimit rows of it). Booleans read "TRUE"/"FALSE" and error codes their text ("#N/A"), as in a
// package. A workbook with formulas, and one the reader gives up on (a text of some 16,000
// characters does it), is read through a conversion to .xlsx when LibreOffice is installed, so
// that formulas give their results; without it, formula cells read as empty.
std::unique_ptr<Workbook> openXlsWorkbook(const QString& path, const WorkbookOpenOptions& options);
