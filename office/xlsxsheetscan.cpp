#include "office/xlsxsheetscan.h"

#include "office/celltext.h"
#include "office/xmlscan.h"
#include "office/zipfile.h"

#include <algorithm>
#include <charconv>
#include <cstring>

namespace xlsx {

namespace {

using namespace numberformat;

// An attribute of a tag's text as the fast paths see it (name="value", no prefixes); found tells
// whether it is there.
std::string_view tagAttribute(std::string_view tag, std::string_view name, bool& found) {
    found = false;
    size_t at = 0;
    while ((at = tag.find(name, at)) != std::string_view::npos) {
        const bool starts = at > 0 && (tag[at - 1] == ' ' || tag[at - 1] == '\t' || tag[at - 1] == '\n' ||
                                       tag[at - 1] == '\r');
        const size_t eq = at + name.size();
        if (starts && eq + 1 < tag.size() && tag[eq] == '=' && (tag[eq + 1] == '"' || tag[eq + 1] == '\'')) {
            const size_t close = tag.find(tag[eq + 1], eq + 2);
            if (close == std::string_view::npos)
                return {};
            found = true;
            return tag.substr(eq + 2, close - eq - 2);
        }
        at = eq;
    }
    return {};
}

// Notes the formula of a cell whose raw content starts with it.
void noteFormulaIn(std::string_view content, SheetLayout& layout, int row, int column) {
    if (content.size() < 3 || content[0] != '<' || content[1] != 'f' ||
        (content[2] != ' ' && content[2] != '>' && content[2] != '/'))
        return;
    const size_t gt = content.find('>');
    const std::string_view tag = content.substr(2, gt == std::string_view::npos ? 0 : gt - 2);
    bool found = false;
    const std::string_view type = tagAttribute(tag, "t", found);
    const std::string_view group = tagAttribute(tag, "si", found);
    tagAttribute(tag, "ref", found);
    layout.noteFormula(row, column, type, group, found);
}

QString latin(std::string_view s) {
    return QString::fromLatin1(s.data(), qsizetype(s.size()));
}

bool parseUnsigned(std::string_view s, uint64_t& value) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\n' || s.front() == '\r'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\n' || s.back() == '\r'))
        s.remove_suffix(1);
    const auto res = std::from_chars(s.data(), s.data() + s.size(), value);
    return !s.empty() && res.ec == std::errc() && res.ptr == s.data() + s.size();
}

// A cell's content when it is only "<v>value</v>", maybe after a formula, or one plain inline
// text; false for anything else (rich text, prefixes, extensions), which the caller reads element
// by element.
bool simpleCellValue(std::string_view content, std::string& value, bool& hasValue) {
    size_t v = 0;
    auto at = [&](size_t i, char c) { return i < content.size() && content[i] == c; };
    if (at(0, '<') && at(1, 'f')) {
        v = content.find("<v>");
        if (v == std::string_view::npos) {
            // a formula without a value
            if (std::count(content.begin(), content.end(), '<') > 2)
                return false;
            hasValue = false;
            return true;
        }
        if (std::count(content.begin(), content.begin() + v, '<') > 2)
            return false;
    } else if (at(0, '<') && at(1, 'i') && at(2, 's') && at(3, '>') && at(4, '<') && at(5, 't')) {
        // an inline string of one plain text: "<is><t>text</t></is>"
        const size_t gt = content.find('>', 5);
        if (gt == std::string_view::npos || (gt != 6 && content[6] != ' ') || content[gt - 1] == '/')
            return false;
        const size_t close = content.find('<', gt + 1);
        if (close == std::string_view::npos || content.substr(close) != "</t></is>")
            return false;
        value.clear();
        hasValue = true;
        return appendXmlText(content.substr(gt + 1, close - gt - 1), value);
    } else if (content.empty() || content.find('<') == std::string_view::npos) {
        hasValue = false;
        return true;
    }
    if (!(at(v, '<') && at(v + 1, 'v') && at(v + 2, '>')))
        return false;
    const size_t close = content.find('<', v + 3);
    if (close == std::string_view::npos || !(at(close + 1, '/') && at(close + 2, 'v') && at(close + 3, '>')))
        return false;
    for (char c : content.substr(close + 4))
        if (c != ' ' && c != '\t' && c != '\r' && c != '\n')
            return false;
    value.clear();
    if (!appendXmlText(content.substr(v + 3, close - v - 3), value))
        return false;
    hasValue = true;
    return true;
}

} // namespace

