// Pins the language-file reader's rules and the rules that turn language files into a choice,
// a font and window texts.
#include "app/languagefile.h"
#include "app/localization.h"
#include "platform/languageid.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

namespace {
void writeFile(const QString& path, const QByteArray& content) {
    QFile file(path);
    QVERIFY2(file.open(QIODevice::WriteOnly), qPrintable(path));
    file.write(content);
}
} // namespace

class TestLocalization : public QObject {
    Q_OBJECT
private slots:
    void readerRules_data();
    void readerRules();
    void longValueIsCut();
    void missingFileGivesDefaults();
    void hintRule_data();
    void hintRule();
    void markerRule_data();
    void markerRule();
    void defaultChoice_data();
    void defaultChoice();
    void fontSizeAndCharSet_data();
    void fontSizeAndCharSet();
    void fileNamesAreIniFilesSortedWithoutCase();
    void storedNameFindsFileDifferingInCase();
};

void TestLocalization::readerRules_data() {
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("section");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("expected");

    QTest::newRow("section and key match without regard to case")
        << QByteArray("[Menu]\nExcelToExcel=Excel to Excel\n") << "MENU"
        << "exceltoexcel"
        << "Excel to Excel";
    QTest::newRow("the first of two equal keys wins")
        << QByteArray("[Menu]\nFile=First\nfile=Second\n") << "Menu"
        << "File"
        << "First";
    QTest::newRow("blanks around name and value are dropped")
        << QByteArray("  [Menu]  \n  File \t=   spaced  value \t \n") << "Menu"
        << "File"
        << "spaced  value";
    QTest::newRow("enclosing double quotes are removed, inner blanks kept")
        << QByteArray("[A]\nK=\"  quoted  \"\n") << "A"
        << "K"
        << "  quoted  ";
    QTest::newRow("enclosing single quotes are removed") << QByteArray("[A]\nK='single'\n") << "A"
                                                         << "K"
                                                         << "single";
    QTest::newRow("only one pair of quotes is removed") << QByteArray("[A]\nK=\"\"twice\"\"\n") << "A"
                                                        << "K"
                                                        << "\"twice\"";
    QTest::newRow("an unmatched quote stays") << QByteArray("[A]\nK=\"open\n") << "A"
                                              << "K"
                                              << "\"open";
    QTest::newRow("an equals sign inside the value stays") << QByteArray("[A]\nFilter=Excel|*.xls=x\n") << "A"
                                                           << "Filter"
                                                           << "Excel|*.xls=x";
    QTest::newRow("a present empty value is empty, not the default") << QByteArray("[A]\nK=\n") << "A"
                                                                     << "K"
                                                                     << "";
    QTest::newRow("missing key gives the default") << QByteArray("[A]\nK=v\n") << "A"
                                                   << "Other"
                                                   << "<default>";
    QTest::newRow("missing section gives the default") << QByteArray("[A]\nK=v\n") << "B"
                                                       << "K"
                                                       << "<default>";
    QTest::newRow("a key of another section is not found") << QByteArray("[A]\nK=a\n[B]\nL=b\n") << "B"
                                                           << "K"
                                                           << "<default>";
    QTest::newRow("lines before any section belong to none") << QByteArray("K=loose\n[A]\n") << "A"
                                                             << "K"
                                                             << "<default>";
    QTest::newRow("CR LF line ends") << QByteArray("[A]\r\nK=v\r\nL=w\r\n") << "A"
                                     << "L"
                                     << "w";
    QTest::newRow("a byte-order mark before the first section")
        << QByteArray("\xEF\xBB\xBF[LanguageProperty]\nName=English\n") << "LanguageProperty"
        << "Name"
        << "English";
    QTest::newRow("UTF-8 texts are read as they stand")
        << QByteArray("[Menu]\nFile=\xE6\x96\x87\xE4\xBB\xB6(&F)\n") << "Menu"
        << "File" << QString::fromUtf8("\xE6\x96\x87\xE4\xBB\xB6(&F)");
    QTest::newRow("a marker and ampersands are not touched")
        << QByteArray("[AboutForm]\nCopyright=(c) [xxx] A && B\n") << "AboutForm"
        << "Copyright"
        << "(c) [xxx] A && B";
}

