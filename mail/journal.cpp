#include "mail/journal.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sqlite3.h>

#include <algorithm>
#include <iterator>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The layout's steps, one per version: a journal of version n runs steps n.. on open. A step may
// only add to what is there, so that a journal written by an older version keeps its history.
const char* const Upgrades[] = {
    // 1: runs of mailings, chained; the rows each run journaled, one line per row and run.
    "CREATE TABLE runs(id INTEGER PRIMARY KEY, mailing TEXT NOT NULL, chain INTEGER NOT NULL,"
    " started TEXT NOT NULL);"
    "CREATE INDEX runs_by_mailing ON runs(mailing, id);"
    "CREATE TABLE rows(run INTEGER NOT NULL REFERENCES runs(id), row INTEGER NOT NULL,"
    " address TEXT NOT NULL,"
    " state TEXT NOT NULL CHECK(state IN ('sending', 'sent', 'failed', 'unknown', 'skipped')),"
    " comment TEXT NOT NULL DEFAULT '', changed TEXT NOT NULL, PRIMARY KEY(run, row, address))"
    " WITHOUT ROWID;"
    "CREATE INDEX rows_sending ON rows(run) WHERE state = 'sending';",
};
constexpr int Version = int(std::size(Upgrades));

// Long enough for another run's commit, which takes one flush to the disk.
constexpr int BusyTimeoutMs = 10000;

const char* stateName(RowState state)
{
    switch (state) {
    case RowState::Sending: return "sending";
    case RowState::Sent: return "sent";
    case RowState::Failed: return "failed";
    case RowState::Unknown: return "unknown";
    case RowState::Skipped: return "skipped";
    }
    return "failed";
}

RowState stateFromName(const QByteArray& name)
{
    if (name == "sent")
        return RowState::Sent;
    if (name == "sending" || name == "unknown")
        return RowState::Unknown; // may have been delivered
    if (name == "skipped")
        return RowState::Skipped;
    return RowState::Failed;
}

// How far a state goes towards "done": a later record does not undo a message that went out.
int weight(RowState state)
{
    switch (state) {
    case RowState::Sent: return 3;
    case RowState::Sending:
    case RowState::Unknown: return 2;
    default: return 1;
    }
}

QString now()
{
    return QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs);
}

JournalError makeError(sqlite3* db, JournalError::Kind kind, const QString& path, const QString& what)
{
    const int code = db ? sqlite3_errcode(db) : SQLITE_ERROR;
    const bool damaged = code == SQLITE_CORRUPT || code == SQLITE_NOTADB;
    if (damaged)
        kind = JournalError::Kind::Corrupt;
    QString cause = QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(path),
                                                 damaged ? QStringLiteral("is damaged, or no database") : what);
    if (db && code != SQLITE_OK)
        cause += QStringLiteral(" (%1)").arg(QString::fromUtf8(sqlite3_errmsg(db)));
    return {kind, cause};
}

void setError(JournalError* error, JournalError value)
{
    if (error)
        *error = std::move(value);
}

