// Pins Qt's own texts following the language file: the buttons of message boxes and the file
// dialog come out in the language chosen in the Languages submenu, at once, and go back to English
// with it. Needs Qt's translations (Debian's qt6-translations-l10n).
#include "app/formmain.h"
#include "app/qttexts.h"
#include "support/fakes.h"

#include <QAction>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {
// What a user sees of Qt's own texts right now.
struct QtTextsShown {
    QString yes, ok, open, openTitle;
};

QtTextsShown qtTextsShown() {
    QtTextsShown shown;
    QMessageBox box(QMessageBox::Question, QStringLiteral("t"), QStringLiteral("x"),
                    QMessageBox::Yes | QMessageBox::No | QMessageBox::Ok);
    shown.yes = box.button(QMessageBox::Yes)->text();
    shown.ok = box.button(QMessageBox::Ok)->text();
    QFileDialog dialog;
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    shown.open = dialog.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Open)->text();
    shown.openTitle = dialog.windowTitle();
    return shown;
}

const QtTextsShown kEnglish{QStringLiteral("&Yes"), QStringLiteral("OK"), QStringLiteral("&Open"),
                            QStringLiteral("Open")};
const QtTextsShown kSimplified{QStringLiteral("是(&Y)"), QStringLiteral("确定"), QStringLiteral("打开(&O)"),
                               QStringLiteral("打开")};
const QtTextsShown kTraditional{QStringLiteral("是(&Y)"), QStringLiteral("確定"), QStringLiteral("開啟(&O)"),
                                QStringLiteral("開啟")};

#define COMPARE_SHOWN(expected)                                                                              \
    do {                                                                                                     \
        const QtTextsShown shown = qtTextsShown();                                                           \
        QCOMPARE(shown.yes, (expected).yes);                                                                 \
        QCOMPARE(shown.ok, (expected).ok);                                                                   \
        QCOMPARE(shown.open, (expected).open);                                                               \
        QCOMPARE(shown.openTitle, (expected).openTitle);                                                     \
    } while (false)
} // namespace

Q_DECLARE_METATYPE(QtTextsShown)

class TestQtTexts : public QObject {
    Q_OBJECT
private slots:
    void followTheChosenLanguage_data();
    void followTheChosenLanguage();
    void switchingBetweenChineseLeavesOneTranslation();
    void storedChoiceAppliesAtFirstShowing();
    void closingTheProgramRestoresEnglish();
    void missingTranslationKeepsEnglishAndRetries();

private:
    std::unique_ptr<TMainForm> makeForm(const QString& storedLanguage);
    bool choose(TMainForm& form, const QString& languageName);

    QTemporaryDir m_home;
    FakePrompter m_prompter;
    FakeFileDialogs m_files;
    FakeShell m_shell;
    FakeAppProbe m_probe;
};

std::unique_ptr<TMainForm> TestQtTexts::makeForm(const QString& storedLanguage) {
    const QString settings = m_home.filePath(QStringLiteral("Tallyweave.conf"));
    SettingsStore(settings).write(QStringLiteral("LanguageFile"), storedLanguage);
    MainFormOptions options;
    options.programDirectory = QStringLiteral(TW_SOURCE_DIR);
    options.settingsFile = settings;
    options.languageId = [] { return 0x0409; };
    return std::make_unique<TMainForm>(m_prompter, m_files, m_shell, m_probe, options);
}

// Clicks the Languages item of that caption, as the user does.
bool TestQtTexts::choose(TMainForm& form, const QString& languageName) {
    const auto items = form.findChild<QMenu*>(QStringLiteral("MLanguages"))->actions();
    for (QAction* item : items) {
        if (item->text() == languageName) {
            item->trigger();
            return true;
        }
    }
    return false;
}

void TestQtTexts::followTheChosenLanguage_data() {
    QTest::addColumn<QString>("language");
    QTest::addColumn<QtTextsShown>("expected");
    QTest::newRow("Simplified Chinese") << QStringLiteral("简体中文") << kSimplified;
    QTest::newRow("Traditional Chinese") << QStringLiteral("繁體中文") << kTraditional;
    QTest::newRow("English") << QStringLiteral("English") << kEnglish;
}

void TestQtTexts::followTheChosenLanguage() {
    QFETCH(QString, language);
    QFETCH(QtTextsShown, expected);
    const auto form = makeForm(QStringLiteral("English.ini"));
    form->show();
    COMPARE_SHOWN(kEnglish);

    // The choice takes effect without a new activation of the window.
    QVERIFY(choose(*form, language));
    COMPARE_SHOWN(expected);
    QVERIFY(choose(*form, QStringLiteral("English")));
    COMPARE_SHOWN(kEnglish);
}

void TestQtTexts::switchingBetweenChineseLeavesOneTranslation() {
    const auto form = makeForm(QStringLiteral("English.ini"));
    form->show();
    QVERIFY(choose(*form, QStringLiteral("简体中文")));
    COMPARE_SHOWN(kSimplified);
    QVERIFY(choose(*form, QStringLiteral("繁體中文")));
    COMPARE_SHOWN(kTraditional);
    // The Simplified translation was taken away with the switch, so nothing of it is left over.
    QVERIFY(choose(*form, QStringLiteral("English")));
    COMPARE_SHOWN(kEnglish);
    // Activating the window again (which reapplies the language) changes nothing.
    QVERIFY(choose(*form, QStringLiteral("简体中文")));
    form->FormActivate();
    form->FormActivate();
    COMPARE_SHOWN(kSimplified);
    QVERIFY(choose(*form, QStringLiteral("English")));
    COMPARE_SHOWN(kEnglish);
}

void TestQtTexts::storedChoiceAppliesAtFirstShowing() {
    const auto form = makeForm(QStringLiteral("chinesebig5.ini"));
    COMPARE_SHOWN(kEnglish);
    form->show();
    COMPARE_SHOWN(kTraditional);
}

void TestQtTexts::closingTheProgramRestoresEnglish() {
    {
        const auto form = makeForm(QStringLiteral("ChineseGB.ini"));
        form->show();
        COMPARE_SHOWN(kSimplified);
    }
    COMPARE_SHOWN(kEnglish);
}

void TestQtTexts::missingTranslationKeepsEnglishAndRetries() {
    // A folder without Qt's translations: the language still applies, Qt's texts stay English.
    QTemporaryDir empty;
    QtTexts missing(empty.path());
    QVERIFY(!missing.apply(134));
    QCOMPARE(missing.locale(), QString());
    COMPARE_SHOWN(kEnglish);

    // A file that appears later is picked up by the next application of the language.
    QtTexts texts(empty.path());
    QVERIFY(!texts.apply(136));
    QVERIFY(
        QFile::copy(QLibraryInfo::path(QLibraryInfo::TranslationsPath) + QStringLiteral("/qtbase_zh_TW.qm"),
                    empty.filePath(QStringLiteral("qtbase_zh_TW.qm"))));
    QVERIFY(texts.apply(136));
    QCOMPARE(texts.locale(), QStringLiteral("zh_TW"));
    COMPARE_SHOWN(kTraditional);
}

QTEST_MAIN(TestQtTexts)
#include "tst_qttexts.moc"
