#include "mail/mailsettings.h"

#include "platform/blanks.h"

namespace {

constexpr int DefaultPort = 25;

// Decimal digits only (the options dialog lets nothing else be typed), within int. A sign, a
// blank inside, hexadecimal or an overflow all fall back to the default port.
int portNumber(const QString& text)
{
    const QString digits = trimBlanks(text);
    if (digits.isEmpty())
        return DefaultPort;
    for (const QChar c : digits)
        if (c < u'0' || c > u'9')
            return DefaultPort;
    bool ok = false;
    const int value = digits.toInt(&ok, 10);
    return ok ? value : DefaultPort;
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
    for (const QString* text : {&fields.email, &fields.host, &fields.port, &fields.account, &fields.password})
        if (trimBlanks(*text).isEmpty())
            return false;
    return true;
}