// One prepared statement, finalized when it goes.
class Statement {
public:
    Statement(sqlite3* db, const char* sql) { m_ok = sqlite3_prepare_v2(db, sql, -1, &m_stmt, nullptr) == SQLITE_OK; }
    ~Statement() { sqlite3_finalize(m_stmt); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    Statement& bind(int at, const QString& text)
    {
        const QByteArray utf8 = text.toUtf8();
        m_ok = m_ok && sqlite3_bind_text(m_stmt, at, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT) == SQLITE_OK;
        return *this;
    }
    Statement& bind(int at, qint64 number)
    {
        m_ok = m_ok && sqlite3_bind_int64(m_stmt, at, number) == SQLITE_OK;
        return *this;
    }
    // True while there is a row; check ok() after the last.
    bool next()
    {
        if (!m_ok)
            return false;
        const int code = sqlite3_step(m_stmt);
        m_ok = code == SQLITE_ROW || code == SQLITE_DONE;
        return code == SQLITE_ROW;
    }
    // Runs a statement that returns no row.
    bool run()
    {
        while (next()) {
        }
        return m_ok;
    }
    bool ok() const { return m_ok; }
    // Lets go of the row read, so that a transaction can end.
    void finish() { sqlite3_reset(m_stmt); }
    qint64 number(int column) const { return sqlite3_column_int64(m_stmt, column); }
    QByteArray bytes(int column) const
    {
        return QByteArray(reinterpret_cast<const char*>(sqlite3_column_text(m_stmt, column)),
                          sqlite3_column_bytes(m_stmt, column));
    }
    QString text(int column) const { return QString::fromUtf8(bytes(column)); }

private:
    sqlite3_stmt* m_stmt = nullptr;
    bool m_ok = false;
};

bool exec(sqlite3* db, const char* sql)
{
    return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

// Ends a transaction that was not committed.
class Transaction {
public:
    explicit Transaction(sqlite3* db) : m_db(db) { m_open = exec(db, "BEGIN IMMEDIATE"); }
    ~Transaction()
    {
        if (m_open)
            exec(m_db, "ROLLBACK");
    }
    bool open() const { return m_open; }
    bool commit()
    {
        m_open = false;
        return exec(m_db, "COMMIT");
    }

private:
    sqlite3* m_db;
    bool m_open;
};

// Makes path's folder, the last level private to the user.
bool makeFolder(const QString& folder)
{
    if (QFileInfo(folder).isDir())
        return true;
    const QFileInfo info(folder);
    if (!QDir().mkpath(info.absolutePath()))
        return false;
    return ::mkdir(QFile::encodeName(folder).constData(), 0700) == 0 || QFileInfo(folder).isDir();
}

QByteArray fileSha256(const QString& path)
{
    QFile file(path);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!file.open(QIODevice::ReadOnly) || !hash.addData(&file))
        return QByteArrayLiteral("unreadable");
    return hash.result().toHex();
}

const char* modeName(MailingMode mode)
{
    switch (mode) {
    case MailingMode::Bulk: return "bulk";
    case MailingMode::Save: return "save";
    case MailingMode::Send: return "send";
    }
    return "bulk";
}

} // namespace

size_t qHash(const RowKey& key, size_t seed)
{
    return qHashMulti(seed, key.row, key.address);
}

Mailing bulkMailing(const BulkJob& job, const MailServerSettings& server)
{
    Mailing mailing;
    mailing.mode = MailingMode::Bulk;
    mailing.workbookPath = job.workbookPath;
    mailing.sheet = job.sheet;
    mailing.emailColumn = job.emailColumn;
    mailing.startLine = job.startLine;
    mailing.subject = job.subject;
    mailing.body = job.body;
    mailing.pairs = job.pairs;
    mailing.attachments = job.attachments;
    mailing.host = server.host;
    mailing.port = server.port;
    mailing.account = server.account;
    mailing.more = personalSettings(job.personal);
    return mailing;
}

QMap<QString, QString> personalSettings(const PersonalMail& personal)
{
    QMap<QString, QString> more;
    const auto column = [&more](const QString& name, int value) {
        if (value > 0)
            more.insert(name, QString::number(value));
    };
    column(QStringLiteral("attach-column"), personal.attachColumn);
    column(QStringLiteral("cc-column"), personal.ccColumn);
    column(QStringLiteral("bcc-column"), personal.bccColumn);
    if (personal.subjectLabels)
        more.insert(QStringLiteral("subject-labels"), QStringLiteral("1"));
    if (personal.html)
        more.insert(QStringLiteral("html"), QStringLiteral("1"));
    if (!personal.documentTemplate.isEmpty()) {
        more.insert(QStringLiteral("document-template"), QFileInfo(personal.documentTemplate).absoluteFilePath());
        more.insert(QStringLiteral("document-template-sha256"),
                    QString::fromLatin1(fileSha256(personal.documentTemplate)));
        more.insert(QStringLiteral("document-format"),
                    personal.documentFormat == PersonalMail::DocumentFormat::Pdf ? QStringLiteral("pdf")
                                                                                 : QStringLiteral("docx"));
        more.insert(QStringLiteral("document-name"), personal.documentName);
    }
    return more;
}

