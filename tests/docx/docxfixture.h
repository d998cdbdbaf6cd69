#pragma once
// Templates, workbooks and read-backs made by programs we did not write: python-docx and
// openpyxl (tests/docx/docxfixture.py) and LibreOffice.
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QStringList>

namespace docxfixture {

inline QString script() {
    return QStringLiteral(TW_SOURCE_DIR "/tests/docx/docxfixture.py");
}

// Runs the fixture script; the error is empty on success.
inline QString runScript(const QStringList& args, QByteArray* out = nullptr, int seconds = 300) {
    QProcess python;
    python.start(QStringLiteral(TW_PYTHON), QStringList{script()} + args);
    if (!python.waitForFinished(seconds * 1000))
        return QStringLiteral("python did not finish: ") + python.errorString();
    if (python.exitStatus() != QProcess::NormalExit || python.exitCode() != 0)
        return QString::fromUtf8(python.readAllStandardError());
    if (out)
        *out = python.readAllStandardOutput();
    return {};
}

// A workbook whose first sheet holds rows (each a list of cells; a null cell stays empty).
inline QString writeBook(const QString& path, const QJsonArray& rows) {
    QFile json(path + QStringLiteral(".json"));
    const QByteArray data = QJsonDocument(rows).toJson();
    if (!json.open(QIODevice::WriteOnly) || json.write(data) != data.size())
        return QStringLiteral("cannot write ") + json.fileName();
    json.close();
    const QString error = runScript({QStringLiteral("book"), path, json.fileName()});
    json.remove();
    return error;
}

// Every document as python-docx reads it: paragraphs, cells, header, footer, boxes, pageBreaks.
inline QJsonObject readDocuments(const QStringList& paths, QString* error) {
    QByteArray out;
    *error = runScript(QStringList{QStringLiteral("read")} + paths, &out);
    return error->isEmpty() ? QJsonDocument::fromJson(out).object() : QJsonObject();
}

inline QStringList texts(const QJsonValue& array) {
    QStringList list;
    for (const QJsonValue& v : array.toArray())
        list << v.toString();
    return list;
}

inline QByteArray digest(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256);
}

inline bool haveOffice() {
    return !QStandardPaths::findExecutable(QStringLiteral("soffice")).isEmpty();
}

// Converts the documents with LibreOffice, all in one process, into outDir (with a profile of
// its own there) as format; the error is empty on success.
inline QString officeConvert(const QStringList& paths, const QString& format, const QString& outDir) {
    QDir().mkpath(outDir);
    QProcess office;
    office.setProcessChannelMode(QProcess::MergedChannels);
    office.start(QStringLiteral("soffice"),
                 QStringList{QStringLiteral("-env:UserInstallation=file://") + outDir + QStringLiteral("/profile"),
                             QStringLiteral("--headless"), QStringLiteral("--norestore"),
                             QStringLiteral("--convert-to"), format, QStringLiteral("--outdir"), outDir} +
                     paths);
    if (!office.waitForFinished(600 * 1000))
        return QStringLiteral("LibreOffice did not finish");
    if (office.exitCode() != 0)
        return QString::fromLocal8Bit(office.readAll());
    return {};
}

// The documents as LibreOffice's text export writes them, by input path; an input it could not
// open has no entry.
inline QMap<QString, QString> officeTexts(const QStringList& paths, const QString& outDir, QString* error) {
    QMap<QString, QString> result;
    *error = officeConvert(paths, QStringLiteral("txt:Text (encoded):UTF8"), outDir);
    for (const QString& path : paths) {
        QFile text(QDir(outDir).filePath(QFileInfo(path).completeBaseName() + QStringLiteral(".txt")));
        if (text.open(QIODevice::ReadOnly))
            result.insert(path, QString::fromUtf8(text.readAll()));
    }
    return result;
}

// The entries of a folder, hidden ones and folders included, by name.
inline QStringList filesIn(const QString& folder) {
    return QDir(folder).entryList(QDir::Files | QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

// A PDF as poppler-utils reads it: its page count (pdfinfo), its text (pdftotext, pages separated
// by form feeds) and, per font, whether it is embedded (pdffonts). error is empty when all three
// could read it.
struct PdfReading {
    int pages = -1;
    QString text;
    QList<bool> fontsEmbedded;
    QString error;
};

inline QString popplerOutput(const QString& program, const QStringList& args, QString* error) {
    QProcess tool;
    tool.start(program, args);
    if (!tool.waitForFinished(60 * 1000) || tool.exitStatus() != QProcess::NormalExit ||
        tool.exitCode() != 0) {
        *error = program + QStringLiteral(" cannot read ") + args.value(0) + QStringLiteral(": ") +
                 QString::fromLocal8Bit(tool.readAllStandardError());
        return {};
    }
    return QString::fromUtf8(tool.readAllStandardOutput());
}

inline PdfReading readPdf(const QString& path) {
    PdfReading pdf;
    const QString info = popplerOutput(QStringLiteral("pdfinfo"), {path}, &pdf.error);
    const QRegularExpressionMatch pages =
        QRegularExpression(QStringLiteral("^Pages:\\s+(\\d+)$"), QRegularExpression::MultilineOption)
            .match(info);
    if (pages.hasMatch())
        pdf.pages = pages.captured(1).toInt();
    pdf.text = popplerOutput(QStringLiteral("pdftotext"),
                             {QStringLiteral("-layout"), path, QStringLiteral("-")}, &pdf.error);
    // The table's columns: name type encoding emb sub uni object ID; "emb" is the fifth from the end.
    const QStringList fonts = popplerOutput(QStringLiteral("pdffonts"), {path}, &pdf.error).split(u'\n');
    for (const QString& line : fonts.mid(2)) {
        const QStringList columns = line.split(u' ', Qt::SkipEmptyParts);
        if (columns.size() >= 7)
            pdf.fontsEmbedded << (columns.at(columns.size() - 5) == QLatin1String("yes"));
    }
    return pdf;
}

// PATH set for a while (to hide LibreOffice), restored when it goes out of scope.
struct PathOverride {
    explicit PathOverride(const QByteArray& path) : saved(qgetenv("PATH")) { qputenv("PATH", path); }
    ~PathOverride() { qputenv("PATH", saved); }
    QByteArray saved;
};

} // namespace docxfixture
