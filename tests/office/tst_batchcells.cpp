// Pins `tallyweave-batch cells` end to end: the printed sheet, the escaping, and the exit codes.
#include "officetestutil.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

class TestBatchCells : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        QVERIFY(m_temp.isValid());
        QVERIFY2(!qEnvironmentVariableIsEmpty("TALLYWEAVE_BATCH"), "ctest names the batch program");
        runPython({officeTestFile("make_xls.py"), m_temp.filePath(QStringLiteral("book.xls"))});
        writeBytes(m_temp.filePath(QStringLiteral("escape.csv")),
                   "\"a\tb\",\"line\nbreak\",back\\slash\r\nx,,\r\n");
        writeBytes(m_temp.filePath(QStringLiteral("damaged.csv")), "a,b\n\"open\n");
        // An escape sequence, a bell, DEL and two C1 controls (NEL, CSI) inside the cells.
        writeBytes(m_temp.filePath(QStringLiteral("controls.csv")),
                   "esc\x1b[31mred,a\x07" "b,d\x7f" "e,n\xc2\x85x,c\xc2\x9bx\r\n");
    }

    void cells_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QByteArray>("out");
        QTest::addColumn<QString>("err");
        QTest::newRow("tab, line break and backslash escaped")
            << QStringList{"cells", "escape.csv"} << 0
            << QByteArray("sheets 1, rows 2, columns 3\na\\tb\tline\\nbreak\tback\\\\slash\nx\t\t\n")
            << QString();
        QTest::newRow("every other control character as \\xHH")
            << QStringList{"cells", "controls.csv"} << 0
            << QByteArray("sheets 1, rows 1, columns 5\nesc\\x1B[31mred\ta\\x07b\td\\x7Fe\tn\\x85x\tc\\x9Bx\n")
            << QString();
        QTest::newRow("second sheet by position")
            << QStringList{"cells", "book.xls", "--sheet", "2"} << 0
            << QByteArray("sheets 4, rows 2, columns 2\nfirst of Alpha\t\n\t7\n") << QString();
        QTest::newRow("empty sheet") << QStringList{"cells", "--sheet", "3", "book.xls"} << 0
                                     << QByteArray("sheets 4, rows 0, columns 0\n") << QString();
        QTest::newRow("sheet beyond the sheets") << QStringList{"cells", "book.xls", "--sheet", "5"} << 1
                                                 << QByteArray() << QStringLiteral("no sheet 5");
        QTest::newRow("missing file")
            << QStringList{"cells", "nothing.xlsx"} << 1 << QByteArray() << QStringLiteral("does not exist");
        QTest::newRow("damaged file") << QStringList{"cells", "damaged.csv"} << 1 << QByteArray()
                                      << QStringLiteral("quoted field opened on line 2 is not closed");
        QTest::newRow("sheet 0 is bad usage") << QStringList{"cells", "book.xls", "--sheet", "0"} << 2
                                              << QByteArray() << QStringLiteral("usage:");
        QTest::newRow("sheet not a number") << QStringList{"cells", "book.xls", "--sheet", "two"} << 2
                                            << QByteArray() << QStringLiteral("usage:");
        QTest::newRow("sheet without number")
            << QStringList{"cells", "book.xls", "--sheet"} << 2 << QByteArray() << QStringLiteral("usage:");
        QTest::newRow("no file") << QStringList{"cells"} << 2 << QByteArray() << QStringLiteral("usage:");
        QTest::newRow("two files") << QStringList{"cells", "book.xls", "escape.csv"} << 2 << QByteArray()
                                   << QStringLiteral("usage:");
        QTest::newRow("unknown option") << QStringList{"cells", "book.xls", "--rows", "3"} << 2
                                        << QByteArray() << QStringLiteral("unknown option");
    }
    void cells() {
        QFETCH(QStringList, args);
        QFETCH(int, exitCode);
        QFETCH(QByteArray, out);
        QFETCH(QString, err);
        QProcess batch;
        batch.setWorkingDirectory(m_temp.path());
        batch.start(qEnvironmentVariable("TALLYWEAVE_BATCH"), args);
        QVERIFY(batch.waitForFinished(60000));
        const QByteArray stderrText = batch.readAllStandardError();
        QCOMPARE(batch.exitStatus(), QProcess::NormalExit);
        QVERIFY2(batch.exitCode() == exitCode, stderrText.constData());
        QCOMPARE(batch.readAllStandardOutput(), out);
        if (err.isEmpty())
            QCOMPARE(stderrText, QByteArray());
        else
            QVERIFY2(QString::fromUtf8(stderrText).contains(err), stderrText.constData());
    }

    void theWholeFirstSheetByDefault() {
        QProcess batch;
        batch.setWorkingDirectory(m_temp.path());
        batch.start(qEnvironmentVariable("TALLYWEAVE_BATCH"), {"cells", "book.xls"});
        QVERIFY(batch.waitForFinished(60000));
        QCOMPARE(batch.exitCode(), 0);
        const QList<QByteArray> lines = batch.readAllStandardOutput().split('\n');
        QCOMPARE(lines.value(0), QByteArray("sheets 4, rows 16, columns 4"));
        QCOMPARE(lines.size(), 1 + 16 + 1); // the last line break leaves an empty piece
        QCOMPARE(lines.value(12), QByteArray("\t\ttext\tZoë\\tTab\\nLine"));
        QCOMPARE(lines.value(16), QByteArray("\t\ttime\t09:30:00"));
    }

private:
    QTemporaryDir m_temp;
};

QTEST_GUILESS_MAIN(TestBatchCells)
#include "tst_batchcells.moc"
