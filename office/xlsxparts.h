#pragma once
// Pieces shared by the .xlsx reader and writer.
#include <QByteArray>
#include <QString>

#include "office/zipfile.h"

#include <pugixml.hpp>

#include <algorithm>
#include <functional>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>


namespace xlsx {

constexpr int maxRows = 1048576;
constexpr int maxColumns = 16384;

enum class RefStatus { Ok, Malformed, RowTooLarge, ColumnTooLarge };
// "B7" -> row 7, column 2.
RefStatus parseCellRef(std::string_view text, int& row, int& column);
// Why a reference was refused, for a cause ("column beyond XFD").
QString refProblem(RefStatus status);
QString columnName(int column);
QString cellName(int row, int column);
// As cellName, without the round trip through QString: a large save names every cell it adds.
std::string cellRef(int row, int column);

// Edits of one sheet by (row, column), in sheet order.
using CellKey = quint64;
inline CellKey cellKey(int row, int column) {
    return (CellKey(row) << 16) | CellKey(column);
}
inline int keyRow(CellKey key) {
    return int(key >> 16);
}
inline int keyColumn(CellKey key) {
    return int(key & 0xFFFF);
}
// The edits of one sheet, in key order when read. Kept as one array rather than a tree: a merge
// writes millions of them, mostly in order already.
class SheetEdits {
public:
    using Item = std::pair<CellKey, QString>;
    using const_iterator = std::vector<Item>::const_iterator;

    // A later text for the same cell replaces the earlier one.
    void set(CellKey key, QString text) {
        if (!m_items.empty() && key <= m_items.back().first) {
            if (key == m_items.back().first) {
                m_items.back().second = std::move(text);
                return;
            }
            m_sorted = false;
        }
        m_items.emplace_back(key, std::move(text));
    }
    bool empty() const { return m_items.empty(); }
    const_iterator begin() const {
        sort();
        return m_items.begin();
    }
    const_iterator end() const {
        sort();
        return m_items.end();
    }
    const_iterator find(CellKey key) const {
        sort();
        const auto it = std::lower_bound(m_items.begin(), m_items.end(), key,
                                         [](const Item& item, CellKey k) { return item.first < k; });
        return it != m_items.end() && it->first == key ? it : m_items.end();
    }
    size_t count(CellKey key) const { return find(key) != m_items.end() ? 1 : 0; }

private:
    void sort() const {
        if (m_sorted)
            return;
        std::stable_sort(m_items.begin(), m_items.end(),
                         [](const Item& a, const Item& b) { return a.first < b.first; });
        // of a cell given several texts, the last one stays
        std::vector<Item> unique;
        unique.reserve(m_items.size());
        for (Item& item : m_items) {
            if (!unique.empty() && unique.back().first == item.first)
                unique.back().second = std::move(item.second);
            else
                unique.push_back(std::move(item));
        }
        m_items.swap(unique);
        m_sorted = true;
    }

    mutable std::vector<Item> m_items;
    mutable bool m_sorted = true;
};

// What reading a sheet learns about its cells beyond their values, for a save that patches the
// sheet as it streams past: the extent of every cell element, valued or not, and where the
// formulas are.
struct SheetLayout {
    bool complete = false; // the whole sheet was read, not just its top
    // Rows in ascending order and, within each row, cells in ascending column order; a row or a
    // cell given again right after itself counts as in order.
    bool ordered = true;
    int top = 0, left = 0, bottom = 0, right = 0; // 0: no cell element at all
    static constexpr uint32_t notShared = UINT32_MAX;
    struct Formula {
        CellKey key;
        uint32_t group;   // the shared formula's index, or notShared
        bool master;      // a shared formula's cell that carries its text and range
    };
    std::vector<Formula> formulas; // in sheet order

    // Called for every row element and every cell element in sheet order.
    void noteRow(int row);
    void noteCell(int row, int column);
    void noteFormula(int row, int column, std::string_view type, std::string_view group, bool hasRange);

