// The document engine on arbitrary bytes: a template opened, labels replaced in a document of its
// own and in two records joined into one, both saved; what the engine saves it must open again.
#include "fuzz/fuzzsupport.h"
#include "office/workbook.h"
#include "office/docxdocument.h"

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzz::withoutConverter();
    return 0;
}

namespace {

struct Field {
    QString label;
    QString value;
};
// The labels of the fixture templates, a value holding its own label, a tab and a line break,
// and one that empties its label.
const QList<Field> kFields = {
    {QStringLiteral("«NAME»"), QStringLiteral("Ann «name» Smith")},
    {QStringLiteral("«city»"), QStringLiteral("Oslo\tNorway\nEurope")},
    {QStringLiteral("Dear"), QString()},
    {QStringLiteral("&<\"'>"), QStringLiteral("]]></w:t><w:t>")},
};

const QByteArray kContentTypes = R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types"><Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/><Default Extension="xml" ContentType="application/xml"/><Override PartName="/word/document.xml" ContentType="application/vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml"/><Override PartName="/word/header1.xml" ContentType="application/vnd.openxmlformats-officedocument.wordprocessingml.header+xml"/></Types>)";
const QByteArray kRootRelations = R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships"><Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument" Target="word/document.xml"/></Relationships>)";
const QByteArray kDocumentRelations = R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships"><Relationship Id="rId7" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/header" Target="header1.xml"/></Relationships>)";
const QByteArray kHeader = R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<w:hdr xmlns:w="http://schemas.openxmlformats.org/wordprocessingml/2006/main"><w:p><w:r><w:t>Letter for «NAME»</w:t></w:r></w:p></w:hdr>)";

void fill(docx::DocxDocument& document)
{
    for (const Field& field : kFields)
        fuzz::check(document.replaceAll(field.label, field.value) >= 0, "negative replacement count");
    fuzz::check(document.replaceAll(QString(), QStringLiteral("x")) == 0, "an empty label replaced text");
}

// A saved document must be a template the engine reads again.
void reopen(const QString& path, const char* what)
{
    try {
        docx::DocxTemplate again(path);
        docx::DocxDocument document(again, docx::DocxDocument::Scope::Whole);
        fill(document);
    } catch (const WorkbookError& error) {
        fuzz::fail(what, error.cause());
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // A zip is taken as the template file; anything else as the main text of a minimal package.
    QString path;
    if (size >= 2 && data[0] == 'P' && data[1] == 'K') {
        path = fuzz::writeInput(QStringLiteral("template.docx"), data, size);
    } else {
        path = fuzz::scratch().filePath(QStringLiteral("template.docx"));
        fuzz::writePackage(path, {{"[Content_Types].xml", kContentTypes},
                                  {"_rels/.rels", kRootRelations},
                                  {"word/document.xml", QByteArray(reinterpret_cast<const char*>(data), qsizetype(size))},
                                  {"word/_rels/document.xml.rels", kDocumentRelations},
                                  {"word/header1.xml", kHeader}});
    }
    const QString single = fuzz::scratch().filePath(QStringLiteral("single.docx"));
    const QString joined = fuzz::scratch().filePath(QStringLiteral("joined.docx"));
    QFile::remove(single);
    QFile::remove(joined);
    std::unique_ptr<docx::DocxTemplate> tpl;
    try {
        tpl = std::make_unique<docx::DocxTemplate>(path);
    } catch (const WorkbookError& error) {
        fuzz::check(!error.cause().isEmpty(), "an error without a cause");
        return 0;
    }
    bool saved = false;
    try {
        docx::DocxDocument whole(*tpl, docx::DocxDocument::Scope::Whole);
        fill(whole);
        whole.saveAs(single);
        saved = true;
    } catch (const WorkbookError& error) {
        fuzz::check(!error.cause().isEmpty(), "an error without a cause");
        fuzz::check(!QFile::exists(single), "a failed save left its file", error.cause());
    }
    if (saved)
        reopen(single, "the saved document does not open again");

    bool joinedSaved = false;
    try {
        docx::DocxJoiner joiner(*tpl, size % 2 ? docx::Separator::PageBreak : docx::Separator::Paragraph, joined);
        for (int record = 0; record < 2; ++record) {
            docx::DocxDocument body(*tpl, docx::DocxDocument::Scope::MainText);
            fill(body);
            joiner.append(body);
        }
        fuzz::check(joiner.count() == 2, "records lost in the join");
        joiner.save();
        joinedSaved = true;
    } catch (const WorkbookError& error) {
        fuzz::check(!error.cause().isEmpty(), "an error without a cause");
        fuzz::check(!QFile::exists(joined), "a failed join left its file", error.cause());
    }
    if (joinedSaved)
        reopen(joined, "the joined document does not open again");
    return 0;
}
