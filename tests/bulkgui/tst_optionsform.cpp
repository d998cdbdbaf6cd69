// The mail-server options dialog: what it shows from the settings file, what the port field lets
// in, what OK writes (and with which file mode), that Cancel keeps the edits in force without
// writing them, and that the main window and the bulk dialog open the one dialog.
#include "app/formmain.h"
#include "app/startup.h"
#include "bulkwindows.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QToolButton>
#include <QtTest>

#include <sys/stat.h>

#include <memory>

namespace {

using Stored = QMap<QString, QString>;

void store(const QString& file, const Stored& values) {
    QSettings settings(file, QSettings::IniFormat);
    for (auto it = values.begin(); it != values.end(); ++it)
        settings.setValue(it.key(), it.value());
}

Stored readBack(const QString& file) {
    QSettings settings(file, QSettings::IniFormat);
    Stored values;
    for (const QString& key : settings.allKeys())
        values.insert(key, settings.value(key).toString());
    return values;
}

int fileMode(const QString& file) {
    struct stat st {};
    if (::stat(QFile::encodeName(file).constData(), &st) != 0)
        return -1;
    return int(st.st_mode & 0777);
}

const Stored kComplete{{"Email", "me@example.org"}, {"SMTPAddress", "smtp.example.org"}, {"SMTPPort", "587"},
                       {"SMTPUserName", "me"},      {"SMTPPassword", "secret"},          {"SMTPSSL", "0"}};

} // namespace

class TestOptionsForm : public QObject {
    Q_OBJECT
private slots:
    void init();

    void loadShowsTheStoredValues_data();
    void loadShowsTheStoredValues();
    void okFollowsTheFiveFields_data();
    void okFollowsTheFiveFields();
    void portTakesDigitsOnly_data();
    void portTakesDigitsOnly();
    void okSavesTrimmedValuesOwnerOnly();
    void cancelKeepsTheEditsInForceButNotInTheFile();
    void mainWindowAndBulkDialogOpenTheSameDialog();
    void imapAccountOfItsOwnOrTheSmtpOne_data();
    void imapAccountOfItsOwnOrTheSmtpOne();
    void tokenSignInTakesThePlaceOfThePassword();

private:
    std::unique_ptr<QTemporaryDir> dir;
    QString settingsFile() const { return dir->filePath("Tallyweave.conf"); }
};

void TestOptionsForm::init() {
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
}

void TestOptionsForm::loadShowsTheStoredValues_data() {
    QTest::addColumn<Stored>("stored");
    QTest::addColumn<QStringList>("shown"); // e-mail, server, port, account, password
    QTest::addColumn<bool>("ssl");
    QTest::addColumn<bool>("okEnabled");

    QTest::newRow("nothing stored") << Stored{} << QStringList{"", "", "25", "", ""} << false << false;
    QTest::newRow("everything stored")
        << kComplete << QStringList{"me@example.org", "smtp.example.org", "587", "me", "secret"} << false
        << true;
    QTest::newRow("a port that is no number")
        << Stored{{"SMTPPort", "abc"}} << QStringList{"", "", "25", "", ""} << false << false;
    QTest::newRow("a port with a leading zero")
        << Stored{{"SMTPPort", "0587"}} << QStringList{"", "", "587", "", ""} << false << false;
    QTest::newRow("SSL one with blanks around")
        << Stored{{"SMTPSSL", " 1 "}} << QStringList{"", "", "25", "", ""} << true << false;
    QTest::newRow("SSL true is not one")
        << Stored{{"SMTPSSL", "true"}} << QStringList{"", "", "25", "", ""} << false << false;
}

void TestOptionsForm::loadShowsTheStoredValues() {
    QFETCH(Stored, stored);
    QFETCH(QStringList, shown);
    QFETCH(bool, ssl);
    QFETCH(bool, okEnabled);

    store(settingsFile(), stored);
    BulkWindows h;
    h.options.loadSettings(SettingsStore(settingsFile()));
    h.options.show();
    const QStringList fields{h.options.EditEmail->text(), h.options.EditSMTPServer->text(),
                             h.options.EditPort->text(), h.options.EditAccounts->text(),
                             h.options.EditPassword->text()};
    QCOMPARE(fields, shown);
    QCOMPARE(h.options.CheckBoxSSL->isChecked(), ssl);
    QCOMPARE(h.options.ButtonOk->isEnabled(), okEnabled);
    QCOMPARE(h.options.EditPassword->echoMode(), QLineEdit::Password);
}

