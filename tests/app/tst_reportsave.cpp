// File > Save report... of the main window, through the scripted dialogs: the item's place and
// state, the file type chosen deciding the kind, the saved file read back by independent readers
// equal to the window's report, the replace question, and a save that fails.
#include "app/formmain.h"
#include "app/runreport.h"
#include "support/fakes.h"
#include "support/reportreader.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QMenu>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {
QAction* saveItem(QWidget* form) {
    return form->findChild<QAction*>(QStringLiteral("MSaveReport"));
}

QByteArray contentOf(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
} // namespace

class TestReportSave : public QObject {
    Q_OBJECT
private slots:
    void init();
    void itemStandsBeforeExitAndFollowsTheReport();
    void savedFileEqualsTheWindowsReport_data();
    void savedFileEqualsTheWindowsReport();
    void existingFileIsReplacedOnlyOnYes_data();
    void existingFileIsReplacedOnlyOnYes();
    void failedSaveIsShownWithItsCause_data();
    void failedSaveIsShownWithItsCause();

private:
    std::unique_ptr<TMainForm> makeForm(const QString& languageFile = QStringLiteral("English.ini"));
    // The report of a run: a processed record, a failure and a null value with awkward texts.
    void fillReport(TMainForm& form);

    QTemporaryDir m_home;
    FakePrompter m_prompter;
    FakeFileDialogs m_files;
    FakeShell m_shell;
    FakeAppProbe m_probe;
};

void TestReportSave::init() {
    m_prompter = FakePrompter();
    m_files = FakeFileDialogs();
}

std::unique_ptr<TMainForm> TestReportSave::makeForm(const QString& languageFile) {
    MainFormOptions options;
    options.programDirectory = QStringLiteral(TW_SOURCE_DIR); // the shipped Languages/
    options.settingsFile = m_home.filePath(QStringLiteral("Tallyweave.conf"));
    SettingsStore(options.settingsFile).write(QStringLiteral("LanguageFile"), languageFile);
    auto form = std::make_unique<TMainForm>(m_prompter, m_files, m_shell, m_probe, options);
    form->FormActivate();
    return form;
}

void TestReportSave::fillReport(TMainForm& form) {
    const Texts& t = form.texts();
    const QString list = QStringLiteral("ListView");
    RunReport& report = form.report();
    report.begin({{t.text(list, QStringLiteral("IndexColumn")), 80},
                  {t.text(list, QStringLiteral("MailTo")), 150},
                  {t.text(list, QStringLiteral("Comment")), 200}});
    report.addLine({QStringLiteral("00123"), QStringLiteral("Smith, John <john@example.com>"), QString()},
                   ImageProcessed);
    report.addLine({QStringLiteral("2"), QStringLiteral("张伟 <zhang@example.cn>"),
                    QStringLiteral("550 \"mailbox unavailable\"\nretry later")},
                   ImageFailure);
    report.addLine({QStringLiteral("3"), QString(), QStringLiteral("Name is empty")}, ImageNullValue);
    report.afterLine(QString(), QString(), QString(), report.count());
    report.flush();
}

void TestReportSave::itemStandsBeforeExitAndFollowsTheReport() {
    auto form = makeForm();
    const QList<QAction*> items = form->findChild<QMenu*>(QStringLiteral("MenuFile"))->actions();
    QStringList layout;
    for (const QAction* item : items)
        layout << (item->isSeparator() ? QStringLiteral("-") : item->objectName());
    QCOMPARE(layout, (QStringList{"MExcelToExcel", "MExcelToWord", "MExcelToOutlook", "-", "MBulkMails", "-",
                                  "MSaveReport", "-", "MExit"}));
    QCOMPARE(saveItem(form.get())->text(), QStringLiteral("&Save report..."));

    QVERIFY2(!saveItem(form.get())->isEnabled(), "nothing to save before a run");
    fillReport(*form);
    QVERIFY(saveItem(form.get())->isEnabled());
    form->MClearClick();
    QVERIFY2(!saveItem(form.get())->isEnabled(), "a cleared report has nothing to save");
    form->MSaveReportClick();
    QVERIFY2(m_files.saveFilters.isEmpty(), "no dialog for an empty report");

    // The texts follow the language file, as every other item's do.
    auto chinese = makeForm(QStringLiteral("ChineseGB.ini"));
    QCOMPARE(saveItem(chinese.get())->text(), QStringLiteral("保存报告(&S)..."));
}

void TestReportSave::savedFileEqualsTheWindowsReport_data() {
    QTest::addColumn<QString>("language");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("saved");
    QTest::newRow("a bare name with the CSV type becomes a .csv file")
        << "English.ini" << "report" << "*.csv" << "report.csv";
    QTest::newRow("a bare name with the workbook type becomes a .xlsx file")
        << "English.ini" << "report" << "*.xlsx" << "report.xlsx";
    QTest::newRow("a name ending in .CSV keeps it whatever the type")
        << "English.ini" << "Report.CSV" << "*.xlsx" << "Report.CSV";
    QTest::newRow("a name with another extension gets the type's after it")
        << "English.ini" << "report.txt" << "*.xlsx" << "report.txt.xlsx";
    QTest::newRow("the dialog's first type is CSV") << "English.ini" << "report" << QString() << "report.csv";
    QTest::newRow("Traditional Chinese captions in a workbook")
        << "ChineseBig5.ini" << "報告" << "*.xlsx" << "報告.xlsx";
    QTest::newRow("Simplified Chinese captions in CSV") << "ChineseGB.ini" << "报告" << "*.csv" << "报告.csv";
}

