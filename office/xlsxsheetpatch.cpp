#include "office/xlsxsheetpatch.h"

#include "office/workbook.h"
#include "office/celltext.h"
#include "office/xmlscan.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <set>
#include <unordered_map>

namespace xlsx {

namespace {

constexpr size_t kChunk = size_t(1) << 18;
// No tag of a sheet comes near this; a longer one is refused rather than buffered.
constexpr size_t kTagLimit = size_t(4) << 20;
constexpr size_t npos = std::string::npos;

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

struct Attribute {
    std::string_view name;
    std::string_view value;
    std::string_view raw; // name="value", quotes included
};

// The attributes of a tag, as written. False when they are not well formed.
bool parseAttributes(std::string_view text, std::vector<Attribute>& out) {
    out.clear();
    size_t i = 0;
    for (;;) {
        while (i < text.size() && isSpace(text[i]))
            ++i;
        if (i == text.size())
            return true;
        const size_t nameStart = i;
        while (i < text.size() && text[i] != '=' && !isSpace(text[i]))
            ++i;
        const std::string_view name = text.substr(nameStart, i - nameStart);
        while (i < text.size() && isSpace(text[i]))
            ++i;
        if (name.empty() || i == text.size() || text[i] != '=')
            return false;
        ++i;
        while (i < text.size() && isSpace(text[i]))
            ++i;
        if (i == text.size() || (text[i] != '"' && text[i] != '\''))
            return false;
        const char quote = text[i];
        const size_t close = text.find(quote, i + 1);
        if (close == npos)
            return false;
        out.push_back({name, text.substr(i + 1, close - i - 1), text.substr(nameStart, close + 1 - nameStart)});
        i = close + 1;
    }
}

const Attribute* findAttribute(const std::vector<Attribute>& attributes, std::string_view name) {
    for (const Attribute& a : attributes)
        if (a.name == name)
            return &a;
    return nullptr;
}

void appendEscaped(std::string& out, std::string_view text) {
    for (char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        default:
            out += c;
        }
    }
}

std::string rangeText(int top, int left, int bottom, int right) {
    if (top == bottom && left == right)
        return cellRef(top, left);
    return cellRef(top, left) + ':' + cellRef(bottom, right);
}

} // namespace

bool editsRemoveFormula(const SheetLayout& layout, const SheetEdits& edits) {
    for (const SheetLayout::Formula& f : layout.formulas)
        if (edits.count(f.key))
            return true;
    return false;
}

SheetPatchStream::SheetPatchStream(Source source, const SheetEdits& edits, const SheetLayout& layout,
                                   QString part)
    : m_source(std::move(source)), m_part(std::move(part)), m_edits(edits), m_next(edits.begin()) {
    // Every cell element of the result: those read, and one for each edit.
    int top = layout.top, left = layout.left, bottom = layout.bottom, right = layout.right;
    for (const auto& [key, text] : edits) {
        const int row = keyRow(key), column = keyColumn(key);
        if (top == 0) {
            top = bottom = row;
            left = right = column;
        }
        top = std::min(top, row);
        bottom = std::max(bottom, row);
        left = std::min(left, column);
        right = std::max(right, column);
    }
    m_dimension = top ? rangeText(top, left, bottom, right) : std::string("A1");
    planHandovers(layout);
    m_buf.resize(kChunk);
}

// The cell that carries a shared formula's text and range may be overwritten. Its group then
// passes to the first remaining member, which gets the text, moved to its own place, and the
// range of the members that remain. Edits happen in sheet order, so a member edited later still
// counts for the range at the moment the group passes on, and may itself pass it on again.
void SheetPatchStream::planHandovers(const SheetLayout& layout) {
    std::set<uint32_t> groups;
    for (const SheetLayout::Formula& f : layout.formulas)
        if (f.master && f.group != SheetLayout::notShared && m_edits.count(f.key))
            groups.insert(f.group);
    if (groups.empty())
        return;
    struct Members {
        std::vector<CellKey> keys;
        std::set<CellKey> masters;
    };
    std::unordered_map<uint32_t, Members> byGroup;
    for (const SheetLayout::Formula& f : layout.formulas)
        if (groups.count(f.group)) {
            Members& m = byGroup[f.group];
            m.keys.push_back(f.key);
            if (f.master)
                m.masters.insert(f.key);
        }
    for (auto& [group, members] : byGroup) {
        const std::vector<CellKey>& keys = members.keys;
        const size_t n = keys.size();
        // The range of the members after each position: none of them is edited yet when the
        // edit at that position comes.
        struct Box {
            int top = INT_MAX, left = INT_MAX, bottom = 0, right = 0;
            void add(CellKey k) {
                top = std::min(top, keyRow(k));
                left = std::min(left, keyColumn(k));
                bottom = std::max(bottom, keyRow(k));
                right = std::max(right, keyColumn(k));
            }
            void add(const Box& b) {
                top = std::min(top, b.top);
                left = std::min(left, b.left);
                bottom = std::max(bottom, b.bottom);
                right = std::max(right, b.right);
            }
            bool empty() const { return bottom == 0; }
        };
        std::vector<Box> after(n + 1);
        for (size_t i = n; i-- > 0;) {
            after[i] = after[i + 1];
            after[i].add(keys[i]);
        }
        Box before; // members before the position that were not edited
        size_t firstBefore = n;
        for (size_t i = 0; i < n; ++i) {
            const CellKey k = keys[i];
            const bool edited = m_edits.count(k) != 0;
            if (edited && members.masters.count(k)) {
                Box remaining = before;
                remaining.add(after[i + 1]);
                const size_t front = firstBefore < n ? firstBefore : i + 1;
                // A member ahead of the master in the sheet is passed before the master's text
                // is known: the group then keeps no master, as it would in a sheet in any order.
                if (!remaining.empty() && front > i) {
                    m_handovers[keys[front]] = {group, k,
                                                rangeText(remaining.top, remaining.left, remaining.bottom,
                                                          remaining.right)};
                    members.masters.insert(keys[front]);
                    m_formulaTexts.emplace(k, std::string());
                }
            }
            if (!edited) {
                before.add(k);
                if (firstBefore == n)
                    firstBefore = i;
            }
        }
    }
}

