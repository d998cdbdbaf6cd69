// The Excel-to-Excel run on workbooks held in memory: the documented edge cases, the outcomes that
// end a run early, and the indexed lookup against the rescan on many generated workbooks.
#include "merge/excel/excelmerge.h"

#include <QMap>
#include <QRandomGenerator>
#include <QtTest>

namespace {

using Sheet = QList<QStringList>; // rows of cell texts, row 1 first

// A workbook of texts. Saving records the selected sheet's cells under the output path in the
// shared shelf, where the test reads them back.
struct Shelf {
    QMap<QString, QList<Sheet>> files;
    QMap<QString, Sheet> saved;
    QStringList opened;
    QString failOpen, failSave;
};

class MemoryWorkbook : public Workbook {
public:
    MemoryWorkbook(Shelf& shelf, QString path)
        : m_shelf(shelf), m_path(std::move(path)), m_sheets(shelf.files[m_path]) {}

    QString path() const override { return m_path; }
    int sheetCount() const override { return int(m_sheets.size()); }
    void selectSheet(int n) override {
        if (n < 1 || n > sheetCount())
            throw WorkbookError(QStringLiteral("no sheet %1").arg(n));
        m_selected = n;
    }
    int selectedSheet() const override { return m_selected; }
    int usedRows() const override {
        const Sheet& sheet = current();
        for (int row = int(sheet.size()); row > 0; --row)
            for (const QString& cell : sheet[row - 1])
                if (!cell.isEmpty())
                    return row;
        return 0;
    }
    int usedColumns() const override {
        int columns = 0;
        for (const QStringList& row : current())
            for (int c = int(row.size()); c > columns; --c)
                if (!row[c - 1].isEmpty())
                    columns = c;
        return columns;
    }
    QString cellText(int row, int column) const override {
        const Sheet& sheet = current();
        if (row < 1 || row > sheet.size() || column < 1 || column > sheet[row - 1].size())
            return {};
        return sheet[row - 1][column - 1];
    }
    void setCellText(int row, int column, const QString& text) override {
        Sheet& sheet = m_sheets[m_selected - 1];
        while (sheet.size() < row)
            sheet.append(QStringList());
        QStringList& cells = sheet[row - 1];
        while (cells.size() < column)
            cells.append(QString());
        cells[column - 1] = text;
    }
    void saveAs(const QString& path) override {
        if (path == m_shelf.failSave)
            throw WorkbookError(QStringLiteral("disk full"));
        m_shelf.saved[path] = current();
    }

private:
    const Sheet& current() const { return m_sheets[m_selected - 1]; }

    Shelf& m_shelf;
    QString m_path;
    QList<Sheet> m_sheets; // a copy: the file itself never changes
    int m_selected = 1;
};

struct Line {
    QStringList subItems;
    int image;
    bool operator==(const Line&) const = default;
};

class RecordingSink : public ExcelMergeSink {
public:
    void recordsBegin() override { began = true; }
    void recordDone(const QStringList& subItems, int image, int row, int lastRow) override {
        lines.append({subItems, image});
        progress.append(row * 100 / lastRow);
    }
    bool stopRequested() override { return ++asked > stopAfterAsks && stopAfterAsks >= 0; }

    QList<Line> lines;
    QList<int> progress;
    bool began = false;
    int asked = 0;
    int stopAfterAsks = -1; // the first stop test answering yes, counted from 1; -1 never
};

QString render(const QList<Line>& lines) {
    QStringList out;
    for (const Line& line : lines)
        out << QString::number(line.image) + QLatin1Char('|') + line.subItems.join(QLatin1Char('|'));
    return out.join(QLatin1Char('\n'));
}

QString render(const Sheet& sheet) {
    QStringList out;
    for (const QStringList& row : sheet) {
        QStringList cells = row;
        while (!cells.isEmpty() && cells.last().isEmpty())
            cells.removeLast();
        out << cells.join(QLatin1Char('|'));
    }
    while (!out.isEmpty() && out.last().isEmpty())
        out.removeLast();
    return out.join(QLatin1Char('\n'));
}

// "a|b\nc|d" -> rows of cells; "" -> an empty sheet.
Sheet sheetOf(const QString& text) {
    Sheet sheet;
    if (text.isEmpty())
        return sheet;
    for (const QString& row : text.split(QLatin1Char('\n')))
        sheet.append(row.split(QLatin1Char('|')));
    return sheet;
}

QList<FillInPair> pairsOf(const QString& text) {
    QList<FillInPair> pairs;
    for (const QString& pair : text.split(QLatin1Char(' '), Qt::SkipEmptyParts))
        pairs.append({pair[0].unicode() - 'A' + 1, pair[2].unicode() - 'A' + 1});
    return pairs;
}

struct Run {
    Run(const ExcelMergeSettings& s, const QList<Sheet>& source, const QList<Sheet>& dest) {
        shelf.files[s.sourcePath] = source;
        shelf.files[s.destPath] = dest;
    }

