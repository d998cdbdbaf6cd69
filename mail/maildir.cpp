#include "mail/maildir.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>

#include <atomic>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString systemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// The host part of a Maildir name: "/" and ":" would break the name, so they are written as
// octal escapes, as Maildir readers expect.
QString hostPart()
{
    char buffer[256] = {};
    QString host;
    if (::gethostname(buffer, sizeof buffer - 1) == 0)
        host = QString::fromLocal8Bit(buffer);
    if (host.isEmpty())
        host = QStringLiteral("localhost");
    host.replace(QLatin1Char('/'), QLatin1String("\\057"));
    host.replace(QLatin1Char(':'), QLatin1String("\\072"));
    return host;
}

// Creates path with mode 0700 unless it is a folder already.
void makeFolder(const QString& path)
{
    const QByteArray native = QFile::encodeName(path);
    if (::mkdir(native.constData(), 0700) == 0)
        return;
    const int error = errno;
    if (error == EEXIST && QFileInfo(path).isDir())
        return;
    throw LocalMailError(QStringLiteral("the folder %1 cannot be created: %2").arg(path, systemError(error)));
}

void checkWritable(const QString& path)
{
    if (::access(QFile::encodeName(path).constData(), W_OK | X_OK) != 0)
        throw LocalMailError(QStringLiteral("the folder %1 cannot be written: %2").arg(path, systemError(errno)));
}

// Writes all of data to fd; false with errno set when the system refuses.
bool writeAll(int fd, const QByteArray& data)
{
    const char* at = data.constData();
    qsizetype left = data.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, at, size_t(left));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        at += written;
        left -= written;
    }
    return true;
}

} // namespace

QString defaultOutboxPath()
{
    const QString root = qEnvironmentVariable("MAILDIR");
    const QString base = root.isEmpty() ? QDir::homePath() + QStringLiteral("/Maildir") : root;
    return QDir::cleanPath(base) + QStringLiteral("/.Outbox");
}

QString MaildirFolder::uniqueName()
{
    static std::atomic<unsigned> counter{0};
    static const QString host = hostPart();
    return QStringLiteral("%1.%2_%3.%4")
        .arg(QDateTime::currentSecsSinceEpoch())
        .arg(::getpid())
        .arg(++counter)
        .arg(host);
}

void MaildirFolder::prepare() const
{
    const QFileInfo folder(m_path);
    const bool existed = folder.isDir();
    if (!existed) {
        const QString parent = folder.absolutePath();
        const bool parentExisted = QFileInfo(parent).isDir();
        if (!parentExisted) {
            // A Maildir++ root of its own: the parent becomes a mailbox too, so that a mail
            // program opening it finds the outbox as one of its folders.
            const QString grand = QFileInfo(parent).absolutePath();
            if (!QDir().mkpath(grand))
                throw LocalMailError(QStringLiteral("the folder %1 cannot be created").arg(grand));
            makeFolder(parent);
            for (const char* sub : {"cur", "new", "tmp"})
                makeFolder(parent + QLatin1Char('/') + QLatin1String(sub));
        }
        makeFolder(m_path);
    }
    for (const char* sub : {"cur", "new", "tmp"})
        makeFolder(m_path + QLatin1Char('/') + QLatin1String(sub));
    if (!existed && folder.fileName().startsWith(QLatin1Char('.'))) {
        const QByteArray marker = QFile::encodeName(m_path + QStringLiteral("/maildirfolder"));
        const int fd = ::open(marker.constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
        if (fd >= 0)
            ::close(fd);
    }
    checkWritable(m_path + QStringLiteral("/tmp"));
    checkWritable(m_path + QStringLiteral("/new"));
}

QString MaildirFolder::deliver(const QByteArray& message) const
{
    QString name;
    QByteArray tmpPath;
    int fd = -1;
    // A name that exists already (a clock set back, a reused pid) is not overwritten.
    for (int attempt = 0; attempt < 5 && fd < 0; ++attempt) {
        name = uniqueName();
        tmpPath = QFile::encodeName(m_path + QStringLiteral("/tmp/") + name);
        fd = ::open(tmpPath.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0 && errno != EEXIST)
            break;
    }
    if (fd < 0)
        throw LocalMailError(QStringLiteral("the message cannot be written into %1/tmp: %2")
                                 .arg(m_path, systemError(errno)));

    const bool written = writeAll(fd, message) && ::fsync(fd) == 0;
    int error = written ? 0 : errno;
    if (::close(fd) != 0 && written)
        error = errno;
    if (error != 0) {
        ::unlink(tmpPath.constData());
        throw LocalMailError(QStringLiteral("the message cannot be written into %1/tmp: %2")
                                 .arg(m_path, systemError(error)));
    }

    const QString target = m_path + QStringLiteral("/new/") + name;
    if (::rename(tmpPath.constData(), QFile::encodeName(target).constData()) != 0) {
        error = errno;
        ::unlink(tmpPath.constData());
        throw LocalMailError(
            QStringLiteral("the message cannot be moved into %1/new: %2").arg(m_path, systemError(error)));
    }
    return target;
}
