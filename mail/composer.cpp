#include "mail/composer.h"

#include "codec/mimebase64.h"
#include "mail/address.h"
#include "mail/htmltext.h"
#include "platform/blanks.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <QSet>
#include <QSysInfo>

#include "mail/gmimeobject.h"

#include <mutex>

#include <pwd.h>
#include <unistd.h>

void initGMime()
{
    static std::once_flag once;
    std::call_once(once, [] { g_mime_init(); });
}

namespace {

struct FormatOptionsFree {
    void operator()(GMimeFormatOptions* options) const { g_mime_format_options_free(options); }
};

constexpr int MaxLine = 76;        // a line that holds encoded words
constexpr int WordOverhead = 12;   // "=?utf-8?B?" and "?="
constexpr int FoldWidth = 78;      // plain header text is folded at blanks beyond this
constexpr int LongestPlainWord = 900; // below the 998 of a header line, with room for the name

bool needsEncoding(const QString& text)
{
    for (const QChar c : text)
        if (c.unicode() > 126)
            return true;
    // An ASCII text that looks like an encoded word would be decoded by the reader.
    if (text.contains(QLatin1String("=?")))
        return true;
    for (const QStringView word : QStringView(text).split(u' '))
        if (word.size() > LongestPlainWord)
            return true;
    return false;
}

// Whole characters per word: as many UTF-8 sequences as the line's room allows, at least one.
QList<QByteArray> encodedWords(const QString& text, int firstRoom, int laterRoom)
{
    const auto bytesFor = [](int room) { return std::max(2, (room - WordOverhead) / 4) * 3; };
    QList<QByteArray> words;
    QByteArray chunk;
    int limit = bytesFor(firstRoom);
    const auto flush = [&] {
        words.append("=?utf-8?B?" + Base64Encode(chunk) + "?=");
        chunk.clear();
        limit = bytesFor(laterRoom);
    };
    const QList<uint> points = text.toUcs4();
    for (const uint point : points) {
        const char32_t one = char32_t(point);
        const QByteArray bytes = QString::fromUcs4(&one, 1).toUtf8();
        if (!chunk.isEmpty() && chunk.size() + bytes.size() > limit)
            flush();
        chunk += bytes;
    }
    if (!chunk.isEmpty() || words.isEmpty())
        flush();
    return words;
}

QByteArray foldedPlain(const QString& text, int used)
{
    QByteArray out;
    int column = used;
    const QList<QStringView> words = QStringView(text).split(u' ');
    for (qsizetype i = 0; i < words.size(); ++i) {
        const QByteArray word = words[i].toLatin1();
        if (i > 0 && !word.isEmpty() && column + 1 + word.size() > FoldWidth && column > 1) {
            out += '\n';
            column = 0;
        }
        out += ' ';
        out += word;
        column += 1 + int(word.size());
    }
    return out;
}

// A parameter value: quoted text when plain, else encoded words inside the quotes, one per line.
QByteArray parameterValue(const QString& text, int used)
{
    if (!needsEncoding(text)) {
        QByteArray quoted = text.toLatin1();
        quoted.replace('\\', "\\\\").replace('"', "\\\"");
        return '"' + quoted + '"';
    }
    // Room for the closing quote on the last line.
    return '"' + encodedWords(text, MaxLine - used - 2, MaxLine - 2).join("\n ") + '"';
}

void setRawHeader(GMimeObject* object, const char* name, const QByteArray& rawValue)
{
    GMimeHeaderList* headers = g_mime_object_get_header_list(object);
    GMimeHeader* header = g_mime_header_list_get_header(headers, name);
    if (!header) {
        g_mime_header_list_append(headers, name, "", nullptr);
        header = g_mime_header_list_get_header(headers, name);
    }
    g_mime_header_set_raw_value(header, rawValue.constData());
}

void addMailbox(GMimeMessage* message, GMimeAddressType type, const QString& name, const QString& address)
{
    InternetAddressList* list = g_mime_message_get_addresses(message, type);
    GPtr<InternetAddress> mailbox(internet_address_mailbox_new(headerSafe(name).toUtf8().constData(),
                                                               headerSafe(address).toUtf8().constData()));
    internet_address_set_charset(mailbox.get(), "utf-8");
    internet_address_list_add(list, mailbox.get());
}

// The domain of the sender's address when it is a plain host name, else none (GMime then takes
// the local host's).
QByteArray messageIdDomain(const QString& address)
{
    const QString domain = address.section(QLatin1Char('@'), -1);
    if (!address.contains(QLatin1Char('@')) || domain.isEmpty())
        return {};
    for (const QChar c : domain)
        if (!(c.isLetterOrNumber() && c.unicode() < 128) && c != u'.' && c != u'-')
            return {};
    return domain.toLatin1();
}

GPtr<GMimeDataWrapper> wrapperOver(const QByteArray& bytes, GMimeContentEncoding encoding)
{
    GPtr<GMimeStream> stream(g_mime_stream_mem_new_with_buffer(bytes.constData(), size_t(bytes.size())));
    return GPtr<GMimeDataWrapper>(g_mime_data_wrapper_new_with_stream(stream.get(), encoding));
}

// Base64 text, headers made safe and CR LF line ends leave no unit separator (0x1F) anywhere else
// in a written message.
QByteArray placeholder(qsizetype index)
{
    return '\x1f' + QByteArray::number(index) + "\x1f\n";
}

QByteArray withAttachments(QByteArrayView written, const QList<std::shared_ptr<const QByteArray>>& files)
{
    qsizetype size = written.size();
    for (const auto& file : files)
        size += file->size();
    QByteArray message;
    message.reserve(size);
    qsizetype from = 0;
    for (qsizetype i = 0; i < files.size(); ++i) {
        const QByteArray mark = placeholder(i).replace("\n", "\r\n");
        const qsizetype at = written.indexOf(mark, from);
        if (at < 0)
            break;
        message.append(written.sliced(from, at - from));
        message.append(*files[i]);
        from = at + mark.size();
    }
    message.append(written.sliced(from));
    return message;
}

QString canonicalLineEnds(QString text)
{
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    text.replace(QLatin1Char('\n'), QLatin1String("\r\n"));
    return text;
}

// A text part of the subtype ("plain", "html"): the text in UTF-8 with CR LF line ends, base64.
GPtr<GMimeObject> textPart(const char* subtype, const QString& text)
{
    const QByteArray bytes = canonicalLineEnds(text).toUtf8();
    GPtr<GMimeTextPart> part(g_mime_text_part_new_with_subtype(subtype));
    GPtr<GMimeDataWrapper> data = wrapperOver(bytes, GMIME_CONTENT_ENCODING_DEFAULT);
    g_mime_part_set_content(GMIME_PART(part.get()), data.get());
    g_mime_object_set_content_type_parameter(GMIME_OBJECT(part.get()), "charset", "utf-8");
    g_mime_part_set_content_encoding(GMIME_PART(part.get()), GMIME_CONTENT_ENCODING_BASE64);
    return GPtr<GMimeObject>(GMIME_OBJECT(part.release()));
}

// An attachment's part, holding the placeholder of the index-th encoded file.
GPtr<GMimePart> attachmentPart(const Attachment& attachment, qsizetype index)
{
    GPtr<GMimePart> part(g_mime_part_new_with_type("application", "octet-stream"));
    // GMime writes a placeholder line; the encoded file goes in its place afterwards, so that
    // megabytes of base64 are copied once per message instead of filtered on every pass.
    GPtr<GMimeDataWrapper> data = wrapperOver(placeholder(index), GMIME_CONTENT_ENCODING_BASE64);
    g_mime_part_set_content(part.get(), data.get());
    g_mime_part_set_content_encoding(part.get(), GMIME_CONTENT_ENCODING_BASE64);
    g_mime_object_set_disposition(GMIME_OBJECT(part.get()), "attachment");
    const QString name =
        headerSafe(attachment.name.isEmpty() ? QFileInfo(attachment.path).fileName() : attachment.name);
    setRawHeader(GMIME_OBJECT(part.get()), "Content-Type",
                 " application/octet-stream;\n name=" + parameterValue(name, 6) + '\n');
    setRawHeader(GMIME_OBJECT(part.get()), "Content-Disposition",
                 " attachment;\n filename=" + parameterValue(name, 10) + '\n');
    return part;
}

} // namespace

