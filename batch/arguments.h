#pragma once
#include "mail/labelpair.h"
#include "mail/mailjob.h"

#include <QString>
#include <QStringList>

#include <functional>

// What the subcommands of tallyweave-batch share in reading their arguments: the usage error, the
// one loop over flags, the readers of numbers, column letters and label pairs, and of a text file.

// Bad usage: the subcommand prints the message and its usage, and exits 2.
struct UsageError {
    QString message;
};

// The flags a subcommand knows: switches stand alone, valued flags take the next argument. A
// subcommand that takes operands (a file name) names them; then whatever does not start with "--"
// is an operand.
struct FlagSet {
    QStringList switches;
    QStringList valued;
    QString operand;
};

// Calls take(flag, value) for every flag of args in order (value empty for a switch), and
// take("", operand) for an operand. An unknown flag (an unknown option, where operands are taken)
// or a valued flag without its value throws UsageError before take sees it.
void readFlags(const QStringList& args, const FlagSet& flags,
               const std::function<void(const QString& flag, const QString& value)>& take);

// value as a whole number of 1 or more; throws UsageError naming flag otherwise.
int positiveNumber(const QString& flag, const QString& value);

// One letter A to Z in either case -> 1..26; throws UsageError naming flag otherwise.
int columnLetter(const QString& flag, const QString& value);

// COL:LABEL of a label mode's --pair: the column before the first colon (labels may hold colons),
// the label after it trimmed as the Add dialog trims it; throws UsageError naming flag when the
// colon or the label is missing or the column is no letter.
LabelPair labelPair(const QString& flag, const QString& value);

// --report FILE: the path, when its extension names a kind the report is written as (.csv, .xlsx);
// throws UsageError otherwise.
QString reportPath(const QString& flag, const QString& value);

// --attach-column COL, --cc-column COL, --bcc-column COL, --subject-labels and --html of the mail
// subcommands: what each row adds to its own message.
struct PersonalFlags {
    static inline const QStringList switches{QStringLiteral("--subject-labels"), QStringLiteral("--html")};
    static inline const QStringList valued{QStringLiteral("--attach-column"), QStringLiteral("--cc-column"),
                                           QStringLiteral("--bcc-column")};
    // Takes flag into personal when it is one of these; throws UsageError for a COL that is no letter.
    static bool take(const QString& flag, const QString& value, PersonalMail& personal);
};

// A UTF-8 text file as the mail dialogs' body memo would hold it, without a byte-order mark.
// Empty with cause set when the file cannot be read or is not UTF-8.
QString readUtf8File(const QString& path, QString* cause);
