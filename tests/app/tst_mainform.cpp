// Pins the main window: first-start language choice, the Languages submenu and its check marks,
// what a language file does to every window, the status panels, the commands' wiring, and the
// single-instance start of the real program.
#include "app/formmain.h"
#include "app/runreport.h"
#include "app/startup.h"
#include "support/fakes.h"
#include "support/programhome.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QProcess>
#include <QTemporaryDir>
#include <QToolButton>
#include <QTreeView>
#include <QtTest>

#include <memory>
#include <stdexcept>

namespace {
// A program folder with a Languages/ folder of its own, and a settings file beside it.
struct ProgramFolder {
    QTemporaryDir dir;
    QString languages() const { return dir.filePath(QStringLiteral("Languages")); }
    QString settingsFile() const { return dir.filePath(QStringLiteral("config/Tallyweave.conf")); }
    ProgramFolder() { QDir(dir.path()).mkdir(QStringLiteral("Languages")); }
    void add(const QString& fileName, const QByteArray& content) const {
        QFile file(QDir(languages()).filePath(fileName));
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(content);
    }
    void store(const QString& languageFile) const {
        SettingsStore(settingsFile()).write(QStringLiteral("LanguageFile"), languageFile);
    }
    QString stored() const { return SettingsStore(settingsFile()).read(QStringLiteral("LanguageFile")); }
};

// A language file whose menu, button and status texts all carry the given word.
QByteArray languageFile(const QByteArray& name, const QByteArray& word, const QByteArray& extra = {}) {
    return "[LanguageProperty]\nName=" + name + "\n" + extra + "[Menu]\nFile=" + word +
           " File\nExcelToExcel=" + word + " to Excel(&E)\nExcelToWord=" + word + " Word\nExit=E&xit " +
           word + "\nClear=" + word + " Clear\nLanguages=" + word + " Languages\nHelp=" + word +
           " Help(&H)\nRelease=" + word + " (&N)ew\n[Button]\nXlsToXls=" + word + " xls\nRelease=" + word +
           " new\n[StatusBar]\nRecords=" + word + " records:\nNullValues=" + word +
           " nulls:\nFailures=" + word + " failures:\n";
}

// A window that logs when it gets its texts and what the last registered window's font was then.
class RecordingWindow : public QWidget, public LocalizedWindow {
public:
    RecordingWindow(QString name, QStringList* log) : m_name(std::move(name)), m_log(log) {}
    QWidget* widget() override { return this; }
    void applyTexts(const Texts& texts) override {
        m_log->append(m_name + QLatin1Char(':') + texts.text(QStringLiteral("Menu"), QStringLiteral("File")));
        if (peer)
            peerFamilyAtTexts = peer->font().family();
    }
    QWidget* peer = nullptr;
    QString peerFamilyAtTexts;

private:
    QString m_name;
    QStringList* m_log;
};

class ThrowingObject : public QObject {
public:
    bool event(QEvent* event) override {
        if (event->type() == QEvent::User)
            throw std::runtime_error("handler failed");
        return QObject::event(event);
    }
};

QAction* item(QWidget* form, const QString& name) {
    return form->findChild<QAction*>(name);
}
QString panel(QWidget* form, int i) {
    return form->findChild<QLabel*>(QStringLiteral("StatusPanel%1").arg(i))->text();
}
} // namespace

