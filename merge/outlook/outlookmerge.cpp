#include "merge/outlook/outlookmerge.h"

#include "mail/address.h"
#include "mail/composer.h"
#include "mail/maildir.h"
#include "mail/sendmail.h"
#include "merge/common/rowdocuments.h"
#include "merge/common/personalcells.h"

#include <QFileInfo>

#include <exception>
#include <memory>

namespace {

struct Stopped {
    OutlookMergeOutcome outcome;
    QString cause = {};
};

// Where the messages go: the outbox folder or the system mailer.
class MailClient {
public:
    virtual ~MailClient() = default;
    // Made ready before the first message (the outbox created, the mailer found). Throws
    // LocalMailError when it cannot be.
    virtual void start() = 0;
    // One complete message, lines ended by CR LF. envelope: everyone it goes to, for a mailer that
    // must not take them from the headers; empty: from the headers. Throws LocalMailError.
    virtual void deliver(const QByteArray& message, const QStringList& envelope) = 0;
};

class OutboxClient : public MailClient {
public:
    OutboxClient() : m_folder(defaultOutboxPath()) {}
    void start() override { m_folder.prepare(); }
    void deliver(const QByteArray& message, const QStringList&) override { m_folder.deliver(localLineEnds(message)); }

private:
    MaildirFolder m_folder;
};

class ImapClient : public MailClient {
public:
    explicit ImapClient(const ImapAccount& account) : m_drafts(account, defaultImapOptions()) {}
    void start() override { m_drafts.connect(); }
    void deliver(const QByteArray& message, const QStringList&) override { m_drafts.append(message); }

private:
    ImapDrafts m_drafts;
};

class SendmailClient : public MailClient {
public:
    void start() override {
        const QString program = findSendmail();
        if (program.isEmpty())
            throw LocalMailError(QStringLiteral(
                "no sendmail program was found on PATH, at /usr/sbin/sendmail or at /usr/lib/sendmail"));
        m_mailer = std::make_unique<Sendmail>(program);
    }
    void deliver(const QByteArray& message, const QStringList& envelope) override { m_mailer->send(message, envelope); }

private:
    std::unique_ptr<Sendmail> m_mailer;
};

void checkSettings(const OutlookMergeSettings& s) {
    const auto positive = [](int value, const char* what) {
        if (value < 1)
            throw WorkbookError(QStringLiteral("%1 %2 is out of range").arg(QLatin1String(what)).arg(value));
    };
    positive(s.sheet, "worksheet");
    positive(s.emailColumn, "e-mail column");
    positive(s.startLine, "start line");
    for (const LabelPair& pair : s.pairs)
        positive(pair.column, "fill-in column");
}

// A mail program refuses an attachment that is gone, and so does this run: a message that went
// out without a file the user listed would be a silent loss.
void checkAttachments(const QList<Attachment>& attachments) {
    for (const Attachment& attachment : attachments)
        if (!QFileInfo(attachment.path).isFile())
            throw ComposeError(QStringLiteral("the attachment %1 no longer exists").arg(attachment.path));
}

QList<RowKey> recipientRows(const OutlookMergeSettings& s, const Workbook& book) {
    QList<RowKey> rows;
    const int lastRow = book.usedRows();
    for (int row = s.startLine; row <= lastRow; ++row) {
        const QString address = trimBlanks(book.cellText(row, s.emailColumn));
        if (isUsableAddress(address))
            rows.append({row, address});
    }
    return rows;
}

// The journal for a journaled run, started as chooseEarlier says; null for a run without one.
std::unique_ptr<MailingJournal> startJournal(const OutlookMergeSettings& s, const Workbook& book) {
    if (!s.journaled)
        return nullptr;
    QString cause;
    std::unique_ptr<MailingJournal> journal =
        MailingJournal::open(s.journalPath, outlookMailing(s), recipientRows(s, book), &cause);
    if (!journal)
        throw Stopped{OutlookMergeOutcome::JournalFailed, cause};
    MailingJournal::Choice choice = MailingJournal::Choice::Resume;
    if (journal->earlier() != MailingJournal::Earlier::None && s.chooseEarlier) {
        const std::optional<MailingJournal::Choice> chosen = s.chooseEarlier(*journal);
        if (!chosen)
            throw Stopped{OutlookMergeOutcome::Cancelled};
        choice = *chosen;
    }
    if (!journal->start(choice, &cause))
        throw Stopped{OutlookMergeOutcome::JournalFailed, cause};
    return journal;
}

void journal(MailingJournal* journal, const RowKey& row, RowState state, const QString& comment = {}) {
    QString cause;
    if (journal && !journal->record(row, state, comment, &cause))
        throw Stopped{OutlookMergeOutcome::JournalFailed, cause};
}

// Every document before the first message; a stop or a document that cannot be made ends the run
// with nothing sent.
void makeDocuments(const OutlookMergeSettings& s, const Workbook& book, const MailingJournal* journaled,
                   RowDocuments& documents, OutlookMergeSink& sink) {
    if (!documents.wanted())
        return;
    const RowDocuments::Outcome made =
        documents.make(rowsToGetMail(book, s.startLine, s.emailColumn, s.pairs, journaled),
                       [&sink](int done, int total) { sink.documentsProgress(done, total); },
                       [&sink] { return sink.stopRequested(); });
    if (made == RowDocuments::Outcome::Stopped)
        throw Stopped{OutlookMergeOutcome::Cancelled};
    if (made == RowDocuments::Outcome::Failed)
        throw Stopped{OutlookMergeOutcome::DocumentsFailed, documents.cause()};
}

// The line and counters of a row whose message was made, or of one that failed for its own cells.
void reportRow(OutlookMergeSink& sink, OutlookMergeResult& result, const QStringList& subItems, int image, int row,
               int lastRow) {
    ++result.records;
    if (image == 1)
        ++result.failures;
    else if (image == 2)
        ++result.nullValues;
    sink.recordDone(subItems, image, row, lastRow);
    if (sink.stopRequested())
        throw Stopped{OutlookMergeOutcome::Cancelled};
}

void mergeRows(const OutlookMergeSettings& s, const Workbook& book, MailClient& client, OutlookMergeSink& sink,
               MailingJournal* journaled, const RowDocuments& documents, OutlookMergeResult& result) {
    const int lastRow = book.usedRows();
    ComposeOptions options;
    options.fromAddress = s.fromAddress;
    // A saved message is read by a mail program as it stands: it needs a sender, and keeps its Bcc
    // recipients in its header for the mail program to send to. The system mailer puts in its own
    // sender, and is given the Bcc recipients apart from the message.
    if (options.fromAddress.isEmpty() && s.saveMode)
        options.fromAddress = localSenderAddress();
    options.bccHeader = s.saveMode;
    const MailText text{s.subject, s.body, s.pairs, s.attachments, s.personal};
    AttachmentCache cache;
    for (int row = s.startLine; row <= lastRow; ++row) {
        const QString address = trimBlanks(book.cellText(row, s.emailColumn));
        if (!isUsableAddress(address)) {
            if (!address.isEmpty()) {
                ++result.leftOut;
                journal(journaled, {row, address}, RowState::Skipped,
                        QStringLiteral("the address \"%1\" cannot be used").arg(address));
            }
            continue;
        }
        const RowKey key{row, address};
        const std::optional<RowState> done = journaled ? journaled->done(key) : std::nullopt;

        Recipient recipient;
        recipient.row = row;
        recipient.lastRow = lastRow;
        recipient.address = address;
        bool failure = true;
        bool null = s.pairs.isEmpty();
        for (const LabelPair& pair : s.pairs) {
            const QString value = trimBlanks(book.cellText(row, pair.column));
            if (value.isEmpty()) {
                recipient.values.append(QStringLiteral("-"));
                null = true;
            } else {
                recipient.values.append(value);
                failure = false;
            }
        }
        const QStringList subItems = QStringList{address} + recipient.values;

        if (done) {
            // Got through in an earlier run of the chain: left out. One whose delivery is unknown
            // says so in a line of its own.
            if (*done == RowState::Unknown)
                reportRow(sink, result, subItems + QStringList{s.unknownComment}, 1, row, lastRow);
            continue;
        }

        checkAttachments(s.attachments);
        readPersonalCells(book, row, s.personal, s.workbookPath, recipient);
        QByteArray message;
        MessageContent content;
        try {
            // The row's own document goes with the files of its own cells.
            if (QString missing; !documents.attachTo(row, recipient.attachments, &missing))
                throw ComposeError(missing, ComposeError::Source::Row);
            content = rowMessageContent(text, recipient);
            message = composeMessage(content, options, cache);
        } catch (const ComposeError& error) {
            // A file or an address of the row's own cells: this row gets no message, the others go on.
            if (error.source() != ComposeError::Source::Row)
                throw;
            journal(journaled, key, RowState::Failed, error.cause());
            reportRow(sink, result, subItems + QStringList{error.cause()}, 1, row, lastRow);
            continue;
        }
        journal(journaled, key, RowState::Sending);
        try {
            // Bcc recipients are in no header of a message handed to the mailer.
            client.deliver(message, content.bcc.isEmpty() ? QStringList() : envelopeRecipients(content));
        } catch (const LocalMailError& error) {
            journal(journaled, key, RowState::Failed, error.cause());
            throw;
        }
        journal(journaled, key, RowState::Sent);
        reportRow(sink, result, subItems, failure ? 1 : null ? 2 : 0, row, lastRow);
    }
}

} // namespace

