// tallyweave-batch bulk: the bulk-mail run without a window, with the mail-server settings of the
// settings store.
#include "batch/commands.h"
#include "batch/documentflags.h"
#include "batch/journalflags.h"
#include "batch/printer.h"
#include "batch/stopsignals.h"
#include "merge/bulk/bulkrun.h"
#include "mail/mailsettings.h"
#include "office/workbook.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QThread>

namespace {

constexpr int LongestInterval = 24 * 3600 * 1000;

struct BulkArguments {
    BulkJob job;
    QString bodyFile;
    int intervalMs = 1000;
    JournalFlags journal;
    DocumentFlags documents;
    QString report;
};

BulkArguments parseArguments(const QStringList& args)
{
    BulkArguments parsed;
    BulkJob& job = parsed.job;
    bool subjectGiven = false;
    static const FlagSet flags{JournalFlags::switches + PersonalFlags::switches,
                               QStringList{"--source", "--sheet", "--email-column", "--start", "--subject",
                                           "--body-file", "--attach", "--pair", "--interval-ms", "--report"}
                                   + JournalFlags::valued + PersonalFlags::valued + DocumentFlags::valued,
                               {}};
    readFlags(args, flags, [&](const QString& flag, const QString& value) {
        if (parsed.journal.take(flag, value) || parsed.documents.take(flag, value)
            || PersonalFlags::take(flag, value, job.personal)) {
        } else if (flag == QLatin1String("--source")) {
            job.workbookPath = value;
        } else if (flag == QLatin1String("--sheet")) {
            job.sheet = positiveNumber(flag, value);
        } else if (flag == QLatin1String("--email-column")) {
            job.emailColumn = columnLetter(flag, value);
        } else if (flag == QLatin1String("--start")) {
            job.startLine = positiveNumber(flag, value);
        } else if (flag == QLatin1String("--subject")) {
            // As in the bulk dialog, whose send button wants a subject.
            if (trimBlanks(value).isEmpty())
                throw UsageError{QStringLiteral("--subject wants a text")};
            job.subject = value;
            subjectGiven = true;
        } else if (flag == QLatin1String("--body-file")) {
            parsed.bodyFile = value;
        } else if (flag == QLatin1String("--report")) {
            parsed.report = reportPath(flag, value);
        } else if (flag == QLatin1String("--attach")) {
            const QFileInfo info(value);
            job.attachments.append({info.fileName(), info.absoluteFilePath()});
        } else if (flag == QLatin1String("--pair")) {
            job.pairs.append(labelPair(flag, value));
        } else {
            bool ok = false;
            const int ms = value.toInt(&ok);
            if (!ok || ms < 0 || ms > LongestInterval)
                throw UsageError{QStringLiteral("--interval-ms wants a number of 0 to %1, not '%2'")
                                     .arg(LongestInterval)
                                     .arg(value)};
            parsed.intervalMs = ms;
        }
    });
    if (job.workbookPath.isEmpty() || !subjectGiven || parsed.bodyFile.isEmpty())
        throw UsageError{QStringLiteral("--source, --subject and --body-file are required")};
    parsed.journal.check();
    parsed.documents.check();
    parsed.documents.apply(job.personal);
    return parsed;
}

// The body as the bulk dialog's memo gives it: UTF-8 text, each line followed by CR LF.
QString readBody(const QString& path, QString* cause)
{
    QString text = readUtf8File(path, cause);
    if (!cause->isEmpty())
        return {};
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    if (text.isEmpty())
        return text;
    if (text.endsWith(QLatin1Char('\n')))
        text.chop(1);
    return text.split(QLatin1Char('\n')).join(QLatin1String("\r\n")) + QLatin1String("\r\n");
}

// Waits ms milliseconds; false as soon as a stop signal came.
bool pauseUnlessStopped(int ms) {
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < ms) {
        if (stopSignalled())
            return false;
        QThread::msleep(ulong(std::min<qint64>(50, ms - waited.elapsed())));
    }
    return !stopSignalled();
}

} // namespace

