// SIGINT and SIGTERM stop the word, bulk and outlook subcommands as they stop excel: at the end of
// the record in hand, with the counters printed, "interrupted" said, exit 1, and nothing of the run
// (staging folder, converter) left behind.
#include "mail/mailfixture.h"
#include "mail/mailsettings.h"
#include "support/reportreader.h"

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <csignal>

using mailfixture::MailServer;

class TestBatchStops : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void stopsAtTheNextRecord_data();
    void stopsAtTheNextRecord();
    void interruptedOverwriteRemovesNothingEarlier();
    void stopsWhileTheDocumentsAreMade_data();
    void stopsWhileTheDocumentsAreMade();

private:
    QString at(const QString& name) const { return m_dir.filePath(name); }
    // Processes whose command line names path: a converter still working in the run's folder.
    static QStringList processesNaming(const QString& path);

    QTemporaryDir m_dir;
    MailServer m_server;
    int m_rows = 0;
};

void TestBatchStops::initTestCase() {
    QVERIFY(!qEnvironmentVariable("TALLYWEAVE_BATCH").isEmpty());
    const QString certError = mailfixture::makeCertificates(m_dir.path());
    QVERIFY2(certError.isEmpty(), qPrintable(certError));
    const QString error = m_server.start(m_dir.path(), {"plain:plain"});
    QVERIFY2(error.isEmpty(), qPrintable(error));
    saveMailServerFields(SettingsStore(), MailServerFields{"ann@example.org", "127.0.0.1",
                                                           QString::number(m_server.port("plain")), "ann", "pw",
                                                           false});
    // 1,000 recipients: no run gets through them before the signal comes.
    m_rows = 1000;
    QByteArray book;
    for (int row = 1; row <= m_rows; ++row)
        book += "r" + QByteArray::number(row) + "@example.org,Name " + QByteArray::number(row) + "\n";
    mailfixture::writeFile(at("book.csv"), book);
    mailfixture::writeFile(at("body.txt"), "Dear <name>\n");
    // A system mailer that takes its time over every message.
    QVERIFY(QDir().mkpath(at("bin")));
    const QString mailer = mailfixture::writeFile(at("bin/sendmail"), "#!/bin/sh\ncat >/dev/null\nsleep 0.2\n");
    QVERIFY(QFile::setPermissions(mailer, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    QProcess python;
    python.start(QStringLiteral(TW_PYTHON),
                 {QStringLiteral("-c"), QStringLiteral("import docx,sys\nd=docx.Document()\nd.add_paragraph('Dear "
                                                       "<name>')\nd.save(sys.argv[1])"),
                  at("letter.docx")});
    QVERIFY(python.waitForFinished(60000) && python.exitCode() == 0);
}

void TestBatchStops::stopsAtTheNextRecord_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("signal");
    QTest::addColumn<QString>("outFolder"); // where nothing of the run may be left but documents
    // Each row sends the mailing afresh, whatever the rows before it left in the journal.
    const QStringList mail{"--source", at("book.csv"), "--subject", "Hello", "--body-file", at("body.txt"),
                           "--pair", "B:<name>", "--restart"};
    const QStringList bulk = QStringList{"bulk", "--interval-ms", "200"} + mail;
    const QStringList outlook = QStringList{"outlook", "--send"} + mail;
    const QStringList word{"word", "--source", at("book.csv"), "--template", at("letter.docx"),
                           "--pair", "B:<name>", "--output", at("odt/letter.odt")};
    QTest::newRow("bulk, SIGTERM") << bulk << int(SIGTERM) << QString();
    QTest::newRow("bulk, SIGINT") << bulk << int(SIGINT) << QString();
    QTest::newRow("outlook --send, SIGTERM") << outlook << int(SIGTERM) << QString();
    QTest::newRow("outlook --send, SIGINT") << outlook << int(SIGINT) << QString();
    QTest::newRow("word to .odt, SIGINT") << word << int(SIGINT) << at("odt");
    QTest::newRow("word to .odt, SIGTERM") << word << int(SIGTERM) << at("odt");
}

void TestBatchStops::stopsAtTheNextRecord() {
    QFETCH(QStringList, args);
    QFETCH(int, signal);
    QFETCH(QString, outFolder);
    if (!outFolder.isEmpty()) {
        QDir(outFolder).removeRecursively();
        QVERIFY(QDir().mkpath(outFolder));
    }
    // The report of an interrupted run is written as well: as a workbook for the documents, as
    // text for the mails.
    const QString report = at(args.first() == QLatin1String("word") ? "report.xlsx" : "report.csv");
    QFile::remove(report);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("PATH", at("bin") + ':' + env.value("PATH"));
    QProcess batch;
    batch.setProcessEnvironment(env);
    batch.start(qEnvironmentVariable("TALLYWEAVE_BATCH"), args + QStringList{"--report", report});
    QVERIFY(batch.waitForStarted());
    // The signal comes once the run has reported its first record.
    QByteArray out;
    QElapsedTimer waited;
    waited.start();
    while (!out.contains('\n') && waited.elapsed() < 60000) {
        batch.waitForReadyRead(100);
        out += batch.readAllStandardOutput();
    }
    QVERIFY2(out.contains('\n'), "the run reports a first record");
    ::kill(pid_t(batch.processId()), signal);
    QVERIFY2(batch.waitForFinished(120000), "the run ends after the signal");
    out += batch.readAllStandardOutput();
    const QString err = QString::fromUtf8(batch.readAllStandardError());

    QCOMPARE(batch.exitStatus(), QProcess::NormalExit);
    QCOMPARE(batch.exitCode(), 1);
    QVERIFY2(err.contains(QStringLiteral("tallyweave-batch %1: interrupted").arg(args.first())), qPrintable(err));
    QStringList lines = QString::fromUtf8(out).split(u'\n', Qt::SkipEmptyParts);
    const QRegularExpression counters(QStringLiteral("^records (\\d+), null values \\d+, failures (\\d+)$"));
    const QRegularExpressionMatch match = counters.match(lines.value(lines.size() - 1));
    QVERIFY2(match.hasMatch(), qPrintable(lines.join(u'\n')));
    lines.removeLast();
    const int records = match.captured(1).toInt();
    QCOMPARE(records, int(lines.size()));
    QVERIFY2(records >= 1 && records < m_rows, qPrintable(match.captured(0)));
    QCOMPARE(match.captured(2).toInt(), 0);

    const ReadReport saved = readReportFile(report);
    QVERIFY2(saved.ok, qPrintable(report));
    QCOMPARE(saved.rows.size(), lines.size() + 1);
    QCOMPARE(saved.rows.first().value(0), QString());
    for (qsizetype i = 0; i < lines.size(); ++i) {
        QStringList printed = lines[i].split(u'\t');
        QCOMPARE(printed.takeFirst(), QStringLiteral("0"));
        // A column the line leaves out (the comment of a message that went) is empty in the file.
        while (printed.size() + 1 < saved.rows.first().size())
            printed << QString();
        QCOMPARE(saved.rows[i + 1], QStringList{"processed"} + printed);
    }

    if (!outFolder.isEmpty()) {
        // Nothing staged or half-converted stays; no converter works on in the folder.
        QStringList left;
        QDirIterator it(outFolder, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
        while (it.hasNext()) {
            const QString name = QFileInfo(it.next()).fileName();
            if (!QRegularExpression(QStringLiteral("^letter\\d{4}\\.odt$")).match(name).hasMatch())
                left << name;
        }
        QVERIFY2(left.isEmpty(), qPrintable(left.join(u' ')));
        QVERIFY2(processesNaming(outFolder).isEmpty(), qPrintable(processesNaming(outFolder).join(u'\n')));
    }
}

// --overwrite removes the earlier documents numbered beyond the run only once the run has finished:
// an interrupted run leaves them, and the named file it never writes, as they were.
void TestBatchStops::interruptedOverwriteRemovesNothingEarlier() {
    const QString folder = at("overwrite");
    QDir(folder).removeRecursively();
    QVERIFY(QDir().mkpath(folder));
    const QStringList earlier{"letter.odt", "letter1001.odt", "letter1002.odt", "letter1003.odt"};
    for (const QString& name : earlier)
        mailfixture::writeFile(folder + '/' + name, "earlier");
    QProcess batch;
    batch.start(qEnvironmentVariable("TALLYWEAVE_BATCH"),
                {"word", "--source", at("book.csv"), "--template", at("letter.docx"), "--pair", "B:<name>",
                 "--output", folder + "/letter.odt", "--overwrite"});
    QVERIFY(batch.waitForStarted());
    QByteArray out;
    QElapsedTimer waited;
    waited.start();
    while (!out.contains('\n') && waited.elapsed() < 60000) {
        batch.waitForReadyRead(100);
        out += batch.readAllStandardOutput();
    }
    QVERIFY2(out.contains('\n'), "the run reports a first record");
    ::kill(pid_t(batch.processId()), SIGINT);
    QVERIFY2(batch.waitForFinished(120000), "the run ends after the signal");
    const QString err = QString::fromUtf8(batch.readAllStandardError());
    QCOMPARE(batch.exitCode(), 1);
    QCOMPARE(err, QStringLiteral("tallyweave-batch word: interrupted\n"));
    for (const QString& name : earlier) {
        QFile file(folder + '/' + name);
        QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(name + " was removed"));
        QCOMPARE(file.readAll(), QByteArray("earlier"));
    }
}

void TestBatchStops::stopsWhileTheDocumentsAreMade_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("signal");
    const QStringList mail{"--source", at("book.csv"), "--subject", "Hello", "--body-file", at("body.txt"),
                           "--pair", "B:<name>", "--restart", "--document-template", at("letter.docx")};
    QTest::newRow("bulk, SIGINT") << QStringList{"bulk", "--interval-ms", "0"} + mail << int(SIGINT);
    QTest::newRow("outlook --send, SIGTERM") << QStringList{"outlook", "--send"} + mail << int(SIGTERM);
}

