#pragma once
#include "mail/mailjob.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

// How a connection to the mail server is made, beyond the server settings.
struct SmtpOptions {
    // With ssl on, this port speaks TLS from the first byte; every other port must offer STARTTLS.
    int implicitTlsPort = 465;
    int replyTimeoutSeconds = 5;    // for every reply of the server
    int connectTimeoutSeconds = 10; // connect, greeting, EHLO, STARTTLS and AUTH together
    // CA bundle to verify the server's certificate with; empty: the system's store.
    QString caFile;
    // Name given with EHLO; empty: the local host name.
    QString greetingName;
};

// The defaults, with caFile taken from SSL_CERT_FILE when that is set.
SmtpOptions defaultSmtpOptions();

// The local host name as the greeting gives it, "Tallyweave" when it cannot be had.
QString localHostName();

// Sends one message over a connection of its own: EHLO, STARTTLS where the settings ask for it,
// AUTH when an account is set and the server offers a mechanism, MAIL FROM the Email setting,
// RCPT TO each recipient (the envelope: To, Cc and Bcc), DATA. Nothing is retried; a recipient the
// server refuses fails the message. On failure the comment is the server's reply (code and words,
// the lines of a multi-line reply joined by a space) or the transport's error; it never holds the
// password nor the AUTH lines made from it. When the whole message went out and its final reply
// never came (a time-out or a hang-up), the result is unknown and its comment says that the
// message may have been delivered. Blocks for at most the time-outs (a server that stops
// answering is not asked to QUIT); safe to call from any thread.
SendResult sendMail(const MailServerSettings& server, const QStringList& recipients, const QByteArray& message,
                    const SmtpOptions& options);
inline SendResult sendMail(const MailServerSettings& server, const QString& recipient, const QByteArray& message,
                           const SmtpOptions& options)
{
    return sendMail(server, QStringList{recipient}, message, options);
}
