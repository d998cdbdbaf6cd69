#include "merge/bulk/bulkrun.h"

#include "mail/address.h"
#include "mail/composer.h"
#include "mail/smtp.h"
#include "office/workbook.h"

struct BulkRun::State {
    BulkJob job;
    MailServerSettings server;
    SmtpOptions smtp = defaultSmtpOptions();
    std::unique_ptr<Workbook> workbook;
    int currentRow = 0;
    int lastRow = 0;
    AttachmentCache attachments;
};

BulkRun::BulkRun(BulkJob job, MailServerSettings server) : m_state(std::make_unique<State>())
{
    m_state->job = std::move(job);
    m_state->server = std::move(server);
    m_state->currentRow = m_state->job.startLine - 1;
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
        if (!isUsableAddress(address))
            continue;
        Recipient recipient;
        recipient.row = row;
        recipient.lastRow = s.lastRow;
        recipient.address = address;
        for (const LabelPair& pair : s.job.pairs) {
            const QString value = trimBlanks(s.workbook->cellText(row, pair.column));
            recipient.values.append(value.isEmpty() ? QStringLiteral("-") : value);
        }
        return recipient;
    }
    return std::nullopt;
}

bool BulkRun::rowsLeft() const
{
    return m_state->workbook && m_state->currentRow < m_state->lastRow;
}

SendResult BulkRun::send(const Recipient& recipient)
{
    const State& s = *m_state;
    QByteArray message;
    try {
        message = composeBulkMessage(s.job, recipient, s.server, m_state->attachments);
    } catch (const ComposeError& error) {
        return SendResult{false, error.cause()};
    }
    return sendMail(s.server, recipient.address, message, s.smtp);
}
