#include "office/docxdocument.h"

#include "office/docxpackagewriter.h"
#include "office/docxparts.h"
#include "office/workbook.h"

#include <QFile>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unordered_map>

namespace docx {

namespace {


// Writes to a file; the first failure is kept and reported by the caller. Its cause is taken
// from errno at once: after a short write (a disk filling up) QFile returns the part written and
// keeps no error of its own, so its errorString() says only "Unknown error".
struct FileSink : pugi::xml_writer {
    QFile* file = nullptr;
    bool failed = false;
    int error = 0;
    void write(const void* bytes, size_t size) override {
        if (!failed && file->write(static_cast<const char*>(bytes), qint64(size)) != qint64(size))
            fail();
    }
    void fail() {
        error = errno;
        failed = true;
    }
    QString cause() const {
        return error ? QString::fromLocal8Bit(std::strerror(error)) : file->errorString();
    }
};

// A part name or target with the record's number before its extension: "header1.xml" becomes
// "header1_r2.xml", in the same folder, so that relative targets in its own relationships (an
// image of the header) still lead where they did.
std::string numbered(const std::string& name, int number) {
    const size_t slash = name.rfind('/');
    const size_t dot = name.rfind('.');
    const std::string mark = "_r" + std::to_string(number);
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return name + mark;
    return name.substr(0, dot) + mark + name.substr(dot);
}

// One element of a relationships or content-types part, its attribute values escaped.
std::string element(const char* name, std::initializer_list<std::pair<const char*, std::string>> attributes) {
    pugi::xml_document doc;
    pugi::xml_node node = doc.append_child(name);
    for (const auto& [key, value] : attributes)
        node.append_attribute(key).set_value(value.c_str());
    ByteSink sink;
    node.print(sink, "", pugi::format_raw, pugi::encoding_utf8);
    return std::move(sink.data);
}

bool isSideReference(const pugi::xml_node& node) {
    return xlsx::isNamed(node, "headerReference") || xlsx::isNamed(node, "footerReference");
}

} // namespace

struct DocxJoiner::Stream {
    QString path;
    QFile file;
    FileSink sink;
    long long nextBookmarkId = 0;
    long long nextDrawingId = 0;
    quint32 nextParaId = 1;
    std::unordered_map<long long, long long> bookmarkIds; // of the record being appended

    // Records as sections: their headers and footers go to a second stream beside the output,
    // from where the package takes them by offset, so that a long run holds none of them.
    QString sidesPath;
    QFile sidesFile;
    FileSink sidesSink;
    struct SideEntry {
        std::string name;
        qint64 offset;
        qint64 size;
        bool stored; // replaces the template's part of that name (the first record's)
    };
    std::vector<SideEntry> sideEntries;
    std::vector<std::pair<std::string, qint64>> sideRelationships; // copies of a side's own rels
    std::string relationships, overrides; // added to the main part's rels and the content types
    std::string pendingSection; // the section properties that end the last record appended

    void write(const std::string& text) {
        if (!sink.failed && file.write(text.data(), qint64(text.size())) != qint64(text.size()))
            sink.fail();
    }
    // Causes name the output, the file the user chose, rather than this temporary one.
    void check(const QString& output) const {
        for (const FileSink* s : {&sink, &sidesSink})
            if (s->failed)
                throw WorkbookError(QStringLiteral("cannot write %1: %2").arg(native(output), s->cause()));
    }

    // Bookmarks, drawings and paragraphs of a record after the first get identifiers of their own.
    void renumber(const pugi::xml_node& root, const DocxTemplate::Parts& parts, const QByteArray& suffix) {
        for (pugi::xml_node node = root; node; node = text::nextInTree(node, root)) {
            if (node.type() != pugi::node_element)
                continue;
            const bool start = xlsx::isNamed(node, "bookmarkStart");
            if (start || xlsx::isNamed(node, "bookmarkEnd")) {
                if (pugi::xml_attribute id = xlsx::attribute(node, "id")) {
                    auto [it, added] = bookmarkIds.try_emplace(id.as_llong(), nextBookmarkId);
                    if (added)
                        ++nextBookmarkId;
                    id.set_value(it->second);
                }
                if (pugi::xml_attribute name = xlsx::attribute(node, "name"); start && name) {
                    // Word keeps bookmark names to 40 characters.
                    QByteArray value(name.value());
                    value = value.left(std::max<qsizetype>(1, 40 - suffix.size())) + suffix;
                    name.set_value(value.constData());
                }
            } else if (xlsx::isNamed(node, "docPr")) {
                if (pugi::xml_attribute id = xlsx::attribute(node, "id"))
                    id.set_value(nextDrawingId++);
            }
            for (const char* attr : {"paraId", "textId"}) {
                if (pugi::xml_attribute a = xlsx::attribute(node, attr)) {
                    while (parts.paraIds.count(nextParaId) || nextParaId == 0)
                        nextParaId = (nextParaId + 1) & 0x7FFFFFFF;
                    char hex[12];
                    std::snprintf(hex, sizeof hex, "%08X", nextParaId);
                    nextParaId = (nextParaId + 1) & 0x7FFFFFFF;
                    a.set_value(hex);
                }
            }
        }
    }

