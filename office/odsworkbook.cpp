#include "office/odsworkbook.h"

#include "office/celltext.h"
#include "office/odsparts.h"
#include "office/odspatch.h"
#include "office/valueworkbook.h"
#include "office/xlsxparts.h"
#include "office/xmlscan.h"
#include "office/zipfile.h"

#include <QFile>
#include <QFileInfo>

#include <charconv>
#include <memory>
#include <string>
#include <vector>

using namespace ods;

namespace {

const QString contentPart = QStringLiteral("content.xml");

QString utf8(std::string_view s) {
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}

// A cell's content when it is one paragraph of plain text ("<text:p>abc</text:p>"), or nothing.
bool plainParagraph(std::string_view content, std::string& text) {
    size_t i = 0;
    while (i < content.size() && (content[i] == ' ' || content[i] == '\n' || content[i] == '\r' || content[i] == '\t'))
        ++i;
    if (i == content.size())
        return true;
    if (content[i] != '<')
        return false;
    const size_t gt = content.find('>', i);
    if (gt == std::string_view::npos || content[gt - 1] == '/')
        return false;
    const std::string_view qname = content.substr(i + 1, gt - i - 1);
    if (qname.find_first_of(" \t\r\n\"'") != std::string_view::npos || localPart(qname) != "p")
        return false;
    const size_t close = content.find('<', gt + 1);
    if (close == std::string_view::npos || content.substr(close, 2) != "</" ||
        content.substr(close + 2, qname.size()) != qname || content.substr(close + 2 + qname.size(), 1) != ">")
        return false;
    for (char c : content.substr(close + 3 + qname.size()))
        if (c != ' ' && c != '\t' && c != '\r' && c != '\n')
            return false;
    return appendXmlText(content.substr(gt + 1, close - gt - 1), text);
}

// Reads content.xml once: counts the sheets and takes the cells of sheet `wanted` into store.
// countAll: go on to the end to count every sheet, and keep a cause that makes the wanted sheet
// unreadable in *wantedError instead of throwing, so that the other sheets stay usable. Otherwise
// reading stops after the wanted sheet.
class ContentReader {
public:
    ContentReader(const ZipArchive& zip, const WorkbookOpenOptions& options) : m_zip(zip), m_options(options) {
        if (!options.columns.empty()) {
            m_wantedColumns.assign(size_t(xlsx::maxColumns) + 1, false);
            for (int c : options.columns)
                if (c >= 1 && c <= xlsx::maxColumns)
                    m_wantedColumns[size_t(c)] = true;
        }
        m_rowLimit = options.rowLimit > 0 ? uint64_t(options.rowLimit) : UINT64_MAX;
    }

    int run(int wanted, bool countAll, CellStore& store, QString* wantedError);

private:
    QString place() const {
        return QStringLiteral("cell %1").arg(xlsx::cellName(int(std::min<uint64_t>(m_row, 99999999)),
                                                            int(std::min<uint64_t>(m_column, xlsx::maxColumns + 1))));
    }
    [[noreturn]] void fail(const QString& what) const { throw WorkbookError(place() + QLatin1String(": ") + what); }
    // The text of a cell whose value is in its attributes; found is false for one whose text is
    // its paragraphs.
    std::string valueText(XmlScanner& xml, bool& fromParagraphs) const;
    void addRun(const std::string& text, uint64_t count);
    void finishRow(CellStore& store);
    void checkCellText() const {
        if (m_cellText.size() > size_t(64) << 20)
            fail(QStringLiteral("a text of more than 64 MB"));
    }

