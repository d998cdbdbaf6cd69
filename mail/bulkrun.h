#pragma once
#include "merge/common/labelpair.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

// The mail-server settings in force: the options dialog's fields, trimmed.
struct MailServerSettings {
    QString email;    // sender's address, also the envelope sender
    QString host;     // SMTP server
    int port = 25;    // 25 when the stored text is not a number
    QString account;  // user name, also the sender's display name
    QString password;
    bool ssl = false; // port 465: TLS from the first byte; any other port: STARTTLS required
};

struct Attachment {
    QString name; // file name without its folder
    QString path; // full path; a file that is gone when a message is built is left out
};

// One bulk-mail job, as the bulk dialog gathers it.
struct BulkJob {
    QString workbookPath;
    int sheet = 1;       // position in the workbook, 1-based
    int emailColumn = 1; // 1 = "A"
    int startLine = 1;
    QList<LabelPair> pairs; // replaced case-sensitively in the body only
    QString subject;
    QString body; // lines joined by CR LF
    QList<Attachment> attachments;
};

// One recipient row: its address and its values ("-" for an empty one), in pair order.
struct Recipient {
    int row = 0;
    int lastRow = 0;
    QString address;
    QStringList values;
};

struct SendResult {
    bool sent = false;
    QString comment; // when not sent: the server's reply (code and words) or the transport's error
};

struct SmtpOptions; // mail/smtp.h

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
