// Saves that break off: the disk fills up, or the process is killed, in the middle of writing a
// workbook (tallyweave-batch excel), a document (tallyweave-batch word, one file and numbered) and
// comma-separated text. The writes are cut by a preloaded shim (diskfault.c) at a share of the
// bytes a whole save writes, measured first by the same shim.
#include "docx/docxfixture.h"
#include "merge/bookfixture.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <cmath>

namespace {

struct Run {
    bool finished = false;
    bool killed = false; // ended by a signal
    int exitCode = -1;
    QString out, err;
};

// One kind of save: the program and its arguments (OUT stands for the output path), the output's
// name, and whether a failed run may leave the documents it finished before (numbered documents).
struct Job {
    QString program;
    QStringList args;
    QString output;
    bool numbered = false;
};

QString shim() {
    return QStringLiteral(TW_BINARY_DIR "/tests/diskfault.so");
}

} // namespace

class TestSaveFaults : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void brokenSave_data();
    void brokenSave();

private:
    QString at(const QString& name) const { return m_dir->filePath(name); }
    Job job(const QString& name) const;
    // Runs job in the test folder; mode "" runs it without faults and tallies what it writes.
    Run run(const Job& job, const QString& mode, qint64 after, qint64* tally = nullptr) const;
    QStringList inputs() const {
        return {QStringLiteral("source.xlsx"), QStringLiteral("dest.xlsx"), QStringLiteral("book.csv"),
                QStringLiteral("letter.docx")};
    }

    QTemporaryDir m_fixtures;
    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestSaveFaults::initTestCase() {
    QVERIFY2(QFileInfo(shim()).isFile(), "the fault shim is built beside the tests");
    QVERIFY(m_fixtures.isValid());
    // Large enough that a save takes many writes: a sheet part of some hundred kilobytes.
    QJsonArray sourceRows, destRows, bookRows{QJsonArray{"Name", "Town"}};
    for (int i = 1; i <= 2000; ++i) {
        const QString key = QStringLiteral("key %1").arg(i);
        sourceRows.append(QJsonArray{key, QStringLiteral("value %1 ").arg(i).repeated(8)});
        destRows.append(QJsonArray{key, QStringLiteral("d%1").arg(i), QJsonValue()});
    }
    const auto layout = [](const QJsonArray& rows) {
        return QJsonDocument(QJsonObject{{"sheets", QJsonArray{QJsonObject{{"title", "S"}, {"rows", rows}}}}})
            .toJson(QJsonDocument::Compact);
    };
    QString error =
        bookfixture::writeBook(m_fixtures.filePath(QStringLiteral("source.xlsx")), layout(sourceRows));
    QVERIFY2(error.isEmpty(), qPrintable(error));
    error = bookfixture::writeBook(m_fixtures.filePath(QStringLiteral("dest.xlsx")), layout(destRows));
    QVERIFY2(error.isEmpty(), qPrintable(error));
    error = docxfixture::runScript({QStringLiteral("plain-template"),
                                    m_fixtures.filePath(QStringLiteral("letter.docx")),
                                    QStringLiteral("Dear «NAME», a letter for «TOWN».")});
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QFile book(m_fixtures.filePath(QStringLiteral("book.csv")));
    QVERIFY(book.open(QIODevice::WriteOnly));
    book.write("Name,Town\n");
    for (int i = 1; i <= 60; ++i)
        book.write(QStringLiteral("Person %1 %2,Town %1\n").arg(i).arg(QString(60, u'x')).toUtf8());
}

void TestSaveFaults::init() {
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    for (const QString& name : inputs())
        QVERIFY(QFile::copy(m_fixtures.filePath(name), at(name)));
}

