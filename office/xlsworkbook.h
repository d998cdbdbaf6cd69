#pragma once
#include "merge/common/workbook.h"

// Larger .xls files are refused: the reader holds the whole file in memory.
inline constexpr qint64 kXlsSizeLimit = qint64(256) << 20;

// The legacy binary format, read only. A sheet is read whole when it is selected (at most
// rowLimit rows of it). Booleans cannot be told from the numbers 1 and 0 and read as "1"/"0";
// formula cells read as empty.
std::unique_ptr<Workbook> openXlsWorkbook(const QString& path, const WorkbookOpenOptions& options);
