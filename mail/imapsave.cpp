#include "mail/imapsave.h"

#include "mail/credentials.h"
#include "mail/curlhandles.h"
#include "mail/oauth.h"

#include <QDeadlineTimer>
#include <QList>

#include <curl/curl.h>

#include <cerrno>

#include <poll.h>

namespace {

// What the server said while the transport connected and logged in: the refusal that ended it.
struct LoginWatch {
    QByteArray pending;
    QString refusal;

    void received(const char* data, size_t size)
    {
        pending.append(data, qsizetype(size));
        for (qsizetype end = pending.indexOf('\n'); end >= 0; end = pending.indexOf('\n')) {
            const QByteArray line = pending.left(end).trimmed();
            pending.remove(0, end + 1);
            // "A003 NO [AUTHENTICATIONFAILED] ..." or "* BYE ..."; the first one counts.
            const QList<QByteArray> words = line.split(' ');
            const QByteArray status = words.value(1).toUpper();
            if (refusal.isEmpty() && (status == "NO" || status == "BAD" || status == "BYE"))
                refusal = QString::fromUtf8(line.mid(words.value(0).size() + 1));
        }
    }
};

int watchLogin(CURL*, curl_infotype type, char* data, size_t size, void* user)
{
    if (type == CURLINFO_HEADER_IN)
        static_cast<LoginWatch*>(user)->received(data, size);
    return 0;
}

// A server's line made fit for a message: printable, not endless.
QString printable(const QByteArray& raw)
{
    QString text = QString::fromUtf8(raw.left(300));
    for (QChar& c : text)
        if (c.unicode() < 32 || c.unicode() == 127)
            c = u'?';
    return raw.size() > 300 ? text + QStringLiteral("...") : text;
}

} // namespace

ImapOptions defaultImapOptions()
{
    ImapOptions options;
    options.caFile = qEnvironmentVariable("SSL_CERT_FILE");
    return options;
}

QByteArray imapMailboxName(const QString& folder)
{
    QByteArray out = "\"";
    QByteArray wide; // UTF-16 big-endian of a run of characters outside printable ASCII
    const auto flush = [&] {
        if (wide.isEmpty())
            return;
        QByteArray encoded = wide.toBase64(QByteArray::OmitTrailingEquals);
        encoded.replace('/', ',');
        out += '&' + encoded + '-';
        wide.clear();
    };
    for (const QChar c : folder) {
        const char16_t u = c.unicode();
        if (u < 0x20 || u == 0x7f)
            return {};
        if (u > 0x7e) {
            wide.append(char(u >> 8)).append(char(u & 0xff));
            continue;
        }
        flush();
        if (u == u'&')
            out += "&-";
        else if (u == u'"' || u == u'\\')
            out += '\\' + QByteArray(1, char(u));
        else
            out += char(u);
    }
    flush();
    return out + '"';
}

struct ImapDrafts::Connection {
    std::unique_ptr<CURL, EasyCleanup> curl;
    curl_socket_t socket = CURL_SOCKET_BAD;
    QByteArray buffer; // received and not yet read as lines

    // Waits until the socket may be read (or written); false on time-out.
    bool wait(short events, const QDeadlineTimer& deadline) const
    {
        for (;;) {
            pollfd p{socket, events, 0};
            const int left = int(std::max<qint64>(0, deadline.remainingTime()));
            const int n = ::poll(&p, 1, left);
            if (n > 0)
                return true;
            if (n == 0)
                return false;
            if (errno != EINTR)
                return false;
        }
    }
};

ImapDrafts::ImapDrafts(ImapAccount account, ImapOptions options)
    : m_account(std::move(account)), m_options(std::move(options))
{
}

ImapDrafts::~ImapDrafts()
{
    if (m_connection) {
        // A courtesy: the server closes the session cleanly. Nothing waits for its answer.
        size_t sent = 0;
        const QByteArray logout = "TW" + QByteArray::number(++m_tag) + " LOGOUT\r\n";
        curl_easy_send(m_connection->curl.get(), logout.constData(), size_t(logout.size()), &sent);
    }
}

QString ImapDrafts::masked(QString text) const
{
    return withoutCredentials(std::move(text), m_account.account, m_account.password, m_token);
}

