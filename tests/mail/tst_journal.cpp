// The send journal on a real SQLite file: which runs make a chain and which rows are done, what
// makes two mailings the same, files it must refuse, and its promise kept when the process that
// writes it is killed in the middle, also in the middle of a write to the disk.
#include "mail/journal.h"
#include "mailfixture.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <sqlite3.h>
#include <sys/stat.h>

#include <functional>

using Change = std::function<void(Mailing&, const QString& folder)>;
Q_DECLARE_METATYPE(Change)

namespace {

RowState stateNamed(const QString& name)
{
    static const QHash<QString, RowState> states = {{"sending", RowState::Sending}, {"sent", RowState::Sent},
                                                    {"failed", RowState::Failed},   {"unknown", RowState::Unknown},
                                                    {"skipped", RowState::Skipped}};
    return states.value(name);
}

// "4" is row 4 of r4@example.org; "4:moved" row 4 of moved@example.org.
RowKey rowNamed(const QString& text)
{
    const QStringList parts = text.split(QLatin1Char(':'));
    const int row = parts.at(0).toInt();
    return {row, (parts.size() > 1 ? parts.at(1) : QStringLiteral("r%1").arg(row)) + QStringLiteral("@example.org")};
}

QSet<RowKey> rowsNamed(const QString& list)
{
    QSet<RowKey> rows;
    for (const QString& item : list.split(QLatin1Char(','), Qt::SkipEmptyParts))
        rows.insert(rowNamed(item.trimmed()));
    return rows;
}

// The rows of the journal in the state "sending", read past the class.
int rowsInSending(const QString& path)
{
    sqlite3* db = nullptr;
    int count = -1;
    if (sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt* stmt = nullptr;
        if (sqlite3_prepare_v2(db, "SELECT count(*) FROM rows WHERE state = 'sending'", -1, &stmt, nullptr) == SQLITE_OK
            && sqlite3_step(stmt) == SQLITE_ROW)
            count = sqlite3_column_int(stmt, 0);
        sqlite3_finalize(stmt);
    }
    sqlite3_close(db);
    return count;
}

QString shim()
{
    return QStringLiteral(TW_BINARY_DIR "/tests/diskfault.so");
}

constexpr int WriterRows = 300;

} // namespace

class TestJournal : public QObject {
    Q_OBJECT
private slots:
    void init();
    void chains_data();
    void chains();
    void identity_data();
    void identity();
    void refused_data();
    void refused();
    void placeAndPrivacy_data();
    void placeAndPrivacy();
    void keepsItsPromise_data();
    void keepsItsPromise();
    void twoRunsAtOnce();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    qint64 m_runBytes = 0; // what a whole run of the writer writes to the journal's folder
};

void TestJournal::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void TestJournal::chains_data()
{
    // Runs separated by "|": "continue:" or "restart:" for this mailing, "other:" for another one
    // that continues, then the rows it journals ("3 failed"). The journal is closed and opened
    // again before the questions.
    QTest::addColumn<QString>("runs");
    QTest::addColumn<QList<int>>("counts"); // sent, failed, unknown, skipped
    QTest::addColumn<QString>("done");
    QTest::addColumn<QString>("unknown");
    QTest::newRow("a first run starts the chain") << "continue: 1 sent, 2 failed, 3 skipped, 4 unknown"
                                                  << QList<int>{1, 1, 1, 1} << "1, 4" << "4";
    QTest::newRow("a resumed run continues it: a row failed then sent counts once, as sent")
        << "continue: 1 sent, 2 failed | continue: 2 sent" << QList<int>{2, 0, 0, 0} << "1, 2" << "";
    QTest::newRow("a restart starts a new chain: rows sent before are not done")
        << "continue: 1 sent, 2 sent | restart: 1 failed" << QList<int>{0, 1, 0, 0} << "" << "";
    QTest::newRow("a run after a restart continues the new chain")
        << "continue: 1 sent | restart: 2 sent | continue: 3 sent" << QList<int>{2, 0, 0, 0} << "2, 3" << "";
    QTest::newRow("a row left sending by a run that ended is unknown, and done")
        << "continue: 1 sent, 2 sending" << QList<int>{1, 0, 1, 0} << "1, 2" << "2";
    QTest::newRow("a later failure does not undo a message that may have gone out")
        << "continue: 1 unknown, 2 sent | continue: 1 failed, 2 failed" << QList<int>{1, 0, 1, 0} << "1, 2" << "1";
    QTest::newRow("a later outcome replaces an earlier skip")
        << "continue: 1 skipped | continue: 1 failed" << QList<int>{0, 1, 0, 0} << "" << "";
    QTest::newRow("the same row number with another address is another row")
        << "continue: 1 sent | continue: 1:moved failed" << QList<int>{1, 1, 0, 0} << "1" << "";
    QTest::newRow("another mailing's runs neither count nor break the chain")
        << "continue: 1 failed | other: 1 sent, 2 sent | continue: 2 sent" << QList<int>{1, 1, 0, 0} << "2" << "";
    QTest::newRow("a run that journaled nothing yet") << "continue:" << QList<int>{0, 0, 0, 0} << "" << "";
}

