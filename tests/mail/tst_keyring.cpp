// Mail passwords in the desktop's keyring: gnome-keyring-daemon on a private session bus, read back
// with secret-tool; the settings file keeps no password while a keyring answers, gives an older
// file's password up to it, and keeps the password (owner-only) when none answers.
#include "mail/mailsettings.h"
#include "mailfixture.h"

#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <sys/stat.h>

namespace {

// A session bus of the test's own (no service is started on demand) with gnome-keyring-daemon on
// it, its login keyring created and unlocked with a password fed on standard input.
class KeyringSession {
public:
    ~KeyringSession()
    {
        for (QProcess* process : {&m_keyring, &m_bus}) {
            process->terminate();
            if (!process->waitForFinished(5000)) {
                process->kill();
                process->waitForFinished(5000);
            }
        }
    }

    QString start()
    {
        if (!m_dir.isValid())
            return QStringLiteral("no temporary folder");
        const QString root = m_dir.path();
        for (const char* sub : {"home", "data", "run"})
            QDir(root).mkpath(QLatin1String(sub));
        QFile::setPermissions(root + QStringLiteral("/run"),
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        mailfixture::writeFile(root + QStringLiteral("/bus.conf"),
                               "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
                               " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                               "<busconfig><type>session</type><listen>unix:dir="
                                   + QFile::encodeName(root)
                                   + "</listen><auth>EXTERNAL</auth><policy context=\"default\">"
                                     "<allow send_destination=\"*\" eavesdrop=\"true\"/><allow eavesdrop=\"true\"/>"
                                     "<allow own=\"*\"/></policy></busconfig>\n");
        m_bus.start(QStringLiteral("dbus-daemon"), {QStringLiteral("--config-file=") + root + QStringLiteral("/bus.conf"),
                                                    QStringLiteral("--nofork"), QStringLiteral("--print-address=1")});
        QByteArray line;
        while (!line.contains('\n')) {
            if (!m_bus.waitForReadyRead(10000))
                return QStringLiteral("dbus-daemon did not start: ") + QString::fromUtf8(m_bus.readAllStandardError());
            line += m_bus.readAllStandardOutput();
        }
        m_address = QString::fromUtf8(line.trimmed());

        m_environment = QProcessEnvironment::systemEnvironment();
        m_environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), m_address);
        m_environment.insert(QStringLiteral("HOME"), root + QStringLiteral("/home"));
        m_environment.insert(QStringLiteral("XDG_DATA_HOME"), root + QStringLiteral("/data"));
        m_environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), root + QStringLiteral("/run"));
        m_keyring.setProcessEnvironment(m_environment);
        m_keyring.start(QStringLiteral("gnome-keyring-daemon"),
                        {QStringLiteral("--foreground"), QStringLiteral("--unlock"), QStringLiteral("--components=secrets")});
        if (!m_keyring.waitForStarted(5000))
            return QStringLiteral("gnome-keyring-daemon does not start: ") + m_keyring.errorString();
        m_keyring.write("unlock-me\n");
        m_keyring.waitForBytesWritten(5000);
        m_keyring.closeWriteChannel();
        QByteArray out;
        for (int i = 0; i < 100; ++i) {
            run(QStringLiteral("dbus-send"),
                {"--session", "--print-reply", "--dest=org.freedesktop.DBus", "/org/freedesktop/DBus",
                 "org.freedesktop.DBus.NameHasOwner", "string:org.freedesktop.secrets"},
                &out);
            if (out.contains("boolean true"))
                return {};
            QThread::msleep(100);
        }
        return QStringLiteral("the keyring did not take its name on the bus: ")
               + QString::fromUtf8(m_keyring.readAllStandardError() + m_keyring.readAllStandardOutput());
    }

    const QString& address() const { return m_address; }

    // Runs a program on this session; its exit code, or -1 when it did not run.
    int run(const QString& program, const QStringList& args, QByteArray* out = nullptr) const
    {
        QProcess process;
        process.setProcessEnvironment(m_environment);
        process.start(program, args);
        if (!process.waitForFinished(20000))
            return -1;
        if (out)
            *out = process.readAllStandardOutput();
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }

    // What `secret-tool lookup` finds for the entry; empty with *found false when nothing.
    QString lookup(const QString& protocol, const QString& server, const QString& user, bool* found) const
    {
        QByteArray out;
        const int code = run(QStringLiteral("secret-tool"), {"lookup", "program", "tallyweave", "protocol", protocol,
                                                             "server", server, "user", user},
                             &out);
        *found = code == 0;
        return QString::fromUtf8(out);
    }

