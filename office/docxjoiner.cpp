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

} // namespace

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