struct AttachmentCache::State {
    struct Entry {
        qint64 size = -1;
        QDateTime modified;
        std::shared_ptr<const QByteArray> base64;
    };
    mutable std::mutex mutex;
    QHash<QString, Entry> entries;
    int encodings = 0;
};

AttachmentCache::AttachmentCache() : m_state(std::make_unique<State>()) {}
AttachmentCache::~AttachmentCache() = default;

int AttachmentCache::encodings() const
{
    std::lock_guard lock(m_state->mutex);
    return m_state->encodings;
}

std::shared_ptr<const QByteArray> AttachmentCache::encoded(const QString& path)
{
    const QFileInfo info(path);
    if (!info.exists())
        return nullptr;
    if (!info.isFile())
        throw ComposeError(QStringLiteral("the attachment %1 is not a file").arg(path));
    const QString key = info.absoluteFilePath();
    {
        std::lock_guard lock(m_state->mutex);
        const auto it = m_state->entries.constFind(key);
        if (it != m_state->entries.cend() && it->size == info.size() && it->modified == info.lastModified())
            return it->base64;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw ComposeError(QStringLiteral("the attachment %1 cannot be read: %2").arg(path, file.errorString()));
    const QByteArray content = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw ComposeError(QStringLiteral("the attachment %1 cannot be read: %2").arg(path, file.errorString()));
    const QByteArray flat = Base64Encode(content);
    auto lines = std::make_shared<QByteArray>();
    lines->reserve(flat.size() + 2 * (flat.size() / 76 + 1));
    for (qsizetype at = 0; at < flat.size(); at += 76) {
        lines->append(flat.constData() + at, std::min<qsizetype>(76, flat.size() - at));
        lines->append("\r\n", 2);
    }
    std::lock_guard lock(m_state->mutex);
    ++m_state->encodings;
    m_state->entries.insert(key, State::Entry{content.size(), info.lastModified(), lines});
    return lines;
}

QString replaceLabels(QString body, const QList<LabelPair>& pairs, const QStringList& values)
{
    for (qsizetype i = 0; i < pairs.size(); ++i) {
        const QString& label = pairs[i].label;
        if (label.isEmpty())
            continue;
        const QString value = i < values.size() ? values[i] : QStringLiteral("-");
        QString result;
        qsizetype from = 0;
        for (qsizetype at = body.indexOf(label, 0, Qt::CaseSensitive); at >= 0;
             at = body.indexOf(label, from, Qt::CaseSensitive)) {
            result += QStringView(body).mid(from, at - from);
            result += value;
            from = at + label.size();
        }
        if (from == 0)
            continue;
        result += QStringView(body).mid(from);
        body = std::move(result);
    }
    return body;
}

QString headerSafe(const QString& text)
{
    QString safe = text;
    for (QChar& c : safe)
        if ((c.unicode() < 32 && c != u'\t') || c.unicode() == 127)
            c = u' ';
    return safe;
}

QByteArray headerTextValue(const QString& text, int used)
{
    const QString safe = headerSafe(text);
    if (!needsEncoding(safe))
        return foldedPlain(safe, used) + '\n';
    return ' ' + encodedWords(safe, MaxLine - used - 1, MaxLine - 1).join("\n ") + '\n';
}

QByteArray composeMessage(const MessageContent& content, const ComposeOptions& options, AttachmentCache& cache,
                          const QDateTime& date)
{
    for (const auto& [list, header] : {std::pair{&content.cc, "Cc"}, std::pair{&content.bcc, "Bcc"}})
        for (const QString& address : *list)
            if (!isUsableAddress(address))
                throw ComposeError(QStringLiteral("the %1 address \"%2\" cannot be used")
                                       .arg(QLatin1String(header), headerSafe(address)),
                                   ComposeError::Source::Row);
    initGMime();
    GPtr<GMimeMessage> message(g_mime_message_new(TRUE));
    GMimeObject* top = GMIME_OBJECT(message.get());

    GDateTime* when = g_date_time_new_from_unix_local(date.toSecsSinceEpoch());
    g_mime_message_set_date(message.get(), when);
    g_date_time_unref(when);
    const QByteArray domain = messageIdDomain(options.fromAddress);
    char* id = g_mime_utils_generate_message_id(domain.isEmpty() ? nullptr : domain.constData());
    g_mime_message_set_message_id(message.get(), id);
    g_free(id);
    g_mime_object_set_header(top, "MIME-Version", "1.0", nullptr);
    setRawHeader(top, "X-Mailer", headerTextValue(options.mailer, 10));
    if (!options.fromAddress.isEmpty())
        addMailbox(message.get(), GMIME_ADDRESS_TYPE_FROM, options.fromName, options.fromAddress);
    if (!options.replyTo.isEmpty())
        addMailbox(message.get(), GMIME_ADDRESS_TYPE_REPLY_TO, QString(), options.replyTo);
    if (!content.to.isEmpty())
        addMailbox(message.get(), GMIME_ADDRESS_TYPE_TO, QString(), content.to);
    for (const QString& address : content.cc)
        addMailbox(message.get(), GMIME_ADDRESS_TYPE_CC, QString(), address);
    if (options.bccHeader)
        for (const QString& address : content.bcc)
            addMailbox(message.get(), GMIME_ADDRESS_TYPE_BCC, QString(), address);
    setRawHeader(top, "Subject", headerTextValue(trimBlanks(content.subject), 9));

    GPtr<GMimeObject> body;
    if (content.html) {
        GPtr<GMimeMultipart> alternative(g_mime_multipart_new_with_subtype("alternative"));
        g_mime_multipart_set_boundary(alternative.get(), nullptr);
        g_mime_multipart_add(alternative.get(), textPart("plain", htmlToText(content.body)).get());
        g_mime_multipart_add(alternative.get(), textPart("html", content.body).get());
        body.reset(GMIME_OBJECT(alternative.release()));
    } else {
        body = textPart("plain", content.body);
    }

    // The encoded files stay alive (and unchanged) until they are in the message.
    QList<std::shared_ptr<const QByteArray>> held;
    GPtr<GMimeMultipart> mixed;
    const auto attach = [&](const Attachment& attachment, std::shared_ptr<const QByteArray> encoded) {
        held.append(std::move(encoded));
        if (!mixed) {
            mixed.reset(g_mime_multipart_new_with_subtype("mixed"));
            g_mime_multipart_set_boundary(mixed.get(), nullptr);
            g_mime_multipart_add(mixed.get(), body.get());
        }
        g_mime_multipart_add(mixed.get(), GMIME_OBJECT(attachmentPart(attachment, held.size() - 1).get()));
    };
    for (const Attachment& attachment : content.attachments) {
        std::shared_ptr<const QByteArray> encoded = cache.encoded(attachment.path);
        if (encoded) // else gone since it was listed: the message goes without it
            attach(attachment, std::move(encoded));
    }
    for (const Attachment& attachment : content.ownAttachments) {
        std::shared_ptr<const QByteArray> encoded;
        try {
            encoded = cache.encoded(attachment.path);
        } catch (const ComposeError& error) {
            throw ComposeError(error.cause(), ComposeError::Source::Row);
        }
        if (!encoded)
            throw ComposeError(QStringLiteral("the attachment %1 does not exist").arg(attachment.path),
                               ComposeError::Source::Row);
        attach(attachment, std::move(encoded));
    }
    g_mime_message_set_mime_part(message.get(), mixed ? GMIME_OBJECT(mixed.get()) : body.get());

    std::unique_ptr<GMimeFormatOptions, FormatOptionsFree> format(g_mime_format_options_new());
    g_mime_format_options_set_newline_format(format.get(), GMIME_NEWLINE_FORMAT_DOS);
    GPtr<GMimeStream> out(g_mime_stream_mem_new());
    g_mime_object_write_to_stream(top, format.get(), out.get());
    GByteArray* bytes = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(out.get()));
    const QByteArrayView written(reinterpret_cast<const char*>(bytes->data), qsizetype(bytes->len));
    return withAttachments(written, held);
}

