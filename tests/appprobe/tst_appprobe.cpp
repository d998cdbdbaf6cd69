// Pins the office-program probe against process folders laid out as the kernel shows them.
#include "platform/appprobe.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <unistd.h>

namespace {

// One process folder: name (a pid or not), and the contents of comm and cmdline (null: absent).
struct Entry {
    QString name;
    QByteArray comm;
    QByteArray cmdline;
};

void makeTree(const QString& root, const QList<Entry>& entries) {
    for (const Entry& e : entries) {
        QVERIFY(QDir(root).mkpath(e.name));
        auto write = [&](const QString& file, const QByteArray& bytes) {
            if (bytes.isNull())
                return;
            QFile f(QDir(root).filePath(e.name + "/" + file));
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(bytes);
        };
        write("comm", e.comm);
        write("cmdline", e.cmdline);
    }
}

} // namespace

Q_DECLARE_METATYPE(QList<Entry>)

class TestAppProbe : public QObject {
    Q_OBJECT
private slots:
    void findsProgramsByCommandName_data();
    void findsProgramsByCommandName();
    void processesOfOtherUsersDoNotCount();
};

void TestAppProbe::findsProgramsByCommandName_data() {
    QTest::addColumn<QList<Entry>>("entries");
    QTest::addColumn<bool>("spreadsheet");
    QTest::addColumn<bool>("wordProcessor");
    QTest::addColumn<bool>("mailClient");
    const QByteArray none; // file absent
    QTest::newRow("nothing running") << QList<Entry>{} << false << false << false;
    QTest::newRow("an office suite counts as spreadsheet and word processor")
        << QList<Entry>{{"4242", "soffice.bin\n", "/usr/lib/libreoffice/program/soffice.bin\0--calc\0"}}
        << true << true << false;
    QTest::newRow("name truncated in comm, found by argv[0]")
        << QList<Entry>{{"77", "onlyoffice-desk\n", QByteArray("/usr/bin/onlyoffice-desktopeditors\0", 35)}}
        << true << true << false;
    QTest::newRow("comm only (argv cleared)")
        << QList<Entry>{{"12", "gnumeric\n", ""}} << true << false << false;
    QTest::newRow("argv[0] only") << QList<Entry>{{"13", none, QByteArray("/usr/bin/thunderbird\0-P\0", 24)}}
                                  << false << false << true;
    QTest::newRow("a name merely containing a program's name does not count")
        << QList<Entry>{{"14", "gnumeric-helper\n", "/opt/x/soffice.binary\0"}, {"15", "xet\n", "xet\0"}}
        << false << false << false;
    QTest::newRow("folders that are no process are passed over")
        << QList<Entry>{{"self", "soffice.bin\n", "soffice.bin\0"}, {"sys", "evolution\n", none}} << false
        << false << false;
    QTest::newRow("a process gone before it was read")
        << QList<Entry>{{"99", none, none}} << false << false << false;
    QTest::newRow("one match among many") << QList<Entry>{{"1", "systemd\n", "/sbin/init\0"},
                                                          {"2", "kthreadd\n", ""},
                                                          {"300", "bash\n", "-bash\0"},
                                                          {"301", "abiword\n", "abiword\0doc.abw\0"}}
                                          << false << true << false;
}

void TestAppProbe::findsProgramsByCommandName() {
    QFETCH(QList<Entry>, entries);
    QFETCH(bool, spreadsheet);
    QFETCH(bool, wordProcessor);
    QFETCH(bool, mailClient);
    QTemporaryDir proc;
    makeTree(proc.path(), entries);
    // A plain file named like a pid is not a process folder.
    QFile stray(proc.filePath("555"));
    QVERIFY(stray.open(QIODevice::WriteOnly));
    const ProcessAppProbe probe(proc.path());
    QCOMPARE(probe.spreadsheetRunning(), spreadsheet);
    QCOMPARE(probe.wordProcessorRunning(), wordProcessor);
    QCOMPARE(probe.mailClientRunning(), mailClient);
}

void TestAppProbe::processesOfOtherUsersDoNotCount() {
    if (::getuid() != 0)
        QSKIP("handing a folder to another user needs root");
    QTemporaryDir proc;
    makeTree(proc.path(), {{"4242", "soffice.bin\n", "soffice.bin\0"}});
    QVERIFY(ProcessAppProbe(proc.path()).spreadsheetRunning());
    QVERIFY(::chown(QFile::encodeName(proc.filePath("4242")).constData(), 65534, 65534) == 0);
    QVERIFY2(!ProcessAppProbe(proc.path()).spreadsheetRunning(), "another user's program was counted");
}

QTEST_GUILESS_MAIN(TestAppProbe)
#include "tst_appprobe.moc"
