#pragma once
#include "mail/labelpair.h"

#include <QList>
#include <memory>
#include <QString>
#include <QStringList>

// What a mailing is made of, whichever mode sends it: the server settings in force, the job as the
// mail dialogs gather it, one recipient row and the outcome of one message.

class TokenSource;

// The mail-server settings in force: the options dialog's fields, trimmed.
struct MailServerSettings {
    QString email;    // sender's address, also the envelope sender
    QString host;     // SMTP server
    int port = 25;    // 25 when the stored text is not a number
    QString account;  // user name, also the sender's display name
    QString password;
    bool ssl = false; // port 465: TLS from the first byte; any other port: STARTTLS required
    // OAuth 2 sign-in: the run's access tokens (XOAUTH2 instead of the password); null: password.
    std::shared_ptr<TokenSource> tokens = {};
};

struct Attachment {
    QString name; // file name without its folder
    QString path; // full path; a file that is gone when a message is built is left out
};

// What each recipient row adds to its own message. Everything is off by default: every row then
// gets the same subject, the same attachments and a plain-text body.
struct PersonalMail {
    // Columns, 1 = "A"; 0 uses none. Attachments: file paths separated by ";", a relative one taken
    // from the workbook's folder. Cc and Bcc: addresses separated by ";" or ",".
    int attachColumn = 0;
    int ccColumn = 0;
    int bccColumn = 0;
    bool subjectLabels = false; // the body's labels replaced in the subject too
    bool html = false;          // the body is HTML
    // The row's own document, made from this template with the row's values; empty makes none.
    QString documentTemplate;
    enum class DocumentFormat { Pdf, Docx };
    DocumentFormat documentFormat = DocumentFormat::Pdf;
    // The document's name, labels replaced as in the subject, before the format's extension;
    // empty: the template's base name, "-" and the row number.
    QString documentName;
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
    PersonalMail personal = {};
    // The pace: the pause between the end of one message and the start of the next (1000 ms is
    // 60 messages a minute), and the most messages this run sends, 0 for no limit: a provider's
    // daily cap, the rest left to a later run that resumes the mailing.
    int intervalMs = 1000;
    int limit = 0;
};

// One recipient row: its address and its values ("-" for an empty one), in pair order.
struct Recipient {
    int row = 0;
    int lastRow = 0;
    QString address;
    QStringList values;
    // With PersonalMail: the row's Cc and Bcc addresses, and its own files, attached after the
    // job's.
    QStringList cc = {};
    QStringList bcc = {};
    QList<Attachment> attachments = {};
};

struct SendResult {
    bool sent = false;
    QString comment; // when not sent: the server's reply (code and words) or the transport's error
    // Not sent as far as this side knows, but the whole message was handed over and the final reply
    // never came (a time-out or a hang-up): it may have been delivered, and is not to be sent again.
    bool unknown = false;
};
