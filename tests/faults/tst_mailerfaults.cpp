// A system mailer that dies: killed, or exiting with a failure, before or after it read the
// message. tallyweave-batch outlook --send runs with a script standing in as sendmail on a private
// PATH; the run must end at that message with the mailer's fate named, never count it as sent,
// and never be taken down itself by a pipe the mailer left.
#include "mail/localmail.h"
#include "mail/sendmail.h"

#include <QElapsedTimer>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QtTest>

class TestMailerFaults : public QObject {
    Q_OBJECT
private slots:
    void init();
    void mailerDies_data();
    void mailerDies();
    void hungMailerIsStoppedAtItsTimeOut();

private:
    QString at(const QString& name) const { return m_dir->filePath(name); }
    bool writeFile(const QString& name, const QByteArray& bytes, bool executable = false) const;

    std::unique_ptr<QTemporaryDir> m_dir;
};

bool TestMailerFaults::writeFile(const QString& name, const QByteArray& bytes, bool executable) const {
    QFile file(at(name));
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        return false;
    file.close();
    return !executable ||
           file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

void TestMailerFaults::init() {
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    QVERIFY(QDir().mkpath(at("bin")));
    QVERIFY(QDir().mkpath(at("config")));
    QVERIFY(writeFile("book.csv", "ann@example.com,Ann\r\nbob@example.com,Bob\r\n"));
    QVERIFY(writeFile("body.txt", "Dear NAME,\nhello.\n"));
    // Several megabytes: more than a pipe holds, so that a mailer that does not read blocks the writer.
    QByteArray attachment(6 * 1024 * 1024, 'a');
    for (qsizetype i = 0; i < attachment.size(); i += 997)
        attachment[i] = char('0' + i % 10);
    QVERIFY(writeFile("big.bin", attachment));
}

void TestMailerFaults::mailerDies_data() {
    QTest::addColumn<QByteArray>("script"); // the body of bin/sendmail after "#!/bin/sh"
    QTest::addColumn<bool>("large");        // the message carries the large attachment
    QTest::addColumn<QString>("cause");     // after "tallyweave-batch outlook: BIN/sendmail "

    QTest::newRow("killed after reading, words on its error output")
        << QByteArray("/usr/bin/cat > /dev/null\necho 'sendmail: out of memory' >&2\nkill -KILL $$\n")
        << false << "stopped abnormally: sendmail: out of memory";
    QTest::newRow("killed before reading a large message")
        << QByteArray("kill -KILL $$\n") << true << "stopped abnormally";
    QTest::newRow("killed by a crash halfway through")
        << QByteArray("/usr/bin/head -c 1000 > /dev/null\nkill -SEGV $$\n") << true << "stopped abnormally";
    QTest::newRow("fails before reading a large message, words on its error output")
        << QByteArray("echo 'sendmail: queue folder not writable' >&2\nexit 75\n") << true
        << "exited with status 75: sendmail: queue folder not writable";
    QTest::newRow("fails after reading, without a word")
        << QByteArray("/usr/bin/cat > /dev/null\nexit 1\n") << false << "exited with status 1";
}

void TestMailerFaults::mailerDies() {
    QFETCH(QByteArray, script);
    QFETCH(bool, large);
    QFETCH(QString, cause);
    QVERIFY(writeFile("bin/sendmail", "#!/bin/sh\n" + script, true));

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("PATH", at("bin"));
    env.insert("XDG_CONFIG_HOME", at("config"));
    QProcess batch;
    batch.setProcessEnvironment(env);
    QStringList args = {"outlook", "--send",      "--source",     at("book.csv"), "--subject",
                        "Hi",      "--body-file", at("body.txt"), "--pair",       "B:NAME"};
    if (large)
        args << "--attach" << at("big.bin");
    batch.start(qEnvironmentVariable("TALLYWEAVE_BATCH"), args);
    QVERIFY2(batch.waitForFinished(120000), "the run ends");
    QCOMPARE(batch.exitStatus(), QProcess::NormalExit);
    QCOMPARE(batch.exitCode(), 1);
    // The first message failed: no row reported, the second recipient never tried.
    QCOMPARE(QString::fromUtf8(batch.readAllStandardOutput()),
             QStringLiteral("records 0, null values 0, failures 0\n"));
    const QString err = QString::fromUtf8(batch.readAllStandardError());
    QCOMPARE(err, "tallyweave-batch outlook: " + at("bin/sendmail") + u' ' + cause + u'\n');
}

void TestMailerFaults::hungMailerIsStoppedAtItsTimeOut() {
    // It reads the message and then never ends; its error output stays open in a child of its own.
    QVERIFY(writeFile("bin/sendmail",
                      "#!/bin/sh\n/usr/bin/cat > /dev/null\n/usr/bin/sleep 20 &\nexec /usr/bin/sleep 20\n",
                      true));
    const Sendmail mailer(at("bin/sendmail"), 2000);
    QElapsedTimer clock;
    clock.start();
    try {
        mailer.send("To: ann@example.com\r\nSubject: Hi\r\n\r\nhello\r\n");
        QFAIL("a mailer that never ends is no message sent");
    } catch (const LocalMailError& error) {
        QCOMPARE(error.cause(), at("bin/sendmail") + QStringLiteral(" did not finish within 2 seconds"));
    }
    QVERIFY2(clock.elapsed() < 10000, qPrintable(QString::number(clock.elapsed())));
}

QTEST_GUILESS_MAIN(TestMailerFaults)
#include "tst_mailerfaults.moc"
