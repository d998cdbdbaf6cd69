#include "merge/word/wordcommand.h"

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
