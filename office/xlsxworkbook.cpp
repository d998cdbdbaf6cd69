#include "office/xlsxworkbook.h"

#include "office/celltext.h"
#include "office/csvworkbook.h"
#include "office/officeconvert.h"
#include "office/xlsxparts.h"
#include "office/xlsxsharedstrings.h"
#include "office/xlsxsheetscan.h"
#include "office/zipfile.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

using namespace xlsx;

namespace {

using namespace numberformat;

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
    readSharedStrings(m_zip, m_sharedPart, lastNeeded, m_shared);
}

SheetCells XlsxWorkbook::readSheet(int n) const {
    const SheetInfo& info = m_sheets[size_t(n - 1)];
    if (info.chart)
        return SheetCells();
    if (info.part.isEmpty())
        throw WorkbookError(QStringLiteral("its part is not named in the workbook's relationships"));
    return scanSheet(m_zip, info.part, m_options, m_styleDateKind);
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
