// Pins the DES cipher to published known answers and to OpenSSL, and its hexadecimal text form
// (own digit alphabet, zero fill, refusals as empty text) to the documented rules.
#include "codec/tdesencrypt.h"

#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QtTest>

namespace {

quint64 fromHex(const char* hex) {
    bool ok = false;
    const quint64 value = QByteArray(hex).toULongLong(&ok, 16);
    Q_ASSERT(ok);
    return value;
}

QByteArray blockBytes(quint64 value) {
    QByteArray bytes(8, Qt::Uninitialized);
    qToBigEndian(value, bytes.data());
    return bytes;
}

// The cipher bytes written with an arbitrary 16-digit alphabet, independently of the code under test.
QString digitsOf(const QByteArray& bytes, const char* alphabet) {
    QString text;
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        text += QLatin1Char(alphabet[b >> 4]);
        text += QLatin1Char(alphabet[b & 0xF]);
    }
    return text;
}

QByteArray randomBytes(QRandomGenerator& random, int count, bool allowZero = true) {
    QByteArray bytes(count, Qt::Uninitialized);
    for (char& c : bytes)
        c = char(allowZero ? random.bounded(256) : 1 + random.bounded(255));
    return bytes;
}

const QByteArray kKey("kq83wzt5");

} // namespace

class TestDes : public QObject {
    Q_OBJECT
private slots:
    void knownAnswers_data();
    void knownAnswers();
    void iteratedEncryptDecryptChain();
    void agreesWithOpenSsl();
    void encipheredLength_data();
    void encipheredLength();
    void refusals_data();
    void refusals();
    void malformedTextIsRefused_data();
    void malformedTextIsRefused();
    void usualHexDigitOrderDoesNotDecipher();
    void roundTripsTextsWithoutZeroByte();
    void zeroByteEndsTheDecipheredText();
};

void TestDes::knownAnswers_data() {
    QTest::addColumn<quint64>("key");
    QTest::addColumn<quint64>("plain");
    QTest::addColumn<quint64>("cipher");
    auto row = [](const char* name, const char* key, const char* plain, const char* cipher) {
        QTest::newRow(name) << fromHex(key) << fromHex(plain) << fromHex(cipher);
    };
    // Worked example found in most DES tutorials and FIPS 81's ECB sample.
    row("worked example", "133457799BBCDFF1", "0123456789ABCDEF", "85E813540F0AB405");
    row("fips 81 ecb sample", "0123456789ABCDEF", "4E6F772069732074", "3FA40E8A984D4815");
    row("weak-looking key to zero block", "0E329232EA6D0D73", "8787878787878787", "0000000000000000");
    // NBS SP 500-20 (validation of DES devices): variable plaintext, variable key, permutation
    // and substitution tables.
    row("variable plaintext bit 1", "0101010101010101", "8000000000000000", "95F8A5E5DD31D900");
    row("variable plaintext bit 2", "0101010101010101", "4000000000000000", "DD7F121CA5015619");
    row("variable plaintext bit 64", "0101010101010101", "0000000000000001", "166B40B44ABA4BD6");
    row("variable key bit 1", "8001010101010101", "0000000000000000", "95A8D72813DAA94D");
    row("variable key bit 2", "4001010101010101", "0000000000000000", "0EEC1487DD8C26D5");
    row("permutation test", "1046913489980131", "0000000000000000", "88D55E54F54C97B4");
    row("substitution test", "7CA110454A1A6E57", "01A1D6D039776742", "690F5B0D9A26939B");
    row("parity bits are ignored", "7DA011444B1B6F56", "01A1D6D039776742", "690F5B0D9A26939B");
}

void TestDes::knownAnswers() {
    QFETCH(quint64, key);
    QFETCH(quint64, plain);
    QFETCH(quint64, cipher);
    QCOMPARE(QByteArray::number(desEncryptBlock(plain, key), 16), QByteArray::number(cipher, 16));
    QCOMPARE(QByteArray::number(desDecryptBlock(cipher, key), 16), QByteArray::number(plain, 16));
}