void TestJournal::chains()
{
    QFETCH(QString, runs);
    QFETCH(QList<int>, counts);
    QFETCH(QString, done);
    QFETCH(QString, unknown);
    const QString path = m_dir->filePath(QStringLiteral("journal.sqlite"));
    const QString mailing = QStringLiteral("this mailing"), other = QStringLiteral("another mailing");
    const QDateTime before = QDateTime::currentDateTimeUtc().addMSecs(-1);
    int ownRuns = 0;
    {
        JournalError error;
        auto journal = SendJournal::open(path, &error);
        QVERIFY2(journal, qPrintable(error.cause));
        QCOMPARE(journal->summary(mailing).runs, 0);
        QVERIFY(!journal->summary(mailing).lastRun.isValid());
        for (const QString& run : runs.split(QLatin1Char('|'))) {
            const QString how = run.section(QLatin1Char(':'), 0, 0).trimmed();
            const bool isOther = how == QLatin1String("other");
            ownRuns += isOther ? 0 : 1;
            QVERIFY(journal->startRun(isOther ? other : mailing,
                                      how == QLatin1String("restart") ? SendJournal::Chain::Restart
                                                                      : SendJournal::Chain::Continue));
            for (const QString& item : run.section(QLatin1Char(':'), 1).split(QLatin1Char(','), Qt::SkipEmptyParts)) {
                const QStringList words = item.simplified().split(QLatin1Char(' '));
                // Every message goes through "sending" first, as a run records it.
                QVERIFY(journal->record(rowNamed(words.at(0)), RowState::Sending));
                if (words.at(1) != QLatin1String("sending"))
                    QVERIFY(journal->record(rowNamed(words.at(0)), stateNamed(words.at(1)), QStringLiteral("why")));
            }
        }
    }
    JournalError error;
    auto journal = SendJournal::open(path, &error);
    QVERIFY2(journal, qPrintable(error.cause));
    const ChainSummary summary = journal->summary(mailing, &error);
    QVERIFY2(!error, qPrintable(error.cause));
    QCOMPARE((QList<int>{summary.sent, summary.failed, summary.unknown, summary.skipped}), counts);
    QCOMPARE(summary.runs, ownRuns);
    QVERIFY(summary.lastRun >= before && summary.lastRun <= QDateTime::currentDateTimeUtc());

    const QHash<RowKey, RowState> doneRows = journal->doneRows(mailing);
    QCOMPARE(QSet<RowKey>(doneRows.keyBegin(), doneRows.keyEnd()), rowsNamed(done));
    QSet<RowKey> unknownRows;
    for (auto it = doneRows.cbegin(); it != doneRows.cend(); ++it)
        if (*it == RowState::Unknown)
            unknownRows.insert(it.key());
    QCOMPARE(unknownRows, rowsNamed(unknown));

    const QList<RowKey> doneList = rowsNamed(done).values();
    QCOMPARE(journal->allDone(mailing, doneList), !doneList.isEmpty());
    QVERIFY2(!journal->allDone(mailing, doneList + QList<RowKey>{rowNamed(QStringLiteral("99"))}),
             "a row no run journaled is not done");
}

