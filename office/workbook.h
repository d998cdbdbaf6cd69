#pragma once
#include "platform/blanks.h"

#include <QString>

#include <exception>
#include <memory>
#include <vector>

// Anything that goes wrong with a workbook: the cause says what and where
// ("sheet 2, cell B7: shared string index 912 out of range").
class WorkbookError : public std::exception {
public:
    explicit WorkbookError(QString cause) : m_cause(std::move(cause)), m_utf8(m_cause.toUtf8()) {}
    const QString& cause() const { return m_cause; }
    const char* what() const noexcept override { return m_utf8.constData(); }

private:
    QString m_cause;
    QByteArray m_utf8;
};

struct WorkbookOpenOptions {
    WorkbookOpenOptions() = default;
    WorkbookOpenOptions(int rows) : rowLimit(rows) {} // NOLINT: {20} reads as "the top 20 rows"

    // 0: read whole sheets. Otherwise no more than this many rows of a sheet are read, so that a
    // glance at the top of a huge workbook costs no more than at a small one.
    int rowLimit = 0;
    // Empty: every column. Otherwise a reader may keep the values of these columns only (1 = "A"):
    // the others then read as empty and the used range counts the kept ones. A run that needs a
    // few columns of a large sheet holds no more than those.
    std::vector<int> columns;
};

// One open workbook, the stand-in for a hidden spreadsheet program: sheets by position, the
// selected sheet's used range, cell texts, cell changes and save as. Every operation may throw
// WorkbookError.
//
// Cell text: strings as stored; numbers as a spreadsheet shows them in its general format, rounded
// to 15 significant digits (a computed 118.99999999999999 is "119", 0.1 + 0.2 is "0.3"), in plain
// notation from 0.0001 up to below 1E+15 and in scientific form outside it ("1E+15", "2.5E-07"),
// without trailing zeros, "-0" as "0"; booleans "TRUE"/"FALSE"; dates and times in ISO 8601
// ("2024-01-05", "2024-01-05 13:45:00", "13:45:00"); numbers under an elapsed-time format as hours
// that do not wrap at a day ("36:00:00"); formulas their cached value; errors their text ("#N/A").
// .csv cells are the texts as written. Texts are returned as stored: callers trim (see trimBlanks).
class Workbook {
public:
    virtual ~Workbook() = default;

    virtual QString path() const = 0;
    // Every sheet counts, chart sheets included.
    virtual int sheetCount() const = 0;
    // n is the 1-based position in the workbook's own order, never a name. Throws when n is out
    // of range or that sheet cannot be read; another sheet's damage does not matter.
    virtual void selectSheet(int n) = 0;
    virtual int selectedSheet() const = 0;
    // Rows 1 to the last row that holds a non-empty text (0 for an empty sheet); columns likewise.
    virtual int usedRows() const = 0;
    virtual int usedColumns() const = 0;
    // 1-based; empty outside the used range.
    virtual QString cellText(int row, int column) const = 0;
    // Stores the value keeping the cell's style, never as a formula: a text that is exactly a number
    // as cell texts write numbers ("119", "-2.5", "1E+15") as a number cell, every other text
    // ("007", "1.50", "+5", "=A1") as a text cell. A text longer than a cell holds (32,767
    // characters) is cut there, never inside a surrogate pair.
    virtual void setCellText(int row, int column, const QString& text) = 0;
    // Writes the whole workbook to path, atomically (temporary file beside it, then rename), so a
    // failed save leaves nothing behind. The format follows the extension of path: ".xlsx"/".xlsm"
    // a workbook package (the original package patched when it was one, else a new one of the
    // values), ".csv" comma-separated text, ".xls" through LibreOffice's converter when installed.
    virtual void saveAs(const QString& path) = 0;
};

// Opens the file at path; the format is chosen from the content, not the name
// (.xlsx/.xlsm package, .xls compound document, .csv text).
std::unique_ptr<Workbook> openWorkbook(const QString& path, const WorkbookOpenOptions& options = {});

// "A".."Z" -> 1..26 from the first character; 0 for anything else.
int columnNumber(const QString& letter);