class TestMainForm : public QObject {
    Q_OBJECT
private slots:
    void firstStartStoresDefaultChoice_data();
    void firstStartStoresDefaultChoice();
    void storedChoiceIsKept();
    void unavailableStoreLeavesNoLanguage();
    void submenuListsFilesInSortedOrder();
    void filesWithoutANameAreNotListed();
    void missingTextsFallBackToEnglish_data();
    void missingTextsFallBackToEnglish();
    void choiceChecksEqualCaptionsAndUsesFirstFile();
    void checkMarksCompareExactlyButFilesMatchWithoutCase();
    void choosingTheCheckedLanguageAgainKeepsItChecked();
    void textsFollowTheLanguageFile_data();
    void textsFollowTheLanguageFile();
    void fontReachesEveryWindowBeforeTextsInCreationOrder();
    void fontFallsBackWithoutLanguageProperty();
    void editedFileTakesEffectAtNextActivation();
    void firstShowingAppliesTheLanguage();
    void statusPanelsThroughARunAndClear();
    void listCatchesUpWithTheNewestLine();
    void commandsAreDisabledUntilGivenWork();
    void exceptionInCommandIsShownAndProgramGoesOn();
    void exceptionEscapingAHandlerIsShown();
    void secondStartLeavesAtOnce();

private:
    std::unique_ptr<TMainForm> makeForm(const ProgramFolder& folder, int languageId = 0x0409);

    FakePrompter m_prompter;
    FakeFileDialogs m_files;
    FakeShell m_shell;
    FakeAppProbe m_probe;
};

std::unique_ptr<TMainForm> TestMainForm::makeForm(const ProgramFolder& folder, int languageId) {
    MainFormOptions options;
    options.programDirectory = folder.dir.path();
    options.settingsFile = folder.settingsFile();
    options.languageId = [languageId] { return languageId; };
    return std::make_unique<TMainForm>(m_prompter, m_files, m_shell, m_probe, options);
}

void TestMainForm::firstStartStoresDefaultChoice_data() {
    QTest::addColumn<int>("languageId");
    QTest::addColumn<QString>("fileName");
    QTest::newRow("Chinese, Hong Kong") << 0x0C04 << "ChineseBig5.ini";
    QTest::newRow("Chinese, Singapore") << 0x1004 << "ChineseGB.ini";
    QTest::newRow("English, United Kingdom") << 0x0809 << "English.ini";
}

void TestMainForm::firstStartStoresDefaultChoice() {
    QFETCH(int, languageId);
    QFETCH(QString, fileName);
    ProgramFolder folder; // no language files at all: the name is stored all the same
    auto form = makeForm(folder, languageId);
    QCOMPARE(form->languageFileName(), fileName);
    QCOMPARE(folder.stored(), fileName);
    QVERIFY(form->findChild<QMenu*>(QStringLiteral("MLanguages"))->actions().isEmpty());
}

void TestMainForm::storedChoiceIsKept() {
    ProgramFolder folder;
    folder.store(QStringLiteral("German.ini"));
    auto form = makeForm(folder, 0x0804);
    QCOMPARE(form->languageFileName(), QStringLiteral("German.ini"));
    QCOMPARE(folder.stored(), QStringLiteral("German.ini"));
}

void TestMainForm::unavailableStoreLeavesNoLanguage() {
    ProgramFolder folder;
    folder.add(QStringLiteral("English.ini"), languageFile("English", "En"));
    QFile blocker(folder.dir.filePath(QStringLiteral("config")));
    QVERIFY(blocker.open(QIODevice::WriteOnly)); // the store's folder cannot be made
    blocker.close();
    auto form = makeForm(folder);
    QCOMPARE(form->languageFileName(), QString());
    QAction* english = item(form.get(), QStringLiteral("MLanguage0"));
    QVERIFY(english && !english->isChecked());
    form->FormActivate();
    // No file is chosen: every text is English's.
    QCOMPARE(item(form.get(), QStringLiteral("MExcelToExcel"))->text(), QStringLiteral("En to Excel(&E)"));
    QCOMPARE(panel(form.get(), 0), QStringLiteral("En records: 0"));

    // Choosing still works for the session; nothing can be written.
    english->trigger();
    QCOMPARE(form->languageFileName(), QStringLiteral("English.ini"));
    QCOMPARE(item(form.get(), QStringLiteral("MExcelToExcel"))->text(), QStringLiteral("En to Excel(&E)"));
    QVERIFY(QFileInfo(blocker.fileName()).isFile());
}

