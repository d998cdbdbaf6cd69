#include "office/docxdocument.h"

#include "office/workbook.h"
#include "office/docxtext.h"
#include "office/officeconvert.h"
#include "office/xlsxparts.h"
#include "office/zipfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <pugixml.hpp>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <map>
#include <unordered_map>
#include <unordered_set>

namespace docx {

namespace {

constexpr char kMainNamespace[] = "http://schemas.openxmlformats.org/wordprocessingml/2006/main";
constexpr char kStrictNamespace[] = "http://purl.oclc.org/ooxml/wordprocessingml/main";
// Parts beyond this size are refused: a letter template is a few hundred kilobytes.
constexpr qint64 kPartLimit = 256 * 1024 * 1024;

QString native(const QString& path) {
    return QDir::toNativeSeparators(path);
}

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

struct ByteSink : pugi::xml_writer {
    std::string data;
    void write(const void* bytes, size_t size) override { data.append(static_cast<const char*>(bytes), size); }
};

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

[[noreturn]] void zipFailure(const QString& path, zip_error_t* error) {
    const QString cause = QString::fromUtf8(zip_error_strerror(error));
    zip_error_fini(error);
    throw WorkbookError(QStringLiteral("cannot write %1: %2").arg(native(path), cause));
}

// A new package written entry by entry, to a file or into memory. Buffers and files handed in
// must outlive close().
class PackageWriter {
public:
    // Written to path by close(); causes name shown, the file the user chose, rather than the
    // temporary path written.
    PackageWriter(const QString& path, const QString& shown) : m_path(shown) {
        int code = 0;
        m_zip.reset(zip_open(QFile::encodeName(path).constData(), ZIP_CREATE | ZIP_TRUNCATE, &code));
        if (!m_zip) {
            zip_error_t error;
            zip_error_init_with_code(&error, code);
            zipFailure(shown, &error);
        }
    }
    // Kept in memory until close() hands the bytes over; path names the package in causes. A
    // small document costs a few system calls this way instead of a hundred.
    struct InMemory {};
    PackageWriter(InMemory, const QString& path) : m_path(path) {
        zip_error_t error;
        zip_error_init(&error);
        m_memory.reset(zip_source_buffer_create(nullptr, 0, 0, &error));
        if (!m_memory)
            zipFailure(path, &error);
        zip_source_keep(m_memory.get());
        m_zip.reset(zip_open_from_source(m_memory.get(), ZIP_TRUNCATE, &error));
        if (!m_zip) {
            zip_source_free(m_memory.get()); // the reference zip_open_from_source did not take
            zipFailure(path, &error);
        }
    }
    // The entry as stored, without inflating and deflating it again.
    void copy(zip_t* from, qint64 index) {
        const char* name = zip_get_name(from, zip_uint64_t(index), ZIP_FL_ENC_RAW);
        add(name, zip_source_zip(m_zip.get(), from, zip_uint64_t(index), 0, 0, -1), false);
    }
    void addBuffer(const char* name, const char* data, size_t size) {
        add(name, zip_source_buffer(m_zip.get(), data, size, 0), true);
    }
    void addFile(const char* name, const QString& file) {
        add(name, zip_source_file(m_zip.get(), QFile::encodeName(file).constData(), 0, -1), true);
    }
    // The package's bytes when it was made in memory, else empty.
    QByteArray close() {
        if (zip_close(m_zip.get()) != 0)
            throw WorkbookError(QStringLiteral("cannot write %1: %2")
                                    .arg(native(m_path), QString::fromUtf8(zip_strerror(m_zip.get()))));
        (void)m_zip.release(); // closed
        QByteArray bytes;
        if (!m_memory)
            return bytes;
        zip_source_t* source = m_memory.get();
        zip_stat_t st;
        zip_stat_init(&st);
        if (zip_source_stat(source, &st) != 0 || !(st.valid & ZIP_STAT_SIZE) || zip_source_open(source) != 0)
            throw WorkbookError(QStringLiteral("cannot write %1: the package in memory cannot be read").arg(native(m_path)));
        bytes.resize(qsizetype(st.size));
        const zip_int64_t got = zip_source_read(source, bytes.data(), st.size);
        zip_source_close(source);
        if (got != zip_int64_t(st.size))
            throw WorkbookError(QStringLiteral("cannot write %1: the package in memory cannot be read").arg(native(m_path)));
        return bytes;
    }

private:
    void add(const char* name, zip_source_t* source, bool deflate) {
        zip_int64_t index = source ? zip_file_add(m_zip.get(), name, source, ZIP_FL_OVERWRITE) : -1;
        if (source && index < 0)
            zip_source_free(source);
        // The fastest level: deflating the written parts is most of a save's work.
        if (index >= 0 && deflate && zip_set_file_compression(m_zip.get(), zip_uint64_t(index), ZIP_CM_DEFLATE, 1) != 0)
            index = -1;
        if (index < 0)
            throw WorkbookError(QStringLiteral("cannot add %1 to %2: %3")
                                    .arg(QString::fromUtf8(name), native(m_path),
                                         QString::fromUtf8(zip_strerror(m_zip.get()))));
    }

