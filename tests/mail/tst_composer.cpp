// Composed messages read back by Python's email package: the label rules, encoded words, the
// structure with and without attachments, header injection, and the attachment cache.
#include "mail/composer.h"
#include "mailfixture.h"

#include <QRandomGenerator>
#include <QRegularExpression>
#include <QtTest>

#include <unistd.h>

namespace {

QByteArray randomBytes(int size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator generator(size);
    for (char& b : bytes)
        b = char(generator.bounded(256));
    return bytes;
}

// The header's physical lines as written, name included.
QList<QByteArray> headerLines(const QByteArray& message, const QByteArray& name)
{
    QList<QByteArray> lines;
    const QList<QByteArray> all = message.left(message.indexOf("\r\n\r\n")).split('\n');
    for (qsizetype i = 0; i < all.size(); ++i) {
        if (!all[i].toLower().startsWith(name.toLower() + ':'))
            continue;
        lines.append(all[i].chopped(all[i].endsWith('\r') ? 1 : 0));
        for (qsizetype j = i + 1; j < all.size() && (all[j].startsWith(' ') || all[j].startsWith('\t')); ++j)
            lines.append(all[j].chopped(all[j].endsWith('\r') ? 1 : 0));
    }
    return lines;
}

const ComposeOptions Bulk{QStringLiteral("Ann Example"), QStringLiteral("ann@example.org"),
                          QStringLiteral("ann@example.org")};

} // namespace

class TestComposer : public QObject {
    Q_OBJECT
private slots:
    void labels_data();
    void labels();
    void subjects_data();
    void subjects();
    void singleTextPartWithEveryHeader();
    void attachmentsByteForByteAfterTheText();
    void attachmentNames_data();
    void attachmentNames();
    void noTextStartsAHeaderLine();
    void attachmentEncodedOnceWhileUnchanged();
    void unreadableAttachmentStopsTheMessage();
    void bodyLineEndsBecomeCrLf();
    void mailClientMessageWithoutSender();
    void bulkMessageReplacesInTheBodyOnly();

private:
    QTemporaryDir m_dir;
    QJsonObject parse(const QByteArray& message)
    {
        QString error;
        const QJsonObject parsed = mailfixture::readMessageBytes(message, m_dir.path(), &error);
        if (!error.isEmpty())
            qWarning() << error;
        return parsed;
    }
    QString writeFile(const QString& name, const QByteArray& content)
    {
        return mailfixture::writeFile(m_dir.filePath(name), content);
    }
};

void TestComposer::labels_data()
{
    QTest::addColumn<QString>("body");
    QTest::addColumn<QStringList>("labels");
    QTest::addColumn<QStringList>("values");
    QTest::addColumn<QString>("expected");
    QTest::newRow("three occurrences, another case left alone")
        << "<Name>, <Name> and <Name>; <name> <NAME>" << QStringList{"<Name>"} << QStringList{"Ann"}
        << "Ann, Ann and Ann; <name> <NAME>";
    QTest::newRow("a later pair searches an earlier pair's value")
        << "X and X" << QStringList{"X", "Y"} << QStringList{"Y", "Z"} << "Z and Z";
    QTest::newRow("an earlier pair does not search a later value")
        << "Y and X" << QStringList{"Y", "X"} << QStringList{"Z", "Y"} << "Z and Y";
    QTest::newRow("inserted text is not searched again by the same pair")
        << "[n]" << QStringList{"[n]"} << QStringList{"[n][n]"} << "[n][n]";
    QTest::newRow("left to right without overlaps") << "aaaaa" << QStringList{"aa"} << QStringList{"b"} << "bba";
    QTest::newRow("label with pattern characters taken literally")
        << "cost: $1.* or $1.*" << QStringList{"$1.*"} << QStringList{"9"} << "cost: 9 or 9";
    QTest::newRow("empty label changes nothing") << "abc" << QStringList{""} << QStringList{"x"} << "abc";
    QTest::newRow("missing value puts a dash") << "Hi N, M" << QStringList{"N", "M"} << QStringList{"Ann"}
                                               << "Hi Ann, -";
    QTest::newRow("characters beyond the basic plane")
        << QString::fromUtf8("😀 {x} 😀") << QStringList{"{x}"} << QStringList{QString::fromUtf8("𝄞")}
        << QString::fromUtf8("😀 𝄞 😀");
    QTest::newRow("label across a line break") << "a\r\nb" << QStringList{"\r\n"} << QStringList{" "} << "a b";
}