void TestMainForm::submenuListsFilesInSortedOrder() {
    ProgramFolder folder;
    folder.add(QStringLiteral("English.ini"), languageFile("English", "En"));
    folder.add(QStringLiteral("ChineseGB.ini"),
               languageFile("\xE7\xAE\x80\xE4\xBD\x93\xE4\xB8\xAD\xE6\x96\x87", "Zh"));
    folder.add(QStringLiteral("deutsch.ini"), languageFile("Deutsch", "De"));
    folder.add(QStringLiteral("readme.txt"), languageFile("Readme", "No"));
    folder.store(QStringLiteral("english.INI")); // differs in case from the file on disk
    auto form = makeForm(folder);

    const auto items = form->findChild<QMenu*>(QStringLiteral("MLanguages"))->actions();
    QCOMPARE(items.size(), 3);
    const QStringList expected = {QString::fromUtf8("\xE7\xAE\x80\xE4\xBD\x93\xE4\xB8\xAD\xE6\x96\x87"),
                                  QStringLiteral("Deutsch"), QStringLiteral("English")};
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(items[i]->objectName(), QStringLiteral("MLanguage%1").arg(i));
        QCOMPARE(items[i]->text(), expected[i]);
        QCOMPARE(items[i]->isChecked(), i == 2);
    }
    // The file is found although the stored name differs in case.
    form->FormActivate();
    QCOMPARE(form->findChild<QMenu*>(QStringLiteral("MenuFile"))->title(), QStringLiteral("En File"));
}

void TestMainForm::filesWithoutANameAreNotListed() {
    ProgramFolder folder;
    folder.add(QStringLiteral("a-notes.ini"), "[Menu]\nFile=Notes\n");
    folder.add(QStringLiteral("b-blank.ini"), languageFile("  ", "Blank"));
    folder.add(QStringLiteral("c-german.ini"), languageFile("Deutsch", "De"));
    folder.add(QStringLiteral("d-empty.ini"), "");
    folder.add(QStringLiteral("e-english.ini"), languageFile("English", "En"));
    folder.store(QStringLiteral("e-english.ini"));
    auto form = makeForm(folder);

    const auto items = form->findChild<QMenu*>(QStringLiteral("MLanguages"))->actions();
    QStringList captions, names;
    for (const QAction* listed : items) {
        captions << listed->text();
        names << listed->objectName();
    }
    QCOMPARE(captions, (QStringList{"Deutsch", "English"}));
    QCOMPARE(names, (QStringList{"MLanguage0", "MLanguage1"}));
    QVERIFY(items[1]->isChecked());
    items[0]->trigger();
    QCOMPARE(folder.stored(), QStringLiteral("c-german.ini"));
}

void TestMainForm::missingTextsFallBackToEnglish_data() {
    QTest::addColumn<QString>("objectName");
    QTest::addColumn<QString>("text");

    QTest::newRow("a text the file has") << "MExcelToExcel"
                                         << "Pa to Excel(&E)";
    QTest::newRow("a key the file lacks") << "MExcelToWord"
                                          << "En Word";
    QTest::newRow("a key left empty") << "MExit"
                                      << "E&xit En";
    QTest::newRow("a section the file lacks") << "ButtonExcel"
                                              << "En xls";
}

void TestMainForm::missingTextsFallBackToEnglish() {
    QFETCH(QString, objectName);
    QFETCH(QString, text);
    ProgramFolder folder;
    folder.add(QStringLiteral("English.ini"), languageFile("English", "En"));
    // A translation cut short: one menu text, one left empty, no buttons at all.
    folder.add(QStringLiteral("Partial.ini"),
               "[LanguageProperty]\nName=Partial\n[Menu]\nExcelToExcel=Pa to Excel(&E)\nExit=\n");
    folder.store(QStringLiteral("Partial.ini"));
    auto form = makeForm(folder);
    form->FormActivate();

    if (QAction* action = item(form.get(), objectName))
        QCOMPARE(action->text(), text);
    else
        QCOMPARE(form->findChild<QToolButton*>(objectName)->text(), text);
}