void TestReportSave::savedFileEqualsTheWindowsReport() {
    QFETCH(QString, language);
    QFETCH(QString, typed);
    QFETCH(QString, type);
    QFETCH(QString, saved);
    QTemporaryDir dir;
    auto form = makeForm(language);
    fillReport(*form);
    m_files.saveAnswers.enqueue(dir.filePath(typed));
    if (!type.isEmpty())
        m_files.saveTypes.enqueue(type);

    saveItem(form.get())->trigger();

    QVERIFY2(m_prompter.calls.isEmpty(), m_prompter.calls.isEmpty() ? "" : qPrintable(m_prompter.calls[0].detail));
    QCOMPARE(m_files.saveFilters, QStringList{form->texts().text(QStringLiteral("OpenDialog"),
                                                                  QStringLiteral("ReportFilter"))});
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{saved});

    // What the window shows, row by row: the captions, then image word and sub-items.
    const RunReport& report = form->report();
    QList<QStringList> shown{report.columnCaptions()};
    const QStringList words = {"processed", "failure", "null value"};
    for (int i = 0; i < report.lineCount(); ++i)
        shown << QStringList{words[report.image(i)]} + report.subItems(i);

    const ReadReport read = readReportFile(dir.filePath(saved));
    QVERIFY(read.ok);
    QCOMPARE(read.rows, shown);
    QVERIFY(read.onlyTexts);
    if (saved.endsWith(QLatin1String("csv"), Qt::CaseInsensitive))
        QVERIFY(read.byteOrderMark && read.canonical);

    // The next save starts where this one went.
    m_files.saveAnswers.enqueue(QString());
    saveItem(form.get())->trigger();
    QCOMPARE(m_files.saveFolders.last(), dir.path());
}

void TestReportSave::existingFileIsReplacedOnlyOnYes_data() {
    QTest::addColumn<bool>("yes");
    QTest::newRow("No keeps the file as it was") << false;
    QTest::newRow("Yes replaces it with the report") << true;
}

void TestReportSave::existingFileIsReplacedOnlyOnYes() {
    QFETCH(bool, yes);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("old.csv"));
    QFile old(path);
    QVERIFY(old.open(QIODevice::WriteOnly));
    old.write("earlier report\r\n");
    old.close();
    auto form = makeForm();
    fillReport(*form);
    m_files.saveAnswers.enqueue(dir.filePath(QStringLiteral("old"))); // the CSV type completes it
    m_prompter.answers.enqueue(yes);

    saveItem(form.get())->trigger();

    QCOMPARE(m_prompter.calls.size(), 1);
    QCOMPARE(m_prompter.calls[0].kind, FakePrompter::Kind::Question);
    QCOMPARE(m_prompter.calls[0].text, QStringLiteral("The file old.csv already exists. Do you want to replace it?"));
    QCOMPARE(contentOf(path) == "earlier report\r\n", !yes);
    if (yes)
        QCOMPARE(readReportFile(path).rows.size(), 4);
}

void TestReportSave::failedSaveIsShownWithItsCause_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("causeHolds");
    QTest::newRow("a folder that does not exist") << "missing/report.csv" << "missing";
    QTest::newRow("a folder where the file should be") << "taken.xlsx" << "taken.xlsx";
}

void TestReportSave::failedSaveIsShownWithItsCause() {
    QFETCH(QString, name);
    QFETCH(QString, causeHolds);
    QTemporaryDir dir;
    QDir(dir.path()).mkdir(QStringLiteral("taken.xlsx"));
    auto form = makeForm();
    fillReport(*form);
    m_files.saveAnswers.enqueue(dir.filePath(name));
    m_prompter.answers.enqueue(true); // should the folder be taken for a file to replace

    saveItem(form.get())->trigger();

    QCOMPARE(m_prompter.calls.size(), 1);
    const FakePrompter::Call& shown = m_prompter.calls[0];
    QCOMPARE(shown.kind, FakePrompter::Kind::Error);
    QCOMPARE(shown.title, QStringLiteral("Error"));
    QCOMPARE(shown.text, QStringLiteral("The report could not be saved."));
    QVERIFY2(shown.detail.contains(causeHolds), qPrintable(shown.detail));
    QCOMPARE(QDir(dir.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries), QStringList{"taken.xlsx"});
    // The window goes on: the report is still there to be saved elsewhere.
    QCOMPARE(form->report().lineCount(), 3);
    QVERIFY(saveItem(form.get())->isEnabled());
}

QTEST_MAIN(TestReportSave)
#include "tst_reportsave.moc"
