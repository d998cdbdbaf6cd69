#include "merge/word/wordmerge.h"

#include "merge/common/pathcheck.h"
#include "office/docxdocument.h"
#include "office/officeconvert.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cstdio>
#include <memory>
#include <optional>

namespace {

// Why a run ends early: cancelled, a missing sheet, or a failure with its kind and cause.
struct Stopped {
    WordMergeOutcome outcome;
    WordMergeFailure failure = WordMergeFailure::None;
    QString cause;
};

[[noreturn]] void fail(WordMergeFailure failure, const QString& cause) {
    throw Stopped{WordMergeOutcome::Failed, failure, cause};
}

QString native(const QString& path) {
    return QDir::toNativeSeparators(path);
}

// One record's values in pair order, "-" for an empty one, and its image.
struct Record {
    QStringList values;
    int image = 0;
};

Record readRecord(const Workbook& book, int row, const QList<LabelPair>& pairs) {
    Record record;
    bool allEmpty = true, someEmpty = false;
    for (const LabelPair& pair : pairs) {
        const QString value = trimBlanks(book.cellText(row, pair.column));
        if (value.isEmpty()) {
            someEmpty = true;
            record.values << QStringLiteral("-");
        } else {
            allEmpty = false;
            record.values << value;
        }
    }
    record.image = allEmpty ? 1 : someEmpty ? 2 : 0;
    return record;
}

void checkSettings(const WordMergeSettings& s) {
    if (s.sheet < 1)
        fail(WordMergeFailure::Settings, QStringLiteral("worksheet %1 is out of range").arg(s.sheet));
    if (s.startLine < 1)
        fail(WordMergeFailure::Settings, QStringLiteral("start line %1 is out of range").arg(s.startLine));
    if (s.nameColumn < 0 || s.nameColumn > 26)
        fail(WordMergeFailure::Settings, QStringLiteral("name column %1 is out of range").arg(s.nameColumn));
    for (const LabelPair& pair : s.pairs)
        if (pair.column < 1 || pair.column > 26)
            fail(WordMergeFailure::Settings, QStringLiteral("fill-in column %1 is out of range").arg(pair.column));
    if (s.outputPath.isEmpty())
        fail(WordMergeFailure::Settings, QStringLiteral("no output path"));
}

// Writing over an input would lose what the run promises to leave alone.
void refuseInput(const WordMergeSettings& s, const QString& output) {
    if (sameFile(output, s.templatePath))
        fail(WordMergeFailure::Settings, QStringLiteral("the output %1 is the template").arg(native(output)));
    if (sameFile(output, s.sourcePath))
        fail(WordMergeFailure::Settings, QStringLiteral("the output %1 is the source workbook").arg(native(output)));
}

// Only a name that is an input's name (or the name its link leads to) can be that input;
// resolving every name would cost more than writing the documents.
QStringList inputFileNames(const WordMergeSettings& s) {
    QStringList names;
    for (const QString& input : {s.templatePath, s.sourcePath})
        names << QFileInfo(input).fileName() << QFileInfo(input).canonicalFilePath().section(u'/', -1);
    return names;
}

std::function<bool(const QString&)> inputGuard(const WordMergeSettings& s) {
    return [s, names = inputFileNames(s)](const QString& path) {
        return names.contains(QFileInfo(path).fileName(), Qt::CaseInsensitive) &&
               (sameFile(path, s.templatePath) || sameFile(path, s.sourcePath));
    };
}

// Where the documents of a run go. A .docx is saved in place; a .doc, .odt or .pdf is first saved
// as a .docx in a private folder beside the output and converted with the others in one converter
// process when the run ends, then moved into place. The folder goes with the run, also when it is
// cancelled or fails.
class Destination {
public:
    explicit Destination(const QString& outputPath) : m_outputPath(outputPath) {
        if (!docx::outputNeedsConverter(outputPath))
            return;
        if (!officeConverterAvailable())
            fail(WordMergeFailure::ConverterMissing, docx::converterMissingCause(outputPath, false));
        const QFileInfo info(outputPath);
        m_stage = std::make_unique<QTemporaryDir>(info.absoluteDir().filePath(u'.' + info.completeBaseName() +
                                                                              QStringLiteral("-XXXXXX")));
        if (!m_stage->isValid())
            fail(WordMergeFailure::Output, QStringLiteral("cannot write in %1: %2")
                                               .arg(native(info.absolutePath()), m_stage->errorString()));
    }

    // The file a document for target is saved to now.
    QString saveName(const QString& target) {
        if (!m_stage)
            return target;
        const QFileInfo info(target);
        const QString staged = m_stage->filePath(info.completeBaseName() + QStringLiteral(".docx"));
        m_staged.append({staged, target});
        return staged;
    }