void TestMainForm::choiceChecksEqualCaptionsAndUsesFirstFile() {
    ProgramFolder folder;
    folder.add(QStringLiteral("b.ini"), languageFile("Same", "B"));
    folder.add(QStringLiteral("a.ini"), languageFile("Same", "A"));
    folder.add(QStringLiteral("c.ini"), languageFile("Other", "C"));
    folder.store(QStringLiteral("c.ini"));
    auto form = makeForm(folder);
    QVERIFY(item(form.get(), QStringLiteral("MLanguage2"))->isChecked());

    item(form.get(), QStringLiteral("MLanguage1"))->trigger(); // b.ini's item
    QVERIFY(item(form.get(), QStringLiteral("MLanguage0"))->isChecked());
    QVERIFY(item(form.get(), QStringLiteral("MLanguage1"))->isChecked());
    QVERIFY(!item(form.get(), QStringLiteral("MLanguage2"))->isChecked());
    QCOMPARE(folder.stored(), QStringLiteral("a.ini"));
    QCOMPARE(form->languageFileName(), QStringLiteral("a.ini"));
    QCOMPARE(form->findChild<QMenu*>(QStringLiteral("MenuFile"))->title(), QStringLiteral("A File"));
}

void TestMainForm::checkMarksCompareExactlyButFilesMatchWithoutCase() {
    ProgramFolder folder;
    folder.add(QStringLiteral("a.ini"), languageFile("English", "A"));
    folder.add(QStringLiteral("b.ini"), languageFile("ENGLISH", "B"));
    folder.store(QStringLiteral("b.ini"));
    auto form = makeForm(folder);
    item(form.get(), QStringLiteral("MLanguage1"))->trigger();
    QVERIFY(!item(form.get(), QStringLiteral("MLanguage0"))->isChecked());
    QVERIFY(item(form.get(), QStringLiteral("MLanguage1"))->isChecked());
    QCOMPARE(folder.stored(), QStringLiteral("a.ini"));
    QCOMPARE(form->findChild<QMenu*>(QStringLiteral("MenuFile"))->title(), QStringLiteral("A File"));
}

void TestMainForm::choosingTheCheckedLanguageAgainKeepsItChecked() {
    ProgramFolder folder;
    folder.add(QStringLiteral("English.ini"), languageFile("English", "En"));
    folder.store(QStringLiteral("English.ini"));
    auto form = makeForm(folder);
    QAction* english = item(form.get(), QStringLiteral("MLanguage0"));
    QVERIFY(english->isChecked());
    folder.store(QStringLiteral("Changed meanwhile.ini"));
    english->trigger(); // a checkable item unchecks itself when clicked; the choice must check it again
    QVERIFY(english->isChecked());
    QCOMPARE(folder.stored(), QStringLiteral("English.ini"));
}

void TestMainForm::textsFollowTheLanguageFile_data() {
    QTest::addColumn<QByteArray>("word");
    QTest::newRow("English") << QByteArray("En");
    QTest::newRow("German") << QByteArray("De");
}

