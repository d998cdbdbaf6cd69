#pragma once
#include "office/workbook.h"

// OpenDocument spreadsheets (.ods, .ots): the sheets' values are read from content.xml as it
// streams past; a save as ".ods" patches the changed cells into a copy of the original package,
// every other name saves the selected sheet's values as that format.
std::unique_ptr<Workbook> openOdsWorkbook(const QString& path, const WorkbookOpenOptions& options);

// True when the zip package at path is an OpenDocument spreadsheet. Throws WorkbookError for an
// OpenDocument of another kind (a text document), which no reader takes.
bool isOdsPackage(const QString& path);

// As isOdsPackage, false for anything that cannot be read or is no zip package.
bool isOdsFile(const QString& path);
