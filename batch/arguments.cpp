#include "batch/arguments.h"

#include "office/workbook.h"
#include "platform/blanks.h"

int positiveNumber(const QString& flag, const QString& value) {
    bool ok = false;
    const int n = value.toInt(&ok);
    if (!ok || n < 1)
        throw UsageError{QStringLiteral("%1 wants a number of 1 or more, not '%2'").arg(flag, value)};
    return n;
}

int columnLetter(const QString& flag, const QString& value) {
    const int column = value.size() == 1 ? columnNumber(value.toUpper()) : 0;
    if (column == 0)
        throw UsageError{QStringLiteral("%1 wants a column letter A to Z, not '%2'").arg(flag, value)};
    return column;
}

LabelPair labelPair(const QString& flag, const QString& value) {
    const qsizetype colon = value.indexOf(QLatin1Char(':'));
    if (colon < 0)
        throw UsageError{QStringLiteral("%1 wants COL:LABEL, not '%2'").arg(flag, value)};
    const int column = columnLetter(flag, value.left(colon));
    const QString label = trimBlanks(value.mid(colon + 1));
    if (label.isEmpty())
        throw UsageError{
            QStringLiteral("%1 wants COL:LABEL with a label after the colon, not '%2'").arg(flag, value)};
    return {column, label};
}

QString escapeField(const QString& text) {
    QString out;
    out.reserve(text.size());
    for (QChar c : text) {
        if (c == QLatin1Char('\\'))
            out += QLatin1String("\\\\");
        else if (c == QLatin1Char('\t'))
            out += QLatin1String("\\t");
        else if (c == QLatin1Char('\n'))
            out += QLatin1String("\\n");
        else if (c == QLatin1Char('\r'))
            out += QLatin1String("\\r");
        else
            out += c;
    }
    return out;
}