    const ZipArchive& m_zip;
    WorkbookOpenOptions m_options;
    std::vector<bool> m_wantedColumns;
    uint64_t m_rowLimit;
    uint64_t m_row = 1;    // the current row, or the next one between rows
    uint64_t m_column = 1; // the current cell's first column, or the next one between cells
    uint64_t m_rowRepeat = 1;
    struct Run {
        uint32_t column;
        uint32_t count;
        size_t offset;
        size_t length;
    };
    std::vector<Run> m_runs; // the valued cells of the current row
    std::string m_rowText;
    std::string m_cellText;
    qint64 m_cells = 0;
    qint64 m_chars = 0;
};

std::string ContentReader::valueText(XmlScanner& xml, bool& fromParagraphs) const {
    fromParagraphs = false;
    const std::string_view type = xml.attribute("value-type");
    auto attributeText = [&](std::string_view name) {
        bool found = false;
        const std::string_view raw = xml.attribute(name, &found);
        if (!found)
            fail(QStringLiteral("a %1 cell without its %2").arg(utf8(type), utf8(name)));
        std::string text;
        if (!appendXmlText(raw, text))
            fail(QStringLiteral("unknown or malformed entity in %1").arg(utf8(name)));
        return text;
    };
    if (type == "float" || type == "percentage" || type == "currency") {
        const std::string raw = attributeText("value");
        double number = 0;
        if (!parseStoredNumber(raw, number))
            fail(QStringLiteral("\"%1\" is not a number").arg(utf8(raw).left(40)));
        return numberText(number).toStdString();
    }
    if (type == "date") {
        const std::string raw = attributeText("date-value");
        const QString text = dateValueText(raw);
        if (text.isEmpty())
            fail(QStringLiteral("\"%1\" is not a date").arg(utf8(raw).left(40)));
        return text.toStdString();
    }
    if (type == "time") {
        const std::string raw = attributeText("time-value");
        const QString text = timeValueText(raw);
        if (text.isEmpty())
            fail(QStringLiteral("\"%1\" is not a duration").arg(utf8(raw).left(40)));
        return text.toStdString();
    }
    if (type == "boolean") {
        const std::string raw = attributeText("boolean-value");
        if (raw == "true" || raw == "1")
            return "TRUE";
        if (raw == "false" || raw == "0")
            return "FALSE";
        fail(QStringLiteral("\"%1\" is not a boolean").arg(utf8(raw).left(40)));
    }
    // An error of a formula has an empty string value and its code as the paragraph.
    if (type == "string" && !xml.attribute("string-value").empty())
        return attributeText("string-value");
    // A text cell, an error of a formula, or a cell without a type: its paragraphs.
    fromParagraphs = true;
    return {};
}

void ContentReader::addRun(const std::string& text, uint64_t count) {
    if (text.empty())
        return;
    if (m_column + count - 1 > uint64_t(xlsx::maxColumns))
        fail(QStringLiteral("a value in a column beyond XFD"));
    m_runs.push_back({uint32_t(m_column), uint32_t(count), m_rowText.size(), text.size()});
    m_rowText += text;
}

void ContentReader::finishRow(CellStore& store) {
    if (m_runs.empty() || m_row > m_rowLimit)
        return;
    m_column = m_runs.front().column; // for causes
    if (m_row + m_rowRepeat - 1 > uint64_t(xlsx::maxRows))
        fail(QStringLiteral("a value in a row beyond %1").arg(xlsx::maxRows));
    const uint64_t rows = std::min(m_rowLimit - m_row + 1, m_rowRepeat);
    uint64_t perRow = 0;
    for (const Run& run : m_runs)
        perRow += run.count;
    // A repeated row of values is as many rows: refused before it is expanded beyond the limit.
    if (perRow > uint64_t(cellLimit) || rows > (uint64_t(cellLimit) - uint64_t(m_cells)) / perRow)
        fail(QStringLiteral("more than %1 million cells in the sheet").arg(cellLimit >> 20));
    std::vector<QString> texts;
    texts.reserve(m_runs.size());
    for (const Run& run : m_runs)
        texts.push_back(utf8(std::string_view(m_rowText).substr(run.offset, run.length)));
    for (uint64_t r = 0; r < rows; ++r) {
        for (size_t i = 0; i < m_runs.size(); ++i) {
            const Run& run = m_runs[i];
            for (uint32_t c = run.column; c < run.column + run.count; ++c) {
                if (!m_wantedColumns.empty() && !m_wantedColumns[c])
                    continue;
                m_chars += texts[i].size();
                if (m_chars > textLimit)
                    fail(QStringLiteral("more than %1 million characters of text in the sheet").arg(textLimit >> 20));
                ++m_cells;
                store.append(int(m_row + r), int(c), texts[i]);
            }
        }
    }
}

int ContentReader::run(int wanted, bool countAll, CellStore& store, QString* wantedError) {
    if (m_zip.indexOf(contentPart) < 0)
        throw WorkbookError(QStringLiteral("the package holds no content.xml: it has no sheets"));
    ZipPrefetchStream stream(m_zip, contentPart);
    XmlScanner xml([&](char* b, qint64 n) { return stream.read(b, n); }, contentPart);

    int depth = 0;
    int bodyDepth = -1;  // office:spreadsheet
    int tableDepth = -1; // the sheet being passed
    int rowDepth = -1;
    int cellDepth = -1;  // a cell whose paragraphs are being read
    int skipDepth = -1;  // an element whose content is of no interest
    int paragraphDepth = 0;
    int paragraphs = 0;
    uint64_t cellRepeat = 1;
    int sheets = 0;
    bool capturing = false;
    bool seenBody = false;

    auto repeat = [&](std::string_view attribute, const char* what) {
        bool found = false;
        const std::string_view value = xml.attribute(attribute, &found);
        const uint64_t n = repeatCount(value, found);
        if (n == 0)
            fail(QStringLiteral("\"%1\" is no count of repeated %2").arg(utf8(value.substr(0, 24)), QLatin1String(what)));
        return n;
    };
    // The wanted sheet's cause, when it is kept rather than thrown.
    auto sheetFailed = [&](const WorkbookError& error) {
        if (!countAll)
            throw error;
        if (wantedError->isEmpty())
            *wantedError = error.cause();
        capturing = false;
        store = CellStore();
        cellDepth = rowDepth = -1;
    };

    for (;;) {
        const XmlScanner::Event event = xml.next();
        if (event == XmlScanner::End)
            break;
        if (event == XmlScanner::Text) {
            if (cellDepth >= 0 && paragraphDepth > 0 && skipDepth < 0) {
                xml.appendText(m_cellText);
                checkCellText();
            }
            continue;
        }
        const std::string_view name = xml.name();
        if (event == XmlScanner::EndElement) {
            const int closed = depth--;
            if (skipDepth >= 0) {
                if (closed == skipDepth)
                    skipDepth = -1;
                continue;
            }
            if (cellDepth >= 0) {
                if (closed == cellDepth) {
                    cellDepth = -1;
                    try {
                        addRun(m_cellText, cellRepeat);
                    } catch (const WorkbookError& e) {
                        sheetFailed(e);
                    }
                    m_column += cellRepeat;
                } else if (name == "p" || name == "h") {
                    --paragraphDepth;
                }
                continue;
            }
            if (closed == rowDepth) {
                rowDepth = -1;
                try {
                    finishRow(store);
                } catch (const WorkbookError& e) {
                    sheetFailed(e);
                }
                m_row = std::min<uint64_t>(m_row + m_rowRepeat, uint64_t(1) << 62);
                if (!countAll && m_row > m_rowLimit)
                    return sheets;
            } else if (closed == tableDepth) {
                tableDepth = -1;
                if (capturing && !countAll)
                    return sheets;
                capturing = false;
            } else if (closed == bodyDepth) {
                break;
            }
            continue;
        }

        // the start of an element
        ++depth;
        if (skipDepth >= 0)
            continue;
        if (bodyDepth < 0) {
            if (name == "spreadsheet") {
                bodyDepth = depth;
                seenBody = true;
            }
            continue;
        }
        if (tableDepth < 0) {
            if (name == "table" && depth == bodyDepth + 1) {
                ++sheets;
                if (sheets != wanted) {
                    // Another sheet: counted, and passed over without reading its content as XML.
                    xml.skipElement();
                    --depth;
                    continue;
                }
                tableDepth = depth;
                capturing = true;
                m_row = 1;
            } else {
                skipDepth = depth;
            }
            continue;
        }
        if (!capturing) {
            skipDepth = depth; // another sheet's content: counted, not read
            continue;
        }
        // The wanted sheet's own elements: a damaged one makes only this sheet unreadable.
        auto capture = [&]() {
            if (cellDepth >= 0) {
                if (name == "p" || name == "h") {
                    if (paragraphDepth == 0 && paragraphs++ > 0)
                        m_cellText += '\n';
                    ++paragraphDepth;
                } else if (paragraphDepth == 0 || name == "annotation" || name == "note" || name == "frame") {
                    skipDepth = depth; // comments, shapes and whatever is not a paragraph show no text
                } else if (name == "s") {
                    bool found = false;
                    const std::string_view count = xml.attribute("c", &found);
                    const uint64_t n = repeatCount(count, found);
                    if (n == 0 || n > uint64_t(kCellTextLimit))
                        fail(QStringLiteral("\"%1\" is no count of spaces").arg(utf8(count.substr(0, 24))));
                    m_cellText.append(size_t(n), ' ');
                    checkCellText();
                } else if (name == "tab") {
                    m_cellText += '\t';
                } else if (name == "line-break") {
                    m_cellText += '\n';
                }
                return;
            }
            if (rowDepth < 0) {
                if (name == "table-row") {
                    rowDepth = depth;
                    m_rowRepeat = repeat("number-rows-repeated", "rows");
                    m_column = 1;
                    m_runs.clear();
                    m_rowText.clear();
                } else if (name != "table-row-group" && name != "table-header-rows" && name != "table-rows") {
                    skipDepth = depth; // columns, shapes, named ranges, conditional formats
                }
                return;
            }
            const bool covered = name == "covered-table-cell";
            if (depth != rowDepth + 1 || (!covered && name != "table-cell")) {
                skipDepth = depth;
                return;
            }
            cellRepeat = repeat("number-columns-repeated", "columns");
            if (covered || m_row > m_rowLimit ||
                (!m_wantedColumns.empty() && m_column <= uint64_t(xlsx::maxColumns) &&
                 m_column + cellRepeat - 1 <= uint64_t(xlsx::maxColumns) &&
                 std::none_of(m_wantedColumns.begin() + qsizetype(m_column),
                              m_wantedColumns.begin() + qsizetype(m_column + cellRepeat), [](bool w) { return w; }))) {
                // A covered cell of a merged range reads as empty, whatever it holds.
                m_column += cellRepeat;
                skipDepth = depth;
                return;
            }
            bool fromParagraphs = false;
            m_cellText = valueText(xml, fromParagraphs);
            // Attributes first: looking ahead may move the text they are in.
            bool hasFormula = false;
            xml.attribute("formula", &hasFormula);
            std::string_view content;
            const bool peeked = xml.peekContent(content) && content.find("table-cell") == std::string_view::npos;
            if (!fromParagraphs) {
                // A formula's boolean result is kept as the number 1 or 0 shown as TRUE or FALSE
                // (booleans taken from a workbook package become such formulas).
                if (hasFormula && peeked && (m_cellText == "1" || m_cellText == "0")) {
                    std::string shown;
                    if (plainParagraph(content, shown) && shown == (m_cellText == "1" ? "TRUE" : "FALSE"))
                        m_cellText = shown;
                }
                if (peeked) {
                    xml.skipPeeked();
                    --depth;
                } else {
                    skipDepth = depth;
                }
                addRun(m_cellText, cellRepeat);
                m_column += cellRepeat;
                return;
            }
            m_cellText.clear();
            if (peeked && plainParagraph(content, m_cellText)) {
                xml.skipPeeked();
                --depth;
                addRun(m_cellText, cellRepeat);
                m_column += cellRepeat;
                return;
            }
            m_cellText.clear();
            cellDepth = depth;
            paragraphDepth = 0;
            paragraphs = 0;
        };
        try {
            capture();
        } catch (const WorkbookError& e) {
            sheetFailed(e);
            skipDepth = depth;
        }
    }
    if (!seenBody)
        throw WorkbookError(QStringLiteral("content.xml holds no spreadsheet: the document may be of another kind"));
    return sheets;
}

class OdsWorkbook final : public ValueWorkbook {
public:
    OdsWorkbook(const QString& path, std::unique_ptr<ZipArchive> zip, const WorkbookOpenOptions& options, int sheets,
                CellStore first, QString firstError)
        : ValueWorkbook(path, sheets), m_zip(std::move(zip)), m_options(options), m_first(std::move(first)),
          m_firstError(std::move(firstError)) {}

