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
#include <unordered_set>
#include <vector>

namespace docx {

inline QString native(const QString& path) {
    return QDir::toNativeSeparators(path);
}

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
    };
    std::vector<std::unique_ptr<Side>> sides;
    // [Content_Types].xml when the main part's type had to change (a .dotx saved as a .docx).
    QString typesPart;
    std::string types;

    // The joined document's main part around its records.
    std::string head, tail;
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
    std::vector<std::unique_ptr<pugi::xml_document>> sides; // Whole: headers and footers
    std::vector<text::Story> stories;                        // what replaceAll searches
};

} // namespace docx