MessageContent rowMessageContent(const MailText& text, const Recipient& recipient)
{
    MessageContent content;
    content.to = recipient.address;
    content.html = text.personal.html;
    content.subject =
        text.personal.subjectLabels ? replaceLabels(text.subject, text.pairs, recipient.values) : text.subject;
    if (content.html) {
        QStringList escaped;
        for (const QString& value : recipient.values)
            escaped.append(htmlEscaped(value));
        content.body = replaceLabels(text.body, text.pairs, escaped);
    } else {
        content.body = replaceLabels(text.body, text.pairs, recipient.values);
    }
    content.attachments = text.attachments;
    content.ownAttachments = recipient.attachments;
    content.cc = recipient.cc;
    content.bcc = recipient.bcc;
    return content;
}

QStringList envelopeRecipients(const MessageContent& content)
{
    QStringList envelope;
    QSet<QString> seen;
    for (const QStringList& list : {QStringList{content.to}, content.cc, content.bcc})
        for (const QString& address : list)
            if (!address.isEmpty() && !seen.contains(address.toLower())) {
                seen.insert(address.toLower());
                envelope.append(address);
            }
    return envelope;
}

QByteArray composeBulkMessage(const BulkJob& job, const Recipient& recipient, const MailServerSettings& server,
                              AttachmentCache& cache, QStringList* envelope)
{
    ComposeOptions options;
    options.fromName = server.account;
    options.fromAddress = server.email;
    options.replyTo = server.email;
    const MessageContent content =
        rowMessageContent({job.subject, job.body, job.pairs, job.attachments, job.personal}, recipient);
    if (envelope)
        *envelope = envelopeRecipients(content);
    return composeMessage(content, options, cache);
}

QStringList addressesOfCell(const QString& cell)
{
    static const QRegularExpression separators(QStringLiteral("[;,]"));
    QStringList addresses;
    for (const QString& piece : cell.split(separators))
        if (const QString address = trimBlanks(piece); !address.isEmpty())
            addresses.append(address);
    return addresses;
}

QList<Attachment> attachmentsOfCell(const QString& cell, const QString& folder)
{
    QList<Attachment> files;
    for (const QString& piece : cell.split(QLatin1Char(';'))) {
        const QString path = trimBlanks(piece);
        if (path.isEmpty())
            continue;
        const QString full = QDir::cleanPath(QDir(folder).absoluteFilePath(path));
        files.append({QFileInfo(full).fileName(), full});
    }
    return files;
}

QString localSenderAddress()
{
    QString login;
    if (const passwd* user = getpwuid(getuid()); user && user->pw_name)
        login = QString::fromLocal8Bit(user->pw_name);
    if (login.isEmpty())
        login = qEnvironmentVariable("USER");
    if (login.isEmpty())
        login = QStringLiteral("user");
    QString host = QSysInfo::machineHostName();
    if (host.isEmpty())
        host = QStringLiteral("localhost");
    return login + u'@' + host;
}