    void saveAs(const QString& path) override {
        if (QFileInfo(path).suffix().compare(QLatin1String("ods"), Qt::CaseInsensitive) != 0) {
            ValueWorkbook::saveAs(path);
            return;
        }
        std::vector<OdsSheetEdits> sheets;
        for (const auto& [number, store] : readSheets()) {
            OdsSheetEdits& sheet = sheets.emplace_back();
            sheet.number = number;
            store.forEachChange([&](int row, int column, const QString& text) {
                sheet.edits.set(xlsx::cellKey(row, column), text);
            });
            if (sheet.edits.empty())
                sheets.pop_back();
        }
        xlsx::writeAtomically(path, QStringLiteral(".ods"),
                              [&](const QString& temp) { writePatchedOds(*m_zip, sheets, temp, path); });
    }

protected:
    CellStore loadSheet(int n) override {
        if (n == 1 && m_firstKept) {
            m_firstKept = false;
            if (!m_firstError.isEmpty())
                throw WorkbookError(QStringLiteral("sheet 1, %1").arg(m_firstError));
            return std::move(m_first);
        }
        CellStore store;
        try {
            ContentReader(*m_zip, m_options).run(n, false, store, nullptr);
        } catch (const WorkbookError& e) {
            throw WorkbookError(QStringLiteral("sheet %1, %2").arg(n).arg(e.cause()));
        }
        return store;
    }

private:
    std::unique_ptr<ZipArchive> m_zip;
    WorkbookOpenOptions m_options;
    // The first sheet, read while the sheets were counted.
    CellStore m_first;
    QString m_firstError;
    bool m_firstKept = true;
};

} // namespace

bool isOdsPackage(const QString& path) {
    const ZipArchive zip(path);
    QString type;
    switch (packageKind(zip, &type)) {
    case PackageKind::Spreadsheet:
        return true;
    case PackageKind::OtherDocument:
        throw WorkbookError(QStringLiteral("an OpenDocument of type %1, not a spreadsheet").arg(type.left(80)));
    case PackageKind::NotOpenDocument:
        break;
    }
    return false;
}

bool isOdsFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.read(4) != QByteArray("PK\x03\x04", 4))
        return false;
    try {
        return isOdsPackage(path);
    } catch (const WorkbookError&) {
        return false;
    }
}

std::unique_ptr<Workbook> openOdsWorkbook(const QString& path, const WorkbookOpenOptions& options) {
    auto zip = std::make_unique<ZipArchive>(path);
    CellStore first;
    QString firstError;
    const int sheets = ContentReader(*zip, options).run(1, true, first, &firstError);
    return std::make_unique<OdsWorkbook>(path, std::move(zip), options, sheets, std::move(first), std::move(firstError));
}
