#include "platform/filedialogs.h"

#include <QStringList>

QString qtFileFilter(const QString& pipeFilter)
{
    const QStringList parts = pipeFilter.split(QLatin1Char('|'));
    QStringList filters;
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        QString patterns = parts[i + 1].trimmed();
        if (patterns.isEmpty())
            continue;
        patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
        QString text = parts[i].trimmed();
        // Qt reads the patterns from the last parentheses of an entry, so a display text that
        // already names them in brackets would be read wrongly: put ours last.
        filters << QStringLiteral("%1 (%2)").arg(text, patterns);
    }
    return filters.join(QStringLiteral(";;"));
}