void TestComposer::labels()
{
    QFETCH(QString, body);
    QFETCH(QStringList, labels);
    QFETCH(QStringList, values);
    QList<LabelPair> pairs;
    for (const QString& label : labels)
        pairs.append({1, label});
    QTEST(replaceLabels(body, pairs, values), "expected");
}

void TestComposer::subjects_data()
{
    QTest::addColumn<QString>("subject");
    QTest::addColumn<QString>("decoded");
    QTest::addColumn<bool>("encoded");
    QTest::newRow("plain ASCII unchanged") << "Your invoice" << "Your invoice" << false;
    QTest::newRow("blanks around trimmed") << "  \tYour invoice \t" << "Your invoice" << false;
    QTest::newRow("empty") << "" << "" << false;
    const QString longAscii = QStringLiteral("word ").repeated(40).trimmed();
    QTest::newRow("200 ASCII characters folded, unchanged") << longAscii << longAscii << false;
    const QString accents = QString::fromUtf8("Grüße aus Köln, à bientôt ").repeated(8).trimmed();
    QTest::newRow("200 accented characters in several words") << accents << accents << true;
    const QString cjk = QString::fromUtf8("您好，这是一封测试邮件").repeated(10);
    QTest::newRow("Chinese, three bytes a character") << cjk << cjk << true;
    const QString emoji = QString::fromUtf8("🎉🎊🎈").repeated(20);
    QTest::newRow("four-byte characters are never split") << emoji << emoji << true;
    QTest::newRow("one accented letter") << QString::fromUtf8("café") << QString::fromUtf8("café") << true;
    QTest::newRow("ASCII that looks like an encoded word stays as typed")
        << "=?utf-8?B?SGk=?=" << "=?utf-8?B?SGk=?=" << true;
    QTest::newRow("line break cannot add a header") << "Hello\r\nBcc: eve@example.org"
                                                   << "Hello  Bcc: eve@example.org" << false;
    const QString longWord = QString(1000, QLatin1Char('a'));
    QTest::newRow("an unbreakable 1000-character word is encoded") << longWord << longWord << true;
}

void TestComposer::subjects()
{
    QFETCH(QString, subject);
    QFETCH(QString, decoded);
    QFETCH(bool, encoded);
    AttachmentCache cache;
    const QByteArray message = composeMessage({"bob@example.org", subject, "Hi\r\n", {}}, Bulk, cache);
    const QJsonObject parsed = parse(message);
    QCOMPARE(parsed["subject"].toString(), decoded);
    QVERIFY(!parsed["headers"].toObject().contains("bcc"));
    QCOMPARE(parsed["defects"].toArray(), QJsonArray());

    const QList<QByteArray> lines = headerLines(message, "Subject");
    QVERIFY(!lines.isEmpty());
    const QByteArray value = lines.join("\n").mid(8);
    QCOMPARE(value.contains("=?utf-8?B?"), encoded);
    if (!encoded) {
        for (const QByteArray& line : lines)
            QVERIFY2(line.size() <= 78, line.constData());
        return;
    }
    static const QRegularExpression word(QStringLiteral("^=\\?utf-8\\?B\\?([A-Za-z0-9+/=]+)\\?=$"));
    QString joined;
    for (const QByteArray& line : lines) {
        QVERIFY2(line.size() <= 76, "a line holding encoded words has at most 76 characters");
        const QByteArray text = line.startsWith("Subject:") ? line.mid(8).trimmed() : line.trimmed();
        for (const QByteArray& one : text.split(' ')) {
            QVERIFY2(one.size() <= 75, one.constData());
            const QRegularExpressionMatch match = word.match(QString::fromLatin1(one));
            QVERIFY2(match.hasMatch(), one.constData());
            const QByteArray bytes = QByteArray::fromBase64(match.captured(1).toLatin1());
            QVERIFY2(bytes.isValidUtf8(), "each word holds whole characters");
            joined += QString::fromUtf8(bytes);
        }
    }
    QCOMPARE(joined, decoded);
}