QString SendJournal::defaultPath()
{
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    // The base directory rule: a relative path is to be ignored.
    if (state.isEmpty() || QDir::isRelativePath(state))
        state = QDir::homePath() + QStringLiteral("/.local/state");
    return state + QStringLiteral("/tallyweave/journal.sqlite");
}

QString SendJournal::mailingKey(const Mailing& mailing)
{
    QCryptographicHash hash(QCryptographicHash::Sha256);
    // Each field named and its length given, so that no two mailings hash the same bytes.
    const auto field = [&hash](const QByteArray& name, const QByteArray& value) {
        hash.addData(name + ':' + QByteArray::number(value.size()) + ':');
        hash.addData(value);
        hash.addData("\n");
    };
    const auto number = [&field](const QByteArray& name, int value) { field(name, QByteArray::number(value)); };
    field("mode", modeName(mailing.mode));
    field("workbook", QFileInfo(mailing.workbookPath).absoluteFilePath().toUtf8());
    field("workbook-sha256", fileSha256(mailing.workbookPath));
    number("sheet", mailing.sheet);
    number("email-column", mailing.emailColumn);
    number("start-line", mailing.startLine);
    field("subject", mailing.subject.toUtf8());
    field("body", mailing.body.toUtf8());
    for (const LabelPair& pair : mailing.pairs) {
        number("pair-column", pair.column);
        field("pair-label", pair.label.toUtf8());
    }
    for (const Attachment& attachment : mailing.attachments) {
        field("attachment", attachment.name.toUtf8());
        field("attachment-sha256", fileSha256(attachment.path));
    }
    if (mailing.mode == MailingMode::Bulk) {
        field("host", mailing.host.toUtf8());
        number("port", mailing.port);
        field("account", mailing.account.toUtf8());
    }
    for (auto it = mailing.more.cbegin(); it != mailing.more.cend(); ++it)
        field("more:" + it.key().toUtf8(), it.value().toUtf8());
    return QString::fromLatin1(hash.result().toHex());
}

SendJournal::SendJournal(sqlite3* db, QString path) : m_db(db), m_path(std::move(path)) {}

SendJournal::~SendJournal()
{
    sqlite3_close_v2(m_db);
}

