// Pins the base64 encoder to RFC 4648 on one line, against known texts and Qt's own encoder.
#include "codec/mimebase64.h"

#include <QRandomGenerator>
#include <QtTest>

class TestBase64 : public QObject {
    Q_OBJECT
private slots:
    void knownTexts_data();
    void knownTexts();
    void longInputStaysOnOneLine();
    void everyByteValueRoundTrips();
    void agreesWithIndependentEncoderAtEveryLength();
};

void TestBase64::knownTexts_data() {
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("empty input gives empty output") << QByteArray() << QByteArray();
    QTest::newRow("one byte gets two pad characters") << QByteArray("a") << QByteArray("YQ==");
    QTest::newRow("two bytes get one pad character") << QByteArray("ab") << QByteArray("YWI=");
    QTest::newRow("three bytes need no padding") << QByteArray("abc") << QByteArray("YWJj");
    QTest::newRow("rfc 4648 foobar") << QByteArray("foobar") << QByteArray("Zm9vYmFy");
    QTest::newRow("rfc 4648 fooba") << QByteArray("fooba") << QByteArray("Zm9vYmE=");
    QTest::newRow("0xFF is not sign-extended") << QByteArray("\xFF", 1) << QByteArray("/w==");
    QTest::newRow("high bytes reach + and /") << QByteArray("\xFB\xFF\xBF", 3) << QByteArray("+/+/");
    QTest::newRow("zero bytes") << QByteArray(4, '\0') << QByteArray("AAAAAA==");
    QTest::newRow("utf-8 subject") << QStringLiteral("Grüße").toUtf8() << QByteArray("R3LDvMOfZQ==");
}

void TestBase64::knownTexts() {
    QFETCH(QByteArray, input);
    QFETCH(QByteArray, expected);
    QCOMPARE(Base64Encode(input), expected);
}

void TestBase64::longInputStaysOnOneLine() {
    QByteArray input;
    for (int i = 0; i < 100; ++i)
        input += char('A' + i % 26);
    const QByteArray out = Base64Encode(input);
    QCOMPARE(out.size(), 136);
    QVERIFY2(!out.contains('\r') && !out.contains('\n'), "no line break at 76 characters or anywhere");
    QCOMPARE(out, input.toBase64());
}

void TestBase64::everyByteValueRoundTrips() {
    QByteArray all;
    for (int b = 0; b < 256; ++b)
        all += char(b);
    // Decoding is Qt's; the encoder under test never sees its own output.
    QCOMPARE(QByteArray::fromBase64(Base64Encode(all), QByteArray::AbortOnBase64DecodingErrors), all);
}

void TestBase64::agreesWithIndependentEncoderAtEveryLength() {
    QRandomGenerator random(20261209);
    for (int length = 0; length <= 300; ++length) {
        for (int sample = 0; sample < 4; ++sample) {
            QByteArray input(length, Qt::Uninitialized);
            for (char& c : input)
                c = char(random.bounded(256));
            const QByteArray out = Base64Encode(input);
            QVERIFY2(out == input.toBase64(), qPrintable(QStringLiteral("length %1, input %2")
                                                             .arg(length)
                                                             .arg(QString::fromLatin1(input.toHex()))));
            QCOMPARE(out.size(), (length + 2) / 3 * 4);
        }
    }
}

QTEST_APPLESS_MAIN(TestBase64)
#include "tst_base64.moc"
