#include "mail/htmltext.h"

#include <QHash>
#include <QStringList>
#include <QStringView>

#include <algorithm>
#include <optional>
#include <utility>

namespace {

// The named references mail bodies use; any other name stays as written.
const QHash<QString, char32_t>& namedReferences()
{
    static const QHash<QString, char32_t> names{
        {"amp", U'&'},      {"lt", U'<'},       {"gt", U'>'},       {"quot", U'"'},     {"apos", U'\''},
        {"nbsp", 0xA0},     {"shy", 0xAD},      {"copy", 0xA9},     {"reg", 0xAE},      {"trade", 0x2122},
        {"euro", 0x20AC},   {"pound", 0xA3},    {"yen", 0xA5},      {"cent", 0xA2},     {"sect", 0xA7},
        {"para", 0xB6},     {"deg", 0xB0},      {"plusmn", 0xB1},   {"times", 0xD7},    {"divide", 0xF7},
        {"micro", 0xB5},    {"middot", 0xB7},   {"laquo", 0xAB},    {"raquo", 0xBB},    {"iexcl", 0xA1},
        {"iquest", 0xBF},   {"ndash", 0x2013},  {"mdash", 0x2014},  {"lsquo", 0x2018},  {"rsquo", 0x2019},
        {"sbquo", 0x201A},  {"ldquo", 0x201C},  {"rdquo", 0x201D},  {"bdquo", 0x201E},  {"hellip", 0x2026},
        {"bull", 0x2022},   {"dagger", 0x2020}, {"permil", 0x2030}, {"frac12", 0xBD},   {"frac14", 0xBC},
        {"frac34", 0xBE},   {"sup2", 0xB2},     {"sup3", 0xB3},     {"ordf", 0xAA},     {"ordm", 0xBA},
        {"Agrave", 0xC0},   {"Aacute", 0xC1},   {"Acirc", 0xC2},    {"Atilde", 0xC3},   {"Auml", 0xC4},
        {"Aring", 0xC5},    {"AElig", 0xC6},    {"Ccedil", 0xC7},   {"Egrave", 0xC8},   {"Eacute", 0xC9},
        {"Ecirc", 0xCA},    {"Euml", 0xCB},     {"Igrave", 0xCC},   {"Iacute", 0xCD},   {"Icirc", 0xCE},
        {"Iuml", 0xCF},     {"Ntilde", 0xD1},   {"Ograve", 0xD2},   {"Oacute", 0xD3},   {"Ocirc", 0xD4},
        {"Otilde", 0xD5},   {"Ouml", 0xD6},     {"Oslash", 0xD8},   {"Ugrave", 0xD9},   {"Uacute", 0xDA},
        {"Ucirc", 0xDB},    {"Uuml", 0xDC},     {"Yacute", 0xDD},   {"szlig", 0xDF},    {"agrave", 0xE0},
        {"aacute", 0xE1},   {"acirc", 0xE2},    {"atilde", 0xE3},   {"auml", 0xE4},     {"aring", 0xE5},
        {"aelig", 0xE6},    {"ccedil", 0xE7},   {"egrave", 0xE8},   {"eacute", 0xE9},   {"ecirc", 0xEA},
        {"euml", 0xEB},     {"igrave", 0xEC},   {"iacute", 0xED},   {"icirc", 0xEE},    {"iuml", 0xEF},
        {"ntilde", 0xF1},   {"ograve", 0xF2},   {"oacute", 0xF3},   {"ocirc", 0xF4},    {"otilde", 0xF5},
        {"ouml", 0xF6},     {"oslash", 0xF8},   {"ugrave", 0xF9},   {"uacute", 0xFA},   {"ucirc", 0xFB},
        {"uuml", 0xFC},     {"yacute", 0xFD},   {"yuml", 0xFF},     {"OElig", 0x152},   {"oelig", 0x153},
        {"Scaron", 0x160},  {"scaron", 0x161},  {"Zcaron", 0x17D},  {"zcaron", 0x17E},  {"larr", 0x2190},
        {"rarr", 0x2192},   {"uarr", 0x2191},   {"darr", 0x2193},   {"hearts", 0x2665}, {"check", 0x2713},
    };
    return names;
}

// The reference at text[at] ("&...;") decoded into out; the index after it, or `at` when there
// is no reference to decode there.
qsizetype decodeReference(QStringView text, qsizetype at, QString& out)
{
    const qsizetype semicolon = text.indexOf(u';', at + 1);
    if (semicolon < 0 || semicolon - at > 40)
        return at;
    const QStringView name = text.mid(at + 1, semicolon - at - 1);
    char32_t code = 0;
    if (name.startsWith(u'#')) {
        const bool hex = name.size() > 1 && (name[1] == u'x' || name[1] == u'X');
        bool ok = false;
        const uint number = name.mid(hex ? 2 : 1).toUInt(&ok, hex ? 16 : 10);
        if (!ok)
            return at;
        // Nothing a reference may not stand for: no NUL, no surrogate, nothing beyond Unicode.
        code = (number == 0 || (number >= 0xD800 && number <= 0xDFFF) || number > 0x10FFFF) ? 0xFFFD
                                                                                              : char32_t(number);
    } else {
        const auto it = namedReferences().constFind(name.toString());
        if (it == namedReferences().cend())
            return at;
        code = *it;
    }
    out += QString::fromUcs4(&code, 1);
    return semicolon + 1;
}

QString decodeReferences(QStringView text)
{
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size();) {
        if (text[i] == u'&') {
            const qsizetype next = decodeReference(text, i, out);
            if (next != i) {
                i = next;
                continue;
            }
        }
        out += text[i++];
    }
    return out;
}