Job TestSaveFaults::job(const QString& name) const {
    const QString batch = qEnvironmentVariable("TALLYWEAVE_BATCH");
    const QStringList word = {QStringLiteral("word"),
                              QStringLiteral("--source"),
                              at(QStringLiteral("book.csv")),
                              QStringLiteral("--start"),
                              QStringLiteral("2"),
                              QStringLiteral("--template"),
                              at(QStringLiteral("letter.docx")),
                              QStringLiteral("--pair"),
                              QStringLiteral("A:«NAME»"),
                              QStringLiteral("--pair"),
                              QStringLiteral("B:«TOWN»"),
                              QStringLiteral("--overwrite"),
                              QStringLiteral("--output"),
                              at(QStringLiteral("out.docx"))};
    if (name == QLatin1String("workbook"))
        return {batch,
                {QStringLiteral("excel"), QStringLiteral("--source"), at(QStringLiteral("source.xlsx")),
                 QStringLiteral("--dest"), at(QStringLiteral("dest.xlsx")), QStringLiteral("--pair"),
                 QStringLiteral("B:C"), QStringLiteral("--overwrite"), QStringLiteral("--output"),
                 at(QStringLiteral("out.xlsx"))},
                QStringLiteral("out.xlsx")};
    if (name == QLatin1String("joined document"))
        return {batch, word + QStringList{QStringLiteral("--one-file")}, QStringLiteral("out.docx")};
    if (name == QLatin1String("numbered documents"))
        return {batch, word, QStringLiteral("out.docx"), true};
    return {QStringLiteral(TW_BINARY_DIR "/tests/savecsv"),
            {at(QStringLiteral("out.csv")), QStringLiteral("3000")},
            QStringLiteral("out.csv")};
}

Run TestSaveFaults::run(const Job& job, const QString& mode, qint64 after, qint64* tally) const {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("LD_PRELOAD"), shim());
    env.insert(QStringLiteral("TW_FAULT_DIR"), QFileInfo(m_dir->path()).canonicalFilePath());
    env.insert(QStringLiteral("TW_FAULT_MODE"), mode.isEmpty() ? QStringLiteral("enospc") : mode);
    env.insert(QStringLiteral("TW_FAULT_AFTER"), QString::number(mode.isEmpty() ? qint64(1) << 60 : after));
    const QString tallyFile = m_fixtures.filePath(QStringLiteral("tally"));
    QFile::remove(tallyFile);
    if (tally)
        env.insert(QStringLiteral("TW_FAULT_TALLY"), tallyFile);
    // A sanitizer build checks that its runtime comes first; here the shim must.
    env.insert(QStringLiteral("ASAN_OPTIONS"),
               env.value(QStringLiteral("ASAN_OPTIONS")) + QStringLiteral(":verify_asan_link_order=0"));
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(job.program, job.args);
    Run result;
    result.finished = process.waitForFinished(180000);
    result.killed = process.exitStatus() == QProcess::CrashExit;
    result.exitCode = process.exitCode();
    result.out = QString::fromUtf8(process.readAllStandardOutput());
    result.err = QString::fromUtf8(process.readAllStandardError());
    if (tally) {
        QFile file(tallyFile);
        *tally = file.open(QIODevice::ReadOnly) ? file.readAll().trimmed().toLongLong() : -1;
    }
    return result;
}

void TestSaveFaults::brokenSave_data() {
    QTest::addColumn<QString>("what");
    QTest::addColumn<QString>("mode");     // enospc: the disk is full; kill: SIGKILL
    QTest::addColumn<double>("share");     // of the bytes a whole save writes, let through first
    QTest::addColumn<bool>("olderOutput"); // an output of an earlier run is there

    for (const char* what : {"workbook", "joined document", "numbered documents", "text"}) {
        const auto row = [&](const char* mode, double share, bool older) {
            QTest::addRow("%s, %s after %d%%%s", what, mode, int(std::lround(share * 100)),
                          older ? ", older output" : "")
                << QString::fromLatin1(what) << QString::fromLatin1(mode) << share << older;
        };
        row("enospc", 0, true);
        row("enospc", 0.5, true);
        row("enospc", 0.99, true);
        row("enospc", 0.5, false);
        row("kill", 0.3, true);
        row("kill", 0.98, true);
        row("kill", 0.6, false);
    }
}

