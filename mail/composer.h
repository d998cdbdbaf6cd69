#pragma once
#include "mail/mailjob.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

#include <exception>
#include <memory>

// Who a message comes from and what it says about its maker. The bulk run fills all of it from the
// mail-server settings; a mode that hands its messages to a mail client may leave the addresses
// empty, and the headers are then left out.
struct ComposeOptions {
    QString fromName;    // display name of From
    QString fromAddress; // empty: no From header
    QString replyTo;     // empty: no Reply-To header
    QString mailer = QStringLiteral("Tallyweave");
    // A message saved for a mail program to send carries its Bcc recipients in a Bcc header; a
    // message sent from here never does: they go into the envelope alone.
    bool bccHeader = false;
};

// The user's own address on this machine, login name at host name: the sender of a message that
// goes into a mail program's folder when no e-mail address is set, so that it is a whole message.
QString localSenderAddress();

// What one message carries, after the labels were replaced.
struct MessageContent {
    QString to;
    QString subject; // trimmed before use; never searched for labels
    QString body;    // the text part, or the HTML part when html; line ends become CR LF
    // (Defaults given from here on, so that a message of its first three alone can be written in braces.)
    QList<Attachment> attachments = {}; // one whose file is gone is left out
    // The recipient row's own files, attached after the others: one that is gone stops the message.
    QList<Attachment> ownAttachments = {};
    QStringList cc = {};  // the Cc header, and the envelope
    QStringList bcc = {}; // the envelope, and a Bcc header only with ComposeOptions::bccHeader
    // The body is HTML: the message carries it beside a plain text made from it.
    bool html = false;
};

// A message that cannot be made: a listed attachment that exists but cannot be read, or something
// of the recipient row's own (a file of its attachment column, a Cc or Bcc address). The cause
// names it.
class ComposeError : public std::exception {
public:
    enum class Source {
        Job, // the same for every row: the job's own attachments
        Row, // this row's own cells
    };
    explicit ComposeError(QString cause, Source source = Source::Job)
        : m_cause(std::move(cause)), m_utf8(m_cause.toUtf8()), m_source(source) {}
    const QString& cause() const { return m_cause; }
    Source source() const { return m_source; }
    const char* what() const noexcept override { return m_utf8.constData(); }

private:
    QString m_cause;
    QByteArray m_utf8;
    Source m_source;
};

// Attachment files read and base64-encoded once, kept while the file's size and modification time
// stay the same, so that a run of a thousand messages with the same file encodes it once. Safe to
// share between threads.
class AttachmentCache {
public:
    AttachmentCache();
    ~AttachmentCache();
    AttachmentCache(const AttachmentCache&) = delete;
    AttachmentCache& operator=(const AttachmentCache&) = delete;

    // The file's content in base64, lines of 76 characters ended by CR LF; null when the file does not
    // exist (any more). Throws ComposeError when it exists and cannot be read.
    std::shared_ptr<const QByteArray> encoded(const QString& path);
    // How many times a file was read and encoded so far.
    int encodings() const;

private:
    struct State;
    std::unique_ptr<State> m_state;
};

// Every occurrence of each pair's label replaced by the pair's value, pair by pair in list order,
// case-sensitively, left to right and without overlaps; a later pair also searches the values
// inserted by earlier ones. A pair without a value (fewer values than pairs) puts "-".
QString replaceLabels(QString body, const QList<LabelPair>& pairs, const QStringList& values);

// A header text as it goes out: CR, LF and the other control characters but tab become spaces,
// so that no text can start a header line of its own.
QString headerSafe(const QString& text);

// The value of a header (without its name) that holds text: plain when the text is ASCII,
// otherwise RFC 2047 encoded words "=?utf-8?B?...?=" of whole characters, at most 75 characters
// each, separated by folding white space; the first line already holds `used` characters.
// Lines end in LF.
QByteArray headerTextValue(const QString& text, int used);

// The whole message, lines ended by CR LF: Date, Message-ID, MIME-Version, X-Mailer, From,
// Reply-To, To, Cc (Bcc) and Subject. The body is a single text/plain part (utf-8, base64), or with
// html a multipart/alternative of the text made from the HTML and the text/html part. Without
// attachments the body is the message; else multipart/mixed with the body first and one
// application/octet-stream part per listed file that exists, the row's own files last. Throws
// ComposeError for a listed file that cannot be read, an own file that is gone, or a Cc or Bcc
// address the valid-address rule refuses.
QByteArray composeMessage(const MessageContent& content, const ComposeOptions& options, AttachmentCache& cache,
                          const QDateTime& date = QDateTime::currentDateTime());

// What a mode's job says of every message, before a row's values go in.
struct MailText {
    QString subject;
    QString body;
    QList<LabelPair> pairs;
    QList<Attachment> attachments;
    PersonalMail personal;
};

// One recipient row's message: the body's labels replaced by the row's values (escaped as HTML for
// an HTML body), the subject's too when personal.subjectLabels; the job's attachments, then the
// row's own; the row's Cc and Bcc.
MessageContent rowMessageContent(const MailText& text, const Recipient& recipient);

// Everyone the message goes to, for the envelope: To, Cc and Bcc in that order, each address once
// (letter case aside).
QStringList envelopeRecipients(const MessageContent& content);

// The bulk run's message to one recipient row (rowMessageContent of the job), From and Reply-To
// from the server settings; its envelope recipients into *envelope when given.
QByteArray composeBulkMessage(const BulkJob& job, const Recipient& recipient, const MailServerSettings& server,
                              AttachmentCache& cache, QStringList* envelope = nullptr);

// The cells of the personal columns. Addresses: separated by ";" or ",", blanks around each
// dropped, empty ones skipped (not checked here). Files: separated by ";", blanks around each
// dropped, empty ones skipped, a relative path taken from folder, named by the file's name.
QStringList addressesOfCell(const QString& cell);
QList<Attachment> attachmentsOfCell(const QString& cell, const QString& folder);