private:
    QTemporaryDir m_dir;
    QProcess m_bus;
    QProcess m_keyring;
    QString m_address;
    QProcessEnvironment m_environment;
};

using Values = QMap<QString, QString>;

Values fileValues(const QString& path)
{
    QSettings settings(path, QSettings::IniFormat);
    Values values;
    for (const QString& key : settings.allKeys())
        values.insert(key, settings.value(key).toString());
    return values;
}

int fileMode(const QString& path)
{
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 0777) : -1;
}

MailServerFields smtpFields(const QString& host, const QString& password)
{
    MailServerFields f;
    f.email = QStringLiteral("me@example.org");
    f.host = host;
    f.port = QStringLiteral("587");
    f.account = QStringLiteral("me");
    f.password = password;
    return f;
}

ImapFields imapFields(const QString& password)
{
    ImapFields f;
    f.host = QStringLiteral("imap.example.org");
    f.port = QStringLiteral("993");
    f.folder = QStringLiteral("Drafts");
    f.ownAccount = true;
    f.account = QStringLiteral("me@imap");
    f.password = password;
    return f;
}

} // namespace

class TestKeyring : public QObject {
    Q_OBJECT
private slots:
    // First: no bus has been reached yet in this process.
    void withoutAKeyringThePasswordsStayInTheFile();
    void passwordsGoIntoTheKeyringNotTheFile();
    void passwordsOfAnOlderFileMoveIntoTheKeyring_data();
    void passwordsOfAnOlderFileMoveIntoTheKeyring();
    void anotherServerOrABlankPasswordLeavesNoItemBehind();

private:
    void startKeyring();
    QString freshFile();

    QTemporaryDir m_dir;
    int m_files = 0;
    std::unique_ptr<KeyringSession> m_session;
};

QString TestKeyring::freshFile()
{
    return m_dir.filePath(QStringLiteral("Tallyweave%1.conf").arg(++m_files));
}

void TestKeyring::startKeyring()
{
    if (m_session)
        return;
    m_session = std::make_unique<KeyringSession>();
    const QString error = m_session->start();
    QVERIFY2(error.isEmpty(), qPrintable(error));
    qputenv("DBUS_SESSION_BUS_ADDRESS", m_session->address().toUtf8());
}

void TestKeyring::withoutAKeyringThePasswordsStayInTheFile()
{
    const QString path = freshFile();
    const SettingsStore store(path);
    saveMailServerFields(store, smtpFields(QStringLiteral("smtp.example.org"), QStringLiteral("smtp secret")));
    saveImapFields(store, imapFields(QStringLiteral("imap secret")));
    const Values values = fileValues(path);
    QCOMPARE(values.value("SMTPPassword"), QStringLiteral("smtp secret"));
    QCOMPARE(values.value("IMAPPassword"), QStringLiteral("imap secret"));
    QCOMPARE(fileMode(path), 0600);
    QCOMPARE(loadMailServerFields(store).password, QStringLiteral("smtp secret"));
    QCOMPARE(loadImapFields(store).password, QStringLiteral("imap secret"));
    QCOMPARE(fileValues(path), values);
}

