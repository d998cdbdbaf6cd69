#pragma once
#include "mail/mailjob.h"

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QMap>
#include <QString>

#include <memory>

struct sqlite3;

// The send journal: what happened to every row of every mailing, kept in an SQLite database so that
// a run that is cancelled, killed or cut off by a power failure can be resumed without sending
// anyone a second message. Every state change is one transaction, committed to the disk before the
// call returns.

// What makes a mailing: the same settings on the same workbook are the same mailing.
enum class MailingMode { Bulk, Save, Send };

struct Mailing {
    MailingMode mode = MailingMode::Bulk;
    QString workbookPath; // its bytes enter the key through their SHA-256
    int sheet = 1;
    int emailColumn = 1;
    int startLine = 1;
    QString subject;
    QString body;
    QList<LabelPair> pairs;
    QList<Attachment> attachments; // names, and the SHA-256 of the files' bytes
    // Bulk mail only: the server the messages go to.
    QString host;
    int port = 0;
    QString account;
    // Settings added after the first version (a Cc column, an HTML body, ...) by name and value. A
    // setting enters the key only when it is here, so that the mailings of the settings before it
    // keep their keys.
    QMap<QString, QString> more;
};

// The bulk dialog's job sent through the server.
Mailing bulkMailing(const BulkJob& job, const MailServerSettings& server);

// The personal settings that are switched on, for Mailing::more: a mailing without any keeps the
// key it had before they existed. The row's own files and addresses come with the workbook's bytes.
QMap<QString, QString> personalSettings(const PersonalMail& personal);

// A journaled row: its sheet row number and its address, so that rows moved in a changed sheet are
// not matched by number alone.
struct RowKey {
    int row = 0;
    QString address;
    friend bool operator==(const RowKey&, const RowKey&) = default;
};
size_t qHash(const RowKey& key, size_t seed = 0);

enum class RowState {
    Sending, // committed before the connection for the message is opened (or the outbox written)
    Sent,    // the server accepted it (or the outbox file is in place, or the mailer exited 0)
    Failed,  // refused, or never handed over
    Unknown, // handed over, but the final reply never came: it may have been delivered
    Skipped, // the address cannot be used
};

struct JournalError {
    enum class Kind { None, CannotOpen, Corrupt, CannotWrite };
    Kind kind = Kind::None;
    QString cause; // the path and SQLite's words
    explicit operator bool() const { return kind != Kind::None; }
};

// The current chain of a mailing: the runs since the last run that sent to every row.
struct ChainSummary {
    int sent = 0;    // rows whose latest state in the chain is...
    int failed = 0;
    int unknown = 0; // ...a row still marked sending counts here
    int skipped = 0;
    int runs = 0;      // runs of the mailing in the journal, all chains
    QDateTime lastRun; // start of the latest run (UTC); invalid without a run
};

class SendJournal {
public:
    // $XDG_STATE_HOME/tallyweave/journal.sqlite, ~/.local/state/tallyweave/journal.sqlite by default.
    static QString defaultPath();

    // Opens the journal at path, creating its folder (mode 0700), the file (0600) and the tables
    // when missing and upgrading an older layout. A row left in Sending by a run that ended without
    // settling it becomes Unknown. A file that is no journal, or a damaged one, is refused and left
    // as it is. Null on failure, with the cause in *error.
    static std::unique_ptr<SendJournal> open(const QString& path, JournalError* error);
    ~SendJournal();
    SendJournal(const SendJournal&) = delete;
    SendJournal& operator=(const SendJournal&) = delete;

    const QString& path() const { return m_path; }

    // The mailing's key: SHA-256 (hex) over every field, the workbook's and the attachments' bytes
    // included (a file that cannot be read enters as unreadable).
    static QString mailingKey(const Mailing& mailing);

    // Questions asked before a run starts, about the mailing's current chain.
    ChainSummary summary(const QString& mailing, JournalError* error = nullptr) const;
    // The rows that a run of the current chain journaled Sent or Unknown (Sending reads as Unknown),
    // with that state: a resumed run leaves them out.
    QHash<RowKey, RowState> doneRows(const QString& mailing, JournalError* error = nullptr) const;
    // Whether every one of rows is done in the current chain (false when rows is empty).
    bool allDone(const QString& mailing, const QList<RowKey>& rows, JournalError* error = nullptr) const;

    enum class Chain { Continue, Restart };
    // Records the start of a run of the mailing: Continue goes on with the latest chain (starting
    // the first when there is none), Restart starts a new one. Later records belong to this run.
    [[nodiscard]] bool startRun(const QString& mailing, Chain chain, JournalError* error = nullptr);
    // Records a row's new state in the current run, committed before it returns; the comment is
    // the server's reply, the transport's error or the reason a row was skipped.
    [[nodiscard]] bool record(const RowKey& row, RowState state, const QString& comment = QString(),
                              JournalError* error = nullptr);

private:
    SendJournal(sqlite3* db, QString path);

    sqlite3* m_db = nullptr;
    QString m_path;
    qint64 m_run = 0;
};
