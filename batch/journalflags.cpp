#include "batch/journalflags.h"

#include "batch/arguments.h"

bool JournalFlags::take(const QString& flag, const QString& value) {
    if (flag == QLatin1String("--journal"))
        path = value;
    else if (flag == QLatin1String("--resume"))
        resume = true;
    else if (flag == QLatin1String("--restart"))
        restart = true;
    else
        return false;
    return true;
}

void JournalFlags::check() const {
    if (resume && restart)
        throw UsageError{QStringLiteral("--resume and --restart exclude each other")};
}

QString unknownDeliveryComment() {
    return QStringLiteral("delivery unknown: an earlier run handed this message over without an answer; "
                          "it was not sent again");
}

std::unique_ptr<MailingJournal> startJournaledRun(const JournalFlags& flags, const Mailing& mailing,
                                                  const QList<RowKey>& recipients, QString* cause) {
    QString why;
    std::unique_ptr<MailingJournal> journal = MailingJournal::open(flags.path, mailing, recipients, &why);
    if (!journal) {
        *cause = QStringLiteral("the send journal cannot be used: ") + why;
        return nullptr;
    }
    if (journal->earlier() != MailingJournal::Earlier::None && !flags.resume && !flags.restart) {
        *cause = earlierRunRefusal(journal->summary());
        return nullptr;
    }
    const MailingJournal::Choice choice =
        flags.restart ? MailingJournal::Choice::Restart : MailingJournal::Choice::Resume;
    if (!journal->start(choice, &why)) {
        *cause = QStringLiteral("the send journal cannot be written: ") + why;
        return nullptr;
    }
    return journal;
}