void TestJournal::identity_data()
{
    QTest::addColumn<Change>("change");
    QTest::addColumn<bool>("same");
    QTest::addColumn<int>("mode"); // of the mailing changed and compared with
    const auto row = [](const char* name, bool same, Change change, MailingMode mode = MailingMode::Bulk) {
        QTest::newRow(name) << change << same << int(mode);
    };
    row("the same settings again are the same mailing", true, [](Mailing&, const QString&) {});
    row("the server's password is no part of it", true, [](Mailing& m, const QString&) {
        BulkJob job{m.workbookPath, m.sheet, m.emailColumn, m.startLine, m.pairs, m.subject, m.body, m.attachments, {}};
        m = bulkMailing(job, MailServerSettings{"x@example.org", m.host, m.port, m.account, "another password", true});
    });
    row("the mail client mode does not depend on the server", true,
        [](Mailing& m, const QString&) { m.host = QStringLiteral("elsewhere.example.org"); }, MailingMode::Save);
    row("another mode", false, [](Mailing& m, const QString&) { m.mode = MailingMode::Send; });
    row("the same bytes in another workbook file", false, [](Mailing& m, const QString& folder) {
        QFile::copy(m.workbookPath, folder + QStringLiteral("/copy.csv"));
        m.workbookPath = folder + QStringLiteral("/copy.csv");
    });
    row("the workbook's bytes changed", false, [](Mailing& m, const QString&) {
        mailfixture::writeFile(m.workbookPath, "ann@example.org,Ann\nbob@example.org,Bobby\n");
    });
    row("another sheet", false, [](Mailing& m, const QString&) { m.sheet = 2; });
    row("another e-mail column", false, [](Mailing& m, const QString&) { m.emailColumn = 2; });
    row("another start line", false, [](Mailing& m, const QString&) { m.startLine = 2; });
    row("another subject", false, [](Mailing& m, const QString&) { m.subject += u'!'; });
    row("another body", false, [](Mailing& m, const QString&) { m.body += QStringLiteral("\r\n"); });
    row("a fill-in pair more", false, [](Mailing& m, const QString&) { m.pairs.append({3, QStringLiteral("TOWN")}); });
    row("a pair's label changed", false, [](Mailing& m, const QString&) { m.pairs[0].label = QStringLiteral("NAMES"); });
    row("the label moved from subject to body", false, [](Mailing& m, const QString&) {
        m.subject = QStringLiteral("Hello NAME");
        m.body = QStringLiteral("Dear,");
    });
    row("an attachment's bytes changed", false,
        [](Mailing& m, const QString&) { mailfixture::writeFile(m.attachments[0].path, "other bytes"); });
    row("an attachment named otherwise", false, [](Mailing& m, const QString&) { m.attachments[0].name = "b.txt"; });
    row("another server", false, [](Mailing& m, const QString&) { m.host = QStringLiteral("mail2.example.org"); });
    row("another port", false, [](Mailing& m, const QString&) { m.port = 587; });
    row("another account", false, [](Mailing& m, const QString&) { m.account = QStringLiteral("bob"); });
    row("a setting added later, once set", false,
        [](Mailing& m, const QString&) { m.more.insert(QStringLiteral("cc-column"), QStringLiteral("C")); });
}

void TestJournal::identity()
{
    QFETCH(Change, change);
    QFETCH(bool, same);
    QFETCH(int, mode);
    const QString folder = m_dir->path();
    BulkJob job;
    job.workbookPath = mailfixture::writeFile(folder + QStringLiteral("/book.csv"), "ann@example.org,Ann\nbob@example.org,Bob\n");
    job.pairs = {{2, QStringLiteral("NAME")}};
    job.subject = QStringLiteral("Hello");
    job.body = QStringLiteral("Dear NAME,");
    job.attachments = {{QStringLiteral("a.txt"), mailfixture::writeFile(folder + QStringLiteral("/a.txt"), "bytes")}};
    Mailing base = bulkMailing(job, MailServerSettings{"ann@example.org", "mail.example.org", 25, "ann", "pw", false});
    base.mode = MailingMode(mode);
    const QString key = SendJournal::mailingKey(base);
    QCOMPARE(key.size(), 64);
    Mailing changed = base;
    change(changed, folder);
    QCOMPARE(SendJournal::mailingKey(changed) == key, same);
}

