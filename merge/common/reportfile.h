#pragma once
#include <QList>
#include <QString>
#include <QStringList>

#include <utility>

// A run report written to a file, for the main window's Save report... and for the batch commands'
// --report. The file is a table: a header row of the column captions, then one row per report
// line, whose first field is the line's image as a word and whose further fields are its
// sub-items. Every field is written as the text it is: "00123" stays "00123", "12" stays a text.
//
// Two kinds, chosen by the name's extension without regard to case:
// - .csv: UTF-8 with a byte order mark, comma-separated, RFC 4180 quoting (a field holding a
//   comma, a quote or a line break is quoted, quotes doubled), CR LF after every row;
// - .xlsx: one sheet, every field a text cell, empty fields left out, the columns as wide as
//   their texts (up to 60 characters).
// The file is written atomically: a failed write leaves an earlier file at that name as it was.

// One line of a report: its image index (0 processed, 1 failure, 2 null value, 3 pending) and the
// texts of the second and later columns, in column order.
struct ReportLine {
    int image = 0;
    QStringList subItems;
};

// "processed", "failure", "null value", "pending" for images 0..3; any other index as its number.
QString reportImageWord(int image);

// The extensions a report may be saved under, lower case with the dot: ".csv", ".xlsx".
QStringList reportFileExtensions();

// Empty when path names a kind of report file; else why not, naming path and the two extensions.
QString reportFileProblem(const QString& path);

// Writes the report to path. captions are the captions of all columns, the image column's first
// (the main window's is empty), as RunReport::columnCaptions() gives them. Rows shorter than the
// captions are filled with empty fields, so that the table stays rectangular; longer ones are
// written whole. Throws WorkbookError with the cause: an extension that names no report kind, a
// folder that is missing or not writable, a disk that fills up.
void saveReportFile(const QString& path, const QStringList& captions, const QList<ReportLine>& lines);

// The report of a run that is printed as it goes, kept for a save at its end: a batch command
// gives it the captions, adds each line as it prints it, and saves once the run has finished or
// was interrupted.
class ReportFile {
public:
    explicit ReportFile(QStringList captions = {}) : m_captions(std::move(captions)) {}

    void setCaptions(const QStringList& captions) { m_captions = captions; }
    QStringList captions() const { return m_captions; }
    // Returns the index of the new line.
    int addLine(int image, const QStringList& subItems);
    const QList<ReportLine>& lines() const { return m_lines; }
    // saveReportFile with what has been collected.
    void save(const QString& path) const;

private:
    QStringList m_captions;
    QList<ReportLine> m_lines;
};
