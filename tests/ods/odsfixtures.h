#pragma once
// Fixtures of the .ods tests: hand-made files, and books LibreOffice converts from the project's
// .xlsx test books.
#include "office/officeconvert.h"
#include "office/workbook.h"
#include "office/officetestutil.h" // IWYU pragma: export

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

inline QString odsTestFile(const char* name) {
    return QStringLiteral(TW_SOURCE_DIR "/tests/ods/") + QLatin1String(name);
}

// Converts files with LibreOffice into outDir as format ("ods", "xlsx"), all in one run.
inline bool convertWithLibreOffice(const QStringList& files, const QString& format, const QString& outDir,
                                   const QString& profile) {
    QProcess office;
    office.start(QStringLiteral("soffice"),
                 QStringList{QStringLiteral("-env:UserInstallation=file://") + profile, QStringLiteral("--headless"),
                             QStringLiteral("--convert-to"), format, QStringLiteral("--outdir"), outDir} +
                     files);
    if (!office.waitForFinished(600000))
        return false;
    for (const QString& file : files)
        if (!QFile::exists(QDir(outDir).filePath(QFileInfo(file).completeBaseName() + u'.' + format)))
            return false;
    return true;
}

// One sheet's cells as odfpy reads them: (row, column) -> (type, value).
struct OdfpyCell {
    int row;
    int column;
    QString type;
    QString value;
    QString style;
};
struct OdfpySheet {
    QString name;
    QList<OdfpyCell> cells;
};
inline QList<OdfpySheet> readWithOdfpy(const QString& path) {
    QList<OdfpySheet> sheets;
    const QByteArray json = runPython({odsTestFile("dump_ods.py"), path});
    for (const QJsonValue& sheet : QJsonDocument::fromJson(json).array()) {
        OdfpySheet& s = sheets.emplace_back();
        s.name = sheet.toObject().value(QLatin1String("name")).toString();
        for (const QJsonValue& cell : sheet.toObject().value(QLatin1String("cells")).toArray()) {
            const QJsonArray c = cell.toArray();
            s.cells.append({c[0].toInt(), c[1].toInt(), c[2].toString(), c[3].toString(), c[4].toString()});
        }
    }
    return sheets;
}
