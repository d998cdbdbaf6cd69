#pragma once
// Helpers of the office tests: fixture bytes on disk, and the independent Python readers and writers.

#include <QByteArray>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTest>

inline void writeBytes(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    QVERIFY2(file.open(QIODevice::WriteOnly), qPrintable(file.errorString()));
    QCOMPARE(file.write(bytes), bytes.size());
}

// Runs /usr/bin/python3 with a script; fails the test when it fails. Returns its output.
inline QByteArray runPython(const QStringList& args) {
    QProcess python;
    python.start(QStringLiteral(TW_PYTHON), args);
    if (!python.waitForFinished(120000) || python.exitStatus() != QProcess::NormalExit ||
        python.exitCode() != 0) {
        qWarning("python failed: %s", python.readAllStandardError().constData());
        return QByteArray("<python failed>");
    }
    return python.readAllStandardOutput();
}

inline QString officeTestFile(const char* name) {
    return QStringLiteral(TW_SOURCE_DIR "/tests/office/") + QLatin1String(name);
}

// The values of a sheet (0: the first) of an .xlsx file as openpyxl reads them (None as empty text).
inline QList<QStringList> readWithOpenpyxl(const QString& path, int sheet = 0) {
    static const char* script = R"(
import json, sys, openpyxl
sheet = openpyxl.load_workbook(sys.argv[1]).worksheets[int(sys.argv[2])]
rows = [["" if v is None else str(v) for v in row] for row in sheet.iter_rows(values_only=True)]
print(json.dumps(rows))
)";
    const QByteArray json =
        runPython({QStringLiteral("-c"), QString::fromLatin1(script), path, QString::number(sheet)});
    QList<QStringList> rows;
    for (const QJsonValue& row : QJsonDocument::fromJson(json).array()) {
        QStringList texts;
        for (const QJsonValue& value : row.toArray())
            texts << value.toString();
        rows << texts;
    }
    return rows;
}
