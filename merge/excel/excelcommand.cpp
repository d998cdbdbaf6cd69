#include "merge/excel/excelcommand.h"

QString applyExtensionRule(const QString& path) {
    return withAcceptedExtension(path,
                                 {QStringLiteral(".xls"), QStringLiteral(".xlsx"), QStringLiteral(".xlsm")},
                                 QStringLiteral(".xlsx"));
}

QStringList excelOutputPatterns() {
    return {QStringLiteral("*.xlsx"), QStringLiteral("*.xlsm"), QStringLiteral("*.xls")};
}

ExcelCommandCheck checkExcelCommand(const QString& source, const QString& dest, const QString& output) {
    if (!isExistingFile(source))
        return ExcelCommandCheck::SourceMissing;
    if (!isExistingFile(dest))
        return ExcelCommandCheck::DestMissing;
    if (sameFile(output, dest) || sameFile(output, source))
        return ExcelCommandCheck::OutputIsInput;
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
    }
    return {};
}
