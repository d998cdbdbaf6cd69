// tallyweave-batch excel: the Excel-to-Excel command's checks and run without a window.
#include "merge/excel/excelcommand.h"
#include "batch/commands.h"
#include "merge/excel/excelmerge.h"

#include <csignal>
#include <optional>
#include <pthread.h>

namespace {

struct ExcelArguments {
    ExcelMergeSettings settings;
    bool overwrite = false;
};

ExcelArguments parseArguments(const QStringList& args) {
    ExcelArguments parsed;
    ExcelMergeSettings& s = parsed.settings;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& flag = args[i];
        if (flag == QLatin1String("--unique")) {
            s.uniqueIndexValue = true;
            continue;
        }
        if (flag == QLatin1String("--case-sensitive")) {
            s.caseSensitive = true;
            continue;
        }
        if (flag == QLatin1String("--overwrite")) {
            parsed.overwrite = true;
            continue;
        }
        static const QStringList valued = {QStringLiteral("--source"),       QStringLiteral("--source-sheet"),
                                           QStringLiteral("--source-index"), QStringLiteral("--source-start"),
                                           QStringLiteral("--dest"),         QStringLiteral("--dest-sheet"),
                                           QStringLiteral("--dest-index"),   QStringLiteral("--dest-start"),
                                           QStringLiteral("--pair"),         QStringLiteral("--output")};
        if (!valued.contains(flag))
            throw UsageError{QStringLiteral("unknown argument '%1'").arg(flag)};
        if (i + 1 >= args.size())
            throw UsageError{QStringLiteral("%1 wants a value").arg(flag)};
        const QString value = args[++i];
        if (flag == QLatin1String("--source"))
            s.sourcePath = value;
        else if (flag == QLatin1String("--source-sheet"))
            s.sourceSheet = positiveNumber(flag, value);
        else if (flag == QLatin1String("--source-index"))
            s.sourceIndexColumn = columnLetter(flag, value);
        else if (flag == QLatin1String("--source-start"))
            s.sourceStartLine = positiveNumber(flag, value);
        else if (flag == QLatin1String("--dest"))
            s.destPath = value;
        else if (flag == QLatin1String("--dest-sheet"))
            s.destSheet = positiveNumber(flag, value);
        else if (flag == QLatin1String("--dest-index"))
            s.destIndexColumn = columnLetter(flag, value);
        else if (flag == QLatin1String("--dest-start"))
            s.destStartLine = positiveNumber(flag, value);
        else if (flag == QLatin1String("--output"))
            s.outputPath = value;
        else {
            const QStringList sides = value.split(QLatin1Char(':'));
            if (sides.size() != 2)
                throw UsageError{QStringLiteral("--pair wants SRC:DST, not '%1'").arg(value)};
            s.pairs.append({columnLetter(flag, sides[0]), columnLetter(flag, sides[1])});
        }
    }
    if (s.sourcePath.isEmpty() || s.destPath.isEmpty() || s.outputPath.isEmpty())
        throw UsageError{QStringLiteral("--source, --dest and --output are required")};
    if (s.pairs.isEmpty())
        throw UsageError{QStringLiteral("at least one --pair is required")};
    return parsed;
}

// The command's refusal, or nothing when the run may start. An existing output is not deleted:
// with --overwrite the finished run replaces it in one rename, as after Yes in the window.
std::optional<QString> refusal(const ExcelMergeSettings& s, bool overwrite) {
    switch (checkExcelCommand(s.sourcePath, s.destPath, s.outputPath)) {
    case ExcelCommandCheck::Ok:
        return std::nullopt;
    case ExcelCommandCheck::SourceMissing:
        return QStringLiteral("the source workbook: ") + inputFileProblem(s.sourcePath);
    case ExcelCommandCheck::DestMissing:
        return QStringLiteral("the destination workbook: ") + inputFileProblem(s.destPath);
    case ExcelCommandCheck::OutputIsInput:
        return QStringLiteral("the output %1 is the source or the destination workbook").arg(s.outputPath);
    case ExcelCommandCheck::TypeMismatch:
        return QStringLiteral("the output %1 must be of the destination's type (.ods for an OpenDocument "
                              "spreadsheet, .xlsx, .xlsm or .xls for a workbook)")
            .arg(s.outputPath);
    case ExcelCommandCheck::OutputNotWritable:
        return QStringLiteral("the output cannot be written: ") + outputFileProblem(s.outputPath);
    case ExcelCommandCheck::OutputExists:
        if (!overwrite)
            return QStringLiteral("the output %1 exists; --overwrite replaces it").arg(s.outputPath);
        return std::nullopt;
    }
    return std::nullopt;
}

