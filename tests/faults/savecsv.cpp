// Saves a workbook of generated rows as comma-separated text, so that a test can run the text
// writer in a process of its own with faults injected into its writes.
// usage: savecsv OUTPUT ROWS
#include "office/workbook.h"
#include "office/csvworkbook.h"

#include <QCoreApplication>
#include <QTextStream>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    QTextStream err(stderr);
    if (args.size() != 3) {
        err << "usage: savecsv OUTPUT ROWS\n";
        return 2;
    }
    QList<QStringList> rows;
    const int count = args[2].toInt();
    for (int row = 1; row <= count; ++row)
        rows.append({QStringLiteral("row %1").arg(row), QStringLiteral("a value, quoted \"%1\"").arg(row),
                     QString(40, QLatin1Char('x'))});
    try {
        writeCsv(args[1], rows, CsvFormat());
    } catch (const WorkbookError& error) {
        err << error.cause() << '\n';
        return 1;
    }
    return 0;
}
