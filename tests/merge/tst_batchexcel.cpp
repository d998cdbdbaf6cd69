// tallyweave-batch excel run as a separate process: usage errors, the command's refusals, the
// report format, --overwrite, and what lands in the output as openpyxl reads it.
#include "bookfixture.h"

#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <sys/stat.h>
#include <unistd.h>

using namespace bookfixture;

namespace {

struct BatchRun {
    int exitCode = -1;
    QString out, err;
};

} // namespace

class TestBatchExcel : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void badUsage_data();
    void badUsage();
    void refusals_data();
    void refusals();
    void reportLinesAreEscapedFields();
    void carriageReturnIsEscapedToo();
    void overwriteKeepsTheOldOutputUntilTheRunFinishes_data();
    void overwriteKeepsTheOldOutputUntilTheRunFinishes();
    void laterPairIntoTheSameColumnWins();
    void extensionRuleNamesTheOutput();
    void xlsOutputWithoutConverterFails();

private:
    QString at(const QString& name) const { return m_dir->filePath(name); }
    BatchRun batch(const QStringList& args,
                   const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment(),
                   bool interrupted = false);
    QStringList basicArgs() const {
        return {QStringLiteral("excel"),  QStringLiteral("--source"),      at(QStringLiteral("source.xlsx")),
                QStringLiteral("--dest"), at(QStringLiteral("dest.xlsx")), QStringLiteral("--pair"),
                QStringLiteral("B:C"),    QStringLiteral("--output"),      at(QStringLiteral("out.xlsx"))};
    }

    QString m_program;
    QTemporaryDir m_fixtures;
    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestBatchExcel::initTestCase() {
    m_program = qEnvironmentVariable("TALLYWEAVE_BATCH");
    QVERIFY2(QFileInfo(m_program).isExecutable(), "TALLYWEAVE_BATCH names the batch program");
    // Written once: every test starts from copies. Fields with a tab, a line break and a
    // backslash must come out escaped.
    QVERIFY(m_fixtures.isValid());
    const QString error = writePair(m_fixtures.path(), "batch-source.json", "batch-dest.json");
    QVERIFY2(error.isEmpty(), qPrintable(error));
}

void TestBatchExcel::init() {
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    QVERIFY(copyPair(m_fixtures.path(), m_dir->path()));
}

