// tallyweave-batch: the merge engines without a window, for scripts and end-to-end tests.
#include "batch/commands.h"

#include <QCoreApplication>

#include <cstdio>

namespace {
const char* const kUsages[] = {kCellsUsage, kExcelUsage, kWordUsage, kBulkUsage, kOutlookUsage};

void printUsages(QTextStream& err) {
    for (const char* usage : kUsages)
        err << usage;
}
} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    QTextStream err(stderr);
    QStringList args = app.arguments().mid(1);
    if (args.isEmpty()) {
        printUsages(err);
        return 2;
    }
    const QString command = args.takeFirst();
    int code = 2;
    if (command == QLatin1String("cells"))
        code = runCellsCommand(args, out, err);
    else if (command == QLatin1String("bulk"))
        code = runBulkCommand(args, out, err);
    else if (command == QLatin1String("excel"))
        code = runExcelCommand(args, out, err);
    else if (command == QLatin1String("outlook"))
        code = runOutlookCommand(args, out, err);
    else if (command == QLatin1String("word"))
        code = runWordCommand(args, out, err);
    else {
        err << "tallyweave-batch: unknown command '" << command << "'\n";
        printUsages(err);
    }
    out.flush();
    err.flush();
    return code;
}
