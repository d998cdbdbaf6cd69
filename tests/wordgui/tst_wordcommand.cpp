// The Excel-to-Word command's checks: the order of the refusals, and the output folder that must
// take the documents.
#include "merge/word/wordcommand.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

class TestWordCommand : public QObject {
    Q_OBJECT

private slots:
    void init();
    void refusals_data();
    void refusals();
    void outputFolder_data();
    void outputFolder();

private:
    QString at(const QString& name) const { return name.isEmpty() ? QString() : m_dir->filePath(name); }
    void touch(const QString& name) const {
        QFile file(at(name));
        QVERIFY(file.open(QIODevice::WriteOnly));
    }

    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestWordCommand::init() {
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    // in/book.xlsx, in/letter.docx, in/old.docx, link -> in, folder.docx/ (a folder)
    QVERIFY(QDir(m_dir->path()).mkpath(QStringLiteral("in")));
    QVERIFY(QDir(m_dir->path()).mkpath(QStringLiteral("folder.docx")));
    touch(QStringLiteral("in/book.xlsx"));
    touch(QStringLiteral("in/letter.docx"));
    touch(QStringLiteral("in/old.docx"));
    QVERIFY(QFile::link(at(QStringLiteral("in")), at(QStringLiteral("link"))));
}

void TestWordCommand::refusals_data() {
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("templ");
    QTest::addColumn<QString>("output");
    QTest::addColumn<WordCommandCheck>("expected");

    QTest::newRow("everything in order") << "in/book.xlsx"
                                         << "in/letter.docx"
                                         << "in/new.docx" << WordCommandCheck::Ok;
    QTest::newRow("empty source path") << ""
                                       << "in/letter.docx"
                                       << "in/new.docx" << WordCommandCheck::SourceMissing;
    QTest::newRow("a folder is no source") << "in"
                                           << "in/letter.docx"
                                           << "in/new.docx" << WordCommandCheck::SourceMissing;
    QTest::newRow("source is checked before the template")
        << "in/none.xlsx"
        << "in/none.docx"
        << "in/new.docx" << WordCommandCheck::SourceMissing;
    QTest::newRow("missing template") << "in/book.xlsx"
                                      << "in/none.docx"
                                      << "in/new.docx" << WordCommandCheck::TemplateMissing;
    QTest::newRow("a folder is no template") << "in/book.xlsx"
                                             << "folder.docx"
                                             << "in/new.docx" << WordCommandCheck::TemplateMissing;
    QTest::newRow("output is the template in other letter case")
        << "in/book.xlsx"
        << "in/letter.docx"
        << "in/LETTER.DOCX" << WordCommandCheck::OutputIsTemplate;
    QTest::newRow("the template wins over an existing output")
        << "in/book.xlsx"
        << "in/letter.docx"
        << "in/letter.docx" << WordCommandCheck::OutputIsTemplate;
    QTest::newRow("existing output") << "in/book.xlsx"
                                     << "in/letter.docx"
                                     << "in/old.docx" << WordCommandCheck::OutputExists;
    QTest::newRow("output may be the source workbook's name with another extension")
        << "in/book.xlsx"
        << "in/letter.docx"
        << "in/book.docx" << WordCommandCheck::Ok;
    QTest::newRow("a folder at the output path is no existing file") << "in/book.xlsx"
                                                                     << "in/letter.docx"
                                                                     << "folder.docx" << WordCommandCheck::Ok;
}

void TestWordCommand::refusals() {
    QFETCH(QString, source);
    QFETCH(QString, templ);
    QFETCH(QString, output);
    QFETCH(WordCommandCheck, expected);
    QCOMPARE(checkWordCommand(at(source), at(templ), at(output)), expected);
}

void TestWordCommand::outputFolder_data() {
    QTest::addColumn<QString>("output");
    QTest::addColumn<QString>("causeWord"); // empty: the folder is fine

    QTest::newRow("existing folder") << "in/new.docx"
                                     << "";
    QTest::newRow("folder reached through a link") << "link/new.docx"
                                                   << "";
    QTest::newRow("missing folder") << "gone/new.docx"
                                    << "does not exist";
    QTest::newRow("a file where the folder should be") << "in/book.xlsx/new.docx"
                                                       << "not a folder";
    QTest::newRow("a folder that cannot be written") << "readonly/new.docx"
                                                     << "cannot be written";
}

void TestWordCommand::outputFolder() {
    QFETCH(QString, output);
    QFETCH(QString, causeWord);

    QString path = at(output);
    if (output.startsWith(QLatin1String("readonly/"))) {
        QVERIFY(QDir(m_dir->path()).mkdir(QStringLiteral("readonly")));
        QVERIFY(QFile::setPermissions(at(QStringLiteral("readonly")), QFile::ReadOwner | QFile::ExeOwner));
        // The superuser writes anywhere on a writable file system; a process folder refuses even it.
        if (QFileInfo(at(QStringLiteral("readonly"))).isWritable())
            path = QStringLiteral("/proc/self/new.docx");
    }
    const QString problem = outputFileProblem(path);
    if (causeWord.isEmpty()) {
        QVERIFY2(problem.isEmpty(), qPrintable(problem));
    } else {
        QVERIFY2(problem.contains(causeWord), qPrintable(problem));
        QVERIFY2(problem.contains(QFileInfo(path).absolutePath()), "the cause names the folder");
    }
    QFile::setPermissions(at(QStringLiteral("readonly")),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

QTEST_APPLESS_MAIN(TestWordCommand)
#include "tst_wordcommand.moc"
