// Excel-to-Word merge benchmark: a letter with ten labels, a table, a header and a logo merged
// with a workbook of records, as 1,000 numbered documents and as one joined document of 1,000
// and of 10,000 records, against the same jobs done with docxtpl.
//
// bench_wordmerge [--dir DIR] [--joined 1000,10000] [--numbered 1000] [--no-baseline]
//
// Every measured job runs in a child process of its own, so that its peak memory is its own.
#include "merge/word/wordmerge.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <vector>

namespace {

const char* kPython = "/usr/bin/python3";
const char* kLabels[] = {"«TITLE»", "«FIRST»", "«LAST»", "«STREET»", "«TOWN»",
                         "«ZIP»",   "«ACCOUNT»", "«AMOUNT»", "«DUE»", "«AGENT»"};

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

class QuietSink : public WordMergeSink {
public:
    void recordDone(const QStringList&, int, int, int) override {}
    bool stopRequested() override { return false; }
};

// The measured job: the records of book (from row 2) into numbered documents or one document.
int singleRun(const QString& mode, const QString& book, const QString& letter, const QString& output) {
    WordMergeSettings s;
    s.sourcePath = book;
    s.startLine = 2;
    s.templatePath = letter;
    s.oneFile = mode == QLatin1String("joined");
    s.separator = RecordSeparator::PageBreak;
    for (int i = 0; i < 10; ++i)
        s.pairs.append({i + 1, QString::fromUtf8(kLabels[i])});
    s.outputPath = output;
    QuietSink sink;
    const WordMergeResult result = runWordMerge(s, sink);
    if (result.outcome != WordMergeOutcome::Finished) {
        std::fprintf(stderr, "merge failed: %s\n", qPrintable(result.cause));
        return 1;
    }
    return 0;
}

void print(const char* who, const char* job, int records, const Measure& m) {
    std::printf("%-8s %-9s %6d records  wall %8.3f s  cpu %8.3f s  peak %7.1f MiB%s\n", who, job, records,
                m.wallSeconds, m.cpuSeconds, m.peakMiB, m.ok ? "" : "  FAILED");
    std::fflush(stdout);
}

qint64 folderBytes(const QDir& dir) {
    qint64 total = 0;
    for (const QFileInfo& info : dir.entryInfoList(QDir::Files))
        total += info.size();
    return total;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 6 && args[1] == QLatin1String("--single"))
        return singleRun(args[2], args[3], args[4], args[5]);

    QDir dir(QDir::current().filePath(QStringLiteral("wordmerge-data")));
    QList<int> joinedSizes = {1000, 10000};
    int numberedCount = 1000;
    bool baseline = true;
    for (int i = 1; i < args.size(); ++i) {
        const bool valued = i + 1 < args.size();
        if (args[i] == QLatin1String("--dir") && valued) {
            dir = QDir(args[++i]);
        } else if (args[i] == QLatin1String("--joined") && valued) {
            joinedSizes.clear();
            for (const QString& n : args[++i].split(u','))
                joinedSizes << n.toInt();
        } else if (args[i] == QLatin1String("--numbered") && valued) {
            numberedCount = args[++i].toInt();
        } else if (args[i] == QLatin1String("--no-baseline")) {
            baseline = false;
        } else {
            std::fprintf(stderr, "usage: bench_wordmerge [--dir DIR] [--joined N,N] [--numbered N] [--no-baseline]\n");
            return 2;
        }
    }
    dir.mkpath(QStringLiteral("."));
    const QString self = QCoreApplication::applicationFilePath();
    const QString letter = dir.filePath(QStringLiteral("letter.docx"));
    const QString letterTpl = dir.filePath(QStringLiteral("letter-docxtpl.docx"));
    const QString generator = QStringLiteral(TW_BENCH_DIR "/generate.py");
    const QString peer = QStringLiteral(TW_BENCH_DIR "/baseline.py");
    const auto book = [&](int records) {
        const QString path = dir.filePath(QStringLiteral("book-%1.xlsx").arg(records));
        if (!QFile::exists(path) || !QFile::exists(letter)) {
            std::printf("generating %d records ...\n", records);
            std::fflush(stdout);
            runChild({QString::fromLatin1(kPython), generator, QString::number(records), letter, letterTpl, path});
        }
        return path;
    };

    // Numbered documents.
    Measure oursNumbered, theirsNumbered;
    if (numberedCount > 0) {
        const QString source = book(numberedCount);
        QDir out(dir.filePath(QStringLiteral("numbered")));
        out.removeRecursively();
        out.mkpath(QStringLiteral("."));
        oursNumbered = runChild({self, QStringLiteral("--single"), QStringLiteral("numbered"), source, letter,
                                 out.filePath(QStringLiteral("letter.docx"))});
        print("ours", "numbered", numberedCount, oursNumbered);
        std::printf("         %lld files, %.1f MiB\n", qlonglong(out.entryList(QDir::Files).size()),
                    double(folderBytes(out)) / 1048576.0);
        if (baseline) {
            QDir theirs(dir.filePath(QStringLiteral("numbered-docxtpl")));
            theirs.removeRecursively();
            theirs.mkpath(QStringLiteral("."));
            theirsNumbered = runChild({QString::fromLatin1(kPython), peer, QStringLiteral("numbered"), letterTpl,
                                       source, QString::number(numberedCount), theirs.path()});
            print("docxtpl", "numbered", numberedCount, theirsNumbered);
        }
    }

    // Joined documents.
    QList<std::pair<int, Measure>> ours;
    for (int records : joinedSizes) {
        const QString source = book(records);
        const QString output = dir.filePath(QStringLiteral("joined-%1.docx").arg(records));
        const Measure m = runChild({self, QStringLiteral("--single"), QStringLiteral("joined"), source, letter, output});
        print("ours", "joined", records, m);
        std::printf("         %.1f MiB\n", double(QFileInfo(output).size()) / 1048576.0);
        ours.append({records, m});
        if (baseline && records <= 1000) {
            const Measure t = runChild({QString::fromLatin1(kPython), peer, QStringLiteral("joined"), letterTpl, source,
                                        QString::number(records),
                                        dir.filePath(QStringLiteral("joined-docxtpl-%1.docx").arg(records))});
            print("docxtpl", "joined", records, t);
            if (m.ok && t.ok)
                std::printf("ratio    joined    %6d records  wall %.1fx  cpu %.1fx\n", records,
                            t.wallSeconds / m.wallSeconds, t.cpuSeconds / m.cpuSeconds);
        }
    }
    if (oursNumbered.ok && theirsNumbered.ok)
        std::printf("ratio    numbered  %6d records  wall %.1fx  cpu %.1fx\n", numberedCount,
                    theirsNumbered.wallSeconds / oursNumbered.wallSeconds,
                    theirsNumbered.cpuSeconds / oursNumbered.cpuSeconds);
    for (qsizetype i = 1; i < ours.size(); ++i) {
        const auto& [n0, m0] = ours[i - 1];
        const auto& [n1, m1] = ours[i];
        std::printf("growth   joined    %d -> %d records (x%.1f): cpu x%.2f, peak %.1f -> %.1f MiB\n", n0, n1,
                    double(n1) / n0, m1.cpuSeconds / m0.cpuSeconds, m0.peakMiB, m1.peakMiB);
    }
    return 0;
}
