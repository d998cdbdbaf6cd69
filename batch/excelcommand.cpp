// tallyweave-batch excel: the Excel-to-Excel command's checks and run without a window.
#include "merge/excel/excelcommand.h"
#include "batch/commands.h"
#include "batch/printer.h"
#include "batch/stopsignals.h"
#include "merge/excel/excelmerge.h"

#include <optional>

namespace {

struct ExcelArguments {
    ExcelMergeSettings settings;
    bool overwrite = false;
    QString report;
};

ExcelArguments parseArguments(const QStringList& args) {
    ExcelArguments parsed;
    ExcelMergeSettings& s = parsed.settings;
    static const FlagSet flags{{"--unique", "--case-sensitive", "--overwrite"},
                               {"--source", "--source-sheet", "--source-index", "--source-start", "--dest",
                                "--dest-sheet", "--dest-index", "--dest-start", "--pair", "--output", "--report"}, {}};
    readFlags(args, flags, [&](const QString& flag, const QString& value) {
        if (flag == QLatin1String("--unique"))
            s.uniqueIndexValue = true;
        else if (flag == QLatin1String("--case-sensitive"))
            s.caseSensitive = true;
        else if (flag == QLatin1String("--overwrite"))
            parsed.overwrite = true;
        else if (flag == QLatin1String("--source"))
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
        else if (flag == QLatin1String("--report"))
            parsed.report = reportPath(flag, value);
        else {
            const QStringList sides = value.split(QLatin1Char(':'));
            if (sides.size() != 2)
                throw UsageError{QStringLiteral("--pair wants SRC:DST, not '%1'").arg(value)};
            s.pairs.append({columnLetter(flag, sides[0]), columnLetter(flag, sides[1])});
        }
    });
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

    ReportPrinter printer(out);
    if (!parsed.report.isEmpty()) {
        QStringList captions{reportCaption(QStringLiteral("IndexColumn"))};
        for (const FillInPair& pair : s.pairs)
            captions << QString(QChar(u'A' + pair.destColumn - 1));
        printer.keepReport(parsed.report, captions);
    }
    PrintingSink<ExcelMergeSink> sink(printer, stopSignalled);
    ExcelMergeResult result;
    {
        const StopOnSignals stopOnSignals;
        result = runExcelMerge(s, sink);
    }
    if (sink.began) {
        if (!printer.finish(result.records, 0, result.failures, err, QStringLiteral("excel")))
            return 1;
    }
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
