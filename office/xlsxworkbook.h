#pragma once
#include "office/workbook.h"

#include <QList>
#include <QStringList>

// .xlsx / .xlsm packages: read, patch cells in place, save as a new package that keeps every other
// part of the original.
std::unique_ptr<Workbook> openXlsxWorkbook(const QString& path, const WorkbookOpenOptions& options);

// What a new package makes of a text that is a number as the engine writes it (see isNumberText):
// a number cell, as the values of a sheet are; or a text cell like any other, for a table of texts
// (a run report) that a reader must get back exactly as it was written.
enum class NumberTexts { AsNumbers, AsTexts };

// How a new package lays out its one sheet.
struct NewSheetOptions {
    NumberTexts numbers = NumberTexts::AsNumbers;
    // Widths of the first columns in characters of the default font; 0 or a column past the list
    // keeps the reader's default width.
    QList<double> columnWidths;
};

// Writes a new, plain workbook package of one sheet holding the given texts to path, atomically:
// number texts as options.numbers says, the rest as text cells, each cut to the most a cell holds.
// Used when a workbook read from another format is saved as .xlsx or .xlsm (macro-enabled by its
// content type, without macros). Causes name shownPath when given: the file the user chose, when
// path is a step on the way to it.
void writeNewXlsx(const QString& path, const QList<QStringList>& rows, const QString& shownPath = {},
                  const NewSheetOptions& options = {});