void ImapDrafts::connect()
{
    if (!m_account.tokens) {
        login(QString());
        return;
    }
    QString error;
    m_token = m_account.tokens->token(&error);
    if (m_token.isEmpty())
        throw LocalMailError(error);
    if (!login(m_token))
        return;
    // The server refused the token: it may have expired since the command printed it.
    const QString refusal = m_refusal;
    if (!m_account.tokens->renew(&error))
        throw LocalMailError(error.isEmpty() ? refusal : refusal + QStringLiteral("; ") + error);
    m_token = m_account.tokens->token(&error);
    if (login(m_token))
        throw LocalMailError(m_refusal);
}

bool ImapDrafts::login(const QString& tokenText)
{
    initCurl();
    const auto fail = [this](const QString& cause) {
        m_connection.reset();
        throw LocalMailError(masked(cause));
    };
    auto connection = std::make_unique<Connection>();
    connection->curl.reset(curl_easy_init());
    std::unique_ptr<CURLU, UrlCleanup> url(curl_url());
    if (!connection->curl || !url)
        fail(QStringLiteral("the IMAP transport cannot be started"));

    const bool implicitTls = m_account.ssl && m_account.port == m_options.implicitTlsPort;
    if (!setServerUrl(url.get(), implicitTls ? "imaps" : "imap", m_account.host, m_account.port, QStringLiteral("/")))
        fail(QStringLiteral("the IMAP server address \"%1\" port %2 cannot be used")
                 .arg(m_account.host.simplified())
                 .arg(m_account.port));

    CURL* c = connection->curl.get();
    char errorText[CURL_ERROR_SIZE] = {};
    LoginWatch watch;
    const QByteArray user = m_account.account.toUtf8();
    const QByteArray password = m_account.password.toUtf8();
    const QByteArray token = tokenText.toUtf8();
    const QByteArray caFile = m_options.caFile.toLocal8Bit();
    curl_easy_setopt(c, CURLOPT_CURLU, url.get());
    curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "imap,imaps");
    curl_easy_setopt(c, CURLOPT_CONNECT_ONLY, 1L);
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_ERRORBUFFER, errorText);
    curl_easy_setopt(c, CURLOPT_VERBOSE, 1L);
    curl_easy_setopt(c, CURLOPT_DEBUGFUNCTION, watchLogin);
    curl_easy_setopt(c, CURLOPT_DEBUGDATA, &watch);
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT, long(m_options.connectTimeoutSeconds));
    curl_easy_setopt(c, CURLOPT_SERVER_RESPONSE_TIMEOUT, long(m_options.replyTimeoutSeconds));
    if (m_account.ssl && !implicitTls)
        curl_easy_setopt(c, CURLOPT_USE_SSL, long(CURLUSESSL_ALL));
    curl_easy_setopt(c, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(c, CURLOPT_SSL_VERIFYHOST, 2L);
    if (!caFile.isEmpty())
        curl_easy_setopt(c, CURLOPT_CAINFO, caFile.constData());
    curl_easy_setopt(c, CURLOPT_USERNAME, user.constData());
    if (token.isEmpty()) {
        curl_easy_setopt(c, CURLOPT_PASSWORD, password.constData());
    } else {
        curl_easy_setopt(c, CURLOPT_XOAUTH2_BEARER, token.constData());
        curl_easy_setopt(c, CURLOPT_LOGIN_OPTIONS, "AUTH=XOAUTH2");
    }

    const CURLcode code = curl_easy_perform(c);
    // The debug hook points at this frame's watch: it must not outlive it.
    curl_easy_setopt(c, CURLOPT_VERBOSE, 0L);
    curl_easy_setopt(c, CURLOPT_DEBUGFUNCTION, nullptr);
    curl_easy_setopt(c, CURLOPT_ERRORBUFFER, nullptr);
    const QString where = QStringLiteral("%1 port %2").arg(m_account.host.simplified()).arg(m_account.port);
    if (code != CURLE_OK) {
        if (!watch.refusal.isEmpty()) {
            const QString refusal = masked(QStringLiteral("the IMAP server %1 refused the login: %2").arg(where, watch.refusal));
            // With a token, the caller may ask for a fresh one and try again.
            if (!token.isEmpty() && code == CURLE_LOGIN_DENIED) {
                m_refusal = refusal;
                return true;
            }
            fail(refusal);
        }
        const QString transport = QString::fromUtf8(errorText).trimmed();
        fail(QStringLiteral("the IMAP server %1 cannot be reached: %2")
                 .arg(where, transport.isEmpty() ? QString::fromUtf8(curl_easy_strerror(code)) : transport));
    }
    curl_socket_t socket = CURL_SOCKET_BAD;
    if (curl_easy_getinfo(c, CURLINFO_ACTIVESOCKET, &socket) != CURLE_OK || socket == CURL_SOCKET_BAD)
        fail(QStringLiteral("the IMAP server %1 closed the connection after the login").arg(where));
    connection->socket = socket;
    m_connection = std::move(connection);
    return false;
}