std::unique_ptr<SendJournal> SendJournal::open(const QString& path, JournalError* error)
{
    using Kind = JournalError::Kind;
    const QFileInfo info(path);
    if (!makeFolder(info.absolutePath())) {
        setError(error, makeError(nullptr, Kind::CannotOpen, path, QStringLiteral("its folder cannot be made")));
        return nullptr;
    }
    // The journal names the recipients: only its owner reads it. SQLite gives its side files the
    // mode of the database.
    if (!info.exists()) {
        const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd >= 0)
            ::close(fd);
    }
    sqlite3* db = nullptr;
    const int opened = sqlite3_open_v2(QFile::encodeName(path).constData(), &db,
                                       SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX, nullptr);
    std::unique_ptr<SendJournal> journal(new SendJournal(db, path));
    const auto fail = [&](Kind kind, const QString& what) {
        setError(error, makeError(db, kind, path, what));
        return nullptr;
    };
    if (opened != SQLITE_OK)
        return fail(Kind::CannotOpen, QStringLiteral("cannot be opened"));
    sqlite3_busy_timeout(db, BusyTimeoutMs);

    // The first statement reads the file: a file that is no database fails here.
    {
        Statement check(db, "PRAGMA quick_check");
        QStringList problems;
        while (check.next())
            problems << check.text(0);
        if (!check.ok())
            return fail(Kind::CannotOpen, QStringLiteral("cannot be read"));
        if (problems != QStringList{QStringLiteral("ok")})
            return fail(Kind::Corrupt, QStringLiteral("is damaged: ") + problems.join(QStringLiteral("; ")));
    }
    // Another program's database, or a journal of a later version, is left as it is found.
    const auto readVersion = [db](qint64* tableCount) {
        Statement version(db, "PRAGMA user_version");
        Statement tables(db, "SELECT count(*) FROM sqlite_schema");
        if (!version.next() || !tables.next())
            return -1;
        *tableCount = tables.number(0);
        return int(version.number(0));
    };
    qint64 tableCount = 0;
    int found = readVersion(&tableCount);
    if (found < 0)
        return fail(Kind::CannotOpen, QStringLiteral("cannot be read"));
    if (found > Version)
        return fail(Kind::CannotOpen, QStringLiteral("was written by a newer version of this program"));
    if (found == 0 && tableCount > 0)
        return fail(Kind::CannotOpen, QStringLiteral("is a database, but not a send journal"));

    // A commit is on the disk when it returns, also across a power failure.
    Statement wal(db, "PRAGMA journal_mode=WAL");
    const bool walSet = wal.next();
    wal.finish();
    if (!walSet || !exec(db, "PRAGMA synchronous=FULL") || !exec(db, "PRAGMA foreign_keys=ON"))
        return fail(Kind::CannotOpen, QStringLiteral("cannot be set up"));

    Transaction transaction(db);
    if (!transaction.open())
        return fail(Kind::CannotWrite, QStringLiteral("cannot be written"));
    // Another process may have set it up meanwhile.
    found = readVersion(&tableCount);
    if (found < 0 || found > Version)
        return fail(Kind::CannotOpen, QStringLiteral("cannot be read"));
    for (int step = found; step < Version; ++step)
        if (!exec(db, Upgrades[step]))
            return fail(Kind::CannotWrite, QStringLiteral("cannot be set up"));
    if (found < Version && !exec(db, QByteArray("PRAGMA user_version=" + QByteArray::number(Version)).constData()))
        return fail(Kind::CannotWrite, QStringLiteral("cannot be set up"));
    // A run that ended between "sending" and the outcome: the message may have gone out.
    Statement settle(db, "UPDATE rows SET state = 'unknown', comment = ?1, changed = ?2 WHERE state = 'sending'");
    settle.bind(1, QStringLiteral("the run ended while the message was sent; it may have been delivered"))
        .bind(2, now());
    if (!settle.run() || !transaction.commit())
        return fail(Kind::CannotWrite, QStringLiteral("cannot be written"));
    return journal;
}

namespace {

// The latest chain's rows with their state, folded over the chain's runs.
QHash<RowKey, RowState> chainStates(sqlite3* db, const QString& mailing, bool* ok)
{
    Statement rows(db, "SELECT rows.row, rows.address, rows.state FROM rows JOIN runs ON rows.run = runs.id"
                       " WHERE runs.mailing = ?1 AND runs.chain ="
                       " (SELECT chain FROM runs WHERE mailing = ?1 ORDER BY id DESC LIMIT 1)"
                       " ORDER BY runs.id");
    rows.bind(1, mailing);
    QHash<RowKey, RowState> states;
    while (rows.next()) {
        const RowKey key{int(rows.number(0)), rows.text(1)};
        const RowState state = stateFromName(rows.bytes(2));
        const auto it = states.constFind(key);
        if (it == states.cend() || weight(state) >= weight(*it))
            states.insert(key, state);
    }
    *ok = rows.ok();
    return states;
}

} // namespace