bool isHtmlSpace(QChar c)
{
    return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r' || c == u'\f';
}

struct Tag {
    QString name; // lower case
    bool closing = false;
    QString href; // of an opening <a>, references decoded
};

// The tag that starts at text[at] ("<"); its end (the index after ">") in *end. False when no tag
// starts there: the "<" is text.
bool readTag(QStringView text, qsizetype at, Tag& tag, qsizetype* end)
{
    qsizetype i = at + 1;
    tag.closing = i < text.size() && text[i] == u'/';
    if (tag.closing)
        ++i;
    const qsizetype nameStart = i;
    while (i < text.size() && (text[i].isLetterOrNumber() && text[i].unicode() < 128))
        ++i;
    if (i == nameStart || !text[nameStart].isLetter())
        return false;
    tag.name = text.mid(nameStart, i - nameStart).toString().toLower();
    // Attributes up to the ">" that is not inside quotes.
    while (i < text.size() && text[i] != u'>') {
        if (isHtmlSpace(text[i]) || text[i] == u'/') {
            ++i;
            continue;
        }
        const qsizetype attributeStart = i;
        while (i < text.size() && !isHtmlSpace(text[i]) && text[i] != u'=' && text[i] != u'>' && text[i] != u'/')
            ++i;
        const QString attribute = text.mid(attributeStart, i - attributeStart).toString().toLower();
        while (i < text.size() && isHtmlSpace(text[i]))
            ++i;
        if (i >= text.size() || text[i] != u'=')
            continue;
        ++i;
        while (i < text.size() && isHtmlSpace(text[i]))
            ++i;
        QStringView value;
        if (i < text.size() && (text[i] == u'"' || text[i] == u'\'')) {
            const QChar quote = text[i];
            const qsizetype close = text.indexOf(quote, i + 1);
            if (close < 0)
                return false;
            value = text.mid(i + 1, close - i - 1);
            i = close + 1;
        } else {
            const qsizetype valueStart = i;
            while (i < text.size() && !isHtmlSpace(text[i]) && text[i] != u'>')
                ++i;
            value = text.mid(valueStart, i - valueStart);
        }
        if (attribute == QLatin1String("href") && tag.name == QLatin1String("a") && !tag.closing)
            tag.href = decodeReferences(value).trimmed();
    }
    if (i >= text.size())
        return false;
    *end = i + 1;
    return true;
}

// Skips what starts at text[at] and ends with `closing` (searched without regard to case); the
// index after it, or the end of the text.
qsizetype skipPast(QStringView text, qsizetype at, QStringView closing)
{
    const qsizetype found = text.indexOf(closing, at, Qt::CaseInsensitive);
    return found < 0 ? text.size() : found + closing.size();
}

// The text as it is written out: white space collapsed, line and paragraph breaks held back until
// the next visible character, so that nothing ends in breaks or blanks.
class TextWriter {
public:
    void text(QStringView piece, bool preformatted)
    {
        for (const QChar c : piece) {
            if (preformatted && (c == u'\n' || c == u'\r')) {
                if (c == u'\n')
                    lineBreak(/*forced*/ true);
                continue;
            }
            if (!preformatted && isHtmlSpace(c)) {
                m_space = true;
                continue;
            }
            visible(c);
        }
    }
    void lineBreak(bool forced = false)
    {
        // <br> and the lines of pre count each; a block boundary is one break however many meet.
        m_breaks = forced ? std::min(m_breaks + 1, 2) : std::max(m_breaks, 1);
        m_space = false;
    }
    void paragraph()
    {
        m_breaks = 2;
        m_space = false;
    }
    void bullet() { m_bullet = true; }
    void space() { m_space = true; }
    qsizetype size() const { return m_out.size(); }
    QString since(qsizetype at) const { return m_out.mid(at); }
    void append(const QString& text)
    {
        for (const QChar c : text)
            visible(c);
    }

