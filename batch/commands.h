#pragma once
#include "batch/arguments.h"

#include <QStringList>
#include <QTextStream>

// The subcommands of tallyweave-batch. Each takes its own arguments (the subcommand's name
// removed), writes its result to out and causes to err, and returns the exit code:
// 0 done, 1 refused or failed, 2 bad usage.
int runBulkCommand(const QStringList& args, QTextStream& out, QTextStream& err);
int runCellsCommand(const QStringList& args, QTextStream& out, QTextStream& err);
int runExcelCommand(const QStringList& args, QTextStream& out, QTextStream& err);
