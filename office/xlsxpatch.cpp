// Saving .xlsx packages: a read package with its changed cells patched in, or a new one.
#include "merge/common/workbook.h"
#include "office/celltext.h"
#include "office/xlsxparts.h"
#include "office/xlsxworkbook.h"
#include "office/zipfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <sys/stat.h>

namespace xlsx {

QString temporaryPathBeside(const QString& path, const QString& suffix) {
    const QFileInfo info(path);
    QTemporaryFile file(
        info.absoluteDir().filePath(u'.' + info.completeBaseName() + QStringLiteral(".XXXXXX") + suffix));
    file.setAutoRemove(false);
    if (!file.open())
        throw WorkbookError(QStringLiteral("cannot write %1: cannot create a file in %2: %3")
                                .arg(QDir::toNativeSeparators(path), QDir::toNativeSeparators(info.absolutePath()),
                                     file.errorString()));
    return file.fileName();
}

void writeAtomically(const QString& path, const QString& suffix,
                     const std::function<void(const QString&)>& write) {
    const QString temp = temporaryPathBeside(path, suffix);
    try {
        write(temp);
        // The temporary file was made private; the result gets the mode any new file would.
        const mode_t mask = umask(0);
        umask(mask);
        chmod(QFile::encodeName(temp).constData(), 0666 & ~mask);
        if (std::rename(QFile::encodeName(temp).constData(), QFile::encodeName(path).constData()) != 0)
            throw WorkbookError(
                QStringLiteral("cannot write %1: %2")
                    .arg(QDir::toNativeSeparators(path), QString::fromLocal8Bit(std::strerror(errno))));
    } catch (...) {
        QFile::remove(temp);
        throw;
    }
}

namespace {

struct CellPos {
    int row = 0;
    int column = 0;
};

// As cellName, without the round trip through QString: a large save names every cell it adds.
std::string cellRef(int row, int column) {
    char letters[8];
    int n = 0;
    for (; column > 0 && n < int(sizeof letters); column = (column - 1) / 26)
        letters[n++] = char('A' + (column - 1) % 26);
    std::string ref(letters, size_t(n));
    std::reverse(ref.begin(), ref.end());
    ref += std::to_string(row);
    return ref;
}

CellPos positionOf(const pugi::xml_node& cell) {
    CellPos p;
    parseCellRef(cell.attribute("r").value(), p.row, p.column);
    return p;
}

// A worksheet being patched: rows and cells are found by number, shared formulas by group.
class SheetPatcher {
public:
    SheetPatcher(pugi::xml_document& doc, int number) {
        m_sheet = doc.document_element();
        if (isNamed(m_sheet, "chartsheet"))
            throw WorkbookError(QStringLiteral("sheet %1 is a chart sheet: it has no cells").arg(number));
        if (!isNamed(m_sheet, "worksheet"))
            throw WorkbookError(QStringLiteral("sheet %1 is not a worksheet").arg(number));
        m_prefix = prefixOf(m_sheet).toStdString();
        m_rowName = name("row");
        m_cellName = name("c");
        m_isName = name("is");
        m_tName = name("t");
        m_vName = name("v");
        m_data = child(m_sheet, "sheetData");
        if (!m_data) {
            pugi::xml_node before;
            for (const char* name : {"sheetPr", "dimension", "sheetViews", "sheetFormatPr", "cols"})
                if (pugi::xml_node n = child(m_sheet, name))
                    before = n;
            m_data = before ? m_sheet.insert_child_after(name("sheetData").c_str(), before)
                            : m_sheet.prepend_child(name("sheetData").c_str());
        }
        indexRows();
    }

    void set(int row, int column, const QString& text) {
        pugi::xml_node rowNode = rowAt(row);
        rowNode.remove_attribute("spans"); // a hint that may no longer hold
        pugi::xml_node cell = cellAt(rowNode, row, column);
        if (pugi::xml_node f = child(cell, "f")) {
            if (std::string_view(f.attribute("t").value()) == "shared" && f.attribute("ref"))
                handOverSharedFormula(cell, f);
            m_formulaRemoved = true;
        }
        // Only the position and the style stay: type, metadata and content go.
        for (pugi::xml_attribute a = cell.first_attribute(); a;) {
            const pugi::xml_attribute next = a.next_attribute();
            const std::string_view n(a.name());
            if (n != "r" && n != "s")
                cell.remove_attribute(a);
            a = next;
        }
        while (cell.first_child())
            cell.remove_child(cell.first_child());
        if (text.isEmpty())
            return;
        // A number stays a number: it reads back as the same text, and sums still count it.
        if (isNumberText(text)) {
            cell.append_child(m_vName.c_str()).append_child(pugi::node_pcdata).set_value(text.toLatin1().constData());
            return;
        }
        cell.append_attribute("t") = "inlineStr";
        pugi::xml_node t = cell.append_child(m_isName.c_str()).append_child(m_tName.c_str());
        t.append_attribute("xml:space") = "preserve";
        t.append_child(pugi::node_pcdata).set_value(escapeOoxml(text).c_str());
    }