void TestMainForm::textsFollowTheLanguageFile() {
    QFETCH(QByteArray, word);
    const QString w = QString::fromLatin1(word);
    ProgramFolder folder;
    folder.add(QStringLiteral("Test.ini"), languageFile("Test", word));
    folder.store(QStringLiteral("Test.ini"));
    auto form = makeForm(folder);
    form->FormActivate();

    QCOMPARE(form->windowTitle(), QStringLiteral("Tallyweave"));
    QCOMPARE(form->findChild<QMenu*>(QStringLiteral("MenuFile"))->title(), w + " File");
    QCOMPARE(form->findChild<QMenu*>(QStringLiteral("MLanguages"))->title(), w + " Languages");
    QCOMPARE(form->findChild<QMenu*>(QStringLiteral("MenuHelp"))->title(), w + " Help(&H)");
    QCOMPARE(item(form.get(), QStringLiteral("MHelp"))->text(), w + " Help(&H)");
    QCOMPARE(item(form.get(), QStringLiteral("MExit"))->text(), "E&xit " + w);
    QCOMPARE(item(form.get(), QStringLiteral("MClear"))->text(), w + " Clear");
    QCOMPARE(item(form.get(), QStringLiteral("MPopupClear"))->text(), w + " Clear");
    // Captions stay exactly as the file has them, ampersands included.
    QCOMPARE(item(form.get(), QStringLiteral("MExcelToExcel"))->text(), w + " to Excel(&E)");
    // A key the file lacks, with no English file to stand in, leaves the text empty.
    QCOMPARE(item(form.get(), QStringLiteral("MExcelToOutlook"))->text(), QString());

    auto* excel = form->findChild<QToolButton*>(QStringLiteral("ButtonExcel"));
    QCOMPARE(excel->text(), w + " xls");
    QCOMPARE(excel->toolTip(), w + " to Excel");
    auto* release = form->findChild<QToolButton*>(QStringLiteral("ButtonRelease"));
    QCOMPARE(release->text(), w + " new");
    QCOMPARE(release->toolTip(), w + " ew");
    QCOMPARE(form->findChild<QToolButton*>(QStringLiteral("ButtonHelp"))->toolTip(), w + " Help");
}

void TestMainForm::fontReachesEveryWindowBeforeTextsInCreationOrder() {
    ProgramFolder folder;
    folder.add(QStringLiteral("Test.ini"),
               languageFile("Test", "T", "FontName=DejaVu Sans\nFontSize=large\nCharSet=390\n"));
    folder.store(QStringLiteral("Test.ini"));
    auto form = makeForm(folder);
    QStringList log;
    RecordingWindow first(QStringLiteral("first"), &log);
    RecordingWindow second(QStringLiteral("second"), &log);
    auto* ownFont = new QLabel(&first);
    QFont courier;
    courier.setFamily(QStringLiteral("Courier"));
    ownFont->setFont(courier);
    first.peer = &second;
    form->registerWindow(&first);
    form->registerWindow(&second);
    form->registerWindow(&first); // registered once only
    QCOMPARE(form->windows().size(), 3);
    QCOMPARE(form->windows().first(), static_cast<LocalizedWindow*>(form.get()));

    form->FormActivate();
    QCOMPARE(log, QStringList({"first:T File", "second:T File"}));
    QCOMPARE(first.peerFamilyAtTexts, QStringLiteral("DejaVu Sans"));
    for (QWidget* w :
         {static_cast<QWidget*>(form.get()), static_cast<QWidget*>(&first), static_cast<QWidget*>(&second)}) {
        QCOMPARE(w->font().family(), QStringLiteral("DejaVu Sans"));
        QCOMPARE(w->font().pointSize(), 8);
        QCOMPARE(w->property("charSet").toInt(), 134);
    }
    QCOMPARE(ownFont->font().family(), QStringLiteral("Courier"));
    QCOMPARE(ownFont->font().pointSize(), 8);
}

void TestMainForm::fontFallsBackWithoutLanguageProperty() {
    ProgramFolder folder;
    folder.add(QStringLiteral("Bare.ini"), "[Menu]\nFile=Bare\n[LanguageProperty]\nFontSize=-3\n");
    folder.store(QStringLiteral("Bare.ini"));
    auto form = makeForm(folder);
    form->FormActivate();
    QCOMPARE(form->font().family(), QStringLiteral("Tahoma"));
    QCOMPARE(form->font().pointSize(), 8);
    QCOMPARE(form->property("charSet").toInt(), 1);
}

