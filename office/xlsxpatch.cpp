// Saving .xlsx packages: a read package with its changed cells patched in, or a new one.
#include "office/workbook.h"
#include "office/celltext.h"
#include "office/xlsxparts.h"
#include "office/xlsxsheetpatch.h"
#include "office/xlsxsheetpatchxml.h"
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
#include <ctime>
#include <memory>
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

const char* const plainWorkbookType =
    "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml";
const char* const macroWorkbookType = "application/vnd.ms-excel.sheet.macroEnabled.main+xml";
const char* const macroProjectType = "application/vnd.ms-office.vbaProject";

} // namespace

// Deflating the written parts is most of a large save's work. The fastest level costs a few percent
// in size against the default and takes a fraction of its time.
constexpr zip_uint32_t writtenPartLevel = 1;

// Adds data as a new entry deflated at writtenPartLevel; false, with source freed, on failure.
bool addStoredCopy(zip_t* dst, zip_t* from, qint64 index, const char* name) {
    zip_source_t* source = zip_source_zip(dst, from, zip_uint64_t(index), 0, 0, -1);
    const bool added = source && zip_file_add(dst, name, source, ZIP_FL_OVERWRITE) >= 0;
    if (source && !added)
        zip_source_free(source);
    return added;
}

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

[[noreturn]] void throwZipError(zip_t* zip, const QString& shown) {
    throw WorkbookError(QStringLiteral("cannot write %1: %2")
                            .arg(QDir::toNativeSeparators(shown), QString::fromUtf8(zip_strerror(zip))));
}

void closeZip(ZipPtr& zip, const QString& shown) {
    if (zip_close(zip.get()) != 0)
        throwZipError(zip.get(), shown);
    (void)zip.release(); // closed
}

StreamedPart::StreamedPart(Opener open, QString place) : m_open(std::move(open)), m_place(std::move(place)) {
    zip_error_init(&m_error);
}

StreamedPart::~StreamedPart() {
    zip_error_fini(&m_error);
}

zip_source_t* StreamedPart::source(zip_t* dst) {
    return zip_source_function(dst, &StreamedPart::callback, this);
}

zip_int64_t StreamedPart::callback(void* self, void* data, zip_uint64_t length, zip_source_cmd_t command) {
    return static_cast<StreamedPart*>(self)->handle(data, length, command);
}

zip_int64_t StreamedPart::handle(void* data, zip_uint64_t length, zip_source_cmd_t command) {
    try {
        switch (command) {
        case ZIP_SOURCE_OPEN:
            m_reader = nullptr;
            m_reader = m_open();
            return 0;
        case ZIP_SOURCE_READ: {
            const qint64 n = m_reader(static_cast<char*>(data), qint64(std::min<zip_uint64_t>(length, 1 << 20)));
            if (n == 0)
                m_reader = nullptr; // the original is read to its end: the archive is free for the entries after it
            return n;
        }
        case ZIP_SOURCE_CLOSE:
            m_reader = nullptr;
            return 0;
        case ZIP_SOURCE_STAT: {
            auto* st = static_cast<zip_stat_t*>(data);
            zip_stat_init(st);
            st->mtime = std::time(nullptr);
            st->valid |= ZIP_STAT_MTIME;
            return sizeof(zip_stat_t);
        }
        case ZIP_SOURCE_ERROR:
            return zip_error_to_data(&m_error, data, length);
        case ZIP_SOURCE_FREE:
            return 0;
        case ZIP_SOURCE_SUPPORTS:
            return zip_source_make_command_bitmap(ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE, ZIP_SOURCE_STAT,
                                                  ZIP_SOURCE_ERROR, ZIP_SOURCE_FREE, -1);
        default:
            zip_error_set(&m_error, ZIP_ER_OPNOTSUPP, 0);
            return -1;
        }
    } catch (const WorkbookError& e) {
        m_cause = m_place + e.cause();
    } catch (const std::exception& e) {
        m_cause = m_place + QString::fromLocal8Bit(e.what());
    }
    m_reader = nullptr;
    zip_error_set(&m_error, ZIP_ER_READ, 0);
    return -1;
}