void SheetPatchStream::fail(const QString& what) const {
    throw WorkbookError(QStringLiteral("%1, byte %2: %3").arg(m_part).arg(m_consumed + qint64(m_pos)).arg(what));
}

bool SheetPatchStream::fill() {
    flushCopy();
    if (m_eof)
        return false;
    if (m_pos > 0) {
        std::memmove(m_buf.data(), m_buf.data() + m_pos, m_end - m_pos);
        m_consumed += qint64(m_pos);
        m_end -= m_pos;
        m_pos = 0;
    }
    if (m_buf.size() - m_end < kChunk / 2)
        m_buf.resize(m_buf.size() * 2);
    const qint64 n = m_source(m_buf.data() + m_end, qint64(m_buf.size() - m_end));
    if (n <= 0) {
        m_eof = true;
        return false;
    }
    m_end += size_t(n);
    return true;
}

size_t SheetPatchStream::find(size_t from, std::string_view needle) {
    for (;;) {
        const char* begin = m_buf.data() + m_pos;
        const std::string_view have(begin, m_end - m_pos);
        const size_t at = have.find(needle, from);
        if (at != npos)
            return at;
        if (have.size() >= needle.size())
            from = std::max(from, have.size() - needle.size() + 1);
        if (have.size() > kTagLimit)
            fail(QStringLiteral("a construct longer than %1 bytes").arg(kTagLimit));
        if (!fill())
            return npos;
    }
}

size_t SheetPatchStream::tagEnd(size_t from) {
    char quote = 0;
    for (;;) {
        const char* p = m_buf.data() + m_pos;
        const size_t have = m_end - m_pos;
        for (size_t i = from; i < have; ++i) {
            const char c = p[i];
            if (quote) {
                if (c == quote)
                    quote = 0;
            } else if (c == '"' || c == '\'') {
                quote = c;
            } else if (c == '>') {
                return i;
            }
        }
        from = have;
        if (have > kTagLimit)
            fail(QStringLiteral("a tag longer than %1 bytes").arg(kTagLimit));
        if (!fill())
            fail(QStringLiteral("the sheet ends inside a tag"));
    }
}

void SheetPatchStream::copy(size_t from, size_t to) {
    if (m_copyFrom != npos && m_copyTo == from) {
        m_copyTo = to;
        return;
    }
    flushCopy();
    m_copyFrom = from;
    m_copyTo = to;
}

void SheetPatchStream::flushCopy() {
    if (m_copyFrom == npos)
        return;
    m_out.append(m_buf.data() + m_copyFrom, m_copyTo - m_copyFrom);
    m_copyFrom = npos;
}

void SheetPatchStream::content(std::string_view bytes) {
    const Frame top = m_frames.empty() ? Frame::Copy : m_frames.back();
    switch (top) {
    case Frame::Drop:
    case Frame::ReplacedCell:
        break;
    case Frame::CaptureFormula:
        m_capture.append(bytes);
        if (m_capture.size() > kTagLimit)
            fail(QStringLiteral("a formula longer than %1 bytes").arg(kTagLimit));
        break;
    default: {
        const size_t from = size_t(bytes.data() - m_buf.data());
        copy(from, from + bytes.size());
    }
    }
}

void SheetPatchStream::passThrough(size_t end) {
    content(std::string_view(m_buf.data() + m_pos, end - m_pos));
    m_pos = end;
}

