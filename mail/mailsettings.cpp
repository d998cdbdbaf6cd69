#include "mail/mailsettings.h"

#include "mail/keyring.h"
#include "mail/oauth.h"
#include "platform/blanks.h"

namespace {

constexpr int DefaultPort = 25;
constexpr int DefaultImapPort = 993;

// Decimal digits only (the options dialog lets nothing else be typed), within int. A sign, a
// blank inside, hexadecimal or an overflow all fall back to the default port.
int portNumber(const QString& text, int fallback = DefaultPort)
{
    const QString digits = trimBlanks(text);
    if (digits.isEmpty())
        return fallback;
    for (const QChar c : digits)
        if (c < u'0' || c > u'9')
            return fallback;
    bool ok = false;
    const int value = digits.toInt(&ok, 10);
    return ok ? value : fallback;
}

// A password lives in the keyring when one answers, else in the settings file. The keyring keys it
// by server and account, so without both it stays in the file.
QString loadPassword(const SettingsStore& store, const QString& name, const KeyringEntry& entry)
{
    const QString inFile = trimBlanks(store.read(name));
    if (entry.server.isEmpty() || entry.account.isEmpty())
        return inFile;
    if (!inFile.isEmpty()) {
        // Left there by an older version or while no keyring answered: moved into the keyring.
        if (keyring::store(entry, inFile))
            store.remove(name);
        return inFile;
    }
    bool answered = false;
    return keyring::lookup(entry, &answered).value_or(QString());
}

void savePassword(const SettingsStore& store, const QString& name, const KeyringEntry& entry,
                  const KeyringEntry& before, const QString& password)
{
    const bool keyed = !entry.server.isEmpty() && !entry.account.isEmpty();
    const bool inKeyring = keyed && (password.isEmpty() ? keyring::clear(entry) : keyring::store(entry, password));
    // The item of the server or account the settings held before would be left behind.
    if (!before.server.isEmpty() && !before.account.isEmpty()
        && (before.server != entry.server || before.account != entry.account))
        keyring::clear(before);
    if (inKeyring)
        store.remove(name);
    else
        store.write(name, password);
}

KeyringEntry smtpEntry(const QString& host, const QString& account)
{
    return {QStringLiteral("smtp"), trimBlanks(host), trimBlanks(account)};
}

KeyringEntry imapEntry(const QString& host, const QString& account)
{
    return {QStringLiteral("imap"), trimBlanks(host), trimBlanks(account)};
}

} // namespace

MailServerFields loadMailServerFields(const SettingsStore& store)
{
    MailServerFields fields;
    if (!store.available())
        return fields;
    fields.email = trimBlanks(store.read(QStringLiteral("Email")));
    fields.host = trimBlanks(store.read(QStringLiteral("SMTPAddress")));
    fields.port = QString::number(portNumber(store.read(QStringLiteral("SMTPPort"))));
    fields.account = trimBlanks(store.read(QStringLiteral("SMTPUserName")));
    fields.password = loadPassword(store, QStringLiteral("SMTPPassword"), smtpEntry(fields.host, fields.account));
    fields.ssl = trimBlanks(store.read(QStringLiteral("SMTPSSL"))) == QLatin1String("1");
    fields.oauth2 = trimBlanks(store.read(QStringLiteral("SMTPAuth"))).compare(QLatin1String("oauth2"), Qt::CaseInsensitive) == 0;
    fields.tokenCommand = trimBlanks(store.read(QStringLiteral("SMTPTokenCommand")));
    return fields;
}

void saveMailServerFields(const SettingsStore& store, const MailServerFields& fields)
{
    const KeyringEntry before =
        smtpEntry(store.read(QStringLiteral("SMTPAddress")), store.read(QStringLiteral("SMTPUserName")));
    store.write(QStringLiteral("Email"), trimBlanks(fields.email));
    store.write(QStringLiteral("SMTPAddress"), trimBlanks(fields.host));
    store.write(QStringLiteral("SMTPPort"), trimBlanks(fields.port));
    store.write(QStringLiteral("SMTPUserName"), trimBlanks(fields.account));
    savePassword(store, QStringLiteral("SMTPPassword"), smtpEntry(fields.host, fields.account), before,
                 trimBlanks(fields.password));
    store.write(QStringLiteral("SMTPSSL"), fields.ssl ? QStringLiteral("1") : QStringLiteral("0"));
    store.write(QStringLiteral("SMTPAuth"), fields.oauth2 ? QStringLiteral("oauth2") : QStringLiteral("password"));
    store.write(QStringLiteral("SMTPTokenCommand"), trimBlanks(fields.tokenCommand));
}