void TestJournal::refused_data()
{
    // How the file is spoilt before it is opened; what open() says.
    QTest::addColumn<QString>("spoil");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("cause");
    QTest::newRow("a file that is no database") << "text" << int(JournalError::Kind::Corrupt) << "not a database";
    QTest::newRow("a journal with a damaged page") << "damage" << int(JournalError::Kind::Corrupt) << "damaged";
    QTest::newRow("another program's database") << "foreign" << int(JournalError::Kind::CannotOpen)
                                                << "not a send journal";
    QTest::newRow("a journal of a newer version") << "newer" << int(JournalError::Kind::CannotOpen) << "newer version";
    QTest::newRow("a folder that is a file") << "folder" << int(JournalError::Kind::CannotOpen) << "folder";
}

void TestJournal::refused()
{
    QFETCH(QString, spoil);
    QFETCH(int, kind);
    QFETCH(QString, cause);
    QString path = m_dir->filePath(QStringLiteral("journal.sqlite"));
    const auto sql = [&path](const char* statements) {
        sqlite3* db = nullptr;
        QCOMPARE(sqlite3_open(QFile::encodeName(path).constData(), &db), SQLITE_OK);
        QCOMPARE(sqlite3_exec(db, statements, nullptr, nullptr, nullptr), SQLITE_OK);
        sqlite3_close(db);
    };
    if (spoil == QLatin1String("text")) {
        mailfixture::writeFile(path, QByteArray("Dear Ann,\n").repeated(1000));
    } else if (spoil == QLatin1String("damage")) {
        {
            auto journal = SendJournal::open(path, nullptr);
            QVERIFY(journal && journal->startRun(QStringLiteral("m"), SendJournal::Chain::Continue));
            for (int row = 1; row <= 400; ++row)
                QVERIFY(journal->record({row, QStringLiteral("r%1@example.org").arg(row)}, RowState::Sent));
        }
        sql("PRAGMA wal_checkpoint(TRUNCATE); PRAGMA journal_mode=DELETE");
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadWrite));
        QVERIFY(file.size() > 8 * 4096);
        file.seek(5 * 4096);
        file.write(QByteArray(4096, '\x7f'));
    } else if (spoil == QLatin1String("foreign")) {
        sql("CREATE TABLE addresses(name TEXT)");
    } else if (spoil == QLatin1String("newer")) {
        SendJournal::open(path, nullptr);
        sql("PRAGMA user_version = 99");
    } else {
        mailfixture::writeFile(m_dir->filePath(QStringLiteral("plain")), "a file");
        path = m_dir->filePath(QStringLiteral("plain/state/journal.sqlite"));
    }
    QFile file(path);
    const QByteArray bytes = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    file.close();

    JournalError error;
    QVERIFY(!SendJournal::open(path, &error));
    QCOMPARE(int(error.kind), kind);
    QVERIFY2(error.cause.contains(cause, Qt::CaseInsensitive) && error.cause.contains(path), qPrintable(error.cause));
    // The user's history stays as it was, for a closer look.
    if (spoil != QLatin1String("folder")) {
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), bytes);
    }
}

void TestJournal::placeAndPrivacy_data()
{
    QTest::addColumn<QString>("stateHome"); // XDG_STATE_HOME under the test's folder; "-" unset
    QTest::addColumn<QString>("expected");  // under the test's folder, HOME being the folder
    QTest::newRow("the state folder named by XDG_STATE_HOME") << "state" << "state/tallyweave/journal.sqlite";
    QTest::newRow("~/.local/state without it") << "-" << ".local/state/tallyweave/journal.sqlite";
    QTest::newRow("a relative XDG_STATE_HOME is ignored") << "relative" << ".local/state/tallyweave/journal.sqlite";
}

void TestJournal::placeAndPrivacy()
{
    QFETCH(QString, stateHome);
    QFETCH(QString, expected);
    const QByteArray home = qgetenv("HOME"), state = qgetenv("XDG_STATE_HOME");
    qputenv("HOME", QFile::encodeName(m_dir->path()));
    if (stateHome == QLatin1String("-"))
        qunsetenv("XDG_STATE_HOME");
    else
        qputenv("XDG_STATE_HOME", QFile::encodeName(stateHome == QLatin1String("relative") ? stateHome
                                                                                         : m_dir->filePath(stateHome)));
    const QString path = SendJournal::defaultPath();
    qputenv("HOME", home);
    state.isNull() ? qunsetenv("XDG_STATE_HOME") : qputenv("XDG_STATE_HOME", state);
    QCOMPARE(path, m_dir->filePath(expected));

    JournalError error;
    QVERIFY2(SendJournal::open(path, &error), qPrintable(error.cause));
    struct stat info {};
    QCOMPARE(::stat(QFile::encodeName(QFileInfo(path).absolutePath()).constData(), &info), 0);
    QCOMPARE(info.st_mode & 0777, 0700u);
    QCOMPARE(::stat(QFile::encodeName(path).constData(), &info), 0);
    QCOMPARE(info.st_mode & 0777, 0600u);
}