void TestDes::iteratedEncryptDecryptChain() {
    // Rivest's test: each value is its own key, enciphered on even steps and deciphered on odd
    // ones; one wrong table entry anywhere changes the sixteenth value.
    quint64 x = fromHex("9474B8E8C73BCA7D");
    for (int i = 0; i < 16; ++i)
        x = i % 2 == 0 ? desEncryptBlock(x, x) : desDecryptBlock(x, x);
    QCOMPARE(QByteArray::number(x, 16), QByteArray("1b1a2ddb4c642438"));
}

void TestDes::agreesWithOpenSsl() {
    const QString openssl = QStandardPaths::findExecutable(QStringLiteral("openssl"));
    QVERIFY2(!openssl.isEmpty(), "the openssl command is a test dependency (scripts/deps.sh test)");
    QRandomGenerator random(46);
    constexpr int kKeys = 12;
    constexpr int kBlocksPerKey = 16;
    for (int k = 0; k < kKeys; ++k) {
        const QByteArray key = randomBytes(random, 8);
        const QByteArray plain = randomBytes(random, 8 * kBlocksPerKey);
        QProcess process;
        process.start(openssl,
                      {QStringLiteral("enc"), QStringLiteral("-des-ecb"), QStringLiteral("-provider"),
                       QStringLiteral("legacy"), QStringLiteral("-provider"), QStringLiteral("default"),
                       QStringLiteral("-nopad"), QStringLiteral("-K"), QString::fromLatin1(key.toHex())});
        QVERIFY(process.waitForStarted());
        process.write(plain);
        process.closeWriteChannel();
        QVERIFY(process.waitForFinished());
        QVERIFY2(process.exitCode() == 0, process.readAllStandardError().constData());
        const QByteArray expected = process.readAllStandardOutput();
        QCOMPARE(expected.size(), plain.size());

        const quint64 keyValue = qFromBigEndian<quint64>(key.constData());
        for (int b = 0; b < kBlocksPerKey; ++b) {
            const quint64 block = qFromBigEndian<quint64>(plain.constData() + 8 * b);
            const QByteArray mine = blockBytes(desEncryptBlock(block, keyValue));
            QVERIFY2(
                mine == expected.mid(8 * b, 8),
                qPrintable(QStringLiteral("key %1 block %2").arg(QString::fromLatin1(key.toHex())).arg(b)));
            QCOMPARE(desDecryptBlock(qFromBigEndian<quint64>(expected.constData() + 8 * b), keyValue), block);
        }
        // The text form is the same cipher, block after block, when the plain text has no fill.
        QCOMPARE(DesEncryptToHex(plain, key), digitsOf(expected, DesHexDigits));
    }
}

void TestDes::encipheredLength_data() {
    QTest::addColumn<int>("plainLength");
    QTest::addColumn<int>("digits");
    QTest::newRow("one character fills one block") << 1 << 16;
    QTest::newRow("seven characters") << 7 << 16;
    QTest::newRow("eight characters get no extra block") << 8 << 16;
    QTest::newRow("nine characters take two blocks") << 9 << 32;
    QTest::newRow("thirty-one characters") << 31 << 64;
    QTest::newRow("thirty-two characters") << 32 << 64;
}

void TestDes::encipheredLength() {
    QFETCH(int, plainLength);
    QFETCH(int, digits);
    const QString text = DesEncryptToHex(QByteArray(plainLength, 'x'), kKey);
    QCOMPARE(text.size(), digits);
    for (const QChar c : text)
        QVERIFY2(QByteArray(DesHexDigits).contains(c.toLatin1()), "only the program's digits are written");
}

