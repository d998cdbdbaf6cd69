#pragma once
#include "batch/arguments.h"

#include <QStringList>
#include <QTextStream>

// The subcommands of tallyweave-batch. Each takes its own arguments (the subcommand's name
// removed), writes its result to out and causes to err, and returns the exit code:
// 0 done, 1 refused or failed, 2 bad usage. A bad usage prints the subcommand's own usage.
inline constexpr const char* kCellsUsage = "usage: tallyweave-batch cells FILE [--sheet N]\n";
// clang-format off
inline constexpr const char* kExcelUsage =
    "usage: tallyweave-batch excel --source FILE [--source-sheet N] [--source-index COL] [--source-start LINE]\n"
    "                              [--unique] --dest FILE [--dest-sheet N] [--dest-index COL] [--dest-start LINE]\n"
    "                              [--case-sensitive] --pair SRC:DST [--pair SRC:DST ...] --output FILE [--overwrite]\n"
    "                              [--report FILE]\n";
inline constexpr const char* kWordUsage =
    "usage: tallyweave-batch word --source FILE [--sheet N] [--start LINE] --template FILE\n"
    "                             [--one-file [--separator paragraph|page]] --pair COL:LABEL [--pair COL:LABEL ...]\n"
    "                             --output FILE [--name-column COL] [--overwrite] [--report FILE]\n";
inline constexpr const char* kBulkUsage =
    "usage: tallyweave-batch bulk --source FILE [--sheet N] [--email-column COL] [--start LINE]\n"
    "                             --subject TEXT --body-file FILE [--attach FILE ...] [--pair COL:LABEL ...]\n"
    "                             [--attach-column COL] [--cc-column COL] [--bcc-column COL] [--subject-labels]\n"
    "                             [--html] [--interval-ms MS] [--journal FILE] [--resume | --restart]\n"
    "                             [--report FILE]\n"
    "                             [--document-template FILE [--document-format pdf|docx] [--document-name TEXT]]\n";
inline constexpr const char* kOutlookUsage =
    "usage: tallyweave-batch outlook (--save [--imap] | --send) --source FILE [--sheet N] [--email-column COL] [--start LINE]\n"
    "                                --subject TEXT --body-file FILE [--attach FILE ...] [--pair COL:LABEL ...]\n"
    "                                [--attach-column COL] [--cc-column COL] [--bcc-column COL] [--subject-labels]\n"
    "                                [--html] [--journal FILE] [--resume | --restart] [--report FILE]\n"
    "                                [--document-template FILE [--document-format pdf|docx] [--document-name TEXT]]\n";
// clang-format on

int runBulkCommand(const QStringList& args, QTextStream& out, QTextStream& err);
int runCellsCommand(const QStringList& args, QTextStream& out, QTextStream& err);
int runExcelCommand(const QStringList& args, QTextStream& out, QTextStream& err);
int runWordCommand(const QStringList& args, QTextStream& out, QTextStream& err);
int runOutlookCommand(const QStringList& args, QTextStream& out, QTextStream& err);