    void updateDimension() {
        int top = 0, left = 0, bottom = 0, right = 0;
        for (pugi::xml_node row : m_data.children()) {
            if (!isNamed(row, "row"))
                continue;
            for (pugi::xml_node cell : row.children()) {
                if (!isNamed(cell, "c"))
                    continue;
                const CellPos p = positionOf(cell);
                if (p.row == 0)
                    continue;
                top = top ? std::min(top, p.row) : p.row;
                left = left ? std::min(left, p.column) : p.column;
                bottom = std::max(bottom, p.row);
                right = std::max(right, p.column);
            }
        }
        QString ref = QStringLiteral("A1");
        if (top)
            ref = (top == bottom && left == right) ? cellName(top, left)
                                                   : cellName(top, left) + u':' + cellName(bottom, right);
        pugi::xml_node dim = child(m_sheet, "dimension");
        if (!dim) {
            pugi::xml_node pr = child(m_sheet, "sheetPr");
            dim = pr ? m_sheet.insert_child_after(name("dimension").c_str(), pr)
                     : m_sheet.prepend_child(name("dimension").c_str());
        }
        if (!dim.attribute("ref"))
            dim.append_attribute("ref");
        dim.attribute("ref").set_value(ref.toUtf8().constData());
    }

    bool formulaRemoved() const { return m_formulaRemoved; }

private:
    std::string name(const char* local) const { return m_prefix + local; }

    void indexRows() {
        int rowNumber = 0;
        for (pugi::xml_node row : m_data.children()) {
            if (!isNamed(row, "row"))
                continue;
            // References are made explicit, so that inserted rows and cells keep others in place.
            if (pugi::xml_attribute r = row.attribute("r"))
                rowNumber = r.as_int(rowNumber + 1);
            else
                row.append_attribute("r") = ++rowNumber;
            m_rows.emplace(rowNumber, row);
            int column = 0;
            for (pugi::xml_node cell : row.children()) {
                if (!isNamed(cell, "c"))
                    continue;
                if (pugi::xml_attribute r = cell.attribute("r")) {
                    int rr = 0, cc = 0;
                    if (parseCellRef(r.value(), rr, cc) == RefStatus::Ok)
                        column = cc;
                } else {
                    ++column;
                    cell.prepend_attribute("r").set_value(cellRef(rowNumber, column).c_str());
                }
            }
        }
    }

    pugi::xml_node rowAt(int row) {
        auto it = m_rows.lower_bound(row);
        if (it != m_rows.end() && it->first == row)
            return it->second;
        pugi::xml_node node = it != m_rows.end() ? m_data.insert_child_before(m_rowName.c_str(), it->second)
                                                 : m_data.append_child(m_rowName.c_str());
        node.append_attribute("r") = row;
        m_rows.emplace(row, node);
        return node;
    }

    // Edits come in row order, left to right: the search for a cell goes on from the last one
    // found in the same row rather than from the row's start. Every cell before that one lies
    // left of it, so the result is the same.
    pugi::xml_node cellAt(pugi::xml_node rowNode, int row, int column) {
        pugi::xml_node start = rowNode.first_child();
        pugi::xml_node other; // the first child that is not a cell: extLst comes after the cells
        if (m_last.cell && m_last.row == row && m_last.column < column) {
            start = m_last.cell.next_sibling();
            other = m_last.other;
        }
        pugi::xml_node before;
        for (pugi::xml_node cell = start; cell; cell = cell.next_sibling()) {
            if (!isNamed(cell, "c")) {
                if (!other)
                    other = cell;
                continue;
            }
            const CellPos p = positionOf(cell);
            if (p.column == column) {
                m_last = {row, column, cell, other};
                return cell;
            }
            if (p.column > column) {
                before = cell;
                break;
            }
        }
        const bool beforeOther = !before && other;
        if (beforeOther)
            before = other;
        pugi::xml_node cell = before ? rowNode.insert_child_before(m_cellName.c_str(), before)
                                     : rowNode.append_child(m_cellName.c_str());
        cell.append_attribute("r").set_value(cellRef(row, column).c_str());
        m_last = {row, column, cell, beforeOther ? pugi::xml_node() : other};
        return cell;
    }

