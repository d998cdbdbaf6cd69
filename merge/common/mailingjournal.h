#pragma once
#include "mail/journal.h"

#include <QList>
#include <QString>

#include <memory>
#include <optional>

// A mailing run's use of the send journal, the same for the bulk run and the mail-client run, in the
// window and in the batch command: before the first message it tells whether an earlier run of the
// same mailing exists and how far it got; the caller chooses to resume or restart; then every row
// is journaled before and after its message, and rows done in the chain are left out.
class MailingJournal {
public:
    // What the journal holds of the mailing before this run.
    enum class Earlier {
        None,     // never run
        RowsLeft, // run before, and some recipient rows are not done
        AllDone,  // run before, and every recipient row is done
    };
    enum class Choice { Resume, Restart };

    // Opens the journal (path, or the default one when empty) and looks the mailing up; recipients
    // are the rows that would get a message. Null with *cause set when the journal cannot be used.
    static std::unique_ptr<MailingJournal> open(const QString& path, const Mailing& mailing,
                                                const QList<RowKey>& recipients, QString* cause);

    Earlier earlier() const { return m_earlier; }
    const ChainSummary& summary() const { return m_summary; }
    const QString& path() const { return m_journal->path(); }

    // Starts this run: Resume goes on with the current chain and leaves its done rows out; Restart
    // begins a new chain in which every row is sent again. False with *cause set on failure.
    bool start(Choice choice, QString* cause);

    // The state a row already has in the chain when it is done (Sent or Unknown); nothing when this
    // run must send to it.
    std::optional<RowState> done(const RowKey& row) const;

    // Journals a row's state, committed before it returns. False with *cause set on failure: the
    // run must stop, since it can no longer promise not to send twice.
    bool record(const RowKey& row, RowState state, const QString& comment, QString* cause);

private:
    std::unique_ptr<SendJournal> m_journal;
    QString m_key;
    Earlier m_earlier = Earlier::None;
    ChainSummary m_summary;
    QHash<RowKey, RowState> m_done;
};

// The batch commands' --resume / --restart, and the text that refuses a run of a mailing that ran
// before when neither is given.
QString earlierRunRefusal(const ChainSummary& summary);