void TestMainForm::editedFileTakesEffectAtNextActivation() {
    ProgramFolder folder;
    folder.add(QStringLiteral("Test.ini"), languageFile("Test", "Old"));
    folder.store(QStringLiteral("Test.ini"));
    auto form = makeForm(folder);
    QEvent activate(QEvent::WindowActivate);
    QCoreApplication::sendEvent(form.get(), &activate);
    QCOMPARE(form->findChild<QMenu*>(QStringLiteral("MenuFile"))->title(), QStringLiteral("Old File"));
    folder.add(QStringLiteral("Test.ini"), languageFile("Test", "New"));
    QCOMPARE(form->texts().text(QStringLiteral("Menu"), QStringLiteral("File")), QStringLiteral("Old File"));
    QCoreApplication::sendEvent(form.get(), &activate);
    QCOMPARE(form->findChild<QMenu*>(QStringLiteral("MenuFile"))->title(), QStringLiteral("New File"));
    QCOMPARE(form->texts().text(QStringLiteral("Menu"), QStringLiteral("File")), QStringLiteral("New File"));
}

void TestMainForm::firstShowingAppliesTheLanguage() {
    ProgramFolder folder;
    folder.add(QStringLiteral("Test.ini"), languageFile("Test", "Shown"));
    folder.store(QStringLiteral("Test.ini"));
    auto form = makeForm(folder);
    QCOMPARE(form->findChild<QMenu*>(QStringLiteral("MenuFile"))->title(), QStringLiteral("File"));
    form->show();
    QVERIFY(QTest::qWaitForWindowExposed(form.get()));
    QCOMPARE(form->findChild<QMenu*>(QStringLiteral("MenuFile"))->title(), QStringLiteral("Shown File"));
    QCOMPARE(panel(form.get(), 0), QStringLiteral("Shown records: 0"));
}

void TestMainForm::statusPanelsThroughARunAndClear() {
    ProgramFolder folder;
    folder.add(QStringLiteral("Test.ini"), languageFile("Test", "T"));
    folder.store(QStringLiteral("Test.ini"));
    auto form = makeForm(folder);
    form->FormActivate();
    QCOMPARE(panel(form.get(), 0), QStringLiteral("T records: 0"));
    QCOMPARE(panel(form.get(), 1), QStringLiteral("T nulls: 0"));
    QCOMPARE(panel(form.get(), 2), QStringLiteral("T failures: 0"));

    RunReport& report = form->report();
    report.begin({{QStringLiteral("Index"), 80}, {QStringLiteral("Value"), 120}});
    const int images[] = {ImageProcessed, ImageFailure, ImageNullValue, ImagePending, ImageProcessed};
    for (int image : images) {
        report.addLine({QStringLiteral("k"), QStringLiteral("v")}, image);
        report.afterLine(QStringLiteral("R"), QStringLiteral("N"), QStringLiteral("F"), report.count());
    }
    report.setImage(3, ImageProcessed);
    QTRY_COMPARE(panel(form.get(), 0), QStringLiteral("R5")); // the panels catch up within moments
    QCOMPARE(panel(form.get(), 1), QStringLiteral("N1"));
    QCOMPARE(panel(form.get(), 2), QStringLiteral("F1"));
    QCOMPARE(report.selectedLine(), 4);

    form->FormActivate(); // the run dialog closed: the main window is active again
    QCOMPARE(panel(form.get(), 0), QStringLiteral("T records: 5"));
    QCOMPARE(panel(form.get(), 1), QStringLiteral("T nulls: 1"));
    QCOMPARE(panel(form.get(), 2), QStringLiteral("T failures: 1"));

    report.setImage(0, ImageFailure);
    report.setImage(1, ImageNullValue);
    form->FormActivate();
    QCOMPARE(panel(form.get(), 1), QStringLiteral("T nulls: 2"));
    QCOMPARE(panel(form.get(), 2), QStringLiteral("T failures: 1"));

    item(form.get(), QStringLiteral("MPopupClear"))->trigger();
    QCOMPARE(report.lineCount(), 0);
    QCOMPARE(report.columnCaptions(), QStringList());
    QVERIFY(report.view() == RunReport::View::LargeIcon);
    QCOMPARE(panel(form.get(), 0), QStringLiteral("T records: 0"));
    QCOMPARE(panel(form.get(), 1), QStringLiteral("T nulls: 0"));
    QCOMPARE(panel(form.get(), 2), QStringLiteral("T failures: 0"));
    QCOMPARE(form->findChild<QTreeView*>(QStringLiteral("ListView1"))->model()->columnCount(), 0);
}

