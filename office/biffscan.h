#pragma once
#include <QByteArrayView>
#include <QString>

#include <optional>
#include <vector>

// A cell whose text the full .xls reader gets wrong, found by the scan: a boolean or an error code
// (the reader gives them as the numbers 1 and 0), or a number under an elapsed-time format (the
// reader gives a time of day, losing whole days). 0-based places, as the reader counts them.
struct BiffCellText {
    quint32 row = 0;
    quint16 column = 0;
    QString text;
};

// What the workbook stream of a compound document (.xls) declares, found without the full reader:
// the reader allocates a cell for every place inside each sheet's declared dimensions when it
// opens the file, so a file of a few kilobytes can ask for gigabytes; and it does not give
// formula results, so it is worth knowing whether there are formulas at all.
struct BiffSummary {
    qint64 declaredCells = 0;
    qint64 formulas = 0;
    // By sheet, in the order of the workbook's sheet list (the reader's order, chart sheets
    // included). Empty when the sheets' records cannot be followed.
    std::vector<std::vector<BiffCellText>> cellTexts;
};

// Empty when the container or its workbook stream cannot be followed.
std::optional<BiffSummary> scanBiff(QByteArrayView file);
