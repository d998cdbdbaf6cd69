#pragma once
#include <QByteArray>
#include <QString>
#include <QtGlobal>

// DES (FIPS 46-3) in electronic codebook mode, with the ciphertext written in a digit alphabet of
// the program's own. It keeps the home-page address out of plain sight in the binary; it is not
// meant to protect anything of the user's.

// The digit for the 4-bit value v is the character at position v. Only these 16 characters are
// digits: lower-case letters and the usual "0123456789ABCDEF" order are not accepted.
inline constexpr char DesHexDigits[] = "5B0E92D7C4A18F36";

// One 64-bit block under a 64-bit key; bit 1 of the standard is the most significant bit, so a
// block read big-endian from its 8 bytes is the standard's block. Parity bits of the key are ignored.
quint64 desEncryptBlock(quint64 block, quint64 key);
quint64 desDecryptBlock(quint64 block, quint64 key);

// The key is exactly 8 bytes, the first byte being the key's most significant. A short last block
// is filled with 0x00 bytes. Every refusal (empty text, key of another length) gives an empty text.
QString DesEncryptToHex(const QByteArray& plain, const QByteArray& key);

// The inverse of DesEncryptToHex. The empty text comes back for an empty or odd-length text, a
// character outside DesHexDigits, a byte count that is not a multiple of 8, or a key of another
// length. The result stops before the first 0x00 byte, which drops the block fill (and cuts a
// plain text that held a 0x00 byte of its own).
QByteArray DesDecryptFromHex(const QString& hex, const QByteArray& key);
