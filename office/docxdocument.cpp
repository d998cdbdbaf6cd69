#include "office/docxdocument.h"

#include "office/workbook.h"
#include "office/docxpackagewriter.h"
#include "office/docxparts.h"
#include "office/docxtext.h"
#include "office/officeconvert.h"
#include "office/xlsxparts.h"
#include "office/zipfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <pugixml.hpp>

#include <cstring>
#include <map>
#include <unordered_set>

namespace docx {

namespace {

constexpr char kMainNamespace[] = "http://schemas.openxmlformats.org/wordprocessingml/2006/main";
constexpr char kStrictNamespace[] = "http://purl.oclc.org/ooxml/wordprocessingml/main";
// Parts beyond this size are refused: a letter template is a few hundred kilobytes, and a run
// holds a few copies of the largest part at a time, so this bounds its memory.
constexpr qint64 kPartLimit = 64 * 1024 * 1024;

QByteArray firstBytes(const QString& path, qint64 count) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw WorkbookError(QStringLiteral("cannot read %1: %2").arg(native(path), file.errorString()));
    return file.read(count);
}

// The main part named by the package relationships; word/document.xml when they name none.
QString mainPartOf(const ZipArchive& zip) {
    if (zip.indexOf(QStringLiteral("_rels/.rels")) >= 0) {
        pugi::xml_document rels;
        xlsx::loadXml(rels, zip, QStringLiteral("_rels/.rels"), 16 * 1024 * 1024);
        for (pugi::xml_node r = rels.document_element().first_child(); r; r = r.next_sibling()) {
            if (!xlsx::isNamed(r, "Relationship"))
                continue;
            const QString type = QString::fromUtf8(r.attribute("Type").value());
            if (!xlsx::relationshipIs(type, "officeDocument"))
                continue;
            const QString part = xlsx::resolveTarget(QString(), QString::fromUtf8(r.attribute("Target").value()));
            if (zip.indexOf(part) >= 0)
                return part;
        }
    }
    return QStringLiteral("word/document.xml");
}

// The main part is a word-processing one: typed so, or at the place word processors put it.
bool isWordMain(const ZipArchive& zip, const QString& part) {
    if (zip.indexOf(part) < 0)
        return false;
    if (part.compare(QLatin1String("word/document.xml"), Qt::CaseInsensitive) == 0)
        return true;
    if (zip.indexOf(QStringLiteral("[Content_Types].xml")) < 0)
        return false;
    pugi::xml_document types;
    xlsx::loadXml(types, zip, QStringLiteral("[Content_Types].xml"), 16 * 1024 * 1024);
    for (pugi::xml_node o = types.document_element().first_child(); o; o = o.next_sibling()) {
        if (!xlsx::isNamed(o, "Override") ||
            QString::fromUtf8(o.attribute("PartName").value()).compare(u'/' + part, Qt::CaseInsensitive) != 0)
            continue;
        const std::string_view type(o.attribute("ContentType").value());
        return type.find("wordprocessingml") != std::string_view::npos ||
               type.find("ms-word") != std::string_view::npos;
    }
    return false;
}

bool isOpenDocumentText(const ZipArchive& zip) {
    if (zip.indexOf(QStringLiteral("mimetype")) < 0)
        return false;
    return zip.read(QStringLiteral("mimetype"), 4096).startsWith("application/vnd.oasis.opendocument.text");
}

std::string prefixFor(const pugi::xml_node& root) {
    for (pugi::xml_attribute a = root.first_attribute(); a; a = a.next_attribute()) {
        const std::string_view name(a.name());
        const bool main = std::strcmp(a.value(), kMainNamespace) == 0 || std::strcmp(a.value(), kStrictNamespace) == 0;
        if (!main)
            continue;
        if (name == "xmlns")
            return {};
        if (name.substr(0, 6) == "xmlns:")
            return std::string(name.substr(6)) + ':';
    }
    return "w:";
}

} // namespace