void ImapDrafts::append(const QByteArray& message)
{
    const QByteArray mailbox = imapMailboxName(m_account.folder);
    if (mailbox.isEmpty())
        throw LocalMailError(QStringLiteral("the IMAP folder name \"%1\" cannot be used").arg(m_account.folder.simplified()));
    command("APPEND " + mailbox + " (\\Draft \\Seen) {" + QByteArray::number(message.size()) + '}', &message,
            "APPEND");
}

// Sends one command (with a literal after the server's go-ahead) and reads up to its tagged reply,
// which it returns. A NO, a BAD, a BYE, a closed connection or a time-out throws.
QByteArray ImapDrafts::command(const QByteArray& line, const QByteArray* literal, const char* verb)
{
    if (!m_connection)
        throw LocalMailError(QStringLiteral("the IMAP server is not connected"));
    Connection& conn = *m_connection;
    CURL* c = conn.curl.get();
    const QString where = QStringLiteral("%1 port %2").arg(m_account.host.simplified()).arg(m_account.port);
    const auto fail = [&](const QString& cause) {
        m_connection.reset();
        throw LocalMailError(masked(cause));
    };
    const auto sendAll = [&](const QByteArray& bytes) {
        const QDeadlineTimer deadline(qint64(m_options.replyTimeoutSeconds) * 1000 + bytes.size() / 64);
        qsizetype at = 0;
        while (at < bytes.size()) {
            size_t sent = 0;
            const CURLcode code = curl_easy_send(c, bytes.constData() + at, size_t(bytes.size() - at), &sent);
            if (code == CURLE_AGAIN) {
                if (!conn.wait(POLLOUT, deadline))
                    fail(QStringLiteral("the IMAP server %1 took no more data for %2 s (%3)")
                             .arg(where)
                             .arg(m_options.replyTimeoutSeconds)
                             .arg(QLatin1String(verb)));
                continue;
            }
            if (code != CURLE_OK)
                fail(QStringLiteral("the IMAP server %1 closed the connection (%2): %3")
                         .arg(where, QLatin1String(verb), QString::fromUtf8(curl_easy_strerror(code))));
            at += qsizetype(sent);
        }
    };
    const auto readLine = [&]() -> QByteArray {
        const QDeadlineTimer deadline(qint64(m_options.replyTimeoutSeconds) * 1000);
        for (;;) {
            const qsizetype end = conn.buffer.indexOf("\r\n");
            if (end >= 0) {
                const QByteArray text = conn.buffer.left(end);
                conn.buffer.remove(0, end + 2);
                return text;
            }
            char chunk[4096];
            size_t got = 0;
            const CURLcode code = curl_easy_recv(c, chunk, sizeof chunk, &got);
            if (code == CURLE_AGAIN) {
                if (!conn.wait(POLLIN, deadline))
                    fail(QStringLiteral("the IMAP server %1 did not answer within %2 s (waiting for the reply to %3)")
                             .arg(where)
                             .arg(m_options.replyTimeoutSeconds)
                             .arg(QLatin1String(verb)));
                continue;
            }
            if (code != CURLE_OK || got == 0)
                fail(QStringLiteral("the IMAP server %1 closed the connection (waiting for the reply to %2)")
                         .arg(where, QLatin1String(verb)));
            conn.buffer.append(chunk, qsizetype(got));
        }
    };

    const QByteArray tag = "TW" + QByteArray::number(++m_tag);
    sendAll(tag + ' ' + line + "\r\n");
    bool literalSent = literal == nullptr;
    for (;;) {
        const QByteArray reply = readLine();
        if (reply.startsWith("+") && !literalSent) {
            sendAll(*literal + "\r\n");
            literalSent = true;
            continue;
        }
        const QList<QByteArray> words = reply.split(' ');
        const QByteArray status = words.value(1).toUpper();
        if (words.value(0) == "*" && status == "BYE")
            fail(QStringLiteral("the IMAP server %1 ended the session: %2").arg(where, printable(reply.mid(2))));
        if (words.value(0) != tag)
            continue; // untagged data the run has no use for
        const QByteArray rest = reply.mid(tag.size() + 1);
        if (status != "OK")
            fail(QStringLiteral("the IMAP server %1 refused %2 into \"%3\": %4")
                     .arg(where, QLatin1String(verb), m_account.folder, printable(rest)));
        return rest;
    }
}
