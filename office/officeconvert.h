#pragma once
#include <QString>
#include <QStringList>

#include <functional>

// Saving in the legacy .xls format goes through LibreOffice's converter.
bool officeConverterAvailable();
// Converts the workbook at fromPath to the format named by the extension of toPath (".xls"),
// writing toPath atomically. Throws WorkbookError with the cause (converter missing: the cause
// says that saving as .xls needs LibreOffice and that .xlsx works without it).
void convertWithOffice(const QString& fromPath, const QString& toPath);

// Converts every file of fromPaths into outDir as format ("docx", "odt", "doc", "pdf") with as few
// converter starts as LibreOffice allows (one per 200 files, sharing one profile): starting it
// costs seconds, converting a letter a fraction of that.
// The outputs are named after the inputs (outDir/base.format); inputs must differ in base name.
// Returns the empty text on success, else the cause, naming the first file that did not come out.
// stopRequested, when given, is asked while the converter works; when it answers true the
// converter is ended at once, *stopped is set and nothing counts as converted.
QString convertAllWithOffice(const QStringList& fromPaths, const QString& format, const QString& outDir,
                             const std::function<bool()>& stopRequested = {}, bool* stopped = nullptr);