DocumentKind detectKind(const QString& path) {
    const QByteArray head = firstBytes(path, 8);
    if (head.startsWith("PK\x03\x04")) {
        try {
            const ZipArchive zip(path);
            if (isWordMain(zip, mainPartOf(zip)))
                return DocumentKind::Package;
            if (isOpenDocumentText(zip))
                return DocumentKind::OpenDocument;
        } catch (const WorkbookError&) {
        }
        return DocumentKind::Unknown;
    }
    if (head == QByteArray("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8))
        return DocumentKind::Compound;
    if (head.startsWith("{\\rtf"))
        return DocumentKind::RichText;
    return DocumentKind::Unknown;
}

bool needsConverter(DocumentKind kind) {
    return kind == DocumentKind::OpenDocument || kind == DocumentKind::Compound || kind == DocumentKind::RichText;
}

bool outputNeedsConverter(const QString& path) {
    return path.endsWith(QLatin1String(".doc"), Qt::CaseInsensitive) ||
           path.endsWith(QLatin1String(".odt"), Qt::CaseInsensitive) ||
           path.endsWith(QLatin1String(".pdf"), Qt::CaseInsensitive);
}

QString converterMissingCause(const QString& path, bool reading) {
    return reading
               ? QStringLiteral("cannot read %1: reading a .doc or .odt document needs LibreOffice "
                                "(soffice), which is not installed; a .docx template works without it")
                     .arg(native(path))
               : QStringLiteral("cannot write %1: writing a .doc, .odt or .pdf document needs LibreOffice "
                                "(soffice), which is not installed; a .docx output works without it")
                     .arg(native(path));
}

namespace {

void collectIds(const pugi::xml_node& root, DocxTemplate::Parts& parts) {
    for (pugi::xml_node node = root; node; node = text::nextInTree(node, root)) {
        if (node.type() != pugi::node_element)
            continue;
        if (xlsx::isNamed(node, "bookmarkStart") || xlsx::isNamed(node, "bookmarkEnd"))
            parts.maxBookmarkId = std::max(parts.maxBookmarkId, xlsx::attribute(node, "id").as_llong(-1));
        else if (xlsx::isNamed(node, "docPr"))
            parts.maxDrawingId = std::max(parts.maxDrawingId, xlsx::attribute(node, "id").as_llong(0));
        for (const char* name : {"paraId", "textId"})
            if (const pugi::xml_attribute a = xlsx::attribute(node, name))
                parts.paraIds.insert(quint32(std::strtoul(a.value(), nullptr, 16)));
    }
}

void loadSides(DocxTemplate::Parts& parts, const QString& path) {
    const QString relsPart = xlsx::relationshipsPart(parts.mainPart);
    if (parts.zip->indexOf(relsPart) < 0)
        return;
    pugi::xml_document rels;
    xlsx::loadXml(rels, *parts.zip, relsPart, 16 * 1024 * 1024);
    std::unordered_map<std::string, size_t> byPart;
    for (pugi::xml_node r = rels.document_element().first_child(); r; r = r.next_sibling()) {
        if (xlsx::isNamed(r, "Relationship"))
            parts.relationshipIds.insert(r.attribute("Id").value());
        if (!xlsx::isNamed(r, "Relationship") || QByteArray(r.attribute("TargetMode").value()) == "External")
            continue;
        const QString type = QString::fromUtf8(r.attribute("Type").value());
        if (!xlsx::relationshipIs(type, "header") && !xlsx::relationshipIs(type, "footer"))
            continue;
        const QString part = xlsx::resolveTarget(parts.mainPart, QString::fromUtf8(r.attribute("Target").value()));
        const auto [known, added] = byPart.try_emplace(part.toLower().toStdString(), parts.sides.size());
        parts.sideByRelationship[r.attribute("Id").value()] = known->second;
        if (!added)
            continue;
        if (parts.zip->indexOf(part) < 0)
            throw WorkbookError(
                QStringLiteral("%1: the part %2 named by %3 is missing").arg(native(path), part, relsPart));
        auto side = std::make_unique<DocxTemplate::Parts::Side>();
        side->part = part;
        side->type = r.attribute("Type").value();
        side->target = r.attribute("Target").value();
        side->relsEntry = parts.zip->indexOf(xlsx::relationshipsPart(part));
        xlsx::loadXml(side->doc, *parts.zip, part, kPartLimit);
        side->prefix = prefixFor(side->doc.document_element());
        collectIds(side->doc.document_element(), parts);
        parts.sides.push_back(std::move(side));
    }
    // Cut where a joined document adds the relationships of each record's headers and footers.
    ByteSink sink;
    rels.save(sink, "", pugi::format_raw, pugi::encoding_utf8);
    const size_t end = sink.data.rfind("</");
    if (end == std::string::npos)
        return; // <Relationships/>: nothing to name, nothing to add to
    parts.relsPart = relsPart;
    parts.relsHead = sink.data.substr(0, end);
    parts.relsTail = sink.data.substr(end);
}

// A template (.dotx, .dotm) saved under a document's name must say it is a document, or word
// processors refuse the result. Also notes the content type of each header and footer, which
// their copies in a joined document take.
void fixContentTypes(DocxTemplate::Parts& parts) {
    parts.typesPart = QStringLiteral("[Content_Types].xml");
    if (parts.zip->indexOf(parts.typesPart) < 0)
        return;
    pugi::xml_document types;
    xlsx::loadXml(types, *parts.zip, parts.typesPart, 16 * 1024 * 1024);
    const QString wanted = u'/' + parts.mainPart;
    bool changed = false;
    for (pugi::xml_node o = types.document_element().first_child(); o; o = o.next_sibling()) {
        if (!xlsx::isNamed(o, "Override"))
            continue;
        const QString name = QString::fromUtf8(o.attribute("PartName").value());
        for (const auto& side : parts.sides)
            if (name.compare(u'/' + side->part, Qt::CaseInsensitive) == 0)
                side->contentType = o.attribute("ContentType").value();
        if (name.compare(wanted, Qt::CaseInsensitive) != 0)
            continue;
        const std::string type = o.attribute("ContentType").value();
        if (type.find("wordprocessingml.template.main+xml") != std::string::npos) {
            o.attribute("ContentType")
                .set_value("application/vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml");
            changed = true;
        } else if (type.find("ms-word.template.macroEnabledTemplate.main+xml") != std::string::npos) {
            o.attribute("ContentType").set_value("application/vnd.ms-word.document.macroEnabled.main+xml");
            changed = true;
        }
    }
    ByteSink sink;
    types.save(sink, "", pugi::format_raw, pugi::encoding_utf8);
    const size_t end = sink.data.rfind("</");
    if (end != std::string::npos) {
        parts.typesHead = sink.data.substr(0, end);
        parts.typesTail = sink.data.substr(end);
    }
    if (changed)
        parts.types = std::move(sink.data);
}

// The main part with the body emptied but for its final section properties, cut where the
// records go.
void prepareJoin(DocxTemplate::Parts& parts, const QString& path) {
    // Copied without the body's content, which may be most of a large template.
    const auto shallow = [](pugi::xml_node parent, const pugi::xml_node& from) {
        pugi::xml_node copy = parent.append_child(from.name());
        for (pugi::xml_attribute a = from.first_attribute(); a; a = a.next_attribute())
            copy.append_copy(a);
        return copy;
    };
    pugi::xml_document skeleton;
    const pugi::xml_node root = parts.main.document_element();
    for (pugi::xml_node n = parts.main.first_child(); n; n = n.next_sibling())
        if (n != root)
            skeleton.append_copy(n);
        else
            shallow(skeleton, root);
    pugi::xml_node body;
    for (pugi::xml_node c = root.first_child(); c; c = c.next_sibling())
        if (c == parts.body())
            body = shallow(skeleton.document_element(), c);
        else
            skeleton.document_element().append_copy(c);
    if (!body)
        throw WorkbookError(QStringLiteral("%1: %2 has no body").arg(native(path), parts.mainPart));
    pugi::xml_node last;
    if (const pugi::xml_node section = parts.finalSection())
        last = body.append_copy(section);
    const bool keepLast = bool(last);
    static const char marker[] = "tallyweave-records-7f3a";
    if (keepLast)
        body.insert_child_before(pugi::node_comment, last).set_value(marker);
    else
        body.append_child(pugi::node_comment).set_value(marker);
    ByteSink sink;
    skeleton.save(sink, "", pugi::format_raw, pugi::encoding_utf8);
    const std::string cut = std::string("<!--") + marker + "-->";
    const size_t at = sink.data.rfind(cut);
    parts.head = sink.data.substr(0, at);
    parts.tail = sink.data.substr(at + cut.size());
    parts.closing = parts.tail;
    if (keepLast) {
        ByteSink section;
        last.print(section, "", pugi::format_raw, pugi::encoding_utf8);
        if (parts.tail.compare(0, section.data.size(), section.data) == 0)
            parts.closing = parts.tail.substr(section.data.size());
    }
    const std::string& w = parts.prefix;
    parts.emptyParagraph = "<" + w + "p/>";
    parts.separatorParagraph = parts.emptyParagraph;
    parts.separatorPage = "<" + w + "p><" + w + "r><" + w + "br " + w + "type=\"page\"/></" + w + "r></" + w + "p>";
}

} // namespace

DocxTemplate::DocxTemplate(const QString& path) : m_path(path), m_parts(std::make_unique<Parts>()) {
    const DocumentKind kind = detectKind(path);
    QString packagePath = path;
    if (needsConverter(kind)) {
        if (!officeConverterAvailable())
            throw WorkbookError(converterMissingCause(path, true));
        m_converted = std::make_unique<QTemporaryDir>();
        if (!m_converted->isValid())
            throw WorkbookError(QStringLiteral("cannot read %1: no temporary folder (%2)")
                                    .arg(native(path), m_converted->errorString()));
        // The converter names its output after the input: a copy under a plain name keeps odd
        // names and extensions out of its way.
        const QString copy = m_converted->filePath(QStringLiteral("template.") +
                                                   (kind == DocumentKind::OpenDocument ? QStringLiteral("odt")
                                                    : kind == DocumentKind::RichText   ? QStringLiteral("rtf")
                                                                                       : QStringLiteral("doc")));
        if (!QFile::copy(path, copy))
            throw WorkbookError(QStringLiteral("cannot read %1").arg(native(path)));
        const QString outDir = m_converted->filePath(QStringLiteral("docx"));
        QDir().mkpath(outDir);
        const QString failure = convertAllWithOffice({copy}, QStringLiteral("docx"), outDir);
        if (!failure.isEmpty())
            throw WorkbookError(QStringLiteral("cannot read %1: %2").arg(native(path), failure));
        packagePath = QDir(outDir).filePath(QStringLiteral("template.docx"));
    } else if (kind != DocumentKind::Package) {
        throw WorkbookError(QStringLiteral("cannot read %1: not a word-processing document (.docx, .doc or .odt)")
                                .arg(native(path)));
    }
    Parts& parts = *m_parts;
    try {
        parts.zip = std::make_unique<ZipArchive>(packagePath);
        QFile file(packagePath);
        if (!file.open(QIODevice::ReadOnly))
            throw WorkbookError(file.errorString());
        parts.bytes = file.readAll();
        zip_error_t error;
        zip_error_init(&error);
        zip_source_t* source = zip_source_buffer_create(parts.bytes.constData(), zip_uint64_t(parts.bytes.size()), 0, &error);
        if (source)
            parts.memory.reset(zip_open_from_source(source, ZIP_RDONLY, &error));
        if (!parts.memory) {
            if (source)
                zip_source_free(source);
            const QString cause = QString::fromUtf8(zip_error_strerror(&error));
            zip_error_fini(&error);
            throw WorkbookError(cause);
        }
        parts.mainPart = mainPartOf(*parts.zip);
        xlsx::loadXml(parts.main, *parts.zip, parts.mainPart, kPartLimit);
        const pugi::xml_node root = parts.main.document_element();
        parts.prefix = prefixFor(root);
        if (!parts.body())
            throw WorkbookError(QStringLiteral("%1 has no body").arg(parts.mainPart));
        collectIds(root, parts);
        loadSides(parts, path);
        fixContentTypes(parts);
        prepareJoin(parts, path);
    } catch (const WorkbookError& error) {
        if (error.cause().contains(native(path)))
            throw;
        throw WorkbookError(QStringLiteral("cannot read %1: %2").arg(native(path), error.cause()));
    }
}

DocxTemplate::~DocxTemplate() = default;

DocxDocument::DocxDocument(const DocxTemplate& tpl, Scope scope) : m_state(std::make_unique<State>()) {
    State& s = *m_state;
    const DocxTemplate::Parts& parts = tpl.parts();
    s.parts = &parts;
    s.scope = scope;
    if (scope == Scope::Whole) {
        s.main.reset(parts.main);
        s.stories.emplace_back(s.main.document_element(), parts.prefix);
    } else {
        pugi::xml_node root = s.main.append_child("body");
        const pugi::xml_node finalSection = parts.finalSection();
        for (pugi::xml_node c = parts.body().first_child(); c; c = c.next_sibling())
            if (c != finalSection)
                root.append_copy(c);
        s.stories.emplace_back(root, parts.prefix);
    }
    for (const auto& side : parts.sides) {
        auto copy = std::make_unique<pugi::xml_document>();
        copy->reset(side->doc);
        s.stories.emplace_back(copy->document_element(), side->prefix);
        s.sides.push_back(std::move(copy));
    }
}

DocxDocument::~DocxDocument() = default;
DocxDocument::DocxDocument(DocxDocument&&) noexcept = default;
DocxDocument& DocxDocument::operator=(DocxDocument&&) noexcept = default;

int DocxDocument::replaceAll(const QString& label, const QString& value) {
    if (label.isEmpty())
        return 0;
    const text::Pattern pattern(label, value);
    int count = 0;
    for (text::Story& story : m_state->stories)
        count += story.replaceAll(pattern);
    return count;
}

int DocxDocument::replaceEach(const QList<std::pair<QString, QString>>& replacements) {
    std::vector<text::Pattern> patterns;
    for (const auto& [label, value] : replacements)
        patterns.emplace_back(label, value);
    int count = 0;
    for (text::Story& story : m_state->stories)
        count += story.replaceEach(patterns);
    return count;
}

void DocxDocument::saveAs(const QString& path) const {
    const State& s = *m_state;
    if (s.scope != Scope::Whole)
        throw WorkbookError(QStringLiteral("cannot write %1: a record's main text is not a document").arg(native(path)));
    const DocxTemplate::Parts& parts = *s.parts;
    // Serialised parts by lower-case name; they must outlive the package's close.
    std::map<QString, std::string> changed;
    const auto serialise = [](const pugi::xml_document& doc) {
        ByteSink sink;
        doc.save(sink, "", pugi::format_raw, pugi::encoding_utf8);
        return std::move(sink.data);
    };
    changed[parts.mainPart.toLower()] = serialise(s.main);
    for (size_t i = 0; i < parts.sides.size(); ++i)
        changed[parts.sides[i]->part.toLower()] = serialise(*s.sides[i]);
    if (!parts.types.empty())
        changed[parts.typesPart.toLower()] = parts.types;
    PackageWriter out(PackageWriter::InMemory{}, path);
    const qint64 count = parts.zip->entryCount();
    for (qint64 i = 0; i < count; ++i) {
        const auto it = changed.find(parts.zip->entryName(i).toLower());
        if (it == changed.end())
            out.copy(parts.memory.get(), i);
        else
            out.addBuffer(zip_get_name(parts.zip->handle(), zip_uint64_t(i), ZIP_FL_ENC_RAW), it->second.data(),
                          it->second.size());
    }
    const QByteArray bytes = out.close();
    writeAtomically(path, bytes);
}

} // namespace docx
