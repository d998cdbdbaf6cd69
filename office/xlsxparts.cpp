#include "office/xlsxparts.h"

#include "office/workbook.h"
#include "office/zipfile.h"

#include <QUrl>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>

namespace xlsx {

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

void SheetLayout::noteRow(int row) {
    if (row < m_lastRow)
        ordered = false;
    if (row != m_lastRow)
        m_lastColumn = 0;
    m_lastRow = row;
}

void SheetLayout::noteFormula(int row, int column, std::string_view type, std::string_view group,
                              bool hasRange) {
    Formula f{cellKey(row, column), notShared, false};
    if (type == "shared") {
        uint32_t value = 0;
        const auto res = std::from_chars(group.data(), group.data() + group.size(), value);
        if (res.ec == std::errc() && res.ptr == group.data() + group.size() && value != notShared) {
            f.group = value;
            f.master = hasRange;
        }
    }
    formulas.push_back(f);
}

void SheetLayout::rewind(const Mark& m) {
    top = m.top;
    left = m.left;
    bottom = m.bottom;
    right = m.right;
    m_lastRow = m.lastRow;
    m_lastColumn = m.lastColumn;
    ordered = m.ordered;
    formulas.resize(m.formulas);
}

void SheetLayout::noteCell(int row, int column) {
    if (row < m_lastRow || (row == m_lastRow && column < m_lastColumn))
        ordered = false;
    if (row != m_lastRow)
        m_lastColumn = 0;
    m_lastRow = row;
    m_lastColumn = std::max(m_lastColumn, column);
    if (top == 0) {
        top = bottom = row;
        left = right = column;
        return;
    }
    top = std::min(top, row);
    bottom = std::max(bottom, row);
    left = std::min(left, column);
    right = std::max(right, column);
}

RefStatus parseCellRef(std::string_view text, int& row, int& column) {
    size_t i = 0;
    qint64 col = 0;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        const int letter = (c >= 'A' && c <= 'Z') ? c - 'A' + 1 : (c >= 'a' && c <= 'z') ? c - 'a' + 1 : 0;
        if (!letter)
            break;
        col = std::min<qint64>(col * 26 + letter, 1'000'000);
    }
    if (i == 0 || i == text.size() || text[i] == '0')
        return RefStatus::Malformed;
    qint64 r = 0;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c < '0' || c > '9')
            return RefStatus::Malformed;
        r = std::min<qint64>(r * 10 + (c - '0'), 100'000'000);
    }
    if (col > maxColumns)
        return RefStatus::ColumnTooLarge;
    if (r > maxRows)
        return RefStatus::RowTooLarge;
    row = int(r);
    column = int(col);
    return RefStatus::Ok;
}

QString refProblem(RefStatus status) {
    switch (status) {
    case RefStatus::Ok:
        return {};
    case RefStatus::Malformed:
        return QStringLiteral("not a cell reference");
    case RefStatus::RowTooLarge:
        return QStringLiteral("row beyond %1").arg(maxRows);
    case RefStatus::ColumnTooLarge:
        return QStringLiteral("column beyond XFD");
    }
    return {};
}

QString columnName(int column) {
    QString name;
    while (column > 0) {
        const int rest = (column - 1) % 26;
        name.prepend(QChar(u'A' + rest));
        column = (column - 1) / 26;
    }
    return name;
}

QString cellName(int row, int column) {
    return columnName(column) + QString::number(row);
}

static std::string_view localOf(const char* name) {
    std::string_view n(name);
    const size_t colon = n.rfind(':');
    return colon == std::string_view::npos ? n : n.substr(colon + 1);
}

bool isNamed(const pugi::xml_node& node, std::string_view local) {
    return node.type() == pugi::node_element && localOf(node.name()) == local;
}

pugi::xml_node child(const pugi::xml_node& node, std::string_view local) {
    for (pugi::xml_node c = node.first_child(); c; c = c.next_sibling())
        if (isNamed(c, local))
            return c;
    return {};
}

pugi::xml_attribute attribute(const pugi::xml_node& node, std::string_view local) {
    for (pugi::xml_attribute a = node.first_attribute(); a; a = a.next_attribute()) {
        const std::string_view name(a.name());
        if (name.substr(0, 6) == "xmlns:")
            continue;
        if (localOf(a.name()) == local)
            return a;
    }
    return {};
}

