#include "platform/filedialogs.h"

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

QString filterWithPatterns(const QString& pipeFilter, const QStringList& patterns)
{
    const QStringList parts = pipeFilter.split(QLatin1Char('|'));
    QStringList kept;
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        QStringList entryPatterns;
        const QStringList own = parts[i + 1].split(QLatin1Char(';'));
        for (const QString& pattern : own)
            if (patterns.contains(pattern.trimmed(), Qt::CaseInsensitive))
                entryPatterns << pattern.trimmed();
        if (!entryPatterns.isEmpty())
            kept << parts[i] << entryPatterns.join(QLatin1Char(';'));
    }
    if (kept.isEmpty()) {
        const QString all = patterns.join(QLatin1Char(';'));
        kept << all << all;
    }
    return kept.join(QLatin1Char('|'));
}

QString pipePatternsOf(const QString& pipeFilter, const QString& qtEntry)
{
    const QStringList parts = pipeFilter.split(QLatin1Char('|'));
    QString first;
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        const QString patterns = parts[i + 1].trimmed();
        if (patterns.isEmpty())
            continue;
        if (first.isEmpty())
            first = patterns;
        if (qtFileFilter(parts[i] + QLatin1Char('|') + parts[i + 1]) == qtEntry)
            return patterns;
    }
    return first;
}