    ExcelMergeResult result;
    RecordingSink sink;
    Shelf shelf;
};

void run(Run& r, const ExcelMergeSettings& settings, SourceLookup lookup) {
    r.result =
        runExcelMerge(settings, r.sink, lookup, [&r](const QString& path, const WorkbookOpenOptions&) -> std::unique_ptr<Workbook> {
            if (path == r.shelf.failOpen)
                throw WorkbookError(path + QStringLiteral(": not a workbook"));
            r.shelf.opened << path;
            return std::make_unique<MemoryWorkbook>(r.shelf, path);
        });
}

ExcelMergeSettings baseSettings() {
    ExcelMergeSettings s;
    s.sourcePath = QStringLiteral("/books/source.xlsx");
    s.destPath = QStringLiteral("/books/dest.xlsx");
    s.outputPath = QStringLiteral("/books/out.xlsx");
    s.pairs = {{2, 2}};
    return s;
}

} // namespace

class TestExcelMerge : public QObject {
    Q_OBJECT

private slots:
    void documentedCases_data();
    void documentedCases();
    void sheetMissingEndsBeforeAnyRecord_data();
    void sheetMissingEndsBeforeAnyRecord();
    void cancelEndsWithoutOutput_data();
    void cancelEndsWithoutOutput();
    void workbookErrorsFailWithTheirCause();
    void outputNamingAnInputIsRefused();
    void progressFollowsTheDestinationRows();
    void indexedLookupEqualsRescan();
};

