// Excel-to-Excel merge benchmark: both workbooks opened, merged with 4 pairs and saved, at several
// destination sizes against one source, next to the time of only reading both workbooks with the
// same engine, and once against the same job done by a pandas + openpyxl script.
//
// bench_excelmerge [--rows 25000,50000,100000,1000000] [--source-rows N] [--baseline-rows N|0]
//                  [--dir DIR]
//
// Every measured job runs in a child process of its own, so that its peak memory is its own.
#include "office/workbook.h"
#include "merge/excel/excelmerge.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <optional>
#include <vector>

namespace {

const char* kPython = "/usr/bin/python3";

struct Measure {
    double wallSeconds = 0;
    double cpuSeconds = 0;
    double peakMiB = 0;
    bool ok = false;
};

double seconds(const timeval& t) {
    return double(t.tv_sec) + double(t.tv_usec) / 1e6;
}

// Runs a program to its end and takes its own resource usage from wait4.
Measure runChild(const QStringList& args) {
    std::vector<QByteArray> bytes;
    for (const QString& arg : args)
        bytes.push_back(arg.toLocal8Bit());
    std::vector<char*> argv;
    for (QByteArray& arg : bytes)
        argv.push_back(arg.data());
    argv.push_back(nullptr);

    QElapsedTimer timer;
    timer.start();
    const pid_t pid = fork();
    if (pid == 0) {
        execv(argv[0], argv.data());
        _exit(127);
    }
    Measure m;
    int status = 0;
    rusage usage{};
    if (pid < 0 || wait4(pid, &status, 0, &usage) != pid)
        return m;
    m.wallSeconds = double(timer.nsecsElapsed()) / 1e9;
    m.cpuSeconds = seconds(usage.ru_utime) + seconds(usage.ru_stime);
    m.peakMiB = double(usage.ru_maxrss) / 1024.0;
    m.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return m;
}

class QuietSink : public ExcelMergeSink {
public:
    void recordDone(const QStringList&, int, int, int) override {}
    bool stopRequested() override { return false; }
};

// The measured job: sheet 1 of both, index A, start line 2, pairs B:C C:D D:E E:F.
int singleRun(const QString& source, const QString& dest, const QString& output) {
    ExcelMergeSettings s;
    s.sourcePath = source;
    s.sourceStartLine = 2;
    s.destPath = dest;
    s.destStartLine = 2;
    s.pairs = {{2, 3}, {3, 4}, {4, 5}, {5, 6}};
    s.outputPath = output;
    QuietSink sink;
    QElapsedTimer timer;
    timer.start();
    const ExcelMergeResult result = runExcelMerge(s, sink);
    if (result.outcome != ExcelMergeOutcome::Finished) {
        std::fprintf(stderr, "merge failed: %s\n", qPrintable(result.cause));
        return 1;
    }
    std::printf("merged %d records (%d unmatched) in %.3f s\n", result.records, result.failures,
                double(timer.nsecsElapsed()) / 1e9);
    return 0;
}

// The engine alone: both workbooks opened and their sheets read whole, as any reader of them must.
int readRun(const QString& source, const QString& dest) {
    try {
        qint64 cells = 0;
        for (const QString& path : {source, dest}) {
            const std::unique_ptr<Workbook> book = openWorkbook(path);
            book->selectSheet(1);
            cells += qint64(book->usedRows()) * book->usedColumns();
        }
        std::printf("read %lld cells\n", static_cast<long long>(cells));
        return 0;
    } catch (const WorkbookError& e) {
        std::fprintf(stderr, "read failed: %s\n", qPrintable(e.cause()));
        return 1;
    }
}

std::optional<std::pair<QString, QString>> workbooks(const QDir& dir, int sourceRows, int rows) {
    const QString source = dir.filePath(QStringLiteral("source-%1.xlsx").arg(sourceRows));
    const QString dest = dir.filePath(QStringLiteral("dest-%1.xlsx").arg(rows));
    if (!QFile::exists(source) || !QFile::exists(dest)) {
        std::printf("generating %d destination rows ...\n", rows);
        std::fflush(stdout);
        const Measure m = runChild({QString::fromLatin1(kPython), QStringLiteral(TW_BENCH_DIR "/generate.py"),
                                    QString::number(sourceRows), QString::number(rows), source, dest});
        if (!m.ok)
            return std::nullopt;
    }
    return std::make_pair(source, dest);
}

void print(const char* what, int rows, const Measure& m) {
    std::printf("%-9s %7d rows  wall %7.3f s  cpu %7.3f s  peak %7.1f MiB\n", what, rows, m.wallSeconds,
                m.cpuSeconds, m.peakMiB);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments();
    if (args.size() == 5 && args[1] == QLatin1String("--single"))
        return singleRun(args[2], args[3], args[4]);
    if (args.size() == 4 && args[1] == QLatin1String("--read"))
        return readRun(args[2], args[3]);

    QList<int> sizes = {25000, 50000, 100000, 1000000};
    int sourceRows = 100000;
    int baselineRows = -1; // the largest size
    QDir dir(QDir::current().filePath(QStringLiteral("excelmerge-data")));
    for (int i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == QLatin1String("--rows")) {
            sizes.clear();
            for (const QString& n : args[i + 1].split(QLatin1Char(',')))
                sizes << n.toInt();
        } else if (args[i] == QLatin1String("--source-rows")) {
            sourceRows = args[i + 1].toInt();
        } else if (args[i] == QLatin1String("--baseline-rows")) {
            baselineRows = args[i + 1].toInt();
        } else if (args[i] == QLatin1String("--dir")) {
            dir = QDir(args[i + 1]);
        } else {
            std::fprintf(stderr,
                         "usage: bench_excelmerge [--rows N,N,...] [--source-rows N] [--baseline-rows N|0] "
                         "[--dir DIR]\n");
            return 2;
        }
    }
    if (baselineRows < 0)
        baselineRows = sizes.contains(sourceRows) ? sourceRows : 0;
    dir.mkpath(QStringLiteral("."));