    // Converts what was staged and moves it into place; returns the documents written. A stop asked
    // for while the converter works ends it and the run, and nothing staged is moved into place.
    QStringList finish(const std::function<bool()>& stopRequested = {}) {
        if (!m_stage)
            return {};
        QStringList inputs, written;
        for (const auto& [staged, target] : m_staged)
            if (QFileInfo(staged).isFile())
                inputs << staged;
        if (inputs.isEmpty())
            return {};
        const QString format = QFileInfo(m_outputPath).suffix().toLower();
        const QString outDir = m_stage->filePath(QStringLiteral("converted"));
        QDir().mkpath(outDir);
        bool stopped = false;
        const QString failure = convertAllWithOffice(inputs, format, outDir, stopRequested, &stopped);
        if (stopped)
            throw Stopped{WordMergeOutcome::Cancelled, WordMergeFailure::None, {}};
        if (!failure.isEmpty())
            fail(WordMergeFailure::Output, QStringLiteral("cannot write %1: %2").arg(native(m_outputPath), failure));
        for (const auto& [staged, target] : m_staged) {
            const QString converted = QDir(outDir).filePath(QFileInfo(staged).completeBaseName() + u'.' + format);
            if (!QFileInfo(converted).isFile())
                continue;
            // Same folder, so the rename replaces an older file in one step.
            if (std::rename(QFile::encodeName(converted).constData(), QFile::encodeName(target).constData()) != 0)
                fail(WordMergeFailure::Output, QStringLiteral("cannot write %1").arg(native(target)));
            written << target;
        }
        return written;
    }

    bool staged() const { return bool(m_stage); }

private:
    QString m_outputPath;
    std::unique_ptr<QTemporaryDir> m_stage;
    QList<std::pair<QString, QString>> m_staged; // saved .docx, final name
};

void runRecords(const WordMergeSettings& s, WordMergeSink& sink, WordMergeResult& result) {
    std::unique_ptr<Workbook> book;
    try {
        book = openWorkbook(s.sourcePath);
        if (book->sheetCount() < s.sheet)
            throw Stopped{WordMergeOutcome::SheetMissing, WordMergeFailure::None, {}};
    } catch (const WorkbookError& error) {
        fail(WordMergeFailure::Workbook, QStringLiteral("%1: %2").arg(native(s.sourcePath), error.cause()));
    }
    if (sink.stopRequested())
        throw Stopped{WordMergeOutcome::Cancelled, WordMergeFailure::None, {}};
    int lastRow = 0;
    try {
        book->selectSheet(s.sheet);
        lastRow = book->usedRows();
    } catch (const WorkbookError& error) {
        fail(WordMergeFailure::Workbook, QStringLiteral("%1: %2").arg(native(s.sourcePath), error.cause()));
    }

    // A template unreadable at the start ends the run before anything is written.
    std::unique_ptr<docx::DocxTemplate> tpl;
    try {
        if (docx::needsConverter(docx::detectKind(s.templatePath)) && !officeConverterAvailable())
            fail(WordMergeFailure::ConverterMissing, docx::converterMissingCause(s.templatePath, true));
        tpl = std::make_unique<docx::DocxTemplate>(s.templatePath);
    } catch (const WorkbookError& error) {
        fail(WordMergeFailure::Template, error.cause());
    }
    const int records = std::max(0, lastRow - s.startLine + 1);
    const QStringList inputNames = inputFileNames(s);
    // A name from a column that is an input's goes on to "name (2)"; numbered names are checked now.
    const bool namesFromColumn = !s.oneFile && s.nameColumn > 0;
    RecordFileNames names(s.outputPath, inputGuard(s));
    if (!s.oneFile && !namesFromColumn) {
        for (int n = 1; n <= records; ++n) {
            const QString numbered = numberedOutputPath(s.outputPath, n);
            if (inputNames.contains(QFileInfo(numbered).fileName(), Qt::CaseInsensitive))
                refuseInput(s, numbered);
        }
    }
    Destination destination(s.outputPath);
    sink.recordsBegin();

    std::optional<docx::DocxJoiner> joiner;
    QString joinedName;
    try {
        if (s.oneFile) {
            joinedName = destination.saveName(s.outputPath);
            joiner.emplace(*tpl,
                           s.separator == RecordSeparator::PageBreak ? docx::Separator::PageBreak
                                                                     : docx::Separator::Paragraph,
                           joinedName);
        }
        int sequence = 0;
        for (int row = s.startLine; row <= lastRow; ++row) {
            const Record record = readRecord(*book, row, s.pairs);
            docx::DocxDocument doc(*tpl, s.oneFile ? docx::DocxDocument::Scope::MainText
                                                   : docx::DocxDocument::Scope::Whole);
            QList<std::pair<QString, QString>> replacements;
            for (qsizetype i = 0; i < s.pairs.size(); ++i)
                replacements.append({s.pairs[i].label, record.values[i]});
            doc.replaceEach(replacements);
            if (s.oneFile) {
                joiner->append(doc);
            } else {
                ++sequence;
                const QString target = namesFromColumn
                                           ? names.next(sequence, book->cellText(row, s.nameColumn))
                                           : numberedOutputPath(s.outputPath, sequence);
                doc.saveAs(destination.saveName(target));
                if (!destination.staged())
                    result.written << target;
            }
            ++result.records;
            if (record.image == 1)
                ++result.failures;
            else if (record.image == 2)
                ++result.nullValues;
            sink.recordDone(record.values, record.image, row, lastRow);
            if (sink.stopRequested()) {
                // The numbered documents saved so far stay, converted like the others.
                if (!s.oneFile)
                    result.written << destination.finish();
                throw Stopped{WordMergeOutcome::Cancelled, WordMergeFailure::None, {}};
            }
        }
        if (s.oneFile) {
            joiner->save();
            joiner.reset();
            if (!destination.staged())
                result.written << s.outputPath;
        }
        result.written << destination.finish([&sink] { return sink.stopRequested(); });
    } catch (const WorkbookError& error) {
        fail(WordMergeFailure::Output, error.cause());
    }
}

} // namespace

