#include "office/workbook.h"
#include "office/csvworkbook.h"
#include "office/odsworkbook.h"
#include "office/xlsworkbook.h"
#include "office/xlsxworkbook.h"

#include <QFile>
#include <QFileInfo>

namespace {
const QByteArray kZip("PK\x03\x04", 4);
const QByteArray kCompoundDocument("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8);
constexpr qint64 kSniffBytes = 64 * 1024;
} // namespace

std::unique_ptr<Workbook> openWorkbook(const QString& path, const WorkbookOpenOptions& options) {
    const QFileInfo info(path);
    if (path.isEmpty())
        throw WorkbookError(QStringLiteral("no workbook named"));
    if (!info.exists())
        throw WorkbookError(QStringLiteral("%1 does not exist").arg(path));
    if (info.isDir())
        throw WorkbookError(QStringLiteral("%1 is a folder, not a workbook").arg(path));
    // A pipe or a device could block the read or never end.
    if (!info.isFile())
        throw WorkbookError(QStringLiteral("%1 is not a regular file, not a workbook").arg(path));
    // Nothing to tell the format by, and no values: read as an empty sheet, a run would end in an
    // empty output without a word.
    if (info.size() == 0)
        throw WorkbookError(QStringLiteral("%1 is empty (0 bytes)").arg(path));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw WorkbookError(QStringLiteral("cannot read %1: %2").arg(path, file.errorString()));
    const QByteArray head = file.read(kSniffBytes);
    if (file.error() != QFileDevice::NoError)
        throw WorkbookError(QStringLiteral("cannot read %1: %2").arg(path, file.errorString()));
    const bool whole = file.atEnd();
    file.close();

    try {
        if (head.startsWith(kZip))
            return isOdsPackage(path) ? openOdsWorkbook(path, options) : openXlsxWorkbook(path, options);
        if (head.startsWith(kCompoundDocument))
            return openXlsWorkbook(path, options);
        if (looksLikeText(head, whole))
            return openCsvWorkbook(path, options);
    } catch (const WorkbookError& error) {
        // Whatever the reader says, the user must learn which file it is about.
        if (error.cause().contains(path))
            throw;
        throw WorkbookError(path + QLatin1String(": ") + error.cause());
    }
    throw WorkbookError(QStringLiteral("%1 is not a workbook (.xlsx, .xlsm, .xls, .ods or .csv)").arg(path));
}
