#include "merge/common/reportfile.h"

#include "merge/common/pathcheck.h"
#include "office/valueworkbook.h"

#include <algorithm>

QString reportImageWord(int image) {
    switch (image) {
    case 0:
        return QStringLiteral("processed");
    case 1:
        return QStringLiteral("failure");
    case 2:
        return QStringLiteral("null value");
    case 3:
        return QStringLiteral("pending");
    default:
        return QString::number(image);
    }
}

QStringList reportFileExtensions() {
    return {QStringLiteral(".csv"), QStringLiteral(".xlsx")};
}

QString reportFileProblem(const QString& path) {
    if (reportFileExtensions().contains(fileExtension(path), Qt::CaseInsensitive))
        return {};
    return QStringLiteral("cannot save the report as %1: the name must end in .csv or .xlsx").arg(path);
}

namespace {

// Widest texts are cut at this many characters of column width; the cell keeps its whole text.
constexpr double kWidestColumn = 60;

// Characters of the default font a text needs on its longest line: wide (East Asian) characters
// count twice.
double textWidth(const QString& text) {
    double widest = 0, width = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c == u'\n') {
            width = 0;
            continue;
        }
        if (QChar::isLowSurrogate(c))
            continue;
        width += c >= 0x2E80 && !(c >= 0xFF61 && c <= 0xFFDC) ? 2 : 1;
        widest = std::max(widest, width);
    }
    return widest;
}

// Column widths that show the texts of every row, as the report's list lets one widen a column.
QList<double> columnWidths(const QList<QStringList>& rows) {
    QList<double> widths;
    for (const QStringList& row : rows) {
        if (widths.size() < row.size())
            widths.resize(row.size(), 0);
        for (qsizetype c = 0; c < row.size(); ++c)
            widths[c] = std::max(widths[c], std::min(textWidth(row[c]) + 2, kWidestColumn));
    }
    return widths;
}

} // namespace

void saveReportFile(const QString& path, const QStringList& captions, const QList<ReportLine>& lines) {
    const QString problem = reportFileProblem(path);
    if (!problem.isEmpty())
        throw WorkbookError(problem);
    QList<QStringList> rows;
    rows.reserve(lines.size() + 1);
    rows << captions;
    for (const ReportLine& line : lines) {
        QStringList row;
        row.reserve(std::max(captions.size(), line.subItems.size() + 1));
        row << reportImageWord(line.image) << line.subItems;
        while (row.size() < captions.size())
            row << QString();
        rows << row;
    }
    // The default CSV format is the one described above: UTF-8, byte order mark, comma, CR LF.
    saveValues(path, rows, CsvFormat(), {NumberTexts::AsTexts, columnWidths(rows)});
}

int ReportFile::addLine(int image, const QStringList& subItems) {
    m_lines.append({image, subItems});
    return int(m_lines.size()) - 1;
}

void ReportFile::save(const QString& path) const {
    saveReportFile(path, m_captions, m_lines);
}