QByteArray prefixOf(const pugi::xml_node& node) {
    const std::string_view name(node.name());
    const size_t colon = name.rfind(':');
    return colon == std::string_view::npos ? QByteArray() : QByteArray(name.data(), qsizetype(colon + 1));
}

void parseXml(pugi::xml_document& doc, const QByteArray& data, const QString& part) {
    const auto result =
        doc.load_buffer(data.constData(), size_t(data.size()),
                        pugi::parse_default | pugi::parse_declaration | pugi::parse_ws_pcdata_single);
    if (!result)
        throw WorkbookError(QStringLiteral("%1: malformed XML at byte %2: %3")
                                .arg(part)
                                .arg(qint64(result.offset))
                                .arg(QString::fromUtf8(result.description())));
    if (!doc.document_element())
        throw WorkbookError(QStringLiteral("%1: no root element").arg(part));
}

namespace {
struct ByteWriter : pugi::xml_writer {
    QByteArray data;
    void write(const void* bytes, size_t size) override {
        data.append(static_cast<const char*>(bytes), qsizetype(size));
    }
};
} // namespace

QByteArray saveXml(const pugi::xml_document& doc) {
    ByteWriter writer;
    doc.save(writer, "", pugi::format_raw, pugi::encoding_utf8);
    return writer.data;
}

void loadXml(pugi::xml_document& doc, const ZipArchive& zip, const QString& part, qint64 limit) {
    parseXml(doc, zip.read(part, limit), part);
}

QString relationshipsPart(const QString& part) {
    const qsizetype slash = part.lastIndexOf(u'/');
    return part.left(slash + 1) + QStringLiteral("_rels/") + part.mid(slash + 1) + QStringLiteral(".rels");
}

QString resolveTarget(const QString& sourcePart, const QString& target) {
    QString path = QUrl::fromPercentEncoding(target.toUtf8());
    path.replace(u'\\', u'/');
    if (!path.startsWith(u'/'))
        path = sourcePart.left(sourcePart.lastIndexOf(u'/') + 1) + path;
    QStringList out;
    for (const QString& piece : path.split(u'/', Qt::SkipEmptyParts)) {
        if (piece == QLatin1String("."))
            continue;
        if (piece == QLatin1String("..")) {
            if (!out.isEmpty())
                out.removeLast();
            continue;
        }
        out << piece;
    }
    return out.join(u'/');
}

bool relationshipIs(const QString& type, std::string_view kind) {
    const QString suffix = u'/' + QString::fromLatin1(kind.data(), qsizetype(kind.size()));
    return type.endsWith(suffix, Qt::CaseInsensitive);
}

std::string escapeOoxml(const QString& text) {
    const QByteArray utf8 = text.toUtf8();
    std::string out;
    out.reserve(size_t(utf8.size()));
    auto isHex = [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; };
    for (qsizetype i = 0; i < utf8.size(); ++i) {
        const auto c = static_cast<unsigned char>(utf8[i]);
        const bool control = (c < 0x20 && c != '\t' && c != '\n') || c == 0x7F;
        // A literal "_x0041_" would read back as "A": escape its underscore.
        const bool looksEscaped = c == '_' && i + 6 < utf8.size() && utf8[i + 1] == 'x' &&
                                  isHex(utf8[i + 2]) && isHex(utf8[i + 3]) && isHex(utf8[i + 4]) &&
                                  isHex(utf8[i + 5]) && utf8[i + 6] == '_';
        if (control || looksEscaped) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "_x%04X_", unsigned(c));
            out += buf;
        } else {
            out += char(c);
        }
    }
    return out;
}

namespace {

bool isNameChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '.' || c == '\\' || c == '?' ||
           static_cast<unsigned char>(c) >= 0x80;
}

// One side of a reference: "$B", "7", "$B$7". Returns false when the piece is not of that shape.
struct RefPart {
    bool colAbs = false, rowAbs = false;
    qint64 col = 0, row = 0; // 0: absent
};

bool parseRefPart(std::string_view s, RefPart& p) {
    size_t i = 0;
    if (i < s.size() && s[i] == '$') {
        p.colAbs = true;
        ++i;
    }
    const size_t letters = i;
    while (i < s.size() && std::isalpha(static_cast<unsigned char>(s[i])) && i - letters < 4) {
        p.col = p.col * 26 + (std::toupper(static_cast<unsigned char>(s[i])) - 'A' + 1);
        ++i;
    }
    const size_t nLetters = i - letters;
    if (nLetters > 3)
        return false;
    if (nLetters == 0) {
        // a row alone ("$3"): the dollar belongs to the row
        p.rowAbs = p.colAbs;
        p.colAbs = false;
    } else if (i < s.size() && s[i] == '$') {
        p.rowAbs = true;
        ++i;
    }
    const size_t digits = i;
    while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i])) && i - digits < 8) {
        p.row = p.row * 10 + (s[i] - '0');
        ++i;
    }
    if (i != s.size())
        return false;
    if (nLetters == 0 && i == digits)
        return false;
    if (nLetters > 0 && i == digits && p.rowAbs)
        return false;
    return p.col <= maxColumns && p.row <= maxRows;
}

