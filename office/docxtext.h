#pragma once
// Label replacement in the paragraphs of a word-processing part.
#include <QString>
#include <QStringList>
#include <QStringView>

#include <pugixml.hpp>

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace docx::text {

// The node after node in document order, staying inside root; null at the end.
pugi::xml_node nextInTree(const pugi::xml_node& node, const pugi::xml_node& root);

// Text folded character by character for comparisons without regard to case ("CITTÀ" and "città"
// fold alike), with the way back: from[i] is the position in the source of the character that
// folded character i came from, and from[text.size()] the source's length.
struct Folded {
    QString text;
    std::vector<qsizetype> from;
};
Folded fold(QStringView source);

// The source ranges [begin, end) where label (already folded) occurs in folded, left to right,
// without overlap. An occurrence must begin and end on whole source characters.
std::vector<std::pair<qsizetype, qsizetype>> occurrences(const Folded& folded, QStringView label);

// One replace-all: the folded label and the value cut at its tabs and line breaks.
struct Pattern {
    Pattern(const QString& label, const QString& value);
    QString label;                // folded
    QStringList pieces;           // the value's text between breaks
    std::vector<char> breaks;     // 't' tab, 'n' line break; one fewer than pieces
};

// The paragraphs under root (a main part, a header, a footer, or a record's body), each searched
// on its own; a text box's paragraphs are paragraphs of their own.
class Story {
public:
    Story(const pugi::xml_node& root, std::string prefix);
    int replaceAll(const Pattern& pattern);
    // Every pattern in turn, as replaceAll one after the other would, a paragraph at a time: what
    // was read of a paragraph goes once it is done, so that a large part is never held twice.
    int replaceEach(const std::vector<Pattern>& patterns);

private:
    struct Piece {
        pugi::xml_node t;
        qsizetype start = 0;
        qsizetype length = 0;
    };
    // Text a label may run through: pieces of consecutive runs with no barrier between them.
    struct Chunk {
        std::vector<Piece> pieces;
        QString text;
        Folded folded;
    };
    struct Paragraph {
        pugi::xml_node node;
        bool read = false; // chunks are up to date
        std::vector<Chunk> chunks;
    };

    std::string_view local(const pugi::xml_node& node) const;
    void findParagraphs();
    void readParagraph(Paragraph& paragraph) const;
    void collect(const pugi::xml_node& container, std::vector<Chunk>& chunks) const;
    void collectRun(const pugi::xml_node& run, std::vector<Chunk>& chunks) const;
    void replaceOne(const Chunk& chunk, qsizetype begin, qsizetype end, const Pattern& pattern) const;

    pugi::xml_node m_root;
    std::string m_prefix;
    bool m_found = false;
    std::vector<Paragraph> m_paragraphs;
};

} // namespace docx::text
