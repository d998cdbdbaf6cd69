#include "office/xlsxworkbook.h"

#include "office/celltext.h"
#include "office/csvworkbook.h"
#include "office/officeconvert.h"
#include "office/xlsxparts.h"
#include "office/xmlscan.h"
#include "office/zipfile.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

using namespace xlsx;

namespace {

using namespace numberformat;

enum CellKind : uint8_t { Number, Shared, Text, Boolean, Error, IsoDate };

struct Cell {
    uint32_t row;
    uint16_t column;
    CellKind kind;
    uint8_t dateKind;
    union {
        double number;
        uint32_t index;
        struct {
            uint32_t offset;
            uint32_t length;
        } text;
    };
};
static_assert(sizeof(Cell) == 16, "cells are kept compact");

struct SharedStrings {
    std::string pool;
    std::vector<uint32_t> ends;
    bool complete = false;

    size_t size() const { return ends.size(); }
    std::string_view at(size_t i) const {
        const uint32_t begin = i == 0 ? 0 : ends[i - 1];
        return std::string_view(pool).substr(begin, ends[i] - begin);
    }
};

// The cells of one sheet holding a value, in row and column order.
struct SheetCells {
    std::vector<Cell> cells;
    std::vector<std::pair<uint32_t, uint32_t>> rows; // row, index of its first cell
    std::string pool;                                // UTF-8 texts of Text, Error and IsoDate cells
    SheetLayout layout;
};

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

QString isoDateText(std::string_view iso, uint8_t dateKind) {
    std::string_view date, time;
    const size_t t = iso.find('T');
    if (t != std::string_view::npos) {
        date = iso.substr(0, t);
        time = iso.substr(t + 1);
    } else if (iso.find(':') != std::string_view::npos) {
        time = iso;
    } else {
        date = iso;
    }
    QString timeText;
    if (!time.empty()) {
        timeText = QString::fromLatin1(time.data(), qsizetype(std::min<size_t>(time.size(), 8)));
        if (timeText.size() == 5)
            timeText += QLatin1String(":00");
    }
    if (date.empty())
        return timeText;
    QString text = QString::fromLatin1(date.data(), qsizetype(date.size()));
    if (!timeText.isEmpty() && ((dateKind & HasTime) || timeText != QLatin1String("00:00:00")))
        text += u' ' + timeText;
    return text;
}

QString utf8(std::string_view s) {
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
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

bool parseNumber(std::string_view s, double& value) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\n' || s.front() == '\r'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\n' || s.back() == '\r'))
        s.remove_suffix(1);
    if (!s.empty() && s.front() == '+')
        s.remove_prefix(1);
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

// A shared string item that is one plain "<t>" element. content: the raw text after the item's
// start tag; used: how much of it the item took, its end tag included.
bool plainSharedString(std::string_view content, std::string& text, size_t& used) {
    if (content.size() < 3 || content[0] != '<' || content[1] != 't')
        return false;
    const size_t gt = content.find('>');
    if (gt == std::string_view::npos || (gt != 2 && content[2] != ' ') || content[gt - 1] == '/')
        return false;
    const size_t close = content.find('<', gt + 1);
    if (close == std::string_view::npos || content.substr(close, 9) != "</t></si>")
        return false;
    text.clear();
    used = close + 9;
    return appendXmlText(content.substr(gt + 1, close - gt - 1), text);
}

struct SheetInfo {
    QString name;
    QString part; // empty when the workbook names no part for it
    bool chart = false;
};

class XlsxWorkbook final : public Workbook {
public:
    XlsxWorkbook(const QString& path, const WorkbookOpenOptions& options);

    QString path() const override { return m_path; }
    int sheetCount() const override { return int(m_sheets.size()); }
    void selectSheet(int n) override;
    int selectedSheet() const override { return m_selected; }
    int usedRows() const override;
    int usedColumns() const override;
    QString cellText(int row, int column) const override;
    void setCellText(int row, int column, const QString& text) override;
    void saveAs(const QString& path) override;

private:
    void readStyles(const QString& part);
    SheetCells readSheet(int n) const;
    void loadSharedStrings(int64_t lastNeeded);
    QString textOf(const Cell& cell, const SheetCells& sheet) const;
    const Cell* findCell(int row, int column) const;
    void computeUsedRange() const;

