#pragma once
#include "mail/journal.h"
#include "mail/mailjob.h"
#include "merge/common/rowdocuments.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

struct SmtpOptions; // mail/smtp.h
class MailingJournal; // merge/common/mailingjournal.h

// The sending run, one recipient at a time, without windows: the run dialog calls open() on its
// first tick, then nextRecipient() and send() once per tick; the batch command calls them in a
// loop. Each send() opens a connection of its own and is never retried.
class BulkRun {
public:
    BulkRun(BulkJob job, MailServerSettings server);
    ~BulkRun();

    enum class Opened { Ok, SheetMissing, Failed };
    // Opens the workbook and selects the sheet; cause says why on Failed.
    Opened open(QString* cause);
    // The next row from the start line on whose trimmed address passes the valid-address rule;
    // nothing when no such row is left. A cell that cannot be read throws WorkbookError.
    std::optional<Recipient> nextRecipient();
    // True while a row after the current one is left to look at.
    bool rowsLeft() const;
    // The rows passed over so far whose address cell holds a text that is no usable address.
    int leftOut() const;
    // Every row from the start line on that would get a message, without moving on. After open().
    QList<RowKey> recipientRows() const;

    // Journals every message of the run: Sending before its connection is opened, then Sent, Failed
    // or Unknown; a row passed over for its address is journaled Skipped. Rows the journal holds as
    // done are for the caller to leave out (doneState()). Not owned; null journals nothing.
    void setJournal(MailingJournal* journal);
    // The state of the recipient's row in the journal's chain when it is done; nothing otherwise.
    std::optional<RowState> doneState(const Recipient& recipient) const;
    // Set once the journal could not be written: the run must end, since it could no longer tell
    // what was sent. Says why.
    QString journalFailure() const;
    // With a document template: makes the documents of every row that is to get a message (rows the
    // journal holds as done need none), after open() and setJournal(), before the first send();
    // see RowDocuments::make. cause says why on Failed. Safe to call off the user-interface thread.
    RowDocuments::Outcome makeDocuments(const RowDocuments::Progress& progress, const std::function<bool()>& stop,
                                        QString* cause);
    // Composes the recipient's message and sends it over a connection of its own. Blocks for at
    // most the time-outs; safe to call off the user-interface thread.
    SendResult send(const Recipient& recipient);

    // The connection's time-outs, CA bundle and TLS port; by default those of defaultSmtpOptions().
    void setSmtpOptions(const SmtpOptions& options);
    // How many times an attachment file was read and encoded in this run: once per file while it
    // stays unchanged.
    int attachmentEncodings() const;

private:
    struct State;
    std::unique_ptr<State> m_state;
};
