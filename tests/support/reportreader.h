#pragma once
// A saved run report read back by independent readers: Python's csv module and openpyxl.
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QProcess>
#include <QStringList>

struct ReadReport {
    bool ok = false;          // the reader ran and understood the file
    bool byteOrderMark = false;
    // The bytes are exactly what the csv module writes for the rows it read with minimal quoting
    // and CR LF after each row: quoting and line ends as RFC 4180 has them.
    bool canonical = false;
    bool onlyTexts = true; // every value read is a text (or empty): no cell became a number
    QList<double> widths;  // of a workbook's columns, 0 where none is set
    QList<QStringList> rows;
};

inline ReadReport readReportFile(const QString& path) {
    static const char* script = R"(
import csv, io, json, sys
path = sys.argv[1]
result = {}
if path.lower().endswith('.csv'):
    data = open(path, 'rb').read()
    result['bom'] = data.startswith(b'\xef\xbb\xbf')
    text = data.decode('utf-8-sig')
    rows = list(csv.reader(io.StringIO(text, newline=''), strict=True))
    out = io.StringIO(newline='')
    csv.writer(out, lineterminator='\r\n').writerows(rows)
    result['canonical'] = out.getvalue() == text
    result['rows'] = rows
else:
    import openpyxl
    sheet = openpyxl.load_workbook(path).worksheets[0]
    rows = [list(row) for row in sheet.iter_rows(values_only=True)]
    result['onlyTexts'] = all(v is None or isinstance(v, str) for row in rows for v in row)
    result['rows'] = [['' if v is None else str(v) for v in row] for row in rows]
    from openpyxl.utils import get_column_letter
    dims = sheet.column_dimensions
    result['widths'] = [(dims[get_column_letter(c)].width if get_column_letter(c) in dims and dims[get_column_letter(c)].customWidth else 0)
                        for c in range(1, sheet.max_column + 1)]
print(json.dumps(result))
)";
    QProcess python;
    python.start(QStringLiteral(TW_PYTHON), {QStringLiteral("-c"), QString::fromLatin1(script), path});
    ReadReport read;
    if (!python.waitForFinished(120000) || python.exitStatus() != QProcess::NormalExit || python.exitCode() != 0) {
        qWarning("python failed: %s", python.readAllStandardError().constData());
        return read;
    }
    const QJsonObject result = QJsonDocument::fromJson(python.readAllStandardOutput()).object();
    read.ok = true;
    read.byteOrderMark = result.value(QLatin1String("bom")).toBool();
    read.canonical = result.value(QLatin1String("canonical")).toBool();
    read.onlyTexts = result.value(QLatin1String("onlyTexts")).toBool(true);
    for (const QJsonValue& width : result.value(QLatin1String("widths")).toArray())
        read.widths << width.toDouble();
    for (const QJsonValue& row : result.value(QLatin1String("rows")).toArray()) {
        QStringList texts;
        for (const QJsonValue& value : row.toArray())
            texts << value.toString();
        read.rows << texts;
    }
    return read;
}
