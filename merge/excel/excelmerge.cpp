#include "merge/excel/excelmerge.h"

#include "office/workbook.h"
#include "merge/excel/excelcommand.h"

#include "office/celltext.h"

#include <QHash>

#include <exception>
#include <memory>
#include <vector>

namespace {

// Why a run ends early without being a failure of a workbook.
struct Stopped {
    ExcelMergeOutcome outcome;
};

QString dash() {
    return QStringLiteral("-");
}

// Comparisons without regard to case work on case-folded texts, the same for the rescan and the
// index, so that both find the same rows: folding is a function of the text alone, and equal
// folded texts are what the hash is keyed on.
QString matchForm(const QString& trimmed, bool caseSensitive) {
    return caseSensitive ? trimmed : trimmed.toCaseFolded();
}

// The source rows whose index value matches a key, in ascending order, visited one by one.
class SourceRows {
public:
    virtual ~SourceRows() = default;
    // The first matching row, 0 for none.
    virtual int first(const QString& key) const = 0;
    // Calls visit(row) for that row and every matching row after it in ascending order until it
    // returns false.
    template <typename Visit> void forEachFrom(int row, Visit visit) const {
        while (row != 0 && visit(row))
            row = next(row);
    }

protected:
    virtual int next(int row) const = 0;
};

// The documented lookup: every key rescans the source from its start line.
class RescanRows : public SourceRows {
public:
    RescanRows(const Workbook& book, int column, int startLine, int lastRow, bool caseSensitive)
        : m_book(book), m_column(column), m_startLine(startLine), m_lastRow(lastRow),
          m_caseSensitive(caseSensitive) {}

    int first(const QString& key) const override {
        m_key = matchForm(key, m_caseSensitive);
        return scanFrom(m_startLine);
    }
    int next(int row) const override { return scanFrom(row + 1); }

private:
    int scanFrom(int row) const {
        for (; row <= m_lastRow; ++row) {
            const QString candidate = trimBlanks(m_book.cellText(row, m_column));
            if (!candidate.isEmpty() && matchForm(candidate, m_caseSensitive) == m_key)
                return row;
        }
        return 0;
    }

    const Workbook& m_book;
    int m_column, m_startLine, m_lastRow;
    bool m_caseSensitive;
    mutable QString m_key;
};

// The index column read once: each distinct value leads a chain of its rows in ascending order.
class IndexedRows : public SourceRows {
public:
    IndexedRows(const Workbook& book, int column, int startLine, int lastRow, bool caseSensitive)
        : m_caseSensitive(caseSensitive) {
        if (lastRow < startLine)
            return;
        m_next.assign(size_t(lastRow) + 1, 0);
        m_heads.reserve(lastRow - startLine + 1);
        // Walking upwards and putting each row in front of its chain leaves the chains ascending.
        for (int row = lastRow; row >= startLine; --row) {
            const QString candidate = trimBlanks(book.cellText(row, column));
            if (candidate.isEmpty())
                continue; // an empty candidate never matches
            int& head = m_heads[matchForm(candidate, m_caseSensitive)];
            m_next[size_t(row)] = head;
            head = row;
        }
    }