void TestExcelMerge::documentedCases_data() {
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("dest");
    QTest::addColumn<QString>("pairs");
    // u: unique, c: case sensitive, s<n>/d<n>: start lines, S<n>/D<n>: index columns
    QTest::addColumn<QString>("options");
    QTest::addColumn<QString>("lines");
    QTest::addColumn<QString>("output");

    QTest::newRow("blank keys are skipped and keep their cells") << "k|x"
                                                                 << "k|old\n|old\n \t|old"
                                                                 << "B:B"
                                                                 << ""
                                                                 << "0|k|x"
                                                                 << "k|x\n|old\n \t|old";
    QTest::newRow("unmatched row gets a dash and image 1") << "k|x"
                                                           << "z|old"
                                                           << "B:B C:C"
                                                           << ""
                                                           << "1|z|-|-"
                                                           << "z|-|-";
    QTest::newRow("two matches join in row order") << "k|x\nk|y"
                                                   << "k"
                                                   << "B:B"
                                                   << ""
                                                   << "0|k|x/y"
                                                   << "k|x/y";
    QTest::newRow("unique index value stops at the first match") << "k|x\nk|y"
                                                                 << "k"
                                                                 << "B:B"
                                                                 << "u"
                                                                 << "0|k|x"
                                                                 << "k|x";
    QTest::newRow("empty value after a match joins as a dash") << "k|x\nk|"
                                                               << "k"
                                                               << "B:B"
                                                               << ""
                                                               << "0|k|x/-"
                                                               << "k|x/-";
    QTest::newRow("empty first value is a dash too") << "k|\nk|y"
                                                     << "k"
                                                     << "B:B"
                                                     << ""
                                                     << "0|k|-/y"
                                                     << "k|-/y";
    QTest::newRow("values are trimmed") << "k| x \t"
                                        << "k"
                                        << "B:B"
                                        << ""
                                        << "0|k|x"
                                        << "k|x";
    QTest::newRow("keys differing in case match without case sensitivity") << "ABC|x"
                                                                           << "abc"
                                                                           << "B:B"
                                                                           << ""
                                                                           << "0|abc|x"
                                                                           << "abc|x";
    QTest::newRow("keys differing in case do not match with it") << "ABC|x"
                                                                 << "abc"
                                                                 << "B:B"
                                                                 << "c"
                                                                 << "1|abc|-"
                                                                 << "abc|-";
    QTest::newRow("case folding goes beyond ASCII") << "ÄRGER|x"
                                                    << "ärger"
                                                    << "B:B"
                                                    << ""
                                                    << "0|ärger|x"
                                                    << "ärger|x";
    QTest::newRow("leading and trailing blanks never count") << " k\t|x"
                                                             << "\nk  "
                                                             << "B:B"
                                                             << "c"
                                                             << "0|k|x"
                                                             << "\nk  |x";
    QTest::newRow("a no-break space is not a blank") << "\u00a0k|x"
                                                     << "k"
                                                     << "B:B"
                                                     << ""
                                                     << "1|k|-"
                                                     << "k|-";
    QTest::newRow("empty source candidates never match") << "|x\n \t|y\nk|z"
                                                         << "k"
                                                         << "B:B"
                                                         << ""
                                                         << "0|k|z"
                                                         << "k|z";
    QTest::newRow("source start line leaves the rows above out") << "k|head\nk|x"
                                                                 << "k"
                                                                 << "B:B"
                                                                 << "s2"
                                                                 << "0|k|x"
                                                                 << "k|x";
    QTest::newRow("destination start line leaves the rows above alone") << "k|x"
                                                                        << "k|title\nk|"
                                                                        << "B:B"
                                                                        << "d2"
                                                                        << "0|k|x"
                                                                        << "k|title\nk|x";
    QTest::newRow("start line beyond the last row processes nothing") << "k|x"
                                                                      << "k|old"
                                                                      << "B:B"
                                                                      << "d5"
                                                                      << ""
                                                                      << "k|old";
    QTest::newRow("a pair may write into the index column") << "k|x"
                                                            << "k"
                                                            << "B:A"
                                                            << ""
                                                            << "0|k|x"
                                                            << "x";
    QTest::newRow("a later pair into the same column wins") << "k|x|y"
                                                            << "k"
                                                            << "B:D C:D"
                                                            << ""
                                                            << "0|k|x|y"
                                                            << "k|||y";
    QTest::newRow("index columns other than A") << "a|b|k"
                                                << "q|k"
                                                << "A:D B:C"
                                                << "S3 D2"
                                                << "0|k|a|b"
                                                << "q|k|b|a";
    QTest::newRow("each row gathers its own values") << "a|1\nb|2\na|3"
                                                     << "b\na\nc"
                                                     << "B:B"
                                                     << ""
                                                     << "0|b|2\n0|a|1/3\n1|c|-"
                                                     << "b|2\na|1/3\nc|-";
}

void TestExcelMerge::documentedCases() {
    QFETCH(QString, source);
    QFETCH(QString, dest);
    QFETCH(QString, pairs);
    QFETCH(QString, options);
    QFETCH(QString, lines);
    QFETCH(QString, output);

    ExcelMergeSettings s = baseSettings();
    s.pairs = pairsOf(pairs);
    s.uniqueIndexValue = options.contains(QLatin1Char('u'));
    s.caseSensitive = options.contains(QLatin1Char('c'));
    static const QRegularExpression number(QStringLiteral("([sdSD])(\\d+)"));
    for (const QRegularExpressionMatch& m : number.globalMatch(options)) {
        const QChar which = m.captured(1)[0];
        int& field = which == u's'   ? s.sourceStartLine
                     : which == u'd' ? s.destStartLine
                     : which == u'S' ? s.sourceIndexColumn
                                     : s.destIndexColumn;
        field = m.captured(2).toInt();
    }
    for (SourceLookup lookup : {SourceLookup::Indexed, SourceLookup::Rescan}) {
        Run r(s, {sheetOf(source)}, {sheetOf(dest)});
        run(r, s, lookup);
        QCOMPARE(r.result.outcome, ExcelMergeOutcome::Finished);
        QCOMPARE(render(r.sink.lines), lines);
        QVERIFY2(r.shelf.saved.contains(s.outputPath), "a finished run always saves");
        QCOMPARE(render(r.shelf.saved[s.outputPath]), output);
        QCOMPARE(render(r.shelf.files[s.destPath].first()), render(sheetOf(dest)));
        QCOMPARE(r.result.records, int(r.sink.lines.size()));
        QCOMPARE(r.result.failures, int(std::count_if(r.sink.lines.begin(), r.sink.lines.end(),
                                                      [](const Line& l) { return l.image == 1; })));
    }
}

