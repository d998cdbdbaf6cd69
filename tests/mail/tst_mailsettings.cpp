// Loading, saving and putting to use the six mail-server values of the settings store.
#include "mail/mailsettings.h"

#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

using Values = QMap<QString, QString>;
Q_DECLARE_METATYPE(Values)

class TestMailSettings : public QObject {
    Q_OBJECT
private slots:
    void load_data();
    void load();
    void unavailableStoreLoadsEmpty();
    void saveWritesTrimmedValuesPortAsTyped();
    void settingsInForce_data();
    void settingsInForce();
    void completeness_data();
    void completeness();
    void imapAccountInForce_data();
    void imapAccountInForce();
    void imapSaveRoundTrip_data();
    void imapSaveRoundTrip();

private:
    QTemporaryDir m_dir;
    int m_file = 0;
    QString storeWith(const Values& values)
    {
        const QString path = m_dir.filePath(QStringLiteral("store%1.conf").arg(++m_file));
        QSettings settings(path, QSettings::IniFormat);
        for (auto it = values.begin(); it != values.end(); ++it)
            settings.setValue(it.key(), it.value());
        settings.sync();
        return path;
    }
};

void TestMailSettings::load_data()
{
    QTest::addColumn<Values>("stored");
    QTest::addColumn<QString>("email");
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("port");
    QTest::addColumn<QString>("account");
    QTest::addColumn<QString>("password");
    QTest::addColumn<bool>("ssl");

    QTest::newRow("nothing stored: port 25, rest empty") << Values{} << "" << "" << "25" << "" << "" << false;
    QTest::newRow("all six, blanks and tabs trimmed")
        << Values{{"Email", "  me@example.org\t"}, {"SMTPAddress", " mail.example.org "}, {"SMTPPort", " 587 "},
                  {"SMTPUserName", "\tme "}, {"SMTPPassword", " s3cret "}, {"SMTPSSL", "1"}}
        << "me@example.org" << "mail.example.org" << "587" << "me" << "s3cret" << true;
    QTest::newRow("leading zeros dropped") << Values{{"SMTPPort", "0587"}} << "" << "" << "587" << "" << "" << false;
    QTest::newRow("letters give 25") << Values{{"SMTPPort", "abc"}} << "" << "" << "25" << "" << "" << false;
    QTest::newRow("empty port gives 25") << Values{{"SMTPPort", "  "}} << "" << "" << "25" << "" << "" << false;
    QTest::newRow("eleven digits overflow to 25")
        << Values{{"SMTPPort", "12345678901"}} << "" << "" << "25" << "" << "" << false;
    QTest::newRow("ssl with blanks around 1") << Values{{"SMTPSSL", " 1 "}} << "" << "" << "25" << "" << "" << true;
    QTest::newRow("ssl true is off") << Values{{"SMTPSSL", "true"}} << "" << "" << "25" << "" << "" << false;
    QTest::newRow("ssl yes is off") << Values{{"SMTPSSL", "yes"}} << "" << "" << "25" << "" << "" << false;
    QTest::newRow("no-break space is not trimmed")
        << Values{{"Email", QString(QChar(0xA0)) + "a@b.cd"}} << QString(QChar(0xA0)) + "a@b.cd" << "" << "25" << ""
        << "" << false;
}

void TestMailSettings::load()
{
    QFETCH(Values, stored);
    const MailServerFields fields = loadMailServerFields(SettingsStore(storeWith(stored)));
    QTEST(fields.email, "email");
    QTEST(fields.host, "host");
    QTEST(fields.port, "port");
    QTEST(fields.account, "account");
    QTEST(fields.password, "password");
    QTEST(fields.ssl, "ssl");
}

void TestMailSettings::unavailableStoreLoadsEmpty()
{
    // The store's folder would have to be made inside a plain file: not available.
    const QString blocker = m_dir.filePath(QStringLiteral("plainfile"));
    QFile file(blocker);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    const SettingsStore store(blocker + QStringLiteral("/sub/Tallyweave.conf"));
    QVERIFY(!store.available());
    const MailServerFields fields = loadMailServerFields(store);
    QVERIFY(fields.port.isEmpty());
    QVERIFY(fields.email.isEmpty() && fields.host.isEmpty() && fields.account.isEmpty() && fields.password.isEmpty());
    QVERIFY(!fields.ssl);
    // Saving to it is silent and creates nothing.
    saveMailServerFields(store, MailServerFields{"a@b.cd", "h", "25", "u", "p", true});
    QVERIFY(!QFile::exists(store.filePath()));
}