    int first(const QString& key) const override { return m_heads.value(matchForm(key, m_caseSensitive), 0); }
    int next(int row) const override { return m_next[size_t(row)]; }

private:
    bool m_caseSensitive;
    QHash<QString, int> m_heads;
    std::vector<int> m_next; // by row: the next matching row below it, 0 at the end of a chain
};

std::unique_ptr<Workbook> openSheet(const WorkbookOpener& open, const QString& path, int sheet,
                                    const WorkbookOpenOptions& options, ExcelMergeOutcome missing,
                                    ExcelMergeSink& sink) {
    std::unique_ptr<Workbook> book = open(path, options);
    if (!book)
        throw WorkbookError(QStringLiteral("%1 could not be opened").arg(path));
    if (book->sheetCount() < sheet)
        throw Stopped{missing};
    if (sink.stopRequested())
        throw Stopped{ExcelMergeOutcome::Cancelled};
    book->selectSheet(sheet);
    return book;
}

void checkSettings(const ExcelMergeSettings& s) {
    const auto positive = [](int value, const char* what) {
        if (value < 1)
            throw WorkbookError(QStringLiteral("%1 %2 is out of range").arg(QLatin1String(what)).arg(value));
    };
    positive(s.sourceSheet, "source worksheet");
    positive(s.sourceIndexColumn, "source index column");
    positive(s.sourceStartLine, "source start line");
    positive(s.destSheet, "destination worksheet");
    positive(s.destIndexColumn, "destination index column");
    positive(s.destStartLine, "destination start line");
    for (const FillInPair& pair : s.pairs) {
        positive(pair.sourceColumn, "fill-in source column");
        positive(pair.destColumn, "fill-in destination column");
    }
    // The command refuses these already; the run refuses them too, because writing over an input
    // would lose the destination the run promises to leave alone.
    if (sameFile(s.outputPath, s.destPath) || sameFile(s.outputPath, s.sourcePath))
        throw WorkbookError(QStringLiteral("the output %1 is one of the input workbooks").arg(s.outputPath));
}

// The fill-ins of one key: each pair's values of the matching source rows, joined by "/". A join
// stops growing once it is longer than a cell holds, and is cut there.
QStringList joinMatches(const ExcelMergeSettings& s, const Workbook& source, const SourceRows& rows, int first) {
    const qsizetype pairCount = s.pairs.size();
    QStringList accumulators(pairCount);
    rows.forEachFrom(first, [&](int sourceRow) {
        bool full = true;
        for (qsizetype i = 0; i < pairCount; ++i) {
            QString& acc = accumulators[i];
            if (acc.size() > kCellTextLimit)
                continue;
            const QString value = trimBlanks(source.cellText(sourceRow, s.pairs[i].sourceColumn));
            if (!acc.isEmpty())
                acc += QLatin1Char('/');
            acc += value.isEmpty() ? dash() : value;
            full = full && acc.size() > kCellTextLimit;
        }
        return !s.uniqueIndexValue && !full;
    });
    for (QString& acc : accumulators)
        acc = acc.isEmpty() ? dash() : fitToCell(acc);
    return accumulators;
}

void mergeRows(const ExcelMergeSettings& s, const Workbook& source, const SourceRows& rows, Workbook& dest,
               ExcelMergeSink& sink, ExcelMergeResult& result) {
    const int lastRow = dest.usedRows();
    const qsizetype pairCount = s.pairs.size();
    // A key met again gets the fill-ins of its first meeting, shared rather than joined and held
    // anew: a key that many rows carry costs its joined text once. Keys are told apart by the
    // first source row they match.
    std::vector<bool> seen;
    QHash<int, QStringList> repeated;
    const QStringList unmatched(pairCount, dash());
    for (int row = s.destStartLine; row <= lastRow; ++row) {
        const QString key = trimBlanks(dest.cellText(row, s.destIndexColumn));
        if (key.isEmpty())
            continue;
        const int first = rows.first(key);
        const bool matched = first != 0;
        QStringList accumulators;
        if (!matched) {
            accumulators = unmatched;
        } else if (const auto again = repeated.constFind(first); again != repeated.constEnd()) {
            accumulators = *again;
        } else {
            accumulators = joinMatches(s, source, rows, first);
            if (size_t(first) >= seen.size())
                seen.resize(size_t(first) + 1);
            if (seen[size_t(first)])
                repeated.insert(first, accumulators);
            else
                seen[size_t(first)] = true;
        }
        for (qsizetype i = 0; i < pairCount; ++i)
            dest.setCellText(row, s.pairs[i].destColumn, accumulators[i]);
        ++result.records;
        if (!matched)
            ++result.failures;
        QStringList subItems;
        subItems.reserve(pairCount + 1);
        subItems.append(key);
        subItems.append(accumulators);
        sink.recordDone(subItems, matched ? 0 : 1, row, lastRow);
        if (sink.stopRequested())
            throw Stopped{ExcelMergeOutcome::Cancelled};
    }
}

} // namespace

ExcelMergeResult runExcelMerge(const ExcelMergeSettings& settings, ExcelMergeSink& sink,
                               SourceLookup lookup) {
    return runExcelMerge(settings, sink, lookup, [](const QString& path, const WorkbookOpenOptions& options) {
        return openWorkbook(path, options);
    });
}

ExcelMergeResult runExcelMerge(const ExcelMergeSettings& settings, ExcelMergeSink& sink, SourceLookup lookup,
                               const WorkbookOpener& open) {
    ExcelMergeResult result;
    try {
        checkSettings(settings);
        // Of the source only its index and the pairs' columns are read; of the destination only its
        // index: the fill-ins are written without reading what they replace.
        WorkbookOpenOptions sourceOptions;
        sourceOptions.columns.push_back(settings.sourceIndexColumn);
        for (const FillInPair& pair : settings.pairs)
            sourceOptions.columns.push_back(pair.sourceColumn);
        WorkbookOpenOptions destOptions;
        destOptions.columns.push_back(settings.destIndexColumn);
        std::unique_ptr<Workbook> source = openSheet(open, settings.sourcePath, settings.sourceSheet, sourceOptions,
                                                     ExcelMergeOutcome::SourceSheetMissing, sink);
        std::unique_ptr<Workbook> dest = openSheet(open, settings.destPath, settings.destSheet, destOptions,
                                                   ExcelMergeOutcome::DestSheetMissing, sink);
        sink.recordsBegin();

        const int sourceLast = source->usedRows();
        std::unique_ptr<SourceRows> rows;
        if (lookup == SourceLookup::Rescan)
            rows = std::make_unique<RescanRows>(*source, settings.sourceIndexColumn, settings.sourceStartLine,
                                                sourceLast, settings.caseSensitive);
        else
            rows =
                std::make_unique<IndexedRows>(*source, settings.sourceIndexColumn, settings.sourceStartLine,
                                              sourceLast, settings.caseSensitive);
        mergeRows(settings, *source, *rows, *dest, sink, result);
        dest->saveAs(settings.outputPath);
        result.outcome = ExcelMergeOutcome::Finished;
    } catch (const Stopped& stopped) {
        result.outcome = stopped.outcome;
    } catch (const WorkbookError& error) {
        result.outcome = ExcelMergeOutcome::Failed;
        result.cause = error.cause();
    } catch (const std::exception& error) {
        result.outcome = ExcelMergeOutcome::Failed;
        result.cause = QString::fromLocal8Bit(error.what());
    }
    return result;
}