    QString m_path;
    WorkbookOpenOptions m_options;
    ZipArchive m_zip;
    QString m_workbookPart;
    std::vector<SheetInfo> m_sheets;
    bool m_date1904 = false;
    std::vector<uint8_t> m_styleDateKind; // by cell style index
    QString m_sharedPart;
    SharedStrings m_shared;
    bool m_sharedRead = false;

    int m_selected = 0;
    SheetCells m_cells;
    mutable size_t m_cursor = 0;
    std::map<int, SheetEdits> m_edits; // by sheet number
    std::map<int, SheetLayout> m_layouts; // by sheet number, for the sheets read
    mutable bool m_rangeDirty = true;
    mutable int m_usedRows = 0;
    mutable int m_usedColumns = 0;
};

XlsxWorkbook::XlsxWorkbook(const QString& path, const WorkbookOpenOptions& options)
    : m_path(path), m_options(options), m_zip(path) {
    m_workbookPart = QStringLiteral("xl/workbook.xml");
    if (m_zip.indexOf(QStringLiteral("_rels/.rels")) >= 0) {
        pugi::xml_document rels;
        loadXml(rels, m_zip, QStringLiteral("_rels/.rels"), 16 << 20);
        for (pugi::xml_node r : rels.document_element().children()) {
            if (isNamed(r, "Relationship") &&
                relationshipIs(QString::fromUtf8(r.attribute("Type").value()), "officeDocument")) {
                m_workbookPart = resolveTarget(QString(), QString::fromUtf8(r.attribute("Target").value()));
                break;
            }
        }
    }
    if (m_zip.indexOf(m_workbookPart) < 0)
        throw WorkbookError(QStringLiteral("the package holds no workbook (%1 is missing): it may be a "
                                           "document of another kind")
                                .arg(m_workbookPart));
    pugi::xml_document book;
    loadXml(book, m_zip, m_workbookPart, 256 << 20);
    const pugi::xml_node root = book.document_element();
    if (!isNamed(root, "workbook"))
        throw WorkbookError(QStringLiteral("%1 is not a workbook but <%2>").arg(m_workbookPart, root.name()));
    if (pugi::xml_node pr = child(root, "workbookPr")) {
        const std::string_view v = attribute(pr, "date1904").value();
        m_date1904 = v == "1" || v == "true";
    }

    // Relationships of the workbook: Id -> (type, part)
    QHash<QString, std::pair<QString, QString>> rels;
    const QString relsPart = relationshipsPart(m_workbookPart);
    if (m_zip.indexOf(relsPart) >= 0) {
        pugi::xml_document doc;
        loadXml(doc, m_zip, relsPart, 64 << 20);
        for (pugi::xml_node r : doc.document_element().children()) {
            if (!isNamed(r, "Relationship") ||
                std::string_view(r.attribute("TargetMode").value()) == "External")
                continue;
            rels.insert(QString::fromUtf8(r.attribute("Id").value()),
                        {QString::fromUtf8(r.attribute("Type").value()),
                         resolveTarget(m_workbookPart, QString::fromUtf8(r.attribute("Target").value()))});
        }
    }
    QString stylesPart;
    for (auto it = rels.cbegin(); it != rels.cend(); ++it) {
        if (relationshipIs(it->first, "styles"))
            stylesPart = it->second;
        else if (relationshipIs(it->first, "sharedStrings"))
            m_sharedPart = it->second;
    }

    const pugi::xml_node sheets = child(root, "sheets");
    for (pugi::xml_node s : sheets.children()) {
        if (!isNamed(s, "sheet"))
            continue;
        SheetInfo info;
        info.name = QString::fromUtf8(s.attribute("name").value());
        // The relationship id is the "id" attribute in the relationships namespace, whatever
        // prefix this file gives that namespace.
        for (pugi::xml_attribute a = s.first_attribute(); a; a = a.next_attribute()) {
            const std::string_view qname(a.name());
            const size_t colon = qname.find(':');
            if (colon == std::string_view::npos || qname.substr(colon + 1) != "id")
                continue;
            const std::string decl = "xmlns:" + std::string(qname.substr(0, colon));
            QString ns;
            for (pugi::xml_node n = s; n && ns.isEmpty(); n = n.parent())
                ns = QString::fromUtf8(n.attribute(decl.c_str()).value());
            if (!ns.endsWith(QLatin1String("/relationships")))
                continue;
            const auto rel = rels.value(QString::fromUtf8(a.value()));
            info.part = rel.second;
            info.chart = relationshipIs(rel.first, "chartsheet");
        }
        m_sheets.push_back(info);
    }
    if (!stylesPart.isEmpty() && m_zip.indexOf(stylesPart) >= 0)
        readStyles(stylesPart);
}

