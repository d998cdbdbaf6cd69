#pragma once
#include <QString>

// Saving in the legacy .xls format goes through LibreOffice's converter.
bool officeConverterAvailable();
// Converts the workbook at fromPath to the format named by the extension of toPath (".xls"),
// writing toPath atomically. Throws WorkbookError with the cause (converter missing: the cause
// says that saving as .xls needs LibreOffice and that .xlsx works without it).
void convertWithOffice(const QString& fromPath, const QString& toPath);