void TestExcelMerge::sheetMissingEndsBeforeAnyRecord_data() {
    QTest::addColumn<int>("sourceSheet");
    QTest::addColumn<int>("destSheet");
    QTest::addColumn<int>("outcome");
    QTest::addColumn<int>("opened");

    QTest::newRow("source sheet beyond the last")
        << 3 << 1 << int(ExcelMergeOutcome::SourceSheetMissing) << 1;
    QTest::newRow("destination sheet beyond the last")
        << 1 << 2 << int(ExcelMergeOutcome::DestSheetMissing) << 2;
    QTest::newRow("last sheets exist") << 2 << 1 << int(ExcelMergeOutcome::Finished) << 2;
}

void TestExcelMerge::sheetMissingEndsBeforeAnyRecord() {
    QFETCH(int, sourceSheet);
    QFETCH(int, destSheet);
    QFETCH(int, outcome);
    QFETCH(int, opened);

    ExcelMergeSettings s = baseSettings();
    s.sourceSheet = sourceSheet;
    s.destSheet = destSheet;
    Run r(s, {sheetOf("k|first"), sheetOf("k|second")}, {sheetOf("k")});
    run(r, s, SourceLookup::Indexed);
    QCOMPARE(int(r.result.outcome), outcome);
    QCOMPARE(int(r.shelf.opened.size()), opened);
    QCOMPARE(r.sink.began, outcome == int(ExcelMergeOutcome::Finished));
    QCOMPARE(r.shelf.saved.contains(s.outputPath), outcome == int(ExcelMergeOutcome::Finished));
    if (outcome == int(ExcelMergeOutcome::Finished))
        QCOMPARE(render(r.sink.lines), QStringLiteral("0|k|second")); // the sheet by position
}

void TestExcelMerge::cancelEndsWithoutOutput_data() {
    QTest::addColumn<int>("stopAt");
    QTest::addColumn<int>("opened");
    QTest::addColumn<int>("records");

    // The run asks after the source opens, after the destination opens, then after each record.
    QTest::newRow("before the destination is opened") << 1 << 1 << 0;
    QTest::newRow("before the first record") << 2 << 2 << 0;
    QTest::newRow("after two records") << 4 << 2 << 2;
}

void TestExcelMerge::cancelEndsWithoutOutput() {
    QFETCH(int, stopAt);
    QFETCH(int, opened);
    QFETCH(int, records);

    ExcelMergeSettings s = baseSettings();
    Run r(s, {sheetOf("a|1\nb|2\nc|3")}, {sheetOf("a\nb\nc")});
    r.sink.stopAfterAsks = stopAt - 1;
    run(r, s, SourceLookup::Indexed);
    QCOMPARE(r.result.outcome, ExcelMergeOutcome::Cancelled);
    QCOMPARE(int(r.shelf.opened.size()), opened);
    QCOMPARE(r.result.records, records);
    QCOMPARE(int(r.sink.lines.size()), records);
    QVERIFY2(r.shelf.saved.isEmpty(), "a cancelled run writes nothing");
}

void TestExcelMerge::workbookErrorsFailWithTheirCause() {
    ExcelMergeSettings s = baseSettings();
    {
        Run r(s, {sheetOf("k|x")}, {sheetOf("k")});
        r.shelf.failOpen = s.destPath;
        run(r, s, SourceLookup::Indexed);
        QCOMPARE(r.result.outcome, ExcelMergeOutcome::Failed);
        QCOMPARE(r.result.cause, s.destPath + QStringLiteral(": not a workbook"));
        QVERIFY(!r.sink.began);
    }
    {
        Run r(s, {sheetOf("k|x")}, {sheetOf("k")});
        r.shelf.failSave = s.outputPath;
        run(r, s, SourceLookup::Indexed);
        QCOMPARE(r.result.outcome, ExcelMergeOutcome::Failed);
        QCOMPARE(r.result.cause, QStringLiteral("disk full"));
        QCOMPARE(r.result.records, 1);
    }
}