namespace {

// A sheet patched as it streams into the new package, the original entry inflating in a second
// thread.
std::unique_ptr<StreamedPart> streamedSheet(const ZipArchive& zip, const PackagePatch::Sheet& sheet) {
    return std::make_unique<StreamedPart>(
        [&zip, sheet]() -> StreamedPart::Reader {
            auto input = std::make_shared<ZipPrefetchStream>(zip, sheet.part);
            auto patch = std::make_shared<SheetPatchStream>(
                [input](char* buffer, qint64 size) { return input->read(buffer, size); }, *sheet.edits,
                *sheet.layout, sheet.part);
            return [input, patch](char* buffer, qint64 size) { return patch->read(buffer, size); };
        },
        QStringLiteral("sheet %1, ").arg(sheet.number));
}

} // namespace

void writePatchedPackage(const ZipArchive& zip, const PackagePatch& patch, const QString& path,
                         const QString& shownPath) {
    std::map<QString, QByteArray> changed; // must outlive zip_close
    std::map<qint64, std::unique_ptr<StreamedPart>> streamed; // by entry, likewise
    std::set<QString> removed;
    bool formulaRemoved = false;
    for (const PackagePatch::Sheet& sheet : patch.sheets) {
        const qint64 index = zip.indexOf(sheet.part);
        if (index < 0)
            throw WorkbookError(QStringLiteral("sheet %1, %2: no such part in the package").arg(sheet.number).arg(sheet.part));
        // The sheet streams past once: what it needs to know of the whole sheet comes from reading
        // it, and only a sheet read whole and in order has it.
        if (!sheet.layout->complete)
            throw WorkbookError(
                QStringLiteral("sheet %1 was only read in part: it cannot be saved").arg(sheet.number));
        if (!sheet.layout->ordered)
            throw WorkbookError(QStringLiteral("sheet %1, %2: its rows or cells are out of order, so it "
                                               "cannot be patched")
                                    .arg(sheet.number)
                                    .arg(sheet.part));
        formulaRemoved = formulaRemoved || editsRemoveFormula(*sheet.layout, *sheet.edits);
        streamed[index] = streamedSheet(zip, sheet);
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
        const auto sheet = streamed.find(i);
        const char* rawName = zip_get_name(zip.handle(), zip_uint64_t(i), ZIP_FL_ENC_RAW);
        bool added = false;
        if (sheet != streamed.end()) {
            added = addDeflated(dst.get(), rawName, sheet->second->source(dst.get()), 0);
        } else if (it != changed.end()) {
            added = addDeflated(
                dst.get(), rawName,
                zip_source_buffer(dst.get(), it->second.constData(), zip_uint64_t(it->second.size()), 0), 0);
        } else {
            added = addStoredCopy(dst.get(), zip.handle(), i, rawName);
        }
        if (!added)
            throw WorkbookError(QStringLiteral("cannot copy %1 into the new package: %2")
                                    .arg(name, QString::fromUtf8(zip_strerror(dst.get()))));
    }
    if (zip_close(dst.get()) != 0) {
        for (const auto& [index, sheet] : streamed)
            if (!sheet->cause().isEmpty())
                throw WorkbookError(sheet->cause());
        throwZipError(dst.get(), shownPath);
    }
    (void)dst.release(); // closed
}

} // namespace xlsx

using namespace xlsx;

namespace {

std::string xmlEscaped(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    appendEscaped(out, text);
    return out;
}

} // namespace

void writeNewXlsx(const QString& path, const QList<QStringList>& rows, const QString& shownPath,
                  const NewSheetOptions& options) {
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
            if (options.numbers == NumberTexts::AsNumbers && isNumberText(text))
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
    std::string columns;
    for (int c = 0; c < options.columnWidths.size() && c < maxColumns; ++c) {
        const double width = options.columnWidths[c];
        if (width > 0)
            columns += "<col min=\"" + std::to_string(c + 1) + "\" max=\"" + std::to_string(c + 1) +
                       "\" width=\"" + numberText(std::min(width, 255.0)).toStdString() + "\" customWidth=\"1\"/>";
    }
    if (!columns.empty())
        columns = "<cols>" + columns + "</cols>";
    const std::string sheet =
        R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>)"
        R"(<worksheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main">)"
        "<dimension ref=\"" +
        dimension + "\"/>" + columns + "<sheetData>" + data + "</sheetData></worksheet>";
    parts.emplace_back(QStringLiteral("xl/worksheets/sheet1.xml"), QByteArray::fromStdString(sheet));

    writeAtomically(path, QStringLiteral(".xlsx"), [&](const QString& temp) {
        ZipPtr zip = createZip(temp, shown);
        addEntries(zip.get(), parts);
        closeZip(zip, shown);
    });
}
