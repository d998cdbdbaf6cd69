#pragma once
#include "mail/mailjob.h"

#include <QString>
#include <QStringList>

// --document-template FILE, --document-format pdf|docx and --document-name TEXT of the mail
// subcommands: each row's own document, attached to its message.
struct DocumentFlags {
    QString templatePath;
    QString format; // as given; empty: pdf
    QString name;
    bool formatGiven = false;
    bool nameGiven = false;

    static inline const QStringList valued{QStringLiteral("--document-template"), QStringLiteral("--document-format"),
                                           QStringLiteral("--document-name")};
    // Takes flag when it is one of these; throws UsageError for a format other than pdf or docx.
    bool take(const QString& flag, const QString& value);
    // Throws UsageError for a format or a name without a template.
    void check() const;
    // The flags into personal.
    void apply(PersonalMail& personal) const;
};