void TestLocalization::readerRules() {
    QFETCH(QByteArray, content);
    QFETCH(QString, section);
    QFETCH(QString, key);
    QFETCH(QString, expected);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Test.ini"));
    writeFile(path, content);
    const LanguageFile file(path);
    QVERIFY(file.exists());
    QCOMPARE(file.value(section, key, QStringLiteral("<default>")), expected);
}

void TestLocalization::longValueIsCut() {
    const QString longText = QString(3000, QLatin1Char('x'));
    const LanguageFile file = LanguageFile::fromText("[A]\nK=" + longText.toUtf8() + "\nL=after\n");
    QCOMPARE(file.value(QStringLiteral("A"), QStringLiteral("K")), QString(2047, QLatin1Char('x')));
    QCOMPARE(file.value(QStringLiteral("A"), QStringLiteral("L")), QStringLiteral("after"));
    // A character outside the basic plane that straddles the cut is dropped whole.
    const QString astral = QString(2046, QLatin1Char('y')) + QString::fromUtf8("\xF0\x9F\x98\x80") + "zz";
    const LanguageFile split = LanguageFile::fromText("[A]\nK=" + astral.toUtf8() + "\n");
    QCOMPARE(split.value(QStringLiteral("A"), QStringLiteral("K")), QString(2046, QLatin1Char('y')));
}

void TestLocalization::missingFileGivesDefaults() {
    QTemporaryDir dir;
    const LanguageFile file(dir.filePath(QStringLiteral("Nowhere.ini")));
    QVERIFY(!file.exists());
    QCOMPARE(
        file.value(QStringLiteral("LanguageProperty"), QStringLiteral("FontName"), QStringLiteral("Tahoma")),
        QStringLiteral("Tahoma"));
    QCOMPARE(file.text(QStringLiteral("Menu"), QStringLiteral("File")), QString());
    // A folder is no language file either.
    const LanguageFile folder(dir.path());
    QCOMPARE(folder.text(QStringLiteral("Menu"), QStringLiteral("File")), QString());
}

void TestLocalization::hintRule_data() {
    QTest::addColumn<QString>("menuText");
    QTest::addColumn<QString>("hint");
    QTest::newRow("accelerator in parentheses is dropped") << "Excel to Excel(&E)"
                                                           << "Excel to Excel";
    QTest::newRow("parenthesised accelerator in the middle, ends trimmed") << "  Options (&O)...  "
                                                                           << "Options ...";
    QTest::newRow("accelerator inside a word loses only its ampersand") << "E&xit"
                                                                        << "Exit";
    QTest::newRow("only the first ampersand goes") << "A&B&C"
                                                   << "AB&C";
    QTest::newRow("an escaped ampersand loses one of its two") << "Save && Send"
                                                               << "Save & Send";
    QTest::newRow("no ampersand, no parentheses: unchanged") << "  Help  "
                                                             << "  Help  ";
    QTest::newRow("an opening parenthesis alone keeps all, untrimmed") << " Open (&O "
                                                                       << " Open (O ";
    QTest::newRow("a closing parenthesis alone keeps all") << "Close &O) "
                                                           << "Close O) ";
    QTest::newRow("control characters are trimmed with blanks") << "\tTab(&T)\r"
                                                                << "Tab";
    QTest::newRow("empty stays empty") << ""
                                       << "";
}

void TestLocalization::hintRule() {
    QFETCH(QString, menuText);
    QFETCH(QString, hint);
    QCOMPARE(hintFromMenuText(menuText), hint);
}

void TestLocalization::markerRule_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");
    QTest::newRow("the first marker of two is filled") << "(c) [xxx]-[xxx]"
                                                       << "(c) 2026-[xxx]";
    QTest::newRow("the marker is case-sensitive") << "[XXX] [xxx]"
                                                  << "[XXX] 2026";
    QTest::newRow("no marker: unchanged") << "Copyright"
                                          << "Copyright";
    QTest::newRow("an unclosed marker is no marker") << "[xxx"
                                                     << "[xxx";
    QTest::newRow("marker at the very start") << "[xxx] file"
                                              << "2026 file";
}

void TestLocalization::markerRule() {
    QFETCH(QString, text);
    QFETCH(QString, expected);
    QCOMPARE(fillMarker(text, QStringLiteral("2026")), expected);
}

