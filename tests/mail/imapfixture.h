#pragma once
// A real IMAP server for the tests: Debian's dovecot on 127.0.0.1 with a throwaway configuration,
// two users and the test CA's certificate, and Python's imaplib as the independent reader.
#include "mail/mailfixture.h"

#include <QDir>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace imapfixture {

// "ann" / "Open Sesame!" has no quota; "bea" / "Open Sesame!" may store 12 KB in all.
inline const QString GoodPassword = QStringLiteral("Open Sesame!");

class ImapServer {
public:
    ~ImapServer() { stop(); }

    // certFolder as mailfixture::makeCertificates leaves it (server.pem/.key signed by ca.pem).
    QString start(const QString& certFolder)
    {
        if (!m_dir.isValid())
            return QStringLiteral("no temporary folder");
        const QString root = m_dir.path();
        // Run as root, dovecot reads the mail as an unprivileged user, who must reach the folders.
        const bool root_ = ::geteuid() == 0;
        QFile::setPermissions(root, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner
                                        | QFileDevice::ExeGroup | QFileDevice::ExeOther);
        QDir(root).mkpath(QStringLiteral("run"));
        QDir(root).mkpath(QStringLiteral("mail"));
        const uid_t uid = root_ ? 65534 : ::getuid();
        const gid_t gid = root_ ? 65534 : ::getgid();
        if (root_ && ::chown(QFile::encodeName(root + QStringLiteral("/mail")).constData(), uid, gid) != 0)
            return QStringLiteral("cannot hand the mail folder to nobody");
        const QByteArray ids = QByteArray::number(uid) + ':' + QByteArray::number(gid);
        const QByteArray mail = QFile::encodeName(root) + "/mail/";
        const QByteArray users = "ann:{PLAIN}" + GoodPassword.toUtf8() + ':' + ids + "::" + mail + "ann::\n"
                                 "bea:{PLAIN}" + GoodPassword.toUtf8() + ':' + ids + "::" + mail
                                 + "bea::userdb_quota_rule=*:storage=12K\n";
        mailfixture::writeFile(root + QStringLiteral("/users"), users);
        m_startTlsPort = mailfixture::freePort();
        m_tlsPort = mailfixture::freePort();
        const QByteArray r = QFile::encodeName(root);
        const QByteArray certs = QFile::encodeName(certFolder);
        QByteArray config = "base_dir = " + r + "/run\nstate_dir = " + r + "/run\nlog_path = " + r
                            + "/dovecot.log\nprotocols = imap\nlisten = 127.0.0.1\nssl = yes\n"
                              "ssl_cert = <" + certs + "/server.pem\nssl_key = <" + certs + "/server.key\n"
                              "disable_plaintext_auth = no\nauth_mechanisms = plain login\n"
                              "passdb {\n  driver = passwd-file\n  args = " + r + "/users\n}\n"
                              "userdb {\n  driver = passwd-file\n  args = " + r + "/users\n}\n"
                              "mail_location = maildir:~/Maildir\nmail_plugins = quota\n"
                              "plugin {\n  quota = maildir:User quota\n}\n"
                              "namespace inbox {\n  inbox = yes\n  separator = /\n"
                              "  mailbox Drafts {\n    special_use = \\Drafts\n    auto = create\n  }\n"
                              "  mailbox \"Entwürfe\" {\n    auto = create\n  }\n}\n"
                              "service imap-login {\n  chroot =\n"
                              "  inet_listener imap {\n    port = " + QByteArray::number(m_startTlsPort) + "\n  }\n"
                              "  inet_listener imaps {\n    port = " + QByteArray::number(m_tlsPort)
                            + "\n    ssl = yes\n  }\n}\nservice anvil {\n  chroot =\n}\n";
        if (!root_) {
            const QByteArray me = ::getpwuid(::getuid())->pw_name;
            config += "default_login_user = " + me + "\ndefault_internal_user = " + me + "\n";
        }
        mailfixture::writeFile(root + QStringLiteral("/dovecot.conf"), config);
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.start(QStringLiteral("/usr/sbin/dovecot"),
                        {QStringLiteral("-c"), root + QStringLiteral("/dovecot.conf"), QStringLiteral("-F")});
        if (!m_process.waitForStarted(5000))
            return QStringLiteral("dovecot does not start: ") + m_process.errorString();
        QElapsedTimer waited;
        waited.start();
        while (waited.elapsed() < 15000) {
            if (m_process.state() == QProcess::NotRunning)
                return QStringLiteral("dovecot stopped: ") + QString::fromUtf8(m_process.readAll()) + log();
            if (accepts(m_startTlsPort) && accepts(m_tlsPort))
                return {};
            QThread::msleep(100);
        }
        return QStringLiteral("dovecot does not listen: ") + log();
    }

    int tlsPort() const { return m_tlsPort; }           // TLS from the first byte
    int startTlsPort() const { return m_startTlsPort; } // STARTTLS
    QString log() const
    {
        QFile file(m_dir.filePath(QStringLiteral("dovecot.log")));
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }

    struct Stored {
        qint64 uid = 0;
        QStringList flags;
        QByteArray message;
    };
    // The messages of user's folder as imaplib reads them; the cause in *error on failure.
    QList<Stored> read(const QString& caFile, const QString& user, const QString& folder, QString* error) const
    {
        QByteArray out;
        *error = mailfixture::run(QStringLiteral(TW_PYTHON),
                                  {QStringLiteral(TW_SOURCE_DIR "/tests/mail/readimap.py"), QString::number(m_tlsPort),
                                   caFile, user, GoodPassword, folder},
                                  &out);
        QList<Stored> stored;
        for (const QJsonValue& value : QJsonDocument::fromJson(out).array()) {
            const QJsonObject object = value.toObject();
            QStringList flags;
            for (const QJsonValue& flag : object.value(QStringLiteral("flags")).toArray())
                flags << flag.toString();
            stored.append({object.value(QStringLiteral("uid")).toInteger(), flags,
                           QByteArray::fromBase64(object.value(QStringLiteral("message")).toString().toLatin1())});
        }
        return stored;
    }

    void stop()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.terminate();
            if (!m_process.waitForFinished(5000)) {
                m_process.kill();
                m_process.waitForFinished(5000);
            }
        }
    }

private:
    static bool accepts(int port)
    {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(quint16(port));
        const bool connected = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        ::close(fd);
        return connected;
    }

    QTemporaryDir m_dir;
    QProcess m_process;
    int m_startTlsPort = 0;
    int m_tlsPort = 0;
};

} // namespace imapfixture
