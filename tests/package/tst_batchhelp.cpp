// Pins the batch command's help: --help lists every mode's usage and exits 0, MODE --help prints
// that mode's usage alone, and the manual page has a section for every mode --help lists, naming
// each of its options.
#include <QFile>
#include <QMap>
#include <QProcess>
#include <QRegularExpression>
#include <QtTest>

namespace {
struct Run {
    int code = -1;
    QString out, err;
};

Run batch(const QStringList& args) {
    QProcess process;
    process.start(qEnvironmentVariable("TALLYWEAVE_BATCH"), args);
    Run run;
    if (!process.waitForFinished(30000))
        return run;
    run.code = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

// The usage blocks of a help text by mode: a block starts at "usage: tallyweave-batch MODE" and
// takes the indented lines that follow it.
QMap<QString, QString> usagesIn(const QString& text) {
    static const QRegularExpression lead(QStringLiteral("^usage: tallyweave-batch (\\S+)"));
    QMap<QString, QString> usages;
    QString mode;
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (const QString& line : lines) {
        const QRegularExpressionMatch match = lead.match(line);
        if (match.hasMatch())
            mode = match.captured(1);
        else if (!line.startsWith(QLatin1Char(' ')))
            mode.clear();
        if (!mode.isEmpty())
            usages[mode] += line + QLatin1Char('\n');
    }
    return usages;
}

// The options a usage names: --sheet, --one-file, ...
QStringList optionsIn(const QString& usage) {
    static const QRegularExpression option(QStringLiteral("--[a-z][a-z-]*"));
    QStringList options;
    for (auto it = option.globalMatch(usage); it.hasNext();)
        options << it.next().captured();
    options.removeDuplicates();
    return options;
}

// The manual page's mode sections by name (".SS name" up to the next section heading), with the
// troff escapes of hyphens undone.
QMap<QString, QString> manSections() {
    QFile file(QStringLiteral(TW_SOURCE_DIR "/data/tallyweave-batch.1"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QMap<QString, QString> sections;
    QString name;
    const QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
    for (const QString& line : lines) {
        if (line.startsWith(QLatin1String(".SS ")))
            name = line.mid(4).trimmed();
        else if (line.startsWith(QLatin1String(".SH ")))
            name.clear();
        else if (!name.isEmpty())
            sections[name] +=
                QString(line).replace(QLatin1String("\\-"), QLatin1String("-")) + QLatin1Char('\n');
    }
    return sections;
}
} // namespace

class TestBatchHelp : public QObject {
    Q_OBJECT
private slots:
    void helpListsEveryMode();
    void modeHelpPrintsItsOwnUsage();
    void manualPageCoversEveryMode();
    void badUsageStillFails_data();
    void badUsageStillFails();
};

void TestBatchHelp::helpListsEveryMode() {
    for (const QString& flag : {QStringLiteral("--help"), QStringLiteral("-h")}) {
        const Run run = batch({flag});
        QCOMPARE(run.code, 0);
        QCOMPARE(run.err, QString());
        const QStringList modes = usagesIn(run.out).keys();
        QVERIFY2(modes.contains(QStringLiteral("cells")) && modes.contains(QStringLiteral("excel")),
                 qPrintable(run.out));
    }
}

void TestBatchHelp::modeHelpPrintsItsOwnUsage() {
    const QMap<QString, QString> usages = usagesIn(batch({QStringLiteral("--help")}).out);
    QVERIFY(!usages.isEmpty());
    for (auto it = usages.cbegin(); it != usages.cend(); ++it) {
        for (const QString& flag : {QStringLiteral("--help"), QStringLiteral("-h")}) {
            const Run run = batch({it.key(), flag});
            QVERIFY2(run.code == 0,
                     qPrintable(it.key() + QLatin1Char(' ') + flag + QLatin1String(": ") + run.err));
            QCOMPARE(run.out, it.value());
            QCOMPARE(run.err, QString());
        }
    }
}

void TestBatchHelp::manualPageCoversEveryMode() {
    const QMap<QString, QString> sections = manSections();
    const QMap<QString, QString> usages = usagesIn(batch({QStringLiteral("--help")}).out);
    QVERIFY(!usages.isEmpty());
    for (auto it = usages.cbegin(); it != usages.cend(); ++it) {
        QVERIFY2(sections.contains(it.key()), qPrintable(QLatin1String("no section for ") + it.key()));
        const QStringList options = optionsIn(it.value());
        for (const QString& option : options)
            QVERIFY2(sections[it.key()].contains(option),
                     qPrintable(it.key() + QLatin1String(": the manual page does not name ") + option));
    }
}

void TestBatchHelp::badUsageStillFails_data() {
    QTest::addColumn<QStringList>("args");
    QTest::newRow("no mode") << QStringList{};
    QTest::newRow("unknown mode asking for help")
        << QStringList{QStringLiteral("nomode"), QStringLiteral("--help")};
    // Help is asked for by the first argument only; later on it is an unknown option.
    QTest::newRow("help after an option") << QStringList{QStringLiteral("cells"), QStringLiteral("--sheet"),
                                                         QStringLiteral("2"), QStringLiteral("--help")};
}

void TestBatchHelp::badUsageStillFails() {
    QFETCH(QStringList, args);
    const Run run = batch(args);
    QCOMPARE(run.code, 2);
    QCOMPARE(run.out, QString());
    QVERIFY2(run.err.contains(QLatin1String("usage: tallyweave-batch")), qPrintable(run.err));
}

QTEST_GUILESS_MAIN(TestBatchHelp)
#include "tst_batchhelp.moc"