void TestComposer::singleTextPartWithEveryHeader()
{
    AttachmentCache cache;
    const QByteArray message = composeMessage(
        {"bob@example.org", "Hello", QString::fromUtf8("Grüße,\r\nAnn\r\n"), {{"gone.pdf", m_dir.filePath("gone.pdf")}}},
        Bulk, cache);
    const QJsonObject parsed = parse(message);
    const QJsonObject headers = parsed["headers"].toObject();
    for (const char* name : {"date", "message-id", "mime-version", "x-mailer", "from", "reply-to", "to", "subject"})
        QVERIFY2(headers[name].toArray().size() == 1, name);
    QCOMPARE(headers["mime-version"].toArray().first().toString(), QStringLiteral("1.0"));
    QCOMPARE(headers["x-mailer"].toArray().first().toString(), QStringLiteral("Tallyweave"));
    QVERIFY(headers["message-id"].toArray().first().toString().endsWith(QLatin1String("@example.org>")));
    QCOMPARE(parsed["from"].toArray(), (QJsonArray{QJsonArray{"Ann Example", "ann@example.org"}}));
    QCOMPARE(parsed["reply_to"].toArray(), (QJsonArray{QJsonArray{"", "ann@example.org"}}));
    QCOMPARE(parsed["to"].toArray(), (QJsonArray{QJsonArray{"", "bob@example.org"}}));
    QVERIFY2(!parsed["multipart"].toBool(), "without an attachment that exists: one text/plain part");
    QCOMPARE(parsed["content_type"].toString(), QStringLiteral("text/plain"));
    const QJsonObject text = parsed["parts"].toArray().first().toObject();
    QCOMPARE(text["charset"].toString(), QStringLiteral("utf-8"));
    QCOMPARE(text["encoding"].toString(), QStringLiteral("base64"));
    QCOMPARE(text["text"].toString(), QString::fromUtf8("Grüße,\r\nAnn\r\n"));
    QVERIFY2(!parsed["bare_line_ends"].toBool(), "every line ends in CR LF");
    QVERIFY(parsed["longest_line"].toInt() <= 78);
    QCOMPARE(parsed["defects"].toArray(), QJsonArray());
}

void TestComposer::attachmentsByteForByteAfterTheText()
{
    const QByteArray binary = randomBytes(200 * 1024 + 1);
    const QList<Attachment> list{{"data.bin", writeFile("data.bin", binary)},
                                 {"vanished.txt", m_dir.filePath("vanished.txt")},
                                 {"empty.txt", writeFile("empty.txt", QByteArray())},
                                 {"dot.txt", writeFile("dot.txt", "line\r\n.\r\n..\r\n")}};
    AttachmentCache cache;
    const QJsonObject parsed = parse(composeMessage({"bob@example.org", "Files", "See the files.\r\n", list}, Bulk, cache));
    QCOMPARE(parsed["content_type"].toString(), QStringLiteral("multipart/mixed"));
    const QJsonArray parts = parsed["parts"].toArray();
    QCOMPARE(parts.size(), 4); // the text and three files: the vanished one is left out
    QCOMPARE(parts[0].toObject()["content_type"].toString(), QStringLiteral("text/plain"));
    QCOMPARE(parts[0].toObject()["text"].toString(), QStringLiteral("See the files.\r\n"));
    const QStringList names{"data.bin", "empty.txt", "dot.txt"};
    const QList<QByteArray> contents{binary, QByteArray(), "line\r\n.\r\n..\r\n"};
    for (int i = 0; i < 3; ++i) {
        const QJsonObject part = parts[i + 1].toObject();
        QCOMPARE(part["content_type"].toString(), QStringLiteral("application/octet-stream"));
        QCOMPARE(part["disposition"].toString(), QStringLiteral("attachment"));
        QCOMPARE(part["encoding"].toString(), QStringLiteral("base64"));
        QCOMPARE(part["filename"].toString(), names[i]);
        QVERIFY2(mailfixture::fromBase64(part["data"]) == contents[i], qPrintable(names[i]));
    }
    QVERIFY(!parsed["bare_line_ends"].toBool());
    QCOMPARE(parsed["defects"].toArray(), QJsonArray());
}

