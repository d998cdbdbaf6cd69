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


} // namespace fuzz
