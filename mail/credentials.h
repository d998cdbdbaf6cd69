#pragma once
#include <QString>

// Masks a secret in every form a mail exchange gives it, so that no report, comment or message
// ever shows one: the password and the token as typed, in base64, and inside the AUTH PLAIN,
// LOGIN and XOAUTH2 lines (which a server may repeat in its reply), with or without padding.
// The account's base64 form is masked too, since it sits beside the password in those lines.
QString withoutCredentials(QString text, const QString& account, const QString& password,
                           const QString& token = QString());