    QString m_path;
    ZipSourcePtr m_memory; // declared before m_zip, so that the package goes first
    ZipPtr m_zip;
};

// Writes bytes atomically: a temporary file beside path, renamed to path once it is whole. Plain
// system calls: a run writes thousands of small documents, and each call more is felt.
void writeAtomically(const QString& path, const QByteArray& bytes) {
    static unsigned serial = 0;
    const QFileInfo info(path);
    const QByteArray target = QFile::encodeName(path);
    int fd = -1;
    QByteArray temp;
    for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
        temp = QFile::encodeName(info.absoluteDir().filePath(
            QStringLiteral(".%1.%2-%3.tmp").arg(info.fileName()).arg(getpid()).arg(++serial)));
        // The mode any new file gets.
        fd = ::open(temp.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST)
            break;
    }
    if (fd < 0)
        throw WorkbookError(QStringLiteral("cannot create a file in %1: %2")
                                .arg(native(info.absolutePath()), QString::fromLocal8Bit(std::strerror(errno))));
    const char* data = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, data, size_t(left));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            break;
        data += written;
        left -= written;
    }
    const int writeError = left > 0 ? (errno ? errno : ENOSPC) : 0;
    const bool closed = ::close(fd) == 0;
    if (writeError || !closed || std::rename(temp.constData(), target.constData()) != 0) {
        const int error = writeError ? writeError : errno;
        ::unlink(temp.constData());
        throw WorkbookError(
            QStringLiteral("cannot write %1: %2").arg(native(path), QString::fromLocal8Bit(std::strerror(error))));
    }
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
           path.endsWith(QLatin1String(".odt"), Qt::CaseInsensitive);
}

QString converterMissingCause(const QString& path, bool reading) {
    return reading ? QStringLiteral("cannot read %1: reading a .doc or .odt document needs LibreOffice "
                                    "(soffice), which is not installed; a .docx template works without it")
                         .arg(native(path))
                   : QStringLiteral("cannot write %1: writing a .doc or .odt document needs LibreOffice "
                                    "(soffice), which is not installed; a .docx output works without it")
                         .arg(native(path));
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
    std::unordered_set<std::string> seen;
    for (pugi::xml_node r = rels.document_element().first_child(); r; r = r.next_sibling()) {
        if (!xlsx::isNamed(r, "Relationship") || QByteArray(r.attribute("TargetMode").value()) == "External")
            continue;
        const QString type = QString::fromUtf8(r.attribute("Type").value());
        if (!xlsx::relationshipIs(type, "header") && !xlsx::relationshipIs(type, "footer"))
            continue;
        const QString part = xlsx::resolveTarget(parts.mainPart, QString::fromUtf8(r.attribute("Target").value()));
        if (!seen.insert(part.toLower().toStdString()).second)
            continue;
        if (parts.zip->indexOf(part) < 0)
            throw WorkbookError(
                QStringLiteral("%1: the part %2 named by %3 is missing").arg(native(path), part, relsPart));
        auto side = std::make_unique<DocxTemplate::Parts::Side>();
        side->part = part;
        xlsx::loadXml(side->doc, *parts.zip, part, kPartLimit);
        side->prefix = prefixFor(side->doc.document_element());
        collectIds(side->doc.document_element(), parts);
        parts.sides.push_back(std::move(side));
    }
}

