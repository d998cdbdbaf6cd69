#pragma once
#include "office/workbook.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

// The Excel-to-Excel merge, without windows: every destination row with an index value gets, in
// each fill-in pair's destination column, the values of the pair's source column from the source
// rows whose index value matches; the changed destination workbook is saved as the output.

struct FillInPair {
    int sourceColumn = 1; // 1 = "A" .. 26 = "Z"
    int destColumn = 1;
};

struct ExcelMergeSettings {
    QString sourcePath;
    int sourceSheet = 1;       // position in the workbook, 1-based
    int sourceIndexColumn = 1; // 1 = "A"
    int sourceStartLine = 1;
    bool uniqueIndexValue = false; // stop at the first matching source row

    QString destPath;
    int destSheet = 1;
    int destIndexColumn = 1;
    int destStartLine = 1;
    bool caseSensitive = false;

    QList<FillInPair> pairs;
    QString outputPath;
};

// How a run speaks to whoever drives it (the run dialog, the batch command, a test).
class ExcelMergeSink {
public:
    virtual ~ExcelMergeSink() = default;
    // Both workbooks are open and their sheets chosen; the records are about to be processed.
    virtual void recordsBegin() {}
    // One destination row done. subItems: the key, then the accumulators in pair order. image:
    // 0 processed, 1 no source row matched. row/lastRow: for the progress bar.
    virtual void recordDone(const QStringList& subItems, int image, int row, int lastRow) = 0;
    // Asked after each workbook is opened and after each record; true ends the run without output.
    virtual bool stopRequested() = 0;
};

enum class ExcelMergeOutcome {
    Finished,
    Cancelled,
    SourceSheetMissing, // the source workbook has fewer sheets than the chosen number
    DestSheetMissing,
    Failed, // a workbook could not be opened, read or saved: see cause
};

struct ExcelMergeResult {
    ExcelMergeOutcome outcome = ExcelMergeOutcome::Failed;
    QString cause; // for Failed: what went wrong, and where
    int records = 0;
    int failures = 0;
};

enum class SourceLookup {
    Indexed, // the source index column is hashed once
    Rescan,  // every destination row rescans the source rows (reference for tests)
};

ExcelMergeResult runExcelMerge(const ExcelMergeSettings& settings, ExcelMergeSink& sink,
                               SourceLookup lookup = SourceLookup::Indexed);

// The same run on workbooks opened by open instead of openWorkbook (tests hand in their own).
// options name the columns the run reads of that workbook.
using WorkbookOpener =
    std::function<std::unique_ptr<Workbook>(const QString& path, const WorkbookOpenOptions& options)>;
ExcelMergeResult runExcelMerge(const ExcelMergeSettings& settings, ExcelMergeSink& sink, SourceLookup lookup,
                               const WorkbookOpener& open);
