#pragma once
#include "mail/imapsave.h"
#include "mail/mailjob.h"
#include "platform/settingsstore.h"

#include <QString>

// The mail-server settings as the options dialog holds them, before they are put to use. With
// oauth2, the sign-in is XOAUTH2 with an access token printed by tokenCommand, in place of the
// password (stored as SMTPAuth "oauth2" and SMTPTokenCommand).
struct MailServerFields {
    QString email, host, port, account, password;
    bool ssl = false;
    bool oauth2 = false;
    QString tokenCommand = {};
};

// The six values of the settings store as the options dialog shows them: texts trimmed, the port
// converted to an integer and shown in decimal ("0587" -> "587", "abc"/absent/overflow -> "25"),
// ssl exactly when the trimmed SMTPSSL is "1". A store that is not available loads all empty,
// port included, ssl off.
MailServerFields loadMailServerFields(const SettingsStore& store);
// Email, SMTPAddress, SMTPPort (as typed), SMTPUserName, SMTPPassword trimmed, SMTPSSL "1"/"0",
// SMTPAuth "oauth2"/"password" and SMTPTokenCommand.
void saveMailServerFields(const SettingsStore& store, const MailServerFields& fields);
// The settings in force for a run: trimmed texts, the port as an integer, 25 when it does not
// convert (eleven digits included); with oauth2, a token source of its own, so that the command
// runs once for the run that asked for these settings.
MailServerSettings serverSettings(const MailServerFields& fields);
// True when none of the five text fields is empty after trimming; with oauth2 the token command
// stands in for the password.
bool isComplete(const MailServerFields& fields);

// The IMAP account the mail-client mode saves drafts into, stored beside the six settings as
// IMAPAddress, IMAPPort, IMAPSSL, IMAPFolder, IMAPUserName and IMAPPassword. Without an account of
// its own (the default), the SMTP account and password serve for IMAP too.
struct ImapFields {
    QString host;
    QString port;
    QString folder;
    bool ssl = true;
    bool ownAccount = false;
    QString account;
    QString password;
};

// As the options dialog shows them: texts trimmed; the port in decimal, 993 when absent or not a
// number; the folder "Drafts" when absent or blank; ssl on unless IMAPSSL is stored and is not "1";
// an account of its own exactly when IMAPUserName is not blank. An unavailable store loads these
// defaults.
ImapFields loadImapFields(const SettingsStore& store);
// The six IMAP values, trimmed; without an account of its own, IMAPUserName and IMAPPassword are
// written empty.
void saveImapFields(const SettingsStore& store, const ImapFields& fields);
// The account in force for a Save to Drafts.
ImapAccount imapAccount(const ImapFields& imap, const MailServerFields& smtp);
// True when the server, the folder, the account and the password in force are all there.
bool isComplete(const ImapAccount& account);