int runBulkCommand(const QStringList& args, QTextStream& out, QTextStream& err)
{
    BulkArguments parsed;
    try {
        parsed = parseArguments(args);
    } catch (const UsageError& error) {
        err << "tallyweave-batch bulk: " << error.message << '\n' << kBulkUsage;
        return 2;
    }
    BulkJob& job = parsed.job;
    QString cause;
    job.body = readBody(parsed.bodyFile, &cause);
    if (cause.isEmpty() && trimBlanks(job.body).isEmpty())
        cause = QStringLiteral("the body file %1 holds no text").arg(parsed.bodyFile);
    if (!cause.isEmpty()) {
        err << "tallyweave-batch bulk: " << cause << '\n';
        return 1;
    }
    const SettingsStore store;
    const MailServerFields fields = loadMailServerFields(store);
    if (!isComplete(fields)) {
        err << "tallyweave-batch bulk: the mail-server settings in " << store.filePath()
            << " are incomplete: Email, SMTPAddress, SMTPUserName and SMTPPassword (or, with SMTPAuth=oauth2,"
               " SMTPTokenCommand) must all be set\n";
        return 1;
    }
    if (!QFileInfo(job.workbookPath).isFile()) {
        err << "tallyweave-batch bulk: the workbook " << job.workbookPath << " does not exist\n";
        return 1;
    }

    if (const QString problem = rowDocumentsProblem(job.personal); !problem.isEmpty()) {
        err << "tallyweave-batch bulk: " << problem << '\n';
        return 1;
    }
    const MailServerSettings server = serverSettings(fields);
    BulkRun run(job, server);
    switch (run.open(&cause)) {
    case BulkRun::Opened::Ok:
        break;
    case BulkRun::Opened::SheetMissing:
        err << "tallyweave-batch bulk: the workbook has no sheet " << job.sheet << '\n';
        return 1;
    case BulkRun::Opened::Failed:
        err << "tallyweave-batch bulk: " << cause << '\n';
        return 1;
    }

    std::unique_ptr<MailingJournal> journal;
    try {
        journal = startJournaledRun(parsed.journal, bulkMailing(job, server), run.recipientRows(), &cause);
    } catch (const WorkbookError& error) {
        cause = error.cause();
    }
    if (!journal) {
        err << "tallyweave-batch bulk: " << cause << '\n';
        return 1;
    }
    run.setJournal(journal.get());

    ReportPrinter printer(out);
    if (!parsed.report.isEmpty())
        printer.keepReport(parsed.report, mailCaptions(int(job.pairs.size())));
    int records = 0;
    int failures = 0;
    int code = 0;
    bool sentOne = false;
    const StopOnSignals stopOnSignals;
    // Every row's own document before the first message; they go with the run, however it ends.
    switch (run.makeDocuments({}, stopSignalled, &cause)) {
    case RowDocuments::Outcome::Made:
        break;
    case RowDocuments::Outcome::Stopped:
        err << "tallyweave-batch bulk: interrupted while the documents were made; nothing was sent\n";
        return 1;
    case RowDocuments::Outcome::Failed:
        err << "tallyweave-batch bulk: " << cause << '\n';
        return 1;
    }
    try {
        // A signal ends the run once the message in hand is through, also during the pause.
        while (!stopSignalled()) {
            const std::optional<Recipient> recipient = run.nextRecipient();
            if (!recipient)
                break;
            // Rows an earlier run of the chain sent to are left out; one whose delivery is unknown
            // says so.
            if (const std::optional<RowState> done = run.doneState(*recipient)) {
                if (*done == RowState::Unknown) {
                    ++records;
                    ++failures;
                    printer.line(1, QStringList{recipient->address} + recipient->values
                                        + QStringList{unknownDeliveryComment()});
                }
                continue;
            }
            if (sentOne && !pauseUnlessStopped(parsed.intervalMs))
                break;
            const SendResult result = run.send(*recipient);
            sentOne = true;
            ++records;
            if (!result.sent)
                ++failures;
            printer.line(result.sent ? 0 : 1,
                         QStringList{recipient->address} + recipient->values + QStringList{result.comment});
            if (!run.journalFailure().isEmpty()) {
                err << "tallyweave-batch bulk: the send journal cannot be written, so the run ends: "
                    << run.journalFailure() << '\n';
                code = 1;
                break;
            }
        }
    } catch (const WorkbookError& error) {
        err << "tallyweave-batch bulk: " << error.cause() << '\n';
        code = 1;
    }
    if (!printer.finish(records, 0, failures, err, QStringLiteral("bulk")))
        code = 1;
    reportLeftOut(err, QStringLiteral("bulk"), run.leftOut());
    if (code == 0 && stopSignalled()) {
        err << "tallyweave-batch bulk: interrupted\n";
        code = 1;
    }
    return code;
}