void TestKeyring::passwordsGoIntoTheKeyringNotTheFile()
{
    startKeyring();
    const QString path = freshFile();
    const SettingsStore store(path);
    saveMailServerFields(store, smtpFields(QStringLiteral("smtp.example.org"), QStringLiteral(" smtp secret ")));
    saveImapFields(store, imapFields(QStringLiteral("imap secret")));

    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray text = file.readAll();
    QVERIFY2(!text.contains("secret") && !text.contains("Password"), text.constData());
    QCOMPARE(fileValues(path).value("SMTPUserName"), QStringLiteral("me"));

    bool found = false;
    QCOMPARE(m_session->lookup("smtp", "smtp.example.org", "me", &found), QStringLiteral("smtp secret"));
    QVERIFY(found);
    QCOMPARE(m_session->lookup("imap", "imap.example.org", "me@imap", &found), QStringLiteral("imap secret"));
    QVERIFY(found);

    QCOMPARE(loadMailServerFields(store).password, QStringLiteral("smtp secret"));
    QCOMPARE(loadImapFields(store).password, QStringLiteral("imap secret"));
    QVERIFY(isComplete(imapAccount(loadImapFields(store), loadMailServerFields(store))));
}

void TestKeyring::passwordsOfAnOlderFileMoveIntoTheKeyring_data()
{
    QTest::addColumn<Values>("older");
    QTest::addColumn<QString>("protocol");
    QTest::addColumn<QString>("server");
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("password");
    QTest::newRow("the SMTP password")
        << Values{{"Email", "me@example.org"}, {"SMTPAddress", "old.example.org"}, {"SMTPUserName", "old"},
                  {"SMTPPassword", " from the file "}}
        << "smtp" << "old.example.org" << "old" << "from the file";
    QTest::newRow("the IMAP password of an account of its own")
        << Values{{"IMAPAddress", "imap.old.example.org"}, {"IMAPUserName", "imapper"}, {"IMAPPassword", "imap file"}}
        << "imap" << "imap.old.example.org" << "imapper" << "imap file";
}

void TestKeyring::passwordsOfAnOlderFileMoveIntoTheKeyring()
{
    QFETCH(Values, older);
    QFETCH(QString, protocol);
    QFETCH(QString, server);
    QFETCH(QString, user);
    QFETCH(QString, password);
    startKeyring();
    const QString path = freshFile();
    {
        QSettings settings(path, QSettings::IniFormat);
        for (auto it = older.begin(); it != older.end(); ++it)
            settings.setValue(it.key(), it.value());
    }
    const SettingsStore store(path);
    const QString loaded =
        protocol == QLatin1String("smtp") ? loadMailServerFields(store).password : loadImapFields(store).password;
    QCOMPARE(loaded, password);
    const Values after = fileValues(path);
    QVERIFY2(!after.contains(protocol.toUpper() + QStringLiteral("Password")), "moved out of the file");
    QCOMPARE(after.size(), older.size() - 1);
    bool found = false;
    QCOMPARE(m_session->lookup(protocol, server, user, &found), password);
    QVERIFY(found);
}

void TestKeyring::anotherServerOrABlankPasswordLeavesNoItemBehind()
{
    startKeyring();
    const SettingsStore store(freshFile());
    saveMailServerFields(store, smtpFields(QStringLiteral("first.example.org"), QStringLiteral("one")));
    saveMailServerFields(store, smtpFields(QStringLiteral("second.example.org"), QStringLiteral("two")));
    bool found = true;
    m_session->lookup("smtp", "first.example.org", "me", &found);
    QVERIFY2(!found, "the first server's item is gone");
    QCOMPARE(m_session->lookup("smtp", "second.example.org", "me", &found), QStringLiteral("two"));

    saveMailServerFields(store, smtpFields(QStringLiteral("second.example.org"), QString()));
    m_session->lookup("smtp", "second.example.org", "me", &found);
    QVERIFY2(!found, "a blank password clears the item");
    QCOMPARE(loadMailServerFields(store).password, QString());
}

QTEST_GUILESS_MAIN(TestKeyring)
#include "tst_keyring.moc"
