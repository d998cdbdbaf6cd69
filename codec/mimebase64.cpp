#include "codec/mimebase64.h"

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

char digit(unsigned value) {
    return kAlphabet[value & 0x3F];
}

} // namespace

QByteArray Base64Encode(const QByteArray& bytes) {
    QByteArray out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    // Bytes are taken unsigned so that 0x80..0xFF do not drag sign bits into the carry.
    unsigned carry = 0;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const unsigned byte = static_cast<unsigned char>(bytes[i]);
        switch (i % 3) {
        case 0:
            out += digit(byte >> 2);
            carry = (byte & 0x03) << 4;
            break;
        case 1:
            out += digit(carry | (byte >> 4));
            carry = (byte & 0x0F) << 2;
            break;
        default:
            out += digit(carry | (byte >> 6));
            out += digit(byte);
            break;
        }
    }
    switch (bytes.size() % 3) {
    case 1:
        out += digit(carry);
        out += "==";
        break;
    case 2:
        out += digit(carry);
        out += '=';
        break;
    default:
        break;
    }
    return out;
}
