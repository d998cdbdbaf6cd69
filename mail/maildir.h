#pragma once
#include "mail/localmail.h"

#include <QByteArray>
#include <QString>

// The outbox of the mail-client mode: a Maildir folder named Outbox, as a subfolder of the
// user's Maildir (Maildir++). $MAILDIR/.Outbox when MAILDIR is set and not empty, else
// ~/Maildir/.Outbox.
QString defaultOutboxPath();

// One Maildir folder messages are delivered into. A message is written under a unique name
// (seconds.pid_counter.host) into tmp/, flushed to disk and renamed into new/, so that a mail
// program reading the folder never sees half a message.
class MaildirFolder {
public:
    explicit MaildirFolder(QString path) : m_path(std::move(path)) {}

    QString path() const { return m_path; }

    // Creates the folder with cur/, new/ and tmp/ when they are missing (mode 0700), and with its
    // parent when that is missing, and checks that new/ and tmp/ can be written. A folder created
    // below a Maildir++ root is marked with the empty "maildirfolder" file. Throws LocalMailError.
    void prepare() const;

    // Delivers message (line ends as given) and returns the path of the file in new/. Nothing of it
    // is left in tmp/ when this fails. Throws LocalMailError.
    QString deliver(const QByteArray& message) const;

    // The next unique file name for this process.
    static QString uniqueName();

private:
    QString m_path;
};