void TestOptionsForm::okFollowsTheFiveFields_data() {
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("okEnabled");

    QTest::newRow("account of blanks only") << "EditAccounts"
                                            << " \t " << false;
    QTest::newRow("all five filled") << "EditAccounts"
                                     << "me" << true;
    for (const char* field : {"EditEmail", "EditSMTPServer", "EditPort", "EditAccounts", "EditPassword"}) {
        QTest::addRow("%s empty", field) << field << "" << false;
    }
}

void TestOptionsForm::okFollowsTheFiveFields() {
    QFETCH(QString, field);
    QFETCH(QString, text);
    QFETCH(bool, okEnabled);

    store(settingsFile(), kComplete);
    BulkWindows h;
    h.options.loadSettings(SettingsStore(settingsFile()));
    h.options.show();
    QVERIFY(h.options.ButtonOk->isEnabled());
    auto* edit = h.options.findChild<QLineEdit*>(field);
    QVERIFY(edit);
    if (field == "EditPort")
        edit->clear(); // blanks cannot be typed into the port
    else
        edit->setText(text);
    QCOMPARE(h.options.ButtonOk->isEnabled(), okEnabled);
    h.options.CheckBoxSSL->setChecked(true); // the box plays no part
    QCOMPARE(h.options.ButtonOk->isEnabled(), okEnabled);
    h.options.hide();
    h.options.show();
    QCOMPARE(h.options.ButtonOk->isEnabled(), okEnabled);
}

void TestOptionsForm::portTakesDigitsOnly_data() {
    QTest::addColumn<QString>("start");
    QTest::addColumn<QString>("typed");    // keys, "<" for Backspace
    QTest::addColumn<QString>("inserted"); // a paste, after the keys
    QTest::addColumn<QString>("port");

    QTest::newRow("digits") << ""
                            << "465"
                            << ""
                            << "465";
    QTest::newRow("letters and a minus sign are dropped") << ""
                                                          << "5a8-7"
                                                          << ""
                                                          << "587";
    QTest::newRow("blanks and a plus sign are dropped") << ""
                                                        << " 2+5 "
                                                        << ""
                                                        << "25";
    QTest::newRow("Backspace deletes") << "25"
                                       << "<<587<"
                                       << ""
                                       << "58";
    QTest::newRow("pasted digits go in") << ""
                                         << ""
                                         << "2525"
                                         << "2525";
    QTest::newRow("a paste with anything but digits is refused whole") << "25"
                                                                       << ""
                                                                       << "8-0"
                                                                       << "25";
    QTest::newRow("a pasted number with a blank is refused") << ""
                                                             << ""
                                                             << " 587"
                                                             << "";
}

void TestOptionsForm::portTakesDigitsOnly() {
    QFETCH(QString, start);
    QFETCH(QString, typed);
    QFETCH(QString, inserted);
    QFETCH(QString, port);

    BulkWindows h;
    h.options.EditPort->setText(start);
    h.options.show();
    QVERIFY(QTest::qWaitForWindowExposed(&h.options));
    h.options.EditPort->setFocus();
    h.options.EditPort->end(false);
    for (const QChar c : typed) {
        if (c == '<')
            QTest::keyClick(h.options.EditPort, Qt::Key_Backspace);
        else
            QTest::keyClicks(h.options.EditPort, QString(c));
    }
    if (!inserted.isEmpty())
        h.options.EditPort->insert(inserted); // what a paste does
    QCOMPARE(h.options.EditPort->text(), port);
}

void TestOptionsForm::okSavesTrimmedValuesOwnerOnly() {
    // A file another program left readable by all, holding the language choice.
    store(settingsFile(), {{"LanguageFile", "English.ini"}});
    QVERIFY(::chmod(QFile::encodeName(settingsFile()).constData(), 0644) == 0);

    BulkWindows h;
    h.options.loadSettings(SettingsStore(settingsFile()));
    whenShown(&h.options, [&] {
        h.options.EditEmail->setText("  me@example.org ");
        h.options.EditSMTPServer->setText("smtp.example.org\t");
        h.options.EditPort->setText("0587");
        h.options.EditAccounts->setText(" me");
        h.options.EditPassword->setText(" pass word ");
        h.options.CheckBoxSSL->setChecked(true);
        h.options.ButtonOk->click();
    });
    QVERIFY(h.options.showAndSave());
    QCOMPARE(readBack(settingsFile()), (Stored{{"LanguageFile", "English.ini"},
                                               {"Email", "me@example.org"},
                                               {"SMTPAddress", "smtp.example.org"},
                                               {"SMTPPort", "0587"},
                                               {"SMTPUserName", "me"},
                                               {"SMTPPassword", "pass word"},
                                               {"SMTPSSL", "1"},
                                               {"SMTPAuth", "password"},
                                               {"SMTPTokenCommand", ""},
                                               {"IMAPAddress", ""},
                                               {"IMAPPort", "993"},
                                               {"IMAPSSL", "1"},
                                               {"IMAPFolder", "Drafts"},
                                               {"IMAPUserName", ""},
                                               {"IMAPPassword", ""}}));
    QVERIFY2(fileMode(settingsFile()) == 0600, "the file holds the password: owner only");

    whenShown(&h.options, [&] {
        h.options.CheckBoxSSL->setChecked(false);
        h.options.ButtonOk->click();
    });
    QVERIFY(h.options.showAndSave());
    QCOMPARE(readBack(settingsFile()).value("SMTPSSL"), QString("0"));
    QCOMPARE(fileMode(settingsFile()), 0600);
}

