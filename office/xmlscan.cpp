#include "office/xmlscan.h"

#include "office/workbook.h"

#include <cstring>

namespace {

constexpr size_t initialBuffer = 256 * 1024;
// A single tag or text run longer than this is not something a spreadsheet writes.
constexpr size_t tokenLimit = 64 * 1024 * 1024;
constexpr size_t depthLimit = 512;

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

std::string_view localName(std::string_view name) {
    const size_t colon = name.rfind(':');
    return colon == std::string_view::npos ? name : name.substr(colon + 1);
}

void appendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += char(c);
    } else if (c < 0x800) {
        out += char(0xC0 | (c >> 6));
        out += char(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += char(0xE0 | (c >> 12));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    } else {
        out += char(0xF0 | (c >> 18));
        out += char(0x80 | ((c >> 12) & 0x3F));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    }
}

int hexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

bool appendXmlText(std::string_view raw, std::string& out) {
    size_t pos = 0;
    while (pos < raw.size()) {
        const size_t amp = raw.find('&', pos);
        if (amp == std::string_view::npos) {
            out.append(raw.substr(pos));
            return true;
        }
        out.append(raw.substr(pos, amp - pos));
        const size_t semi = raw.find(';', amp);
        if (semi == std::string_view::npos || semi - amp > 12)
            return false;
        const std::string_view entity = raw.substr(amp + 1, semi - amp - 1);
        if (entity == "lt")
            out += '<';
        else if (entity == "gt")
            out += '>';
        else if (entity == "amp")
            out += '&';
        else if (entity == "quot")
            out += '"';
        else if (entity == "apos")
            out += '\'';
        else if (entity.size() >= 2 && entity[0] == '#') {
            const bool hex = entity[1] == 'x';
            char32_t code = 0;
            const std::string_view digits = entity.substr(hex ? 2 : 1);
            if (digits.empty())
                return false;
            for (char c : digits) {
                const int v = hex ? hexValue(c) : (c >= '0' && c <= '9' ? c - '0' : -1);
                if (v < 0)
                    return false;
                code = code * (hex ? 16 : 10) + char32_t(v);
                if (code > 0x10FFFF)
                    return false;
            }
            if (code == 0 || (code >= 0xD800 && code <= 0xDFFF))
                return false;
            appendUtf8(out, code);
        } else {
            return false;
        }
        pos = semi + 1;
    }
    return true;
}

void unescapeOoxml(std::string& text) {
    size_t pos = text.find("_x");
    if (pos == std::string::npos)
        return;
    std::string out;
    out.reserve(text.size());
    size_t copied = 0;
    while (pos != std::string::npos) {
        if (pos + 7 <= text.size() && text[pos + 6] == '_') {
            char32_t code = 0;
            bool ok = true;
            for (size_t i = pos + 2; i < pos + 6; ++i) {
                const int v = hexValue(text[i]);
                ok = ok && v >= 0;
                code = code * 16 + char32_t(v < 0 ? 0 : v);
            }
            if (ok && !(code >= 0xD800 && code <= 0xDFFF)) {
                out.append(text, copied, pos - copied);
                appendUtf8(out, code);
                copied = pos + 7;
                pos = text.find("_x", copied);
                continue;
            }
        }
        pos = text.find("_x", pos + 1);
    }
    out.append(text, copied, std::string::npos);
    text.swap(out);
}

XmlScanner::XmlScanner(Source source, QString partName)
    : m_source(std::move(source)), m_part(std::move(partName)), m_buf(initialBuffer) {
    m_attrs.reserve(16);
}

void XmlScanner::fail(const QString& what) const {
    throw WorkbookError(
        QStringLiteral("%1: malformed XML at byte %2: %3").arg(m_part).arg(m_tokenOffset).arg(what));
}

bool XmlScanner::fill() {
    if (m_eof)
        return false;
    if (m_begin > 0) {
        std::memmove(m_buf.data(), m_buf.data() + m_begin, m_end - m_begin);
        m_consumed += qint64(m_begin);
        m_end -= m_begin;
        m_begin = 0;
    }
    if (m_end == m_buf.size()) {
        if (m_buf.size() >= tokenLimit)
            fail(QStringLiteral("a single tag or text is longer than %1 MiB").arg(tokenLimit >> 20));
        m_buf.resize(m_buf.size() * 2);
    }
    const qint64 got = m_source(m_buf.data() + m_end, qint64(m_buf.size() - m_end));
    if (got <= 0) {
        m_eof = true;
        return false;
    }
    m_end += size_t(got);
    return true;
}

size_t XmlScanner::find(size_t from, std::string_view needle) {
    for (;;) {
        const size_t avail = m_end - m_begin;
        if (avail >= from + needle.size()) {
            const std::string_view hay(m_buf.data() + m_begin, avail);
            const size_t at = needle.size() == 1 ? hay.find(needle[0], from) : hay.find(needle, from);
            if (at != std::string_view::npos)
                return at;
            from = avail - (needle.size() - 1);
        }
        if (!fill())
            return std::string_view::npos;
    }
}