void TestComposer::attachmentNames_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("encoded");
    QTest::newRow("ASCII with blanks and a quote") << "my \"best\" file; v2.txt" << false;
    QTest::newRow("accented") << QString::fromUtf8("Übersicht März.pdf") << true;
    QTest::newRow("long Chinese name in several words") << QString::fromUtf8("季度报告与年度总结").repeated(6) + ".xlsx"
                                                         << true;
    QTest::newRow("backslash kept") << "a\\b.txt" << false;
}

void TestComposer::attachmentNames()
{
    QFETCH(QString, name);
    QFETCH(bool, encoded);
    const QString path = writeFile(QStringLiteral("named.bin"), "content");
    AttachmentCache cache;
    const QJsonObject parsed =
        parse(composeMessage({"bob@example.org", "Files", "x\r\n", {{name, path}}}, Bulk, cache));
    const QJsonObject part = parsed["parts"].toArray()[1].toObject();
    QCOMPARE(part["filename"].toString(), name);
    // Mail programs that read only the plain parameter, and no RFC 2231, get the encoded words.
    QCOMPARE(part["raw_filename"].toString().startsWith(QLatin1String("=?utf-8?B?")), encoded);
    QCOMPARE(part["raw_name"].toString().startsWith(QLatin1String("=?utf-8?B?")), encoded);
    QCOMPARE(parsed["defects"].toArray(), QJsonArray());
}

void TestComposer::noTextStartsAHeaderLine()
{
    const QString path = writeFile(QStringLiteral("plain.txt"), "x");
    AttachmentCache cache;
    const ComposeOptions options{"Ann\r\nBcc: eve@example.org", "ann@example.org\r\nX-Evil: 1", "ann@example.org"};
    const QByteArray message = composeMessage(
        {"bob@example.org", "Hi\nX-Evil: 2", "x\r\n", {{"a.txt\r\nContent-Type: text/html\r\nX-Evil: 3", path}}},
        options, cache);
    const QJsonObject parsed = parse(message);
    const QJsonObject headers = parsed["headers"].toObject();
    QVERIFY(!headers.contains("bcc"));
    QVERIFY2(!message.contains("\nX-Evil"), "no setting, subject or file name starts a header line");
    QVERIFY(!message.contains("\nBcc"));
    QVERIFY(!message.contains("\nContent-Type: text/html"));
    QCOMPARE(parsed["subject"].toString(), QStringLiteral("Hi X-Evil: 2"));
    QCOMPARE(parsed["parts"].toArray()[1].toObject()["filename"].toString(),
             QStringLiteral("a.txt  Content-Type: text/html  X-Evil: 3"));
    QCOMPARE(parsed["from"].toArray().first().toArray()[0].toString(), QStringLiteral("Ann  Bcc: eve@example.org"));
}