void XlsxWorkbook::readStyles(const QString& part) {
    pugi::xml_document doc;
    loadXml(doc, m_zip, part, 256 << 20);
    const pugi::xml_node root = doc.document_element();
    std::map<int, uint8_t> custom;
    for (pugi::xml_node f : child(root, "numFmts").children())
        if (isNamed(f, "numFmt"))
            custom[attribute(f, "numFmtId").as_int(-1)] = customDateKind(attribute(f, "formatCode").value());
    for (pugi::xml_node xf : child(root, "cellXfs").children()) {
        if (!isNamed(xf, "xf"))
            continue;
        const int id = attribute(xf, "numFmtId").as_int(0);
        const auto it = custom.find(id);
        m_styleDateKind.push_back(it != custom.end() ? it->second : builtinDateKind(id));
    }
}

void XlsxWorkbook::loadSharedStrings(int64_t lastNeeded) {
    m_shared = SharedStrings();
    m_sharedRead = true;
    if (m_sharedPart.isEmpty() || m_zip.indexOf(m_sharedPart) < 0) {
        m_shared.complete = true;
        return;
    }
    ZipEntryStream stream(m_zip, m_sharedPart);
    XmlScanner xml([&](char* b, qint64 n) { return stream.read(b, n); }, m_sharedPart);
    bool inItem = false, inText = false;
    int phonetic = 0;
    std::string item;
    // False once the items needed are there.
    auto addItem = [&]() {
        inItem = false;
        unescapeOoxml(item);
        m_shared.pool += item;
        if (m_shared.pool.size() > UINT32_MAX)
            xml.fail(QStringLiteral("shared strings beyond 4 GiB"));
        m_shared.ends.push_back(uint32_t(m_shared.pool.size()));
        // a glance at the top of a sheet needs no more
        return lastNeeded < 0 || int64_t(m_shared.size()) <= lastNeeded;
    };
    for (;;) {
        const auto ev = xml.next();
        if (ev == XmlScanner::End)
            break;
        if (ev == XmlScanner::StartElement) {
            const std::string_view name = xml.name();
            if (name == "si") {
                inItem = true;
                item.clear();
                // Most items are one plain text: taken in one step.
                size_t used = 0;
                if (plainSharedString(xml.peekAhead(), item, used)) {
                    xml.skipAhead(used);
                    if (!addItem())
                        return;
                }
            } else if (name == "rPh") {
                ++phonetic;
            } else if (name == "t" && inItem && phonetic == 0) {
                inText = true;
            }
        } else if (ev == XmlScanner::EndElement) {
            const std::string_view name = xml.name();
            if (name == "t") {
                inText = false;
            } else if (name == "rPh") {
                --phonetic;
            } else if (name == "si" && inItem) {
                if (!addItem())
                    return;
            }
        } else if (inText) {
            xml.appendText(item);
        }
    }
    m_shared.complete = true;
}