SheetCells scanSheet(const ZipArchive& zip, const QString& part, const WorkbookOpenOptions& options,
                     const std::vector<uint8_t>& styleDateKind) {
    SheetCells out;
    ZipPrefetchStream stream(zip, part);
    XmlScanner xml([&](char* b, qint64 size) { return stream.read(b, size); }, part);
    const uint32_t rowLimit = options.rowLimit > 0 ? uint32_t(options.rowLimit) : UINT32_MAX;

    bool inData = false, inCell = false, inValue = false, inInline = false, inText = false;
    int phonetic = 0;
    uint32_t row = 0;
    uint32_t column = 0;
    std::string type;
    uint32_t style = 0;
    std::string value;
    bool hasValue = false;
    bool sorted = true;
    uint64_t lastKey = 0;

    auto place = [&]() { return QStringLiteral("cell %1").arg(cellName(int(row), int(column))); };
    auto reference = [&](std::string_view ref, bool wholeCell) {
        int r = 0, c = 0;
        const RefStatus status = parseCellRef(ref, r, c);
        if (status != RefStatus::Ok)
            throw WorkbookError(
                QStringLiteral("cell %1: %2").arg(latin(ref.substr(0, 24)), refProblem(status)));
        if (!wholeCell)
            return;
        row = uint32_t(r);
        column = uint32_t(c);
    };
    auto pushText = [&](CellKind kind, const std::string& text) {
        Cell cell{};
        cell.kind = kind;
        cell.text.offset = uint32_t(out.pool.size());
        cell.text.length = uint32_t(text.size());
        out.pool += text;
        if (out.pool.size() > UINT32_MAX)
            xml.fail(QStringLiteral("cell texts beyond 4 GiB"));
        return cell;
    };

    // A cell whose text would be empty is not kept, nor one of a column the caller does not want.
    std::vector<bool> wanted;
    if (!options.columns.empty()) {
        wanted.assign(size_t(maxColumns) + 1, false);
        for (int c : options.columns)
            if (c >= 1 && c <= maxColumns)
                wanted[size_t(c)] = true;
    }
    auto finishCell = [&]() {
        if (!hasValue || (!wanted.empty() && (column > uint32_t(maxColumns) || !wanted[column])))
            return;
        Cell cell{};
        if (type.empty() || type == "n") {
            if (value.empty())
                return; // a formula whose value was never computed
            cell.kind = Number;
            if (!parseStoredNumber(value, cell.number))
                throw WorkbookError(place() +
                                    QStringLiteral(": \"%1\" is not a number").arg(utf8(value).left(40)));
            cell.dateKind = style < styleDateKind.size() ? styleDateKind[style] : uint8_t(NotDate);
        } else if (type == "s") {
            uint64_t index = 0;
            if (!parseUnsigned(value, index) || index >= UINT32_MAX)
                throw WorkbookError(
                    place() +
                    QStringLiteral(": \"%1\" is not a shared string index").arg(utf8(value).left(40)));
            cell.kind = Shared;
            cell.index = uint32_t(index);
        } else if (type == "inlineStr" || type == "str") {
            unescapeOoxml(value);
            if (value.empty())
                return;
            cell = pushText(Text, value);
        } else if (type == "b") {
            cell.kind = Boolean;
            cell.number = (value == "1" || value == "true") ? 1 : 0;
        } else if (type == "e") {
            if (value.empty())
                return;
            cell = pushText(Error, value);
        } else if (type == "d") {
            if (value.empty())
                return;
            cell = pushText(IsoDate, value);
            cell.dateKind = style < styleDateKind.size() ? styleDateKind[style] : uint8_t(NotDate);
        } else {
            throw WorkbookError(place() +
                                QStringLiteral(": unknown cell type \"%1\"").arg(latin(type.substr(0, 24))));
        }
        cell.row = row;
        cell.column = uint16_t(column);
        const uint64_t key = (uint64_t(row) << 16) | column;
        if (key <= lastKey)
            sorted = false;
        lastKey = key;
        out.cells.push_back(cell);
    };

    enum class RowScan { Done, Fallback, Stop };
    // content: the raw text after a row's start tag; used: how much of it the row took, its end
    // tag included.
    auto scanRow = [&](std::string_view content, size_t& used) {
        const size_t cellsBefore = out.cells.size();
        const size_t poolBefore = out.pool.size();
        const bool sortedBefore = sorted;
        const uint64_t lastKeyBefore = lastKey;
        const uint32_t rowNumber = row;
        const SheetLayout::Mark layoutBefore = out.layout.mark();
        auto fallback = [&]() {
            out.layout.rewind(layoutBefore);
            out.cells.resize(cellsBefore);
            out.pool.resize(poolBefore);
            sorted = sortedBefore;
            lastKey = lastKeyBefore;
            row = rowNumber;
            column = 0;
            return RowScan::Fallback;
        };
        size_t i = 0;
        for (;;) {
            while (i < content.size() &&
                   (content[i] == ' ' || content[i] == '\n' || content[i] == '\r' || content[i] == '\t'))
                ++i;
            if (content.substr(i, 6) == "</row>") {
                used = i + 6;
                return RowScan::Done;
            }
            if (content.size() - i < 3 || content[i] != '<' || content[i + 1] != 'c' ||
                (content[i + 2] != ' ' && content[i + 2] != '>' && content[i + 2] != '/'))
                return fallback();
            const size_t gt = content.find('>', i);
            if (gt == std::string_view::npos)
                return fallback();
            std::string_view tag = content.substr(i + 2, gt - i - 2);
            const bool selfClosing = !tag.empty() && tag.back() == '/';
            if (selfClosing)
                tag.remove_suffix(1);
            std::string_view r, t, st;
            bool haveR = false;
            size_t a = 0;
            for (;;) {
                while (a < tag.size() && tag[a] == ' ')
                    ++a;
                if (a == tag.size())
                    break;
                const size_t eq = tag.find('=', a);
                if (eq == std::string_view::npos || eq + 1 >= tag.size() || tag[eq + 1] != '"')
                    return fallback();
                const size_t close = tag.find('"', eq + 2);
                if (close == std::string_view::npos)
                    return fallback();
                const std::string_view attrName = tag.substr(a, eq - a);
                const std::string_view attrValue = tag.substr(eq + 2, close - eq - 2);
                const char single = attrName.size() == 1 ? attrName[0] : '\0';
                if (single == 'r') {
                    r = attrValue;
                    haveR = true;
                } else if (single == 't') {
                    t = attrValue;
                } else if (single == 's') {
                    st = attrValue;
                } else if (attrName.find(':') != std::string_view::npos ||
                           attrName.find('&') != std::string_view::npos) {
                    return fallback();
                }
                a = close + 1;
            }
            if (haveR) {
                reference(r, true);
            } else if (++column > uint32_t(maxColumns)) {
                return fallback();
            }
            if (row > rowLimit)
                return RowScan::Stop;
            out.layout.noteCell(int(row), int(column));
            type.assign(t);
            uint64_t styleNumber = 0;
            style = parseUnsigned(st, styleNumber) && styleNumber < UINT32_MAX ? uint32_t(styleNumber) : 0;
            if (selfClosing) {
                i = gt + 1;
                continue;
            }
            const size_t end = content.find("</c>", gt + 1);
            if (end == std::string_view::npos ||
                !simpleCellValue(content.substr(gt + 1, end - gt - 1), value, hasValue))
                return fallback();
            noteFormulaIn(content.substr(gt + 1, end - gt - 1), out.layout, int(row), int(column));
            finishCell();
            i = end + 4;
        }
    };

    for (;;) {
        const auto ev = xml.next();
        if (ev == XmlScanner::End) {
            out.layout.complete = true;
            break;
        }
        if (ev == XmlScanner::Text) {
            if (inValue || inText)
                xml.appendText(value);
            continue;
        }
        const std::string_view name = xml.name();
        if (ev == XmlScanner::StartElement) {
            if (!inData) {
                inData = name == "sheetData";
                continue;
            }
            if (name == "row") {
                bool found = false;
                const std::string_view r = xml.attribute("r", &found);
                uint64_t number = row + 1;
                if (found && !parseUnsigned(r, number))
                    throw WorkbookError(
                        QStringLiteral("row \"%1\": not a row number").arg(latin(r.substr(0, 24))));
                if (number == 0 || number > uint64_t(maxRows))
                    throw WorkbookError(QStringLiteral("row %1: row beyond %2").arg(number).arg(maxRows));
                row = uint32_t(number);
                column = 0;
                if (row > rowLimit)
                    break;
                out.layout.noteRow(int(row));
                // A row of plain cells is taken in one step; anything unusual in it (inline
                // strings, prefixes, extensions) and it is read element by element instead.
                size_t used = 0;
                const RowScan scan = scanRow(xml.peekAhead(), used);
                if (scan == RowScan::Stop)
                    break;
                if (scan == RowScan::Done) {
                    xml.skipAhead(used);
                    column = 0;
                }
            } else if (name == "c") {
                bool found = false;
                const std::string_view r = xml.attribute("r", &found);
                if (found) {
                    reference(r, true);
                } else {
                    if (row == 0)
                        row = 1;
                    if (++column > uint32_t(maxColumns))
                        throw WorkbookError(QStringLiteral("row %1: column beyond XFD").arg(row));
                }
                if (row > rowLimit)
                    break;
                out.layout.noteCell(int(row), int(column));
                inCell = true;
                hasValue = false;
                value.clear();
                type.assign(xml.attribute("t"));
                uint64_t s = 0;
                style = parseUnsigned(xml.attribute("s"), s) && s < UINT32_MAX ? uint32_t(s) : 0;
                // Most cells are a value, maybe after a formula: taken in one step.
                std::string_view content;
                if (xml.peekContent(content) && simpleCellValue(content, value, hasValue)) {
                    noteFormulaIn(content, out.layout, int(row), int(column));
                    xml.skipPeeked();
                    inCell = false;
                    finishCell();
                }
            } else if (inCell && name == "f") {
                bool hasRange = false;
                xml.attribute("ref", &hasRange);
                out.layout.noteFormula(int(row), int(column), xml.attribute("t"), xml.attribute("si"), hasRange);
            } else if (inCell && name == "v") {
                inValue = true;
                hasValue = true;
            } else if (inCell && name == "is") {
                inInline = true;
                hasValue = true;
            } else if (inInline && name == "rPh") {
                ++phonetic;
            } else if (inInline && name == "t" && phonetic == 0) {
                inText = true;
            }
            continue;
        }
        // end of an element
        if (!inData)
            continue;
        if (name == "sheetData") {
            out.layout.complete = true;
            break; // the rest of the sheet holds no values
        }
        if (name == "v") {
            inValue = false;
        } else if (name == "t") {
            inText = false;
        } else if (name == "rPh") {
            --phonetic;
        } else if (name == "is") {
            inInline = false;
        } else if (name == "c" && inCell) {
            inCell = false;
            finishCell();
        }
    }

    if (!sorted) {
        std::stable_sort(out.cells.begin(), out.cells.end(), [](const Cell& a, const Cell& b) {
            return a.row != b.row ? a.row < b.row : a.column < b.column;
        });
        // a cell given twice: the later one wins
        std::vector<Cell> unique;
        unique.reserve(out.cells.size());
        for (const Cell& c : out.cells) {
            if (!unique.empty() && unique.back().row == c.row && unique.back().column == c.column)
                unique.back() = c;
            else
                unique.push_back(c);
        }
        out.cells.swap(unique);
    }
    out.cells.shrink_to_fit();
    for (size_t i = 0; i < out.cells.size(); ++i)
        if (i == 0 || out.cells[i].row != out.cells[i - 1].row)
            out.rows.emplace_back(out.cells[i].row, uint32_t(i));
    return out;
}

} // namespace xlsx
