#include "office/officeconvert.h"

#include "office/workbook.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSaveFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUrl>

#include <csignal>
#include <unistd.h>

namespace {

// A first start with a fresh profile takes a few seconds; a hung converter must not hang the run.
constexpr int kConvertMilliseconds = 180 * 1000;
// Files handed to one converter process.
constexpr qsizetype kFilesPerConverter = 200;

QString converterProgram() {
    for (const char* name : {"soffice", "libreoffice"}) {
        const QString program = QStandardPaths::findExecutable(QString::fromLatin1(name));
        if (!program.isEmpty())
            return program;
    }
    return {};
}

// The converter runs in a session of its own, so that the Ctrl+C meant for a run reaches the run
// alone: the run then converts the documents of the records it finished, waits for the converter
// and stops, instead of losing them to a converter killed half-way.
void keepConverterWithItsRun(QProcess& process) {
    process.setChildProcessModifier([] { setsid(); });
}

// Ends the converter and the office process it started, which share its session and group.
void endConverter(QProcess& process) {
    if (const qint64 pid = process.processId(); pid > 0)
        ::kill(-pid_t(pid), SIGKILL);
    process.kill();
    process.waitForFinished();
}

} // namespace

bool officeConverterAvailable() {
    return !converterProgram().isEmpty();
}

void convertWithOffice(const QString& fromPath, const QString& toPath) {
    const QString program = converterProgram();
    if (program.isEmpty())
        throw WorkbookError(
            QStringLiteral("cannot save %1: saving as .xls needs LibreOffice (soffice), which is not "
                           "installed; save as .xlsx, which works without it")
                .arg(toPath));
    const QString format = QFileInfo(toPath).suffix().toLower();
    QTemporaryDir work;
    if (!work.isValid())
        throw WorkbookError(
            QStringLiteral("cannot save %1: no temporary folder (%2)").arg(toPath, work.errorString()));
    const QString outDir = work.filePath(QStringLiteral("out"));
    QDir().mkpath(outDir);

    // A profile of its own: works as root, beside a running instance and in parallel runs.
    const QString profile = QUrl::fromLocalFile(work.filePath(QStringLiteral("profile"))).toString();
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    keepConverterWithItsRun(process);
    process.start(program,
                  {QStringLiteral("-env:UserInstallation=") + profile, QStringLiteral("--headless"),
                   QStringLiteral("--norestore"), QStringLiteral("--nologo"), QStringLiteral("--convert-to"),
                   format, QStringLiteral("--outdir"), outDir, QFileInfo(fromPath).absoluteFilePath()});
    if (!process.waitForStarted())
        throw WorkbookError(QStringLiteral("cannot save %1: %2 does not start (%3)")
                                .arg(toPath, program, process.errorString()));
    if (!process.waitForFinished(kConvertMilliseconds)) {
        endConverter(process);
        throw WorkbookError(
            QStringLiteral("cannot save %1: the office converter did not finish within %2 seconds")
                .arg(toPath)
                .arg(kConvertMilliseconds / 1000));
    }
    const QString output =
        QDir(outDir).filePath(QFileInfo(fromPath).completeBaseName() + QLatin1Char('.') + format);
    QFile result(output);
    if (process.exitStatus() != QProcess::NormalExit || !result.exists()) {
        const QString said = QString::fromLocal8Bit(process.readAll()).trimmed();
        throw WorkbookError(
            QStringLiteral("cannot save %1: the office converter wrote nothing (exit code %2%3)")
                .arg(toPath)
                .arg(process.exitCode())
                .arg(said.isEmpty() ? QString() : QStringLiteral(": ") + said));
    }
    if (!result.open(QIODevice::ReadOnly))
        throw WorkbookError(QStringLiteral("cannot save %1: %2").arg(toPath, result.errorString()));
    // The converter's folder may lie on another file system: copy into a temporary file beside
    // the target, then rename, so the target is either whole or untouched.
    QSaveFile target(toPath);
    if (!target.open(QIODevice::WriteOnly))
        throw WorkbookError(QStringLiteral("cannot write %1: %2").arg(toPath, target.errorString()));
    while (!result.atEnd()) {
        const QByteArray chunk = result.read(1 << 20);
        if (chunk.isEmpty() || target.write(chunk) != chunk.size()) {
            target.cancelWriting();
            break;
        }
    }
    if (!target.commit())
        throw WorkbookError(QStringLiteral("cannot write %1: %2").arg(toPath, target.errorString()));
}

