#include "codec/tdesencrypt.h"

#include <array>
#include <cstdint>

namespace {

// Tables of FIPS 46-3, 1-based bit numbers counted from the most significant bit.
constexpr std::array<std::uint8_t, 64> kInitialPermutation = {
    58, 50, 42, 34, 26, 18, 10, 2, 60, 52, 44, 36, 28, 20, 12, 4, //
    62, 54, 46, 38, 30, 22, 14, 6, 64, 56, 48, 40, 32, 24, 16, 8, //
    57, 49, 41, 33, 25, 17, 9,  1, 59, 51, 43, 35, 27, 19, 11, 3, //
    61, 53, 45, 37, 29, 21, 13, 5, 63, 55, 47, 39, 31, 23, 15, 7};

constexpr std::array<std::uint8_t, 64> kFinalPermutation = {
    40, 8, 48, 16, 56, 24, 64, 32, 39, 7, 47, 15, 55, 23, 63, 31, //
    38, 6, 46, 14, 54, 22, 62, 30, 37, 5, 45, 13, 53, 21, 61, 29, //
    36, 4, 44, 12, 52, 20, 60, 28, 35, 3, 43, 11, 51, 19, 59, 27, //
    34, 2, 42, 10, 50, 18, 58, 26, 33, 1, 41, 9,  49, 17, 57, 25};

constexpr std::array<std::uint8_t, 48> kExpansion = {
    32, 1,  2,  3,  4,  5,  4,  5,  6,  7,  8,  9,  8,  9,  10, 11, //
    12, 13, 12, 13, 14, 15, 16, 17, 16, 17, 18, 19, 20, 21, 20, 21, //
    22, 23, 24, 25, 24, 25, 26, 27, 28, 29, 28, 29, 30, 31, 32, 1};

constexpr std::array<std::uint8_t, 32> kRoundPermutation = {
    16, 7, 20, 21, 29, 12, 28, 17, 1,  15, 23, 26, 5,  18, 31, 10, //
    2,  8, 24, 14, 32, 27, 3,  9,  19, 13, 30, 6,  22, 11, 4,  25};

constexpr std::array<std::uint8_t, 56> kPermutedChoice1 = {
    57, 49, 41, 33, 25, 17, 9,  1,  58, 50, 42, 34, 26, 18, //
    10, 2,  59, 51, 43, 35, 27, 19, 11, 3,  60, 52, 44, 36, //
    63, 55, 47, 39, 31, 23, 15, 7,  62, 54, 46, 38, 30, 22, //
    14, 6,  61, 53, 45, 37, 29, 21, 13, 5,  28, 20, 12, 4};

constexpr std::array<std::uint8_t, 48> kPermutedChoice2 = {
    14, 17, 11, 24, 1,  5,  3,  28, 15, 6,  21, 10, 23, 19, 12, 4,  //
    26, 8,  16, 7,  27, 20, 13, 2,  41, 52, 31, 37, 47, 55, 30, 40, //
    51, 45, 33, 48, 44, 49, 39, 56, 34, 53, 46, 42, 50, 36, 29, 32};

constexpr std::array<std::uint8_t, 16> kKeyShifts = {1, 1, 2, 2, 2, 2, 2, 2, 1, 2, 2, 2, 2, 2, 2, 1};

// Each box as 4 rows of 16; the row is chosen by the outer bits of the 6-bit input, the column by
// the inner four.
constexpr std::uint8_t kSBoxes[8][64] = {{14, 4,  13, 1, 2,  15, 11, 8,  3,  10, 6,  12, 5,  9,  0, 7, //
                                          0,  15, 7,  4, 14, 2,  13, 1,  10, 6,  12, 11, 9,  5,  3, 8, //
                                          4,  1,  14, 8, 13, 6,  2,  11, 15, 12, 9,  7,  3,  10, 5, 0, //
                                          15, 12, 8,  2, 4,  9,  1,  7,  5,  11, 3,  14, 10, 0,  6, 13},
                                         {15, 1,  8,  14, 6,  11, 3,  4,  9,  7, 2,  13, 12, 0, 5,  10, //
                                          3,  13, 4,  7,  15, 2,  8,  14, 12, 0, 1,  10, 6,  9, 11, 5,  //
                                          0,  14, 7,  11, 10, 4,  13, 1,  5,  8, 12, 6,  9,  3, 2,  15, //
                                          13, 8,  10, 1,  3,  15, 4,  2,  11, 6, 7,  12, 0,  5, 14, 9},
                                         {10, 0,  9,  14, 6, 3,  15, 5,  1,  13, 12, 7,  11, 4,  2,  8, //
                                          13, 7,  0,  9,  3, 4,  6,  10, 2,  8,  5,  14, 12, 11, 15, 1, //
                                          13, 6,  4,  9,  8, 15, 3,  0,  11, 1,  2,  12, 5,  10, 14, 7, //
                                          1,  10, 13, 0,  6, 9,  8,  7,  4,  15, 14, 3,  11, 5,  2,  12},
                                         {7,  13, 14, 3, 0,  6,  9,  10, 1,  2, 8, 5,  11, 12, 4,  15, //
                                          13, 8,  11, 5, 6,  15, 0,  3,  4,  7, 2, 12, 1,  10, 14, 9,  //
                                          10, 6,  9,  0, 12, 11, 7,  13, 15, 1, 3, 14, 5,  2,  8,  4,  //
                                          3,  15, 0,  6, 10, 1,  13, 8,  9,  4, 5, 11, 12, 7,  2,  14},
                                         {2,  12, 4,  1,  7,  10, 11, 6,  8,  5,  3,  15, 13, 0, 14, 9,  //
                                          14, 11, 2,  12, 4,  7,  13, 1,  5,  0,  15, 10, 3,  9, 8,  6,  //
                                          4,  2,  1,  11, 10, 13, 7,  8,  15, 9,  12, 5,  6,  3, 0,  14, //
                                          11, 8,  12, 7,  1,  14, 2,  13, 6,  15, 0,  9,  10, 4, 5,  3},
                                         {12, 1,  10, 15, 9, 2,  6,  8,  0,  13, 3,  4,  14, 7,  5,  11, //
                                          10, 15, 4,  2,  7, 12, 9,  5,  6,  1,  13, 14, 0,  11, 3,  8,  //
                                          9,  14, 15, 5,  2, 8,  12, 3,  7,  0,  4,  10, 1,  13, 11, 6,  //
                                          4,  3,  2,  12, 9, 5,  15, 10, 11, 14, 1,  7,  6,  0,  8,  13},
                                         {4,  11, 2,  14, 15, 0, 8,  13, 3,  12, 9, 7,  5,  10, 6, 1, //
                                          13, 0,  11, 7,  4,  9, 1,  10, 14, 3,  5, 12, 2,  15, 8, 6, //
                                          1,  4,  11, 13, 12, 3, 7,  14, 10, 15, 6, 8,  0,  5,  9, 2, //
                                          6,  11, 13, 8,  1,  4, 10, 7,  9,  5,  0, 15, 14, 2,  3, 12},
                                         {13, 2,  8,  4, 6,  15, 11, 1,  10, 9,  3,  14, 5,  0,  12, 7, //
                                          1,  15, 13, 8, 10, 3,  7,  4,  12, 5,  6,  11, 0,  14, 9,  2, //
                                          7,  11, 4,  1, 9,  12, 14, 2,  0,  6,  10, 13, 15, 3,  5,  8, //
                                          2,  1,  14, 7, 4,  10, 8,  13, 15, 12, 9,  0,  3,  5,  6,  11}};

constexpr qsizetype kBlockBytes = 8;

// Gathers the bits that table names from a value inputBits wide, first table entry into the most
// significant place of the result.
template <std::size_t N>
std::uint64_t permute(std::uint64_t input, int inputBits, const std::array<std::uint8_t, N>& table) {
    std::uint64_t out = 0;
    for (const std::uint8_t position : table)
        out = (out << 1) | ((input >> (inputBits - position)) & 1u);
    return out;
}

using Subkeys = std::array<std::uint64_t, 16>;

Subkeys keySchedule(std::uint64_t key) {
    constexpr std::uint32_t kHalfMask = 0x0FFFFFFF;
    const std::uint64_t choice = permute(key, 64, kPermutedChoice1);
    std::uint32_t c = static_cast<std::uint32_t>(choice >> 28) & kHalfMask;
    std::uint32_t d = static_cast<std::uint32_t>(choice) & kHalfMask;
    Subkeys subkeys{};
    for (std::size_t round = 0; round < subkeys.size(); ++round) {
        const int shift = kKeyShifts[round];
        c = ((c << shift) | (c >> (28 - shift))) & kHalfMask;
        d = ((d << shift) | (d >> (28 - shift))) & kHalfMask;
        subkeys[round] = permute((std::uint64_t(c) << 28) | d, 56, kPermutedChoice2);
    }
    return subkeys;
}

std::uint32_t feistel(std::uint32_t right, std::uint64_t subkey) {
    const std::uint64_t mixed = permute(right, 32, kExpansion) ^ subkey;
    std::uint32_t substituted = 0;
    for (int box = 0; box < 8; ++box) {
        const unsigned six = static_cast<unsigned>(mixed >> (42 - 6 * box)) & 0x3F;
        const unsigned row = ((six >> 4) & 0x2) | (six & 0x1);
        const unsigned column = (six >> 1) & 0xF;
        substituted = (substituted << 4) | kSBoxes[box][row * 16 + column];
    }
    return static_cast<std::uint32_t>(permute(substituted, 32, kRoundPermutation));
}

enum class Direction { Encrypt, Decrypt };

std::uint64_t cryptBlock(std::uint64_t block, const Subkeys& subkeys, Direction direction) {
    const std::uint64_t permuted = permute(block, 64, kInitialPermutation);
    std::uint32_t left = static_cast<std::uint32_t>(permuted >> 32);
    std::uint32_t right = static_cast<std::uint32_t>(permuted);
    for (std::size_t round = 0; round < subkeys.size(); ++round) {
        const std::size_t index = direction == Direction::Encrypt ? round : subkeys.size() - 1 - round;
        const std::uint32_t next = left ^ feistel(right, subkeys[index]);
        left = right;
        right = next;
    }
    // The halves are not swapped back after the last round.
    return permute((std::uint64_t(right) << 32) | left, 64, kFinalPermutation);
}

std::uint64_t readBlock(const char* bytes) {
    std::uint64_t value = 0;
    for (qsizetype i = 0; i < kBlockBytes; ++i)
        value = (value << 8) | static_cast<unsigned char>(bytes[i]);
    return value;
}

void writeBlock(std::uint64_t value, char* bytes) {
    for (qsizetype i = kBlockBytes - 1; i >= 0; --i) {
        bytes[i] = static_cast<char>(value & 0xFF);
        value >>= 8;
    }
}

int digitValue(QChar c) {
    for (int v = 0; v < 16; ++v) {
        if (c == QLatin1Char(DesHexDigits[v]))
            return v;
    }
    return -1;
}

} // namespace