MailServerSettings serverSettings(const MailServerFields& fields)
{
    MailServerSettings settings;
    settings.email = trimBlanks(fields.email);
    settings.host = trimBlanks(fields.host);
    settings.port = portNumber(fields.port);
    settings.account = trimBlanks(fields.account);
    settings.password = trimBlanks(fields.password);
    settings.ssl = fields.ssl;
    if (fields.oauth2)
        settings.tokens = std::make_shared<TokenSource>(trimBlanks(fields.tokenCommand));
    return settings;
}

bool isComplete(const MailServerFields& fields)
{
    const QString* secret = fields.oauth2 ? &fields.tokenCommand : &fields.password;
    for (const QString* text : {&fields.email, &fields.host, &fields.port, &fields.account, secret})
        if (trimBlanks(*text).isEmpty())
            return false;
    return true;
}

ImapFields loadImapFields(const SettingsStore& store)
{
    ImapFields fields;
    const auto read = [&store](const char* name) {
        return store.available() ? trimBlanks(store.read(QLatin1String(name))) : QString();
    };
    fields.host = read("IMAPAddress");
    fields.port = QString::number(portNumber(read("IMAPPort"), DefaultImapPort));
    fields.folder = read("IMAPFolder");
    if (fields.folder.isEmpty())
        fields.folder = QStringLiteral("Drafts");
    const QString ssl = read("IMAPSSL");
    fields.ssl = ssl.isEmpty() || ssl == QLatin1String("1");
    fields.account = read("IMAPUserName");
    fields.ownAccount = !fields.account.isEmpty();
    if (fields.ownAccount && store.available())
        fields.password = loadPassword(store, QStringLiteral("IMAPPassword"), imapEntry(fields.host, fields.account));
    return fields;
}

void saveImapFields(const SettingsStore& store, const ImapFields& fields)
{
    const KeyringEntry before =
        imapEntry(store.read(QStringLiteral("IMAPAddress")), store.read(QStringLiteral("IMAPUserName")));
    store.write(QStringLiteral("IMAPAddress"), trimBlanks(fields.host));
    store.write(QStringLiteral("IMAPPort"), trimBlanks(fields.port));
    store.write(QStringLiteral("IMAPSSL"), fields.ssl ? QStringLiteral("1") : QStringLiteral("0"));
    store.write(QStringLiteral("IMAPFolder"), trimBlanks(fields.folder));
    store.write(QStringLiteral("IMAPUserName"), fields.ownAccount ? trimBlanks(fields.account) : QString());
    if (fields.ownAccount)
        savePassword(store, QStringLiteral("IMAPPassword"), imapEntry(fields.host, fields.account), before,
                     trimBlanks(fields.password));
    else
        savePassword(store, QStringLiteral("IMAPPassword"), KeyringEntry{}, before, QString());
}

ImapAccount imapAccount(const ImapFields& imap, const MailServerFields& smtp)
{
    ImapAccount account;
    account.host = trimBlanks(imap.host);
    account.port = portNumber(imap.port, DefaultImapPort);
    account.ssl = imap.ssl;
    account.folder = trimBlanks(imap.folder);
    account.account = trimBlanks(imap.ownAccount ? imap.account : smtp.account);
    account.password = trimBlanks(imap.ownAccount ? imap.password : smtp.password);
    if (smtp.oauth2 && !trimBlanks(smtp.tokenCommand).isEmpty())
        account.tokens = std::make_shared<TokenSource>(trimBlanks(smtp.tokenCommand));
    return account;
}

bool isComplete(const ImapAccount& account)
{
    return !account.host.isEmpty() && !account.folder.isEmpty() && !account.account.isEmpty()
           && !(account.password.isEmpty() && !account.tokens);
}
