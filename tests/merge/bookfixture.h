#pragma once
// Workbooks written and read back by openpyxl (tests/merge/excelfixture.py), an independent
// reader and writer of the package format.
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

namespace bookfixture {

inline QString script() {
    return QStringLiteral(TW_SOURCE_DIR "/tests/merge/excelfixture.py");
}

// Runs the fixture script; the error is empty on success.
inline QString runScript(const QStringList& args, QByteArray* out = nullptr) {
    QProcess python;
    python.start(QStringLiteral(TW_PYTHON), QStringList{script()} + args);
    if (!python.waitForFinished(60000))
        return QStringLiteral("python did not finish: ") + python.errorString();
    if (python.exitStatus() != QProcess::NormalExit || python.exitCode() != 0)
        return QString::fromUtf8(python.readAllStandardError());
    if (out)
        *out = python.readAllStandardOutput();
    return {};
}

inline QByteArray layoutFile(const char* name) {
    QFile file(QStringLiteral(TW_SOURCE_DIR "/tests/merge/data/") + QLatin1String(name));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Writes the workbook described by layoutJson (see excelfixture.py) to path.
inline QString writeBook(const QString& path, const QByteArray& layoutJson) {
    QFile layout(path + QStringLiteral(".json"));
    if (!layout.open(QIODevice::WriteOnly) || layout.write(layoutJson) != layoutJson.size())
        return QStringLiteral("cannot write ") + layout.fileName();
    layout.close();
    const QString error = runScript({QStringLiteral("write"), layout.fileName(), path});
    layout.remove();
    return error;
}

// source.xlsx and dest.xlsx in folder, from two descriptions in data/: written once per test
// program (python is slow to start), then copied for every test with copyPair.
inline QString writePair(const QString& folder, const char* sourceLayout, const char* destLayout) {
    const QString error = writeBook(folder + QStringLiteral("/source.xlsx"), layoutFile(sourceLayout));
    return error.isEmpty() ? writeBook(folder + QStringLiteral("/dest.xlsx"), layoutFile(destLayout)) : error;
}

inline bool copyPair(const QString& from, const QString& to) {
    for (const QString& name : {QStringLiteral("source.xlsx"), QStringLiteral("dest.xlsx")})
        if (!QFile::copy(from + QLatin1Char('/') + name, to + QLatin1Char('/') + name))
            return false;
    return true;
}

// Every sheet of the book as openpyxl sees it; an empty object when it cannot be read.
inline QJsonObject dumpBook(const QString& path, QString* error = nullptr) {
    QByteArray out;
    const QString failure = runScript({QStringLiteral("dump"), path}, &out);
    if (error)
        *error = failure;
    return failure.isEmpty() ? QJsonDocument::fromJson(out).object() : QJsonObject();
}

inline QJsonObject sheetOf(const QJsonObject& book, int index) {
    return book.value(QStringLiteral("sheets")).toArray().at(index).toObject();
}

inline QJsonObject cellOf(const QJsonObject& book, int sheet, const QString& coordinate) {
    return sheetOf(book, sheet).value(QStringLiteral("cells")).toObject().value(coordinate).toObject();
}

// The book without the given cells of its first sheet, for comparing what should be untouched.
inline QJsonObject withoutCells(QJsonObject book, const QStringList& coordinates) {
    QJsonArray sheets = book.value(QStringLiteral("sheets")).toArray();
    QJsonObject first = sheets.at(0).toObject();
    QJsonObject cells = first.value(QStringLiteral("cells")).toObject();
    for (const QString& coordinate : coordinates)
        cells.remove(coordinate);
    first.insert(QStringLiteral("cells"), cells);
    sheets.replace(0, first);
    book.insert(QStringLiteral("sheets"), sheets);
    return book;
}

inline QByteArray fileHash(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256).toHex();
}

inline QStringList folderEntries(const QString& path) {
    return QDir(path).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

} // namespace bookfixture
