// Pins the settings store (owner-only file, values that survive the round trip, silence when it
// cannot be made) and the single-instance lock as another process sees it.
#include "platform/instancelock.h"
#include "platform/settingsstore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

namespace {
int modeOf(const QString& path) {
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return -1;
    return int(st.st_mode & 0777);
}

// Exit code of `flock --nonblock path true`: 0 when the lock was free, 1 when it was held.
int tryLockFromOutside(const QString& path) {
    QProcess probe;
    probe.start(QStringLiteral("flock"), {QStringLiteral("--nonblock"), path, QStringLiteral("true")});
    if (!probe.waitForFinished(10000))
        return -1;
    return probe.exitCode();
}
} // namespace

class TestSettingsLock : public QObject {
    Q_OBJECT
private slots:
    void valuesSurviveTheRoundTrip_data();
    void valuesSurviveTheRoundTrip();
    void fileIsOwnerOnlyAndStaysSo();
    void storeThatCannotBeMadeIsSilent();
    void readingCreatesNothing();
    void defaultStoreFollowsConfigHome();
    void lockHeldHereBlocksAnotherProcess();
    void lockHeldElsewhereIsNotAcquired();
    void unusableLockFileIsNotAnotherInstance();
};

void TestSettingsLock::valuesSurviveTheRoundTrip_data() {
    QTest::addColumn<QString>("value");
    QTest::newRow("file name") << "ChineseBig5.ini";
    QTest::newRow("comma, read back as one text") << "user,name";
    QTest::newRow("semicolon and hash") << "pa;ss#word";
    QTest::newRow("quotes and backslash") << "a\"b\\c'd";
    QTest::newRow("looks like a serialised variant") << "@Variant(abc)";
    QTest::newRow("blanks at the ends are kept") << "  spaced  ";
    QTest::newRow("equals sign and brackets") << "[x]=y";
    QTest::newRow("non-ASCII") << QString::fromUtf8("m\xC3\xBCller@\xE4\xBE\x8B.cn");
    QTest::newRow("empty") << "";
}

void TestSettingsLock::valuesSurviveTheRoundTrip() {
    QFETCH(QString, value);
    QTemporaryDir dir;
    const SettingsStore store(dir.filePath(QStringLiteral("Tallyweave.conf")));
    store.write(QStringLiteral("SMTPPassword"), value);
    store.write(QStringLiteral("LanguageFile"), QStringLiteral("English.ini"));
    QCOMPARE(store.read(QStringLiteral("SMTPPassword")), value);
    // A second store on the same file sees what the first wrote: every access opens it afresh.
    QCOMPARE(SettingsStore(store.filePath()).read(QStringLiteral("LanguageFile")),
             QStringLiteral("English.ini"));
}

void TestSettingsLock::fileIsOwnerOnlyAndStaysSo() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("deeper/Tallyweave.conf"));
    const SettingsStore store(path);
    store.write(QStringLiteral("SMTPPassword"), QStringLiteral("secret"));
    QCOMPARE(modeOf(path), 0600);
    store.write(QStringLiteral("SMTPPassword"), QStringLiteral("another secret"));
    QCOMPARE(modeOf(path), 0600);
    QCOMPARE(store.read(QStringLiteral("SMTPPassword")), QStringLiteral("another secret"));
}

void TestSettingsLock::storeThatCannotBeMadeIsSilent() {
    QTemporaryDir dir;
    // The folder of the store would have to be made inside a plain file.
    const QString blocker = dir.filePath(QStringLiteral("blocker"));
    QFile file(blocker);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    const SettingsStore store(blocker + QStringLiteral("/config/Tallyweave.conf"));
    QVERIFY(!store.available());
    store.write(QStringLiteral("LanguageFile"), QStringLiteral("English.ini"));
    QCOMPARE(store.read(QStringLiteral("LanguageFile")), QString());
    QVERIFY(QFileInfo(blocker).isFile());
    QCOMPARE(QFileInfo(blocker).size(), 0);

    // A folder where the file should be is no store either.
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("Tallyweave.conf")));
    const SettingsStore folder(dir.filePath(QStringLiteral("Tallyweave.conf")));
    QVERIFY(!folder.available());
    folder.write(QStringLiteral("LanguageFile"), QStringLiteral("English.ini"));
    QCOMPARE(folder.read(QStringLiteral("LanguageFile")), QString());
}

void TestSettingsLock::readingCreatesNothing() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Tallyweave.conf"));
    const SettingsStore store(path);
    QCOMPARE(store.read(QStringLiteral("LanguageFile")), QString());
    QVERIFY(!QFileInfo::exists(path));
}

void TestSettingsLock::defaultStoreFollowsConfigHome() {
    const QString configHome = qEnvironmentVariable("XDG_CONFIG_HOME");
    QVERIFY2(!configHome.isEmpty(), "the test runner gives every test its own config folder");
    QCOMPARE(QFileInfo(SettingsStore().filePath()).absolutePath(), QDir(configHome).absolutePath());
}

void TestSettingsLock::lockHeldHereBlocksAnotherProcess() {
    const QString name = QStringLiteral("TallyweaveTestLockA");
    const QString path = InstanceLock::lockFilePath(name);
    {
        InstanceLock lock(name);
        QVERIFY(lock.acquired());
        QVERIFY(!lock.heldElsewhere());
        QCOMPARE(tryLockFromOutside(path), 1);
    }
    QCOMPARE(tryLockFromOutside(path), 0);
}

void TestSettingsLock::lockHeldElsewhereIsNotAcquired() {
    const QString name = QStringLiteral("TallyweaveTestLockB");
    const QString path = InstanceLock::lockFilePath(name);
    QProcess holder;
    // One process that holds the lock itself, so that killing it frees the lock.
    holder.start(QStringLiteral(TW_PYTHON), {QStringLiteral("-c"),
                                             QStringLiteral("import fcntl, sys, time\n"
                                                            "f = open(sys.argv[1], 'a')\n"
                                                            "fcntl.flock(f, fcntl.LOCK_EX)\n"
                                                            "print('locked', flush=True)\n"
                                                            "time.sleep(60)\n"),
                                             path});
    QVERIFY(holder.waitForReadyRead(10000));
    QCOMPARE(holder.readAll().trimmed(), QByteArray("locked"));
    {
        InstanceLock lock(name);
        QVERIFY(!lock.acquired());
        QVERIFY(lock.heldElsewhere());
    }
    holder.kill();
    QVERIFY(holder.waitForFinished(10000));
    // The kernel frees the lock with its holder, whatever way it ended.
    InstanceLock after(name);
    QVERIFY(after.acquired());
}

void TestSettingsLock::unusableLockFileIsNotAnotherInstance() {
    const QString name = QStringLiteral("TallyweaveTestLockC");
    const QString path = InstanceLock::lockFilePath(name);
    QVERIFY(QDir().mkpath(path)); // a folder where the lock file belongs
    InstanceLock lock(name);
    QVERIFY(!lock.acquired());
    QVERIFY(!lock.heldElsewhere());
    QVERIFY(QDir().rmdir(path));
}

QTEST_GUILESS_MAIN(TestSettingsLock)
#include "tst_settings_lock.moc"
