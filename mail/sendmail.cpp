#include "mail/sendmail.h"

#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

namespace {

bool isExecutableFile(const QString& path)
{
    const QFileInfo info(path);
    return info.isFile() && info.isExecutable();
}

// The mailer's own words, on one line and not endless.
QString errorOutput(const QByteArray& raw)
{
    QString text = QString::fromLocal8Bit(raw).trimmed();
    text.replace(QLatin1Char('\n'), QLatin1String("; "));
    if (text.size() > 1000)
        text = text.left(1000) + QStringLiteral("...");
    return text;
}

} // namespace

QString findSendmail()
{
    const QString onPath = QStandardPaths::findExecutable(QStringLiteral("sendmail"));
    if (!onPath.isEmpty())
        return onPath;
    for (const char* candidate : {"/usr/sbin/sendmail", "/usr/lib/sendmail"})
        if (isExecutableFile(QLatin1String(candidate)))
            return QLatin1String(candidate);
    return {};
}

void Sendmail::send(const QByteArray& message, const QStringList& recipients) const
{
    QProcess mailer;
    mailer.setProgram(m_program);
    // "--" ends the options: an address that starts with "-" is an address.
    mailer.setArguments(recipients.isEmpty() ? QStringList{QStringLiteral("-t"), QStringLiteral("-oi")}
                                             : QStringList{QStringLiteral("-oi"), QStringLiteral("--")} + recipients);
    mailer.setStandardOutputFile(QProcess::nullDevice());
    mailer.start(QIODevice::ReadWrite);
    if (!mailer.waitForStarted(m_timeoutMs))
        throw LocalMailError(QStringLiteral("%1 cannot be run: %2").arg(m_program, mailer.errorString()));

    // A mailer that exits early (a bad option, a refused message) closes its input: writing then
    // fails, and its exit status and error output below say why.
    mailer.write(localLineEnds(message));
    mailer.closeWriteChannel();
    if (!mailer.waitForFinished(m_timeoutMs)) {
        mailer.kill();
        mailer.waitForFinished(5000);
        throw LocalMailError(
            QStringLiteral("%1 did not finish within %2 seconds").arg(m_program).arg(m_timeoutMs / 1000));
    }
    const QString words = errorOutput(mailer.readAllStandardError());
    const QString told = words.isEmpty() ? QString() : QStringLiteral(": ") + words;
    if (mailer.exitStatus() == QProcess::CrashExit)
        throw LocalMailError(QStringLiteral("%1 stopped abnormally%2").arg(m_program, told));
    if (mailer.exitCode() != 0)
        throw LocalMailError(QStringLiteral("%1 exited with status %2%3").arg(m_program).arg(mailer.exitCode()).arg(told));
}