// A signal while the rows' PDFs are made: nothing is sent, and neither the documents, the
// converter's profile nor the converter itself outlive the run.
void TestBatchStops::stopsWhileTheDocumentsAreMade() {
    QFETCH(QStringList, args);
    QFETCH(int, signal);
    QTemporaryDir temp;
    m_server.clear();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("PATH", at("bin") + ':' + env.value("PATH"));
    env.insert("TMPDIR", temp.path());
    QProcess batch;
    batch.setProcessEnvironment(env);
    batch.start(qEnvironmentVariable("TALLYWEAVE_BATCH"), args);
    QVERIFY(batch.waitForStarted());
    // The signal comes once the converter works on the documents.
    QElapsedTimer waited;
    waited.start();
    QStringList converting;
    while (converting.isEmpty() && waited.elapsed() < 120000 && batch.state() == QProcess::Running) {
        QThread::msleep(50);
        converting = QDir(temp.path()).entryList({"tallyweave-documents-*"}, QDir::Dirs);
        if (!converting.isEmpty() && !QFileInfo(QDir(temp.path()).filePath(converting[0] + "/pdf")).isDir())
            converting.clear();
    }
    QVERIFY2(!converting.isEmpty(), "the converter starts on the documents");
    QThread::msleep(300);
    ::kill(pid_t(batch.processId()), signal);
    QVERIFY2(batch.waitForFinished(60000), "the run ends after the signal");
    const QString err = QString::fromUtf8(batch.readAllStandardError());
    QCOMPARE(batch.exitStatus(), QProcess::NormalExit);
    QCOMPARE(batch.exitCode(), 1);
    QVERIFY2(err.contains(QStringLiteral("tallyweave-batch %1: interrupted").arg(args.first())), qPrintable(err));
    QCOMPARE(QString::fromUtf8(batch.readAllStandardOutput()), QString());
    QVERIFY(m_server.received().isEmpty());
    const QStringList left = QDir(temp.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    QVERIFY2(left.isEmpty(), qPrintable(left.join(u' ')));
    QVERIFY2(processesNaming(temp.path()).isEmpty(), qPrintable(processesNaming(temp.path()).join(u'\n')));
}

QStringList TestBatchStops::processesNaming(const QString& path) {
    QStringList found;
    const QStringList pids = QDir(QStringLiteral("/proc")).entryList({QStringLiteral("[0-9]*")}, QDir::Dirs);
    for (const QString& pid : pids) {
        QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(pid));
        if (!cmdline.open(QIODevice::ReadOnly))
            continue;
        const QByteArray text = cmdline.readAll().replace('\0', ' ');
        if (text.contains(path.toUtf8()))
            found << pid + ": " + QString::fromUtf8(text.left(200));
    }
    return found;
}

QTEST_GUILESS_MAIN(TestBatchStops)
#include "tst_batchstops.moc"
