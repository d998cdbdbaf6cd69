#pragma once
// The mail tests' peers: a real SMTP server (tests/mail/smtpserver.py on aiosmtpd), a test CA made
// with openssl, and Python's email package as the reader of every message we send.
#include <QDir>
#include <QFile>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace mailfixture {

// A port of 127.0.0.1 on which nothing listens (for a moment).
inline int freePort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

// Writes content to path (replacing what is there) and returns path.
inline QString writeFile(const QString& path, const QByteArray& content)
{
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(content);
    return path;
}

// Runs a program; the error is empty on success.
inline QString run(const QString& program, const QStringList& args, QByteArray* out = nullptr,
                   const QString& folder = QString())
{
    QProcess process;
    if (!folder.isEmpty())
        process.setWorkingDirectory(folder);
    process.start(program, args);
    if (!process.waitForFinished(60000))
        return program + QStringLiteral(" did not finish: ") + process.errorString();
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return program + QStringLiteral(" failed: ") + QString::fromUtf8(process.readAllStandardError());
    if (out)
        *out = process.readAllStandardOutput();
    return {};
}

// In folder: ca.pem (the CA to trust), server.pem/.key (localhost and 127.0.0.1, signed by the
// CA), wronghost.pem/.key (signed by the CA for another host name), selfsigned.pem/.key.
inline QString makeCertificates(const QString& folder)
{
    const QString openssl = QStringLiteral("openssl");
    const QStringList key = {"-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"};
    QString error = run(openssl, QStringList{"req", "-x509"} + key
                                     + QStringList{"-keyout", "ca.key", "-out", "ca.pem", "-days", "2", "-subj",
                                                   "/CN=Tallyweave Test CA"},
                        nullptr, folder);
    const auto signedCert = [&](const QString& name, const QString& altNames) {
        QFile ext(QDir(folder).filePath(name + ".ext"));
        if (!ext.open(QIODevice::WriteOnly))
            return QStringLiteral("cannot write ") + ext.fileName();
        ext.write(("subjectAltName=" + altNames + "\nbasicConstraints=CA:FALSE\n").toUtf8());
        ext.close();
        QString e = run(openssl, QStringList{"req"} + key
                                     + QStringList{"-keyout", name + ".key", "-out", name + ".csr", "-subj", "/CN=" + name},
                        nullptr, folder);
        if (e.isEmpty())
            e = run(openssl,
                    {"x509", "-req", "-in", name + ".csr", "-CA", "ca.pem", "-CAkey", "ca.key", "-CAcreateserial",
                     "-out", name + ".pem", "-days", "2", "-extfile", name + ".ext"},
                    nullptr, folder);
        return e;
    };
    if (error.isEmpty())
        error = signedCert("server", "DNS:localhost,IP:127.0.0.1");
    if (error.isEmpty())
        error = signedCert("wronghost", "DNS:other.example");
    if (error.isEmpty())
        error = run(openssl, QStringList{"req", "-x509"} + key
                                 + QStringList{"-keyout", "selfsigned.key", "-out", "selfsigned.pem", "-days", "2",
                                               "-subj", "/CN=localhost", "-addext",
                                               "subjectAltName=DNS:localhost,IP:127.0.0.1"},
                    nullptr, folder);
    return error;
}

// The message at path as Python's email package reads it (see readmail.py); empty on failure,
// with the cause in *error.
inline QJsonObject readMessage(const QString& path, QString* error = nullptr)
{
    QByteArray out;
    const QString e = run(QStringLiteral(TW_PYTHON),
                          {QStringLiteral(TW_SOURCE_DIR "/tests/mail/readmail.py"), path}, &out);
    if (error)
        *error = e;
    return e.isEmpty() ? QJsonDocument::fromJson(out).object() : QJsonObject();
}

inline QJsonObject readMessageBytes(const QByteArray& bytes, const QString& folder, QString* error = nullptr)
{
    const QString path = QDir(folder).filePath(QStringLiteral("message.eml"));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size()) {
        if (error)
            *error = QStringLiteral("cannot write ") + path;
        return {};
    }
    file.close();
    return readMessage(path, error);
}

inline QByteArray fromBase64(const QJsonValue& value)
{
    return QByteArray::fromBase64(value.toString().toLatin1());
}

// One server process with several listeners (NAME:KIND, see smtpserver.py) for a whole test.
class MailServer {
public:
    struct Received {
        QJsonObject envelope; // listener, mail_from, rcpt_tos, ehlo, auth_user, tls
        QString path;         // the message as the server received it
    };

    ~MailServer() { stop(); }

    QString start(const QString& certFolder, const QStringList& listeners)
    {
        if (!m_out.isValid())
            return QStringLiteral("no temporary folder");
        m_process.start(QStringLiteral(TW_PYTHON),
                        QStringList{QStringLiteral(TW_SOURCE_DIR "/tests/mail/smtpserver.py"), m_out.path(), certFolder}
                            + listeners);
        QByteArray line;
        while (!line.contains('\n')) {
            if (!m_process.waitForReadyRead(20000))
                return QStringLiteral("the SMTP server did not start: ")
                       + QString::fromUtf8(m_process.readAllStandardError());
            line += m_process.readAllStandardOutput();
        }
        if (!line.startsWith("READY "))
            return QStringLiteral("the SMTP server said: ") + QString::fromUtf8(line);
        for (const QByteArray& pair : line.trimmed().mid(6).split(' ')) {
            const QList<QByteArray> sides = pair.split('=');
            m_ports.insert(QString::fromUtf8(sides.value(0)), sides.value(1).toInt());
        }
        return {};
    }

    int port(const QString& name) const { return m_ports.value(name); }
    QString folder() const { return m_out.path(); }

    QList<Received> received() const
    {
        QList<Received> all;
        const QDir dir(m_out.path());
        for (const QString& name : dir.entryList({QStringLiteral("*.json")}, QDir::Files, QDir::Name)) {
            QFile meta(dir.filePath(name));
            if (!meta.open(QIODevice::ReadOnly))
                continue;
            all.append({QJsonDocument::fromJson(meta.readAll()).object(),
                        dir.filePath(name.chopped(5) + QStringLiteral(".eml"))});
        }
        return all;
    }

    // "LISTENER MECHANISM LOGIN" per AUTH attempt.
    QStringList authLog() const
    {
        QFile log(QDir(m_out.path()).filePath(QStringLiteral("auth.log")));
        if (!log.open(QIODevice::ReadOnly))
            return {};
        return QString::fromUtf8(log.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }

    void clear()
    {
        QDir dir(m_out.path());
        for (const QString& name : dir.entryList(QDir::Files))
            dir.remove(name);
    }

    void stop()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }

private:
    QProcess m_process;
    QTemporaryDir m_out;
    QHash<QString, int> m_ports;
};

} // namespace mailfixture
