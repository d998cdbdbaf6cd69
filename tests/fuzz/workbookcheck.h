#pragma once
// The checks every workbook fuzz target makes of a selected sheet.
#include "fuzz/fuzzsupport.h"
#include "office/workbook.h"

namespace fuzz {

// Beyond this many cells a sheet is read only at its edges, so that a sparse sheet of a million
// rows does not stall the run.
inline constexpr qint64 kCellBudget = 200000;

inline void readSheet(const Workbook& book, int n)
{
    fuzz::check(book.selectedSheet() == n, "selected sheet differs");
    const int rows = book.usedRows();
    const int columns = book.usedColumns();
    fuzz::check(rows >= 0 && columns >= 0 && (rows == 0) == (columns == 0), "used range is inconsistent",
                QStringLiteral("%1 x %2").arg(rows).arg(columns));
    fuzz::check(book.cellText(rows + 1, 1).isEmpty() && book.cellText(1, columns + 1).isEmpty()
                    && book.cellText(0, 0).isEmpty() && book.cellText(-1, 1).isEmpty(),
                "text outside the used range");
    if (rows == 0)
        return;
    const bool whole = qint64(rows) * columns <= kCellBudget;
    bool lastRowFilled = false, lastColumnFilled = false;
    for (int r = 1; r <= rows; ++r) {
        if (!whole && r > 50 && r < rows - 50)
            continue;
        for (int c = 1; c <= columns; ++c) {
            if (!whole && c > 50 && c < columns - 50)
                continue;
            const QString text = book.cellText(r, c);
            if (!text.isEmpty()) {
                lastRowFilled |= r == rows;
                lastColumnFilled |= c == columns;
            }
        }
    }
    if (whole)
        fuzz::check(lastRowFilled && lastColumnFilled, "the used range ends in an empty row or column",
                    QStringLiteral("%1 x %2").arg(rows).arg(columns));
}


// Opens path with rowLimit and reads each of its first 64 sheets with readSheet; sheets outside
// the workbook must be refused. Null when the file is refused (with a cause, as it must).
inline std::unique_ptr<Workbook> readWorkbook(const QString& path, int rowLimit)
{
    std::unique_ptr<Workbook> book;
    try {
        book = openWorkbook(path, WorkbookOpenOptions{rowLimit});
    } catch (const WorkbookError& error) {
        fuzz::check(!error.cause().isEmpty(), "an error without a cause");
        return nullptr;
    }
    const int sheets = book->sheetCount();
    fuzz::check(sheets >= 0, "negative sheet count");
    for (int n = 1; n <= sheets && n <= 64; ++n) {
        try {
            book->selectSheet(n);
        } catch (const WorkbookError& error) {
            fuzz::check(!error.cause().isEmpty(), "an error without a cause");
            continue;
        }
        readSheet(*book, n);
        if (rowLimit > 0)
            fuzz::check(book->usedRows() <= rowLimit, "more rows read than the limit");
    }
    for (const int outside : {0, sheets + 1}) {
        try {
            book->selectSheet(outside);
            fuzz::fail("a sheet outside the workbook was selected", QString::number(outside));
        } catch (const WorkbookError&) {
        }
    }
    return book;
}

} // namespace fuzz