quint64 desEncryptBlock(quint64 block, quint64 key) {
    return cryptBlock(block, keySchedule(key), Direction::Encrypt);
}

quint64 desDecryptBlock(quint64 block, quint64 key) {
    return cryptBlock(block, keySchedule(key), Direction::Decrypt);
}

QString DesEncryptToHex(const QByteArray& plain, const QByteArray& key) {
    if (plain.isEmpty() || key.size() != kBlockBytes)
        return {};
    const Subkeys subkeys = keySchedule(readBlock(key.constData()));
    QByteArray filled = plain;
    filled.append((kBlockBytes - plain.size() % kBlockBytes) % kBlockBytes, '\0');

    QString hex;
    hex.reserve(filled.size() * 2);
    char cipher[kBlockBytes];
    for (qsizetype at = 0; at < filled.size(); at += kBlockBytes) {
        writeBlock(cryptBlock(readBlock(filled.constData() + at), subkeys, Direction::Encrypt), cipher);
        for (const char byte : cipher) {
            const auto value = static_cast<unsigned char>(byte);
            hex += QLatin1Char(DesHexDigits[value >> 4]);
            hex += QLatin1Char(DesHexDigits[value & 0xF]);
        }
    }
    return hex;
}

QByteArray DesDecryptFromHex(const QString& hex, const QByteArray& key) {
    if (hex.isEmpty() || hex.size() % 2 != 0 || key.size() != kBlockBytes)
        return {};
    QByteArray cipher;
    cipher.reserve(hex.size() / 2);
    for (qsizetype i = 0; i < hex.size(); i += 2) {
        const int high = digitValue(hex[i]);
        const int low = digitValue(hex[i + 1]);
        if (high < 0 || low < 0)
            return {};
        cipher += static_cast<char>(high * 16 + low);
    }
    if (cipher.size() % kBlockBytes != 0)
        return {};

    const Subkeys subkeys = keySchedule(readBlock(key.constData()));
    QByteArray plain(cipher.size(), Qt::Uninitialized);
    for (qsizetype at = 0; at < cipher.size(); at += kBlockBytes)
        writeBlock(cryptBlock(readBlock(cipher.constData() + at), subkeys, Direction::Decrypt),
                   plain.data() + at);
    const qsizetype end = plain.indexOf('\0');
    return end < 0 ? plain : plain.left(end);
}
