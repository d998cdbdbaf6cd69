#include "merge/common/mailingjournal.h"

std::unique_ptr<MailingJournal> MailingJournal::open(const QString& path, const Mailing& mailing,
                                                     const QList<RowKey>& recipients, QString* cause) {
    JournalError error;
    std::unique_ptr<SendJournal> journal =
        SendJournal::open(path.isEmpty() ? SendJournal::defaultPath() : path, &error);
    if (!journal) {
        *cause = error.cause;
        return nullptr;
    }
    std::unique_ptr<MailingJournal> m(new MailingJournal);
    m->m_journal = std::move(journal);
    m->m_key = SendJournal::mailingKey(mailing);
    m->m_summary = m->m_journal->summary(m->m_key, &error);
    if (error) {
        *cause = error.cause;
        return nullptr;
    }
    if (m->m_summary.runs > 0) {
        const bool allDone = m->m_journal->allDone(m->m_key, recipients, &error);
        if (error) {
            *cause = error.cause;
            return nullptr;
        }
        m->m_earlier = allDone ? Earlier::AllDone : Earlier::RowsLeft;
    }
    return m;
}

bool MailingJournal::start(Choice choice, QString* cause) {
    JournalError error;
    if (choice == Choice::Resume) {
        m_done = m_journal->doneRows(m_key, &error);
        if (error) {
            *cause = error.cause;
            return false;
        }
    } else {
        m_done.clear();
    }
    const SendJournal::Chain chain = choice == Choice::Resume ? SendJournal::Chain::Continue
                                                              : SendJournal::Chain::Restart;
    if (!m_journal->startRun(m_key, chain, &error)) {
        *cause = error.cause;
        return false;
    }
    return true;
}

std::optional<RowState> MailingJournal::done(const RowKey& row) const {
    const auto it = m_done.constFind(row);
    if (it == m_done.constEnd())
        return std::nullopt;
    return *it;
}

bool MailingJournal::record(const RowKey& row, RowState state, const QString& comment, QString* cause) {
    JournalError error;
    if (m_journal->record(row, state, comment, &error))
        return true;
    *cause = error.cause;
    return false;
}

QString earlierRunRefusal(const ChainSummary& s) {
    return QStringLiteral("this mailing was run before (last run %1): sent %2, failed %3, unknown %4; "
                          "--resume sends to the rows not done, --restart to every row again")
        .arg(s.lastRun.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm")))
        .arg(s.sent)
        .arg(s.failed)
        .arg(s.unknown);
}