    QList<std::pair<int, Measure>> merges;
    std::printf("source    %7d rows, the destination sizes below\n", sourceRows);
    for (int rows : sizes) {
        const auto books = workbooks(dir, sourceRows, rows);
        if (!books) {
            std::fprintf(stderr, "cannot generate the workbooks of %d rows\n", rows);
            return 1;
        }
        const QString output = dir.filePath(QStringLiteral("out-%1.xlsx").arg(rows));
        QFile::remove(output);
        const Measure m = runChild({QCoreApplication::applicationFilePath(), QStringLiteral("--single"),
                                    books->first, books->second, output});
        if (!m.ok)
            return 1;
        print("merge", rows, m);
        merges.append({rows, m});
        const Measure read = runChild(
            {QCoreApplication::applicationFilePath(), QStringLiteral("--read"), books->first, books->second});
        if (!read.ok)
            return 1;
        print("read", rows, read);
        std::printf("ratio     %7d rows  merge / read: wall %.2fx  cpu %.2fx\n", rows,
                    m.wallSeconds / read.wallSeconds, m.cpuSeconds / read.cpuSeconds);

        if (rows == baselineRows) {
            const QString baselineOutput = dir.filePath(QStringLiteral("baseline-%1.xlsx").arg(rows));
            const Measure b =
                runChild({QString::fromLatin1(kPython), QStringLiteral(TW_BENCH_DIR "/baseline.py"),
                          books->first, books->second, baselineOutput});
            if (!b.ok) {
                std::fprintf(stderr, "the pandas + openpyxl script failed\n");
                return 1;
            }
            print("baseline", rows, b);
            std::printf("baseline  %7d rows  wall %.1fx  cpu %.1fx faster than pandas + openpyxl\n", rows,
                        b.wallSeconds / m.wallSeconds, b.cpuSeconds / m.cpuSeconds);
        }
    }
    if (!merges.isEmpty()) {
        // The largest output read back by an independent reader.
        const int rows = merges.last().first;
        const Measure check = runChild({QString::fromLatin1(kPython), QStringLiteral(TW_BENCH_DIR "/check.py"),
                                        dir.filePath(QStringLiteral("source-%1.xlsx").arg(sourceRows)),
                                        dir.filePath(QStringLiteral("out-%1.xlsx").arg(rows))});
        if (!check.ok) {
            std::fprintf(stderr, "the output of %d rows does not read back as expected\n", rows);
            return 1;
        }
    }
    if (merges.size() > 1) {
        const auto& [firstRows, first] = merges.first();
        for (const auto& [rows, m] : merges)
            std::printf("growth    %7d rows  cpu per 1000 rows %.4f s  (x%.2f rows -> x%.2f cpu)\n", rows,
                        m.cpuSeconds * 1000.0 / rows, double(rows) / firstRows,
                        m.cpuSeconds / first.cpuSeconds);
    }
    return 0;
}
