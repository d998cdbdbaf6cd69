#include "office/docxtext.h"

#include <QChar>

#include <algorithm>

namespace docx::text {

pugi::xml_node nextInTree(const pugi::xml_node& node, const pugi::xml_node& root) {
    if (pugi::xml_node c = node.first_child())
        return c;
    for (pugi::xml_node n = node; n && n != root; n = n.parent())
        if (pugi::xml_node s = n.next_sibling())
            return s;
    return {};
}

Folded fold(QStringView source) {
    Folded out;
    out.text.reserve(source.size());
    out.from.reserve(size_t(source.size()) + 1);
    for (qsizetype i = 0; i < source.size();) {
        const QChar c = source[i];
        char32_t code = c.unicode();
        qsizetype width = 1;
        if (c.isHighSurrogate() && i + 1 < source.size() && source[i + 1].isLowSurrogate()) {
            code = QChar::surrogateToUcs4(c, source[i + 1]);
            width = 2;
        }
        const char32_t folded = code < 0x80 ? (code >= 'A' && code <= 'Z' ? code + 32 : code) : QChar::toCaseFolded(code);
        if (QChar::requiresSurrogates(folded)) {
            out.text += QChar(QChar::highSurrogate(folded));
            out.text += QChar(QChar::lowSurrogate(folded));
            out.from.push_back(i);
            out.from.push_back(i);
        } else {
            out.text += QChar(char16_t(folded));
            out.from.push_back(i);
        }
        i += width;
    }
    out.from.push_back(source.size());
    return out;
}

std::vector<std::pair<qsizetype, qsizetype>> occurrences(const Folded& folded, QStringView label) {
    std::vector<std::pair<qsizetype, qsizetype>> found;
    if (label.isEmpty())
        return found;
    const QStringView text(folded.text);
    const auto& from = folded.from;
    qsizetype at = 0;
    while ((at = text.indexOf(label, at)) >= 0) {
        const qsizetype end = at + label.size();
        const bool whole = (at == 0 || from[size_t(at)] != from[size_t(at - 1)]) && from[size_t(end)] != from[size_t(end - 1)];
        if (!whole) {
            ++at;
            continue;
        }
        found.emplace_back(from[size_t(at)], from[size_t(end)]);
        at = end;
    }
    return found;
}

Pattern::Pattern(const QString& labelText, const QString& value) : label(fold(labelText).text) {
    // Characters XML cannot carry are dropped; tabs and line breaks become their elements.
    QString piece;
    for (qsizetype i = 0; i < value.size(); ++i) {
        const QChar c = value[i];
        const char16_t u = c.unicode();
        if (u == '\t' || u == '\n' || u == '\r' || u == 0x0B) {
            if (u == '\r' && i + 1 < value.size() && value[i + 1] == u'\n')
                ++i;
            pieces << piece;
            piece.clear();
            breaks.push_back(u == '\t' ? 't' : 'n');
            continue;
        }
        if (u < 0x20 || u == 0xFFFE || u == 0xFFFF)
            continue;
        if (c.isSurrogate()) {
            const bool pair = c.isHighSurrogate() && i + 1 < value.size() && value[i + 1].isLowSurrogate();
            if (!pair)
                continue;
            piece += c;
            piece += value[++i];
            continue;
        }
        piece += c;
    }
    pieces << piece;
}

Story::Story(const pugi::xml_node& root, std::string prefix) : m_root(root), m_prefix(std::move(prefix)) {}

std::string_view Story::local(const pugi::xml_node& node) const {
    if (node.type() != pugi::node_element)
        return {};
    const std::string_view name(node.name());
    if (name.size() <= m_prefix.size() || name.substr(0, m_prefix.size()) != m_prefix)
        return {};
    const std::string_view rest = name.substr(m_prefix.size());
    return rest.find(':') == std::string_view::npos ? rest : std::string_view();
}

void Story::findParagraphs() {
    m_found = true;
    for (pugi::xml_node node = m_root; node; node = nextInTree(node, m_root))
        if (local(node) == "p")
            m_paragraphs.push_back({node, false, {}});
}

namespace {

template <typename Chunk> void barrier(std::vector<Chunk>& chunks) {
    if (!chunks.empty() && !chunks.back().pieces.empty())
        chunks.emplace_back();
}

bool isSkipped(std::string_view name) {
    // Marks between runs that are no text and no barrier.
    static constexpr std::string_view skipped[] = {
        "pPr",           "proofErr",          "bookmarkStart",      "bookmarkEnd",   "commentRangeStart",
        "commentRangeEnd", "permStart",       "permEnd",            "del",           "moveFrom",
        "moveFromRangeStart", "moveFromRangeEnd", "moveToRangeStart", "moveToRangeEnd", "customXmlInsRangeStart",
        "customXmlInsRangeEnd", "customXmlDelRangeStart", "customXmlDelRangeEnd", "sdtPr", "sdtEndPr"};
    return std::find(std::begin(skipped), std::end(skipped), name) != std::end(skipped);
}

bool isEntered(std::string_view name) {
    static constexpr std::string_view entered[] = {"hyperlink", "smartTag", "ins",  "fldSimple", "sdt",
                                                   "sdtContent", "customXml", "moveTo", "dir",     "bdo"};
    return std::find(std::begin(entered), std::end(entered), name) != std::end(entered);
}

} // namespace

void Story::collectRun(const pugi::xml_node& run, std::vector<Chunk>& chunks) const {
    for (pugi::xml_node c = run.first_child(); c; c = c.next_sibling()) {
        const std::string_view name = local(c);
        if (name == "t") {
            if (chunks.empty())
                chunks.emplace_back();
            Chunk& chunk = chunks.back();
            const QString text = QString::fromUtf8(c.child_value());
            chunk.pieces.push_back({c, chunk.text.size(), text.size()});
            chunk.text += text;
        } else if (name == "rPr" || name == "lastRenderedPageBreak" || name == "delText" || c.type() != pugi::node_element) {
            continue;
        } else {
            // tab, br, cr, sym, fldChar, instrText, drawings and anything else a label cannot cross
            barrier(chunks);
        }
    }
}

void Story::collect(const pugi::xml_node& container, std::vector<Chunk>& chunks) const {
    for (pugi::xml_node c = container.first_child(); c; c = c.next_sibling()) {
        if (c.type() != pugi::node_element)
            continue;
        const std::string_view name = local(c);
        if (name == "r")
            collectRun(c, chunks);
        else if (isEntered(name))
            collect(c, chunks);
        else if (!isSkipped(name))
            barrier(chunks); // a nested paragraph, math, an object of another vocabulary
    }
}

void Story::readParagraph(Paragraph& paragraph) const {
    paragraph.chunks.clear();
    collect(paragraph.node, paragraph.chunks);
    std::erase_if(paragraph.chunks, [](const Chunk& chunk) { return chunk.text.isEmpty(); });
    for (Chunk& chunk : paragraph.chunks)
        chunk.folded = fold(chunk.text);
    paragraph.read = true;
}

namespace {

QString textOf(const pugi::xml_node& t) {
    return QString::fromUtf8(t.child_value());
}

void setText(pugi::xml_node t, const QString& text) {
    t.text().set(text.toUtf8().constData());
    pugi::xml_attribute space = t.attribute("xml:space");
    if (!space)
        space = t.append_attribute("xml:space");
    space.set_value("preserve");
}

} // namespace

void Story::replaceOne(const Chunk& chunk, qsizetype begin, qsizetype end, const Pattern& pattern) const {
    const auto pieceAt = [&](qsizetype position) {
        size_t i = 0;
        while (i + 1 < chunk.pieces.size() && chunk.pieces[i].start + chunk.pieces[i].length <= position)
            ++i;
        return i;
    };
    const size_t first = pieceAt(begin);
    const size_t last = pieceAt(end - 1);
    const Piece& head = chunk.pieces[first];
    // Later occurrences were replaced already; what lies before this one is still as read.
    const QString current = textOf(head.t);
    const QString before = current.left(begin - head.start);
    QString after;
    if (first == last) {
        after = current.mid(end - head.start);
    } else {
        for (size_t k = first + 1; k < last; ++k)
            setText(chunk.pieces[k].t, QString());
        const Piece& tail = chunk.pieces[last];
        setText(tail.t, textOf(tail.t).mid(end - tail.start));
    }
    if (pattern.breaks.empty()) {
        setText(head.t, before + pattern.pieces.front() + after);
        return;
    }
    setText(head.t, before + pattern.pieces.front());
    pugi::xml_node run = head.t.parent();
    pugi::xml_node previous = head.t;
    const std::string tab = m_prefix + "tab", br = m_prefix + "br", t = m_prefix + "t";
    for (size_t k = 0; k < pattern.breaks.size(); ++k) {
        previous = run.insert_child_after((pattern.breaks[k] == 't' ? tab : br).c_str(), previous);
        QString text = pattern.pieces[qsizetype(k + 1)];
        if (k + 1 == pattern.breaks.size())
            text += after;
        if (text.isEmpty())
            continue;
        previous = run.insert_child_after(t.c_str(), previous);
        setText(previous, text);
    }
}

int Story::replaceAll(const Pattern& pattern) {
    return replaceEach({pattern});
}

int Story::replaceEach(const std::vector<Pattern>& patterns) {
    if (!m_found)
        findParagraphs();
    int count = 0;
    for (Paragraph& paragraph : m_paragraphs) {
        for (const Pattern& pattern : patterns) {
            if (pattern.label.isEmpty())
                continue;
            if (!paragraph.read)
                readParagraph(paragraph);
            bool changed = false;
            for (const Chunk& chunk : paragraph.chunks) {
                const auto found = occurrences(chunk.folded, pattern.label);
                for (auto it = found.rbegin(); it != found.rend(); ++it)
                    replaceOne(chunk, it->first, it->second, pattern);
                count += int(found.size());
                changed = changed || !found.empty();
            }
            if (changed)
                paragraph.read = false;
        }
        std::vector<Chunk>().swap(paragraph.chunks);
        paragraph.read = false;
    }
    return count;
}

} // namespace docx::text