size_t XmlScanner::findTagEnd(size_t from) {
    char quote = 0;
    size_t i = from;
    for (;;) {
        const char* data = m_buf.data() + m_begin;
        const size_t avail = m_end - m_begin;
        for (; i < avail; ++i) {
            const char c = data[i];
            if (quote) {
                if (c == quote)
                    quote = 0;
            } else if (c == '"' || c == '\'') {
                quote = c;
            } else if (c == '>') {
                return i;
            } else if (c == '<') {
                fail(QStringLiteral("'<' inside a tag"));
            }
        }
        if (!fill())
            return std::string_view::npos;
    }
}

void XmlScanner::parseStartTag(std::string_view tag) {
    // tag: between '<' and '>' (a closing '/' removed)
    size_t i = 0;
    while (i < tag.size() && !isSpace(tag[i]))
        ++i;
    const std::string_view qname = tag.substr(0, i);
    if (qname.empty())
        fail(QStringLiteral("a tag without a name"));
    m_name = localName(qname);
    m_attrs.clear();
    for (;;) {
        while (i < tag.size() && isSpace(tag[i]))
            ++i;
        if (i == tag.size())
            break;
        const size_t nameStart = i;
        while (i < tag.size() && tag[i] != '=' && !isSpace(tag[i]))
            ++i;
        const std::string_view attrName = tag.substr(nameStart, i - nameStart);
        while (i < tag.size() && isSpace(tag[i]))
            ++i;
        if (attrName.empty() || i == tag.size() || tag[i] != '=')
            fail(QStringLiteral("attribute without a value in <%1>")
                     .arg(QString::fromUtf8(qname.data(), qname.size())));
        ++i;
        while (i < tag.size() && isSpace(tag[i]))
            ++i;
        if (i == tag.size() || (tag[i] != '"' && tag[i] != '\''))
            fail(QStringLiteral("attribute value without quotes"));
        const char quote = tag[i++];
        const size_t close = tag.find(quote, i);
        if (close == std::string_view::npos)
            fail(QStringLiteral("unterminated attribute value"));
        m_attrs.push_back({localName(attrName), tag.substr(i, close - i)});
        i = close + 1;
        if (i < tag.size() && !isSpace(tag[i]))
            fail(QStringLiteral("attributes run together"));
    }
    if (m_openEnds.size() >= depthLimit)
        fail(QStringLiteral("elements nested deeper than %1").arg(depthLimit));
    m_openNames.append(qname);
    m_openEnds.push_back(uint32_t(m_openNames.size()));
}

std::string_view XmlScanner::openName() const {
    const uint32_t begin = m_openEnds.size() > 1 ? m_openEnds[m_openEnds.size() - 2] : 0;
    return std::string_view(m_openNames).substr(begin, m_openEnds.back() - begin);
}

void XmlScanner::popOpen() {
    m_openEnds.pop_back();
    m_openNames.resize(m_openEnds.empty() ? 0 : m_openEnds.back());
}

bool XmlScanner::peekContent(std::string_view& content) {
    if (m_pendingEnd) {
        content = {};
        m_peekEnd = 0;
        m_peekTagLength = 0;
        return true;
    }
    // Only a short look ahead: an element without a plain end tag nearby is read the usual way.
    constexpr size_t window = 64 * 1024;
    while (m_end - m_begin < window && fill()) {
    }
    std::string closing = "</";
    closing += openName();
    closing += '>';
    const std::string_view ahead(m_buf.data() + m_begin, std::min(window, m_end - m_begin));
    const size_t at = ahead.find(closing);
    if (at == std::string_view::npos)
        return false;
    m_peekEnd = at;
    m_peekTagLength = closing.size();
    content = ahead.substr(0, at);
    return true;
}

std::string_view XmlScanner::peekAhead() {
    if (m_pendingEnd)
        return {};
    constexpr size_t window = 64 * 1024;
    while (m_end - m_begin < window && fill()) {
    }
    return std::string_view(m_buf.data() + m_begin, std::min(window, m_end - m_begin));
}

void XmlScanner::skipAhead(size_t n) {
    m_begin += n;
    popOpen();
}

void XmlScanner::skipElement() {
    if (m_pendingEnd) {
        m_pendingEnd = false;
        popOpen();
        return;
    }
    const std::string name(openName());
    int nested = 0;
    for (;;) {
        const size_t lt = find(0, "<");
        if (lt == std::string_view::npos) {
            m_tokenOffset = m_consumed + qint64(m_end);
            fail(QStringLiteral("the part ends inside <%1>").arg(QString::fromStdString(name)));
        }
        m_begin += lt;
        m_tokenOffset = m_consumed + qint64(m_begin);
        while (m_end - m_begin < name.size() + 3 && fill()) {
        }
        const std::string_view head(m_buf.data() + m_begin, m_end - m_begin);
        const bool closing = head.size() > 1 && head[1] == '/';
        const std::string_view after = head.substr(closing ? 2 : 1);
        const bool named = after.size() > name.size() && after.substr(0, name.size()) == name &&
                           (isSpace(after[name.size()]) || after[name.size()] == '>' || after[name.size()] == '/');
        if (!named) {
            ++m_begin;
            continue;
        }
        const size_t gt = findTagEnd(1);
        if (gt == std::string_view::npos)
            fail(QStringLiteral("unterminated tag"));
        const bool empty = !closing && m_buf[m_begin + gt - 1] == '/';
        m_begin += gt + 1;
        if (closing && nested-- == 0) {
            popOpen();
            return;
        }
        if (!closing && !empty)
            ++nested;
    }
}

