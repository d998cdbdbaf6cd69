#include "batch/commands.h"

#include "office/workbook.h"

namespace {
int usage(QTextStream& err, const QString& what) {
    err << "tallyweave-batch cells: " << what << '\n' << kCellsUsage;
    return 2;
}
} // namespace

int runCellsCommand(const QStringList& args, QTextStream& out, QTextStream& err) {
    QString file;
    int sheet = 1;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& arg = args[i];
        if (arg == QLatin1String("--sheet")) {
            if (++i >= args.size())
                return usage(err, QStringLiteral("--sheet needs a number"));
            bool ok = false;
            sheet = args[i].toInt(&ok);
            if (!ok || sheet < 1)
                return usage(err,
                             QStringLiteral("the sheet number must be 1 or more, not '%1'").arg(args[i]));
        } else if (arg.startsWith(QLatin1String("--"))) {
            return usage(err, QStringLiteral("unknown option '%1'").arg(arg));
        } else if (file.isEmpty() && !arg.isEmpty()) {
            file = arg;
        } else {
            return usage(err, QStringLiteral("one file only, '%1' is one too many").arg(arg));
        }
    }
    if (file.isEmpty())
        return usage(err, QStringLiteral("no file named"));

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
