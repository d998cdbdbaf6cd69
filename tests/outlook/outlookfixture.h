#pragma once
// What the mail-client tests share: workbooks as comma-separated text, a private Maildir root,
// and a system mailer on a private PATH: msmtp delivering to the test's SMTP server, or a script
// that fails the way a mailer does.
#include "mail/mailfixture.h"

#include <QDir>
#include <QFile>
#include <QFileDevice>
#include <QStringList>

namespace outlookfixture {

inline QString csvField(const QString& text) {
    if (!text.contains(QLatin1Char(',')) && !text.contains(QLatin1Char('"')) && !text.contains(QLatin1Char('\n')))
        return text;
    QString quoted = text;
    quoted.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

// A one-sheet workbook: one list of cell texts per row, from column A.
inline bool writeBook(const QString& path, const QList<QStringList>& rows) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    for (const QStringList& row : rows) {
        QStringList fields;
        for (const QString& cell : row)
            fields << csvField(cell);
        file.write(fields.join(QLatin1Char(',')).toUtf8() + "\r\n");
    }
    return true;
}

inline bool writeFile(const QString& path, const QByteArray& bytes, bool executable = false) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        return false;
    file.close();
    if (executable)
        file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    return true;
}

inline QStringList entries(const QString& folder) {
    return QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}

// Points PATH at folder (alone) for the rest of the process, so that the only sendmail found is
// the one the test put there; sh, msmtp and friends are called by full path from the scripts.
inline void usePrivatePath(const QString& folder) {
    qputenv("PATH", QFile::encodeName(folder));
}

// folder/sendmail: msmtp with an rc file of its own, delivering to 127.0.0.1:port without
// authentication; every call appends its arguments to folder/calls.log.
inline bool installMsmtp(const QString& folder, int port, const QString& envelopeFrom) {
    const QString rc = folder + QStringLiteral("/msmtprc");
    const QByteArray config = "defaults\nauth off\ntls off\nlogfile " + QFile::encodeName(folder) +
                              "/msmtp.log\n\naccount default\nhost 127.0.0.1\nport " + QByteArray::number(port) +
                              "\nfrom " + envelopeFrom.toUtf8() + "\n";
    if (!writeFile(rc, config))
        return false;
    QFile::setPermissions(rc, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    const QByteArray script = "#!/bin/sh\necho \"$@\" >> '" + QFile::encodeName(folder) +
                              "/calls.log'\nexec /usr/bin/msmtp -C '" + QFile::encodeName(rc) + "' \"$@\"\n";
    return writeFile(folder + QStringLiteral("/sendmail"), script, true);
}

// folder/sendmail: takes the message (kept as folder/mail-N) and succeeds for the first `good`
// calls; every later call writes a refusal to its error output and exits with status 75.
inline bool installFailingMailer(const QString& folder, int good) {
    const QByteArray dir = QFile::encodeName(folder);
    const QByteArray script = "#!/bin/sh\nn=$(( $(/usr/bin/cat '" + dir + "/count' 2>/dev/null || echo 0) + 1 ))\n"
                              "echo $n > '" + dir + "/count'\n/usr/bin/cat > '" + dir + "/mail-'$n\n"
                              "if [ $n -gt " + QByteArray::number(good) + " ]; then\n"
                              "  echo 'sendmail: 451 relay temporarily refused' >&2\n  exit 75\nfi\n";
    return writeFile(folder + QStringLiteral("/sendmail"), script, true);
}

inline QStringList mailerCalls(const QString& folder) {
    QFile log(folder + QStringLiteral("/calls.log"));
    if (!log.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(log.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

} // namespace outlookfixture
