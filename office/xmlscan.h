#pragma once
#include <QString>

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

// A pull scanner over XML that arrives in pieces (an inflating zip entry). It holds only the
// token at hand, so memory does not grow with the document, and it checks what a reader of
// spreadsheet parts relies on: tags nest and close, attributes are well formed, entities are
// known. Document type declarations are refused, so no entity can expand. Names are reported
// without their namespace prefix. Errors throw WorkbookError naming the part and the byte offset.
class XmlScanner {
public:
    enum Event { StartElement, EndElement, Text, End };
    // Fills the buffer, returns the bytes given, 0 at the end.
    using Source = std::function<qint64(char*, qint64)>;

    XmlScanner(Source source, QString partName);

    Event next();

    // The current element's local name (start or end).
    std::string_view name() const { return m_name; }
    // An attribute of the current start element by local name; found tells whether it is there.
    std::string_view attribute(std::string_view localName, bool* found = nullptr) const;
    // Appends the current text with entities resolved.
    void appendText(std::string& out) const;
    qint64 offset() const { return m_tokenOffset; }
    // Right after the start of an element: its raw content up to the first end tag of its name,
    // without consuming it. Views taken earlier may be invalid afterwards. False when no such end
    // tag is near; the caller then goes on with next().
    bool peekContent(std::string_view& content);
    // Consumes what peekContent showed and the end tag; the element is closed.
    void skipPeeked();
    // Right after the start of an element: the raw text that follows, up to 64 KiB, for a caller
    // that reads the element itself. skipAhead(n) then consumes n bytes, which must end with the
    // element's end tag, and closes the element.
    std::string_view peekAhead();
    void skipAhead(size_t n);
    // Right after the start of an element: consumes its content and its end tag looking only at
    // tags of the element's own name (for nesting), so that an element of no interest costs
    // little more than inflating it. What lies inside is not checked. The element is closed.
    void skipElement();
    [[noreturn]] void fail(const QString& what) const;

private:
    bool fill();
    // Index (relative to m_begin) of needle at or after from; refills as needed. npos at the end.
    size_t find(size_t from, std::string_view needle);
    size_t findTagEnd(size_t from);
    void parseStartTag(std::string_view tag);
    std::string_view openName() const;
    void popOpen();

    Source m_source;
    QString m_part;
    std::vector<char> m_buf;
    size_t m_begin = 0;
    size_t m_end = 0;
    bool m_eof = false;
    qint64 m_consumed = 0; // bytes before m_begin
    qint64 m_tokenOffset = 0;
    std::string_view m_name;
    std::string_view m_text;
    bool m_cdata = false;
    struct Attr {
        std::string_view name;
        std::string_view value;
    };
    std::vector<Attr> m_attrs;
    // Names of the open elements, one after the other: no allocation per element.
    std::string m_openNames;
    std::vector<uint32_t> m_openEnds;
    bool m_pendingEnd = false;
    size_t m_peekEnd = 0; // relative to m_begin: the end tag's '<'
    size_t m_peekTagLength = 0;
    bool m_started = false;
    bool m_sawRoot = false;
};

// Appends raw XML character data to out, resolving the predefined and numeric entities. False
// for an unknown or malformed entity.
bool appendXmlText(std::string_view raw, std::string& out);
// Resolves the "_xHHHH_" escapes spreadsheet parts use for characters XML cannot carry.
void unescapeOoxml(std::string& text);
