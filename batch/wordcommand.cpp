// tallyweave-batch word: the Excel-to-Word command's checks and run without a window.
#include "merge/word/wordcommand.h"
#include "batch/commands.h"
#include "batch/printer.h"
#include "batch/stopsignals.h"
#include "merge/word/wordmerge.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <optional>

namespace {

struct WordArguments {
    WordMergeSettings settings;
    bool overwrite = false;
    QString report;
};

WordArguments parseArguments(const QStringList& args) {
    WordArguments parsed;
    WordMergeSettings& s = parsed.settings;
    bool separatorGiven = false;
    static const FlagSet flags{{"--one-file", "--overwrite"},
                               {"--source", "--sheet", "--start", "--template", "--separator", "--pair",
                                "--output", "--name-column", "--report"},
                               {}};
    readFlags(args, flags, [&](const QString& flag, const QString& value) {
        if (flag == QLatin1String("--one-file")) {
            s.oneFile = true;
        } else if (flag == QLatin1String("--overwrite")) {
            parsed.overwrite = true;
        } else if (flag == QLatin1String("--source")) {
            s.sourcePath = value;
        } else if (flag == QLatin1String("--sheet")) {
            s.sheet = positiveNumber(flag, value);
        } else if (flag == QLatin1String("--start")) {
            s.startLine = positiveNumber(flag, value);
        } else if (flag == QLatin1String("--template")) {
            s.templatePath = value;
        } else if (flag == QLatin1String("--name-column")) {
            s.nameColumn = columnLetter(flag, value);
        } else if (flag == QLatin1String("--output")) {
            s.outputPath = value;
        } else if (flag == QLatin1String("--report")) {
            parsed.report = reportPath(flag, value);
        } else if (flag == QLatin1String("--separator")) {
            separatorGiven = true;
            if (value == QLatin1String("paragraph"))
                s.separator = RecordSeparator::Paragraph;
            else if (value == QLatin1String("page"))
                s.separator = RecordSeparator::PageBreak;
            else
                throw UsageError{QStringLiteral("--separator wants paragraph or page, not '%1'").arg(value)};
        } else {
            s.pairs.append(labelPair(flag, value));
        }
    });
    if (s.sourcePath.isEmpty() || s.templatePath.isEmpty() || s.outputPath.isEmpty())
        throw UsageError{QStringLiteral("--source, --template and --output are required")};
    if (s.pairs.isEmpty())
        throw UsageError{QStringLiteral("at least one --pair is required")};
    if (separatorGiven && !s.oneFile)
        throw UsageError{QStringLiteral("--separator applies to --one-file only")};
    if (s.nameColumn > 0 && s.oneFile)
        throw UsageError{
            QStringLiteral("--name-column names the documents of multiple files, not --one-file")};
    return parsed;
}

// The command's refusal, or nothing when the run may start. Nothing is deleted here: an existing
// output is replaced only by a run that finished.
std::optional<QString> refusal(const WordMergeSettings& s, bool overwrite) {
    switch (checkWordCommand(s.sourcePath, s.templatePath, s.outputPath)) {
    case WordCommandCheck::SourceMissing:
        return QStringLiteral("the source workbook: ") + inputFileProblem(s.sourcePath);
    case WordCommandCheck::TemplateMissing:
        return QStringLiteral("the template: ") + inputFileProblem(s.templatePath);
    case WordCommandCheck::OutputIsTemplate:
        return QStringLiteral("the output %1 is the template").arg(s.outputPath);
    case WordCommandCheck::OutputExists:
        // Multiple files never write the named path; their own documents are checked below.
        if (!overwrite && s.oneFile)
            return QStringLiteral("the output %1 exists; --overwrite replaces it").arg(s.outputPath);
        break;
    case WordCommandCheck::Ok:
        break;
    }
    if (const QString problem = outputFileProblem(s.outputPath); !problem.isEmpty())
        return QStringLiteral("the output cannot be written: ") + problem;
    if (!s.oneFile && !overwrite) {
        const NumberedFiles numbered = checkNumberedFiles(s);
        if (!numbered.replaced.isEmpty())
            return QStringLiteral("the document %1 exists; --overwrite replaces it")
                .arg(numbered.replaced.first());
        if (!numbered.stale.isEmpty())
            return QStringLiteral(
                       "the earlier document %1 is numbered beyond this run; --overwrite removes it "
                       "once the run has finished")
                .arg(numbered.stale.first());
    }
    return std::nullopt;
}

} // namespace

int runWordCommand(const QStringList& args, QTextStream& out, QTextStream& err) {
    WordArguments parsed;
    try {
        parsed = parseArguments(args);
    } catch (const UsageError& error) {
        err << "tallyweave-batch word: " << error.message << '\n' << kWordUsage;
        return 2;
    }
    WordMergeSettings& s = parsed.settings;
    s.outputPath = withWordExtension(s.outputPath);
    if (const std::optional<QString> cause = refusal(s, parsed.overwrite)) {
        err << "tallyweave-batch word: " << *cause << '\n';
        return 1;
    }

    // Taken before the run, which writes the numbered documents that would otherwise be found.
    const QStringList stale = s.oneFile ? QStringList() : checkNumberedFiles(s).stale;
    ReportPrinter printer(out);
    if (!parsed.report.isEmpty()) {
        QStringList captions;
        for (qsizetype n = 1; n <= s.pairs.size(); ++n)
            captions << reportCaption(QStringLiteral("Field")) + QString::number(n);
        printer.keepReport(parsed.report, captions);
    }
    PrintingSink<WordMergeSink> sink(printer, stopSignalled);
    WordMergeResult result;
    {
        const StopOnSignals stopOnSignals;
        result = runWordMerge(s, sink);
    }
    if (sink.began) {
        if (!printer.finish(result.records, result.nullValues, result.failures, err, QStringLiteral("word")))
            return 1;
    }
    switch (result.outcome) {
    case WordMergeOutcome::Finished:
        // A one-file run renamed its result over the old file. Numbered documents leave the named
        // file alone; earlier documents numbered beyond this run go, now that it is complete.
        if (const QStringList left = removeStaleDocuments(stale); !left.isEmpty()) {
            err << "tallyweave-batch word: the earlier document " << left.first() << " cannot be removed\n";
            return 1;
        }
        if (s.oneFile)
            err << "tallyweave-batch word: wrote " << QDir::toNativeSeparators(s.outputPath) << '\n';
        else
            err << "tallyweave-batch word: wrote " << result.written.size()
                << (result.written.size() == 1 ? " document in " : " documents in ")
                << QDir::toNativeSeparators(QFileInfo(s.outputPath).absolutePath()) << '\n';
        return 0;
    case WordMergeOutcome::SheetMissing:
        err << "tallyweave-batch word: the source workbook has no sheet " << s.sheet << '\n';
        return 1;
    case WordMergeOutcome::Cancelled:
        // Numbered documents saved before the signal stay; a joined document is not written.
        err << "tallyweave-batch word: interrupted\n";
        return 1;
    case WordMergeOutcome::Failed:
        break;
    }
    err << "tallyweave-batch word: " << result.cause << '\n';
    return 1;
}
