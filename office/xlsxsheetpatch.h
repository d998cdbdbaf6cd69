#pragma once
// A worksheet patched as its XML streams past: rows and cells that get no edit pass through as
// bytes, edited cells are written as their row goes by. Memory stays with the buffers and the
// edits, whatever the size of the sheet.
#include "office/xlsxparts.h"

#include <QString>

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace xlsx {

// True when an edit lands on a cell that holds a formula: the workbook's calculation chain names
// that cell and must go.
bool editsRemoveFormula(const SheetLayout& layout, const SheetEdits& edits);

class SheetPatchStream {
public:
    // Fills the buffer with the sheet's original bytes, returns how many, 0 at the end.
    using Source = std::function<qint64(char*, qint64)>;

    // layout: what reading the sheet learnt of it (complete and in order: see SheetLayout).
    SheetPatchStream(Source source, const SheetEdits& edits, const SheetLayout& layout, QString part);

    // The next bytes of the patched sheet into buffer; 0 at the end. Throws WorkbookError.
    qint64 read(char* buffer, qint64 size);

private:
    enum class Frame {
        Root,        // the worksheet element
        SheetData,   // its rows
        EditedRow,   // a row that gets edits or a handed-over formula: its cells one by one
        PlainRow,    // a row passed through, its cells' references made explicit where missing
        Copy,        // an element passed through as it is
        Drop,        // an element left out, with everything in it
        ReplacedCell, // the content of an edited cell: left out
        CaptureFormula, // the formula text of a master that is overwritten: kept aside, left out
        HandoverCell,   // a cell that becomes the master of its shared formula: its new formula
    };
    struct Tag {
        std::string_view raw;   // "<...>"
        std::string_view name;  // with its prefix
        std::string_view local; // without
        std::string_view attributes;
        bool end = false;
        bool selfClosing = false;
    };
    struct Handover {
        uint32_t group;
        CellKey from; // the cell whose formula text moves here
        std::string ref;
    };

    // The shared formulas whose master is overwritten (xlsxformulahandover.cpp).
    void planHandovers(const SheetLayout& layout);
    bool step();
    bool fill();
    // Index of needle at or after from in the buffer, filling it as needed; npos at the end.
    size_t find(size_t from, std::string_view needle);
    size_t tagEnd(size_t from);
    void passThrough(size_t end); // the bytes up to end, copied or left out by the open frame
    void content(std::string_view bytes);
    void startTag(const Tag& tag);
    void endTag(const Tag& tag);
    void rootChild(const Tag& tag);
    void rowStart(const Tag& tag);
    void cellStart(const Tag& tag);
    void plainCell(const Tag& tag);
    void open(Frame frame, const Tag& tag);

    void emitDimension(std::string_view attributes);
    void emitSheetData();
    void emitNewRow();
    void emitCells(int row, int beforeColumn);
    void emitCell(int row, int column, const QString& text, std::string_view keptAttributes);
    void emitHandoverFormula(const Tag& f, CellKey at);
    void copy(size_t from, size_t to);
    void flushCopy();
    [[noreturn]] void fail(const QString& what) const;
    std::string qualified(std::string_view local) const { return m_prefix + std::string(local); }

    Source m_source;
    QString m_part;
    const SheetEdits& m_edits;
    SheetEdits::const_iterator m_next; // the first edit not yet written
    std::map<CellKey, Handover> m_handovers;  // by the key of the cell that takes over
    std::map<CellKey, std::string> m_formulaTexts; // masters' texts, by the cell they leave
    std::string m_dimension;

    std::vector<char> m_buf;
    size_t m_pos = 0;
    size_t m_end = 0;
    bool m_eof = false;
    qint64 m_consumed = 0;
    size_t m_copyFrom = std::string::npos; // input copied but not yet in m_out
    size_t m_copyTo = 0;
    std::string m_out;
    size_t m_outPos = 0;
    bool m_done = false;

    std::vector<Frame> m_frames;
    std::string m_prefix;
    // The pieces of a written cell, with the sheet's prefix.
    std::string m_cellOpen, m_valueOpen, m_valueClose, m_inlineOpen, m_inlineClose;
    bool m_sawRoot = false;
    bool m_rootChildren = false; // a child of the root was met
    bool m_dimensionDone = false;
    bool m_sheetDataDone = false;
    int m_row = 0;      // the row being passed
    int m_column = 0;   // the cell last passed in it
    int m_rowsBefore = 0; // new rows are due before this row number
    std::string m_capture;
    CellKey m_captureKey = 0;
};

} // namespace xlsx