void TestOptionsForm::cancelKeepsTheEditsInForceButNotInTheFile() {
    store(settingsFile(), kComplete);
    const Stored before = readBack(settingsFile());
    BulkWindows h;
    h.options.loadSettings(SettingsStore(settingsFile()));
    whenShown(&h.options, [&] {
        h.options.EditSMTPServer->setText("other.example.org");
        h.options.EditPassword->setText("   ");
        h.options.ButtonCancel->click();
    });
    QVERIFY(!h.options.showAndSave());
    QCOMPARE(readBack(settingsFile()), before);
    QCOMPARE(h.options.fields().host, QString("other.example.org"));
    QCOMPARE(serverSettings(h.options.fields()).host, QString("other.example.org"));

    // What the bulk dialog checks is the edited, now incomplete, set of fields.
    h.form.show();
    h.form.Fields->Edit1->setText("book.xlsx");
    h.form.Fields->Edit3->setText("Hello");
    h.memo()->setPlainText("Body");
    h.form.ButtonSend->click();
    QVERIFY(h.form.isVisible());
    QCOMPARE(h.prompter.calls.size(), 1);
    QCOMPARE(h.prompter.calls[0].text, QString("BulkProgressForm.String02"));

    // Shown again, the dialog offers the edits, not the stored values.
    whenShown(&h.options, [&] { h.options.ButtonCancel->click(); });
    h.options.showAndSave();
    QCOMPARE(h.options.EditSMTPServer->text(), QString("other.example.org"));
}

void TestOptionsForm::mainWindowAndBulkDialogOpenTheSameDialog() {
    store(settingsFile(), kComplete);
    FakePrompter prompter;
    FakeFileDialogs files;
    FakeShell shell;
    FakeAppProbe probe;
    MainFormOptions options;
    options.programDirectory = QStringLiteral(TW_SOURCE_DIR);
    options.settingsFile = settingsFile();
    options.languageId = [] { return 0x0409; };
    TMainForm mainForm(prompter, files, shell, probe, options);
    createWindows(mainForm);

    auto* optionsForm = mainForm.findChild<TOptionsForm*>();
    auto* bulkForm = mainForm.findChild<TBulkForm*>();
    QVERIFY(optionsForm && bulkForm);
    QCOMPARE(optionsForm->EditSMTPServer->text(), QString("smtp.example.org")); // loaded at start-up

    // The language file reaches the windows in their creation order.
    QStringList order;
    for (LocalizedWindow* window : mainForm.windows())
        order << window->widget()->metaObject()->className();
    const qsizetype bulkAt = order.indexOf("TBulkForm");
    QVERIFY(bulkAt > order.indexOf("TPreviewForm"));
    QCOMPARE(order.mid(bulkAt, 5),
             (QStringList{"TBulkForm", "TBulkAddForm", "TBulkProgressForm", "TOptionsForm", "TAboutForm"}));

    QAction* menuItem = mainForm.findChild<QAction*>("MServerOptions");
    auto* toolButton = mainForm.findChild<QToolButton*>("ButtonOptions");
    QVERIFY(menuItem->isEnabled() && toolButton->isEnabled());
    QVERIFY(mainForm.findChild<QAction*>("MBulkMails")->isEnabled());

    // From the menu: a new server, OK.
    whenShown(optionsForm, [&] {
        optionsForm->EditSMTPServer->setText("mail.example.net");
        optionsForm->ButtonOk->click();
    });
    menuItem->trigger();
    QCOMPARE(readBack(settingsFile()).value("SMTPAddress"), QString("mail.example.net"));

    // From the tool bar: the same fields are shown; Cancel.
    QString seen;
    whenShown(optionsForm, [&] {
        seen = optionsForm->EditSMTPServer->text();
        optionsForm->ButtonCancel->click();
    });
    toolButton->click();
    QCOMPARE(seen, QString("mail.example.net"));

    // From the bulk dialog: the same dialog again, and OK saves there too.
    whenShown(bulkForm, [&] {
        whenShown(optionsForm, [&] {
            seen = optionsForm->EditSMTPServer->text();
            optionsForm->EditPort->setText("2525");
            optionsForm->ButtonOk->click();
        });
        bulkForm->ButtonOptions->click();
        bulkForm->ButtonCancel->click();
    });
    mainForm.findChild<QAction*>("MBulkMails")->trigger();
    QCOMPARE(seen, QString("mail.example.net"));
    QCOMPARE(readBack(settingsFile()).value("SMTPPort"), QString("2525"));
    QCOMPARE(readBack(settingsFile()).value("SMTPAddress"), QString("mail.example.net"));
}


