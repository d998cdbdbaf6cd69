#pragma once
#include "mail/localmail.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

// The system mailer: "sendmail" found on PATH, else /usr/sbin/sendmail, else /usr/lib/sendmail;
// empty when none of them is an executable file.
QString findSendmail();

// Hands messages to the system mailer, one run per message. Without recipients it runs
// "sendmail -t -oi": the recipients come from the message's own headers, none from the command
// line. With recipients (a message with Bcc recipients, which carries no Bcc header) it runs
// "sendmail -oi -- RECIPIENT...": the mailer takes exactly those, and reads no header for them,
// since mailers differ in what they make of command-line recipients beside -t. Either way a line
// of a single "." does not end the input.
class Sendmail {
public:
    explicit Sendmail(QString program, int timeoutMs = 120000)
        : m_program(std::move(program)), m_timeoutMs(timeoutMs) {}

    QString program() const { return m_program; }

    // Writes message to the mailer with LF line ends and waits for it to exit. Throws
    // LocalMailError when it cannot be run, exits with a status other than 0, is killed or takes
    // longer than the time-out; the cause holds what it wrote to its error output.
    void send(const QByteArray& message, const QStringList& recipients = {}) const;

private:
    QString m_program;
    int m_timeoutMs;
};
