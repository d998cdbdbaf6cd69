// The message composer on arbitrary texts: subject, body, attachment name and content, sender,
// reply address, recipient and mailer from the input. The message must parse again, carry exactly
// the headers and parts the composer writes (no text of the input starts a header line or a part
// of its own), and give back the subject, body, file name and file as they went in.
#include "fuzz/fuzzsupport.h"
#include "mail/address.h"
#include "mail/composer.h"
#include "platform/blanks.h"

#undef signals
#include <gmime/gmime.h>

#include <QRegularExpression>
#include <QSet>
#include <QStringDecoder>

namespace {

template <class T> struct Unref {
    void operator()(T* object) const { g_object_unref(object); }
};
template <class T> using Owned = std::unique_ptr<T, Unref<T>>;

// Compared with runs of blanks made one: unfolding may keep or drop the space at a fold.
QString blanksJoined(const QString& text)
{
    return text.simplified();
}

// A header value as a reader that decodes every encoded word on its own reads it: each word must
// hold whole UTF-8 characters; blanks between encoded words do not count.
QString decodedHeader(const QByteArray& raw)
{
    static const QRegularExpression word(QStringLiteral("\\A=\\?utf-8\\?B\\?([A-Za-z0-9+/=]*)\\?=\\z"));
    QByteArray unfolded = raw;
    unfolded.replace('\r', "").replace('\n', "").replace('\t', ' ');
    QString text;
    bool lastEncoded = false;
    for (const QByteArray& token : unfolded.split(' ')) {
        if (token.isEmpty())
            continue;
        const QRegularExpressionMatch match = word.match(QString::fromLatin1(token));
        if (match.hasMatch()) {
            const auto bytes = QByteArray::fromBase64Encoding(match.captured(1).toLatin1(),
                                                              QByteArray::AbortOnBase64DecodingErrors);
            fuzz::check(bool(bytes), "an encoded word that is no base64", QString::fromLatin1(token));
            QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
            const QString part = utf8.decode(*bytes);
            fuzz::check(!utf8.hasError(), "an encoded word that splits a character", QString::fromLatin1(token));
            if (!text.isEmpty() && !lastEncoded)
                text += QLatin1Char(' ');
            text += part;
            lastEncoded = true;
        } else {
            if (!text.isEmpty())
                text += QLatin1Char(' ');
            text += QString::fromUtf8(token);
            lastEncoded = false;
        }
    }
    return text;
}

QByteArray rawHeader(GMimeObject* object, const char* name)
{
    GMimeHeader* header = g_mime_header_list_get_header(g_mime_object_get_header_list(object), name);
    return header ? QByteArray(g_mime_header_get_raw_value(header)) : QByteArray();
}

QByteArray decodedContent(GMimePart* part)
{
    GMimeDataWrapper* wrapper = g_mime_part_get_content(part);
    fuzz::check(wrapper != nullptr, "a part without content");
    Owned<GMimeStream> out(g_mime_stream_mem_new());
    g_mime_data_wrapper_write_to_stream(wrapper, out.get());
    GByteArray* bytes = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(out.get()));
    return QByteArray(reinterpret_cast<const char*>(bytes->data), qsizetype(bytes->len));
}

void checkHeaders(GMimeObject* object, const QSet<QByteArray>& allowed, const char* where)
{
    GMimeHeaderList* headers = g_mime_object_get_header_list(object);
    QSet<QByteArray> seen;
    for (int i = 0; i < g_mime_header_list_get_count(headers); ++i) {
        const QByteArray name = QByteArray(g_mime_header_get_name(g_mime_header_list_get_header_at(headers, i)))
                                    .toLower();
        fuzz::check(allowed.contains(name), "a header the composer does not write",
                    QString::fromLatin1(where) + QLatin1String(": ") + QString::fromLatin1(name));
        fuzz::check(!seen.contains(name), "a header written twice",
                    QString::fromLatin1(where) + QLatin1String(": ") + QString::fromLatin1(name));
        seen.insert(name);
    }
}

