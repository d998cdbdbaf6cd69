#pragma once
// What the SMTP and IMAP exchanges share of libcurl: its one-time start, owners of its handles, and
// the server URL.
#include <QByteArray>
#include <QString>

#include <curl/curl.h>

#include <mutex>

inline void initCurl()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct EasyCleanup {
    void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
};
struct UrlCleanup {
    void operator()(CURLU* url) const { curl_url_cleanup(url); }
};
struct ListFree {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

// scheme://host:port/path, an IPv6 address in brackets, the path URL-encoded. False when the
// transport refuses a part.
inline bool setServerUrl(CURLU* url, const char* scheme, const QString& host, int port, const QString& path)
{
    const bool ipv6 = host.contains(QLatin1Char(':')) && !host.startsWith(QLatin1Char('['));
    const QByteArray hostText = ipv6 ? '[' + host.toUtf8() + ']' : host.toUtf8();
    const QByteArray portText = QByteArray::number(port);
    const QByteArray pathText = path.toUtf8();
    return curl_url_set(url, CURLUPART_SCHEME, scheme, 0) == CURLUE_OK
           && curl_url_set(url, CURLUPART_HOST, hostText.constData(), 0) == CURLUE_OK
           && curl_url_set(url, CURLUPART_PORT, portText.constData(), 0) == CURLUE_OK
           && curl_url_set(url, CURLUPART_PATH, pathText.constData(), CURLU_URLENCODE) == CURLUE_OK;
}