SheetCells XlsxWorkbook::readSheet(int n) const {
    const SheetInfo& info = m_sheets[size_t(n - 1)];
    SheetCells out;
    if (info.chart)
        return out;
    if (info.part.isEmpty())
        throw WorkbookError(QStringLiteral("its part is not named in the workbook's relationships"));
    ZipPrefetchStream stream(m_zip, info.part);
    XmlScanner xml([&](char* b, qint64 size) { return stream.read(b, size); }, info.part);
    const uint32_t rowLimit = m_options.rowLimit > 0 ? uint32_t(m_options.rowLimit) : UINT32_MAX;

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
    if (!m_options.columns.empty()) {
        wanted.assign(size_t(maxColumns) + 1, false);
        for (int c : m_options.columns)
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
            if (!parseNumber(value, cell.number))
                throw WorkbookError(place() +
                                    QStringLiteral(": \"%1\" is not a number").arg(utf8(value).left(40)));
            cell.dateKind = style < m_styleDateKind.size() ? m_styleDateKind[style] : uint8_t(NotDate);
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
            cell.dateKind = style < m_styleDateKind.size() ? m_styleDateKind[style] : uint8_t(NotDate);
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

void XlsxWorkbook::selectSheet(int n) {
    if (n < 1 || n > sheetCount())
        throw WorkbookError(
            QStringLiteral("sheet %1 does not exist: the workbook has %2 sheet(s)").arg(n).arg(sheetCount()));
    try {
        SheetCells cells = readSheet(n);
        int64_t lastShared = -1;
        for (const Cell& c : cells.cells)
            if (c.kind == Shared)
                lastShared = std::max<int64_t>(lastShared, c.index);
        if (lastShared >= 0 && !m_shared.complete &&
            (!m_sharedRead || int64_t(m_shared.size()) <= lastShared))
            loadSharedStrings(m_options.rowLimit > 0 ? lastShared : -1);
        for (const Cell& c : cells.cells)
            if (c.kind == Shared && c.index >= m_shared.size())
                throw WorkbookError(QStringLiteral("cell %1: shared string index %2 out of range")
                                        .arg(cellName(int(c.row), c.column))
                                        .arg(c.index));
        m_layouts[n] = std::move(cells.layout);
        m_cells = std::move(cells);
        m_cursor = 0;
    } catch (const WorkbookError& e) {
        m_selected = 0;
        m_cells = SheetCells();
        m_cursor = 0;
        m_rangeDirty = true;
        throw WorkbookError(QStringLiteral("sheet %1, %2").arg(n).arg(e.cause()));
    }
    m_selected = n;
    m_rangeDirty = true;
}

QString XlsxWorkbook::textOf(const Cell& cell, const SheetCells& sheet) const {
    switch (cell.kind) {
    case Number:
        if (cell.dateKind & Elapsed) {
            QString text = elapsedTimeText(cell.number);
            if (!text.isEmpty())
                return text;
        } else if (cell.dateKind != NotDate) {
            QString text =
                serialDateText(cell.number, m_date1904, cell.dateKind & HasDate, cell.dateKind & HasTime);
            if (!text.isEmpty())
                return text;
        }
        return numberText(cell.number);
    case Shared:
        return utf8(m_shared.at(cell.index));
    case Text:
    case Error:
        return utf8(std::string_view(sheet.pool).substr(cell.text.offset, cell.text.length));
    case Boolean:
        return cell.number != 0 ? QStringLiteral("TRUE") : QStringLiteral("FALSE");
    case IsoDate:
        return isoDateText(std::string_view(sheet.pool).substr(cell.text.offset, cell.text.length),
                           cell.dateKind);
    }
    return {};
}

const Cell* XlsxWorkbook::findCell(int row, int column) const {
    // Callers mostly walk a sheet cell by cell: try the neighbour of the last cell found first.
    const auto& cells = m_cells.cells;
    const uint64_t wanted = (uint64_t(row) << 16) | uint64_t(column);
    auto keyAt = [&](size_t i) { return (uint64_t(cells[i].row) << 16) | cells[i].column; };
    if (m_cursor < cells.size()) {
        const uint64_t here = keyAt(m_cursor);
        if (here == wanted)
            return &cells[m_cursor];
        if (here < wanted) {
            if (m_cursor + 1 == cells.size())
                return nullptr;
            const uint64_t next = keyAt(m_cursor + 1);
            if (next == wanted)
                return &cells[++m_cursor];
            if (next > wanted)
                return nullptr; // between two cells that hold values
        }
    }
    const auto& rows = m_cells.rows;
    const auto it =
        std::lower_bound(rows.begin(), rows.end(), uint32_t(row),
                         [](const std::pair<uint32_t, uint32_t>& r, uint32_t v) { return r.first < v; });
    if (it == rows.end() || it->first != uint32_t(row))
        return nullptr;
    const auto first = m_cells.cells.begin() + it->second;
    const auto last = (it + 1 == rows.end()) ? m_cells.cells.end() : m_cells.cells.begin() + (it + 1)->second;
    const auto cell = std::lower_bound(first, last, uint32_t(column),
                                       [](const Cell& c, uint32_t v) { return c.column < v; });
    if (cell == last || cell->column != uint32_t(column))
        return nullptr;
    m_cursor = size_t(cell - cells.begin());
    return &*cell;
}

void XlsxWorkbook::computeUsedRange() const {
    m_rangeDirty = false;
    m_usedRows = m_usedColumns = 0;
    if (m_selected == 0)
        return;
    const auto edits = m_edits.find(m_selected);
    const SheetEdits* changed = edits == m_edits.end() ? nullptr : &edits->second;
    for (const Cell& c : m_cells.cells) {
        if (c.kind == Shared && m_shared.at(c.index).empty())
            continue;
        if (changed && changed->count(cellKey(int(c.row), c.column)))
            continue;
        m_usedRows = std::max(m_usedRows, int(c.row));
        m_usedColumns = std::max(m_usedColumns, int(c.column));
    }
    if (changed)
        for (const auto& [key, text] : *changed)
            if (!text.isEmpty()) {
                m_usedRows = std::max(m_usedRows, keyRow(key));
                m_usedColumns = std::max(m_usedColumns, keyColumn(key));
            }
}

int XlsxWorkbook::usedRows() const {
    if (m_rangeDirty)
        computeUsedRange();
    return m_usedRows;
}

int XlsxWorkbook::usedColumns() const {
    if (m_rangeDirty)
        computeUsedRange();
    return m_usedColumns;
}

QString XlsxWorkbook::cellText(int row, int column) const {
    if (m_selected == 0 || row < 1 || column < 1 || row > maxRows || column > maxColumns)
        return {};
    if (!m_edits.empty()) {
        const auto edits = m_edits.find(m_selected);
        if (edits != m_edits.end()) {
            const auto it = edits->second.find(cellKey(row, column));
            if (it != edits->second.end())
                return it->second;
        }
    }
    const Cell* cell = findCell(row, column);
    return cell ? textOf(*cell, m_cells) : QString();
}

void XlsxWorkbook::setCellText(int row, int column, const QString& text) {
    if (m_selected == 0)
        throw WorkbookError(QStringLiteral("no sheet is selected"));
    if (row < 1 || row > maxRows || column < 1 || column > maxColumns)
        throw WorkbookError(QStringLiteral("sheet %1: row %2, column %3 is outside the sheet")
                                .arg(m_selected)
                                .arg(row)
                                .arg(column));
    if (m_sheets[size_t(m_selected - 1)].chart)
        throw WorkbookError(QStringLiteral("sheet %1 is a chart sheet: it has no cells").arg(m_selected));
    m_edits[m_selected].set(cellKey(row, column), fitToCell(text));
    if (text.isEmpty()) {
        m_rangeDirty = true;
    } else if (!m_rangeDirty) {
        m_usedRows = std::max(m_usedRows, row);
        m_usedColumns = std::max(m_usedColumns, column);
    }
}

void XlsxWorkbook::saveAs(const QString& path) {
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix == QLatin1String("csv")) {
        // Text has one sheet: the selected one, as it reads now.
        QList<QStringList> rows;
        const int columns = usedColumns();
        for (int r = 1; r <= usedRows(); ++r) {
            QStringList& row = rows.emplace_back();
            for (int c = 1; c <= columns; ++c)
                row << cellText(r, c);
        }
        writeCsv(path, rows, CsvFormat());
        return;
    }
    PackagePatch patch;
    patch.workbookPart = m_workbookPart;
    patch.macroEnabled = suffix == QLatin1String("xlsm");
    for (const auto& [number, edits] : m_edits)
        if (!edits.empty())
            patch.sheets.push_back({number, m_sheets[size_t(number - 1)].part, &edits, &m_layouts.at(number)});
    if (suffix == QLatin1String("xlsx") || suffix == QLatin1String("xlsm")) {
        writeAtomically(path, u'.' + suffix,
                        [&](const QString& temp) { writePatchedPackage(m_zip, patch, temp, path); });
    } else if (suffix == QLatin1String("xls")) {
        // The converter writes path atomically itself; the package it reads is a temporary one
        // beside the target, removed whatever happens.
        const QString temp = temporaryPathBeside(path, QStringLiteral(".xlsx"));
        try {
            writePatchedPackage(m_zip, patch, temp, path);
            convertWithOffice(temp, path);
        } catch (...) {
            QFile::remove(temp);
            throw;
        }
        QFile::remove(temp);
    } else {
        throw WorkbookError(
            QStringLiteral("saving as \"%1\" is not supported: choose .xlsx, .xlsm, .xls or .csv")
                .arg(QFileInfo(path).fileName()));
    }
}

} // namespace

std::unique_ptr<Workbook> openXlsxWorkbook(const QString& path, const WorkbookOpenOptions& options) {
    return std::make_unique<XlsxWorkbook>(path, options);
}
