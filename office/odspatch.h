#pragma once
// Saving an OpenDocument spreadsheet with changed cells: content.xml streams through, rows and
// cells without a change pass as bytes, a repeated row or cell is split only where a change lands,
// and every other entry of the package is copied as stored.
#include "office/xlsxparts.h"
#include "office/xmlscan.h"

#include <QString>

#include <functional>
#include <memory>
#include <string>
#include <vector>

class ZipArchive;

struct OdsSheetEdits {
    int number = 0; // 1-based position of the sheet
    xlsx::SheetEdits edits;
};

namespace ods {

class ContentPatchStream {
public:
    using Source = std::function<qint64(char*, qint64)>;

    // sheets: by number, each with at least one edit.
    ContentPatchStream(Source source, const std::vector<OdsSheetEdits>& sheets);

    // The next bytes of the patched content into buffer; 0 at the end. Throws WorkbookError.
    qint64 read(char* buffer, qint64 size);

private:
    void step();
    // The row that started at m_rowStart ends just before end: patched when it was captured.
    void rowEnded(qint64 end);
    void emitUpTo(qint64 offset);
    // Absolute offset just past the tag that starts at offset.
    qint64 tagEnd(qint64 offset) const;
    std::string_view rawAt(qint64 from, qint64 to) const;
    void learnPrefixes(std::string_view rootTag);
    std::string patchedRows(std::string_view rowXml, uint64_t firstRow, uint64_t count);
    void appendPatchedCells(std::string& out, std::string_view rowXml, std::string_view prefix, uint64_t row);
    // The edits of row from m_next on as new cells after column fromColumn - 1.
    void appendNewCells(std::string& out, std::string_view prefix, uint64_t row, uint64_t fromColumn);
    void appendNewCell(std::string& out, std::string_view qname, std::string_view keptAttributes,
                       const QString& text) const;
    std::string newRows(uint64_t fromRow);
    [[noreturn]] void fail(const QString& what) const;

    Source m_source;
    std::unique_ptr<XmlScanner> m_scanner;
    std::vector<const OdsSheetEdits*> m_sheets; // by number, null for a sheet without edits
    const OdsSheetEdits* m_target = nullptr;
    xlsx::SheetEdits::const_iterator m_next;

    std::string m_raw;       // input from m_rawBase on
    qint64 m_rawBase = 0;
    qint64 m_copied = 0;     // input up to here is in m_out or was replaced
    qint64 m_holdFrom = -1;  // input from here on must stay in m_raw
    std::string m_out;
    size_t m_outPos = 0;
    bool m_done = false;

    int m_depth = 0;
    int m_bodyDepth = -1;
    int m_tableDepth = -1;
    int m_skipDepth = -1;
    int m_rowDepth = -1;
    bool m_captureRow = false;
    qint64 m_rowStart = 0;
    uint64_t m_row = 1;
    uint64_t m_rowRepeat = 1;
    int m_sheet = 0;
    qint64 m_insertAt = -1; // where rows after the table's last one go
    std::string m_tablePrefix;
    std::string m_office, m_text; // prefixes with their colon
    std::string m_declarations;   // of the namespaces the root does not declare, for new cells
};

} // namespace ods

// Writes the package of zip with the sheets' edits patched into its content to path (not
// atomically: the caller does that), the "mimetype" entry first and stored. Causes name
// shownPath, the file the user chose.
void writePatchedOds(const ZipArchive& zip, const std::vector<OdsSheetEdits>& sheets, const QString& path,
                     const QString& shownPath);
