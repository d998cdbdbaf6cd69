// Pins the choice of reader: by content, never by name, and a clear cause for what is no workbook.
#include "office/workbook.h"
#include "officetestutil.h"

#include <QTemporaryDir>
#include <QtTest>

#include <unistd.h>

class TestOpenWorkbook : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        QVERIFY(m_temp.isValid());
        runPython({officeTestFile("make_xls.py"), m_temp.filePath(QStringLiteral("real.xls"))});
        runPython(
            {QStringLiteral("-c"),
             QStringLiteral("import openpyxl, sys\n"
                            "b = openpyxl.Workbook(); b.active['A1'] = 'from xlsx'; b.save(sys.argv[1])"),
             m_temp.filePath(QStringLiteral("real.xlsx"))});
        writeBytes(m_temp.filePath(QStringLiteral("real.csv")), "from csv,x\n");
    }

    void contentChoosesTheReader_data() {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("firstCell");
        QTest::newRow(".xls content named .xlsx") << "real.xls"
                                                  << "a.xlsx"
                                                  << "";
        QTest::newRow(".xlsx content named .csv") << "real.xlsx"
                                                  << "b.csv"
                                                  << "from xlsx";
        QTest::newRow("text named .xls") << "real.csv"
                                         << "c.xls"
                                         << "from csv";
        QTest::newRow("text without extension") << "real.csv"
                                                << "d"
                                                << "from csv";
    }
    void contentChoosesTheReader() {
        QFETCH(QString, source);
        QFETCH(QString, name);
        QFETCH(QString, firstCell);
        const QString path = m_temp.filePath(name);
        QFile::remove(path);
        QVERIFY(QFile::copy(m_temp.filePath(source), path));
        const auto book = openWorkbook(path);
        QCOMPARE(book->path(), path);
        book->selectSheet(1);
        QCOMPARE(book->cellText(1, 1), firstCell);
        if (source == QLatin1String("real.xls")) {
            QCOMPARE(book->sheetCount(), 4);
            QCOMPARE(book->cellText(3, 3), QStringLiteral("Name"));
        }
    }

    void whatIsNoWorkbookIsRefusedWithACause_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("cause");
        QByteArray noise(4096, Qt::Uninitialized);
        quint32 state = 7;
        for (char& c : noise)
            c = char((state = state * 1664525u + 1013904223u) >> 24);
        QTest::newRow("random bytes")
            << noise << QStringLiteral("is not a workbook (.xlsx, .xlsm, .xls, .ods or .csv)");
        QTest::newRow("text with NUL bytes")
            << QByteArray("a,b\n\0\0\0c,d\n", 11) << QStringLiteral("is not a workbook");
        // Text in UTF-16 or Windows-1252 is read; binary bytes that merely could be are not.
        QTest::newRow("UTF-16 byte order mark before binary data")
            << QByteArray("\xFF\xFEn\0a\0\0\0\x01\x02", 10) << QStringLiteral("is not a workbook");
        QTest::newRow("bytes no text holds, without a NUL")
            << QByteArray("\x7F" "ELF\x02\x01\x01\x03\xE9\xFF") << QStringLiteral("is not a workbook");
        QTest::newRow("zip signature, no package")
            << QByteArray("PK\x03\x04garbage", 11) << QStringLiteral("bad.bin");
        QTest::newRow("compound document signature alone")
            << QByteArray("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8)
            << QStringLiteral("cannot read the .xls workbook");
    }
    void whatIsNoWorkbookIsRefusedWithACause() {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, cause);
        const QString path = m_temp.filePath(QStringLiteral("bad.bin"));
        writeBytes(path, bytes);
        try {
            openWorkbook(path);
            QFAIL("no workbook was opened as one");
        } catch (const WorkbookError& error) {
            QVERIFY2(error.cause().contains(cause), qPrintable(error.cause()));
            QVERIFY2(error.cause().contains(path), "the cause names the file");
        }
    }

    void missingFoldersAndUnreadableFiles_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("cause");
        QTest::newRow("missing file") << "missing"
                                      << "does not exist";
        QTest::newRow("a folder") << "folder"
                                  << "is a folder";
        QTest::newRow("a device") << "device"
                                  << "is not a regular file";
        // Last: the skip when run as root ends the table.
        QTest::newRow("no read permission") << "unreadable"
                                            << "cannot read";
    }
    void missingFoldersAndUnreadableFiles() {
        QFETCH(QString, kind);
        QFETCH(QString, cause);
        QString path = m_temp.filePath(QStringLiteral("nothing-here.xlsx"));
        if (kind == QLatin1String("folder")) {
            path = m_temp.path();
        } else if (kind == QLatin1String("device")) {
            path = QStringLiteral("/dev/zero");
        } else if (kind == QLatin1String("unreadable")) {
            if (geteuid() == 0)
                QSKIP("root reads every file");
            path = m_temp.filePath(QStringLiteral("locked.csv"));
            writeBytes(path, "a\n");
            QVERIFY(QFile::setPermissions(path, QFileDevice::WriteOwner));
        }
        try {
            openWorkbook(path);
            QFAIL("opened");
        } catch (const WorkbookError& error) {
            QVERIFY2(error.cause().contains(cause), qPrintable(error.cause()));
        }
    }

    void anEmptyFileIsNoWorkbook_data() {
        QTest::addColumn<QString>("name");
        for (const char* name : {"empty.csv", "empty.xlsx", "empty.xls", "empty"})
            QTest::newRow(name) << QString::fromLatin1(name);
    }
    void anEmptyFileIsNoWorkbook() {
        QFETCH(QString, name);
        const QString path = m_temp.filePath(name);
        writeBytes(path, QByteArray());
        try {
            openWorkbook(path);
            QFAIL("an empty file was opened as a workbook");
        } catch (const WorkbookError& error) {
            QCOMPARE(error.cause(), path + QStringLiteral(" is empty (0 bytes)"));
        }
    }

private:
    QTemporaryDir m_temp;
};

QTEST_GUILESS_MAIN(TestOpenWorkbook)
#include "tst_openworkbook.moc"
