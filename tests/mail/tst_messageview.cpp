// What the preview shows of a message, read back from its bytes: messages written by Python's
// email package (an independent writer) and by the composer, each shown as its reader sees it.
#include "mail/composer.h"
#include "mail/messageview.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// Runs a Python script that prints one message as bytes on stdout.
QByteArray pythonMessage(const QString& script)
{
    QProcess python;
    python.start(QStringLiteral("python3"), {QStringLiteral("-c"), script});
    if (!python.waitForFinished(30000) || python.exitCode() != 0)
        qFatal("python3 failed: %s", python.readAllStandardError().constData());
    return python.readAllStandardOutput();
}

const char* kPrelude = R"py(
import sys
from email.message import EmailMessage
from email.policy import SMTP
m = EmailMessage(policy=SMTP)
)py";

QString files(const QList<MessageView::File>& list)
{
    QStringList out;
    for (const MessageView::File& f : list)
        out << QStringLiteral("%1:%2").arg(f.name).arg(f.size);
    return out.join(QLatin1Char(','));
}

} // namespace

class TestMessageView : public QObject {
    Q_OBJECT
private slots:
    void showsWhatAnIndependentWriterWrote_data();
    void showsWhatAnIndependentWriterWrote();
    void showsTheComposersMessageAsComposed();
    void headerWords_data();
    void headerWords();
};

void TestMessageView::showsWhatAnIndependentWriterWrote_data()
{
    QTest::addColumn<QString>("script"); // after the prelude; ends by writing m
    QTest::addColumn<QString>("from");
    QTest::addColumn<QString>("to");
    QTest::addColumn<QString>("cc");
    QTest::addColumn<QString>("subject");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("html");
    QTest::addColumn<QString>("files");

    QTest::newRow("plain text with a non-ASCII name and subject")
        << R"py(m["From"] = "Zoë Brandt <zoe@example.org>"; m["To"] = "ann@example.org"
m["Subject"] = "Grüße – Rechnung 7"
m.set_content("Liebe Ann,\nanbei.\n")
)py" << "Zoë Brandt <zoe@example.org>" << "ann@example.org" << "" << "Grüße – Rechnung 7"
        << "Liebe Ann,\nanbei.\n" << "" << "";
    QTest::newRow("text and HTML alternatives with two files, Cc of two")
        << R"py(m["From"] = "a@example.org"; m["To"] = "b@example.org"; m["Cc"] = "c@example.org, d@example.org"
m["Subject"] = "Invoice 17"
m.set_content("Dear Bob\n")
m.add_alternative("<p>Dear <b>Bob</b></p>\n", subtype="html")
m.add_attachment(b"x" * 1000, maintype="application", subtype="pdf", filename="invoice 17.pdf")
m.add_attachment(bytes(range(256)), maintype="application", subtype="octet-stream", filename="data.bin")
)py" << "a@example.org" << "b@example.org" << "c@example.org, d@example.org" << "Invoice 17"
        << "Dear Bob\n" << "<p>Dear <b>Bob</b></p>\n" << "invoice 17.pdf:1000,data.bin:256";
    QTest::newRow("Latin-1 text, a Q-encoded subject, a file named in UTF-8")
        << R"py(m["From"] = "a@example.org"; m["To"] = "b@example.org"
m["Subject"] = "=?iso-8859-1?q?Caf=E9_cr=E8me?="
m.set_content("Café crème\n", charset="iso-8859-1", cte="quoted-printable")
m.add_attachment(b"12345", maintype="text", subtype="plain", filename="Übersicht.txt")
)py" << "a@example.org" << "b@example.org" << "" << "Café crème" << "Café crème\n" << ""
        << "Übersicht.txt:5";
}

void TestMessageView::showsWhatAnIndependentWriterWrote()
{
    QFETCH(QString, script);
    const QByteArray bytes = pythonMessage(QString::fromUtf8(kPrelude) + script
                                           + QStringLiteral("sys.stdout.buffer.write(m.as_bytes())\n"));
    const MessageView view = viewMessage(bytes);
    QVERIFY(view.parsed);
    QTEST(view.from, "from");
    QTEST(view.to, "to");
    QTEST(view.cc, "cc");
    QTEST(view.subject, "subject");
    QTEST(view.text, "text");
    QTEST(view.html, "html");
    QTEST(files(view.files), "files");
}

void TestMessageView::showsTheComposersMessageAsComposed()
{
    QTemporaryDir dir;
    QFile file(dir.filePath(QStringLiteral("Preisliste 2027.xlsx")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(70001, '\x7f'));
    file.close();
    MessageContent content;
    content.to = QStringLiteral("erin@example.org");
    // Long enough for several encoded words, with characters of every width.
    content.subject = QStringLiteral("Ihre Rechnung für Dezember – 請查收附件 – 🎄 ") .repeated(3).trimmed();
    content.body = QStringLiteral("Hallo Erin,\r\nanbei die Preise.\r\n");
    content.attachments = {{QStringLiteral("Preisliste 2027.xlsx"), file.fileName()}};
    ComposeOptions options;
    options.fromName = QStringLiteral("Büro");
    options.fromAddress = QStringLiteral("office@example.org");
    AttachmentCache cache;
    const MessageView view = viewMessage(composeMessage(content, options, cache));
    QVERIFY(view.parsed);
    QCOMPARE(view.subject, content.subject);
    QCOMPARE(view.to, content.to);
    QVERIFY2(view.from.contains(QStringLiteral("Büro")) && view.from.contains(QLatin1String("office@example.org")),
             qPrintable(view.from));
    QCOMPARE(view.text, QStringLiteral("Hallo Erin,\nanbei die Preise.\n"));
    QCOMPARE(files(view.files), QStringLiteral("Preisliste 2027.xlsx:70001"));
}

void TestMessageView::headerWords_data()
{
    QTest::addColumn<QByteArray>("raw");
    QTest::addColumn<QString>("text");
    QTest::newRow("plain words keep their blanks") << QByteArray("Invoice  17 for you") << "Invoice  17 for you";
    QTest::newRow("adjacent encoded words join without the blank")
        << QByteArray("=?utf-8?B?R3LDvA==?= =?utf-8?B?w59l?=") << "Grüße";
    QTest::newRow("a padded word followed by another is not cut")
        << QByteArray("=?utf-8?B?YQ==?=\r\n =?utf-8?B?Yg==?=") << "ab";
    QTest::newRow("an encoded word between plain words keeps the blanks")
        << QByteArray("Re: =?utf-8?Q?caf=C3=A9?= now") << "Re: café now";
    QTest::newRow("underscore in Q is a blank") << QByteArray("=?ISO-8859-1?Q?a_b=E9?=") << "a bé";
    QTest::newRow("a broken word stays as written") << QByteArray("=?utf-8?B?***?=") << "=?utf-8?B?***?=";
    QTest::newRow("an unknown charset stays as written")
        << QByteArray("=?x-nothing?B?YQ==?=") << "=?x-nothing?B?YQ==?=";
}

void TestMessageView::headerWords()
{
    QFETCH(QByteArray, raw);
    QTEST(decodeHeaderText(raw), "text");
}

QTEST_GUILESS_MAIN(TestMessageView)
#include "tst_messageview.moc"
