#include "mail/mailsettings.h"

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
    fields.password = trimBlanks(store.read(QStringLiteral("SMTPPassword")));
    fields.ssl = trimBlanks(store.read(QStringLiteral("SMTPSSL"))) == QLatin1String("1");
    fields.oauth2 = trimBlanks(store.read(QStringLiteral("SMTPAuth"))).compare(QLatin1String("oauth2"), Qt::CaseInsensitive) == 0;
    fields.tokenCommand = trimBlanks(store.read(QStringLiteral("SMTPTokenCommand")));
    return fields;
}

void saveMailServerFields(const SettingsStore& store, const MailServerFields& fields)
{
    store.write(QStringLiteral("Email"), trimBlanks(fields.email));
    store.write(QStringLiteral("SMTPAddress"), trimBlanks(fields.host));
    store.write(QStringLiteral("SMTPPort"), trimBlanks(fields.port));
    store.write(QStringLiteral("SMTPUserName"), trimBlanks(fields.account));
    store.write(QStringLiteral("SMTPPassword"), trimBlanks(fields.password));
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
    fields.password = fields.ownAccount ? read("IMAPPassword") : QString();
    return fields;
}

void saveImapFields(const SettingsStore& store, const ImapFields& fields)
{
    store.write(QStringLiteral("IMAPAddress"), trimBlanks(fields.host));
    store.write(QStringLiteral("IMAPPort"), trimBlanks(fields.port));
    store.write(QStringLiteral("IMAPSSL"), fields.ssl ? QStringLiteral("1") : QStringLiteral("0"));
    store.write(QStringLiteral("IMAPFolder"), trimBlanks(fields.folder));
    store.write(QStringLiteral("IMAPUserName"), fields.ownAccount ? trimBlanks(fields.account) : QString());
    store.write(QStringLiteral("IMAPPassword"), fields.ownAccount ? trimBlanks(fields.password) : QString());
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
    return account;
}

bool isComplete(const ImapAccount& account)
{
    return !account.host.isEmpty() && !account.folder.isEmpty() && !account.account.isEmpty()
           && !(account.password.isEmpty() && account.token.isEmpty());
}
