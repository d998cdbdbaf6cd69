#include "office/odspatch.h"

#include "office/xlsxsheetpatchxml.h"

#include "office/celltext.h"
#include "office/odsparts.h"
#include "office/workbook.h"
#include "office/zipfile.h"

#include <QDir>

#include <cstring>

using namespace xlsx;

namespace ods {

namespace {

// A row captured for patching larger than this is refused: it is held whole.
constexpr qint64 rowLimit = qint64(64) << 20;

struct RawAttribute {
    std::string_view name;  // qualified
    std::string_view whole; // name="value", quotes included
};

struct RawTag {
    std::string_view name;
    std::vector<RawAttribute> attributes;
    bool selfClosing = false;
};

// tag: "<name a="1" b='2'>" or "<name/>", already checked by the scanner.
RawTag parseTag(std::string_view tag) {
    RawTag out;
    size_t i = 1;
    while (i < tag.size() && !isSpace(tag[i]) && tag[i] != '/' && tag[i] != '>')
        ++i;
    out.name = tag.substr(1, i - 1);
    for (;;) {
        while (i < tag.size() && isSpace(tag[i]))
            ++i;
        if (i >= tag.size() || tag[i] == '/' || tag[i] == '>')
            break;
        const size_t start = i;
        while (i < tag.size() && tag[i] != '=' && !isSpace(tag[i]))
            ++i;
        const std::string_view name = tag.substr(start, i - start);
        const size_t quote = tag.find_first_of("\"'", i);
        if (quote == std::string_view::npos)
            break;
        const size_t close = tag.find(tag[quote], quote + 1);
        if (close == std::string_view::npos)
            break;
        out.attributes.push_back({name, tag.substr(start, close + 1 - start)});
        i = close + 1;
    }
    out.selfClosing = tag.size() >= 2 && tag[tag.size() - 2] == '/';
    return out;
}

size_t localTagEnd(std::string_view text, size_t from) {
    char quote = 0;
    for (size_t i = from; i < text.size(); ++i) {
        const char c = text[i];
        if (quote) {
            if (c == quote)
                quote = 0;
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == '>') {
            return i + 1;
        }
    }
    return text.size();
}

std::string_view prefixOf(std::string_view qname) {
    const size_t colon = qname.find(':');
    return colon == std::string_view::npos ? std::string_view() : qname.substr(0, colon + 1);
}

// The start tag rebuilt without the attributes dropped, with a repetition attribute of count when
// it is more than 1, and self-closing as the original was.
std::string startTag(const RawTag& tag, std::string_view repeatAttribute, uint64_t count) {
    std::string out = "<" + std::string(tag.name);
    for (const RawAttribute& a : tag.attributes) {
        const std::string_view local = localPart(a.name);
        if (local == repeatAttribute)
            continue;
        out += ' ';
        out += a.whole;
    }
    if (count > 1)
        out += ' ' + std::string(prefixOf(tag.name)) + std::string(repeatAttribute) + "=\"" + std::to_string(count) + '"';
    out += tag.selfClosing ? "/>" : ">";
    return out;
}

// One line of a text cell as a paragraph's content: runs of spaces that a reader would collapse
// (more than one, or at either end) and tabs as their elements.
void appendParagraph(std::string& out, QStringView line, std::string_view text) {
    qsizetype i = 0;
    while (i < line.size()) {
        const QChar c = line[i];
        if (c == u'\t') {
            out += '<' + std::string(text) + "tab/>";
            ++i;
            continue;
        }
        if (c != u' ') {
            qsizetype j = i;
            while (j < line.size() && line[j] != u' ' && line[j] != u'\t')
                ++j;
            // A line ending of a CR LF value is no part of the paragraph.
            const QByteArray word = line.mid(i, j - i).toUtf8().replace('\r', QByteArray());
            appendEscaped(out, std::string_view(word.constData(), size_t(word.size())));
            i = j;
            continue;
        }
        qsizetype j = i;
        while (j < line.size() && line[j] == u' ')
            ++j;
        qsizetype run = j - i;
        if (i > 0 && j < line.size()) { // one space between words is written as it is
            out += ' ';
            --run;
        }
        if (run == 1)
            out += '<' + std::string(text) + "s/>";
        else if (run > 1)
            out += '<' + std::string(text) + "s " + std::string(text) + "c=\"" + std::to_string(run) + "\"/>";
        i = j;
    }
}

// The extents of the children of the element in xml, which the scanner has found well formed.
std::vector<std::pair<size_t, size_t>> childElements(std::string_view xml) {
    std::vector<std::pair<size_t, size_t>> children;
    size_t i = localTagEnd(xml, 0);
    size_t start = 0;
    int depth = 0;
    auto skipTo = [&](size_t from, std::string_view end) {
        const size_t at = xml.find(end, from);
        return at == std::string_view::npos ? xml.size() : at + end.size();
    };
    while (i < xml.size()) {
        const size_t lt = xml.find('<', i);
        if (lt == std::string_view::npos || lt + 1 >= xml.size())
            break;
        if (xml.substr(lt, 4) == "<!--") {
            i = skipTo(lt, "-->");
        } else if (xml.substr(lt, 9) == "<![CDATA[") {
            i = skipTo(lt, "]]>");
        } else if (xml[lt + 1] == '?') {
            i = skipTo(lt, "?>");
        } else {
            const size_t gt = localTagEnd(xml, lt);
            if (xml[lt + 1] == '/') {
                if (depth == 0)
                    break; // the element's own end
                if (--depth == 0)
                    children.emplace_back(start, gt);
            } else if (xml[gt - 2] == '/') {
                if (depth == 0)
                    children.emplace_back(lt, gt);
            } else if (depth++ == 0) {
                start = lt;
            }
            i = gt;
        }
    }
    return children;
}

const std::vector<std::string_view> valueAttributes = {"value-type", "value", "date-value", "time-value",
                                                        "boolean-value", "string-value", "currency", "formula"};

} // namespace

ContentPatchStream::ContentPatchStream(Source source, const std::vector<OdsSheetEdits>& sheets)
    : m_source(std::move(source)) {
    for (const OdsSheetEdits& sheet : sheets) {
        if (sheet.number < 1)
            continue;
        if (m_sheets.size() < size_t(sheet.number))
            m_sheets.resize(size_t(sheet.number), nullptr);
        m_sheets[size_t(sheet.number - 1)] = &sheet;
    }
    m_scanner = std::make_unique<XmlScanner>(
        [this](char* buffer, qint64 size) {
            const qint64 n = m_source(buffer, size);
            if (n > 0)
                m_raw.append(buffer, size_t(n));
            return n;
        },
        QStringLiteral("content.xml"));
}

void ContentPatchStream::fail(const QString& what) const {
    throw WorkbookError(QStringLiteral("sheet %1, row %2: %3").arg(m_sheet).arg(m_row).arg(what));
}

std::string_view ContentPatchStream::rawAt(qint64 from, qint64 to) const {
    return std::string_view(m_raw).substr(size_t(from - m_rawBase), size_t(to - from));
}

qint64 ContentPatchStream::tagEnd(qint64 offset) const {
    return m_rawBase + qint64(localTagEnd(m_raw, size_t(offset - m_rawBase)));
}

void ContentPatchStream::emitUpTo(qint64 offset) {
    if (offset <= m_copied)
        return;
    m_out.append(rawAt(m_copied, offset));
    m_copied = offset;
}

void ContentPatchStream::learnPrefixes(std::string_view rootTag) {
    const RawTag root = parseTag(rootTag);
    auto find = [&](std::string_view uri, const char* fallback, std::string& prefix) {
        for (const RawAttribute& a : root.attributes) {
            if (a.name.substr(0, 6) != "xmlns:")
                continue;
            const size_t eq = a.whole.find('=');
            const std::string_view value = a.whole.substr(eq + 2, a.whole.size() - eq - 3);
            if (value == uri) {
                prefix = std::string(a.name.substr(6)) + ':';
                return;
            }
        }
        prefix = std::string(fallback) + ':';
        m_declarations += " xmlns:" + std::string(fallback) + "=\"" + std::string(uri) + '"';
    };
    find(officeNamespace, "twoffice", m_office);
    find(textNamespace, "twtext", m_text);
}

void ContentPatchStream::appendNewCell(std::string& out, std::string_view qname, std::string_view keptAttributes,
                                       const QString& text) const {
    out += '<';
    out += qname;
    out += keptAttributes;
    if (text.isEmpty()) {
        out += "/>";
        return;
    }
    out += m_declarations;
    const std::string p = '<' + m_text + "p>", pEnd = "</" + m_text + "p>";
    if (isNumberText(text)) {
        const std::string number = text.toStdString();
        out += ' ' + m_office + "value-type=\"float\" " + m_office + "value=\"" + number + "\">" + p + number + pEnd;
    } else {
        out += ' ' + m_office + "value-type=\"string\">";
        QString lines = text;
        lines.replace(QLatin1String("\r\n"), QLatin1String("\n")).replace(u'\r', u'\n');
        for (QStringView line : QStringView(lines).split(u'\n')) {
            out += p;
            appendParagraph(out, line, m_text);
            out += pEnd;
        }
    }
    out += "</";
    out += qname;
    out += '>';
}

void ContentPatchStream::appendNewCells(std::string& out, std::string_view prefix, uint64_t row, uint64_t fromColumn) {
    const auto end = m_target->edits.end();
    const std::string cell = std::string(prefix) + "table-cell";
    for (; m_next != end && uint64_t(keyRow(m_next->first)) == row; ++m_next) {
        const uint64_t column = uint64_t(keyColumn(m_next->first));
        if (m_next->second.isEmpty() || column < fromColumn)
            continue; // nothing to write where there was no cell
        if (column > fromColumn)
            out += startTag(RawTag{cell, {}, true}, "number-columns-repeated", column - fromColumn);
        appendNewCell(out, cell, {}, m_next->second);
        fromColumn = column + 1;
    }
}

void ContentPatchStream::appendPatchedCells(std::string& out, std::string_view rowXml, std::string_view prefix,
                                            uint64_t row) {
    const auto end = m_target->edits.end();
    uint64_t column = 1;
    for (const auto& [cellStart, cellEnd] : childElements(rowXml)) {
        const std::string_view cellXml = rowXml.substr(cellStart, cellEnd - cellStart);
        const size_t tagLength = localTagEnd(cellXml, 0);
        const std::string_view rawTag = cellXml.substr(0, tagLength);
        const std::string_view local = localPart(rawTag.substr(1, rawTag.find_first_of(" \t\r\n/>", 1) - 1));
        if (local != "table-cell" && local != "covered-table-cell") {
            out += cellXml; // not a cell: it takes no column
            continue;
        }
        // Most cells get no edit: their tag is taken apart only when one does.
        std::string_view repeatText;
        bool present = false;
        RawTag tag;
        if (rawTag.find("number-columns-repeated") != std::string_view::npos) {
            tag = parseTag(rawTag);
            for (const RawAttribute& a : tag.attributes)
                if (localPart(a.name) == "number-columns-repeated") {
                    present = true;
                    repeatText = a.whole.substr(a.whole.find('=') + 2);
                    repeatText.remove_suffix(1);
                }
        }
        const uint64_t count = repeatCount(repeatText, present);
        if (count == 0)
            fail(QStringLiteral("\"%1\" is no count of repeated columns")
                     .arg(QString::fromUtf8(repeatText.data(), qsizetype(std::min<size_t>(repeatText.size(), 24)))));
        const uint64_t last = column + count - 1;
        uint64_t at = column;
        bool edited = false;
        std::string kept;
        const std::string_view rest = cellXml.substr(tagLength);
        for (; m_next != end && uint64_t(keyRow(m_next->first)) == row &&
               uint64_t(keyColumn(m_next->first)) <= last;
             ++m_next) {
            if (tag.name.empty())
                tag = parseTag(rawTag);
            const uint64_t target = uint64_t(keyColumn(m_next->first));
            if (target > at)
                (out += startTag(tag, "number-columns-repeated", target - at)) += rest;
            if (!edited) {
                // The cell keeps its style, merge and validation; its value and formula go.
                for (const RawAttribute& a : tag.attributes) {
                    const std::string_view local = localPart(a.name);
                    if (local != "number-columns-repeated" &&
                        std::find(valueAttributes.begin(), valueAttributes.end(), local) == valueAttributes.end())
                        (kept += ' ') += a.whole;
                }
                edited = true;
            }
            appendNewCell(out, tag.name, kept, m_next->second);
            at = target + 1;
        }
        if (!edited)
            out += cellXml; // no edit: as it was
        else if (at <= last)
            (out += startTag(tag, "number-columns-repeated", last - at + 1)) += rest;
        column = last + 1;
    }
    appendNewCells(out, prefix, row, column);
}

std::string ContentPatchStream::patchedRows(std::string_view rowXml, uint64_t firstRow, uint64_t count) {
    const size_t tagLength = localTagEnd(rowXml, 0);
    const RawTag tag = parseTag(rowXml.substr(0, tagLength));
    const std::string_view rest = rowXml.substr(tagLength);
    const std::string prefix(prefixOf(tag.name));
    const uint64_t last = firstRow + count - 1;
    const auto end = m_target->edits.end();
    std::string out;
    uint64_t row = firstRow;
    while (m_next != end && uint64_t(keyRow(m_next->first)) <= last) {
        const uint64_t target = uint64_t(keyRow(m_next->first));
        if (target > row)
            (out += startTag(tag, "number-rows-repeated", target - row)) += rest;
        RawTag single = tag;
        single.selfClosing = false;
        out += startTag(single, "number-rows-repeated", 1);
        if (tag.selfClosing)
            appendNewCells(out, prefix, target, 1);
        else
            appendPatchedCells(out, rowXml, prefix, target);
        out += "</" + std::string(tag.name) + '>';
        row = target + 1;
    }
    if (row <= last)
        (out += startTag(tag, "number-rows-repeated", last - row + 1)) += rest;
    return out;
}

std::string ContentPatchStream::newRows(uint64_t fromRow) {
    const auto end = m_target->edits.end();
    const std::string row = m_tablePrefix + "table-row";
    const std::string cell = m_tablePrefix + "table-cell";
    std::string out;
    while (m_next != end) {
        const uint64_t target = uint64_t(keyRow(m_next->first));
        if (target > fromRow)
            out += startTag(RawTag{row, {}, false}, "number-rows-repeated", target - fromRow) + '<' + cell + "/></" +
                   row + '>';
        out += '<' + row + '>';
        appendNewCells(out, m_tablePrefix, target, 1);
        out += "</" + row + '>';
        fromRow = target + 1;
    }
    return out;
}

void ContentPatchStream::rowEnded(qint64 end) {
    if (m_captureRow) {
        m_out += patchedRows(rawAt(m_rowStart, end), m_row, m_rowRepeat);
        m_copied = end;
        m_holdFrom = -1;
        m_captureRow = false;
        if (m_insertAt == end)
            m_holdFrom = end;
    }
    m_rowDepth = -1;
    m_row = std::min<uint64_t>(m_row + m_rowRepeat, uint64_t(1) << 62);
}

void ContentPatchStream::step() {
    XmlScanner& xml = *m_scanner;
    const XmlScanner::Event event = xml.next();
    if (event == XmlScanner::End) {
        emitUpTo(m_rawBase + qint64(m_raw.size()));
        m_done = true;
        return;
    }
    const qint64 at = xml.offset();
    if (m_captureRow && at - m_rowStart > rowLimit)
        fail(QStringLiteral("a row of more than %1 MB cannot be patched").arg(rowLimit >> 20));
    if (event == XmlScanner::StartElement) {
        ++m_depth;
        const std::string_view name = xml.name();
        if (m_depth == 1)
            learnPrefixes(rawAt(at, tagEnd(at)));
        if (m_skipDepth >= 0 || m_bodyDepth == -2) {
            // inside an element passed as it is
        } else if (m_bodyDepth < 0) {
            if (name == "spreadsheet")
                m_bodyDepth = m_depth;
        } else if (m_tableDepth < 0) {
            if (name == "table" && m_depth == m_bodyDepth + 1) {
                ++m_sheet;
                m_tableDepth = m_depth;
                m_row = 1;
                m_target = size_t(m_sheet) <= m_sheets.size() ? m_sheets[size_t(m_sheet - 1)] : nullptr;
                if (m_target) {
                    m_next = m_target->edits.begin();
                    const qint64 end = tagEnd(at);
                    m_tablePrefix = std::string(prefixOf(rawAt(at + 1, end)));
                    m_insertAt = end;
                    m_holdFrom = end;
                }
            }
            if (!m_target)
                m_skipDepth = m_depth;
        } else if (m_rowDepth >= 0) {
            m_skipDepth = m_depth; // a row's cells: passed, or patched when the row ends
        } else {
            const bool tableChild = name.substr(0, 6) == "table-";
            if (m_depth == m_tableDepth + 1 && tableChild)
                m_holdFrom = -1;
            if (name == "table-row") {
                bool found = false;
                const std::string_view value = xml.attribute("number-rows-repeated", &found);
                m_rowRepeat = repeatCount(value, found);
                if (m_rowRepeat == 0)
                    fail(QStringLiteral("\"%1\" is no count of repeated rows")
                             .arg(QString::fromUtf8(value.data(), qsizetype(std::min<size_t>(value.size(), 24)))));
                m_rowDepth = m_depth;
                m_captureRow = m_next != m_target->edits.end() &&
                               uint64_t(keyRow(m_next->first)) <= m_row + m_rowRepeat - 1;
                if (m_captureRow) {
                    emitUpTo(at);
                    m_rowStart = at;
                    m_holdFrom = at;
                }
                // A row whose end is near is taken in one step: its cells need no scanning.
                // (Not one that holds a table of its own, whose rows would end first.)
                // The tag is copied: looking ahead reads more input, which may move what is held.
                const qint64 startEnd = tagEnd(at);
                const std::string tag(rawAt(at, startEnd));
                const size_t nameLength = tag.find_first_of(" \t\r\n/>", 1) - 1;
                const bool selfClosing = tag.size() >= 2 && tag[tag.size() - 2] == '/';
                std::string_view content;
                if (xml.peekContent(content) &&
                    content.find(std::string_view(tag).substr(0, nameLength + 1)) == std::string_view::npos) {
                    const qint64 end = selfClosing ? startEnd : startEnd + qint64(content.size() + nameLength + 3);
                    xml.skipPeeked();
                    if (m_depth-- == m_tableDepth + 1) {
                        m_insertAt = end;
                        m_holdFrom = end;
                    }
                    rowEnded(end);
                }
            } else if (name != "table-row-group" && name != "table-header-rows" && name != "table-rows") {
                m_skipDepth = m_depth;
            }
        }
    } else if (event == XmlScanner::EndElement) {
        const int closed = m_depth--;
        const std::string_view name = xml.name();
        if (m_skipDepth >= 0 && closed > m_skipDepth)
            goto flush;
        if (closed == m_skipDepth)
            m_skipDepth = -1;
        if (closed == m_rowDepth)
            rowEnded(tagEnd(at));
        if (m_target && closed == m_tableDepth + 1 && name.substr(0, 6) == "table-") {
            m_insertAt = tagEnd(at);
            m_holdFrom = m_insertAt;
        }
        if (closed == m_tableDepth) {
            if (m_target && m_next != m_target->edits.end()) {
                emitUpTo(m_insertAt);
                m_out += newRows(m_row);
            }
            m_holdFrom = -1;
            m_tableDepth = -1;
            m_target = nullptr;
        } else if (closed == m_bodyDepth) {
            m_bodyDepth = -2; // the sheets are done
        }
    }
flush:
    const qint64 safe = m_holdFrom < 0 ? at : std::min(at, m_holdFrom);
    if (safe - m_copied > (qint64(256) << 10))
        emitUpTo(safe);
    // What is written or replaced is no longer needed.
    if (m_copied - m_rawBase > (qint64(1) << 20)) {
        m_raw.erase(0, size_t(m_copied - m_rawBase));
        m_rawBase = m_copied;
    }
}

qint64 ContentPatchStream::read(char* buffer, qint64 size) {
    while (qint64(m_out.size() - m_outPos) < size && !m_done)
        step();
    const size_t n = std::min(size_t(size), m_out.size() - m_outPos);
    std::memcpy(buffer, m_out.data() + m_outPos, n);
    m_outPos += n;
    if (m_outPos == m_out.size()) {
        m_out.clear();
        m_outPos = 0;
    } else if (m_outPos > (size_t(1) << 20)) {
        m_out.erase(0, m_outPos);
        m_outPos = 0;
    }
    return qint64(n);
}

} // namespace ods

