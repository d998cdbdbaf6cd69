#include "mail/smtp.h"

#include "mail/credentials.h"
#include "mail/curlhandles.h"
#include "mail/oauth.h"

#include <QSysInfo>

#include <curl/curl.h>

#include <memory>

#include <sys/socket.h>
#include <unistd.h>

namespace {

struct Upload {
    const QByteArray& bytes;
    qsizetype at = 0;
};

size_t readMessage(char* buffer, size_t size, size_t count, void* user)
{
    auto* upload = static_cast<Upload*>(user);
    const size_t room = size * count;
    const size_t left = size_t(upload->bytes.size() - upload->at);
    const size_t n = std::min(room, left);
    memcpy(buffer, upload->bytes.constData() + upload->at, n);
    upload->at += qsizetype(n);
    return n;
}

// Follows the exchange to find the server's first refusal. Replies to EHLO do not count (HELO
// follows), nor does the reply to QUIT, which comes after the outcome was settled.
class ReplyWatch {
public:
    void commandSent(const char* data, size_t size)
    {
        const QByteArray line = QByteArray(data, qsizetype(size)).trimmed().toUpper();
        m_inEhlo = line.startsWith("EHLO");
        m_ignoreReply = m_inEhlo || line.startsWith("QUIT");
        m_authSent = m_authSent || line.startsWith("AUTH");
        static const QByteArrayList verbs = {"EHLO", "HELO", "STARTTLS", "AUTH", "MAIL", "RCPT", "DATA", "QUIT"};
        if (line.startsWith("AUTH")) {
            m_xoauth2 = line.startsWith("AUTH XOAUTH2");
            m_tokenSent = line.count(' ') >= 2; // the token as an initial response
        } else if (m_lastVerb == QLatin1String("AUTH") && !verbs.contains(line.left(line.indexOf(' ')))) {
            m_tokenSent = true; // the answer to the server's prompt
        }
        // Only a known verb names the step: the lines of an AUTH LOGIN exchange are credentials.
        const QByteArray verb = line.left(line.indexOf(' '));
        if (verbs.contains(verb)) {
            m_lastVerb = QString::fromLatin1(verb);
            m_inMessage = false;
        }
    }

    // Where the exchange was when it broke off, for a comment: "waiting for the reply to EHLO".
    QString step() const
    {
        if (m_inMessage)
            return QStringLiteral("while the message was sent");
        if (m_lastVerb.isEmpty())
            return QStringLiteral("waiting for the greeting");
        return QStringLiteral("waiting for the reply to ") + m_lastVerb;
    }
    // The first line the server sent that is no SMTP reply, made printable; empty when none.
    const QString& stray() const { return m_stray; }

    bool authSent() const { return m_authSent; }
    // The server refused the sign-in itself: a 535 to AUTH, or the 334 challenge with which an
    // XOAUTH2 server says the token is not good.
    bool authRefused() const { return m_authRefused; }
    // The mechanisms of the EHLO reply's AUTH line, as the server wrote them.
    const QString& offeredAuth() const { return m_offeredAuth; }

    void received(const char* data, size_t size)
    {
        m_pending.append(data, qsizetype(size));
        for (qsizetype end = m_pending.indexOf('\n'); end >= 0; end = m_pending.indexOf('\n')) {
            line(m_pending.left(end));
            m_pending.remove(0, end + 1);
        }
    }

    const QString& refusal() const { return m_refusal; }

    // Bytes of the message written to the connection (dots doubled at the start of a line included).
    void messageSent(size_t size) { m_messageBytes += qint64(size); }
    qint64 messageBytes() const { return m_messageBytes; }

private:
    static QString printable(const QByteArray& raw)
    {
        QString text = QString::fromUtf8(raw.left(80));
        for (QChar& c : text)
            if (c.unicode() < 32 || c.unicode() == 127 || c == QChar::ReplacementCharacter)
                c = u'?';
        return raw.size() > 80 ? text + QStringLiteral("...") : text;
    }