void TestComposer::attachmentEncodedOnceWhileUnchanged()
{
    const QString path = writeFile(QStringLiteral("report.bin"), randomBytes(5000));
    AttachmentCache cache;
    const auto attachmentOf = [&]() {
        const QJsonObject parsed = parse(composeMessage({"b@example.org", "s", "b\r\n", {{"report.bin", path}}}, Bulk, cache));
        const QJsonArray parts = parsed["parts"].toArray();
        return parts.size() < 2 ? QByteArray("<none>") : mailfixture::fromBase64(parts[1].toObject()["data"]);
    };
    for (int i = 0; i < 3; ++i)
        QCOMPARE(attachmentOf().size(), 5000);
    QCOMPARE(cache.encodings(), 1);

    const QByteArray changed = randomBytes(7000);
    writeFile(QStringLiteral("report.bin"), changed);
    QCOMPARE(attachmentOf(), changed);
    QCOMPARE(cache.encodings(), 2);

    QVERIFY(QFile::remove(path));
    QCOMPARE(attachmentOf(), QByteArray("<none>"));
    // A file that comes back is attached again.
    const QByteArray back = randomBytes(3000);
    writeFile(QStringLiteral("report.bin"), back);
    QCOMPARE(attachmentOf(), back);
    QCOMPARE(cache.encodings(), 3);
}

void TestComposer::unreadableAttachmentStopsTheMessage()
{
    if (::geteuid() == 0)
        QSKIP("root reads every file");
    const QString path = writeFile(QStringLiteral("secret.bin"), "x");
    QVERIFY(QFile::setPermissions(path, QFile::WriteOwner));
    AttachmentCache cache;
    try {
        composeMessage({"b@example.org", "s", "b\r\n", {{"secret.bin", path}}}, Bulk, cache);
        QFAIL("an attachment that exists but cannot be read must not be left out silently");
    } catch (const ComposeError& error) {
        QVERIFY2(error.cause().contains(path), qPrintable(error.cause()));
    }
}

void TestComposer::bodyLineEndsBecomeCrLf()
{
    AttachmentCache cache;
    const QJsonObject parsed = parse(composeMessage({"b@example.org", "s", "a\nb\rc\r\nd", {}}, Bulk, cache));
    QCOMPARE(parsed["parts"].toArray().first().toObject()["text"].toString(), QStringLiteral("a\r\nb\r\nc\r\nd"));
}

void TestComposer::mailClientMessageWithoutSender()
{
    AttachmentCache cache;
    const QJsonObject parsed = parse(composeMessage({"b@example.org", "s", "b\r\n", {}}, ComposeOptions{}, cache));
    const QJsonObject headers = parsed["headers"].toObject();
    QVERIFY(!headers.contains("from"));
    QVERIFY(!headers.contains("reply-to"));
    QCOMPARE(headers["x-mailer"].toArray().first().toString(), QStringLiteral("Tallyweave"));
    QCOMPARE(parsed["to"].toArray().first().toArray()[1].toString(), QStringLiteral("b@example.org"));
}

void TestComposer::bulkMessageReplacesInTheBodyOnly()
{
    BulkJob job;
    job.subject = QStringLiteral("News for <name>");
    job.body = QStringLiteral("Dear <name>,\r\nyour code is <code>.\r\n");
    job.pairs = {{2, "<name>"}, {3, "<code>"}};
    Recipient recipient{4, 10, "bob@example.org", {"Bob", "-"}, {}, {}, {}};
    const MailServerSettings server{"ann@example.org", "mail.example.org", 25, "Ann", "pw", false};
    AttachmentCache cache;
    const QJsonObject parsed = parse(composeBulkMessage(job, recipient, server, cache));
    QCOMPARE(parsed["subject"].toString(), QStringLiteral("News for <name>"));
    QCOMPARE(parsed["parts"].toArray().first().toObject()["text"].toString(), QStringLiteral("Dear Bob,\r\nyour code is -.\r\n"));
    QCOMPARE(parsed["from"].toArray(), (QJsonArray{QJsonArray{"Ann", "ann@example.org"}}));
    QCOMPARE(parsed["to"].toArray().first().toArray()[1].toString(), QStringLiteral("bob@example.org"));
}

QTEST_GUILESS_MAIN(TestComposer)
#include "tst_composer.moc"
