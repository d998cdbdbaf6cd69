#pragma once
#include <QByteArray>

// Base64 of RFC 4648 (standard alphabet, "=" padding) on one unbroken line, whatever the length:
// the result goes into encoded words of mail headers, where the header folding is done elsewhere.
// There is no decoder: nothing the program sends or keeps is ever read back from base64.
QByteArray Base64Encode(const QByteArray& bytes);
