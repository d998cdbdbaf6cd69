#pragma once
#include "mail/labelpair.h"

#include <QString>
#include <QStringList>

// What the subcommands of tallyweave-batch share: the usage error, the readers of numbers and
// column letters, and the form of a report field.

// Bad usage: the subcommand prints the message and its usage, and exits 2.
struct UsageError {
    QString message;
};

// value as a whole number of 1 or more; throws UsageError naming flag otherwise.
int positiveNumber(const QString& flag, const QString& value);

// One letter A to Z in either case -> 1..26; throws UsageError naming flag otherwise.
int columnLetter(const QString& flag, const QString& value);

// COL:LABEL of a label mode's --pair: the column before the first colon (labels may hold colons),
// the label after it trimmed as the Add dialog trims it; throws UsageError naming flag when the
// colon or the label is missing or the column is no letter.
LabelPair labelPair(const QString& flag, const QString& value);

// A field of a tab-separated line: tab, line feed, carriage return and backslash written as \t,
// \n, \r and \\, so that every report line stays one line.
QString escapeField(const QString& text);