WordMergeResult runWordMerge(const WordMergeSettings& settings, WordMergeSink& sink) {
    WordMergeResult result;
    try {
        checkSettings(settings);
        refuseInput(settings, settings.outputPath);
        runRecords(settings, sink, result);
        result.outcome = WordMergeOutcome::Finished;
    } catch (const Stopped& stopped) {
        result.outcome = stopped.outcome;
        result.failure = stopped.failure;
        result.cause = stopped.cause;
    } catch (const WorkbookError& error) {
        result.outcome = WordMergeOutcome::Failed;
        result.failure = WordMergeFailure::Output;
        result.cause = error.cause();
    } catch (const std::exception& error) {
        result.outcome = WordMergeOutcome::Failed;
        result.failure = WordMergeFailure::Output;
        result.cause = QString::fromLocal8Bit(error.what());
    }
    return result;
}

QStringList plannedDocuments(const WordMergeSettings& s) {
    QStringList planned;
    try {
        const std::unique_ptr<Workbook> book = openWorkbook(s.sourcePath);
        book->selectSheet(s.sheet);
        const int lastRow = book->usedRows();
        RecordFileNames names(s.outputPath, inputGuard(s));
        int sequence = 0;
        for (int row = s.startLine; row <= lastRow; ++row) {
            ++sequence;
            planned << (s.nameColumn > 0 ? names.next(sequence, book->cellText(row, s.nameColumn))
                                         : numberedOutputPath(s.outputPath, sequence));
        }
    } catch (const WorkbookError&) {
        return {}; // the run tells what is wrong with the workbook
    }
    return planned;
}

QString numberedOutputPath(const QString& outputPath, int n) {
    const QString extension = fileExtension(outputPath);
    const QString base = outputPath.left(outputPath.size() - extension.size());
    return base + QStringLiteral("%1").arg(n, 4, 10, QLatin1Char('0')) + extension;
}

RecordFileNames::RecordFileNames(const QString& outputPath, std::function<bool(const QString&)> taken)
    : m_outputPath(outputPath), m_extension(fileExtension(outputPath)), m_taken(std::move(taken)) {
    m_folder = outputPath.left(outputPath.lastIndexOf(u'/') + 1);
}

QString RecordFileNames::next(int n, const QString& value) {
    const QString name = fileNameFromValue(value);
    const QString first =
        name.isEmpty() ? numberedOutputPath(m_outputPath, n) : m_folder + name + m_extension;
    const QString stem = first.left(first.size() - m_extension.size());
    QString path = first;
    auto fileName = [this](const QString& p) { return p.mid(m_folder.size()).toCaseFolded(); };
    for (int k = 2; m_used.contains(fileName(path)) || (m_taken && m_taken(path)); ++k)
        path = stem + QStringLiteral(" (%1)").arg(k) + m_extension;
    m_used.insert(fileName(path));
    return path;
}

QString withWordExtension(const QString& chosen) {
    return withAcceptedExtension(
        chosen,
        {QStringLiteral(".doc"), QStringLiteral(".docx"), QStringLiteral(".odt"), QStringLiteral(".pdf")},
        QStringLiteral(".docx"));
}