void TestSaveFaults::brokenSave() {
    QFETCH(QString, what);
    QFETCH(QString, mode);
    QFETCH(double, share);
    QFETCH(bool, olderOutput);
    const Job save = job(what);
    const QString output = at(save.output);

    // A whole save first: what it writes, and the sizes of its files to compare with.
    qint64 total = 0;
    const Run whole = run(save, QString(), 0, &total);
    QVERIFY2(whole.finished && !whole.killed && whole.exitCode == 0, qPrintable(whole.err));
    QVERIFY2(total > 0, "the shim counted the save's writes");
    QMap<QString, qint64> wholeSizes;
    for (const QString& name : bookfixture::folderEntries(m_dir->path()))
        if (!inputs().contains(name)) {
            wholeSizes.insert(name, QFileInfo(at(name)).size());
            QVERIFY(QFile::remove(at(name)));
        }
    QVERIFY(!wholeSizes.isEmpty());
    QVERIFY2(!std::any_of(wholeSizes.keyBegin(), wholeSizes.keyEnd(),
                          [](const QString& name) { return name.startsWith(u'.'); }),
             "a whole save leaves no temporary file");

    const QByteArray older = "an output of an earlier run";
    if (olderOutput) {
        QFile file(output);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(older) == older.size());
    }
    const Run broken = run(save, mode, qint64(double(total) * share));
    QVERIFY2(broken.finished, "the run ends");

    QStringList left = bookfixture::folderEntries(m_dir->path());
    for (const QString& name : inputs())
        left.removeOne(name);
    if (olderOutput) {
        QVERIFY2(left.removeOne(save.output), "the older output is still there");
        QFile file(output);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), older);
    } else {
        QVERIFY2(!left.contains(save.output), "no output is made");
    }
    // Numbered documents finished before the fault stay, each whole; the one being written when
    // it came is not there at all.
    int finished = 0;
    if (save.numbered) {
        for (const QString& name : QStringList(left)) {
            if (!QRegularExpression(QStringLiteral("^out\\d{4}\\.docx$")).match(name).hasMatch())
                continue;
            left.removeOne(name);
            ++finished;
            QVERIFY2(wholeSizes.contains(name), qPrintable(name));
            QCOMPARE(QFileInfo(at(name)).size(), wholeSizes.value(name));
        }
        for (int n = 1; n <= finished; ++n)
            QVERIFY2(QFile::exists(at(QStringLiteral("out%1.docx").arg(n, 4, 10, QLatin1Char('0')))),
                     "the documents kept are the first ones");
    }

    if (mode == QLatin1String("enospc")) {
        QVERIFY2(!broken.killed, qPrintable(broken.err));
        QCOMPARE(broken.exitCode, 1);
        QVERIFY2(broken.err.contains(QLatin1String("No space left on device")), qPrintable(broken.err));
        // The cause names the file the user asked for, not a temporary one.
        const QString named = save.numbered
                                  ? QStringLiteral("out%1.docx").arg(finished + 1, 4, 10, QLatin1Char('0'))
                                  : save.output;
        QVERIFY2(broken.err.contains(QLatin1String("cannot write ")) && broken.err.contains(named),
                 qPrintable(broken.err));
        QVERIFY2(!broken.err.contains(QLatin1String("/.")), qPrintable(broken.err));
        if (save.numbered)
            QVERIFY2(broken.out.contains(QStringLiteral("records %1,").arg(finished)),
                     qPrintable(broken.out));
        QVERIFY2(left.isEmpty(), qPrintable(left.join(QLatin1String(", "))));
    } else {
        QVERIFY2(broken.killed, "the shim killed the run");
        // What a killed save may leave: hidden temporary files that cannot be taken for the
        // output, and never a part of a package under the output's extension.
        const QString suffix = u'.' + QFileInfo(save.output).suffix();
        for (const QString& name : std::as_const(left)) {
            QVERIFY2(name.startsWith(u'.'), qPrintable(name));
            if (name.endsWith(suffix))
                QVERIFY2(QFileInfo(at(name)).size() == 0, qPrintable(name + QLatin1String(" is not empty")));
        }
        if (!left.isEmpty())
            qInfo("left beside the output: %s", qPrintable(left.join(QLatin1String(", "))));
    }
}

QTEST_GUILESS_MAIN(TestSaveFaults)
#include "tst_savefaults.moc"