void TestJournal::keepsItsPromise_data()
{
    // How the writer is stopped: SIGKILL once it has reported so many records; or its writes to
    // the journal's folder cut at a share of what a whole run writes, then killed ("kill") or
    // failing as on a full disk ("enospc").
    QTest::addColumn<QString>("how");
    QTest::addColumn<double>("at");
    QTest::newRow("killed after the first row's sending") << "sigkill" << 1.0;
    QTest::newRow("killed between a sending and its outcome") << "sigkill" << 8.0;
    QTest::newRow("killed in the middle of the run") << "sigkill" << 250.0;
    QTest::newRow("killed near the end") << "sigkill" << 540.0;
    for (const double share : {0.002, 0.1, 0.37, 0.5, 0.73, 0.95})
        QTest::addRow("killed in a write, after %.1f%% of a run's bytes", share * 100) << "kill" << share;
    QTest::newRow("the disk full half-way") << "enospc" << 0.5;
}

void TestJournal::keepsItsPromise()
{
    QFETCH(QString, how);
    QFETCH(double, at);
    // The shim watches the journal's folder; the tally of bytes goes beside it.
    const QString folder = QFileInfo(m_dir->path()).canonicalFilePath() + QStringLiteral("/state");
    const QString path = folder + QStringLiteral("/journal.sqlite");
    const QString mailing = QStringLiteral("a mailing of %1 rows").arg(WriterRows);
    const QString tally = m_dir->filePath(QStringLiteral("tally"));
    QVERIFY(QDir().mkpath(folder));

    const auto start = [&](QProcess& writer, const QString& mode, qint64 after, int rows = WriterRows) {
        if (!mode.isEmpty()) {
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert(QStringLiteral("LD_PRELOAD"), shim());
            env.insert(QStringLiteral("TW_FAULT_DIR"), folder);
            env.insert(QStringLiteral("TW_FAULT_MODE"), mode);
            env.insert(QStringLiteral("TW_FAULT_AFTER"), QString::number(after));
            env.insert(QStringLiteral("TW_FAULT_TALLY"), tally);
            // In a sanitizer build the shim comes before the sanitizer's runtime, which it does
            // not mind: the shim only wraps write calls.
            env.insert(QStringLiteral("ASAN_OPTIONS"),
                       env.value(QStringLiteral("ASAN_OPTIONS")) + QStringLiteral(":verify_asan_link_order=0"));
            writer.setProcessEnvironment(env);
        }
        writer.start(QStringLiteral(TW_BINARY_DIR "/tests/journalwriter"),
                     {path, mailing, QString::number(rows)});
        return writer.waitForStarted();
    };
    if (how != QLatin1String("sigkill") && m_runBytes == 0) {
        // What a whole run writes, measured once by a run let through.
        QProcess whole;
        QVERIFY(start(whole, QStringLiteral("enospc"), qint64(1) << 60));
        QVERIFY(whole.waitForFinished(120000));
        QCOMPARE(whole.exitCode(), 0);
        QFile file(tally);
        QVERIFY(file.open(QIODevice::ReadOnly));
        m_runBytes = file.readAll().trimmed().toLongLong();
        QVERIFY(m_runBytes > 0);
        for (const QString& name : QDir(folder).entryList(QDir::Files))
            QVERIFY(QFile::remove(folder + u'/' + name));
    }
    if (how != QLatin1String("sigkill"))
        at *= double(m_runBytes);

    QProcess writer;
    QVERIFY(start(writer, how == QLatin1String("sigkill") ? QString() : how, qint64(at)));
    QByteArray out;
    if (how == QLatin1String("sigkill")) {
        while (out.count('\n') < int(at) && writer.waitForReadyRead(20000))
            out += writer.readAllStandardOutput();
        QCOMPARE(out.count('\n') >= int(at), true);
        writer.kill();
    }
    QVERIFY(writer.waitForFinished(120000));
    out += writer.readAllStandardOutput();
    if (how == QLatin1String("enospc"))
        QVERIFY2(writer.exitStatus() == QProcess::NormalExit && writer.exitCode() == 3
                     && writer.readAllStandardError().contains("cannot be written"),
                 "a journal that cannot be written stops the run, with the cause");
    else
        QCOMPARE(writer.exitStatus(), QProcess::CrashExit);

    // What the writer was told was committed, row by row: the last word wins.
    QHash<RowKey, QString> promised;
    int lastRow = 0;
    for (const QByteArray& line : out.split('\n')) {
        const QList<QByteArray> words = line.split(' ');
        if (words.size() != 2)
            continue;
        lastRow = words.at(1).toInt();
        promised.insert({lastRow, QStringLiteral("r%1@example.org").arg(lastRow)}, QString::fromLatin1(words.at(0)));
    }

    JournalError error;
    auto journal = SendJournal::open(path, &error);
    QVERIFY2(journal, qPrintable(error.cause));
    QCOMPARE(rowsInSending(path), 0);
    const QHash<RowKey, RowState> done = journal->doneRows(mailing, &error);
    QVERIFY2(!error, qPrintable(error.cause));
    for (auto it = promised.cbegin(); it != promised.cend(); ++it) {
        const QString& said = it.value();
        if (said == QLatin1String("sending") || said == QLatin1String("unknown"))
            QVERIFY2(done.value(it.key(), RowState::Failed) == RowState::Unknown
                         || done.value(it.key(), RowState::Failed) == RowState::Sent,
                     qPrintable(QStringLiteral("row %1, %2, is done").arg(it.key().row).arg(said)));
        else if (said == QLatin1String("sent"))
            QVERIFY2(done.value(it.key()) == RowState::Sent, qPrintable(QStringLiteral("row %1 is sent").arg(it.key().row)));
        else
            QVERIFY2(!done.contains(it.key()), qPrintable(QStringLiteral("row %1 is not done").arg(it.key().row)));
    }
    // Nothing is done that the writer had not begun: at most the record it was committing.
    for (auto it = done.cbegin(); it != done.cend(); ++it)
        QVERIFY2(it.key().row <= lastRow + 1, qPrintable(QStringLiteral("row %1 after %2").arg(it.key().row).arg(lastRow)));
    const ChainSummary summary = journal->summary(mailing);
    QVERIFY2(summary.runs == 1 || (summary.runs == 0 && promised.isEmpty()), "killed before its start, or after");
    QVERIFY(summary.sent + summary.unknown >= int(std::count_if(promised.cbegin(), promised.cend(), [](const QString& s) {
                return s == QLatin1String("sent") || s == QLatin1String("sending") || s == QLatin1String("unknown");
            })));

    // A next run goes on with the same journal.
    QProcess resumed;
    QVERIFY(start(resumed, QString(), 0, 3));
    QVERIFY(resumed.waitForFinished(120000));
    QCOMPARE(resumed.exitCode(), 0);
    QCOMPARE(SendJournal::open(path, &error)->summary(mailing).runs, summary.runs + 1);
}