namespace {

// One converter process for paths, all of whose outputs must come out in outDir.
QString convertBatch(const QString& program, const QString& profile, const QString& scratch, const QStringList& paths,
                     const QString& format, const QString& outDir, const std::function<bool()>& stopRequested,
                     bool* stopped) {
    QStringList args = {QStringLiteral("-env:UserInstallation=") + profile, QStringLiteral("--headless"),
                        QStringLiteral("--norestore"), QStringLiteral("--nologo"), QStringLiteral("--convert-to"),
                        format, QStringLiteral("--outdir"), outDir};
    for (const QString& path : paths)
        args << QFileInfo(path).absoluteFilePath();
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    // The converter's own temporary files go into the run's folder: a converter ended by a stop
    // leaves them behind, and they go with that folder.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("TMPDIR"), scratch);
    process.setProcessEnvironment(environment);
    keepConverterWithItsRun(process);
    process.start(program, args);
    if (!process.waitForStarted())
        return QStringLiteral("%1 does not start (%2)").arg(program, process.errorString());
    // The start as for one file, then a generous allowance per file.
    const int limit = kConvertMilliseconds + int(std::min<qsizetype>(paths.size(), 100000)) * 2000;
    QElapsedTimer waited;
    waited.start();
    while (!process.waitForFinished(stopRequested ? 100 : limit)) {
        const bool stop = stopRequested && stopRequested();
        if (stop || waited.elapsed() >= limit) {
            endConverter(process);
            if (stop) {
                if (stopped)
                    *stopped = true;
                return QStringLiteral("the conversion was stopped");
            }
            return QStringLiteral("the office converter did not finish within %1 seconds").arg(limit / 1000);
        }
    }
    const QString said = QString::fromLocal8Bit(process.readAll()).trimmed();
    for (const QString& path : paths) {
        const QString output = QDir(outDir).filePath(QFileInfo(path).completeBaseName() + u'.' + format);
        if (process.exitStatus() != QProcess::NormalExit || !QFileInfo(output).isFile())
            return QStringLiteral("the office converter wrote nothing for %1 (exit code %2%3)")
                .arg(QDir::toNativeSeparators(path))
                .arg(process.exitCode())
                .arg(said.isEmpty() ? QString() : QStringLiteral(": ") + said.left(500));
    }
    return {};
}

} // namespace

QString convertAllWithOffice(const QStringList& fromPaths, const QString& format, const QString& outDir,
                             const std::function<bool()>& stopRequested, bool* stopped) {
    if (stopped)
        *stopped = false;
    if (fromPaths.isEmpty())
        return {};
    const QString program = converterProgram();
    if (program.isEmpty())
        return QStringLiteral("LibreOffice (soffice) is not installed");
    QTemporaryDir work;
    if (!work.isValid())
        return QStringLiteral("no temporary folder (%1)").arg(work.errorString());
    const QString profile = QUrl::fromLocalFile(work.filePath(QStringLiteral("profile"))).toString();
    const QString scratch = work.filePath(QStringLiteral("tmp"));
    if (!QDir().mkpath(scratch))
        return QStringLiteral("no temporary folder (%1 cannot be made)").arg(scratch);
    // The converter silently leaves out every file after about the 245th of one command line and
    // still exits 0: the files go in batches, one process after the other, sharing the profile, so
    // that only the first start pays for making it.
    for (qsizetype from = 0; from < fromPaths.size(); from += kFilesPerConverter) {
        const QString failure = convertBatch(program, profile, scratch, fromPaths.mid(from, kFilesPerConverter),
                                             format, outDir, stopRequested, stopped);
        if (!failure.isEmpty())
            return failure;
    }
    return {};
}