    QString result()
    {
        QString out = m_out;
        out.replace(QChar(0xA0), QLatin1Char(' '));
        return out.isEmpty() ? out : out + u'\n';
    }

private:
    void visible(QChar c)
    {
        if (!m_out.isEmpty() && m_breaks > 0) {
            while (m_out.endsWith(u' '))
                m_out.chop(1);
            m_out += QString(m_breaks, u'\n');
        } else if (m_space && !m_out.isEmpty() && !m_out.endsWith(u'\n') && !m_out.endsWith(u' ')) {
            m_out += u' ';
        }
        if (m_bullet) {
            m_out += QLatin1String("- ");
            m_bullet = false;
        }
        m_breaks = 0;
        m_space = false;
        m_out += c;
    }

    QString m_out;
    int m_breaks = 0;
    bool m_space = false;
    bool m_bullet = false;
};

enum class Block { None, Line, Paragraph };

Block blockOf(const QString& name)
{
    static const QStringList paragraphs{"p", "h1", "h2", "h3", "h4", "h5", "h6", "ul", "ol", "dl", "table",
                                        "blockquote", "pre", "hr", "form", "fieldset", "address", "figure"};
    static const QStringList lines{"div", "li", "tr", "dt", "dd", "section", "article", "header", "footer",
                                   "nav", "main", "aside", "caption", "center", "figcaption", "body", "html"};
    if (paragraphs.contains(name))
        return Block::Paragraph;
    if (lines.contains(name))
        return Block::Line;
    return Block::None;
}

// The address a link shows: a mailto: link shows the address alone.
QString linkAddress(const QString& href)
{
    if (href.startsWith(QLatin1String("mailto:"), Qt::CaseInsensitive))
        return href.mid(7);
    return href;
}

} // namespace

QString htmlToText(const QString& html)
{
    const QStringView text(html);
    TextWriter out;
    int preformatted = 0;
    // The link being written: where its text begins in the output, and its address.
    std::optional<std::pair<qsizetype, QString>> link;
    qsizetype i = 0;
    while (i < text.size()) {
        const QChar c = text[i];
        if (c == u'&') {
            QString decoded;
            const qsizetype next = decodeReference(text, i, decoded);
            if (next != i) {
                out.text(decoded, preformatted > 0);
                i = next;
                continue;
            }
        }
        if (c != u'<') {
            qsizetype end = i + 1;
            while (end < text.size() && text[end] != u'<' && text[end] != u'&')
                ++end;
            out.text(text.mid(i, end - i), preformatted > 0);
            i = end;
            continue;
        }
        if (text.mid(i).startsWith(QLatin1String("<!--"))) {
            i = skipPast(text, i + 4, u"-->");
            continue;
        }
        if (i + 1 < text.size() && (text[i + 1] == u'!' || text[i + 1] == u'?')) {
            i = skipPast(text, i + 2, u">");
            continue;
        }
        Tag tag;
        qsizetype end = 0;
        if (!readTag(text, i, tag, &end)) {
            out.text(text.mid(i, 1), preformatted > 0);
            ++i;
            continue;
        }
        i = end;
        const QString& name = tag.name;
        if (!tag.closing && (name == QLatin1String("head") || name == QLatin1String("script")
                             || name == QLatin1String("style") || name == QLatin1String("title")
                             || name == QLatin1String("template"))) {
            i = skipPast(text, i, QString(QLatin1String("</") + name));
            i = skipPast(text, i, u">");
            continue;
        }
        if (name == QLatin1String("br")) {
            out.lineBreak(true);
        } else if (name == QLatin1String("td") || name == QLatin1String("th")) {
            out.space();
        } else if (name == QLatin1String("a")) {
            if (!tag.closing) {
                link.emplace(out.size(), tag.href);
            } else if (link) {
                const QString address = linkAddress(link->second);
                const QString shown = out.since(link->first).trimmed();
                if (!address.isEmpty() && !address.startsWith(u'#') && shown != address) {
                    if (!shown.isEmpty())
                        out.space();
                    out.append(u'<' + address + u'>');
                }
                link.reset();
            }
        } else {
            if (name == QLatin1String("pre"))
                preformatted = std::max(0, preformatted + (tag.closing ? -1 : 1));
            switch (blockOf(name)) {
            case Block::Paragraph:
                out.paragraph();
                break;
            case Block::Line:
                out.lineBreak();
                break;
            case Block::None:
                break;
            }
            if (name == QLatin1String("li") && !tag.closing)
                out.bullet();
        }
    }
    return out.result();
}

QString htmlEscaped(const QString& text)
{
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        switch (c.unicode()) {
        case u'&':
            out += QLatin1String("&amp;");
            break;
        case u'<':
            out += QLatin1String("&lt;");
            break;
        case u'>':
            out += QLatin1String("&gt;");
            break;
        case u'"':
            out += QLatin1String("&quot;");
            break;
        default:
            out += c;
        }
    }
    return out;
}