void TestMailSettings::saveWritesTrimmedValuesPortAsTyped()
{
    const QString path = m_dir.filePath(QStringLiteral("saved.conf"));
    saveMailServerFields(SettingsStore(path),
                         MailServerFields{" me@example.org ", "\thost.example.org", " 0587 ", " user ", " pw ", false});
    QSettings settings(path, QSettings::IniFormat);
    QCOMPARE(settings.value("Email").toString(), QStringLiteral("me@example.org"));
    QCOMPARE(settings.value("SMTPAddress").toString(), QStringLiteral("host.example.org"));
    QCOMPARE(settings.value("SMTPPort").toString(), QStringLiteral("0587"));
    QCOMPARE(settings.value("SMTPUserName").toString(), QStringLiteral("user"));
    QCOMPARE(settings.value("SMTPPassword").toString(), QStringLiteral("pw"));
    QCOMPARE(settings.value("SMTPSSL").toString(), QStringLiteral("0"));
    QCOMPARE(QFile::permissions(path) & (QFile::ReadGroup | QFile::ReadOther), QFile::Permissions());
}

void TestMailSettings::settingsInForce_data()
{
    QTest::addColumn<QString>("port");
    QTest::addColumn<int>("expected");
    QTest::newRow("plain") << "25" << 25;
    QTest::newRow("blanks around") << " 2525 " << 2525;
    QTest::newRow("leading zero") << "0465" << 465;
    QTest::newRow("empty") << "" << 25;
    QTest::newRow("letters") << "smtp" << 25;
    QTest::newRow("negative") << "-1" << 25;
    QTest::newRow("ten digits beyond int") << "2147483648" << 25;
    QTest::newRow("eleven digits") << "00000000587" << 587;
    QTest::newRow("eleven significant digits") << "99999999999" << 25;
}

void TestMailSettings::settingsInForce()
{
    QFETCH(QString, port);
    const MailServerSettings s = serverSettings(MailServerFields{" a@b.cd ", " h ", port, " u ", " p ", true});
    QTEST(s.port, "expected");
    QCOMPARE(s.email, QStringLiteral("a@b.cd"));
    QCOMPARE(s.host, QStringLiteral("h"));
    QCOMPARE(s.account, QStringLiteral("u"));
    QCOMPARE(s.password, QStringLiteral("p"));
    QVERIFY(s.ssl);
}

void TestMailSettings::completeness_data()
{
    QTest::addColumn<int>("blanked"); // which field holds only blanks; -1 none
    QTest::addColumn<bool>("complete");
    QTest::newRow("all filled") << -1 << true;
    for (int i = 0; i < 5; ++i)
        QTest::addRow("field %d blank", i) << i << false;
}

void TestMailSettings::completeness()
{
    QFETCH(int, blanked);
    MailServerFields f{"a@b.cd", "h", "25", "u", "p", false};
    QString* texts[] = {&f.email, &f.host, &f.port, &f.account, &f.password};
    if (blanked >= 0)
        *texts[blanked] = QStringLiteral(" \t ");
    QTEST(isComplete(f), "complete");
}

const Values kSmtp{{"Email", "me@example.org"}, {"SMTPAddress", "smtp.example.org"}, {"SMTPUserName", "me"},
                  {"SMTPPassword", "smtp-pass"}};

