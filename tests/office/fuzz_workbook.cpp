// The workbook opener on arbitrary bytes: format detection, then the .xlsx package (workbook,
// sheets, shared strings, styles), .xls (size check, compound document, records) or .csv reader,
// every sheet selected and every cell of its used range read.
#include "fuzz/fuzzsupport.h"
#include "fuzz/workbookcheck.h"
#include "office/workbook.h"

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzz::withoutConverter();
    return 0;
}

namespace {

const QByteArray kContentTypes = R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types"><Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/><Default Extension="xml" ContentType="application/xml"/><Override PartName="/xl/workbook.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml"/><Override PartName="/xl/worksheets/sheet1.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml"/><Override PartName="/xl/sharedStrings.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.sharedStrings+xml"/><Override PartName="/xl/styles.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.styles+xml"/></Types>)";
const QByteArray kRootRelations = R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships"><Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument" Target="xl/workbook.xml"/></Relationships>)";
const QByteArray kWorkbook = R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<workbook xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships"><sheets><sheet name="Data" sheetId="1" r:id="rId1"/></sheets></workbook>)";
const QByteArray kWorkbookRelations = R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships"><Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet" Target="worksheets/sheet1.xml"/><Relationship Id="rId2" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/sharedStrings" Target="sharedStrings.xml"/><Relationship Id="rId3" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/styles" Target="styles.xml"/></Relationships>)";

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // The format comes from the content; the name only follows it as a user's file would.
    // An input that starts with "<" is a sheet, its shared strings and its styles, cut at NUL
    // bytes, put into a package of stored parts, so that mutations reach the markup.
    QString path;
    if (size > 0 && data[0] == '<') {
        const QList<QByteArray> parts = fuzz::fields(data, size, 3);
        path = fuzz::scratch().filePath(QStringLiteral("parts.xlsx"));
        fuzz::writePackage(path, {{"[Content_Types].xml", kContentTypes},
                                  {"_rels/.rels", kRootRelations},
                                  {"xl/workbook.xml", kWorkbook},
                                  {"xl/_rels/workbook.xml.rels", kWorkbookRelations},
                                  {"xl/worksheets/sheet1.xml", parts[0]},
                                  {"xl/sharedStrings.xml", parts[1]},
                                  {"xl/styles.xml", parts[2]}});
    } else {
        const char* name = "book.csv";
        if (size > 0 && data[0] == 'P')
            name = size > 1 && data[1] == 'K' && size % 2 ? "book.xlsm" : "book.xlsx";
        else if (size > 0 && data[0] == 0xD0)
            name = "book.xls";
        path = fuzz::writeInput(QString::fromLatin1(name), data, size);
    }

    for (const int rowLimit : {0, 3})
        if (!fuzz::readWorkbook(path, rowLimit))
            return 0;
    return 0;
}