bool shiftPart(RefPart& p, int rowOffset, int columnOffset) {
    if (p.col) {
        if (!p.colAbs)
            p.col += columnOffset;
        if (p.col < 1 || p.col > maxColumns)
            return false;
    }
    if (p.row) {
        if (!p.rowAbs)
            p.row += rowOffset;
        if (p.row < 1 || p.row > maxRows)
            return false;
    }
    return true;
}

std::string partText(const RefPart& p) {
    std::string s;
    if (p.col) {
        if (p.colAbs)
            s += '$';
        s += columnName(int(p.col)).toStdString();
    }
    if (p.row) {
        if (p.rowAbs)
            s += '$';
        s += std::to_string(p.row);
    }
    return s;
}

} // namespace

std::string shiftFormula(std::string_view f, int rowOffset, int columnOffset) {
    std::string out;
    out.reserve(f.size() + 8);
    size_t i = 0;
    while (i < f.size()) {
        const char c = f[i];
        if (c == '"' || c == '\'') {
            // string literal or quoted sheet name: copied as is, doubled quotes included
            size_t j = i + 1;
            while (j < f.size()) {
                if (f[j] == c) {
                    if (j + 1 < f.size() && f[j + 1] == c) {
                        j += 2;
                        continue;
                    }
                    break;
                }
                ++j;
            }
            j = std::min(j + 1, f.size());
            out.append(f.substr(i, j - i));
            i = j;
            continue;
        }
        if (c == '[') {
            // structured reference or external book index
            int depth = 0;
            size_t j = i;
            for (; j < f.size(); ++j) {
                if (f[j] == '[')
                    ++depth;
                else if (f[j] == ']' && --depth == 0)
                    break;
            }
            j = std::min(j + 1, f.size());
            out.append(f.substr(i, j - i));
            i = j;
            continue;
        }
        if (!(isNameChar(c) || c == '$')) {
            out += c;
            ++i;
            continue;
        }
        // A token of name characters: a reference, a range, a number, a name or a function.
        size_t j = i;
        while (j < f.size() && (isNameChar(f[j]) || f[j] == '$'))
            ++j;
        std::string_view token = f.substr(i, j - i);
        const char after = j < f.size() ? f[j] : '\0';
        const bool numberToken = std::isdigit(static_cast<unsigned char>(c)) || c == '.';
        if (numberToken && (after == '+' || after == '-') && (token.back() == 'E' || token.back() == 'e')) {
            // 1E+5: not a row range
            out.append(token);
            i = j;
            continue;
        }
        if (after == '(' || after == '!' || after == '[') {
            out.append(token);
            i = j;
            continue;
        }
        RefPart first;
        if (!parseRefPart(token, first) || (numberToken && after != ':')) {
            out.append(token);
            i = j;
            continue;
        }
        // whole rows ("3:5") and columns ("B:D") only as ranges; cells alone or in ranges
        RefPart second;
        size_t end = j;
        bool range = false;
        if (after == ':') {
            size_t k = j + 1;
            while (k < f.size() && (isNameChar(f[k]) || f[k] == '$'))
                ++k;
            if (parseRefPart(f.substr(j + 1, k - j - 1), second) && (k >= f.size() || f[k] != '(') &&
                (first.col != 0) == (second.col != 0) && (first.row != 0) == (second.row != 0)) {
                range = true;
                end = k;
            }
        }
        if (!range && (first.col == 0 || first.row == 0)) {
            out.append(token);
            i = j;
            continue;
        }
        bool ok = shiftPart(first, rowOffset, columnOffset);
        if (range)
            ok = shiftPart(second, rowOffset, columnOffset) && ok;
        if (!ok)
            out += "#REF!";
        else {
            out += partText(first);
            if (range) {
                out += ':';
                out += partText(second);
            }
        }
        i = end;
    }
    return out;
}

} // namespace xlsx