    // For a reader that takes back what it noted of a row, to read the row again another way.
    struct Mark {
        int top, left, bottom, right, lastRow, lastColumn;
        bool ordered;
        size_t formulas;
    };
    Mark mark() const { return {top, left, bottom, right, m_lastRow, m_lastColumn, ordered, formulas.size()}; }
    void rewind(const Mark& m);

private:
    int m_lastRow = 0;
    int m_lastColumn = 0;
};

// Element and attribute names are matched without their namespace prefix: writers differ in it.
bool isNamed(const pugi::xml_node& node, std::string_view local);
pugi::xml_node child(const pugi::xml_node& node, std::string_view local);
pugi::xml_attribute attribute(const pugi::xml_node& node, std::string_view local);
// The prefix ("x:" or "") the node's own name carries, for new siblings to match.
QByteArray prefixOf(const pugi::xml_node& node);

// Parses a part kept whole (workbook, styles, relationships, an edited sheet). Throws WorkbookError.
void parseXml(pugi::xml_document& doc, const QByteArray& data, const QString& part);
QByteArray saveXml(const pugi::xml_document& doc);
// Reads and parses a part of at most limit bytes.
void loadXml(pugi::xml_document& doc, const ZipArchive& zip, const QString& part,
             qint64 limit = 256 * 1024 * 1024);

// "xl/worksheets/_rels/sheet1.xml.rels" for "xl/worksheets/sheet1.xml".
QString relationshipsPart(const QString& part);
// A relationship's target as a part name: absolute ("/xl/...") or relative to the source's folder.
QString resolveTarget(const QString& sourcePart, const QString& target);
// "2006/relationships/worksheet" -> true for "worksheet".
bool relationshipIs(const QString& type, std::string_view kind);

// Text for an inline string cell: characters XML cannot carry as "_xHHHH_".
std::string escapeOoxml(const QString& text);

// The formula of a shared formula's master as seen from a cell rowOffset rows and columnOffset
// columns away: relative references move, absolute ones stay, references pushed off the sheet
// become #REF!.
std::string shiftFormula(std::string_view formula, int rowOffset, int columnOffset);

} // namespace xlsx

namespace xlsx {

// A name for a new file in the folder of path that no file has yet, ending in suffix.
QString temporaryPathBeside(const QString& path, const QString& suffix);
// Runs write(temporaryPath) on a new file beside path, then renames it to path. On any failure the
// temporary file is removed and the error passes on; path is untouched. suffix: the temporary
// file's extension (some converters go by it).
void writeAtomically(const QString& path, const QString& suffix,
                     const std::function<void(const QString&)>& write);

// What saving a read package changes.
struct PackagePatch {
    QString workbookPart;
    struct Sheet {
        int number; // for causes
        QString part;
        const SheetEdits* edits;
        const SheetLayout* layout;
    };
    std::vector<Sheet> sheets;
    bool macroEnabled = false; // the target is an .xlsm
};
// Writes the package of zip with the patch applied to path (not atomically: the caller does that).
// Causes name shownPath, the file the user chose, rather than the temporary path written.
void writePatchedPackage(const ZipArchive& zip, const PackagePatch& patch, const QString& path,
                         const QString& shownPath);

// Writing packages, shared by the workbook formats. shown: the file the caller chose, which
// causes name, rather than the temporary one written.
ZipPtr createZip(const QString& path, const QString& shown);
void closeZip(ZipPtr& zip, const QString& shown);
[[noreturn]] void throwZipError(zip_t* zip, const QString& shown);
// Adds source as a new entry deflated at the fastest level; false, with source freed, on failure.
bool addDeflated(zip_t* dst, const char* name, zip_source_t* source, zip_flags_t flags);
// Copies entry index of from into dst as stored, without inflating and deflating it again; false on
// failure.
bool addStoredCopy(zip_t* dst, zip_t* from, qint64 index, const char* name);
void addEntries(zip_t* dst, const std::vector<std::pair<QString, QByteArray>>& entries);

// A part that streams into a new package while it is written: libzip pulls the bytes as it
// deflates them. Errors cannot pass through libzip: they are kept here (cause(), prefixed with
// place) and thrown by the writer once libzip gives up.
class StreamedPart {
public:
    using Reader = std::function<qint64(char*, qint64)>;
    // Starts a pass over the part's bytes (libzip may make more than one); the reader it returns
    // gives them, 0 at the end, and is dropped once done.
    using Opener = std::function<Reader()>;

    StreamedPart(Opener open, QString place);
    ~StreamedPart();
    StreamedPart(const StreamedPart&) = delete;
    StreamedPart& operator=(const StreamedPart&) = delete;

    zip_source_t* source(zip_t* dst);
    const QString& cause() const { return m_cause; }

private:
    static zip_int64_t callback(void* self, void* data, zip_uint64_t length, zip_source_cmd_t command);
    zip_int64_t handle(void* data, zip_uint64_t length, zip_source_cmd_t command);

    Opener m_open;
    QString m_place;
    Reader m_reader;
    zip_error_t m_error;
    QString m_cause;
};

} // namespace xlsx