void TestMainForm::listCatchesUpWithTheNewestLine() {
    ProgramFolder folder;
    auto form = makeForm(folder);
    auto* list = form->findChild<QTreeView*>(QStringLiteral("ListView1"));
    RunReport& report = form->report();
    report.begin({{QStringLiteral("Mail to"), 150}});
    for (int i = 0; i < 3; ++i) {
        report.addLine({QStringLiteral("r%1@example.org").arg(i)}, ImagePending);
        report.afterLine({}, {}, {}, report.count());
        QCOMPARE(report.lineCount(), i + 1); // known at once to the run
    }
    report.setImage(1, ImageFailure);
    report.setSubItem(1, 0, QStringLiteral("changed"));
    // The list shows the lines and follows the newest without anyone asking, as the event loop runs.
    QTRY_COMPARE_WITH_TIMEOUT(list->model()->rowCount(), 3, 2000);
    QTRY_COMPARE_WITH_TIMEOUT(list->currentIndex().row(), 2, 2000);
    QCOMPARE(list->model()->index(1, 1).data().toString(), QStringLiteral("changed"));
    QCOMPARE(report.count().failures, 1);

    // A new run starts from nothing, lines still waiting to be shown included.
    report.addLine({QStringLiteral("late")}, ImageProcessed);
    report.begin({{QStringLiteral("Field"), 100}});
    QCOMPARE(report.lineCount(), 0);
    QTest::qWait(2 * RunReport::kCatchUpMs);
    QCOMPARE(list->model()->rowCount(), 0);
    QCOMPARE(report.count().records, 0);
}

void TestMainForm::commandsAreDisabledUntilGivenWork() {
    ProgramFolder folder;
    auto form = makeForm(folder);
    const QStringList items = {"MExcelToExcel",  "MExcelToWord", "MExcelToOutlook", "MBulkMails",
                               "MServerOptions", "MHelp",        "MAbout",          "MRelease"};
    const QStringList buttons = {"ButtonExcel",   "ButtonWord", "ButtonOutlook", "ButtonBulkMails",
                                 "ButtonOptions", "ButtonHelp", "ButtonAbout",   "ButtonRelease"};
    for (int i = 0; i < items.size(); ++i) {
        QVERIFY2(!item(form.get(), items[i])->isEnabled(), qPrintable(items[i]));
        QVERIFY2(!form->findChild<QToolButton*>(buttons[i])->isEnabled(), qPrintable(buttons[i]));
    }
    QVERIFY(item(form.get(), QStringLiteral("MExit"))->isEnabled());
    QVERIFY(item(form.get(), QStringLiteral("MClear"))->isEnabled());

    QStringList ran;
    form->setCommand(TMainForm::Command::BulkMails, [&ran] { ran << QStringLiteral("bulk"); });
    form->setCommand(TMainForm::Command::About, [&ran] { ran << QStringLiteral("about"); });
    QVERIFY(item(form.get(), QStringLiteral("MBulkMails"))->isEnabled());
    QVERIFY(form->findChild<QToolButton*>(QStringLiteral("ButtonBulkMails"))->isEnabled());
    QVERIFY(!item(form.get(), QStringLiteral("MExcelToExcel"))->isEnabled());

    item(form.get(), QStringLiteral("MBulkMails"))->trigger();
    form->findChild<QToolButton*>(QStringLiteral("ButtonBulkMails"))->click();
    form->findChild<QToolButton*>(QStringLiteral("ButtonAbout"))->click();
    form->MExcelToExcelClick(); // no work given: nothing happens
    QCOMPARE(ran, QStringList({"bulk", "bulk", "about"}));

    form->setCommand(TMainForm::Command::BulkMails, {});
    QVERIFY(!item(form.get(), QStringLiteral("MBulkMails"))->isEnabled());
    QVERIFY(!form->hasCommand(TMainForm::Command::BulkMails));
}

