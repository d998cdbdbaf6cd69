// The OpenDocument spreadsheet reader and its save on arbitrary bytes: every sheet selected and
// read, then a few cells changed, saved as .ods and read again, where the changes must be found
// and every other cell of the sheet as it was.
#include "fuzz/fuzzsupport.h"
#include "fuzz/workbookcheck.h"
#include "office/workbook.h"

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzz::withoutConverter();
    return 0;
}

namespace {

const QByteArray kType = "application/vnd.oasis.opendocument.spreadsheet";
const QByteArray kManifest = R"(<?xml version="1.0" encoding="UTF-8"?>
<manifest:manifest xmlns:manifest="urn:oasis:names:tc:opendocument:xmlns:manifest:1.0" manifest:version="1.2"><manifest:file-entry manifest:full-path="/" manifest:media-type="application/vnd.oasis.opendocument.spreadsheet"/><manifest:file-entry manifest:full-path="content.xml" manifest:media-type="text/xml"/></manifest:manifest>)";

// The changes made before the save, where a sheet's repeats and merges are most likely to be split.
struct Change {
    int row, column;
    const char* text;
};
const Change kChanges[] = {{1, 1, "42"}, {2, 3, "text  with\tspaces"}, {7, 2, ""}, {40, 30, "-2.5E-07"}};

// The sheet as it reads, within the first rows and columns the changes touch.
QList<QStringList> grid(const Workbook& book) {
    QList<QStringList> rows;
    for (int r = 1; r <= 45; ++r) {
        QStringList& row = rows.emplace_back();
        for (int c = 1; c <= 35; ++c)
            row << book.cellText(r, c);
    }
    return rows;
}

void saveAndReadBack(Workbook& book, int sheet) {
    QList<QStringList> expected = grid(book);
    try {
        for (const Change& change : kChanges) {
            book.setCellText(change.row, change.column, QString::fromUtf8(change.text));
            expected[change.row - 1][change.column - 1] = QString::fromUtf8(change.text);
        }
        book.saveAs(fuzz::scratch().filePath(QStringLiteral("saved.ods")));
    } catch (const WorkbookError& error) {
        fuzz::check(!error.cause().isEmpty(), "an error without a cause");
        return;
    }
    std::unique_ptr<Workbook> saved;
    try {
        saved = openWorkbook(fuzz::scratch().filePath(QStringLiteral("saved.ods")));
        saved->selectSheet(sheet);
    } catch (const WorkbookError& error) {
        fuzz::fail("the saved book cannot be read", error.cause());
    }
    const QList<QStringList> found = grid(*saved);
    for (int r = 0; r < expected.size(); ++r)
        for (int c = 0; c < expected[r].size(); ++c)
            fuzz::check(found[r][c] == expected[r][c], "the saved book reads differently",
                        QStringLiteral("row %1, column %2: \"%3\", expected \"%4\"")
                            .arg(r + 1)
                            .arg(c + 1)
                            .arg(found[r][c].left(40), expected[r][c].left(40)));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // An input that starts with "<" is the content part, put into a package of stored parts so
    // that mutations reach the markup; anything else is the file itself.
    QString path = fuzz::scratch().filePath(QStringLiteral("book.ods"));
    if (size > 0 && data[0] == '<') {
        fuzz::writePackage(path, {{"mimetype", kType},
                                  {"content.xml", QByteArray(reinterpret_cast<const char*>(data), qsizetype(size))},
                                  {"META-INF/manifest.xml", kManifest}});
    } else {
        path = fuzz::writeInput(QStringLiteral("book.ods"), data, size);
    }

    for (const int rowLimit : {3, 0}) {
        const std::unique_ptr<Workbook> book = fuzz::readWorkbook(path, rowLimit);
        if (!book)
            return 0;
        // The save of the first readable sheet, read whole.
        for (int n = 1; rowLimit == 0 && n <= book->sheetCount() && n <= 64; ++n) {
            try {
                book->selectSheet(n);
            } catch (const WorkbookError&) {
                continue;
            }
            saveAndReadBack(*book, n);
            break;
        }
    }
    return 0;
}
