// The Excel-to-Excel command's checks: the extension rule, paths compared as the files they name,
// outputs that cannot be written, and the order of the refusals.
#include "merge/excel/excelcommand.h"

#include <zip.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <unistd.h>

class TestExcelCommand : public QObject {
    Q_OBJECT

private slots:
    void init();
    void extensionRule_data();
    void extensionRule();
    void sameFile_data();
    void sameFile();
    void refusals_data();
    void refusals();
    void extensionRuleFollowsTheDestination_data();
    void extensionRuleFollowsTheDestination();

private:
    QString at(const QString& name) const { return m_dir->filePath(name); }
    void touch(const QString& name) const {
        QFile file(at(name));
        QVERIFY(file.open(QIODevice::WriteOnly));
    }

    // A minimal OpenDocument spreadsheet package at name.
    void writeOds(const QString& name) const {
        static const char type[] = "application/vnd.oasis.opendocument.spreadsheet";
        static const char content[] = "<office:document-content/>";
        zip_t* zip = zip_open(QFile::encodeName(at(name)).constData(), ZIP_CREATE | ZIP_TRUNCATE, nullptr);
        QVERIFY(zip);
        QVERIFY(zip_file_add(zip, "mimetype", zip_source_buffer(zip, type, sizeof type - 1, 0), 0) == 0);
        QVERIFY(zip_file_add(zip, "content.xml", zip_source_buffer(zip, content, sizeof content - 1, 0), 0) == 1);
        QCOMPARE(zip_close(zip), 0);
    }

    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestExcelCommand::init() {
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    // books/source.xlsx, books/dest.xlsx, books/sub/, link -> books, folder.xlsx/ (a folder),
    // books/sub/hard.xlsx (a hard link to dest.xlsx), plain (a file where a folder could be)
    QVERIFY(QDir(m_dir->path()).mkpath(QStringLiteral("books/sub")));
    QVERIFY(QDir(m_dir->path()).mkpath(QStringLiteral("folder.xlsx")));
    touch(QStringLiteral("books/source.xlsx"));
    touch(QStringLiteral("books/dest.xlsx"));
    touch(QStringLiteral("plain"));
    writeOds(QStringLiteral("books/dest.ods"));
    writeOds(QStringLiteral("books/calc.xlsx")); // an OpenDocument spreadsheet by its content
    QVERIFY(QFile::link(at(QStringLiteral("books")), at(QStringLiteral("link"))));
    QVERIFY(QFile::link(at(QStringLiteral("books/dest.xlsx")), at(QStringLiteral("books/alias.xlsx"))));
    QCOMPARE(::link(QFile::encodeName(at(QStringLiteral("books/dest.xlsx"))).constData(),
                    QFile::encodeName(at(QStringLiteral("books/sub/hard.xlsx"))).constData()),
             0);
}

void TestExcelCommand::extensionRule_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("expected");

    QTest::newRow("no extension") << "/tmp/out"
                                  << "/tmp/out.xlsx";
    QTest::newRow(".xlsx in capitals stays") << "/tmp/OUT.XLSX"
                                             << "/tmp/OUT.XLSX";
    QTest::newRow(".xls stays") << "/tmp/out.xls"
                                << "/tmp/out.xls";
    QTest::newRow("mixed-case .Xls stays") << "/tmp/out.Xls"
                                           << "/tmp/out.Xls";
    QTest::newRow("another extension is kept before the new one") << "/tmp/out.txt"
                                                                  << "/tmp/out.txt.xlsx";
    QTest::newRow(".xlsm stays, in any case") << "/tmp/out.XLSM"
                                              << "/tmp/out.XLSM";
    QTest::newRow("only the last dot counts") << "/tmp/out.xlsx.bak"
                                              << "/tmp/out.xlsx.bak.xlsx";
    QTest::newRow("a dot in the folder is not an extension") << "/tmp/a.xls/out"
                                                             << "/tmp/a.xls/out.xlsx";
    QTest::newRow("a trailing dot is an extension of its own") << "/tmp/out."
                                                               << "/tmp/out..xlsx";
    QTest::newRow("a name that is only the extension") << "/tmp/.xls"
                                                       << "/tmp/.xls";
}

void TestExcelCommand::extensionRule() {
    QFETCH(QString, path);
    QFETCH(QString, expected);
    QCOMPARE(applyExtensionRule(path), expected);
}