void TestOptionsForm::imapAccountOfItsOwnOrTheSmtpOne_data() {
    QTest::addColumn<bool>("sameAccount");
    QTest::addColumn<QString>("account");  // of the IMAP account in force
    QTest::addColumn<QString>("password");
    QTest::addColumn<Stored>("written");   // IMAPUserName and IMAPPassword after OK

    QTest::newRow("the SMTP account serves: the IMAP fields are off and stored empty")
        << true << "me" << "secret" << Stored{{"IMAPUserName", ""}, {"IMAPPassword", ""}};
    QTest::newRow("an account of its own: its fields are used and stored")
        << false << "me@imap" << "imap pass" << Stored{{"IMAPUserName", "me@imap"}, {"IMAPPassword", "imap pass"}};
}

void TestOptionsForm::imapAccountOfItsOwnOrTheSmtpOne() {
    QFETCH(bool, sameAccount);
    QFETCH(QString, account);
    QFETCH(QString, password);
    QFETCH(Stored, written);

    store(settingsFile(), kComplete);
    BulkWindows h;
    h.options.loadSettings(SettingsStore(settingsFile()));
    QCOMPARE(h.options.EditIMAPPort->text(), QString("993"));
    QCOMPARE(h.options.EditIMAPFolder->text(), QString("Drafts"));
    QVERIFY2(h.options.CheckBoxIMAPSameAccount->isChecked(), "the SMTP account serves for IMAP by default");
    QVERIFY(!h.options.EditIMAPAccounts->isEnabled());
    whenShown(&h.options, [&] {
        h.options.EditIMAPServer->setText(" imap.example.org ");
        h.options.EditIMAPPort->setText("143");
        h.options.CheckBoxIMAPSameAccount->setChecked(sameAccount);
        QCOMPARE(h.options.EditIMAPAccounts->isEnabled(), !sameAccount);
        QCOMPARE(h.options.EditIMAPPassword->isEnabled(), !sameAccount);
        h.options.EditIMAPAccounts->setText(" me@imap");
        h.options.EditIMAPPassword->setText("imap pass ");
        h.options.ButtonOk->click();
    });
    QVERIFY(h.options.showAndSave());
    const ImapAccount inForce = h.options.imapAccountInForce();
    QCOMPARE(inForce.host, QString("imap.example.org"));
    QCOMPARE(inForce.port, 143);
    QCOMPARE(inForce.account, account);
    QCOMPARE(inForce.password, password);
    const Stored back = readBack(settingsFile());
    for (auto it = written.begin(); it != written.end(); ++it)
        QCOMPARE(back.value(it.key()), it.value());
    QCOMPARE(back.value("IMAPAddress"), QString("imap.example.org"));
    QCOMPARE(back.value("IMAPPort"), QString("143"));
}

void TestOptionsForm::tokenSignInTakesThePlaceOfThePassword() {
    store(settingsFile(), kComplete);
    BulkWindows h;
    h.options.loadSettings(SettingsStore(settingsFile()));
    h.options.show();
    QVERIFY(!h.options.EditTokenCommand->isEnabled());
    h.options.ComboBoxSignIn->setCurrentIndex(1);
    QVERIFY(!h.options.EditPassword->isEnabled());
    QVERIFY2(!h.options.ButtonOk->isEnabled(), "a token sign-in wants its command");
    h.options.EditTokenCommand->setText("  /usr/bin/get-token --account me ");
    QVERIFY(h.options.ButtonOk->isEnabled());
    h.options.EditPassword->clear();
    QVERIFY2(h.options.ButtonOk->isEnabled(), "the password plays no part with a token");
    h.options.hide();
}

QTEST_MAIN(TestOptionsForm)
#include "tst_optionsform.moc"