ChainSummary SendJournal::summary(const QString& mailing, JournalError* error) const
{
    ChainSummary summary;
    Statement runs(m_db, "SELECT count(*), max(started) FROM runs WHERE mailing = ?1");
    runs.bind(1, mailing);
    bool ok = runs.next();
    if (ok) {
        summary.runs = int(runs.number(0));
        summary.lastRun = QDateTime::fromString(runs.text(1), Qt::ISODateWithMs);
        runs.finish();
    }
    const QHash<RowKey, RowState> states = ok ? chainStates(m_db, mailing, &ok) : QHash<RowKey, RowState>();
    if (!ok) {
        setError(error, makeError(m_db, JournalError::Kind::CannotOpen, m_path, QStringLiteral("cannot be read")));
        return {};
    }
    for (const RowState state : states) {
        switch (state) {
        case RowState::Sent: ++summary.sent; break;
        case RowState::Failed: ++summary.failed; break;
        case RowState::Skipped: ++summary.skipped; break;
        default: ++summary.unknown; break;
        }
    }
    return summary;
}

QHash<RowKey, RowState> SendJournal::doneRows(const QString& mailing, JournalError* error) const
{
    bool ok = false;
    QHash<RowKey, RowState> states = chainStates(m_db, mailing, &ok);
    if (!ok) {
        setError(error, makeError(m_db, JournalError::Kind::CannotOpen, m_path, QStringLiteral("cannot be read")));
        return {};
    }
    states.removeIf([](const auto& it) { return it.value() != RowState::Sent && it.value() != RowState::Unknown; });
    return states;
}

bool SendJournal::allDone(const QString& mailing, const QList<RowKey>& rows, JournalError* error) const
{
    JournalError failure;
    const QHash<RowKey, RowState> done = doneRows(mailing, &failure);
    if (failure) {
        setError(error, failure);
        return false;
    }
    return !rows.isEmpty() && std::all_of(rows.cbegin(), rows.cend(), [&](const RowKey& row) { return done.contains(row); });
}

bool SendJournal::startRun(const QString& mailing, Chain chain, JournalError* error)
{
    Transaction transaction(m_db);
    Statement latest(m_db, "SELECT chain FROM runs WHERE mailing = ?1 ORDER BY id DESC LIMIT 1");
    latest.bind(1, mailing);
    const bool found = transaction.open() && latest.next();
    const qint64 latestChain = found ? latest.number(0) : 0;
    latest.finish();
    Statement insert(m_db, "INSERT INTO runs(mailing, chain, started) VALUES(?1, ?2, ?3)");
    insert.bind(1, mailing).bind(2, latestChain).bind(3, now());
    bool ok = latest.ok() && insert.run();
    const qint64 run = sqlite3_last_insert_rowid(m_db);
    // A new chain is named by its first run.
    if (ok && (!found || chain == Chain::Restart)) {
        Statement own(m_db, "UPDATE runs SET chain = id WHERE id = ?1");
        ok = own.bind(1, run).run();
    }
    if (!ok || !transaction.commit()) {
        setError(error, makeError(m_db, JournalError::Kind::CannotWrite, m_path, QStringLiteral("cannot be written")));
        return false;
    }
    m_run = run;
    return true;
}

bool SendJournal::record(const RowKey& row, RowState state, const QString& comment, JournalError* error)
{
    if (m_run == 0) {
        setError(error, {JournalError::Kind::CannotWrite, m_path + QStringLiteral(": no run was started")});
        return false;
    }
    // One statement: its own transaction, on the disk when it returns.
    Statement upsert(m_db, "INSERT INTO rows(run, row, address, state, comment, changed) VALUES(?1, ?2, ?3, ?4, ?5, ?6)"
                           " ON CONFLICT(run, row, address) DO UPDATE SET state = excluded.state,"
                           " comment = excluded.comment, changed = excluded.changed");
    upsert.bind(1, m_run)
        .bind(2, row.row)
        .bind(3, row.address)
        .bind(4, QString::fromLatin1(stateName(state)))
        .bind(5, comment)
        .bind(6, now());
    if (!upsert.run()) {
        setError(error, makeError(m_db, JournalError::Kind::CannotWrite, m_path, QStringLiteral("cannot be written")));
        return false;
    }
    return true;
}
