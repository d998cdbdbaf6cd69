#include "batch/printer.h"

#include "app/languagefile.h"
#include "app/localization.h"
#include "office/workbook.h"

void ReportPrinter::keepReport(const QString& path, const QStringList& captions) {
    m_reportPath = path;
    m_report.emplace(QStringList{QString()} + captions);
}

bool ReportPrinter::finish(int records, int nullValues, int failures, QTextStream& err, const QString& command) {
    m_out << "records " << records << ", null values " << nullValues << ", failures " << failures << '\n';
    m_out.flush();
    if (!m_report)
        return true;
    try {
        m_report->save(m_reportPath);
        return true;
    } catch (const WorkbookError& error) {
        err << "tallyweave-batch " << command << ": the report cannot be written: " << error.cause() << '\n';
        return false;
    }
}

void reportLeftOut(QTextStream& err, const QString& command, int leftOut) {
    if (leftOut > 0)
        err << "tallyweave-batch " << command << ": " << leftOut << (leftOut == 1 ? " row" : " rows")
            << " left out: the address cannot be used\n";
}

QString reportCaption(const QString& key) {
    static const LanguageFile english(programDirectory() + QStringLiteral("/Languages/English.ini"));
    return english.value(QStringLiteral("ListView"), key, key);
}

QStringList mailCaptions(int pairs) {
    QStringList captions{reportCaption(QStringLiteral("MailTo"))};
    for (int n = 1; n <= pairs; ++n)
        captions << reportCaption(QStringLiteral("Field")) + QString::number(n);
    captions << reportCaption(QStringLiteral("Comment"));
    return captions;
}

void ReportPrinter::line(int image, const QStringList& fields) {
    if (m_report)
        m_report->addLine(image, fields);
    m_out << image;
    for (const QString& field : fields)
        m_out << '\t' << escapeField(field);
    m_out << '\n';
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
