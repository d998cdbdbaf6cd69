#include "batch/documentflags.h"

#include "batch/arguments.h"

#include <QFileInfo>

bool DocumentFlags::take(const QString& flag, const QString& value) {
    if (flag == QLatin1String("--document-template")) {
        templatePath = value;
    } else if (flag == QLatin1String("--document-format")) {
        format = value.toLower();
        if (format != QLatin1String("pdf") && format != QLatin1String("docx"))
            throw UsageError{QStringLiteral("--document-format wants pdf or docx, not '%1'").arg(value)};
        formatGiven = true;
    } else if (flag == QLatin1String("--document-name")) {
        name = value;
        nameGiven = true;
    } else {
        return false;
    }
    return true;
}

void DocumentFlags::check() const {
    if (templatePath.isEmpty() && (formatGiven || nameGiven))
        throw UsageError{QStringLiteral("--document-format and --document-name go with --document-template")};
}

void DocumentFlags::apply(PersonalMail& personal) const {
    if (templatePath.isEmpty())
        return;
    personal.documentTemplate = QFileInfo(templatePath).absoluteFilePath();
    personal.documentFormat = format == QLatin1String("docx") ? PersonalMail::DocumentFormat::Docx
                                                              : PersonalMail::DocumentFormat::Pdf;
    personal.documentName = name;
}
