// Times reading every cell of a large workbook and compares it with openpyxl's read-only mode.
// Usage: bench_xlsxread [ROWS | FILE.xlsx]  (default 100000 rows; the workbook is made in a temporary
// folder unless a file is given)
#include "office/xlsxworkbook.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>
#include <sys/resource.h>

namespace {

long peakKib() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage); // every thread of the process
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

long currentKib() {
    QFile status(QStringLiteral("/proc/self/statm"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = status.readAll().split(' ');
    return fields.size() > 1 ? fields[1].toLong() * 4 : 0;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QString argument = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("100000");
    QTemporaryDir dir;
    const bool given = argument.endsWith(QLatin1String(".xlsx"));
    const QString book = given ? argument : dir.filePath(QStringLiteral("bench.xlsx"));
    QProcess make;
    if (!given)
        make.start(TW_PYTHON, {TW_BENCH_DIR "/make_book.py", book, argument});
    if (!given && (!make.waitForFinished(-1) || make.exitCode() != 0)) {
        std::fprintf(stderr, "cannot make the workbook: %s\n", make.readAllStandardError().constData());
        return 1;
    }

    // Our read first, before the child process exists, so that the peak is ours alone.
    const long startKib = currentKib();
    const double cpuStart = cpuSeconds();
    QElapsedTimer timer;
    timer.start();
    qint64 cells = 0, characters = 0;
    int usedRows = 0, usedColumns = 0;
    double loading = 0;
    try {
        auto workbook = openXlsxWorkbook(book, {});
        workbook->selectSheet(1);
        loading = double(timer.nsecsElapsed()) / 1e9;
        usedRows = workbook->usedRows();
        usedColumns = workbook->usedColumns();
        for (int r = 1; r <= usedRows; ++r)
            for (int c = 1; c <= usedColumns; ++c) {
                const QString text = workbook->cellText(r, c);
                cells += !text.isEmpty();
                characters += text.size();
            }
    } catch (const WorkbookError& e) {
        std::fprintf(stderr, "read failed: %s\n", e.what());
        return 1;
    }
    const double ours = double(timer.nsecsElapsed()) / 1e9;
    const long oursPeak = peakKib();
    const double oursCpu = cpuSeconds() - cpuStart;

    if (qEnvironmentVariableIsSet("TW_BENCH_NO_BASELINE")) {
        std::printf("tallyweave: %.3f s (%.3f s loading), peak %.1f MiB\n", ours, loading, oursPeak / 1024.0);
        return 0;
    }
    QProcess python;
    python.start(TW_PYTHON, {TW_BENCH_DIR "/baseline.py", book});
    if (!python.waitForFinished(-1) || python.exitCode() != 0) {
        std::fprintf(stderr, "baseline failed: %s\n", python.readAllStandardError().constData());
        return 1;
    }
    const QList<QByteArray> fields = python.readAllStandardOutput().trimmed().split(' ');
    const double theirs = fields.value(0).toDouble();
    const long theirPeak = fields.value(1).toLong();

    std::printf("workbook: %d rows x %d columns, %lld cells with a value, %.1f MiB on disk\n", usedRows,
                usedColumns, cells, double(QFileInfo(book).size()) / (1 << 20));
    std::printf(
        "tallyweave:         %7.3f s  peak %7.1f MiB (%.1f MiB above the start, %lld characters read)\n",
        ours, oursPeak / 1024.0, (oursPeak - startKib) / 1024.0, characters);
    std::printf("                    (%.3f s opening and selecting the sheet, %.3f s asking for the cells)\n",
                loading, ours - loading);
    std::printf("openpyxl read-only: %7.3f s  peak %7.1f MiB (%s cells)\n", theirs, theirPeak / 1024.0,
                fields.value(2).constData());
    const double theirCpu = fields.value(3).toDouble();
    std::printf(
        "speed ratio: %.1f x by the clock, %.1f x by processor time (%.3f s against %.3f s; goal: 40 x)\n",
        theirs / ours, theirCpu / oursCpu, oursCpu, theirCpu);
    return 0;
}