void TestMainForm::exceptionInCommandIsShownAndProgramGoesOn() {
    ProgramFolder folder;
    auto form = makeForm(folder);
    m_prompter.calls.clear();
    int helpRuns = 0;
    form->setCommand(TMainForm::Command::ExcelToWord, [] { throw std::runtime_error("template is locked"); });
    form->setCommand(TMainForm::Command::Release, [] { throw 42; });
    form->setCommand(TMainForm::Command::Help, [&helpRuns] { ++helpRuns; });

    form->findChild<QToolButton*>(QStringLiteral("ButtonWord"))->click();
    form->MReleaseClick();
    form->MHelpClick();
    QCOMPARE(m_prompter.calls.size(), 2);
    QVERIFY(m_prompter.calls[0].kind == FakePrompter::Kind::Error);
    QCOMPARE(m_prompter.calls[0].title, QStringLiteral("Tallyweave"));
    QCOMPARE(m_prompter.calls[0].text, QStringLiteral("template is locked"));
    QCOMPARE(m_prompter.calls[1].text, QString());
    QCOMPARE(helpRuns, 1);
}

void TestMainForm::exceptionEscapingAHandlerIsShown() {
    auto* app = dynamic_cast<TallyweaveApplication*>(QCoreApplication::instance());
    QVERIFY(app);
    m_prompter.calls.clear();
    app->setPrompter(&m_prompter);
    ThrowingObject target;
    QEvent user(QEvent::User);
    QCoreApplication::sendEvent(&target, &user);
    app->setPrompter(nullptr);
    QCOMPARE(m_prompter.calls.size(), 1);
    QVERIFY(m_prompter.calls[0].kind == FakePrompter::Kind::Error);
    QCOMPARE(m_prompter.calls[0].text, QStringLiteral("handler failed"));
}

void TestMainForm::secondStartLeavesAtOnce() {
    const QString program = QStringLiteral(TW_BINARY_DIR "/tallyweave");
    QVERIFY2(QFileInfo(program).isExecutable(), qPrintable(program));
    QTemporaryDir home;
    const QProcessEnvironment env = programEnvironment(home, QStringLiteral("zh_HK.UTF-8"));

    QProcess first;
    first.setProcessEnvironment(env);
    first.start(program, {});
    QVERIFY(first.waitForStarted(10000));
    // The first start stores the default choice for the user's language, Hong Kong Chinese here.
    const SettingsStore store(home.filePath(QStringLiteral("config/Tallyweave.conf")));
    QTRY_COMPARE_WITH_TIMEOUT(store.read(QStringLiteral("LanguageFile")), QStringLiteral("ChineseBig5.ini"),
                              20000);

    QProcess second;
    second.setProcessEnvironment(env);
    QElapsedTimer clock;
    clock.start();
    second.start(program, {});
    QVERIFY(second.waitForFinished(10000));
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.exitCode(), 0);
    QVERIFY2(clock.elapsed() < 5000, "a second start must leave without building any window");
    QCOMPARE(second.readAllStandardError(), QByteArray());
    QCOMPARE(first.state(), QProcess::Running);

    first.kill();
    QVERIFY(first.waitForFinished(10000));
}

int main(int argc, char** argv) {
    // The program's own application object, so that what escapes a handler is caught as in use.
    TallyweaveApplication app(argc, argv);
    TestMainForm test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_mainform.moc"
