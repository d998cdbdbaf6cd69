#include "batch/commands.h"

#include "batch/printer.h"
#include "office/workbook.h"

int runCellsCommand(const QStringList& args, QTextStream& out, QTextStream& err) {
    QString file;
    int sheet = 1;
    try {
        static const FlagSet flags{{}, {"--sheet"}, "FILE"};
        readFlags(args, flags, [&](const QString& flag, const QString& value) {
            if (flag == QLatin1String("--sheet"))
                sheet = positiveNumber(flag, value);
            else if (file.isEmpty() && !value.isEmpty())
                file = value;
            else
                throw UsageError{QStringLiteral("one file only, '%1' is one too many").arg(value)};
        });
        if (file.isEmpty())
            throw UsageError{QStringLiteral("no file named")};
    } catch (const UsageError& error) {
        err << "tallyweave-batch cells: " << error.message << '\n' << kCellsUsage;
        return 2;
    }

    try {
        const std::unique_ptr<Workbook> book = openWorkbook(file);
        const int sheets = book->sheetCount();
        if (sheet > sheets) {
            err << "tallyweave-batch: " << file << " has " << sheets << " sheet(s), there is no sheet "
                << sheet << '\n';
            return 1;
        }
        book->selectSheet(sheet);
        const int rows = book->usedRows();
        const int columns = book->usedColumns();
        out << "sheets " << sheets << ", rows " << rows << ", columns " << columns << '\n';
        for (int row = 1; row <= rows; ++row) {
            for (int column = 1; column <= columns; ++column) {
                if (column > 1)
                    out << '\t';
                out << escapeField(book->cellText(row, column));
            }
            out << '\n';
        }
        return 0;
    } catch (const WorkbookError& error) {
        err << "tallyweave-batch: " << error.cause() << '\n';
    } catch (const std::exception& error) {
        err << "tallyweave-batch: " << file << ": " << error.what() << '\n';
    }
    return 1;
}
