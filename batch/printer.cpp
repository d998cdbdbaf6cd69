#include "batch/printer.h"

void ReportPrinter::line(int image, const QStringList& fields) {
    m_out << image;
    for (const QString& field : fields)
        m_out << '\t' << escapeField(field);
    m_out << '\n';
    m_out.flush();
}

void ReportPrinter::counters(int records, int nullValues, int failures) {
    m_out << "records " << records << ", null values " << nullValues << ", failures " << failures << '\n';
    m_out.flush();
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
        else if (c.unicode() < 0x20 || (c.unicode() >= 0x7F && c.unicode() <= 0x9F))
            // Any other control character would drive the terminal the lines are read on.
            out += QLatin1String("\\x") + QString::number(c.unicode(), 16).toUpper().rightJustified(2, u'0');
        else
            out += c;
    }
    return out;
}