void TestJournal::twoRunsAtOnce()
{
    // Two processes writing one journal wait for each other's commits instead of failing.
    const QString path = m_dir->filePath(QStringLiteral("journal.sqlite"));
    QProcess first, second;
    for (QProcess* writer : {&first, &second})
        writer->start(QStringLiteral(TW_BINARY_DIR "/tests/journalwriter"),
                      {path, writer == &first ? QStringLiteral("first") : QStringLiteral("second"), QStringLiteral("150")});
    for (QProcess* writer : {&first, &second}) {
        QVERIFY(writer->waitForFinished(120000));
        QVERIFY2(writer->exitCode() == 0, writer->readAllStandardError().constData());
    }
    JournalError error;
    auto journal = SendJournal::open(path, &error);
    QVERIFY2(journal, qPrintable(error.cause));
    // Of 150 rows the writer skips every 13th, fails every 7th, leaves every 11th unknown.
    for (const QString& mailing : {QStringLiteral("first"), QStringLiteral("second")}) {
        const ChainSummary summary = journal->summary(mailing);
        QCOMPARE((QList<int>{summary.sent, summary.failed, summary.unknown, summary.skipped}),
                 (QList<int>{108, 20, 11, 11}));
    }
}

QTEST_GUILESS_MAIN(TestJournal)
#include "tst_journal.moc"
