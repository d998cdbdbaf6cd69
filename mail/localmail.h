#pragma once
#include <QByteArray>
#include <QString>

#include <exception>

// What the mail-client layer shares: its error and the line ends of local mail.

// The outbox folder or the system mailer failed; the cause says what and where.
class LocalMailError : public std::exception {
public:
    explicit LocalMailError(QString cause) : m_cause(std::move(cause)), m_utf8(m_cause.toUtf8()) {}
    const QString& cause() const { return m_cause; }
    const char* what() const noexcept override { return m_utf8.constData(); }

private:
    QString m_cause;
    QByteArray m_utf8;
};

// The message with LF line ends, as local mailboxes store it and sendmail reads it. A message
// from the composer carries CR only in its line ends (every text travels base64-encoded and
// header texts hold no control characters), so dropping the CR of each CR LF changes nothing else.
inline QByteArray localLineEnds(QByteArray message)
{
    message.replace("\r\n", "\n");
    return message;
}