void TestExcelCommand::sameFile_data() {
    QTest::addColumn<QString>("a");
    QTest::addColumn<QString>("b");
    QTest::addColumn<bool>("same");

    QTest::newRow("identical") << "books/dest.xlsx"
                               << "books/dest.xlsx" << true;
    QTest::newRow("letter case differs") << "books/dest.xlsx"
                                         << "BOOKS/Dest.XLSX" << true;
    QTest::newRow("dot and dot-dot") << "books/sub/../././dest.xlsx"
                                     << "books/dest.xlsx" << true;
    QTest::newRow("through a linked folder") << "link/dest.xlsx"
                                             << "books/dest.xlsx" << true;
    QTest::newRow("a link to the file") << "books/alias.xlsx"
                                        << "books/dest.xlsx" << true;
    QTest::newRow("missing file in a linked folder") << "link/new.xlsx"
                                                     << "books/sub/../new.xlsx" << true;
    QTest::newRow("a hard link shares no name, only the file") << "books/sub/hard.xlsx"
                                                               << "link/dest.xlsx" << true;
    QTest::newRow("another file") << "books/source.xlsx"
                                  << "books/dest.xlsx" << false;
    QTest::newRow("the same name in another folder") << "books/sub/dest.xlsx"
                                                     << "books/dest.xlsx" << false;
    QTest::newRow("empty names nothing") << ""
                                         << "" << false;
}

void TestExcelCommand::sameFile() {
    QFETCH(QString, a);
    QFETCH(QString, b);
    QFETCH(bool, same);
    const auto full = [this](const QString& name) { return name.isEmpty() ? name : at(name); };
    QCOMPARE(::sameFile(full(a), full(b)), same);
    QCOMPARE(::sameFile(full(b), full(a)), same);
}

void TestExcelCommand::refusals_data() {
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("dest");
    QTest::addColumn<QString>("output");
    QTest::addColumn<ExcelCommandCheck>("check");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("cause"); // what outputFileProblem says, in part

    QTest::newRow("all well") << "books/source.xlsx"
                              << "books/dest.xlsx"
                              << "out.xlsx" << ExcelCommandCheck::Ok << ""
                              << "";
    QTest::newRow("missing source comes first")
        << "books/none.xlsx"
        << "books/none.xlsx"
        << "books/dest.xlsx" << ExcelCommandCheck::SourceMissing << "String02"
        << "";
    QTest::newRow("a folder is not a source") << "folder.xlsx"
                                              << "books/dest.xlsx"
                                              << "out.xlsx" << ExcelCommandCheck::SourceMissing << "String02"
                                              << "";
    QTest::newRow("missing destination") << "books/source.xlsx"
                                         << "books/none.xlsx"
                                         << "out.xlsx" << ExcelCommandCheck::DestMissing << "String03"
                                         << "";
    QTest::newRow("a folder is not a destination")
        << "books/source.xlsx"
        << "books/sub"
        << "out.xlsx" << ExcelCommandCheck::DestMissing << "String03"
        << "";
    QTest::newRow("output is the destination by another spelling")
        << "books/source.xlsx"
        << "books/dest.xlsx"
        << "link/./DEST.xlsx" << ExcelCommandCheck::OutputIsInput << "String04"
        << "";
    QTest::newRow("output is the source")
        << "books/source.xlsx"
        << "books/dest.xlsx"
        << "books/source.xlsx" << ExcelCommandCheck::OutputIsInput << "String04"
        << "";
    QTest::newRow("output through a link to the destination")
        << "books/source.xlsx"
        << "books/dest.xlsx"
        << "books/alias.xlsx" << ExcelCommandCheck::OutputIsInput << "String04"
        << "";
    QTest::newRow("existing output") << "books/source.xlsx"
                                     << "books/dest.xlsx"
                                     << "old.xlsx" << ExcelCommandCheck::OutputExists << "String05"
                                     << "";
    QTest::newRow("output through a hard link to the destination")
        << "books/source.xlsx"
        << "books/dest.xlsx"
        << "books/sub/hard.xlsx" << ExcelCommandCheck::OutputIsInput << "String04"
        << "";
    QTest::newRow("a folder at the output")
        << "books/source.xlsx"
        << "books/dest.xlsx"
        << "folder.xlsx" << ExcelCommandCheck::OutputNotWritable << "String10"
        << "is a folder";
    QTest::newRow("the output's folder does not exist")
        << "books/source.xlsx"
        << "books/dest.xlsx"
        << "none/out.xlsx" << ExcelCommandCheck::OutputNotWritable << "String10"
        << "does not exist";
    QTest::newRow("the output's folder is a file")
        << "books/source.xlsx"
        << "books/dest.xlsx"
        << "plain/out.xlsx" << ExcelCommandCheck::OutputNotWritable << "String10"
        << "plain is not a folder";
    QTest::newRow("an unwritable folder comes before the question")
        << "books/source.xlsx"
        << "books/dest.xlsx"
        << "locked/old.xlsx" << ExcelCommandCheck::OutputNotWritable << "String10"
        << "cannot be written";
    QTest::newRow("an .ods destination with a workbook output")
        << "books/source.xlsx"
        << "books/dest.ods"
        << "out.xlsx" << ExcelCommandCheck::TypeMismatch << "String12"
        << "";
    QTest::newRow("a workbook destination with an .ods output")
        << "books/source.xlsx"
        << "books/dest.xlsx"
        << "out.ods" << ExcelCommandCheck::TypeMismatch << "String12"
        << "";
    QTest::newRow("the destination's content counts, not its name")
        << "books/source.xlsx"
        << "books/calc.xlsx"
        << "out.xlsx" << ExcelCommandCheck::TypeMismatch << "String12"
        << "";
    QTest::newRow("an .ods destination with an .ods output")
        << "books/source.xlsx"
        << "books/dest.ods"
        << "out.ODS" << ExcelCommandCheck::Ok << ""
        << "";
    QTest::newRow("a mismatch comes before an existing output")
        << "books/source.xlsx"
        << "books/dest.ods"
        << "old.xlsx" << ExcelCommandCheck::TypeMismatch << "String12"
        << "";
    QTest::newRow("missing input comes before an unwritable output")
        << "books/none.xlsx"
        << "books/dest.xlsx"
        << "none/out.xlsx" << ExcelCommandCheck::SourceMissing << "String02"
        << "does not exist";
}