qint64 SheetPatchStream::read(char* buffer, qint64 size) {
    const auto ready = [&]() {
        const size_t pending = m_copyFrom == npos ? 0 : m_copyTo - m_copyFrom;
        return m_out.size() - m_outPos + pending;
    };
    while (ready() < size_t(size) && step()) {
    }
    flushCopy();
    const size_t n = std::min(m_out.size() - m_outPos, size_t(size));
    std::memcpy(buffer, m_out.data() + m_outPos, n);
    m_outPos += n;
    if (m_outPos == m_out.size()) {
        m_out.clear();
        m_outPos = 0;
    } else if (m_outPos > kChunk) {
        m_out.erase(0, m_outPos);
        m_outPos = 0;
    }
    return qint64(n);
}

bool SheetPatchStream::step() {
    if (m_done)
        return false;
    if (m_pos == m_end && !fill()) {
        if (!m_sawRoot)
            fail(QStringLiteral("the sheet has no root element"));
        if (!m_frames.empty())
            fail(QStringLiteral("the sheet ends inside an element"));
        m_done = true;
        return false;
    }
    const char* p = m_buf.data() + m_pos;
    if (*p != '<') {
        if (!m_frames.empty() && m_frames.back() == Frame::CaptureFormula) {
            // The text is taken whole, so that no entity is cut in two.
            const size_t lt = find(0, "<");
            if (lt == npos)
                fail(QStringLiteral("the sheet ends inside an element"));
            passThrough(m_pos + lt);
            return true;
        }
        const void* lt = std::memchr(p, '<', m_end - m_pos);
        passThrough(lt ? size_t(static_cast<const char*>(lt) - m_buf.data()) : m_end);
        return true;
    }
    while (m_end - m_pos < 9 && fill()) {
    }
    const std::string_view head(m_buf.data() + m_pos, std::min<size_t>(9, m_end - m_pos));
    const auto construct = [&](size_t open, std::string_view close) {
        const size_t at = find(open, close);
        if (at == npos)
            fail(QStringLiteral("the sheet ends inside a comment or a processing instruction"));
        if (!m_frames.empty() && m_frames.back() == Frame::CaptureFormula && open == 9) {
            // a formula in a character data section: its text as it stands
            std::string literal(m_buf.data() + m_pos + 9, at - 9);
            m_pos += at + close.size();
            std::string escaped;
            appendEscaped(escaped, literal);
            m_capture += escaped;
            return;
        }
        passThrough(m_pos + at + close.size());
    };
    if (head.substr(0, 4) == "<!--")
        construct(4, "-->");
    else if (head.substr(0, 9) == "<![CDATA[")
        construct(9, "]]>");
    else if (head.substr(0, 2) == "<?")
        construct(2, "?>");
    else if (head.substr(0, 2) == "<!")
        fail(QStringLiteral("document type declarations are not allowed"));
    else {
        const size_t gt = tagEnd(1);
        Tag tag;
        tag.raw = std::string_view(m_buf.data() + m_pos, gt + 1);
        std::string_view inner = tag.raw.substr(1, gt - 1);
        if (!inner.empty() && inner.front() == '/') {
            tag.end = true;
            inner.remove_prefix(1);
            while (!inner.empty() && isSpace(inner.back()))
                inner.remove_suffix(1);
            tag.name = inner;
        } else {
            if (!inner.empty() && inner.back() == '/') {
                tag.selfClosing = true;
                inner.remove_suffix(1);
            }
            size_t n = 0;
            while (n < inner.size() && !isSpace(inner[n]))
                ++n;
            tag.name = inner.substr(0, n);
            tag.attributes = inner.substr(n);
        }
        if (tag.name.empty())
            fail(QStringLiteral("a tag without a name"));
        const size_t colon = tag.name.find(':');
        tag.local = colon == npos ? tag.name : tag.name.substr(colon + 1);
        if (tag.end)
            endTag(tag);
        else
            startTag(tag);
        m_pos += gt + 1;
    }
    return true;
}

void SheetPatchStream::open(Frame frame, const Tag& tag) {
    if (!tag.selfClosing)
        m_frames.push_back(frame);
}

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

void SheetPatchStream::emitHandoverFormula(const Tag& f, CellKey at) {
    static thread_local std::vector<Attribute> attributes;
    if (!parseAttributes(f.attributes, attributes))
        fail(QStringLiteral("a malformed formula"));
    const Handover& h = m_handovers.at(at);
    const std::string moved = shiftFormula(m_formulaTexts[h.from], keyRow(at) - keyRow(h.from),
                                           keyColumn(at) - keyColumn(h.from));
    flushCopy();
    m_out += '<';
    m_out += f.name;
    for (const Attribute& a : attributes)
        if (a.name != "ref") {
            m_out += ' ';
            m_out += a.raw;
        }
    m_out += " ref=\"" + h.ref + "\">";
    appendEscaped(m_out, moved);
    m_out += "</";
    m_out += f.name;
    m_out += '>';
}

} // namespace xlsx