OutlookMergeResult runOutlookMerge(const OutlookMergeSettings& settings, OutlookMergeSink& sink) {
    std::unique_ptr<MailClient> client;
    if (settings.saveMode && settings.imap)
        client = std::make_unique<ImapClient>(*settings.imap);
    else if (settings.saveMode)
        client = std::make_unique<OutboxClient>();
    else
        client = std::make_unique<SendmailClient>();
    OutlookMergeResult result;
    try {
        checkSettings(settings);
        std::unique_ptr<Workbook> book = openWorkbook(settings.workbookPath);
        if (book->sheetCount() < settings.sheet)
            throw Stopped{OutlookMergeOutcome::SheetMissing};
        book->selectSheet(settings.sheet);
        try {
            client->start();
        } catch (const LocalMailError& error) {
            result.outcome = OutlookMergeOutcome::MailerUnavailable;
            result.cause = error.cause();
            return result;
        }
        // An earlier run of the mailing is settled before the first record.
        const std::unique_ptr<MailingJournal> journal = startJournal(settings, *book);
        RowDocuments documents(settings.personal, settings.pairs);
        makeDocuments(settings, *book, journal.get(), documents, sink);
        sink.recordsBegin();
        // A Cancel before the first record creates no message at all.
        if (sink.stopRequested())
            throw Stopped{OutlookMergeOutcome::Cancelled};
        mergeRows(settings, *book, *client, sink, journal.get(), documents, result);
        result.outcome = OutlookMergeOutcome::Finished;
    } catch (const Stopped& stopped) {
        result.outcome = stopped.outcome;
        result.cause = stopped.cause;
    } catch (const WorkbookError& error) {
        result.outcome = OutlookMergeOutcome::WorkbookFailed;
        result.cause = error.cause();
    } catch (const LocalMailError& error) {
        result.outcome = OutlookMergeOutcome::Failed;
        result.cause = error.cause();
    } catch (const ComposeError& error) {
        result.outcome = OutlookMergeOutcome::Failed;
        result.cause = error.cause();
    } catch (const std::exception& error) {
        result.outcome = OutlookMergeOutcome::Failed;
        result.cause = QString::fromLocal8Bit(error.what());
    }
    return result;
}

Mailing outlookMailing(const OutlookMergeSettings& s) {
    Mailing mailing;
    mailing.mode = s.saveMode ? MailingMode::Save : MailingMode::Send;
    mailing.workbookPath = s.workbookPath;
    mailing.sheet = s.sheet;
    mailing.emailColumn = s.emailColumn;
    mailing.startLine = s.startLine;
    mailing.subject = s.subject;
    mailing.body = s.body;
    mailing.pairs = s.pairs;
    mailing.attachments = s.attachments;
    mailing.more = personalSettings(s.personal);
    // Drafts on a server are another destination than the outbox: a run into one does not count
    // for the other.
    if (s.saveMode && s.imap)
        mailing.more.insert(QStringLiteral("imap"), QStringLiteral("%1@%2:%3/%4")
                                                        .arg(s.imap->account, s.imap->host)
                                                        .arg(s.imap->port)
                                                        .arg(s.imap->folder));
    return mailing;
}