    // The master of a shared formula carries the formula text its group shares. Before the master
    // is overwritten, the first remaining member of the group becomes the master, with the text
    // moved to its place.
    void handOverSharedFormula(pugi::xml_node master, pugi::xml_node f) {
        if (!m_groupsIndexed) {
            m_groupsIndexed = true;
            for (const auto& [number, row] : m_rows)
                for (pugi::xml_node cell : row.children())
                    if (isNamed(cell, "c"))
                        if (pugi::xml_node cf = child(cell, "f"))
                            if (std::string_view(cf.attribute("t").value()) == "shared")
                                m_groups[cf.attribute("si").value()].push_back(cell);
        }
        const std::string si = f.attribute("si").value();
        std::vector<pugi::xml_node> members;
        for (pugi::xml_node cell : m_groups[si]) {
            if (cell == master)
                continue;
            pugi::xml_node cf = child(cell, "f");
            if (cf && std::string_view(cf.attribute("t").value()) == "shared" &&
                si == cf.attribute("si").value())
                members.push_back(cell);
        }
        if (members.empty())
            return;
        const CellPos from = positionOf(master);
        const CellPos to = positionOf(members.front());
        int top = to.row, left = to.column, bottom = to.row, right = to.column;
        for (pugi::xml_node cell : members) {
            const CellPos p = positionOf(cell);
            top = std::min(top, p.row);
            left = std::min(left, p.column);
            bottom = std::max(bottom, p.row);
            right = std::max(right, p.column);
        }
        const std::string moved = shiftFormula(f.text().get(), to.row - from.row, to.column - from.column);
        pugi::xml_node nf = child(members.front(), "f");
        while (nf.first_child())
            nf.remove_child(nf.first_child());
        nf.append_child(pugi::node_pcdata).set_value(moved.c_str());
        const QString ref = (top == bottom && left == right)
                                ? cellName(top, left)
                                : cellName(top, left) + u':' + cellName(bottom, right);
        if (!nf.attribute("ref"))
            nf.append_attribute("ref");
        nf.attribute("ref").set_value(ref.toUtf8().constData());
    }