// interrupted: the batch starts with an interrupt (Ctrl+C) waiting for it, as if the user had
// pressed it the moment the run began; blocked signals and pending ones survive exec.
BatchRun TestBatchExcel::batch(const QStringList& args, const QProcessEnvironment& env, bool interrupted) {
    QProcess process;
    process.setProcessEnvironment(env);
    if (interrupted)
        process.setChildProcessModifier([] {
            sigset_t interrupt;
            sigemptyset(&interrupt);
            sigaddset(&interrupt, SIGINT);
            sigprocmask(SIG_BLOCK, &interrupt, nullptr);
            kill(getpid(), SIGINT);
        });
    process.start(m_program, args);
    BatchRun run;
    if (!process.waitForFinished(60000))
        return run;
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

void TestBatchExcel::badUsage_data() {
    QTest::addColumn<QStringList>("change"); // flag and value appended to the basic arguments

    QTest::newRow("unknown flag") << QStringList{QStringLiteral("--colour")};
    QTest::newRow("flag without its value") << QStringList{QStringLiteral("--dest-sheet")};
    QTest::newRow("column beyond Z") << QStringList{QStringLiteral("--dest-index"), QStringLiteral("AA")};
    QTest::newRow("column not a letter")
        << QStringList{QStringLiteral("--source-index"), QStringLiteral("1")};
    QTest::newRow("pair column beyond Z") << QStringList{QStringLiteral("--pair"), QStringLiteral("B:[")};
    QTest::newRow("pair without a colon") << QStringList{QStringLiteral("--pair"), QStringLiteral("B")};
    QTest::newRow("sheet below 1") << QStringList{QStringLiteral("--source-sheet"), QStringLiteral("0")};
    QTest::newRow("sheet not a number") << QStringList{QStringLiteral("--dest-sheet"), QStringLiteral("two")};
    QTest::newRow("line below 1") << QStringList{QStringLiteral("--dest-start"), QStringLiteral("-1")};
}

void TestBatchExcel::badUsage() {
    QFETCH(QStringList, change);
    const BatchRun run = batch(basicArgs() + change);
    QCOMPARE(run.exitCode, 2);
    QVERIFY2(run.err.contains(QLatin1String("usage: tallyweave-batch excel --source FILE")),
             qPrintable(run.err));
    QVERIFY2(!run.err.contains(QLatin1String("cells")), "the usage of this subcommand only");
    QVERIFY(run.out.isEmpty());
    QVERIFY2(!QFile::exists(at(QStringLiteral("out.xlsx"))), "bad usage runs nothing");
}

void TestBatchExcel::refusals_data() {
    QTest::addColumn<QString>("flag");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("cause");

    QTest::newRow("missing source") << "--source"
                                    << "nothing.xlsx"
                                    << "does not exist";
    QTest::newRow("a folder as destination") << "--dest"
                                             << "."
                                             << "is a folder";
    QTest::newRow("a pipe as source") << "--source"
                                      << "pipe"
                                      << "is not a regular file";
    QTest::newRow("the output's folder does not exist") << "--output"
                                                        << "none/out.xlsx"
                                                        << "none does not exist";
    QTest::newRow("the output's folder is a file") << "--output"
                                                   << "old.xlsx/out.xlsx"
                                                   << "old.xlsx is not a folder";
    QTest::newRow("output is the destination by another spelling") << "--output"
                                                                   << "./x/../DEST.xlsx"
                                                                   << "is the source or the destination";
    QTest::newRow("existing output without --overwrite") << "--output"
                                                         << "old.xlsx"
                                                         << "--overwrite";
    QTest::newRow("sheet beyond the last") << "--dest-sheet"
                                           << "2"
                                           << "no sheet 2";
}

void TestBatchExcel::refusals() {
    QFETCH(QString, flag);
    QFETCH(QString, value);
    QFETCH(QString, cause);
    QFile old(at(QStringLiteral("old.xlsx")));
    QVERIFY(old.open(QIODevice::WriteOnly));
    old.write("an older output");
    old.close();
    QCOMPARE(mkfifo(QFile::encodeName(at(QStringLiteral("pipe"))).constData(), 0600), 0);
    const QByteArray destHash = fileHash(at(QStringLiteral("dest.xlsx")));
    const QStringList entries = folderEntries(m_dir->path());

    QStringList args = basicArgs();
    if (flag == QLatin1String("--source") || flag == QLatin1String("--dest") ||
        flag == QLatin1String("--output"))
        args[args.indexOf(flag) + 1] = at(value);
    else
        args << flag << value;
    const BatchRun run = batch(args);
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.err.contains(cause), qPrintable(run.err));
    QCOMPARE(folderEntries(m_dir->path()), entries);
    QCOMPARE(fileHash(at(QStringLiteral("dest.xlsx"))), destHash);
    QVERIFY(old.open(QIODevice::ReadOnly));
    QCOMPARE(old.readAll(), QByteArray("an older output"));
}

void TestBatchExcel::reportLinesAreEscapedFields() {
    const BatchRun run = batch(basicArgs() + QStringList{QStringLiteral("--pair"), QStringLiteral("C:D")});
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.err, QString());
    QCOMPARE(run.out, QStringLiteral("0\tk1\ttab\\there/back\\\\slash\tx/y\n"
                                     "0\tK2\tline\\nbreak\tz\n"
                                     "1\tnone\t-\t-\n"
                                     "records 3, null values 0, failures 1\n"));
    const QJsonObject out = dumpBook(at(QStringLiteral("out.xlsx")));
    QCOMPARE(cellOf(out, 0, QStringLiteral("C1")).value(QStringLiteral("value")).toString(),
             QStringLiteral("tab\there/back\\slash"));
    QCOMPARE(cellOf(out, 0, QStringLiteral("C3")).value(QStringLiteral("value")).toString(),
             QStringLiteral("line\nbreak"));
    QCOMPARE(cellOf(out, 0, QStringLiteral("C2")).value(QStringLiteral("value")).toString(),
             QStringLiteral("keep"));
}

void TestBatchExcel::carriageReturnIsEscapedToo() {
    // A comma-separated source keeps a carriage return inside a quoted field as it stands.
    QFile source(at(QStringLiteral("source.csv")));
    QVERIFY(source.open(QIODevice::WriteOnly));
    source.write("k1,\"old\rmac line\"\r\n");
    source.close();
    QStringList args = basicArgs();
    args[args.indexOf(QStringLiteral("--source")) + 1] = source.fileName();
    const BatchRun run = batch(args);
    QCOMPARE(run.exitCode, 0);
    QVERIFY2(run.out.startsWith(QStringLiteral("0\tk1\told\\rmac line\n")), qPrintable(run.out));
    QVERIFY2(!run.out.contains(QLatin1Char('\r')), "every report line stays one line");
}

