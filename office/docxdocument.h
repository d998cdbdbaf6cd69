#pragma once
// The document engine: a word-processing template (.docx package; .doc and .odt through
// LibreOffice's converter) opened once, copied per record, labels replaced, and saved as a
// document of its own or joined with the other records into one document. Errors throw
// WorkbookError, the error of every office engine, with a cause that names the file and the part.
#include <QString>
#include <QList>
#include <QStringList>

#include <memory>
#include <utility>
#include <vector>

class QTemporaryDir;

namespace docx {

// The kinds of file a template may be, told from the content, never from the name.
enum class DocumentKind {
    Unknown,
    Package,       // a zip holding word/document.xml (.docx, .docm, .dotx)
    OpenDocument,  // a zip whose mimetype is an OpenDocument text (.odt)
    Compound,      // an OLE compound file (.doc)
    RichText,      // "{\rtf" (.rtf)
};
DocumentKind detectKind(const QString& path);

// True when files of this kind are read (or written) through LibreOffice's converter.
bool needsConverter(DocumentKind kind);
// Output names ending in ".doc", ".odt" or ".pdf" (any case) are written through the converter.
bool outputNeedsConverter(const QString& path);

// The cause given when a file needs the converter and LibreOffice is not installed.
QString converterMissingCause(const QString& path, bool reading);

class DocxTemplate;
class DocxDocument;

enum class Separator {
    Paragraph, // an empty paragraph after each record
    PageBreak, // a paragraph holding a page break after each record
};

// A template read and parsed once. The file is left untouched: the package stays open for the
// life of the template, so that the parts the engine does not edit (styles, numbering, images)
// are copied into every output as they are stored.
class DocxTemplate {
public:
    // Throws WorkbookError when the file cannot be read, is no document, or needs the converter
    // and LibreOffice is not installed.
    explicit DocxTemplate(const QString& path);
    ~DocxTemplate();
    DocxTemplate(const DocxTemplate&) = delete;
    DocxTemplate& operator=(const DocxTemplate&) = delete;

    QString path() const { return m_path; }

    struct Parts; // the parsed package, shared with the documents made from it
    const Parts& parts() const { return *m_parts; }

private:
    QString m_path;
    std::unique_ptr<QTemporaryDir> m_converted; // the .docx made from a .doc or .odt
    std::unique_ptr<Parts> m_parts;
};

// One record's copy of the template.
class DocxDocument {
public:
    enum class Scope {
        Whole,    // main text, headers and footers: a document of its own
        MainText, // the body with copies of the headers and footers, to be joined
    };
    DocxDocument(const DocxTemplate& tpl, Scope scope);
    ~DocxDocument();
    DocxDocument(DocxDocument&&) noexcept;
    DocxDocument& operator=(DocxDocument&&) noexcept;

    // Replaces every occurrence of label, compared without regard to case, inside words and across
    // runs, by value, which takes the formatting of the run where the occurrence starts. A tab in
    // value becomes a tab, a line break a line break. The inserted values are not searched again
    // by this call. Returns the number of occurrences replaced; an empty label replaces nothing.
    int replaceAll(const QString& label, const QString& value);
    // Each (label, value) in list order, as replaceAll called for each in turn would, holding what
    // it reads of the text one paragraph at a time: the way for a large template.
    int replaceEach(const QList<std::pair<QString, QString>>& replacements);

    // Scope::Whole only: the package with the edited parts, written atomically at path as .docx.
    void saveAs(const QString& path) const;

    struct State;
    const State& state() const { return *m_state; }

private:
    std::unique_ptr<State> m_state;
};

// The records of a one-file run, written as they come to a stream beside the output, so that a
// long run holds only one record at a time. With page breaks each record is a section of its own,
// with the template's section properties and its own copies of the headers and footers, so that a
// record's labels are replaced there too; with paragraphs the records share pages, and the
// headers and footers stay the template's.
class DocxJoiner {
public:
    DocxJoiner(const DocxTemplate& tpl, Separator separator, const QString& outputPath);
    ~DocxJoiner(); // the stream is removed unless saved
    DocxJoiner(const DocxJoiner&) = delete;
    DocxJoiner& operator=(const DocxJoiner&) = delete;

    // record: made with Scope::MainText from the same template. It is followed by the separator.
    // Bookmarks, paragraph ids and drawing ids of the record are renumbered so that they stay
    // unique in the joined document.
    void append(DocxDocument& record);
    int count() const { return m_count; }

    // Writes the joined document atomically at the output path (a .docx package whatever the name).
    void save();

private:
    struct Stream;
    const DocxTemplate& m_template;
    Separator m_separator;
    QString m_outputPath;
    std::unique_ptr<Stream> m_stream;
    int m_count = 0;
    bool m_sections = false; // each record a section of its own
};

} // namespace docx