void TestMailSettings::imapAccountInForce_data()
{
    QTest::addColumn<Values>("stored");
    QTest::addColumn<QString>("host");
    QTest::addColumn<int>("port");
    QTest::addColumn<bool>("ssl");
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("account");
    QTest::addColumn<QString>("password");
    QTest::addColumn<bool>("complete");

    QTest::newRow("nothing of IMAP stored: 993 with TLS into Drafts, no server yet")
        << kSmtp << "" << 993 << true << "Drafts" << "me" << "smtp-pass" << false;
    Values server = kSmtp;
    server.insert("IMAPAddress", " imap.example.org ");
    QTest::newRow("a server: the SMTP account and password serve for IMAP too")
        << server << "imap.example.org" << 993 << true << "Drafts" << "me" << "smtp-pass" << true;
    Values own = kSmtp;
    own.insert("IMAPAddress", " imap.example.org ");
    own.insert("IMAPPort", "143");
    own.insert("IMAPSSL", "1");
    own.insert("IMAPFolder", " Entwürfe ");
    own.insert("IMAPUserName", " me@imap ");
    own.insert("IMAPPassword", " imap-pass ");
    QTest::newRow("an account of its own, trimmed")
        << own << "imap.example.org" << 143 << true << "Entwürfe" << "me@imap" << "imap-pass" << true;
    Values shared = kSmtp;
    shared.insert("IMAPAddress", "imap.example.org");
    shared.insert("IMAPPassword", "left over");
    QTest::newRow("a password without an account of its own is not used")
        << shared << "imap.example.org" << 993 << true << "Drafts" << "me" << "smtp-pass" << true;
    Values off = shared;
    off.insert("IMAPSSL", "0");
    off.insert("IMAPPort", "x143");
    off.insert("IMAPFolder", "   ");
    QTest::newRow("SSL stored off, a port that is no number, a blank folder")
        << off << "imap.example.org" << 993 << false << "Drafts" << "me" << "smtp-pass" << true;
    Values noSmtpPassword = shared;
    noSmtpPassword.remove("SMTPPassword");
    QTest::newRow("the SMTP password missing leaves IMAP incomplete too")
        << noSmtpPassword << "imap.example.org" << 993 << true << "Drafts" << "me" << "" << false;
}

void TestMailSettings::imapAccountInForce()
{
    QFETCH(Values, stored);
    const SettingsStore store(storeWith(stored));
    const ImapAccount account = imapAccount(loadImapFields(store), loadMailServerFields(store));
    QTEST(account.host, "host");
    QTEST(account.port, "port");
    QTEST(account.ssl, "ssl");
    QTEST(account.folder, "folder");
    QTEST(account.account, "account");
    QTEST(account.password, "password");
    QTEST(isComplete(account), "complete");
}

void TestMailSettings::imapSaveRoundTrip_data()
{
    QTest::addColumn<bool>("ownAccount");
    QTest::addColumn<Values>("written");
    QTest::newRow("own account: its name and password are written")
        << true
        << Values{{"IMAPAddress", "imap.example.org"}, {"IMAPPort", "0993"}, {"IMAPSSL", "0"}, {"IMAPFolder", "Drafts"},
                  {"IMAPUserName", "me@imap"}, {"IMAPPassword", "imap pass"}};
    QTest::newRow("the SMTP account serving: name and password written empty")
        << false
        << Values{{"IMAPAddress", "imap.example.org"}, {"IMAPPort", "0993"}, {"IMAPSSL", "0"}, {"IMAPFolder", "Drafts"},
                  {"IMAPUserName", ""}, {"IMAPPassword", ""}};
}

void TestMailSettings::imapSaveRoundTrip()
{
    QFETCH(bool, ownAccount);
    QFETCH(Values, written);
    const QString path = storeWith({{"IMAPPassword", "stale"}});
    ImapFields fields;
    fields.host = QStringLiteral(" imap.example.org ");
    fields.port = QStringLiteral("0993");
    fields.ssl = false;
    fields.folder = QStringLiteral(" Drafts\t");
    fields.ownAccount = ownAccount;
    fields.account = QStringLiteral(" me@imap");
    fields.password = QStringLiteral("imap pass ");
    saveImapFields(SettingsStore(path), fields);
    QSettings back(path, QSettings::IniFormat);
    Values read;
    for (const QString& key : back.allKeys())
        read.insert(key, back.value(key).toString());
    QCOMPARE(read, written);
    const ImapFields loaded = loadImapFields(SettingsStore(path));
    QCOMPARE(loaded.ownAccount, ownAccount);
    QCOMPARE(loaded.port, QStringLiteral("993"));
}

QTEST_GUILESS_MAIN(TestMailSettings)
#include "tst_mailsettings.moc"
