#pragma once
#include "mail/labelpair.h"
#include "merge/common/pathcheck.h"
#include "office/workbook.h"

#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

#include <functional>

// The Excel-to-Word merge, without windows: every record of the worksheet becomes a copy of the
// template with each pair's label replaced by the record's value, saved as a numbered document of
// its own or joined with the others into one document.

enum class RecordSeparator {
    Paragraph, // an empty paragraph after each record
    PageBreak, // a page break after each record
};

struct WordMergeSettings {
    QString sourcePath;
    int sheet = 1;     // position in the workbook, 1-based
    int startLine = 1; // first row of the records
    QString templatePath;
    bool oneFile = false; // false: numbered documents beside the output path
    RecordSeparator separator = RecordSeparator::Paragraph;
    // Multiple files: the column (1..26) whose value names each record's document
    // (RecordFileNames); 0 numbers them all. Not used for one file.
    int nameColumn = 0;
    QList<LabelPair> pairs;
    QString outputPath; // after the extension rule
};

// How a run speaks to whoever drives it (the run dialog, the batch command, a test).
class WordMergeSink {
public:
    virtual ~WordMergeSink() = default;
    // The workbook and the template are open; the records are about to be processed.
    virtual void recordsBegin() {}
    // One record done. values: one per pair in list order, "-" for an empty one. image: 0 every
    // value present, 2 some value empty, 1 every value empty. row/lastRow: for the progress bar.
    virtual void recordDone(const QStringList& values, int image, int row, int lastRow) = 0;
    // Asked after the workbook is opened and after each record; true ends the run.
    virtual bool stopRequested() = 0;
};

enum class WordMergeOutcome {
    Finished,
    Cancelled,    // one file: nothing written; numbered files: those already saved stay
    SheetMissing, // the workbook has fewer sheets than the chosen number
    Failed,       // see cause: workbook, template, converter or save
};

// For Failed: which input or output the run could not use.
enum class WordMergeFailure {
    None,
    Settings,         // a setting out of range, or an output that would overwrite an input
    Workbook,         // the source workbook cannot be opened or read
    Template,         // the template cannot be read, or is no document
    ConverterMissing, // a .doc or .odt template, or a .doc, .odt or .pdf output, and no LibreOffice
    Output,           // a document cannot be written (folder refused, disk full, converter failed)
};

struct WordMergeResult {
    WordMergeOutcome outcome = WordMergeOutcome::Failed;
    WordMergeFailure failure = WordMergeFailure::None;
    QString cause; // for Failed: what went wrong, and where (the file is named)
    int records = 0;
    int nullValues = 0;
    int failures = 0;
    QStringList written; // the documents saved, in order
};

WordMergeResult runWordMerge(const WordMergeSettings& settings, WordMergeSink& sink);

// The numbered file of record n (1-based): output base + n with at least four digits + extension.
QString numberedOutputPath(const QString& outputPath, int n);

// The documents of a multiple-files run named from a column: record n's file is the output's
// folder, fileNameFromValue(value) and the output's extension, or its numbered name
// (numberedOutputPath) when the value is empty. A name handed out before in the run (compared
// without regard to case, for file systems that do not tell case) or refused by taken gets " (2)",
// " (3)", ... before its extension.
class RecordFileNames {
public:
    explicit RecordFileNames(const QString& outputPath, std::function<bool(const QString&)> taken = {});
    QString next(int n, const QString& value);

private:
    QString m_outputPath;
    QString m_folder;    // with its trailing separator, or empty
    QString m_extension; // with its dot, or empty
    std::function<bool(const QString&)> m_taken;
    QSet<QString> m_used; // file names handed out, case-folded
};

// The documents a multiple-files run of s would write, in record order, as the run names them;
// empty when the workbook or its sheet cannot be read (the run then says why).
QStringList plannedDocuments(const WordMergeSettings& s);

// The output path of a chosen name: unchanged when its extension is ".docx", ".doc", ".odt" or ".pdf"
// (any case), else the name with ".docx" appended.
QString withWordExtension(const QString& chosen);
