// .ods against .xlsx of the same book, both made by LibreOffice from the .xlsx the other benchmarks
// write: reading every cell of 100,000 rows x 10 columns, and the Excel-to-Excel merge of
// bench/excelmerge into a 100,000-row destination, each beside pandas' odf engine reading the file.
//
// bench_odsread [--rows N] [--dir DIR]
//
// Every measured job runs in a child process of its own, so that its peak memory is its own.
#include "merge/excel/excelmerge.h"
#include "office/workbook.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

#include <cstdio>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
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
Measure runChild(const QStringList& args, bool quiet = false) {
    std::vector<QByteArray> bytes;
    for (const QString& arg : args)
        bytes.push_back(arg.toLocal8Bit());
    std::vector<char*> argv;
    for (QByteArray& arg : bytes)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    std::fflush(stdout);
    QElapsedTimer timer;
    timer.start();
    const pid_t pid = fork();
    if (pid == 0) {
        if (quiet) {
            freopen("/dev/null", "w", stdout);
            freopen("/dev/null", "w", stderr);
        }
        execvp(argv[0], argv.data());
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

// Every cell of sheet 1 of each file, asked for as a run asks for them.
int readRun(const QStringList& paths) {
    try {
        qint64 cells = 0;
        for (const QString& path : paths) {
            const std::unique_ptr<Workbook> book = openWorkbook(path);
            book->selectSheet(1);
            for (int r = 1; r <= book->usedRows(); ++r)
                for (int c = 1; c <= book->usedColumns(); ++c)
                    cells += !book->cellText(r, c).isEmpty();
        }
        std::printf("%lld cells\n", static_cast<long long>(cells));
        return 0;
    } catch (const WorkbookError& e) {
        std::fprintf(stderr, "read failed: %s\n", qPrintable(e.cause()));
        return 1;
    }
}

class QuietSink : public ExcelMergeSink {
public:
    void recordDone(const QStringList&, int, int, int) override {}
    bool stopRequested() override { return false; }
};

// The job of bench/excelmerge: sheet 1 of both, index A, start line 2, pairs B:C C:D D:E E:F.
int mergeRun(const QString& source, const QString& dest, const QString& output) {
    ExcelMergeSettings s;
    s.sourcePath = source;
    s.sourceStartLine = 2;
    s.destPath = dest;
    s.destStartLine = 2;
    s.pairs = {{2, 3}, {3, 4}, {4, 5}, {5, 6}};
    s.outputPath = output;
    QuietSink sink;
    const ExcelMergeResult result = runExcelMerge(s, sink);
    if (result.outcome != ExcelMergeOutcome::Finished) {
        std::fprintf(stderr, "merge failed: %s\n", qPrintable(result.cause));
        return 1;
    }
    return 0;
}

bool convert(const QString& file, const QString& format, const QDir& dir) {
    const QString target = dir.filePath(QFileInfo(file).completeBaseName() + u'.' + format);
    if (QFile::exists(target))
        return true;
    std::printf("converting %s to .%s with LibreOffice ...\n", qPrintable(QFileInfo(file).fileName()),
                qPrintable(format));
    const Measure m = runChild({QStringLiteral("soffice"),
                                QStringLiteral("-env:UserInstallation=file://") + dir.filePath(QStringLiteral("profile")),
                                QStringLiteral("--headless"), QStringLiteral("--convert-to"), format,
                                QStringLiteral("--outdir"), dir.filePath(format), file},
                               true);
    return m.ok && QFile::rename(dir.filePath(format + u'/' + QFileInfo(target).fileName()), target);
}

void print(const char* what, const Measure& m) {
    std::printf("%-34s wall %7.3f s  cpu %7.3f s  peak %7.1f MiB\n", what, m.wallSeconds, m.cpuSeconds, m.peakMiB);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const QString self = QCoreApplication::applicationFilePath();
    if (args.size() >= 3 && args[1] == QLatin1String("--read"))
        return readRun(args.mid(2));
    if (args.size() == 5 && args[1] == QLatin1String("--merge"))
        return mergeRun(args[2], args[3], args[4]);
    int rows = 100000;
    QDir dir(QDir::current().filePath(QStringLiteral("odsread-data")));
    for (int i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == QLatin1String("--rows")) {
            rows = args[i + 1].toInt();
        } else if (args[i] == QLatin1String("--dir")) {
            dir = QDir(args[i + 1]);
        } else {
            std::fprintf(stderr, "usage: bench_odsread [--rows N] [--dir DIR]\n");
            return 2;
        }
    }
    dir.mkpath(QStringLiteral("."));

    // The books: LibreOffice converts each .xlsx to .ods, and to .xlsx again, so that both sides
    // are files of one program.
    const QString made = dir.filePath(QStringLiteral("made-%1.xlsx").arg(rows));
    const QString source = dir.filePath(QStringLiteral("source-%1.xlsx").arg(rows));
    const QString destMade = dir.filePath(QStringLiteral("destmade-%1.xlsx").arg(rows));
    if (!QFile::exists(made) &&
        !runChild({QString::fromLatin1(kPython), QStringLiteral(TW_BENCH_DIR "/xlsxread/make_book.py"), made,
                   QString::number(rows)})
             .ok)
        return 1;
    if (!QFile::exists(destMade) &&
        !runChild({QString::fromLatin1(kPython), QStringLiteral(TW_BENCH_DIR "/excelmerge/generate.py"),
                   QString::number(rows), QString::number(rows), source, destMade})
             .ok)
        return 1;
    const QDir books(dir.filePath(QStringLiteral("books")));
    books.mkpath(QStringLiteral("."));
    for (const QString& file : {made, destMade})
        for (const char* format : {"ods", "xlsx"})
            if (!convert(file, QString::fromLatin1(format), books)) {
                std::fprintf(stderr, "LibreOffice could not convert %s\n", qPrintable(file));
                return 1;
            }
    const auto book = [&](const QString& file, const char* format) {
        return books.filePath(QFileInfo(file).completeBaseName() + u'.' + QLatin1String(format));
    };

    std::printf("reading %d rows x 10 columns (%.1f MiB as .xlsx, %.1f MiB as .ods)\n", rows,
                double(QFileInfo(book(made, "xlsx")).size()) / (1 << 20),
                double(QFileInfo(book(made, "ods")).size()) / (1 << 20));
    const Measure readXlsx = runChild({self, QStringLiteral("--read"), book(made, "xlsx")}, true);
    const Measure readOds = runChild({self, QStringLiteral("--read"), book(made, "ods")}, true);
    const Measure pandasRead =
        runChild({QString::fromLatin1(kPython), QStringLiteral(TW_BENCH_DIR "/odsread/baseline.py"), book(made, "ods")}, true);
    if (!readXlsx.ok || !readOds.ok || !pandasRead.ok)
        return 1;
    print("tallyweave .xlsx", readXlsx);
    print("tallyweave .ods", readOds);
    print("pandas odf engine .ods", pandasRead);
    std::printf("ratio .ods / .xlsx read: wall %.2fx  cpu %.2fx (goal: at most 1.5x); pandas %.1fx slower\n",
                readOds.wallSeconds / readXlsx.wallSeconds, readOds.cpuSeconds / readXlsx.cpuSeconds,
                pandasRead.wallSeconds / readOds.wallSeconds);

    std::printf("merging %d source rows into %d destination rows\n", rows, rows);
    const QString outXlsx = dir.filePath(QStringLiteral("out.xlsx"));
    const QString outOds = dir.filePath(QStringLiteral("out.ods"));
    QFile::remove(outXlsx);
    QFile::remove(outOds);
    const Measure mergeXlsx = runChild({self, QStringLiteral("--merge"), source, book(destMade, "xlsx"), outXlsx});
    const Measure mergeOds = runChild({self, QStringLiteral("--merge"), source, book(destMade, "ods"), outOds});
    const Measure readBoth = runChild({self, QStringLiteral("--read"), source, book(destMade, "ods")}, true);
    const Measure pandasDest = runChild(
        {QString::fromLatin1(kPython), QStringLiteral(TW_BENCH_DIR "/odsread/baseline.py"), book(destMade, "ods")}, true);
    if (!mergeXlsx.ok || !mergeOds.ok || !readBoth.ok || !pandasDest.ok)
        return 1;
    print("merge into .xlsx", mergeXlsx);
    print("merge into .ods", mergeOds);
    print("read of both inputs (.ods dest)", readBoth);
    print("pandas odf engine, the .ods dest", pandasDest);
    std::printf("ratio .ods merge / read of both: wall %.2fx  cpu %.2fx (goal: at most 2.5x)\n",
                mergeOds.wallSeconds / readBoth.wallSeconds, mergeOds.cpuSeconds / readBoth.cpuSeconds);
    std::printf("peak .ods merge / .xlsx merge: %.2fx (goal: at most 1x)\n", mergeOds.peakMiB / mergeXlsx.peakMiB);
    return 0;
}