    std::string m_prefix;
    std::string m_rowName, m_cellName, m_isName, m_tName, m_vName;
    struct LastCell {
        int row = 0;
        int column = 0;
        pugi::xml_node cell;
        pugi::xml_node other; // what cellAt had seen before reaching cell
    } m_last;
    pugi::xml_node m_sheet;
    pugi::xml_node m_data;
    std::map<int, pugi::xml_node> m_rows;
    bool m_groupsIndexed = false;
    std::map<std::string, std::vector<pugi::xml_node>> m_groups;
    bool m_formulaRemoved = false;
};

const char* const plainWorkbookType =
    "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml";
const char* const macroWorkbookType = "application/vnd.ms-excel.sheet.macroEnabled.main+xml";
const char* const macroProjectType = "application/vnd.ms-office.vbaProject";

// Deflating the written parts is most of a large save's work. The fastest level costs a few percent
// in size against the default and takes a fraction of its time.
constexpr zip_uint32_t writtenPartLevel = 1;

// Adds data as a new entry deflated at writtenPartLevel; false, with source freed, on failure.
bool addDeflated(zip_t* dst, const char* name, zip_source_t* source, zip_flags_t flags) {
    if (!source)
        return false;
    const zip_int64_t index = zip_file_add(dst, name, source, flags | ZIP_FL_OVERWRITE);
    if (index < 0) {
        zip_source_free(source);
        return false;
    }
    return zip_set_file_compression(dst, zip_uint64_t(index), ZIP_CM_DEFLATE, writtenPartLevel) == 0;
}

void addEntries(zip_t* dst, const std::vector<std::pair<QString, QByteArray>>& entries) {
    for (const auto& [name, data] : entries) {
        zip_source_t* source = zip_source_buffer(dst, data.constData(), zip_uint64_t(data.size()), 0);
        if (!addDeflated(dst, name.toUtf8().constData(), source, ZIP_FL_ENC_UTF_8))
            throw WorkbookError(QStringLiteral("cannot add %1 to the package: %2")
                                    .arg(name, QString::fromUtf8(zip_strerror(dst))));
    }
}

// shown: the file the caller chose, which causes name, rather than the temporary one written.
ZipPtr createZip(const QString& path, const QString& shown) {
    int code = 0;
    ZipPtr zip(zip_open(QFile::encodeName(path).constData(), ZIP_CREATE | ZIP_TRUNCATE, &code));
    if (!zip) {
        zip_error_t error;
        zip_error_init_with_code(&error, code);
        const QString cause = QString::fromUtf8(zip_error_strerror(&error));
        zip_error_fini(&error);
        throw WorkbookError(QStringLiteral("cannot write %1: %2").arg(QDir::toNativeSeparators(shown), cause));
    }
    return zip;
}

void closeZip(ZipPtr& zip, const QString& shown) {
    if (zip_close(zip.get()) != 0)
        throw WorkbookError(
            QStringLiteral("cannot write %1: %2")
                .arg(QDir::toNativeSeparators(shown), QString::fromUtf8(zip_strerror(zip.get()))));
    (void)zip.release(); // closed
}

} // namespace

void writePatchedPackage(const ZipArchive& zip, const PackagePatch& patch, const QString& path,
                         const QString& shownPath) {
    std::map<QString, QByteArray> changed; // must outlive zip_close
    std::set<QString> removed;
    bool formulaRemoved = false;
    for (const PackagePatch::Sheet& sheet : patch.sheets) {
        pugi::xml_document doc;
        try {
            loadXml(doc, zip, sheet.part, ZipArchive::entryLimit);
        } catch (const WorkbookError& e) {
            throw WorkbookError(QStringLiteral("sheet %1, %2").arg(sheet.number).arg(e.cause()));
        }
        SheetPatcher patcher(doc, sheet.number);
        for (const auto& [key, text] : *sheet.edits)
            patcher.set(keyRow(key), keyColumn(key), text);
        patcher.updateDimension();
        formulaRemoved = formulaRemoved || patcher.formulaRemoved();
        changed[sheet.part] = saveXml(doc);
    }

    if (!patch.sheets.empty()) {
        // Values changed under formulas: the next program to open the book recalculates.
        pugi::xml_document book;
        loadXml(book, zip, patch.workbookPart);
        pugi::xml_node root = book.document_element();
        pugi::xml_node calc = child(root, "calcPr");
        if (!calc) {
            pugi::xml_node before;
            for (const char* name : {"sheets", "functionGroups", "externalReferences", "definedNames"})
                if (pugi::xml_node n = child(root, name))
                    before = n;
            const std::string name = prefixOf(root).toStdString() + "calcPr";
            calc = before ? root.insert_child_after(name.c_str(), before) : root.append_child(name.c_str());
        }
        if (!calc.attribute("fullCalcOnLoad"))
            calc.append_attribute("fullCalcOnLoad");
        calc.attribute("fullCalcOnLoad").set_value("1");
        changed[patch.workbookPart] = saveXml(book);
    }

    // Parts that go, with the workbook's relationships to them: the calculation chain lists formula
    // cells, and one that lost its formula makes the chain invalid (without a chain the next
    // calculation builds a new one); macros have no place in a workbook saved without them.
    const QString relsPart = relationshipsPart(patch.workbookPart);
    if ((formulaRemoved || !patch.macroEnabled) && zip.indexOf(relsPart) >= 0) {
        pugi::xml_document rels;
        loadXml(rels, zip, relsPart);
        bool relsChanged = false;
        const auto drop = [&](const QString& part) {
            const qint64 index = zip.indexOf(part);
            if (index >= 0)
                removed.insert(zip.entryName(index));
        };
        for (pugi::xml_node r = rels.document_element().first_child(); r;) {
            const pugi::xml_node next = r.next_sibling();
            const QString type = QString::fromUtf8(r.attribute("Type").value());
            const bool calcChain = formulaRemoved && relationshipIs(type, "calcChain");
            const bool macros = !patch.macroEnabled && relationshipIs(type, "vbaProject");
            if (isNamed(r, "Relationship") && (calcChain || macros)) {
                const QString part =
                    resolveTarget(patch.workbookPart, QString::fromUtf8(r.attribute("Target").value()));
                drop(part);
                // The macro project's own relationships (its signatures) go with it.
                const QString ownRels = relationshipsPart(part);
                if (macros && zip.indexOf(ownRels) >= 0) {
                    drop(ownRels);
                    pugi::xml_document own;
                    loadXml(own, zip, ownRels);
                    for (pugi::xml_node o : own.document_element().children())
                        if (isNamed(o, "Relationship") &&
                            std::string_view(o.attribute("TargetMode").value()) != "External")
                            drop(resolveTarget(part, QString::fromUtf8(o.attribute("Target").value())));
                }
                rels.document_element().remove_child(r);
                relsChanged = true;
            }
            r = next;
        }
        if (relsChanged)
            changed[relsPart] = saveXml(rels);
    }

    // The workbook's content type says whether it may hold macros; it must agree with the name.
    const QString typesPart = QStringLiteral("[Content_Types].xml");
    pugi::xml_document types;
    loadXml(types, zip, typesPart);
    bool typesChanged = false;
    const auto isRemoved = [&](const QString& part) {
        for (const QString& r : removed)
            if (part.compare(r, Qt::CaseInsensitive) == 0)
                return true;
        return false;
    };
    // A default by extension serves every part with that extension: it goes only when the parts
    // that remain have none of it.
    const auto extensionInUse = [&](const QString& extension) {
        const QString suffix = u'.' + extension;
        for (qint64 i = 0; i < zip.entryCount(); ++i) {
            const QString name = zip.entryName(i);
            if (name.endsWith(suffix, Qt::CaseInsensitive) && !isRemoved(name))
                return true;
        }
        return false;
    };
    for (pugi::xml_node o = types.document_element().first_child(); o;) {
        const pugi::xml_node next = o.next_sibling();
        const std::string_view type = o.attribute("ContentType").value();
        if (isNamed(o, "Override")) {
            const QString part = QString::fromUtf8(o.attribute("PartName").value()).mid(1);
            if (isRemoved(part)) {
                types.document_element().remove_child(o);
                typesChanged = true;
            } else if (part.compare(patch.workbookPart, Qt::CaseInsensitive) == 0) {
                const char* wanted = patch.macroEnabled ? macroWorkbookType : plainWorkbookType;
                if ((type == plainWorkbookType || type == macroWorkbookType) && type != wanted) {
                    o.attribute("ContentType").set_value(wanted);
                    typesChanged = true;
                }
            }
        } else if (isNamed(o, "Default") && !patch.macroEnabled && type == macroProjectType &&
                   !extensionInUse(QString::fromUtf8(o.attribute("Extension").value()))) {
            types.document_element().remove_child(o);
            typesChanged = true;
        }
        o = next;
    }
    if (typesChanged)
        changed[typesPart] = saveXml(types);

    ZipPtr dst = createZip(path, shownPath);
    const qint64 count = zip.entryCount();
    for (qint64 i = 0; i < count; ++i) {
        const QString name = zip.entryName(i);
        if (removed.count(name))
            continue;
        const auto it = changed.find(name);
        const char* rawName = zip_get_name(zip.handle(), zip_uint64_t(i), ZIP_FL_ENC_RAW);
        bool added = false;
        if (it != changed.end()) {
            added = addDeflated(
                dst.get(), rawName,
                zip_source_buffer(dst.get(), it->second.constData(), zip_uint64_t(it->second.size()), 0), 0);
        } else { // copied as stored, without inflating and deflating again
            zip_source_t* source = zip_source_zip(dst.get(), zip.handle(), zip_uint64_t(i), 0, 0, -1);
            added = source && zip_file_add(dst.get(), rawName, source, ZIP_FL_OVERWRITE) >= 0;
            if (source && !added)
                zip_source_free(source);
        }
        if (!added)
            throw WorkbookError(QStringLiteral("cannot copy %1 into the new package: %2")
                                    .arg(name, QString::fromUtf8(zip_strerror(dst.get()))));
    }
    closeZip(dst, shownPath);
}

} // namespace xlsx

