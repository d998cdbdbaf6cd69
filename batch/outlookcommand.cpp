// tallyweave-batch outlook: the mail-client command's checks and run without a window.
#include "merge/outlook/outlookcommand.h"
#include "batch/commands.h"
#include "batch/documentflags.h"
#include "mail/mailsettings.h"
#include "batch/journalflags.h"
#include "batch/printer.h"
#include "batch/stopsignals.h"
#include "merge/common/rowdocuments.h"
#include "merge/outlook/outlookmerge.h"
#include "platform/blanks.h"
#include "platform/settingsstore.h"

#include <QFileInfo>

#include <optional>

namespace {

struct OutlookArguments {
    OutlookMergeSettings settings;
    QString bodyFile;
    JournalFlags journal;
    DocumentFlags documents;
    QString report;
    bool imap = false; // --imap: into the Drafts folder of the IMAP account
};

OutlookArguments parseArguments(const QStringList& args) {
    OutlookArguments parsed;
    OutlookMergeSettings& s = parsed.settings;
    bool save = false, send = false, subjectGiven = false;
    static const FlagSet flags{QStringList{"--save", "--send", "--imap"} + JournalFlags::switches
                                   + PersonalFlags::switches,
                               QStringList{"--source", "--sheet", "--email-column", "--start", "--subject",
                                           "--body-file", "--attach", "--pair", "--report"}
                                   + JournalFlags::valued + PersonalFlags::valued + DocumentFlags::valued,
                               {}};
    readFlags(args, flags, [&](const QString& flag, const QString& value) {
        if (parsed.journal.take(flag, value) || parsed.documents.take(flag, value)
            || PersonalFlags::take(flag, value, s.personal)) {
        } else if (flag == QLatin1String("--save")) {
            save = true;
        } else if (flag == QLatin1String("--send")) {
            send = true;
        } else if (flag == QLatin1String("--imap")) {
            parsed.imap = true;
        } else if (flag == QLatin1String("--source")) {
            s.workbookPath = value;
        } else if (flag == QLatin1String("--sheet")) {
            s.sheet = positiveNumber(flag, value);
        } else if (flag == QLatin1String("--email-column")) {
            s.emailColumn = columnLetter(flag, value);
        } else if (flag == QLatin1String("--start")) {
            s.startLine = positiveNumber(flag, value);
        } else if (flag == QLatin1String("--subject")) {
            s.subject = value;
            subjectGiven = true;
        } else if (flag == QLatin1String("--body-file")) {
            parsed.bodyFile = value;
        } else if (flag == QLatin1String("--report")) {
            parsed.report = reportPath(flag, value);
        } else if (flag == QLatin1String("--attach")) {
            s.attachments.append({QFileInfo(value).fileName(), value});
        } else {
            s.pairs.append(labelPair(flag, value));
        }
    });
    if (save == send)
        throw UsageError{QStringLiteral("exactly one of --save and --send is required")};
    if (parsed.imap && !save)
        throw UsageError{QStringLiteral("--imap goes with --save")};
    parsed.journal.check();
    parsed.documents.check();
    parsed.documents.apply(s.personal);
    s.saveMode = save;
    if (s.workbookPath.isEmpty() || !subjectGiven || parsed.bodyFile.isEmpty())
        throw UsageError{QStringLiteral("--source, --subject and --body-file are required")};
    if (trimBlanks(s.subject).isEmpty())
        throw UsageError{QStringLiteral("--subject wants a text that is not blank")};
    return parsed;
}

// The refusals before the run, or nothing when it may start.
std::optional<QString> refusal(OutlookArguments& parsed) {
    OutlookMergeSettings& s = parsed.settings;
    if (checkOutlookCommand(s.workbookPath) != OutlookCommandCheck::Ok)
        return QStringLiteral("the workbook %1 does not exist").arg(s.workbookPath);
    QString cause;
    s.body = readUtf8File(parsed.bodyFile, &cause);
    if (!cause.isEmpty())
        return cause;
    if (trimBlanks(s.body).isEmpty())
        return QStringLiteral("the body file %1 holds nothing but blanks").arg(parsed.bodyFile);
    for (const Attachment& attachment : std::as_const(s.attachments))
        if (!QFileInfo(attachment.path).isFile())
            return QStringLiteral("the attachment %1 does not exist").arg(attachment.path);
    if (const QString problem = rowDocumentsProblem(s.personal); !problem.isEmpty())
        return problem;
    return std::nullopt;
}

} // namespace

int runOutlookCommand(const QStringList& args, QTextStream& out, QTextStream& err) {
    const QString name = QStringLiteral("tallyweave-batch outlook: ");
    OutlookArguments parsed;
    try {
        parsed = parseArguments(args);
    } catch (const UsageError& error) {
        err << name << error.message << '\n' << kOutlookUsage;
        return 2;
    }
    if (const std::optional<QString> cause = refusal(parsed)) {
        err << name << *cause << '\n';
        return 1;
    }
    OutlookMergeSettings& s = parsed.settings;
    const SettingsStore store;
    const MailServerFields server = loadMailServerFields(store);
    s.fromAddress = server.email;
    if (parsed.imap) {
        s.imap = imapAccount(loadImapFields(store), server);
        if (!isComplete(*s.imap)) {
            err << name << "the IMAP settings in " << store.filePath()
                << " are incomplete: IMAPAddress, IMAPFolder and an account with its password (IMAPUserName and"
                   " IMAPPassword, or SMTPUserName and SMTPPassword) must all be set\n";
            return 1;
        }
    }
    s.journaled = true;
    s.journalPath = parsed.journal.path;
    s.unknownComment = unknownDeliveryComment();
    // A mailing that ran before goes on only as the flags say.
    QString refusedEarlier;
    s.chooseEarlier = [&](const MailingJournal& journal) -> std::optional<MailingJournal::Choice> {
        if (parsed.journal.restart)
            return MailingJournal::Choice::Restart;
        if (parsed.journal.resume)
            return MailingJournal::Choice::Resume;
        refusedEarlier = earlierRunRefusal(journal.summary());
        return std::nullopt;
    };

    ReportPrinter printer(out);
    if (!parsed.report.isEmpty())
        printer.keepReport(parsed.report, mailCaptions(int(s.pairs.size())));
    PrintingSink<OutlookMergeSink> sink(printer, stopSignalled);
    OutlookMergeResult result;
    {
        const StopOnSignals stopOnSignals;
        result = runOutlookMerge(s, sink);
    }
    if (sink.began) {
        if (!printer.finish(result.records, result.nullValues, result.failures, err, QStringLiteral("outlook")))
            return 1;
        reportLeftOut(err, QStringLiteral("outlook"), result.leftOut);
    }
    switch (result.outcome) {
    case OutlookMergeOutcome::Finished:
        return 0;
    case OutlookMergeOutcome::SheetMissing:
        err << name << "the workbook has no sheet " << s.sheet << '\n';
        return 1;
    case OutlookMergeOutcome::Cancelled:
        err << name << (refusedEarlier.isEmpty() ? QStringLiteral("interrupted") : refusedEarlier) << '\n';
        return 1;
    case OutlookMergeOutcome::JournalFailed:
        err << name << "the send journal cannot be used: " << result.cause << '\n';
        return 1;
    case OutlookMergeOutcome::WorkbookFailed:
    case OutlookMergeOutcome::DocumentsFailed:
    case OutlookMergeOutcome::MailerUnavailable:
    case OutlookMergeOutcome::Failed:
        break;
    }
    err << name << result.cause << '\n';
    return 1;
}
