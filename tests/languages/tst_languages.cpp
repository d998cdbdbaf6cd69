// Pins the shipped language files: every text the program reads is there, readable, and fit for
// the place it is put (markers, questions, file-dialog filters, menu hints, preview header cells).
#include "app/languagefile.h"
#include "app/localization.h"
#include "platform/filedialogs.h"

#include <QDir>
#include <QFile>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QRegularExpression>
#include <QSet>
#include <QTest>

namespace {
QString languagesFolder() {
    return QStringLiteral(TW_SOURCE_DIR "/Languages");
}

struct Key {
    QString section;
    QString name;
    QString dotted() const { return section + QLatin1Char('.') + name; }
};

Key splitKey(const QString& dotted) {
    const qsizetype dot = dotted.indexOf(QLatin1Char('.'));
    return {dotted.left(dot), dotted.mid(dot + 1)};
}

// The list of every Section.Key the program reads, one a line.
QList<Key> readKeyList() {
    QFile file(QStringLiteral(TW_SOURCE_DIR "/tests/languages/language-keys.txt"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QList<Key> keys;
    for (const QByteArray& raw : file.readAll().split('\n')) {
        const QString line = QString::fromUtf8(raw).trimmed();
        if (!line.isEmpty())
            keys << splitKey(line);
    }
    return keys;
}

QString textOf(const LanguageFile& file, const QString& dotted) {
    const Key key = splitKey(dotted);
    return file.value(key.section, key.name);
}

// The texts shown after "[xxx]" was replaced by a file name or the year.
const QStringList kFilledTexts = {
    QStringLiteral("ExcelProgressForm.String05"),
    QStringLiteral("WordProgressForm.String05"),
    QStringLiteral("WordProgressForm.String13"),
    QStringLiteral("AboutForm.Copyright"),
    QStringLiteral("OutlookProgressForm.String10"),
    QStringLiteral("OutlookProgressForm.String12"),
    QStringLiteral("BulkProgressForm.String10"),
    QStringLiteral("BulkProgressForm.String12"),
    QStringLiteral("OutlookProgressForm.String17"),
    QStringLiteral("BulkProgressForm.String17"),
    QStringLiteral("ListView.String02"),
    QStringLiteral("MessagePreviewForm.Of"),
};

// The texts shown in a box with Yes and No.
const QStringList kQuestions = {
    QStringLiteral("ExcelProgressForm.String05"), QStringLiteral("ExcelProgressForm.String11"),
    QStringLiteral("WordProgressForm.String05"),  QStringLiteral("WordProgressForm.String11"),
    QStringLiteral("WordProgressForm.String12"),  QStringLiteral("ListView.String02"),
    QStringLiteral("WordProgressForm.String13"),
    QStringLiteral("OutlookProgressForm.String10"), QStringLiteral("OutlookProgressForm.String12"),
    QStringLiteral("BulkProgressForm.String10"),    QStringLiteral("BulkProgressForm.String12"),
};

// The texts drawn into one 72 x 18 pixel header cell of the preview grid, 5 pixels in.
const QStringList kHeaderCellTexts = {
    QStringLiteral("ExcelForm.IndexColumn2"), QStringLiteral("ExcelForm.StartLine2"),
    QStringLiteral("ExcelAddForm.From2"),     QStringLiteral("ExcelAddForm.To2"),
    QStringLiteral("WordForm.StartLine2"),    QStringLiteral("WordForm.NameColumn2"),
    QStringLiteral("WordAddForm.To2"),        QStringLiteral("OutlookForm.EmailColumn2"),
    QStringLiteral("OutlookForm.StartLine2"), QStringLiteral("OutlookAddForm.To2"),
    QStringLiteral("BulkForm.EmailColumn2"),  QStringLiteral("BulkForm.StartLine2"),
    QStringLiteral("BulkAddForm.To2"),        QStringLiteral("PreviewForm.Close"),
    QStringLiteral("BulkForm.AttachColumn2"), QStringLiteral("BulkForm.CcColumn2"),
    QStringLiteral("BulkForm.BccColumn2"),    QStringLiteral("OutlookForm.AttachColumn2"),
    QStringLiteral("OutlookForm.CcColumn2"),  QStringLiteral("OutlookForm.BccColumn2"),
};
constexpr int kHeaderCellWidth = 72;
constexpr int kHeaderTextIndent = 5;

// The menu texts that also become toolbar hints.
const QStringList kHintSources = {
    QStringLiteral("Menu.ExcelToExcel"),   QStringLiteral("Menu.ExcelToWord"),
    QStringLiteral("Menu.ExcelToOutlook"), QStringLiteral("Menu.BulkMails"),
    QStringLiteral("Menu.Options"),        QStringLiteral("Menu.Help"),
    QStringLiteral("Menu.About"),          QStringLiteral("Menu.Release"),
};

QStringList languageFilePaths() {
    QStringList paths;
    for (const QString& name : languageFileNames(languagesFolder()))
        paths << languagesFolder() + QLatin1Char('/') + name;
    return paths;
}

void addFileColumn() {
    QTest::addColumn<QString>("path");
    for (const QString& path : languageFilePaths())
        QTest::newRow(qPrintable(QFileInfo(path).fileName())) << path;
}

// The patterns Qt reads from one entry of a converted filter: those in its last parentheses.
QStringList qtPatterns(const QString& entry) {
    const qsizetype open = entry.lastIndexOf(QLatin1Char('('));
    const qsizetype close = entry.lastIndexOf(QLatin1Char(')'));
    if (open < 0 || close < open)
        return {};
    return entry.mid(open + 1, close - open - 1).split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

bool anyPatternMatches(const QStringList& patterns, const QString& fileName) {
    for (const QString& pattern : patterns) {
        const QRegularExpression re(QRegularExpression::wildcardToRegularExpression(pattern),
                                    QRegularExpression::CaseInsensitiveOption);
        if (re.match(fileName).hasMatch())
            return true;
    }
    return false;
}
} // namespace

class TestLanguages : public QObject {
    Q_OBJECT

private slots:
    void keyListAndDefaultFilesArePresent();
    void everyKeyHasReadableText_data() { addFileColumn(); }
    void everyKeyHasReadableText();
    void markerStandsExactlyWhereItIsFilled_data() { addFileColumn(); }
    void markerStandsExactlyWhereItIsFilled();
    void questionsEndWithQuestionMark_data() { addFileColumn(); }
    void questionsEndWithQuestionMark();
    void ampersandsOnlyInMenus_data() { addFileColumn(); }
    void ampersandsOnlyInMenus();
    void menuTextsGiveCleanHints_data() { addFileColumn(); }
    void menuTextsGiveCleanHints();
    void menusHaveDistinctAccelerators_data() { addFileColumn(); }
    void menusHaveDistinctAccelerators();
    void filtersBecomeUsableQtFilters_data();
    void filtersBecomeUsableQtFilters();
    void fontPropertiesAreUsable_data() { addFileColumn(); }
    void fontPropertiesAreUsable();
    void headerCellTextsFitTheirCell_data();
    void headerCellTextsFitTheirCell();
    void languageNamesAreDistinct();
};

void TestLanguages::keyListAndDefaultFilesArePresent() {
    const QList<Key> keys = readKeyList();
    QVERIFY2(!keys.isEmpty(), "the key list beside this test could not be read");
    QSet<QString> seen;
    for (const Key& key : keys) {
        QVERIFY2(!key.section.isEmpty() && !key.name.isEmpty(), qPrintable(key.dotted()));
        QVERIFY2(!seen.contains(key.dotted().toCaseFolded()), qPrintable("listed twice: " + key.dotted()));
        seen.insert(key.dotted().toCaseFolded());
    }
    // The first start picks one of these by the user's language, whether or not it exists.
    for (int languageId : {0x0804, 0x0404, 0x0409}) {
        const QString name = defaultLanguageFileName(languageId);
        QVERIFY2(QFile::exists(languagesFolder() + QLatin1Char('/') + name),
                 qPrintable(name + " is not shipped"));
    }
}

void TestLanguages::everyKeyHasReadableText() {
    QFETCH(QString, path);
    const LanguageFile file(path);
    QVERIFY(file.exists());
    QStringList missing, garbled;
    for (const Key& key : readKeyList()) {
        const QString text = file.value(key.section, key.name);
        if (text.trimmed().isEmpty())
            missing << key.dotted();
        // A file saved in a legacy code page instead of UTF-8 reads as replacement characters.
        if (text.contains(QChar::ReplacementCharacter))
            garbled << key.dotted();
    }
    QVERIFY2(missing.isEmpty(), qPrintable("no text for " + missing.join(QLatin1String(", "))));
    QVERIFY2(garbled.isEmpty(), qPrintable("not UTF-8: " + garbled.join(QLatin1String(", "))));
}

void TestLanguages::markerStandsExactlyWhereItIsFilled() {
    QFETCH(QString, path);
    const LanguageFile file(path);
    static const QString kMarker = QStringLiteral("[xxx]");
    QStringList wrong;
    for (const Key& key : readKeyList()) {
        // Only the first marker is replaced; a second one, or one in a text that is never
        // filled, would reach the user as it stands.
        const int expected = kFilledTexts.contains(key.dotted()) ? 1 : 0;
        if (file.value(key.section, key.name).count(kMarker) != expected)
            wrong << key.dotted();
    }
    QVERIFY2(wrong.isEmpty(), qPrintable("marker misplaced in " + wrong.join(QLatin1String(", "))));
}

void TestLanguages::questionsEndWithQuestionMark() {
    QFETCH(QString, path);
    const LanguageFile file(path);
    for (const QString& key : kQuestions) {
        const QString text = textOf(file, key);
        QVERIFY2(text.endsWith(QLatin1Char('?')) || text.endsWith(QChar(0xFF1F)),
                 qPrintable(key + " is answered with Yes or No but asks nothing: " + text));
    }
}

void TestLanguages::ampersandsOnlyInMenus() {
    QFETCH(QString, path);
    const LanguageFile file(path);
    QStringList wrong;
    for (const Key& key : readKeyList()) {
        // Labels and buttons would turn an "&" into a hidden mnemonic.
        if (key.section.compare(QLatin1String("Menu"), Qt::CaseInsensitive) != 0 &&
            file.value(key.section, key.name).contains(QLatin1Char('&')))
            wrong << key.dotted();
    }
    QVERIFY2(wrong.isEmpty(), qPrintable("\"&\" outside the menus: " + wrong.join(QLatin1String(", "))));
}

void TestLanguages::menuTextsGiveCleanHints() {
    QFETCH(QString, path);
    const LanguageFile file(path);
    for (const Key& key : readKeyList()) {
        if (key.section != QLatin1String("Menu"))
            continue;
        const QString text = file.value(key.section, key.name);
        const qsizetype amp = text.indexOf(QLatin1Char('&'));
        if (amp >= 0) {
            QVERIFY2(text.count(QLatin1Char('&')) == 1, qPrintable(key.dotted() + ": " + text));
            QVERIFY2(amp + 1 < text.size() && text[amp + 1].isLetterOrNumber(),
                     qPrintable(key.dotted() + " has an accelerator without a key: " + text));
        }
    }
    for (const QString& key : kHintSources) {
        const QString hint = hintFromMenuText(textOf(file, key));
        QVERIFY2(!hint.isEmpty(), qPrintable(key));
        QVERIFY2(!hint.contains(QLatin1Char('&')) && !hint.contains(QLatin1Char('(')) &&
                     !hint.contains(QLatin1Char(')')),
                 qPrintable(key + " leaves its accelerator in the toolbar hint: " + hint));
    }
}

void TestLanguages::menusHaveDistinctAccelerators() {
    QFETCH(QString, path);
    const LanguageFile file(path);
    // The items side by side in one menu, as the main window builds them.
    static const QList<QStringList> kMenus = {
        {QStringLiteral("File"), QStringLiteral("Edit"), QStringLiteral("Setup"), QStringLiteral("Help")},
        {QStringLiteral("ExcelToExcel"), QStringLiteral("ExcelToWord"), QStringLiteral("ExcelToOutlook"),
         QStringLiteral("BulkMails"), QStringLiteral("SaveReport"), QStringLiteral("Exit")},
        {QStringLiteral("Clear")},
        {QStringLiteral("Options"), QStringLiteral("Languages")},
        {QStringLiteral("Help"), QStringLiteral("About"), QStringLiteral("Release")},
    };
    for (const QStringList& menu : kMenus) {
        QHash<QChar, QString> taken;
        for (const QString& key : menu) {
            const QString text = file.value(QStringLiteral("Menu"), key);
            const qsizetype amp = text.indexOf(QLatin1Char('&'));
            QVERIFY2(amp >= 0 && amp + 1 < text.size(),
                     qPrintable(QStringLiteral("Menu.%1 has no keyboard accelerator: %2").arg(key, text)));
            const QChar letter = text[amp + 1].toCaseFolded();
            QVERIFY2(!taken.contains(letter),
                     qPrintable(QStringLiteral("Menu.%1 and Menu.%2 share the accelerator %3")
                                    .arg(taken.value(letter), key, letter)));
            taken.insert(letter, key);
        }
    }
}

void TestLanguages::filtersBecomeUsableQtFilters_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QStringList>("firstEntryShows");
    // The report is saved only as the types its filter offers, so that one has no "all files".
    QTest::addColumn<QStringList>("lastEntryShows");
    QTest::addColumn<QStringList>("anEntryShows"); // offered, though not among the first entry's
    const QStringList workbooks = {QStringLiteral("Book.xlsx"), QStringLiteral("book.xlsm"),
                                   QStringLiteral("old book.xls"), QStringLiteral("list.CSV")};
    const QStringList documents = {QStringLiteral("Letter.docx")};
    const QStringList anything = {QStringLiteral("anything.else")};
    for (const QString& path : languageFilePaths()) {
        const QString name = QFileInfo(path).fileName();
        QTest::addRow("%s workbooks", qPrintable(name))
            << path << QStringLiteral("OpenDialog.XlsFilter") << workbooks << anything << QStringList();
        QTest::addRow("%s documents", qPrintable(name))
            << path << QStringLiteral("OpenDialog.DocFilter") << documents << anything
            << QStringList{"letters.pdf"};
        QTest::addRow("%s report files", qPrintable(name))
            << path << QStringLiteral("OpenDialog.ReportFilter") << QStringList{QStringLiteral("report.csv")}
            << QStringList{QStringLiteral("report.xlsx")} << QStringList();
    }
}

void TestLanguages::filtersBecomeUsableQtFilters() {
    QFETCH(QString, path);
    QFETCH(QString, key);
    QFETCH(QStringList, firstEntryShows);
    QFETCH(QStringList, lastEntryShows);
    QFETCH(QStringList, anEntryShows);
    const QString filter = textOf(LanguageFile(path), key);

    const QStringList parts = filter.split(QLatin1Char('|'));
    QVERIFY2(parts.size() >= 2 && parts.size() % 2 == 0,
             qPrintable("text and pattern do not alternate: " + filter));
    for (qsizetype i = 0; i < parts.size(); ++i) {
        QVERIFY2(!parts[i].trimmed().isEmpty(),
                 qPrintable(QStringLiteral("part %1 is empty: ").arg(i) + filter));
        // The converter appends the patterns in parentheses itself; naming them in the display
        // text too would show them twice.
        if (i % 2 == 0)
            QVERIFY2(!parts[i].contains(QLatin1Char('(')),
                     qPrintable("display text names its patterns: " + parts[i]));
    }

    const QStringList entries = qtFileFilter(filter).split(QStringLiteral(";;"));
    QCOMPARE(entries.size(), parts.size() / 2);
    const QStringList patterns = qtPatterns(entries.first());
    for (const QString& fileName : firstEntryShows)
        QVERIFY2(anyPatternMatches(patterns, fileName), qPrintable(entries.first() + " hides " + fileName));
    for (const QString& fileName : lastEntryShows)
        QVERIFY2(anyPatternMatches(qtPatterns(entries.last()), fileName),
                 qPrintable(entries.last() + " hides " + fileName));
    for (const QString& fileName : anEntryShows)
        QVERIFY2(
            std::any_of(entries.begin(), entries.end() - 1,
                        [&](const QString& entry) { return anyPatternMatches(qtPatterns(entry), fileName); }),
            qPrintable("no entry but the last shows " + fileName));
}

void TestLanguages::fontPropertiesAreUsable() {
    QFETCH(QString, path);
    const LanguageFile file(path);
    static const QRegularExpression decimal(QStringLiteral("^[0-9]+$"));
    const QString size = file.value(QStringLiteral("LanguageProperty"), QStringLiteral("FontSize"));
    const QString charSet = file.value(QStringLiteral("LanguageProperty"), QStringLiteral("CharSet"));
    QVERIFY2(decimal.match(size).hasMatch(), qPrintable("FontSize " + size));
    QVERIFY2(decimal.match(charSet).hasMatch(), qPrintable("CharSet " + charSet));
    const int points = fontSizeFromText(size);
    QVERIFY2(points >= 6 && points <= 24, qPrintable("FontSize " + size));
    // Only the low 8 bits are used: a larger number would silently name another character set.
    QVERIFY2(charSet.toInt() <= 255, qPrintable("CharSet " + charSet));
}

void TestLanguages::headerCellTextsFitTheirCell_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("key");
    for (const QString& path : languageFilePaths())
        for (const QString& key : kHeaderCellTexts)
            QTest::addRow("%s %s", qPrintable(QFileInfo(path).fileName()), qPrintable(key)) << path << key;
}

void TestLanguages::headerCellTextsFitTheirCell() {
    QFETCH(QString, path);
    QFETCH(QString, key);
    const LanguageFile file(path);
    const QString family = file.value(QStringLiteral("LanguageProperty"), QStringLiteral("FontName"));
    if (!QFontDatabase::families().contains(family))
        QSKIP(qPrintable(family + " is not installed here"));
    QFont font(family);
    font.setPointSize(
        fontSizeFromText(file.value(QStringLiteral("LanguageProperty"), QStringLiteral("FontSize"))));
    const QString text = textOf(file, key);
    const int width = QFontMetrics(font).horizontalAdvance(text);
    QVERIFY2(kHeaderTextIndent + width <= kHeaderCellWidth,
             qPrintable(QStringLiteral("%1 \"%2\" is %3 pixels wide").arg(key, text).arg(width)));
}

void TestLanguages::languageNamesAreDistinct() {
    // The language choice finds its file by name, without regard to case: a shared name would
    // make one of the files unreachable.
    QHash<QString, QString> owners;
    for (const QString& path : languageFilePaths()) {
        const QString name =
            LanguageFile(path).value(QStringLiteral("LanguageProperty"), QStringLiteral("Name"));
        const QString folded = name.toCaseFolded();
        QVERIFY2(!owners.contains(folded),
                 qPrintable(name + " names both " + owners.value(folded) + " and " + path));
        owners.insert(folded, path);
    }
    QVERIFY(owners.size() >= 3);
}

QTEST_MAIN(TestLanguages)
#include "tst_languages.moc"