void XmlScanner::skipPeeked() {
    if (m_pendingEnd) {
        m_pendingEnd = false;
    } else {
        m_begin += m_peekEnd + m_peekTagLength;
    }
    popOpen();
}

std::string_view XmlScanner::attribute(std::string_view name, bool* found) const {
    for (const Attr& a : m_attrs)
        if (a.name == name) {
            if (found)
                *found = true;
            return a.value;
        }
    if (found)
        *found = false;
    return {};
}

void XmlScanner::appendText(std::string& out) const {
    if (m_cdata)
        out.append(m_text);
    else if (!appendXmlText(m_text, out))
        fail(QStringLiteral("unknown or malformed entity"));
}

XmlScanner::Event XmlScanner::next() {
    if (m_pendingEnd) {
        m_pendingEnd = false;
        popOpen();
        return EndElement; // name still set from the start tag
    }
    for (;;) {
        if (m_begin == m_end && !fill()) {
            m_tokenOffset = m_consumed + qint64(m_begin);
            if (!m_openEnds.empty())
                fail(QStringLiteral("the part ends inside <%1>")
                         .arg(QString::fromStdString(std::string(openName()))));
            if (!m_sawRoot)
                fail(QStringLiteral("no root element"));
            return End;
        }
        if (!m_started) {
            m_started = true;
            if (m_end - m_begin < 3)
                fill();
            if (m_end - m_begin >= 3 && std::memcmp(m_buf.data() + m_begin, "\xEF\xBB\xBF", 3) == 0)
                m_begin += 3;
            continue;
        }
        m_tokenOffset = m_consumed + qint64(m_begin);
        if (m_buf[m_begin] != '<') {
            size_t lt = find(0, "<");
            if (lt == std::string_view::npos)
                lt = m_end - m_begin;
            m_text = std::string_view(m_buf.data() + m_begin, lt);
            m_begin += lt;
            m_cdata = false;
            if (m_openEnds.empty()) {
                for (char c : m_text)
                    if (!isSpace(c))
                        fail(QStringLiteral("text outside the root element"));
                continue;
            }
            return Text;
        }
        if (m_end - m_begin < 2 && !fill())
            fail(QStringLiteral("the part ends inside a tag"));
        const char second = m_buf[m_begin + 1];
        if (second == '/') {
            const size_t gt = find(2, ">");
            if (gt == std::string_view::npos)
                fail(QStringLiteral("the part ends inside a tag"));
            std::string_view qname(m_buf.data() + m_begin + 2, gt - 2);
            while (!qname.empty() && isSpace(qname.back()))
                qname.remove_suffix(1);
            if (m_openEnds.empty() || openName() != qname)
                fail(QStringLiteral("</%1> does not close the open element")
                         .arg(QString::fromUtf8(qname.data(), qname.size())));
            popOpen();
            m_name = localName(qname);
            m_begin += gt + 1;
            return EndElement;
        }
        if (second == '?') {
            const size_t end = find(2, "?>");
            if (end == std::string_view::npos)
                fail(QStringLiteral("unterminated processing instruction"));
            m_begin += end + 2;
            continue;
        }
        if (second == '!') {
            if (m_end - m_begin < 9)
                fill();
            const std::string_view head(m_buf.data() + m_begin, std::min<size_t>(9, m_end - m_begin));
            if (head.substr(0, 4) == "<!--") {
                const size_t end = find(4, "-->");
                if (end == std::string_view::npos)
                    fail(QStringLiteral("unterminated comment"));
                m_begin += end + 3;
                continue;
            }
            if (head == "<![CDATA[") {
                const size_t end = find(9, "]]>");
                if (end == std::string_view::npos)
                    fail(QStringLiteral("unterminated CDATA section"));
                if (m_openEnds.empty())
                    fail(QStringLiteral("text outside the root element"));
                m_text = std::string_view(m_buf.data() + m_begin + 9, end - 9);
                m_cdata = true;
                m_begin += end + 3;
                return Text;
            }
            fail(QStringLiteral("document type declarations are not accepted"));
        }
        const size_t gt = findTagEnd(1);
        if (gt == std::string_view::npos)
            fail(QStringLiteral("the part ends inside a tag"));
        std::string_view tag(m_buf.data() + m_begin + 1, gt - 1);
        const bool selfClosing = !tag.empty() && tag.back() == '/';
        if (selfClosing)
            tag.remove_suffix(1);
        if (m_openEnds.empty() && m_sawRoot)
            fail(QStringLiteral("a second root element"));
        parseStartTag(tag);
        m_sawRoot = true;
        m_begin += gt + 1;
        m_pendingEnd = selfClosing;
        return StartElement;
    }
}