    // The record's headers and footers written out; returns the relationship id each side has in
    // this record. The first record keeps the template's part names and ids.
    std::vector<std::string> writeSides(const DocxDocument::State& record, int number) {
        const DocxTemplate::Parts& parts = *record.parts;
        std::vector<std::string> ids(parts.sides.size());
        for (size_t i = 0; i < parts.sides.size(); ++i) {
            const DocxTemplate::Parts::Side& side = *parts.sides[i];
            std::string name = side.part.toStdString();
            if (number > 1) {
                std::string target = numbered(side.target, number);
                std::string id = "twRecord" + std::to_string(number) + "Side" + std::to_string(i);
                name = numbered(name, number);
                // A template made by an earlier join holds such names already.
                while (parts.zip->indexOf(QString::fromStdString(name)) >= 0 || parts.relationshipIds.count(id)) {
                    name = numbered(name, number);
                    target = numbered(target, number);
                    id += 'x';
                }
                ids[i] = id;
                relationships += element("Relationship", {{"Id", id}, {"Type", side.type}, {"Target", target}});
                if (!side.contentType.empty())
                    overrides += element("Override", {{"PartName", '/' + name}, {"ContentType", side.contentType}});
                if (side.relsEntry >= 0)
                    sideRelationships.emplace_back(xlsx::relationshipsPart(QString::fromStdString(name)).toStdString(),
                                                   side.relsEntry);
            }
            const qint64 offset = sidesFile.pos();
            record.sides[i]->save(sidesSink, "", pugi::format_raw, pugi::encoding_utf8);
            sideEntries.push_back({name, offset, sidesFile.pos() - offset, number == 1});
        }
        return ids;
    }
};

DocxJoiner::DocxJoiner(const DocxTemplate& tpl, Separator separator, const QString& outputPath)
    : m_template(tpl), m_separator(separator), m_outputPath(outputPath), m_stream(std::make_unique<Stream>()) {
    Stream& s = *m_stream;
    const DocxTemplate::Parts& parts = tpl.parts();
    // Sections need the template's section properties to copy, and a main part cut around them.
    m_sections = separator == Separator::PageBreak && parts.finalSection() && parts.closing.size() < parts.tail.size();
    const auto open = [&outputPath](QString& path, QFile& file, FileSink& sink, const QString& suffix) {
        // Beside the output rather than in a temporary folder that may live in memory.
        path = xlsx::temporaryPathBeside(outputPath, suffix);
        file.setFileName(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            QFile::remove(path);
            throw WorkbookError(QStringLiteral("cannot write %1: %2").arg(native(outputPath), file.errorString()));
        }
        sink.file = &file;
    };
    open(s.path, s.file, s.sink, QStringLiteral(".xml"));
    if (m_sections) {
        try {
            open(s.sidesPath, s.sidesFile, s.sidesSink, QStringLiteral(".sides"));
        } catch (...) {
            s.file.close();
            QFile::remove(s.path);
            throw;
        }
    }
    s.nextBookmarkId = parts.maxBookmarkId + 1;
    s.nextDrawingId = parts.maxDrawingId + 1;
    s.write(parts.head);
    s.check(m_outputPath);
}

DocxJoiner::~DocxJoiner() {
    if (!m_stream)
        return;
    m_stream->file.close();
    QFile::remove(m_stream->path);
    if (!m_stream->sidesPath.isEmpty()) {
        m_stream->sidesFile.close();
        QFile::remove(m_stream->sidesPath);
    }
}

void DocxJoiner::append(DocxDocument& record) {
    const DocxDocument::State& r = record.state();
    if (r.scope != DocxDocument::Scope::MainText || r.parts != &m_template.parts())
        throw WorkbookError(QStringLiteral("cannot write %1: a record of another template").arg(native(m_outputPath)));
    const DocxTemplate::Parts& parts = *r.parts;
    Stream& s = *m_stream;
    const int number = m_count + 1;
    pugi::xml_node root = r.main.document_element();
    // The first record keeps the template's identifiers; the others get new ones.
    if (number > 1) {
        s.bookmarkIds.clear();
        const QByteArray suffix = '_' + QByteArray::number(number);
        s.renumber(root, parts, suffix);
        if (m_sections)
            for (const auto& side : r.sides)
                s.renumber(side->document_element(), parts, suffix);
    }
    if (m_sections) {
        const std::vector<std::string> ids = s.writeSides(r, number);
        // The record's references lead to its own headers and footers.
        const auto relink = [&](const pugi::xml_node& top) {
            if (number == 1)
                return;
            for (pugi::xml_node node = top; node; node = text::nextInTree(node, top)) {
                if (node.type() != pugi::node_element || !isSideReference(node))
                    continue;
                pugi::xml_attribute id = xlsx::attribute(node, "id");
                const auto it = id ? parts.sideByRelationship.find(id.value()) : parts.sideByRelationship.end();
                if (it != parts.sideByRelationship.end())
                    id.set_value(ids[it->second].c_str());
            }
        };
        relink(root);
        pugi::xml_document section;
        pugi::xml_node properties = section.append_copy(parts.finalSection());
        relink(properties);
        // Every record begins on a page of its own, whatever the template's section began with.
        if (pugi::xml_node type = xlsx::child(properties, "type")) {
            pugi::xml_attribute value = xlsx::attribute(type, "val");
            const std::string_view kind = value ? value.value() : "";
            if (value && (kind == "continuous" || kind == "nextColumn"))
                value.set_value("nextPage");
        }
        // The previous record's section ends before this one begins.
        if (!s.pendingSection.empty()) {
            const std::string& w = parts.prefix;
            s.write("<" + w + "p><" + w + "pPr>" + s.pendingSection + "</" + w + "pPr></" + w + "p>");
        }
        ByteSink sink;
        properties.print(sink, "", pugi::format_raw, pugi::encoding_utf8);
        s.pendingSection = std::move(sink.data);
    }
    for (pugi::xml_node c = root.first_child(); c; c = c.next_sibling())
        c.print(s.sink, "", pugi::format_raw, pugi::encoding_utf8);
    if (!m_sections)
        s.write(m_separator == Separator::PageBreak ? parts.separatorPage : parts.separatorParagraph);
    s.check(m_outputPath);
    ++m_count;
}

void DocxJoiner::save() {
    const DocxTemplate::Parts& parts = m_template.parts();
    Stream& s = *m_stream;
    if (m_sections && m_count > 0) {
        s.write(s.pendingSection);
        s.write(parts.closing);
    } else {
        // A body needs a paragraph before its section properties.
        if (m_count == 0)
            s.write(parts.emptyParagraph);
        s.write(parts.tail);
    }
    for (auto [file, sink] : {std::pair{&s.file, &s.sink}, std::pair{&s.sidesFile, &s.sidesSink}})
        if (file->isOpen() && !sink->failed && !file->flush())
            sink->fail();
    s.check(m_outputPath);
    s.file.close();
    s.sidesFile.close();
    // Parts that change, by lower-case name; they must outlive the package's close.
    std::string types = parts.types;
    if (!s.overrides.empty())
        types = parts.typesHead + s.overrides + parts.typesTail;
    std::string rels;
    if (!s.relationships.empty())
        rels = parts.relsHead + s.relationships + parts.relsTail;
    std::unordered_map<std::string, const Stream::SideEntry*> replaced;
    for (const Stream::SideEntry& entry : s.sideEntries)
        if (entry.stored)
            replaced[QString::fromStdString(entry.name).toLower().toStdString()] = &entry;
    xlsx::writeAtomically(m_outputPath, QStringLiteral(".docx"), [&](const QString& temp) {
        PackageWriter out(temp, m_outputPath);
        const qint64 count = parts.zip->entryCount();
        const QString mainPart = parts.mainPart.toLower();
        const QString typesPart = parts.typesPart.toLower();
        const QString relsPart = parts.relsPart.toLower();
        for (qint64 i = 0; i < count; ++i) {
            const QString name = parts.zip->entryName(i).toLower();
            const char* raw = zip_get_name(parts.zip->handle(), zip_uint64_t(i), ZIP_FL_ENC_RAW);
            const auto side = replaced.find(name.toStdString());
            if (name == mainPart)
                out.addFile(raw, s.path);
            else if (name == typesPart && !types.empty())
                out.addBuffer(raw, types.data(), types.size());
            else if (name == relsPart && !rels.empty())
                out.addBuffer(raw, rels.data(), rels.size());
            else if (side != replaced.end())
                out.addFile(raw, s.sidesPath, side->second->offset, side->second->size);
            else
                out.copy(parts.memory.get(), i);
        }
        for (const Stream::SideEntry& entry : s.sideEntries)
            if (!entry.stored)
                out.addFile(entry.name.c_str(), s.sidesPath, entry.offset, entry.size);
        for (const auto& [name, index] : s.sideRelationships)
            out.copyAs(parts.memory.get(), index, name.c_str());
        out.close();
    });
}

} // namespace docx
