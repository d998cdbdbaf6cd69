#pragma once
#include "merge/common/pathcheck.h"

#include <QString>

// The checks of the Excel-to-Excel command between the save dialog and the run, shared by the
// window command and tallyweave-batch. Pure functions of the paths and the file system; nothing
// here asks or deletes.

// Appends ".xlsx" unless the file name's extension (from its last ".", dot included) is ".xls",
// ".xlsx", ".xlsm" or ".ods", compared without regard to case. ".xlsx" rather than ".xls" because
// the package is the format this program writes without a converter; ".ods" instead when the
// destination is an OpenDocument spreadsheet.
QString applyExtensionRule(const QString& path, const QString& destPath = {});

// The types a run can write with this destination, as the save dialog offers them: ".ods" for an
// OpenDocument spreadsheet, the workbook types otherwise.
QStringList excelOutputPatterns(const QString& destPath = {});

// True when the destination is an OpenDocument spreadsheet: by its content when it is a zip
// package, else by its name.
bool isOdsDestination(const QString& destPath);

enum class ExcelCommandCheck {
    Ok,
    SourceMissing, // no file at the source path (a folder does not count)
    DestMissing,
    OutputIsInput,     // the output names the source or the destination file
    OutputNotWritable, // see outputFileProblem: refused before any record is processed
    OutputExists,      // a file exists at the output path: ask before replacing it
    TypeMismatch,      // an .ods destination without an ".ods" output name, or the reverse
};

// The refusals in the command's order: source, destination, output equal to an input, output of
// another type than the destination, output that cannot be written, existing output. output is the path after applyExtensionRule.
ExcelCommandCheck checkExcelCommand(const QString& source, const QString& dest, const QString& output);

// The key in section ExcelProgressForm of the message for a check ("String02" .. "String05",
// "String12" for a type mismatch, and the run's error "String10" for an output that cannot be
// written), empty for Ok. OutputExists is
// a question whose "[xxx]" takes the output's file name.
QString excelCommandMessageKey(ExcelCommandCheck check);