    void line(QByteArray text)
    {
        while (text.endsWith('\r'))
            text.chop(1);
        if (text.isEmpty())
            return;
        bool isCode = false;
        const int code = text.size() >= 3 ? text.left(3).toInt(&isCode) : 0;
        if (!isCode || (text.size() > 3 && text.at(3) != ' ' && text.at(3) != '-')) {
            if (m_stray.isEmpty())
                m_stray = printable(text);
            return;
        }
        if (code == 354)
            m_inMessage = true;
        // An XOAUTH2 server that refuses the token says why in a 334 challenge (base64 JSON), and
        // the exchange ends there: that is the server's refusal.
        if (m_lastVerb == QLatin1String("AUTH") && code == 334 && m_xoauth2 && m_tokenSent && m_refusal.isEmpty()) {
            m_authRefused = true;
            m_refusal = QStringLiteral("334 ") + printable(QByteArray::fromBase64(text.mid(4).trimmed()));
        }
        if (m_lastVerb == QLatin1String("AUTH") && code == 535)
            m_authRefused = true;
        const bool last = text.size() == 3 || text.at(3) != '-';
        const QString words = QString::fromUtf8(text.mid(4)).trimmed();
        if (m_inEhlo && words.startsWith(QLatin1String("AUTH "), Qt::CaseInsensitive))
            m_offeredAuth = words.mid(5).trimmed();
        if (!words.isEmpty())
            m_words.append(words);
        if (!last)
            return;
        if (code >= 400 && m_refusal.isEmpty() && !m_ignoreReply) {
            m_refusal = QString::number(code);
            if (!m_words.isEmpty())
                m_refusal += QLatin1Char(' ') + m_words.join(QLatin1Char(' '));
        }
        m_words.clear();
    }

    QByteArray m_pending;
    QStringList m_words;
    QString m_refusal;
    QString m_offeredAuth;
    QString m_lastVerb;
    QString m_stray;
    qint64 m_messageBytes = 0;
    bool m_inMessage = false;
    bool m_ignoreReply = false;
    bool m_inEhlo = false;
    bool m_authSent = false;
    bool m_authRefused = false;
    bool m_xoauth2 = false;
    bool m_tokenSent = false;
};

int watchExchange(CURL*, curl_infotype type, char* data, size_t size, void* user)
{
    auto* watch = static_cast<ReplyWatch*>(user);
    if (type == CURLINFO_HEADER_IN)
        watch->received(data, size);
    else if (type == CURLINFO_HEADER_OUT)
        watch->commandSent(data, size);
    else if (type == CURLINFO_DATA_OUT)
        watch->messageSent(size);
    return 0;
}

// The connection's socket, while the transport holds it open.
struct Socket {
    curl_socket_t fd = CURL_SOCKET_BAD;

    // A server that stopped answering is not asked to QUIT: the transport would wait a whole reply
    // time-out more for its answer. Shut down, the connection fails at once and is closed.
    void abandon() const
    {
        if (fd != CURL_SOCKET_BAD)
            ::shutdown(fd, SHUT_RDWR);
    }
};

int socketOpened(void* user, curl_socket_t fd, curlsocktype)
{
    static_cast<Socket*>(user)->fd = fd;
    return CURL_SOCKOPT_OK;
}

int closeSocket(void* user, curl_socket_t fd)
{
    auto* socket = static_cast<Socket*>(user);
    if (socket->fd == fd)
        socket->fd = CURL_SOCKET_BAD;
    return ::close(fd);
}

// An address that would break the SMTP command it goes into.
bool unsafeForCommand(const QString& address)
{
    for (const QChar c : address)
        if (c.unicode() < 32 || c.unicode() == 127 || c == u'<' || c == u'>')
            return true;
    return false;
}

SendResult failed(const QString& comment, const MailServerSettings& server, const QString& token = QString())
{
    return SendResult{false, withoutCredentials(comment, server.account, server.password, token)};
}

} // namespace

