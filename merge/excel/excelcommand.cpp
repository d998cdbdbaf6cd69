#include "merge/excel/excelcommand.h"
#include "office/odsworkbook.h"

#include <QFile>
#include <QFileInfo>

namespace {

bool hasOdsName(const QString& path) {
    return QFileInfo(path).fileName().endsWith(QLatin1String(".ods"), Qt::CaseInsensitive);
}

} // namespace

QString applyExtensionRule(const QString& path, const QString& destPath) {
    return withAcceptedExtension(
        path, {QStringLiteral(".xls"), QStringLiteral(".xlsx"), QStringLiteral(".xlsm"), QStringLiteral(".ods")},
        isOdsDestination(destPath) ? QStringLiteral(".ods") : QStringLiteral(".xlsx"));
}

QStringList excelOutputPatterns(const QString& destPath) {
    if (isOdsDestination(destPath))
        return {QStringLiteral("*.ods")};
    return {QStringLiteral("*.xlsx"), QStringLiteral("*.xlsm"), QStringLiteral("*.xls")};
}

bool isOdsDestination(const QString& destPath) {
    if (destPath.isEmpty())
        return false;
    // What a package holds tells; a file that is no package yet (or is missing) goes by its name.
    QFile file(destPath);
    if (isExistingFile(destPath) && file.open(QIODevice::ReadOnly) && file.read(4) == QByteArray("PK\x03\x04", 4))
        return isOdsFile(destPath);
    return hasOdsName(destPath);
}

ExcelCommandCheck checkExcelCommand(const QString& source, const QString& dest, const QString& output) {
    if (!isExistingFile(source))
        return ExcelCommandCheck::SourceMissing;
    if (!isExistingFile(dest))
        return ExcelCommandCheck::DestMissing;
    if (sameFile(output, dest) || sameFile(output, source))
        return ExcelCommandCheck::OutputIsInput;
    // The output is the destination patched: it keeps the destination's kind of file.
    if (isOdsDestination(dest) != hasOdsName(output))
        return ExcelCommandCheck::TypeMismatch;
    if (!outputFileProblem(output).isEmpty())
        return ExcelCommandCheck::OutputNotWritable;
    if (isExistingFile(output))
        return ExcelCommandCheck::OutputExists;
    return ExcelCommandCheck::Ok;
}

QString excelCommandMessageKey(ExcelCommandCheck check) {
    switch (check) {
    case ExcelCommandCheck::Ok:
        return {};
    case ExcelCommandCheck::SourceMissing:
        return QStringLiteral("String02");
    case ExcelCommandCheck::DestMissing:
        return QStringLiteral("String03");
    case ExcelCommandCheck::OutputIsInput:
        return QStringLiteral("String04");
    case ExcelCommandCheck::OutputNotWritable:
        return QStringLiteral("String10");
    case ExcelCommandCheck::OutputExists:
        return QStringLiteral("String05");
    case ExcelCommandCheck::TypeMismatch:
        return QStringLiteral("String12");
    }
    return {};
}
