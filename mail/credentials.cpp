#include "mail/credentials.h"

#include "codec/mimebase64.h"

#include <QList>

QString withoutCredentials(QString text, const QString& account, const QString& password, const QString& token)
{
    if (password.isEmpty() && token.isEmpty())
        return text;
    const QByteArray user = account.toUtf8();
    QList<QByteArray> forms;
    if (!password.isEmpty()) {
        const QByteArray secret = password.toUtf8();
        forms << Base64Encode('\0' + user + '\0' + secret) << Base64Encode(secret);
    }
    if (!token.isEmpty()) {
        const QByteArray bearer = token.toUtf8();
        forms << Base64Encode("user=" + user + "\x01" "auth=Bearer " + bearer + "\x01\x01")
              << Base64Encode(bearer);
    }
    forms << Base64Encode(user);
    const auto mask = QStringLiteral("****");
    for (QByteArray form : std::as_const(forms)) {
        while (form.endsWith('='))
            form.chop(1);
        if (!form.isEmpty())
            text.replace(QString::fromLatin1(form), mask);
    }
    if (!password.isEmpty())
        text.replace(password, mask);
    if (!token.isEmpty())
        text.replace(token, mask);
    return text;
}