void TestExcelCommand::refusals() {
    QFETCH(QString, source);
    QFETCH(QString, dest);
    QFETCH(QString, output);
    QFETCH(ExcelCommandCheck, check);
    QFETCH(QString, key);
    QFETCH(QString, cause);
    touch(QStringLiteral("old.xlsx"));
    if (output.startsWith(QLatin1String("locked/"))) {
        // Root may write into any folder whatever its mode: the check goes by what access() says.
        if (geteuid() == 0)
            QSKIP("root writes into read-only folders");
        QVERIFY(QDir(m_dir->path()).mkdir(QStringLiteral("locked")));
        touch(output);
        QVERIFY(QFile::setPermissions(at(QStringLiteral("locked")), QFile::ReadOwner | QFile::ExeOwner));
    }
    const ExcelCommandCheck found = checkExcelCommand(at(source), at(dest), at(output));
    QFile::setPermissions(at(QStringLiteral("locked")),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QCOMPARE(found, check);
    QCOMPARE(excelCommandMessageKey(found), key);
    const QString problem = outputFileProblem(at(output));
    QVERIFY2(cause.isEmpty() ? problem.isEmpty() : problem.contains(cause), qPrintable(problem));
}

void TestExcelCommand::extensionRuleFollowsTheDestination_data() {
    QTest::addColumn<QString>("dest");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<QStringList>("patterns");
    const QStringList workbooks{QStringLiteral("*.xlsx"), QStringLiteral("*.xlsm"), QStringLiteral("*.xls")};
    const QStringList ods{QStringLiteral("*.ods")};
    QTest::newRow("an .ods destination gives .ods") << "books/dest.ods" << "out" << "out.ods" << ods;
    QTest::newRow(".ods in capitals stays") << "books/dest.ods" << "out.ODS" << "out.ODS" << ods;
    QTest::newRow("a workbook name stays, to be refused") << "books/dest.ods" << "out.xlsx" << "out.xlsx" << ods;
    QTest::newRow("by the destination's content") << "books/calc.xlsx" << "out" << "out.ods" << ods;
    QTest::newRow("a workbook destination gives .xlsx") << "books/dest.xlsx" << "out" << "out.xlsx" << workbooks;
    QTest::newRow("a missing destination goes by its name") << "books/new.ods" << "out" << "out.ods" << ods;
    QTest::newRow(".ods stays with a workbook destination, to be refused")
        << "books/dest.xlsx" << "out.ods" << "out.ods" << workbooks;
}

void TestExcelCommand::extensionRuleFollowsTheDestination() {
    QFETCH(QString, dest);
    QFETCH(QString, path);
    QFETCH(QString, expected);
    QFETCH(QStringList, patterns);
    QCOMPARE(applyExtensionRule(at(path), at(dest)), at(expected));
    QCOMPARE(excelOutputPatterns(at(dest)), patterns);
}

QTEST_GUILESS_MAIN(TestExcelCommand)
#include "tst_excelcommand.moc"
