#pragma once
#include "mail/imapsave.h"
#include "mail/mailjob.h"
#include "merge/common/mailingjournal.h"
#include "mail/labelpair.h"
#include "office/workbook.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>


// The mail-client merge, without windows: one message for every worksheet row whose address cell
// passes the valid-address rule, its body with each label replaced by the row's value, the same
// subject and attachments for all unless the personal settings give each row its own; each message
// is either saved into the outbox folder or handed to the system mailer.

struct OutlookMergeSettings {
    QString workbookPath;
    int sheet = 1;       // position in the workbook, 1-based
    int emailColumn = 1; // 1 = "A"
    int startLine = 1;
    QList<LabelPair> pairs; // replaced case-sensitively, in the body only
    QString subject;        // as typed; labels in it stay unless personal.subjectLabels
    QString body;           // lines joined by CR LF
    QList<Attachment> attachments;
    PersonalMail personal;  // what each row adds to its own message; off by default
    bool saveMode = true;   // true: into the outbox; false: sent by the system mailer
    // Save mode: into this account's folder on its IMAP server instead of the outbox, over one
    // connection for the run.
    std::optional<ImapAccount> imap;
    QString fromAddress;    // the From header; empty leaves the sender to the system mailer

    // The send journal: every message is journaled before and after it is saved or sent, and rows
    // that an earlier run of the mailing's chain got through are left out. Off (the default), the
    // run journals nothing.
    bool journaled = false;
    QString journalPath; // empty: the default journal
    // Asked once the workbook is open, when the mailing ran before: resume the chain, restart it,
    // or nothing to send nothing. Without it, an earlier run means resume.
    std::function<std::optional<MailingJournal::Choice>(const MailingJournal&)> chooseEarlier;
    // The comment of the line a row whose delivery is unknown gets instead of a message.
    QString unknownComment;
};

// The mailing the journal knows these settings by.
Mailing outlookMailing(const OutlookMergeSettings& settings);

class OutlookMergeSink {
public:
    virtual ~OutlookMergeSink() = default;
    // The workbook is open, its sheet chosen and the mail client ready; records follow.
    virtual void recordsBegin() {}
    // With a document template, before recordsBegin(): done of total row documents are made.
    virtual void documentsProgress(int /*done*/, int /*total*/) {}
    // One message saved or sent. subItems: the address, then the values in pair order ("-" for
    // an empty one). image: 0 every value there, 2 some empty, 1 all empty (or no pairs). A row
    // that got no message (its delivery unknown from an earlier run, or a file or address of its
    // own cells unusable) has image 1 and a comment after the values.
    virtual void recordDone(const QStringList& subItems, int image, int row, int lastRow) = 0;
    // Asked before the first record and after each one; true ends the run. What was saved or
    // sent stays so.
    virtual bool stopRequested() = 0;
};

enum class OutlookMergeOutcome {
    Finished,
    Cancelled,
    WorkbookFailed,    // the workbook could not be opened, or a cell not read: see cause
    SheetMissing,      // the workbook has fewer sheets than the chosen number
    MailerUnavailable, // the outbox cannot be created or written, or no system mailer: see cause
    JournalFailed,     // the send journal cannot be opened or written: see cause
    DocumentsFailed,   // the rows' own documents could not be made, nothing was sent: see cause
    Failed,            // a message could not be made, saved or sent: see cause
};

struct OutlookMergeResult {
    OutlookMergeOutcome outcome = OutlookMergeOutcome::Failed;
    QString cause;
    int records = 0;
    int nullValues = 0;
    int failures = 0;
    int leftOut = 0; // rows passed over whose address cell holds a text that is no usable address
};

// Save mode: into the outbox at defaultOutboxPath(), or into the IMAP folder when imap is set; send
// mode: to the mailer findSendmail() finds.
OutlookMergeResult runOutlookMerge(const OutlookMergeSettings& settings, OutlookMergeSink& sink);
