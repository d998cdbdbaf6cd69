#include "merge/word/wordcommand.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>

WordCommandCheck checkWordCommand(const QString& source, const QString& templatePath, const QString& output) {
    if (!isExistingFile(source))
        return WordCommandCheck::SourceMissing;
    if (!isExistingFile(templatePath))
        return WordCommandCheck::TemplateMissing;
    if (sameFile(output, templatePath))
        return WordCommandCheck::OutputIsTemplate;
    if (isExistingFile(output))
        return WordCommandCheck::OutputExists;
    return WordCommandCheck::Ok;
}

QString wordCommandMessageKey(WordCommandCheck check) {
    switch (check) {
    case WordCommandCheck::Ok:
        return {};
    case WordCommandCheck::SourceMissing:
        return QStringLiteral("String02");
    case WordCommandCheck::TemplateMissing:
        return QStringLiteral("String03");
    case WordCommandCheck::OutputIsTemplate:
        return QStringLiteral("String04");
    case WordCommandCheck::OutputExists:
        return QStringLiteral("String05");
    }
    return {};
}

NumberedFiles checkNumberedFiles(const WordMergeSettings& s) {
    NumberedFiles found;
    if (s.oneFile)
        return found;
    const QStringList planned = plannedDocuments(s);
    QSet<QString> plannedNames;
    for (const QString& path : planned) {
        plannedNames.insert(QFileInfo(path).fileName());
        if (QFileInfo(path).isFile())
            found.replaced << path;
    }
    // base + number + extension as numberedOutputPath writes them: four digits, or more without a
    // leading zero.
    const QFileInfo output(s.outputPath);
    const QString extension = fileExtension(output.fileName());
    const QString base = output.fileName().left(output.fileName().size() - extension.size());
    const QRegularExpression numbered(
        QStringLiteral("^%1(\\d{4}|[1-9]\\d{4,})%2$")
            .arg(QRegularExpression::escape(base), QRegularExpression::escape(extension)));
    const QDir folder = output.absoluteDir();
    for (const QString& name : folder.entryList(QDir::Files | QDir::Hidden, QDir::Name)) {
        const QRegularExpressionMatch match = numbered.match(name);
        if (match.hasMatch() && match.captured(1).toLongLong() > planned.size() &&
            !plannedNames.contains(name))
            found.stale << folder.filePath(name);
    }
    return found;
}

QStringList removeStaleDocuments(const QStringList& stale) {
    QStringList left;
    for (const QString& path : stale)
        if (!QFile::remove(path))
            left << path;
    return left;
}
