#pragma once
#include "merge/common/mailingjournal.h"

#include <QString>
#include <QStringList>

#include <memory>

// --journal FILE, --resume and --restart of the mail subcommands.
struct JournalFlags {
    QString path; // empty: the default journal
    bool resume = false;
    bool restart = false;

    static inline const QStringList switches{QStringLiteral("--resume"), QStringLiteral("--restart")};
    static inline const QStringList valued{QStringLiteral("--journal")};
    // Takes flag when it is one of these; throws UsageError for both --resume and --restart.
    bool take(const QString& flag, const QString& value);
    void check() const;
};

// The line an unknown row prints in place of its message.
QString unknownDeliveryComment();

// Opens the journal for the mailing and starts this run as the flags say. Null with *cause set when
// the journal cannot be used or the mailing ran before and neither --resume nor --restart was given.
std::unique_ptr<MailingJournal> startJournaledRun(const JournalFlags& flags, const Mailing& mailing,
                                                  const QList<RowKey>& recipients, QString* cause);
