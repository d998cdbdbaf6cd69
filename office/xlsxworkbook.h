#pragma once
#include "merge/common/workbook.h"

#include <QList>
#include <QStringList>

// .xlsx / .xlsm packages: read, patch cells in place, save as a new package that keeps every other
// part of the original.
std::unique_ptr<Workbook> openXlsxWorkbook(const QString& path, const WorkbookOpenOptions& options);

// Writes a new, plain workbook package of one sheet holding the given texts (row by row, as text
// cells) to path, atomically. Used when a workbook read from another format is saved as .xlsx.
void writeNewXlsx(const QString& path, const QList<QStringList>& rows);
