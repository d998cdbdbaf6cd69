#pragma once
// The workbooks the xlsx tests read, written by Python's spreadsheet libraries into a folder.
#include <QProcess>
#include <QString>

inline QString makeXlsxFixtures(const QString& folder) {
    QProcess python;
    python.start(TW_PYTHON, {TW_SOURCE_DIR "/tests/xlsx/make_fixtures.py", folder});
    if (!python.waitForFinished(120000))
        return QStringLiteral("make_fixtures.py did not finish");
    if (python.exitCode() != 0)
        return QString::fromUtf8(python.readAllStandardError());
    return {};
}