void writePatchedOds(const ZipArchive& zip, const std::vector<OdsSheetEdits>& sheets, const QString& path,
                     const QString& shownPath) {
    for (const OdsSheetEdits& sheet : sheets)
        for (const auto& [key, text] : sheet.edits)
            if (keyRow(key) < 1 || keyRow(key) > maxRows || keyColumn(key) < 1 || keyColumn(key) > maxColumns)
                throw WorkbookError(QStringLiteral("sheet %1, row %2, column %3 is outside the sheet")
                                        .arg(sheet.number)
                                        .arg(keyRow(key))
                                        .arg(keyColumn(key)));
    const QString content = QStringLiteral("content.xml");
    const qint64 contentIndex = zip.indexOf(content);
    if (contentIndex < 0)
        throw WorkbookError(QStringLiteral("the package holds no content.xml"));
    // The type goes first and stored, so that the file is known by its first bytes.
    const qint64 typeIndex = zip.indexOf(QStringLiteral("mimetype"));
    const QByteArray type =
        typeIndex >= 0 ? zip.read(QStringLiteral("mimetype"), 256) : QByteArray(ods::spreadsheetType.data());

    StreamedPart patched(
        [&zip, &sheets]() -> StreamedPart::Reader {
            auto input = std::make_shared<ZipPrefetchStream>(zip, QStringLiteral("content.xml"));
            auto patch = std::make_shared<ods::ContentPatchStream>(
                [input](char* buffer, qint64 size) { return input->read(buffer, size); }, sheets);
            return [input, patch](char* buffer, qint64 size) { return patch->read(buffer, size); };
        },
        QString());

    ZipPtr dst = createZip(path, shownPath);
    zip_source_t* typeSource = zip_source_buffer(dst.get(), type.constData(), zip_uint64_t(type.size()), 0);
    const zip_int64_t typeEntry = typeSource ? zip_file_add(dst.get(), "mimetype", typeSource, 0) : -1;
    if (typeEntry < 0) {
        if (typeSource)
            zip_source_free(typeSource);
        throwZipError(dst.get(), shownPath);
    }
    if (zip_set_file_compression(dst.get(), zip_uint64_t(typeEntry), ZIP_CM_STORE, 0) != 0)
        throwZipError(dst.get(), shownPath);
    for (qint64 i = 0; i < zip.entryCount(); ++i) {
        if (i == typeIndex)
            continue;
        const char* rawName = zip_get_name(zip.handle(), zip_uint64_t(i), ZIP_FL_ENC_RAW);
        bool added = false;
        if (i == contentIndex && !sheets.empty()) {
            added = addDeflated(dst.get(), rawName, patched.source(dst.get()), 0);
        } else {
            added = addStoredCopy(dst.get(), zip.handle(), i, rawName);
        }
        if (!added)
            throw WorkbookError(QStringLiteral("cannot copy %1 into the new package: %2")
                                    .arg(zip.entryName(i), QString::fromUtf8(zip_strerror(dst.get()))));
    }
    if (zip_close(dst.get()) != 0) {
        if (!patched.cause().isEmpty())
            throw WorkbookError(patched.cause());
        throwZipError(dst.get(), shownPath);
    }
    (void)dst.release(); // closed
}
