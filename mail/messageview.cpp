#include "mail/messageview.h"

#include <QRegularExpression>
#include <QStringDecoder>

#include "mail/gmimeobject.h"

#include <cctype>
#include <memory>
#include <optional>

namespace {

QByteArray qEncodedBytes(const QByteArray& text)
{
    QByteArray bytes;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '_') {
            bytes += ' ';
        } else if (c == '=' && i + 2 < text.size() && std::isxdigit(uchar(text[i + 1])) && std::isxdigit(uchar(text[i + 2]))) {
            bytes += char(QByteArray::fromHex(text.mid(i + 1, 2)).at(0));
            i += 2;
        } else {
            bytes += c;
        }
    }
    return bytes;
}

// The text of one encoded word, or nothing when it is none or cannot be decoded.
std::optional<QString> decodeWord(const QByteArray& token)
{
    static const QRegularExpression word(QStringLiteral("\\A=\\?([^?*]+)(?:\\*[^?]*)?\\?([BbQq])\\?([^?]*)\\?=\\z"));
    const QRegularExpressionMatch m = word.match(QString::fromLatin1(token));
    if (!m.hasMatch())
        return std::nullopt;
    QByteArray bytes;
    const QByteArray payload = m.captured(3).toLatin1();
    if (m.captured(2).compare(QLatin1String("B"), Qt::CaseInsensitive) == 0) {
        auto decoded = QByteArray::fromBase64Encoding(payload, QByteArray::AbortOnBase64DecodingErrors);
        if (!decoded)
            return std::nullopt;
        bytes = *decoded;
    } else {
        bytes = qEncodedBytes(payload);
    }
    QStringDecoder decoder(m.captured(1).toLatin1().constData(), QStringDecoder::Flag::Stateless);
    if (!decoder.isValid())
        return std::nullopt;
    return decoder.decode(bytes);
}

QByteArray rawHeader(GMimeObject* object, const char* name)
{
    GMimeHeader* header = g_mime_header_list_get_header(g_mime_object_get_header_list(object), name);
    return header ? QByteArray(g_mime_header_get_raw_value(header)) : QByteArray();
}

QByteArray decodedContent(GMimePart* part)
{
    GMimeDataWrapper* wrapper = g_mime_part_get_content(part);
    if (!wrapper)
        return {};
    GPtr<GMimeStream> out(g_mime_stream_mem_new());
    g_mime_data_wrapper_write_to_stream(wrapper, out.get());
    GByteArray* bytes = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(out.get()));
    return QByteArray(reinterpret_cast<const char*>(bytes->data), qsizetype(bytes->len));
}

QString partText(GMimePart* part)
{
    const QByteArray bytes = decodedContent(part);
    const char* charset = g_mime_object_get_content_type_parameter(GMIME_OBJECT(part), "charset");
    QStringDecoder decoder(charset ? charset : "utf-8");
    QString text = decoder.isValid() ? decoder.decode(bytes) : QString::fromUtf8(bytes);
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    return text;
}

void visit(GMimeObject* object, MessageView& view)
{
    if (GMIME_IS_MULTIPART(object)) {
        GMimeMultipart* multipart = GMIME_MULTIPART(object);
        for (int i = 0; i < g_mime_multipart_get_count(multipart); ++i)
            visit(g_mime_multipart_get_part(multipart, i), view);
        return;
    }
    if (!GMIME_IS_PART(object))
        return;
    GMimePart* part = GMIME_PART(object);
    GMimeContentType* type = g_mime_object_get_content_type(object);
    const bool attachment = g_mime_part_is_attachment(part) || g_mime_part_get_filename(part);
    if (!attachment && g_mime_content_type_is_type(type, "text", "plain") && view.text.isEmpty()) {
        view.text = partText(part);
    } else if (!attachment && g_mime_content_type_is_type(type, "text", "html") && view.html.isEmpty()) {
        view.html = partText(part);
    } else {
        const char* name = g_mime_part_get_filename(part);
        view.files.append({name ? QString::fromUtf8(name) : QString(), decodedContent(part).size()});
    }
}

} // namespace

QString decodeHeaderText(const QByteArray& raw)
{
    QByteArray unfolded = raw;
    unfolded.replace("\r\n", "").replace('\n', "").replace('\t', ' ');
    QString text;
    bool lastEncoded = false;
    QString blanks; // between the previous token and this one
    const QList<QByteArray> tokens = unfolded.split(' ');
    for (qsizetype i = 0; i < tokens.size(); ++i) {
        if (i > 0)
            blanks += QLatin1Char(' ');
        const QByteArray& token = tokens[i];
        if (token.isEmpty())
            continue;
        const std::optional<QString> word = decodeWord(token);
        if (!text.isEmpty() && !(word && lastEncoded))
            text += blanks;
        text += word ? *word : QString::fromUtf8(token);
        lastEncoded = word.has_value();
        blanks.clear();
    }
    return text;
}

MessageView viewMessage(const QByteArray& message)
{
    initGMime();
    MessageView view;
    GPtr<GMimeStream> stream(g_mime_stream_mem_new_with_buffer(message.constData(), size_t(message.size())));
    GPtr<GMimeParser> parser(g_mime_parser_new_with_stream(stream.get()));
    GPtr<GMimeMessage> parsed(g_mime_parser_construct_message(parser.get(), nullptr));
    if (!parsed)
        return view;
    view.parsed = true;
    GMimeObject* top = GMIME_OBJECT(parsed.get());
    view.from = decodeHeaderText(rawHeader(top, "From"));
    view.to = decodeHeaderText(rawHeader(top, "To"));
    view.cc = decodeHeaderText(rawHeader(top, "Cc"));
    view.bcc = decodeHeaderText(rawHeader(top, "Bcc"));
    view.subject = decodeHeaderText(rawHeader(top, "Subject"));
    if (GMimeObject* body = g_mime_message_get_mime_part(parsed.get()))
        visit(body, view);
    return view;
}