SmtpOptions defaultSmtpOptions()
{
    SmtpOptions options;
    options.caFile = qEnvironmentVariable("SSL_CERT_FILE");
    return options;
}

QString localHostName()
{
    const QString name = QSysInfo::machineHostName();
    return name.isEmpty() ? QStringLiteral("Tallyweave") : name;
}

namespace {

struct Outcome {
    bool handedOver = false;
    bool tokenRefused = false;
};

SendResult exchange(const MailServerSettings& server, const QString& token, const QStringList& recipients,
                    const QByteArray& message, const SmtpOptions& options, Outcome* outcome)
{
    initCurl();
    if (unsafeForCommand(server.email))
        return failed(QStringLiteral("the sender's address \"%1\" cannot be used").arg(server.email.simplified()),
                      server, token);
    if (recipients.isEmpty())
        return failed(QStringLiteral("the message has no recipient"), server, token);
    for (const QString& recipient : recipients)
        if (unsafeForCommand(recipient))
            return failed(QStringLiteral("the address \"%1\" cannot be used").arg(recipient.simplified()), server,
                          token);

    std::unique_ptr<CURL, EasyCleanup> curl(curl_easy_init());
    std::unique_ptr<CURLU, UrlCleanup> url(curl_url());
    if (!curl || !url)
        return failed(QStringLiteral("the mail transport cannot be started"), server, token);

    const bool implicitTls = server.ssl && server.port == options.implicitTlsPort;
    // The URL's path is the name given with EHLO.
    const QString greeting = QLatin1Char('/') + (options.greetingName.isEmpty() ? localHostName() : options.greetingName);
    if (!setServerUrl(url.get(), implicitTls ? "smtps" : "smtp", server.host, server.port, greeting))
        return failed(QStringLiteral("the server address \"%1\" port %2 cannot be used")
                          .arg(server.host.simplified())
                          .arg(server.port),
                      server, token);

    CURL* c = curl.get();
    char errorText[CURL_ERROR_SIZE] = {};
    ReplyWatch watch;
    const QByteArray from = '<' + server.email.toUtf8() + '>';
    std::unique_ptr<curl_slist, ListFree> rcpt;
    for (const QString& recipient : recipients) {
        const QByteArray to = '<' + recipient.toUtf8() + '>';
        curl_slist* longer = curl_slist_append(rcpt.get(), to.constData());
        if (!longer)
            return failed(QStringLiteral("the mail transport cannot be started"), server, token);
        (void)rcpt.release();
        rcpt.reset(longer);
    }
    const QByteArray user = server.account.toUtf8();
    const QByteArray password = server.password.toUtf8();
    const QByteArray bearer = token.toUtf8();
    const QByteArray caFile = options.caFile.toLocal8Bit();
    Upload upload{message};
    Socket socket;

    curl_easy_setopt(c, CURLOPT_CURLU, url.get());
    curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "smtp,smtps");
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_ERRORBUFFER, errorText);
    curl_easy_setopt(c, CURLOPT_VERBOSE, 1L);
    curl_easy_setopt(c, CURLOPT_DEBUGFUNCTION, watchExchange);
    curl_easy_setopt(c, CURLOPT_DEBUGDATA, &watch);
    curl_easy_setopt(c, CURLOPT_SOCKOPTFUNCTION, socketOpened);
    curl_easy_setopt(c, CURLOPT_SOCKOPTDATA, &socket);
    curl_easy_setopt(c, CURLOPT_CLOSESOCKETFUNCTION, closeSocket);
    curl_easy_setopt(c, CURLOPT_CLOSESOCKETDATA, &socket);
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT, long(options.connectTimeoutSeconds));
    curl_easy_setopt(c, CURLOPT_SERVER_RESPONSE_TIMEOUT, long(options.replyTimeoutSeconds));
    if (server.ssl && !implicitTls)
        curl_easy_setopt(c, CURLOPT_USE_SSL, long(CURLUSESSL_ALL));
    curl_easy_setopt(c, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(c, CURLOPT_SSL_VERIFYHOST, 2L);
    if (!caFile.isEmpty())
        curl_easy_setopt(c, CURLOPT_CAINFO, caFile.constData());
    if (!user.isEmpty() && !bearer.isEmpty()) {
        curl_easy_setopt(c, CURLOPT_USERNAME, user.constData());
        curl_easy_setopt(c, CURLOPT_XOAUTH2_BEARER, bearer.constData());
        curl_easy_setopt(c, CURLOPT_LOGIN_OPTIONS, "AUTH=XOAUTH2");
    } else if (!user.isEmpty()) {
        curl_easy_setopt(c, CURLOPT_USERNAME, user.constData());
        curl_easy_setopt(c, CURLOPT_PASSWORD, password.constData());
        curl_easy_setopt(c, CURLOPT_LOGIN_OPTIONS, "AUTH=*");
    }
    curl_easy_setopt(c, CURLOPT_MAIL_FROM, from.constData());
    curl_easy_setopt(c, CURLOPT_MAIL_RCPT, rcpt.get());
    curl_easy_setopt(c, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(c, CURLOPT_READFUNCTION, readMessage);
    curl_easy_setopt(c, CURLOPT_READDATA, &upload);
    curl_easy_setopt(c, CURLOPT_INFILESIZE_LARGE, curl_off_t(message.size()));

    const CURLcode code = curl_easy_perform(c);
    if (code == CURLE_OK)
        return SendResult{true, QString()};
    if (code == CURLE_OPERATION_TIMEDOUT)
        socket.abandon();
    outcome->tokenRefused = !bearer.isEmpty() && watch.authRefused();
    if (!watch.refusal().isEmpty())
        return failed(watch.refusal(), server, token);
    // Everything up to the line that ends the message went out, and no reply came back.
    outcome->handedOver = watch.messageBytes() >= message.size() && watch.step() == QLatin1String("while the message was sent");
    // curl stops before AUTH when it knows none of the offered mechanisms, and says only
    // "Login denied".
    if (code == CURLE_LOGIN_DENIED && !watch.authSent())
        return failed(QStringLiteral("the server offers no AUTH mechanism this program can use (AUTH %1)")
                          .arg(watch.offeredAuth()),
                      server, token);
    if (!watch.stray().isEmpty())
        return failed(QStringLiteral("the server's answer is not SMTP (%1): \"%2\"").arg(watch.step(), watch.stray()),
                      server, token);
    // The transport says "response reading failed" with a stale errno when the server hangs up.
    if (code == CURLE_RECV_ERROR || code == CURLE_GOT_NOTHING || code == CURLE_SEND_ERROR)
        return failed(QStringLiteral("the server closed the connection (%1)").arg(watch.step()), server, token);
    const QString transport = QString::fromUtf8(errorText).trimmed();
    return failed(QStringLiteral("%1 (%2)").arg(transport.isEmpty() ? QString::fromUtf8(curl_easy_strerror(code)) : transport,
                                                watch.step()),
                  server, token);
}

} // namespace

SendResult sendMail(const MailServerSettings& server, const QStringList& recipients, const QByteArray& message,
                    const SmtpOptions& options)
{
    QString token;
    if (server.tokens) {
        QString error;
        token = server.tokens->token(&error);
        if (token.isEmpty())
            return SendResult{false, error};
    }
    Outcome outcome;
    SendResult result = exchange(server, token, recipients, message, options, &outcome);
    // An expired token: the command runs once more for the run, and the message is tried again
    // (nothing of it went out before the sign-in).
    if (!result.sent && outcome.tokenRefused) {
        QString error;
        if (server.tokens->renew(&error)) {
            outcome = Outcome{};
            result = exchange(server, server.tokens->token(&error), recipients, message, options, &outcome);
        } else if (!error.isEmpty()) {
            result.comment += QStringLiteral("; ") + error;
        }
    }
    if (outcome.handedOver && !result.sent) {
        result.unknown = true;
        result.comment += QStringLiteral("; the whole message was handed over, so it may have been delivered");
    }
    return result;
}
