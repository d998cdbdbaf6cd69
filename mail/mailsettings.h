#pragma once
#include "mail/mailjob.h"
#include "platform/settingsstore.h"

#include <QString>

// The mail-server settings as the options dialog holds them, before they are put to use.
struct MailServerFields { QString email, host, port, account, password; bool ssl = false; };

// The six values of the settings store as the options dialog shows them: texts trimmed, the port
// converted to an integer and shown in decimal ("0587" -> "587", "abc"/absent/overflow -> "25"),
// ssl exactly when the trimmed SMTPSSL is "1". A store that is not available loads all empty,
// port included, ssl off.
MailServerFields loadMailServerFields(const SettingsStore& store);
// Email, SMTPAddress, SMTPPort (as typed), SMTPUserName, SMTPPassword trimmed, SMTPSSL "1"/"0".
void saveMailServerFields(const SettingsStore& store, const MailServerFields& fields);
// The settings in force for a run: trimmed texts, the port as an integer, 25 when it does not
// convert (eleven digits included).
MailServerSettings serverSettings(const MailServerFields& fields);
// True when none of the five text fields is empty after trimming.
bool isComplete(const MailServerFields& fields);
