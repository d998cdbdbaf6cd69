// Excel-to-Word merge benchmark: a letter with ten labels, a table, a header and a logo merged
// with a workbook of records, as 1,000 numbered documents and as one joined document of 1,000
// and of 10,000 records, against the same jobs done with docxtpl; then as 1,000 numbered PDFs and
// one joined PDF, beside LibreOffice converting the same .docx files alone (the floor: no merge
// can make PDFs faster through it) and docxtpl's documents converted by it.
//
// bench_wordmerge [--dir DIR] [--joined 1000,10000] [--numbered 1000] [--pdf 1000] [--no-baseline]
//
// Every measured job runs in a child process of its own, so that its peak memory is its own.
#include "merge/word/wordmerge.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QStandardPaths>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
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

Measure sum(const Measure& a, const Measure& b) {
    return {a.wallSeconds + b.wallSeconds, a.cpuSeconds + b.cpuSeconds, std::max(a.peakMiB, b.peakMiB), a.ok && b.ok};
}

// LibreOffice converting files to PDF with a profile of its own, 200 files a process, as the run
// does (one process stops after some 245 documents); its chatter goes to /dev/null.
Measure convertAlone(const QStringList& files, const QDir& outDir) {
    QDir(outDir).removeRecursively();
    outDir.mkpath(QStringLiteral("."));
    const QString office = QStandardPaths::findExecutable(QStringLiteral("soffice"));
    Measure total{0, 0, 0, true};
    for (qsizetype from = 0; from < files.size(); from += 200) {
        const QStringList args = QStringList{office, QStringLiteral("-env:UserInstallation=file://") +
                                                         outDir.filePath(QStringLiteral(".profile")),
                                             QStringLiteral("--headless"), QStringLiteral("--norestore"),
                                             QStringLiteral("--convert-to"), QStringLiteral("pdf"),
                                             QStringLiteral("--outdir"), outDir.path()} +
                                 files.mid(from, 200);
        total = sum(total, runChild(QStringList{QStringLiteral("/bin/sh"), QStringLiteral("-c"),
                                                QStringLiteral("exec \"$0\" \"$@\" >/dev/null 2>&1")} +
                                    args));
    }
    total.ok = total.ok && outDir.entryList({QStringLiteral("*.pdf")}, QDir::Files).size() == files.size();
    return total;
}

QStringList filesIn(const QDir& dir, const QString& pattern) {
    QStringList files;
    for (const QString& name : dir.entryList({pattern}, QDir::Files, QDir::Name))
        files << dir.filePath(name);
    return files;
}

// PDFs: ours numbered and joined; the floor, LibreOffice converting our .docx documents of the
// same records alone; docxtpl's documents and their conversion, the way a user scripts it.
void pdfJobs(const QString& self, const QString& source, const QString& letter, const QString& letterTpl,
             const QString& peer, int records, const QDir& dir, bool baseline) {
    QDir numbered(dir.filePath(QStringLiteral("pdf-numbered")));
    numbered.removeRecursively();
    numbered.mkpath(QStringLiteral("."));
    const Measure ours = runChild({self, QStringLiteral("--single"), QStringLiteral("numbered"), source, letter,
                                   numbered.filePath(QStringLiteral("letter.pdf"))});
    print("ours", "pdf-numb", records, ours);
    std::printf("         %lld PDF files\n", qlonglong(numbered.entryList({QStringLiteral("*.pdf")}, QDir::Files).size()));
    QDir docs(dir.filePath(QStringLiteral("pdf-numbered-docx")));
    docs.removeRecursively();
    docs.mkpath(QStringLiteral("."));
    runChild({self, QStringLiteral("--single"), QStringLiteral("numbered"), source, letter,
              docs.filePath(QStringLiteral("letter.docx"))});
    const Measure floor = convertAlone(filesIn(docs, QStringLiteral("*.docx")), QDir(dir.filePath(QStringLiteral("pdf-floor"))));
    print("LO alone", "pdf-numb", records, floor);

    const QString joinedPdf = dir.filePath(QStringLiteral("pdf-joined.pdf"));
    const Measure oursJoined = runChild({self, QStringLiteral("--single"), QStringLiteral("joined"), source, letter, joinedPdf});
    print("ours", "pdf-join", records, oursJoined);
    const QString joinedDocx = dir.filePath(QStringLiteral("pdf-joined.docx"));
    runChild({self, QStringLiteral("--single"), QStringLiteral("joined"), source, letter, joinedDocx});
    const Measure floorJoined = convertAlone({joinedDocx}, QDir(dir.filePath(QStringLiteral("pdf-floor-joined"))));
    print("LO alone", "pdf-join", records, floorJoined);

    Measure theirs, theirsJoined;
    if (baseline) {
        QDir made(dir.filePath(QStringLiteral("pdf-docxtpl")));
        made.removeRecursively();
        made.mkpath(QStringLiteral("."));
        const Measure merged = runChild({QString::fromLatin1(kPython), peer, QStringLiteral("numbered"), letterTpl, source,
                                         QString::number(records), made.path()});
        theirs = sum(merged, convertAlone(filesIn(made, QStringLiteral("*.docx")),
                                          QDir(dir.filePath(QStringLiteral("pdf-docxtpl-converted")))));
        print("docxtpl", "pdf-numb", records, theirs);
        const QString joined = dir.filePath(QStringLiteral("pdf-docxtpl-joined.docx"));
        const Measure mergedJoined = runChild({QString::fromLatin1(kPython), peer, QStringLiteral("joined"), letterTpl,
                                               source, QString::number(records), joined});
        theirsJoined = sum(mergedJoined, convertAlone({joined}, QDir(dir.filePath(QStringLiteral("pdf-docxtpl-joined")))));
        print("docxtpl", "pdf-join", records, theirsJoined);
    }
    const auto ratio = [records](const char* job, const char* who, const Measure& a, const Measure& b) {
        if (a.ok && b.ok)
            std::printf("ratio    %-9s %6d records  ours / %s: wall %.2fx\n", job, records, who,
                        a.wallSeconds / b.wallSeconds);
    };
    ratio("pdf-numb", "LO alone", ours, floor);
    ratio("pdf-join", "LO alone", oursJoined, floorJoined);
    ratio("pdf-numb", "docxtpl+LO", ours, theirs);
    ratio("pdf-join", "docxtpl+LO", oursJoined, theirsJoined);
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
    int pdfCount = 1000;
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
        } else if (args[i] == QLatin1String("--pdf") && valued) {
            pdfCount = args[++i].toInt();
        } else if (args[i] == QLatin1String("--no-baseline")) {
            baseline = false;
        } else {
            std::fprintf(stderr, "usage: bench_wordmerge [--dir DIR] [--joined N,N] [--numbered N] [--pdf N] [--no-baseline]\n");
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
        if (records <= 0)
            continue;
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
    if (pdfCount > 0)
        pdfJobs(self, book(pdfCount), letter, letterTpl, peer, pdfCount, dir, baseline);
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