using namespace xlsx;

namespace {

std::string xmlEscaped(const std::string& text) {
    std::string out;
    out.reserve(text.size());
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
    return out;
}

} // namespace

void writeNewXlsx(const QString& path, const QList<QStringList>& rows, const QString& shownPath) {
    const QString shown = shownPath.isEmpty() ? path : shownPath;
    const bool macroEnabled = QFileInfo(path).suffix().compare(QLatin1String("xlsm"), Qt::CaseInsensitive) == 0;
    // [Content_Types].xml goes first, as readers of packages expect.
    std::vector<std::pair<QString, QByteArray>> parts;
    parts.emplace_back(
        QStringLiteral("[Content_Types].xml"),
        R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>)"
        R"(<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">)"
        R"(<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/>)"
        R"(<Default Extension="xml" ContentType="application/xml"/>)"
        R"(<Override PartName="/xl/workbook.xml" ContentType=")" +
            QByteArray(macroEnabled ? macroWorkbookType : plainWorkbookType) +
            R"("/>)"
        R"(<Override PartName="/xl/worksheets/sheet1.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml"/>)"
        R"(<Override PartName="/xl/styles.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.styles+xml"/>)"
        R"(</Types>)");
    parts.emplace_back(
        QStringLiteral("_rels/.rels"),
        R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>)"
        R"(<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">)"
        R"(<Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument" Target="xl/workbook.xml"/>)"
        R"(</Relationships>)");
    parts.emplace_back(
        QStringLiteral("xl/workbook.xml"),
        R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>)"
        R"(<workbook xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships">)"
        R"(<sheets><sheet name="Sheet1" sheetId="1" r:id="rId1"/></sheets></workbook>)");
    parts.emplace_back(
        QStringLiteral("xl/_rels/workbook.xml.rels"),
        R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>)"
        R"(<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">)"
        R"(<Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet" Target="worksheets/sheet1.xml"/>)"
        R"(<Relationship Id="rId2" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/styles" Target="styles.xml"/>)"
        R"(</Relationships>)");
    parts.emplace_back(
        QStringLiteral("xl/styles.xml"),
        R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>)"
        R"(<styleSheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main">)"
        R"(<fonts count="1"><font><sz val="11"/><name val="Calibri"/></font></fonts>)"
        R"(<fills count="2"><fill><patternFill patternType="none"/></fill><fill><patternFill patternType="gray125"/></fill></fills>)"
        R"(<borders count="1"><border><left/><right/><top/><bottom/><diagonal/></border></borders>)"
        R"(<cellStyleXfs count="1"><xf numFmtId="0" fontId="0" fillId="0" borderId="0"/></cellStyleXfs>)"
        R"(<cellXfs count="1"><xf numFmtId="0" fontId="0" fillId="0" borderId="0" xfId="0"/></cellXfs>)"
        R"(<cellStyles count="1"><cellStyle name="Normal" xfId="0" builtinId="0"/></cellStyles>)"
        R"(</styleSheet>)");

    std::string data;
    int lastRow = 0, lastColumn = 0;
    for (int r = 0; r < rows.size() && r < maxRows; ++r) {
        std::string cells;
        for (int c = 0; c < rows[r].size() && c < maxColumns; ++c) {
            if (rows[r][c].isEmpty())
                continue;
            lastColumn = std::max(lastColumn, c + 1);
            const QString text = fitToCell(rows[r][c]);
            cells += "<c r=\"" + cellRef(r + 1, c + 1);
            if (isNumberText(text))
                cells += "\"><v>" + text.toStdString() + "</v></c>";
            else
                cells += "\" t=\"inlineStr\"><is><t xml:space=\"preserve\">" +
                         xmlEscaped(escapeOoxml(text)) + "</t></is></c>";
        }
        if (cells.empty())
            continue;
        lastRow = r + 1;
        data += "<row r=\"" + std::to_string(r + 1) + "\">" + cells + "</row>";
    }
    const std::string dimension = lastRow ? "A1:" + cellName(lastRow, lastColumn).toStdString() : "A1";
    const std::string sheet =
        R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>)"
        R"(<worksheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main">)"
        "<dimension ref=\"" +
        dimension + "\"/><sheetData>" + data + "</sheetData></worksheet>";
    parts.emplace_back(QStringLiteral("xl/worksheets/sheet1.xml"), QByteArray::fromStdString(sheet));

    writeAtomically(path, QStringLiteral(".xlsx"), [&](const QString& temp) {
        ZipPtr zip = createZip(temp, shown);
        addEntries(zip.get(), parts);
        closeZip(zip, shown);
    });
}