void TestLocalization::defaultChoice_data() {
    QTest::addColumn<QString>("locale");
    QTest::addColumn<int>("languageId");
    QTest::addColumn<QString>("fileName");
    QTest::newRow("Chinese, China") << "zh_CN" << 0x0804 << "ChineseGB.ini";
    QTest::newRow("Chinese, Singapore") << "zh_SG" << 0x1004 << "ChineseGB.ini";
    QTest::newRow("Chinese, Taiwan") << "zh_TW" << 0x0404 << "ChineseBig5.ini";
    QTest::newRow("Chinese, Hong Kong") << "zh_HK" << 0x0C04 << "ChineseBig5.ini";
    QTest::newRow("Chinese, Macao is not one of the four") << "zh_MO" << 0x1404 << "English.ini";
    QTest::newRow("English, United Kingdom") << "en_GB" << 0x0809 << "English.ini";
    QTest::newRow("English, United States") << "en_US" << 0x0409 << "English.ini";
    QTest::newRow("German, Germany") << "de_DE" << 0x0407 << "English.ini";
    QTest::newRow("the C locale") << "C" << 0 << "English.ini";
}

void TestLocalization::defaultChoice() {
    QFETCH(QString, locale);
    QFETCH(int, languageId);
    QFETCH(QString, fileName);
    QCOMPARE(windowsLanguageId(QLocale(locale)), languageId);
    QCOMPARE(defaultLanguageFileName(languageId), fileName);
}

void TestLocalization::fontSizeAndCharSet_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("charSet");
    QTest::newRow("decimal numbers") << "12" << 12 << 12;
    QTest::newRow("character set keeps its low 8 bits") << "390" << 390 << 134;
    QTest::newRow("GB2312 character set") << "134" << 134 << 134;
    QTest::newRow("not a number") << "large" << 8 << 1;
    QTest::newRow("empty") << "" << 8 << 1;
    QTest::newRow("a fraction is not a decimal integer") << "9.5" << 8 << 1;
    QTest::newRow("hexadecimal is not decimal") << "0x10" << 8 << 1;
    QTest::newRow("too large for an integer") << "99999999999" << 8 << 1;
    QTest::newRow("a negative set keeps its low 8 bits") << "-1" << -1 << 255;
}

void TestLocalization::fontSizeAndCharSet() {
    QFETCH(QString, text);
    QFETCH(int, size);
    QFETCH(int, charSet);
    QCOMPARE(fontSizeFromText(text), size);
    QCOMPARE(charSetFromText(text), charSet);
}

void TestLocalization::fileNamesAreIniFilesSortedWithoutCase() {
    QTemporaryDir dir;
    for (const char* name : {"b.ini", "a.ini", "C.INI", "A.ini", "notes.txt", "ini", ".Hidden.ini"})
        writeFile(dir.filePath(QLatin1String(name)), "[LanguageProperty]\n");
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("folder.ini")));
    QStringList names = languageFileNames(dir.path());
    QVERIFY2(names.removeOne(QStringLiteral(".Hidden.ini")), "hidden files are language files too");
    // Names equal but for case come out in a fixed order, so "the first file" is always the same.
    QCOMPARE(names, QStringList({"A.ini", "a.ini", "b.ini", "C.INI"}));
    QCOMPARE(languageFileNames(dir.filePath(QStringLiteral("missing"))), QStringList());
}

void TestLocalization::storedNameFindsFileDifferingInCase() {
    QTemporaryDir dir;
    writeFile(dir.filePath(QStringLiteral("English.ini")), "[Menu]\nFile=File\n");
    writeFile(dir.filePath(QStringLiteral("german.ini")), "[Menu]\nFile=Datei\n");
    QCOMPARE(languageFilePath(dir.path(), QStringLiteral("english.INI")),
             dir.filePath(QStringLiteral("English.ini")));
    QCOMPARE(languageFilePath(dir.path(), QStringLiteral("german.ini")),
             dir.filePath(QStringLiteral("german.ini")));
    QCOMPARE(languageFilePath(dir.path(), QStringLiteral("French.ini")),
             dir.filePath(QStringLiteral("French.ini")));
    QCOMPARE(languageFilePath(dir.path(), QString()), QString());
}

QTEST_GUILESS_MAIN(TestLocalization)
#include "tst_localization.moc"
