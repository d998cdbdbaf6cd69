#pragma once
// What the files of the document engine share: the parsed template and a record's copy of it.
#include "office/docxdocument.h"
#include "office/docxtext.h"
#include "office/xlsxparts.h"
#include "office/zipfile.h"

#include <QByteArray>
#include <QDir>
#include <QString>

#include <pugixml.hpp>

#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace docx {

inline QString native(const QString& path) {
    return QDir::toNativeSeparators(path);
}

// Serialised XML gathered in memory.
struct ByteSink : pugi::xml_writer {
    std::string data;
    void write(const void* bytes, size_t size) override { data.append(static_cast<const char*>(bytes), size); }
};

struct DocxTemplate::Parts {
    std::unique_ptr<ZipArchive> zip;
    // The package once more, from memory, for copying its entries into every output.
    QByteArray bytes;
    ZipPtr memory;
    QString mainPart;
    pugi::xml_document main;
    std::string prefix; // of the main namespace in the main part ("w:")
    // Headers and footers, in the order the main part's relationships name them.
    struct Side {
        QString part;
        pugi::xml_document doc;
        std::string prefix;
        std::string type;        // of the relationship that names it
        std::string target;      // as that relationship writes it
        std::string contentType; // of its override in [Content_Types].xml; empty when none
        qint64 relsEntry = -1;   // its own relationships (an image in a header), when it has some
    };
    std::vector<std::unique_ptr<Side>> sides;
    // The relationship ids that name a header or footer, with the side they name.
    std::unordered_map<std::string, size_t> sideByRelationship;
    std::unordered_set<std::string> relationshipIds; // every id of the main part's relationships
    // The main part's relationships, cut before their closing tag, for a joined document that adds
    // each record's headers and footers; empty when the main part has no relationships.
    QString relsPart;
    std::string relsHead, relsTail;
    // [Content_Types].xml when the main part's type had to change (a .dotx saved as a .docx).
    QString typesPart;
    std::string types;

    // The joined document's main part around its records: tail is the final section properties
    // and closing, the text after them.
    std::string head, tail, closing;
    // [Content_Types].xml (as written) cut before its closing tag; empty when the package has none.
    std::string typesHead, typesTail;
    std::string separatorParagraph, separatorPage, emptyParagraph;
    // Identifiers the template uses, which renumbered records must avoid.
    long long maxBookmarkId = -1;
    long long maxDrawingId = 0;
    std::unordered_set<quint32> paraIds;

    pugi::xml_node body() const { return xlsx::child(main.document_element(), "body"); }
    // The body's own section properties, which stay last in a joined document.
    pugi::xml_node finalSection() const {
        const pugi::xml_node last = body().last_child();
        return xlsx::isNamed(last, "sectPr") ? last : pugi::xml_node();
    }
};

struct DocxDocument::State {
    const DocxTemplate::Parts* parts = nullptr;
    DocxDocument::Scope scope = DocxDocument::Scope::Whole;
    pugi::xml_document main; // Whole: the main part; MainText: <body> with the body's records
    std::vector<std::unique_ptr<pugi::xml_document>> sides; // headers and footers, as parts.sides
    std::vector<text::Story> stories;                        // what replaceAll searches
};

} // namespace docx
