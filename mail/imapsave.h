#pragma once
#include "mail/localmail.h"

#include <QByteArray>
#include <QString>

#include <memory>

class TokenSource;

// The IMAP account whose folder (Drafts by default) receives the messages of the mail-client
// mode's Save, so that every mail program of the account shows them.
struct ImapAccount {
    QString host;
    int port = 993;
    bool ssl = true; // the implicit-TLS port: TLS from the first byte; any other port: STARTTLS required
    QString folder = QStringLiteral("Drafts");
    QString account;
    QString password;
    // OAuth 2: the run's access tokens; when set, the login is XOAUTH2 and the password is not used.
    std::shared_ptr<TokenSource> tokens = {};
};

struct ImapOptions {
    int implicitTlsPort = 993;
    int replyTimeoutSeconds = 30;   // for every reply, after the command went out
    int connectTimeoutSeconds = 15; // connect, greeting, STARTTLS and login together
    QString caFile;                 // empty: the system's store
};

// The defaults, with caFile taken from SSL_CERT_FILE when that is set.
ImapOptions defaultImapOptions();

// The folder name as an IMAP command takes it: modified UTF-7 for what is not printable ASCII,
// quoted, with quote and backslash escaped. Empty when the name holds a control character.
QByteArray imapMailboxName(const QString& folder);

// One logged-in connection to the account's server for a whole run; each message is appended to
// the folder with the flags \Draft and \Seen in one command, so that no message is ever there
// without them. Refusals and transport failures throw LocalMailError whose cause is the server's
// words (tagged NO/BAD reply, or BYE) or the transport's, never the password or the token.
class ImapDrafts {
public:
    ImapDrafts(ImapAccount account, ImapOptions options);
    ~ImapDrafts();
    ImapDrafts(const ImapDrafts&) = delete;
    ImapDrafts& operator=(const ImapDrafts&) = delete;

    // Connects and logs in; with a token that the server refuses, the token command runs once more
    // and the login is tried again. Throws LocalMailError.
    void connect();
    // Appends one message (CR LF line ends, as the composer makes it). Throws LocalMailError; the
    // connection is not to be used after a failure.
    void append(const QByteArray& message);

private:
    struct Connection;
    QByteArray command(const QByteArray& line, const QByteArray* literal, const char* verb);
    QString masked(QString text) const;
    // One attempt; true when the server refused the login itself.
    bool login(const QString& token);

    ImapAccount m_account;
    ImapOptions m_options;
    std::unique_ptr<Connection> m_connection;
    int m_tag = 0;
    QString m_token;   // the token in use, masked in every cause
    QString m_refusal; // the server's refusal of the last login
};
