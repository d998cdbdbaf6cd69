// tallyweave-batch: the merge engines without a window, for scripts and end-to-end tests.
#include "batch/commands.h"

#include <QCoreApplication>

#include <cstdio>
#include <cstring>

namespace {
// Every subcommand's usage; --help finds a subcommand's usage by the name that follows the
// program's in it, so a new subcommand needs only its usage listed here (and its run below).
const char* const kUsages[] = {kCellsUsage, kExcelUsage, kWordUsage, kBulkUsage, kOutlookUsage};

// "cells" of "usage: tallyweave-batch cells FILE ...".
QString commandOfUsage(const char* usage) {
    static const char kLead[] = "usage: tallyweave-batch ";
    if (std::strncmp(usage, kLead, sizeof kLead - 1) != 0)
        return {};
    const QString rest = QString::fromUtf8(usage + sizeof kLead - 1);
    return rest.section(QLatin1Char(' '), 0, 0).trimmed();
}

const char* usageOf(const QString& command) {
    for (const char* usage : kUsages)
        if (commandOfUsage(usage) == command)
            return usage;
    return nullptr;
}

bool isHelp(const QString& arg) {
    return arg == QLatin1String("--help") || arg == QLatin1String("-h");
}

void printUsages(QTextStream& stream) {
    for (const char* usage : kUsages)
        stream << usage;
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
    if (isHelp(command)) {
        out << "tallyweave-batch: the merges of Tallyweave without a window.\n";
        printUsages(out);
        out << "'tallyweave-batch MODE --help' prints the usage of one mode; man tallyweave-batch tells "
               "more.\n";
        return 0;
    }
    // Asked for as the first argument only, so that a value such as a subject of "--help" is not
    // taken for it.
    if (!args.isEmpty() && isHelp(args.first())) {
        if (const char* usage = usageOf(command)) {
            out << usage;
            return 0;
        }
    }
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
