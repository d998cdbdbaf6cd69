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
};

// The user's own address on this machine, login name at host name: the sender of a message that
// goes into a mail program's folder when no e-mail address is set, so that it is a whole message.
QString localSenderAddress();

// What one message carries, after the labels were replaced.
struct MessageContent {
    QString to;
    QString subject; // trimmed before use; never searched for labels
    QString body;    // the text part; line ends become CR LF
    QList<Attachment> attachments;
};

// A listed attachment that exists but cannot be read: the message is not sent.
class ComposeError : public std::exception {
public:
    explicit ComposeError(QString cause) : m_cause(std::move(cause)), m_utf8(m_cause.toUtf8()) {}
    const QString& cause() const { return m_cause; }
    const char* what() const noexcept override { return m_utf8.constData(); }

private:
    QString m_cause;
    QByteArray m_utf8;
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
// Reply-To, To and Subject; a single text/plain part (utf-8, base64) without attachments, else
// multipart/mixed with the text part first and one application/octet-stream part per listed file
// that exists. Throws ComposeError for a listed file that cannot be read.
QByteArray composeMessage(const MessageContent& content, const ComposeOptions& options, AttachmentCache& cache,
                          const QDateTime& date = QDateTime::currentDateTime());

// The bulk run's message to one recipient row: the job's body with its labels replaced by the
// row's values, the job's subject and attachments, From and Reply-To from the server settings.
QByteArray composeBulkMessage(const BulkJob& job, const Recipient& recipient, const MailServerSettings& server,
                              AttachmentCache& cache);
