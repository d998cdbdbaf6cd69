#pragma once
// The sheet scanner: the cells of one worksheet that hold a value, read as its XML streams past
// and kept compact, in row and column order, with what the scan learns of the sheet's layout.
#include "office/workbook.h"
#include "office/xlsxparts.h"

#include <QString>

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

class ZipArchive;

namespace xlsx {

enum CellKind : uint8_t { Number, Shared, Text, Boolean, Error, IsoDate };

struct Cell {
    uint32_t row;
    uint16_t column;
    CellKind kind;
    uint8_t dateKind;
    union {
        double number;
        uint32_t index;
        struct {
            uint32_t offset;
            uint32_t length;
        } text;
    };
};
static_assert(sizeof(Cell) == 16, "cells are kept compact");

// The cells of one sheet holding a value, in row and column order.
struct SheetCells {
    std::vector<Cell> cells;
    std::vector<std::pair<uint32_t, uint32_t>> rows; // row, index of its first cell
    std::string pool;                                // UTF-8 texts of Text, Error and IsoDate cells
    SheetLayout layout;
};

// Reads the sheet stored in part. options: the rows and columns wanted; styleDateKind: the date
// kind of each cell style (see numberformat), by style index. Throws WorkbookError.
SheetCells scanSheet(const ZipArchive& zip, const QString& part, const WorkbookOpenOptions& options,
                     const std::vector<uint8_t>& styleDateKind);

inline QString utf8(std::string_view s) {
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}

} // namespace xlsx
