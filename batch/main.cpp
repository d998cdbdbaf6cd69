// tallyweave-batch: the merge engines without a window, for scripts and end-to-end tests.
#include "batch/commands.h"

#include <QCoreApplication>

#include <cstdio>

namespace {
const char* kUsage =
    "usage: tallyweave-batch cells FILE [--sheet N]\n"
    "       tallyweave-batch excel --source FILE [--source-sheet N] [--source-index COL] [--source-start LINE]\n"
    "                              [--unique] --dest FILE [--dest-sheet N] [--dest-index COL] [--dest-start LINE]\n"
    "                              [--case-sensitive] --pair SRC:DST [--pair SRC:DST ...] --output FILE [--overwrite]\n"
    "       tallyweave-batch bulk --source FILE [--sheet N] [--email-column COL] [--start LINE]\n"
    "                             --subject TEXT --body-file FILE [--attach FILE ...] [--pair COL:LABEL ...]\n"
    "                             [--interval-ms MS]\n";
}

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    QTextStream err(stderr);
    QStringList args = app.arguments().mid(1);
    if (args.isEmpty()) {
        err << kUsage;
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
    else
        err << "tallyweave-batch: unknown command '" << command << "'\n" << kUsage;
    out.flush();
    err.flush();
    return code;
}