void TestExcelMerge::outputNamingAnInputIsRefused() {
    for (const QString& output :
         {QStringLiteral("/books/./dest.xlsx"), QStringLiteral("/books/x/../SOURCE.xlsx")}) {
        ExcelMergeSettings s = baseSettings();
        s.outputPath = output;
        Run r(s, {sheetOf("k|x")}, {sheetOf("k")});
        run(r, s, SourceLookup::Indexed);
        QCOMPARE(r.result.outcome, ExcelMergeOutcome::Failed);
        QVERIFY2(r.shelf.opened.isEmpty(), qPrintable(output));
        QVERIFY(r.shelf.saved.isEmpty());
    }
}

void TestExcelMerge::progressFollowsTheDestinationRows() {
    ExcelMergeSettings s = baseSettings();
    Run r(s, {sheetOf("a|1")}, {sheetOf("a\n\na\na")});
    run(r, s, SourceLookup::Indexed);
    QCOMPARE(r.sink.progress, (QList<int>{25, 75, 100}));
}

namespace {

// Index values from a small set, so that duplicates, case variants, blanks and empty cells are
// frequent.
QString randomKey(QRandomGenerator& random) {
    static const QStringList keys = {
        QStringLiteral("a"),       QStringLiteral("A"),  QStringLiteral(" a"),     QStringLiteral("a\t"),
        QStringLiteral("b"),       QStringLiteral("B "), QStringLiteral("Straße"), QStringLiteral("STRASSE"),
        QStringLiteral("ǅ"),       QStringLiteral("ǆ"),  QStringLiteral(""),       QStringLiteral("  "),
        QStringLiteral("\u00a0a"), QStringLiteral("c")};
    return keys[random.bounded(int(keys.size()))];
}

QString randomValue(QRandomGenerator& random) {
    switch (random.bounded(4)) {
    case 0:
        return {};
    case 1:
        return QStringLiteral(" ");
    default:
        return QString::number(random.bounded(100));
    }
}

Sheet randomSheet(QRandomGenerator& random, int rows, int columns, int indexColumn) {
    Sheet sheet;
    for (int r = 0; r < rows; ++r) {
        QStringList cells;
        for (int c = 1; c <= columns; ++c)
            cells << (c == indexColumn ? randomKey(random) : randomValue(random));
        sheet << cells;
    }
    return sheet;
}

} // namespace

void TestExcelMerge::indexedLookupEqualsRescan() {
    QRandomGenerator random(20261209);
    int compared = 0, joined = 0;
    for (int round = 0; round < 400; ++round) {
        ExcelMergeSettings s = baseSettings();
        s.sourceIndexColumn = 1 + random.bounded(3);
        s.destIndexColumn = 1 + random.bounded(3);
        s.sourceStartLine = 1 + random.bounded(3);
        s.destStartLine = 1 + random.bounded(3);
        s.uniqueIndexValue = random.bounded(2);
        s.caseSensitive = random.bounded(2);
        s.pairs.clear();
        for (int i = 0, n = 1 + random.bounded(4); i < n; ++i)
            s.pairs.append({1 + random.bounded(5), 1 + random.bounded(6)});
        const Sheet source = randomSheet(random, random.bounded(30), 5, s.sourceIndexColumn);
        const Sheet dest = randomSheet(random, random.bounded(30), 4, s.destIndexColumn);

        Run indexed(s, {source}, {dest}), rescan(s, {source}, {dest});
        run(indexed, s, SourceLookup::Indexed);
        run(rescan, s, SourceLookup::Rescan);
        QCOMPARE(indexed.result.outcome, ExcelMergeOutcome::Finished);
        QCOMPARE(rescan.result.outcome, ExcelMergeOutcome::Finished);
        QCOMPARE(render(indexed.sink.lines), render(rescan.sink.lines));
        QCOMPARE(render(indexed.shelf.saved[s.outputPath]), render(rescan.shelf.saved[s.outputPath]));
        QCOMPARE(indexed.result.records, rescan.result.records);
        QCOMPARE(indexed.result.failures, rescan.result.failures);
        compared += int(indexed.sink.lines.size());
        for (const Line& line : indexed.sink.lines)
            joined += line.subItems.last().contains(QLatin1Char('/'));
    }
    // The generator must actually reach the interesting paths, or the comparison proves little.
    QVERIFY2(compared > 2000, qPrintable(QString::number(compared)));
    QVERIFY2(joined > 200, qPrintable(QString::number(joined)));
}

QTEST_GUILESS_MAIN(TestExcelMerge)
#include "tst_excelmerge.moc"
