// Pins the Help menu's three commands as the main window carries them out: the guide beside the
// program, the about box in the language in force, and one home page for About and New Release.
#include "app/formabout.h"
#include "app/formmain.h"
#include "app/helpcommands.h"
#include "app/homepage.h"
#include "platform/settingsstore.h"
#include "support/fakes.h"

#include <QDate>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {

// A program folder with the shipped Simplified Chinese file as the chosen language.
struct Program {
    QTemporaryDir dir;
    FakePrompter prompter;
    FakeFileDialogs files;
    FakeShell shell;
    FakeAppProbe probe;
    std::unique_ptr<TMainForm> mainForm;
    TAboutForm* about = nullptr;

    QString folder() const { return dir.path() + QLatin1Char('/'); }

    Program() {
        QDir(dir.path()).mkdir(QStringLiteral("Languages"));
        QFile::copy(QStringLiteral(TW_SOURCE_DIR "/Languages/ChineseGB.ini"),
                    dir.filePath(QStringLiteral("Languages/ChineseGB.ini")));
        const QString settings = dir.filePath(QStringLiteral("config/Tallyweave.conf"));
        SettingsStore(settings).write(QStringLiteral("LanguageFile"), QStringLiteral("ChineseGB.ini"));
        MainFormOptions options;
        options.programDirectory = folder();
        options.settingsFile = settings;
        mainForm = std::make_unique<TMainForm>(prompter, files, shell, probe, options);
        about = addHelpCommands(*mainForm);
    }
};

} // namespace

class TestHelpCommands : public QObject {
    Q_OBJECT
private slots:
    void aboutBoxIsLastAndGetsTheLanguage();
    void helpOpensTheGuideWithoutAMessage_data();
    void helpOpensTheGuideWithoutAMessage();
    void aboutAndNewReleaseOpenTheOneStoredAddress();
};

void TestHelpCommands::aboutBoxIsLastAndGetsTheLanguage() {
    Program program;
    QCOMPARE(program.mainForm->windows().last()->widget(), program.about);
    QVERIFY(program.mainForm->hasCommand(TMainForm::Command::Help));
    QVERIFY(program.mainForm->hasCommand(TMainForm::Command::About));
    QVERIFY(program.mainForm->hasCommand(TMainForm::Command::Release));

    program.mainForm->FormActivate();
    QCOMPARE(program.about->windowTitle(), QStringLiteral("关于"));
    QCOMPARE(program.about->findChild<QLabel*>(QStringLiteral("LabelCopyright"))->text(),
             QStringLiteral("版权所有 (C) %1 Tallyweave 开发者").arg(QDate::currentDate().year()));
    QCOMPARE(program.about->findChild<QLabel*>(QStringLiteral("LabelVersion1"))->font().family(),
             QStringLiteral("Noto Sans CJK SC"));
    QCOMPARE(program.about->findChild<QLabel*>(QStringLiteral("LabelName"))->font().pixelSize(), 13);
}

void TestHelpCommands::helpOpensTheGuideWithoutAMessage_data() {
    QTest::addColumn<bool>("guidePresent");
    QTest::newRow("guide beside the program") << true;
    QTest::newRow("no guide: the desktop is asked all the same") << false;
}

void TestHelpCommands::helpOpensTheGuideWithoutAMessage() {
    QFETCH(bool, guidePresent);
    Program program;
    const QString guide = program.folder() + QLatin1String("Help.html");
    if (guidePresent)
        QVERIFY(QFile::copy(QStringLiteral(TW_SOURCE_DIR "/Help.html"), guide));
    program.mainForm->MHelpClick();
    QCOMPARE(program.shell.opened, QStringList{guide});
    QVERIFY2(program.prompter.calls.isEmpty(), "Help says nothing of its own");
}

void TestHelpCommands::aboutAndNewReleaseOpenTheOneStoredAddress() {
    Program program;
    bool stayedOpen = false;
    whenShown(program.about, [&] {
        QTest::mouseClick(program.about->findChild<QLabel*>(QStringLiteral("LabelHome2")), Qt::LeftButton);
        stayedOpen = program.about->isVisible();
        program.about->findChild<QPushButton*>(QStringLiteral("ButtonOk"))->click();
    });
    program.mainForm->MAboutClick();
    QVERIFY(stayedOpen);
    program.mainForm->MReleaseClick();

    QCOMPARE(program.shell.opened.size(), 2);
    QCOMPARE(program.shell.opened.at(0), TAboutForm::shownAddress());
    QCOMPARE(program.shell.opened.at(1), TAboutForm::shownAddress());
    QVERIFY(program.prompter.calls.isEmpty());
}

QTEST_MAIN(TestHelpCommands)
#include "tst_helpcommands.moc"
