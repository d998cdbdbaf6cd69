#pragma once
#include <QByteArrayView>

#include <optional>

// What the workbook stream of a compound document (.xls) declares, found without the full reader:
// the reader allocates a cell for every place inside each sheet's declared dimensions when it
// opens the file, so a file of a few kilobytes can ask for gigabytes; and it does not give
// formula results, so it is worth knowing whether there are formulas at all.
struct BiffSummary {
    qint64 declaredCells = 0;
    qint64 formulas = 0;
};

// Empty when the container or its workbook stream cannot be followed.
std::optional<BiffSummary> scanBiff(QByteArrayView file);