void TestBatchExcel::overwriteKeepsTheOldOutputUntilTheRunFinishes_data() {
    QTest::addColumn<QString>("case_");
    QTest::addColumn<QString>("output");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("cause");

    QTest::newRow("finished: replaced in one rename") << "finished"
                                                      << "out.xlsx" << 0 << "";
    QTest::newRow("interrupted") << "interrupted"
                                 << "out.xlsx" << 1 << "interrupted";
    QTest::newRow("the destination cannot be read") << "damaged destination"
                                                    << "out.xlsx" << 1 << "dest.xlsx";
    QTest::newRow("the save fails after every record was done") << "no converter"
                                                                << "out.xls" << 1 << "LibreOffice";
}

void TestBatchExcel::overwriteKeepsTheOldOutputUntilTheRunFinishes() {
    QFETCH(QString, case_);
    QFETCH(QString, output);
    QFETCH(int, exitCode);
    QFETCH(QString, cause);

    const QByteArray older("an older output, to be kept unless a run finishes");
    QFile old(at(output));
    QVERIFY(old.open(QIODevice::WriteOnly));
    old.write(older);
    old.close();
    if (case_ == QLatin1String("damaged destination")) {
        QFile dest(at(QStringLiteral("dest.xlsx")));
        QVERIFY(dest.open(QIODevice::ReadWrite));
        QVERIFY(dest.resize(300)); // a package cut short, as a broken download leaves it
    }
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (case_ == QLatin1String("no converter"))
        env.insert(QStringLiteral("PATH"), m_dir->filePath(QStringLiteral("no-programs-here")));
    QStringList args = basicArgs() + QStringList{QStringLiteral("--overwrite")};
    args[args.indexOf(QStringLiteral("--output")) + 1] = at(output);
    const QStringList entries = folderEntries(m_dir->path());

    const BatchRun run = batch(args, env, case_ == QLatin1String("interrupted"));
    QCOMPARE(run.exitCode, exitCode);
    QVERIFY2(run.err.contains(cause), qPrintable(run.err));
    QCOMPARE(folderEntries(m_dir->path()), entries); // no temporary file left behind either
    if (exitCode != 0) {
        QVERIFY(old.open(QIODevice::ReadOnly));
        QCOMPARE(old.readAll(), older);
        return;
    }
    QString error;
    const QJsonObject out = dumpBook(at(output), &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QCOMPARE(cellOf(out, 0, QStringLiteral("C4")).value(QStringLiteral("value")).toString(),
             QStringLiteral("-"));
}

void TestBatchExcel::laterPairIntoTheSameColumnWins() {
    const BatchRun run = batch(basicArgs() + QStringList{QStringLiteral("--pair"), QStringLiteral("C:C"),
                                                         QStringLiteral("--pair"), QStringLiteral("C:A")});
    QCOMPARE(run.exitCode, 0);
    // The key is read before any pair writes, so a pair into the index column changes the cell only.
    QVERIFY2(run.out.startsWith(QStringLiteral("0\tk1\ttab\\there/back\\\\slash\tx/y\tx/y\n")),
             qPrintable(run.out));
    const QJsonObject out = dumpBook(at(QStringLiteral("out.xlsx")));
    const auto value = [&out](const char* coordinate) {
        return cellOf(out, 0, QLatin1String(coordinate)).value(QStringLiteral("value")).toString();
    };
    QCOMPARE(value("C1"), QStringLiteral("x/y"));
    QCOMPARE(value("A1"), QStringLiteral("x/y"));
    QCOMPARE(value("A2"), QString()); // a skipped row keeps its empty key
    QCOMPARE(value("A4"), QStringLiteral("-"));
}

void TestBatchExcel::extensionRuleNamesTheOutput() {
    QStringList args = basicArgs();
    args[args.indexOf(QStringLiteral("--output")) + 1] = at(QStringLiteral("result.txt"));
    const BatchRun run = batch(args);
    QCOMPARE(run.exitCode, 0);
    QVERIFY(!QFile::exists(at(QStringLiteral("result.txt"))));
    QString error;
    dumpBook(at(QStringLiteral("result.txt.xlsx")), &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
}

void TestBatchExcel::xlsOutputWithoutConverterFails() {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("PATH"), m_dir->filePath(QStringLiteral("no-programs-here")));
    QStringList args = basicArgs();
    args[args.indexOf(QStringLiteral("--output")) + 1] = at(QStringLiteral("out.xls"));
    const QStringList entries = folderEntries(m_dir->path());
    const BatchRun run = batch(args, env);
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.err.contains(QLatin1String("LibreOffice")) && run.err.contains(QLatin1String(".xlsx")),
             qPrintable(run.err));
    QCOMPARE(folderEntries(m_dir->path()), entries);
}

QTEST_GUILESS_MAIN(TestBatchExcel)
#include "tst_batchexcel.moc"