void TestDes::refusals_data() {
    QTest::addColumn<QByteArray>("plain");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("key");
    // The texts are well formed under the program key, so only the key makes them fail.
    const QByteArray plain("address");
    const QString text = DesEncryptToHex(plain, kKey);
    QTest::newRow("key of 7 characters") << plain << text << QByteArray("kq83wzt");
    QTest::newRow("key of 9 characters") << plain << text << QByteArray("kq83wzt59");
    QTest::newRow("empty key") << plain << text << QByteArray();
    QTest::newRow("empty text") << QByteArray() << QString() << kKey;
}

void TestDes::refusals() {
    QFETCH(QByteArray, plain);
    QFETCH(QString, text);
    QFETCH(QByteArray, key);
    QCOMPARE(DesEncryptToHex(plain, key), QString());
    QCOMPARE(DesDecryptFromHex(text, key), QByteArray());
}

void TestDes::malformedTextIsRefused_data() {
    const QString good = DesEncryptToHex("Tallyweave", kKey);
    QVERIFY(good.size() == 32);
    const qsizetype letterAt = good.indexOf(QRegularExpression(QStringLiteral("[A-F]")));
    QVERIFY(letterAt >= 0);
    QString lowered = good;
    lowered[letterAt] = lowered[letterAt].toLower();
    QString foreign = good;
    foreign[5] = QLatin1Char('G');
    QString spaced = good;
    spaced[0] = QLatin1Char(' ');

    QTest::addColumn<QString>("text");
    QTest::newRow("odd length") << good.left(31);
    QTest::newRow("lower-case letter") << lowered;
    QTest::newRow("letter outside the digits") << foreign;
    QTest::newRow("blank") << spaced;
    QTest::newRow("seven bytes") << good.left(14);
    QTest::newRow("nine bytes") << good.left(18);
    QTest::newRow("non-latin character") << QString(good).replace(3, 1, QChar(0x4E2D));
}

void TestDes::malformedTextIsRefused() {
    QFETCH(QString, text);
    QCOMPARE(DesDecryptFromHex(text, kKey), QByteArray());
}

void TestDes::usualHexDigitOrderDoesNotDecipher() {
    const QByteArray plain("https://tallyweave.example.org/");
    QByteArray filled = plain + QByteArray(1, '\0');
    const quint64 key = qFromBigEndian<quint64>(kKey.constData());
    QByteArray cipher;
    for (qsizetype at = 0; at < filled.size(); at += 8)
        cipher += blockBytes(desEncryptBlock(qFromBigEndian<quint64>(filled.constData() + at), key));
    QCOMPARE(DesEncryptToHex(plain, kKey), digitsOf(cipher, DesHexDigits));

    // The same cipher bytes in the usual digit order are another text, with another meaning.
    const QString usual = digitsOf(cipher, "0123456789ABCDEF");
    QVERIFY(usual != digitsOf(cipher, DesHexDigits));
    QVERIFY(DesDecryptFromHex(usual, kKey) != plain);
}

void TestDes::roundTripsTextsWithoutZeroByte() {
    QRandomGenerator random(7);
    for (int length = 1; length <= 48; ++length) {
        const QByteArray key = randomBytes(random, 8);
        const QByteArray plain = randomBytes(random, length, false);
        const QString text = DesEncryptToHex(plain, key);
        QVERIFY2(DesDecryptFromHex(text, key) == plain, qPrintable(QStringLiteral("length %1").arg(length)));
    }
    const QByteArray chinese = QStringLiteral("主页 https://例子.example/").toUtf8();
    QCOMPARE(DesDecryptFromHex(DesEncryptToHex(chinese, kKey), kKey), chinese);
}

void TestDes::zeroByteEndsTheDecipheredText() {
    const QByteArray plain("ab\0cd", 5);
    QCOMPARE(DesDecryptFromHex(DesEncryptToHex(plain, kKey), kKey), QByteArray("ab"));
    QCOMPARE(DesDecryptFromHex(DesEncryptToHex(QByteArray("\0x", 2), kKey), kKey), QByteArray());
}

QTEST_APPLESS_MAIN(TestDes)
#include "tst_des.moc"
