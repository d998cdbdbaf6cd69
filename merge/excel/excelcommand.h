#pragma once
#include "merge/common/pathcheck.h"

#include <QString>

// The checks of the Excel-to-Excel command between the save dialog and the run, shared by the
// window command and tallyweave-batch. Pure functions of the paths and the file system; nothing
// here asks or deletes.

// Appends ".xlsx" unless the file name's extension (from its last ".", dot included) is ".xls",
// ".xlsx" or ".xlsm", compared without regard to case. ".xlsx" rather than ".xls" because the
// package is the format this program writes without a converter.
QString applyExtensionRule(const QString& path);

// The types a run can write, as the save dialog offers them.
QStringList excelOutputPatterns();

enum class ExcelCommandCheck {
    Ok,
    SourceMissing, // no file at the source path (a folder does not count)
    DestMissing,
    OutputIsInput,     // the output names the source or the destination file
    OutputNotWritable, // see outputFileProblem: refused before any record is processed
    OutputExists,      // a file exists at the output path: ask before replacing it
};

// The refusals in the command's order: source, destination, output equal to an input, output that
// cannot be written, existing output. output is the path after applyExtensionRule.
ExcelCommandCheck checkExcelCommand(const QString& source, const QString& dest, const QString& output);

// The key in section ExcelProgressForm of the message for a check ("String02" .. "String05", and
// the run's error "String10" for an output that cannot be written), empty for Ok. OutputExists is
// a question whose "[xxx]" takes the output's file name.
QString excelCommandMessageKey(ExcelCommandCheck check);
