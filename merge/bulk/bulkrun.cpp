#include "merge/bulk/bulkrun.h"

#include "mail/address.h"
#include "mail/composer.h"
#include "mail/smtp.h"
#include "merge/common/mailingjournal.h"
#include "merge/common/personalcells.h"
#include "office/workbook.h"

struct BulkRun::State {
    BulkJob job;
    MailServerSettings server;
    SmtpOptions smtp = defaultSmtpOptions();
    std::unique_ptr<Workbook> workbook;
    int currentRow = 0;
    int lastRow = 0;
    int leftOut = 0;
    AttachmentCache attachments;
    MailingJournal* journal = nullptr;
    QString journalFailure;
    std::unique_ptr<RowDocuments> documents;
};

BulkRun::BulkRun(BulkJob job, MailServerSettings server) : m_state(std::make_unique<State>())
{
    m_state->job = std::move(job);
    m_state->server = std::move(server);
    m_state->currentRow = m_state->job.startLine - 1;
    m_state->documents = std::make_unique<RowDocuments>(m_state->job.personal, m_state->job.pairs);
}

BulkRun::~BulkRun() = default;

void BulkRun::setSmtpOptions(const SmtpOptions& options)
{
    m_state->smtp = options;
}

int BulkRun::attachmentEncodings() const
{
    return m_state->attachments.encodings();
}

BulkRun::Opened BulkRun::open(QString* cause)
{
    State& s = *m_state;
    try {
        s.workbook = openWorkbook(s.job.workbookPath);
        if (s.workbook->sheetCount() < s.job.sheet || s.job.sheet < 1) {
            s.workbook.reset();
            return Opened::SheetMissing;
        }
        s.workbook->selectSheet(s.job.sheet);
        s.lastRow = s.workbook->usedRows();
        s.currentRow = std::max(0, s.job.startLine - 1);
        return Opened::Ok;
    } catch (const WorkbookError& error) {
        s.workbook.reset();
        if (cause)
            *cause = error.cause();
        return Opened::Failed;
    }
}

std::optional<Recipient> BulkRun::nextRecipient()
{
    State& s = *m_state;
    if (!s.workbook)
        return std::nullopt;
    while (s.currentRow < s.lastRow) {
        const int row = ++s.currentRow;
        const QString address = trimBlanks(s.workbook->cellText(row, s.job.emailColumn));
        if (!isUsableAddress(address)) {
            // An empty cell is no recipient at all; a text that is no usable address is a row left out.
            if (!address.isEmpty())
                ++s.leftOut;
            if (s.journal && !address.isEmpty()) {
                QString cause;
                s.journal->record({row, address}, RowState::Skipped,
                                  QStringLiteral("the address \"%1\" cannot be used").arg(address), &cause);
            }
            continue;
        }
        Recipient recipient;
        recipient.row = row;
        recipient.lastRow = s.lastRow;
        recipient.address = address;
        for (const LabelPair& pair : s.job.pairs) {
            const QString value = trimBlanks(s.workbook->cellText(row, pair.column));
            recipient.values.append(value.isEmpty() ? QStringLiteral("-") : value);
        }
        readPersonalCells(*s.workbook, row, s.job.personal, s.job.workbookPath, recipient);
        return recipient;
    }
    return std::nullopt;
}

int BulkRun::leftOut() const
{
    return m_state->leftOut;
}

bool BulkRun::rowsLeft() const
{
    return m_state->workbook && m_state->currentRow < m_state->lastRow;
}

QList<RowKey> BulkRun::recipientRows() const
{
    const State& s = *m_state;
    QList<RowKey> rows;
    if (!s.workbook)
        return rows;
    for (int row = std::max(1, s.job.startLine); row <= s.lastRow; ++row) {
        const QString address = trimBlanks(s.workbook->cellText(row, s.job.emailColumn));
        if (isUsableAddress(address))
            rows.append({row, address});
    }
    return rows;
}

void BulkRun::setJournal(MailingJournal* journal)
{
    m_state->journal = journal;
}

std::optional<RowState> BulkRun::doneState(const Recipient& recipient) const
{
    if (!m_state->journal)
        return std::nullopt;
    return m_state->journal->done({recipient.row, recipient.address});
}

QString BulkRun::journalFailure() const
{
    return m_state->journalFailure;
}

RowDocuments::Outcome BulkRun::makeDocuments(const RowDocuments::Progress& progress,
                                             const std::function<bool()>& stop, QString* cause)
{
    State& s = *m_state;
    RowDocuments::Outcome outcome = RowDocuments::Outcome::Made;
    if (s.workbook && s.documents->wanted()) {
        try {
            outcome = s.documents->make(
                rowsToGetMail(*s.workbook, s.job.startLine, s.job.emailColumn, s.job.pairs, s.journal), progress,
                stop);
        } catch (const WorkbookError& error) {
            if (cause)
                *cause = error.cause();
            return RowDocuments::Outcome::Failed;
        }
    }
    if (cause)
        *cause = s.documents->cause();
    return outcome;
}

SendResult BulkRun::send(const Recipient& recipient)
{
    State& s = *m_state;
    QByteArray message;
    QStringList envelope;
    try {
        Recipient withDocument = recipient;
        QString missing;
        if (!s.documents->attachTo(recipient.row, withDocument.attachments, &missing))
            throw ComposeError(missing);
        message = composeBulkMessage(s.job, withDocument, s.server, s.attachments, &envelope);
    } catch (const ComposeError& error) {
        SendResult failed{false, error.cause()};
        if (s.journal)
            s.journal->record({recipient.row, recipient.address}, RowState::Failed, failed.comment,
                              &s.journalFailure);
        return failed;
    }
    const RowKey key{recipient.row, recipient.address};
    // Nothing goes out that the journal does not know of first.
    if (s.journal && !s.journal->record(key, RowState::Sending, QString(), &s.journalFailure))
        return SendResult{false, QStringLiteral("the send journal cannot be written: ") + s.journalFailure};
    const SendResult result = sendMail(s.server, envelope, message, s.smtp);
    if (s.journal) {
        const RowState state = result.sent ? RowState::Sent : result.unknown ? RowState::Unknown : RowState::Failed;
        s.journal->record(key, state, result.comment, &s.journalFailure);
    }
    return result;
}