QString expectedBody(const QString& body)
{
    QString text = body;
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    text.replace(QLatin1Char('\n'), QLatin1String("\r\n"));
    return text;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    g_mime_init();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // subject NUL file name NUL file content NUL sender name NUL sender address NUL reply address
    // NUL recipient NUL mailer NUL body
    const QList<QByteArray> in = fuzz::fields(data, size, 9);
    const QString fileName = QString::fromUtf8(in[1]);
    const QString attachmentPath = fuzz::writeInput(QStringLiteral("attachment.bin"),
                                                    reinterpret_cast<const uint8_t*>(in[2].constData()),
                                                    size_t(in[2].size()));
    MessageContent content;
    content.subject = QString::fromUtf8(in[0]);
    content.to = QString::fromUtf8(in[6]);
    content.body = QString::fromUtf8(in[8]);
    const bool withFile = !in[2].isEmpty();
    if (withFile)
        content.attachments.append(Attachment{fileName, attachmentPath});
    ComposeOptions options;
    options.fromName = QString::fromUtf8(in[3]);
    options.fromAddress = QString::fromUtf8(in[4]);
    options.replyTo = QString::fromUtf8(in[5]);
    options.mailer = QString::fromUtf8(in[7]);

    AttachmentCache cache;
    const QByteArray message =
        composeMessage(content, options, cache, QDateTime(QDate(2024, 5, 1), QTime(12, 0), Qt::UTC));

    if (qEnvironmentVariableIsSet("TW_FUZZ_DUMP"))
        std::fwrite(message.constData(), 1, size_t(message.size()), stderr);

    for (qsizetype i = 0; i < message.size(); ++i) {
        if (message[i] == '\n')
            fuzz::check(i > 0 && message[i - 1] == '\r', "a line ended by LF alone", QString::number(i));
        if (message[i] == '\r')
            fuzz::check(i + 1 < message.size() && message[i + 1] == '\n', "a CR without LF", QString::number(i));
    }
    const qsizetype headerEnd = message.indexOf("\r\n\r\n");
    fuzz::check(headerEnd > 0, "no end of the header");
    // Addresses and the sender's name come from settings and cells as they stand; a mailbox longer
    // than a line cannot be folded, so only texts the composer folds itself are held to the limit.
    const bool foldable = std::max({in[3].size(), in[4].size(), in[5].size(), in[6].size()}) < 200;
    for (const QByteArray& line : message.left(headerEnd).split('\n'))
        if (foldable)
            fuzz::check(line.size() <= 999, "a header line longer than 998 characters", QString::number(line.size()));

    Owned<GMimeStream> stream(g_mime_stream_mem_new_with_buffer(message.constData(), size_t(message.size())));
    Owned<GMimeParser> parser(g_mime_parser_new_with_stream(stream.get()));
    Owned<GMimeMessage> parsed(g_mime_parser_construct_message(parser.get(), nullptr));
    fuzz::check(parsed != nullptr, "the message does not parse");

    checkHeaders(GMIME_OBJECT(parsed.get()),
                 {"date", "message-id", "mime-version", "x-mailer", "from", "reply-to", "to", "subject",
                  "content-type", "content-transfer-encoding"},
                 "message");
    // GMime itself joins adjacent encoded words before decoding and loses what follows a padded one,
    // so the subject is read word by word, as most readers do.
    const QString subject = decodedHeader(rawHeader(GMIME_OBJECT(parsed.get()), "Subject"));
    fuzz::check(blanksJoined(subject) == blanksJoined(headerSafe(trimBlanks(content.subject))), "the subject changed",
                subject + QLatin1String("\ninstead of\n") + headerSafe(trimBlanks(content.subject)));
    fuzz::check(blanksJoined(decodedHeader(rawHeader(GMIME_OBJECT(parsed.get()), "X-Mailer")))
                    == blanksJoined(headerSafe(options.mailer)),
                "the mailer changed");
    // A usable address stays one address (GMime refuses some the rule lets through, such as
    // "a..b@example.org": those it reads as none). Compared in the ASCII form GMime keeps beside
    // the decoded international domain name.
    if (isUsableAddress(content.to)) {
        InternetAddressList* to = g_mime_message_get_to(parsed.get());
        fuzz::check(internet_address_list_length(to) <= 1, "the recipient became several addresses");
        if (internet_address_list_length(to) == 1) {
            InternetAddress* mailbox = internet_address_list_get_address(to, 0);
            fuzz::check(INTERNET_ADDRESS_IS_MAILBOX(mailbox)
                            && QString::fromUtf8(internet_address_mailbox_get_idn_addr(INTERNET_ADDRESS_MAILBOX(mailbox)))
                                   == content.to,
                        "the recipient changed");
        }
    }

    GMimeObject* body = g_mime_message_get_mime_part(parsed.get());
    fuzz::check(body != nullptr, "no body");
    GMimeObject* textPart = body;
    GMimeObject* filePart = nullptr;
    const QSet<QByteArray> partHeaders{"content-type", "content-transfer-encoding", "content-disposition"};
    if (withFile) {
        fuzz::check(GMIME_IS_MULTIPART(body), "the attachment is missing");
        GMimeMultipart* mixed = GMIME_MULTIPART(body);
        fuzz::check(g_mime_multipart_get_count(mixed) == 2, "parts other than the text and the file",
                    QString::number(g_mime_multipart_get_count(mixed)));
        textPart = g_mime_multipart_get_part(mixed, 0);
        filePart = g_mime_multipart_get_part(mixed, 1);
    }
    fuzz::check(GMIME_IS_TEXT_PART(textPart), "the text part is not text");
    checkHeaders(textPart, partHeaders, "text part");
    fuzz::check(decodedContent(GMIME_PART(textPart)) == expectedBody(content.body).toUtf8(), "the body changed");
    if (filePart) {
        fuzz::check(GMIME_IS_PART(filePart) && !GMIME_IS_MULTIPART(filePart), "the file part is no part");
        checkHeaders(filePart, partHeaders, "file part");
        fuzz::check(decodedContent(GMIME_PART(filePart)) == in[2], "the attached file changed");
        // The file name as written in the disposition: filename="..." with its encoded words.
        const QByteArray disposition = rawHeader(filePart, "Content-Disposition");
        const qsizetype open = disposition.indexOf("filename=\"");
        fuzz::check(open >= 0, "no file name");
        QByteArray quoted;
        qsizetype at = open + 10;
        for (; at < disposition.size() && disposition[at] != '"'; ++at)
            quoted += disposition[at] == '\\' && at + 1 < disposition.size() ? disposition[++at] : disposition[at];
        fuzz::check(at < disposition.size(), "the file name is not closed");
        const QString sent = headerSafe(fileName.isEmpty() ? QStringLiteral("attachment.bin") : fileName);
        const QString name = decodedHeader(quoted);
        fuzz::check(blanksJoined(name) == blanksJoined(sent), "the file name changed", name);
    }
    return 0;
}