// An interrupt (Ctrl+C) or a termination request ends the run at the next record, as Cancel does in
// the window: the temporary result is dropped and an older output stays as it was.
volatile std::sig_atomic_t g_stop = 0;

extern "C" void requestStop(int) {
    g_stop = 1;
}

class StopOnSignals {
public:
    StopOnSignals() {
        g_stop = 0;
        struct sigaction action {};
        action.sa_handler = requestStop;
        sigemptyset(&action.sa_mask);
        // A signal the caller chose to ignore (a job started in the background) stays ignored.
        sigaction(SIGINT, nullptr, &m_oldInt);
        sigaction(SIGTERM, nullptr, &m_oldTerm);
        if (m_oldInt.sa_handler != SIG_IGN)
            sigaction(SIGINT, &action, nullptr);
        if (m_oldTerm.sa_handler != SIG_IGN)
            sigaction(SIGTERM, &action, nullptr);
        // A signal that came while it was blocked is taken now, as a request to stop.
        sigset_t stopSignals;
        sigemptyset(&stopSignals);
        sigaddset(&stopSignals, SIGINT);
        sigaddset(&stopSignals, SIGTERM);
        pthread_sigmask(SIG_UNBLOCK, &stopSignals, &m_oldMask);
    }
    ~StopOnSignals() {
        pthread_sigmask(SIG_SETMASK, &m_oldMask, nullptr);
        sigaction(SIGINT, &m_oldInt, nullptr);
        sigaction(SIGTERM, &m_oldTerm, nullptr);
    }
    StopOnSignals(const StopOnSignals&) = delete;
    StopOnSignals& operator=(const StopOnSignals&) = delete;

private:
    struct sigaction m_oldInt {};
    struct sigaction m_oldTerm {};
    sigset_t m_oldMask{};
};

class PrintingSink : public ExcelMergeSink {
public:
    explicit PrintingSink(QTextStream& out) : m_out(out) {}

    void recordsBegin() override { began = true; }
    void recordDone(const QStringList& subItems, int image, int, int) override {
        m_out << image;
        for (const QString& field : subItems)
            m_out << '\t' << escapeField(field);
        m_out << '\n';
    }
    bool stopRequested() override { return g_stop != 0; }

    bool began = false;

private:
    QTextStream& m_out;
};

} // namespace

int runExcelCommand(const QStringList& args, QTextStream& out, QTextStream& err) {
    ExcelArguments parsed;
    try {
        parsed = parseArguments(args);
    } catch (const UsageError& error) {
        err << "tallyweave-batch excel: " << error.message << '\n' << kExcelUsage;
        return 2;
    }
    ExcelMergeSettings& s = parsed.settings;
    s.outputPath = applyExtensionRule(s.outputPath, s.destPath);
    if (const std::optional<QString> cause = refusal(s, parsed.overwrite)) {
        err << "tallyweave-batch excel: " << *cause << '\n';
        return 1;
    }

    PrintingSink sink(out);
    ExcelMergeResult result;
    {
        const StopOnSignals stopOnSignals;
        result = runExcelMerge(s, sink);
    }
    if (sink.began)
        out << "records " << result.records << ", null values 0, failures " << result.failures << '\n';
    switch (result.outcome) {
    case ExcelMergeOutcome::Finished:
        return 0;
    case ExcelMergeOutcome::SourceSheetMissing:
        err << "tallyweave-batch excel: the source workbook has no sheet " << s.sourceSheet << '\n';
        return 1;
    case ExcelMergeOutcome::DestSheetMissing:
        err << "tallyweave-batch excel: the destination workbook has no sheet " << s.destSheet << '\n';
        return 1;
    case ExcelMergeOutcome::Cancelled:
        err << "tallyweave-batch excel: interrupted; nothing was written\n";
        return 1;
    case ExcelMergeOutcome::Failed:
        break;
    }
    err << "tallyweave-batch excel: " << result.cause << '\n';
    return 1;
}
