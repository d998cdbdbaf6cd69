#include "office/xlsxsheetpatch.h"

#include "office/workbook.h"
#include "office/celltext.h"
#include "office/xlsxsheetpatchxml.h"
#include "office/xmlscan.h"

#include <climits>

namespace xlsx {

void SheetPatchStream::startTag(const Tag& tag) {
    const auto copyTag = [&]() { content(tag.raw); };
    if (!m_sawRoot) {
        m_sawRoot = true;
        if (tag.local == "chartsheet")
            fail(QStringLiteral("a chart sheet has no cells"));
        if (tag.local != "worksheet")
            fail(QStringLiteral("not a worksheet"));
        m_prefix = std::string(tag.name.substr(0, tag.name.size() - tag.local.size()));
        m_cellOpen = '<' + qualified("c");
        m_valueOpen = "><" + qualified("v") + '>';
        m_valueClose = "</" + qualified("v") + "></" + qualified("c") + '>';
        m_inlineOpen = " t=\"inlineStr\"><" + qualified("is") + "><" + qualified("t") + " xml:space=\"preserve\">";
        m_inlineClose = "</" + qualified("t") + "></" + qualified("is") + "></" + qualified("c") + '>';
        if (tag.selfClosing) {
            flushCopy();
            m_out += '<';
            m_out += tag.name;
            m_out += tag.attributes;
            m_out += '>';
            emitDimension({});
            emitSheetData();
            m_out += "</";
            m_out += tag.name;
            m_out += '>';
            return;
        }
        copyTag();
        m_frames.push_back(Frame::Root);
        return;
    }
    const Frame top = m_frames.empty() ? Frame::Copy : m_frames.back();
    switch (top) {
    case Frame::Root:
        rootChild(tag);
        return;
    case Frame::SheetData:
        if (tag.local == "row") {
            rowStart(tag);
        } else {
            copyTag();
            open(Frame::Copy, tag);
        }
        return;
    case Frame::EditedRow:
        if (tag.local == "c") {
            cellStart(tag);
        } else {
            // Cells come first in a row: what is left of its edits goes before anything else.
            emitCells(m_row, INT_MAX);
            copyTag();
            open(Frame::Copy, tag);
        }
        return;
    case Frame::PlainRow:
        if (tag.local == "c")
            plainCell(tag);
        else
            copyTag();
        open(Frame::Copy, tag);
        return;
    case Frame::Copy:
        copyTag();
        open(Frame::Copy, tag);
        return;
    case Frame::ReplacedCell:
        if (tag.local == "f" && m_formulaTexts.count(m_captureKey) && !m_handovers.count(m_captureKey)) {
            m_capture.clear();
            open(Frame::CaptureFormula, tag);
        } else {
            open(Frame::Drop, tag);
        }
        return;
    case Frame::HandoverCell:
        if (tag.local == "f") {
            emitHandoverFormula(tag, m_captureKey);
            open(Frame::Drop, tag);
        } else {
            copyTag();
            open(Frame::Copy, tag);
        }
        return;
    case Frame::Drop:
    case Frame::CaptureFormula:
        open(Frame::Drop, tag);
        return;
    }
}

void SheetPatchStream::endTag(const Tag& tag) {
    if (m_frames.empty())
        fail(QStringLiteral("an end tag with no element open"));
    const Frame frame = m_frames.back();
    m_frames.pop_back();
    switch (frame) {
    case Frame::Drop:
    case Frame::ReplacedCell:
        return;
    case Frame::CaptureFormula: {
        std::string text;
        if (!appendXmlText(m_capture, text))
            fail(QStringLiteral("a formula with a malformed entity"));
        m_formulaTexts[m_captureKey] = std::move(text);
        return;
    }
    case Frame::EditedRow:
        emitCells(m_row, INT_MAX);
        break;
    case Frame::SheetData:
        while (m_next != m_edits.end())
            emitNewRow();
        break;
    case Frame::Root:
        if (!m_dimensionDone)
            emitDimension({});
        if (!m_sheetDataDone)
            emitSheetData();
        break;
    case Frame::Copy:
    case Frame::PlainRow:
    case Frame::HandoverCell:
        break;
    }
    content(tag.raw);
}

void SheetPatchStream::rootChild(const Tag& tag) {
    const std::string_view local = tag.local;
    if (!m_dimensionDone) {
        const bool first = !m_rootChildren;
        m_rootChildren = true;
        if (!(first && local == "sheetPr")) {
            m_dimensionDone = true;
            if (local == "dimension") {
                static thread_local std::vector<Attribute> attributes;
                if (!parseAttributes(tag.attributes, attributes))
                    fail(QStringLiteral("a malformed dimension"));
                std::string kept;
                for (const Attribute& a : attributes)
                    if (a.name != "ref") {
                        kept += ' ';
                        kept += a.raw;
                    }
                emitDimension(kept);
                open(Frame::Drop, tag);
                return;
            }
            emitDimension({});
        }
    }
    if (local == "sheetData") {
        m_sheetDataDone = true;
        if (tag.selfClosing) {
            flushCopy();
            m_out += '<';
            m_out += tag.name;
            m_out += tag.attributes;
            m_out += '>';
            while (m_next != m_edits.end())
                emitNewRow();
            m_out += "</";
            m_out += tag.name;
            m_out += '>';
            return;
        }
        content(tag.raw);
        m_frames.push_back(Frame::SheetData);
        return;
    }
    // A sheet without cells gets its sheet data where the order of a worksheet's parts puts it.
    if (!m_sheetDataDone && local != "sheetPr" && local != "dimension" && local != "sheetViews" &&
        local != "sheetFormatPr" && local != "cols")
        emitSheetData();
    content(tag.raw);
    open(Frame::Copy, tag);
}

void SheetPatchStream::rowStart(const Tag& tag) {
    static thread_local std::vector<Attribute> attributes;
    if (!parseAttributes(tag.attributes, attributes))
        fail(QStringLiteral("a malformed row"));
    int number = m_row + 1;
    const Attribute* r = findAttribute(attributes, "r");
    if (r) {
        uint64_t value = 0;
        const std::string_view v = r->value;
        bool ok = !v.empty() && v.size() <= 9;
        for (char c : v)
            if (c < '0' || c > '9')
                ok = false;
            else
                value = value * 10 + uint64_t(c - '0');
        if (!ok || value == 0 || value > uint64_t(maxRows))
            fail(QStringLiteral("a row numbered \"%1\"").arg(QString::fromLatin1(v.data(), qsizetype(v.size())).left(24)));
        number = int(value);
    }
    while (m_next != m_edits.end() && keyRow(m_next->first) < number)
        emitNewRow();
    m_row = number;
    m_column = 0;
    const bool edited = m_next != m_edits.end() && keyRow(m_next->first) == number;
    const auto handover = m_handovers.lower_bound(cellKey(number, 0));
    const bool handsOver = handover != m_handovers.end() && keyRow(handover->first) == number;
    if (!edited && !handsOver && r) {
        content(tag.raw);
        open(Frame::PlainRow, tag);
        return;
    }
    // The row's number is made explicit, so that rows put in before it cannot move it.
    flushCopy();
    m_out += '<';
    m_out += tag.name;
    if (!r) {
        m_out += " r=\"";
        m_out += std::to_string(number);
        m_out += '"';
    }
    for (const Attribute& a : attributes) {
        if (edited && a.name == "spans")
            continue; // a hint about the row's cells that may no longer hold
        m_out += ' ';
        m_out += a.raw;
    }
    if (!edited && !handsOver) {
        m_out += tag.selfClosing ? "/>" : ">";
        open(Frame::PlainRow, tag);
        return;
    }
    m_out += '>';
    if (tag.selfClosing) {
        emitCells(number, INT_MAX);
        m_out += "</";
        m_out += tag.name;
        m_out += '>';
        return;
    }
    m_frames.push_back(Frame::EditedRow);
}

// Readers place a cell without a reference after the one before it, and some do not place it at
// all: every cell leaves with its reference.
void SheetPatchStream::plainCell(const Tag& tag) {
    const std::string_view a = tag.attributes;
    size_t at = a.find("r=");
    while (at != npos && at > 0 && !isSpace(a[at - 1]))
        at = a.find("r=", at + 1);
    if (at != npos && at + 2 < a.size() && (a[at + 2] == '"' || a[at + 2] == '\'')) {
        const size_t close = a.find(a[at + 2], at + 3);
        int row = 0, column = 0;
        if (close != npos && parseCellRef(a.substr(at + 3, close - at - 3), row, column) == RefStatus::Ok) {
            m_column = column;
            content(tag.raw);
            return;
        }
        fail(QStringLiteral("a cell with a malformed reference"));
    }
    if (++m_column > maxColumns)
        fail(QStringLiteral("row %1: column beyond XFD").arg(m_row));
    flushCopy();
    m_out += '<';
    m_out += tag.name;
    m_out += " r=\"" + cellRef(m_row, m_column) + '"';
    m_out += tag.attributes;
    m_out += tag.selfClosing ? "/>" : ">";
}

void SheetPatchStream::cellStart(const Tag& tag) {
    static thread_local std::vector<Attribute> attributes;
    if (!parseAttributes(tag.attributes, attributes))
        fail(QStringLiteral("a malformed cell"));
    const Attribute* r = findAttribute(attributes, "r");
    int column = m_column + 1;
    if (r) {
        int row = 0;
        const RefStatus status = parseCellRef(r->value, row, column);
        if (status != RefStatus::Ok)
            fail(QStringLiteral("cell \"%1\": %2")
                     .arg(QString::fromLatin1(r->value.data(), qsizetype(r->value.size())).left(24), refProblem(status)));
    } else if (column > maxColumns) {
        fail(QStringLiteral("row %1: column beyond XFD").arg(m_row));
    }
    emitCells(m_row, column);
    m_column = column;
    const CellKey key = cellKey(m_row, column);
    const std::string ref = r ? std::string() : " r=\"" + cellRef(m_row, column) + '"';

    if (m_next != m_edits.end() && m_next->first == key) {
        // Only the position and the style stay: type, metadata and content go.
        std::string kept = ref;
        for (const Attribute& a : attributes)
            if (a.name == "r" || a.name == "s") {
                kept += ' ';
                kept += a.raw;
            }
        emitCell(m_row, column, m_next->second, kept);
        ++m_next;
        // A cell that took over a shared formula and is overwritten in turn passes it on.
        const auto handover = m_handovers.find(key);
        if (handover != m_handovers.end()) {
            const Handover& h = handover->second;
            m_formulaTexts[key] = shiftFormula(m_formulaTexts[h.from], keyRow(key) - keyRow(h.from),
                                               keyColumn(key) - keyColumn(h.from));
        }
        m_captureKey = key;
        open(Frame::ReplacedCell, tag);
        return;
    }
    const bool handsOver = m_handovers.count(key) != 0;
    if (r) {
        content(tag.raw);
    } else {
        flushCopy();
        m_out += '<';
        m_out += tag.name;
        m_out += ref;
        m_out += tag.attributes;
        m_out += tag.selfClosing ? "/>" : ">";
    }
    m_captureKey = key;
    open(handsOver ? Frame::HandoverCell : Frame::Copy, tag);
}

void SheetPatchStream::emitDimension(std::string_view attributes) {
    flushCopy();
    m_out += '<';
    m_out += qualified("dimension");
    m_out += " ref=\"";
    m_out += m_dimension;
    m_out += '"';
    m_out += attributes;
    m_out += "/>";
    m_dimensionDone = true;
}

void SheetPatchStream::emitSheetData() {
    flushCopy();
    const std::string name = qualified("sheetData");
    m_out += '<' + name + '>';
    while (m_next != m_edits.end())
        emitNewRow();
    m_out += "</" + name + '>';
    m_sheetDataDone = true;
}

void SheetPatchStream::emitNewRow() {
    const int row = keyRow(m_next->first);
    flushCopy();
    const std::string name = qualified("row");
    m_out += '<' + name + " r=\"" + std::to_string(row) + "\">";
    emitCells(row, INT_MAX);
    m_out += "</" + name + '>';
}

void SheetPatchStream::emitCells(int row, int beforeColumn) {
    while (m_next != m_edits.end() && keyRow(m_next->first) == row && keyColumn(m_next->first) < beforeColumn) {
        emitCell(row, keyColumn(m_next->first), m_next->second, {});
        ++m_next;
    }
}

void SheetPatchStream::emitCell(int row, int column, const QString& text, std::string_view keptAttributes) {
    flushCopy();
    m_out += m_cellOpen;
    if (keptAttributes.empty()) {
        m_out += " r=\"";
        m_out += cellRef(row, column);
        m_out += '"';
    } else {
        m_out += keptAttributes;
    }
    if (text.isEmpty()) {
        m_out += "/>";
        return;
    }
    // A number stays a number: it reads back as the same text, and sums still count it.
    if (isNumberText(text)) {
        m_out += m_valueOpen;
        for (QChar c : text)
            m_out += char(c.unicode());
        m_out += m_valueClose;
        return;
    }
    m_out += m_inlineOpen;
    const QByteArray utf8 = text.toUtf8();
    // Most texts need no escape of either kind and go as they are.
    bool plain = true;
    for (char c : utf8) {
        const auto u = static_cast<unsigned char>(c);
        if ((u < 0x20 && u != '\t' && u != '\n') || u == 0x7F || u == '_' || u == '&' || u == '<' || u == '>') {
            plain = false;
            break;
        }
    }
    if (plain)
        m_out.append(utf8.constData(), size_t(utf8.size()));
    else
        appendEscaped(m_out, escapeOoxml(text));
    m_out += m_inlineClose;
}

} // namespace xlsx