// A template (.dotx, .dotm) saved under a document's name must say it is a document, or word
// processors refuse the result.
void fixContentTypes(DocxTemplate::Parts& parts) {
    parts.typesPart = QStringLiteral("[Content_Types].xml");
    if (parts.zip->indexOf(parts.typesPart) < 0)
        return;
    pugi::xml_document types;
    xlsx::loadXml(types, *parts.zip, parts.typesPart, 16 * 1024 * 1024);
    const QString wanted = u'/' + parts.mainPart;
    bool changed = false;
    for (pugi::xml_node o = types.document_element().first_child(); o; o = o.next_sibling()) {
        if (!xlsx::isNamed(o, "Override") ||
            QString::fromUtf8(o.attribute("PartName").value()).compare(wanted, Qt::CaseInsensitive) != 0)
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
    if (changed) {
        ByteSink sink;
        types.save(sink, "", pugi::format_raw, pugi::encoding_utf8);
        parts.types = std::move(sink.data);
    }
}

// The main part with the body emptied but for its final section properties, cut where the
// records go.
void prepareJoin(DocxTemplate::Parts& parts, const QString& path) {
    pugi::xml_document skeleton;
    skeleton.reset(parts.main);
    pugi::xml_node body = xlsx::child(skeleton.document_element(), "body");
    if (!body)
        throw WorkbookError(QStringLiteral("%1: %2 has no body").arg(native(path), parts.mainPart));
    pugi::xml_node last = body.last_child();
    const bool keepLast = xlsx::isNamed(last, "sectPr");
    while (body.first_child() && !(keepLast && body.first_child() == last))
        body.remove_child(body.first_child());
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

struct DocxDocument::State {
    const DocxTemplate::Parts* parts = nullptr;
    DocxDocument::Scope scope = DocxDocument::Scope::Whole;
    pugi::xml_document main; // Whole: the main part; MainText: <body> with the body's records
    std::vector<std::unique_ptr<pugi::xml_document>> sides; // Whole: headers and footers
    std::vector<text::Story> stories;                        // what replaceAll searches
};

DocxDocument::DocxDocument(const DocxTemplate& tpl, Scope scope) : m_state(std::make_unique<State>()) {
    State& s = *m_state;
    const DocxTemplate::Parts& parts = tpl.parts();
    s.parts = &parts;
    s.scope = scope;
    if (scope == Scope::Whole) {
        s.main.reset(parts.main);
        s.stories.emplace_back(s.main.document_element(), parts.prefix);
        for (const auto& side : parts.sides) {
            auto copy = std::make_unique<pugi::xml_document>();
            copy->reset(side->doc);
            s.stories.emplace_back(copy->document_element(), side->prefix);
            s.sides.push_back(std::move(copy));
        }
    } else {
        pugi::xml_node root = s.main.append_child("body");
        const pugi::xml_node finalSection = parts.finalSection();
        for (pugi::xml_node c = parts.body().first_child(); c; c = c.next_sibling())
            if (c != finalSection)
                root.append_copy(c);
        s.stories.emplace_back(root, parts.prefix);
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

struct DocxJoiner::Stream {
    QString path;
    QFile file;
    FileSink sink;
    long long nextBookmarkId = 0;
    long long nextDrawingId = 0;
    quint32 nextParaId = 1;
    std::unordered_map<long long, long long> bookmarkIds; // of the record being appended

    void write(const std::string& text) {
        if (!sink.failed && file.write(text.data(), qint64(text.size())) != qint64(text.size()))
            sink.fail();
    }
    // Causes name the output, the file the user chose, rather than this temporary one.
    void check(const QString& output) const {
        if (sink.failed)
            throw WorkbookError(QStringLiteral("cannot write %1: %2").arg(native(output), sink.cause()));
    }
};

DocxJoiner::DocxJoiner(const DocxTemplate& tpl, Separator separator, const QString& outputPath)
    : m_template(tpl), m_separator(separator), m_outputPath(outputPath), m_stream(std::make_unique<Stream>()) {
    Stream& s = *m_stream;
    // Beside the output rather than in a temporary folder that may live in memory.
    s.path = xlsx::temporaryPathBeside(outputPath, QStringLiteral(".xml"));
    s.file.setFileName(s.path);
    if (!s.file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        QFile::remove(s.path);
        throw WorkbookError(
            QStringLiteral("cannot write %1: %2").arg(native(outputPath), s.file.errorString()));
    }
    s.sink.file = &s.file;
    const DocxTemplate::Parts& parts = tpl.parts();
    s.nextBookmarkId = parts.maxBookmarkId + 1;
    s.nextDrawingId = parts.maxDrawingId + 1;
    s.write(parts.head);
    s.check(m_outputPath);
}

DocxJoiner::~DocxJoiner() {
    if (m_stream) {
        m_stream->file.close();
        QFile::remove(m_stream->path);
    }
}

void DocxJoiner::append(DocxDocument& record) {
    const DocxDocument::State& r = record.state();
    if (r.scope != DocxDocument::Scope::MainText || r.parts != &m_template.parts())
        throw WorkbookError(QStringLiteral("cannot write %1: a record of another template").arg(native(m_outputPath)));
    const DocxTemplate::Parts& parts = *r.parts;
    Stream& s = *m_stream;
    pugi::xml_node root = r.main.document_element();
    // The first record keeps the template's identifiers; the others get new ones.
    if (m_count > 0) {
        s.bookmarkIds.clear();
        const QByteArray suffix = '_' + QByteArray::number(m_count + 1);
        for (pugi::xml_node node = root; node; node = text::nextInTree(node, root)) {
            if (node.type() != pugi::node_element)
                continue;
            const bool start = xlsx::isNamed(node, "bookmarkStart");
            if (start || xlsx::isNamed(node, "bookmarkEnd")) {
                if (pugi::xml_attribute id = xlsx::attribute(node, "id")) {
                    auto [it, added] = s.bookmarkIds.try_emplace(id.as_llong(), s.nextBookmarkId);
                    if (added)
                        ++s.nextBookmarkId;
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
                    id.set_value(s.nextDrawingId++);
            }
            for (const char* attr : {"paraId", "textId"}) {
                if (pugi::xml_attribute a = xlsx::attribute(node, attr)) {
                    while (parts.paraIds.count(s.nextParaId) || s.nextParaId == 0)
                        s.nextParaId = (s.nextParaId + 1) & 0x7FFFFFFF;
                    char hex[12];
                    std::snprintf(hex, sizeof hex, "%08X", s.nextParaId);
                    s.nextParaId = (s.nextParaId + 1) & 0x7FFFFFFF;
                    a.set_value(hex);
                }
            }
        }
    }
    for (pugi::xml_node c = root.first_child(); c; c = c.next_sibling())
        c.print(s.sink, "", pugi::format_raw, pugi::encoding_utf8);
    s.write(m_separator == Separator::PageBreak ? parts.separatorPage : parts.separatorParagraph);
    s.check(m_outputPath);
    ++m_count;
}

void DocxJoiner::save() {
    const DocxTemplate::Parts& parts = m_template.parts();
    Stream& s = *m_stream;
    // A body needs a paragraph before its section properties.
    if (m_count == 0)
        s.write(parts.emptyParagraph);
    s.write(parts.tail);
    if (!s.sink.failed && !s.file.flush())
        s.sink.fail();
    s.check(m_outputPath);
    s.file.close();
    xlsx::writeAtomically(m_outputPath, QStringLiteral(".docx"), [&](const QString& temp) {
        PackageWriter out(temp, m_outputPath);
        const qint64 count = parts.zip->entryCount();
        const QString mainPart = parts.mainPart.toLower();
        const QString typesPart = parts.typesPart.toLower();
        for (qint64 i = 0; i < count; ++i) {
            const QString name = parts.zip->entryName(i).toLower();
            const char* raw = zip_get_name(parts.zip->handle(), zip_uint64_t(i), ZIP_FL_ENC_RAW);
            if (name == mainPart)
                out.addFile(raw, s.path);
            else if (name == typesPart && !parts.types.empty())
                out.addBuffer(raw, parts.types.data(), parts.types.size());
            else
                out.copy(parts.memory.get(), i);
        }
        out.close();
    });
}

} // namespace docx
