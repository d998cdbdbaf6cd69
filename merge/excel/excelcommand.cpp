#include "merge/excel/excelcommand.h"

#include <QDir>
#include <QFileInfo>

QString applyExtensionRule(const QString& path) {
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    const qsizetype dot = path.lastIndexOf(QLatin1Char('.'));
    const QString extension = dot > slash ? path.mid(dot) : QString();
    if (extension.compare(QLatin1String(".xls"), Qt::CaseInsensitive) == 0 ||
        extension.compare(QLatin1String(".xlsx"), Qt::CaseInsensitive) == 0)
        return path;
    return path + QLatin1String(".xlsx");
}

bool isExistingFile(const QString& path) {
    if (path.isEmpty())
        return false;
    const QFileInfo info(path);
    return info.exists() && info.isFile();
}

namespace {
// The path a file is known by once "." and "..", relative parts and links are gone. A file that
// does not exist yet (the usual output) still resolves its folder, so a link to the folder of an
// input is seen through.
QString resolvedPath(const QString& path) {
    const QFileInfo info(QDir::cleanPath(QFileInfo(path).absoluteFilePath()));
    const QString canonical = info.canonicalFilePath();
    if (!canonical.isEmpty())
        return canonical;
    const QString folder = info.dir().canonicalPath();
    if (!folder.isEmpty())
        return folder + QLatin1Char('/') + info.fileName();
    return info.filePath();
}
} // namespace

bool sameFile(const QString& a, const QString& b) {
    if (a.isEmpty() || b.isEmpty())
        return false;
    return resolvedPath(a).compare(resolvedPath(b), Qt::CaseInsensitive) == 0;
}

ExcelCommandCheck checkExcelCommand(const QString& source, const QString& dest, const QString& output) {
    if (!isExistingFile(source))
        return ExcelCommandCheck::SourceMissing;
    if (!isExistingFile(dest))
        return ExcelCommandCheck::DestMissing;
    if (sameFile(output, dest) || sameFile(output, source))
        return ExcelCommandCheck::OutputIsInput;
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
    case ExcelCommandCheck::OutputExists:
        return QStringLiteral("String05");
    }
    return {};
}
