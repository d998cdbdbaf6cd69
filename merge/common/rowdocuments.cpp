#include "merge/common/rowdocuments.h"

#include "mail/address.h"
#include "mail/composer.h"
#include "merge/common/mailingjournal.h"
#include "merge/common/pathcheck.h"
#include "office/docxdocument.h"
#include "office/officeconvert.h"
#include "office/workbook.h"
#include "platform/blanks.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

namespace {

QString native(const QString& path) {
    return QDir::toNativeSeparators(path);
}

bool wantsPdf(const PersonalMail& personal) {
    return personal.documentFormat == PersonalMail::DocumentFormat::Pdf;
}

// The file a row's document is saved to: named by the row, so that rows whose documents share a
// name never meet on disk, and so that the converter's outputs (named after its inputs) differ.
QString rowFileName(int row, const QString& extension) {
    return QStringLiteral("row%1.%2").arg(row).arg(extension);
}

} // namespace

QList<DocumentRow> rowsToGetMail(const Workbook& book, int startLine, int emailColumn, const QList<LabelPair>& pairs,
                                 const MailingJournal* journal) {
    QList<DocumentRow> rows;
    const int lastRow = book.usedRows();
    for (int row = std::max(1, startLine); row <= lastRow; ++row) {
        const QString address = trimBlanks(book.cellText(row, emailColumn));
        if (!isUsableAddress(address) || (journal && journal->done({row, address})))
            continue;
        DocumentRow documentRow{row, {}};
        for (const LabelPair& pair : pairs) {
            const QString value = trimBlanks(book.cellText(row, pair.column));
            documentRow.values.append(value.isEmpty() ? QStringLiteral("-") : value);
        }
        rows.append(documentRow);
    }
    return rows;
}

QString rowDocumentsProblem(const PersonalMail& personal) {
    const QString& path = personal.documentTemplate;
    if (path.isEmpty())
        return {};
    if (const QString problem = inputFileProblem(path); !problem.isEmpty())
        return QStringLiteral("the document template %1").arg(problem);
    if (officeConverterAvailable())
        return {};
    if (docx::needsConverter(docx::detectKind(path)))
        return docx::converterMissingCause(path, true);
    if (wantsPdf(personal))
        return QStringLiteral("PDF documents are made by LibreOffice (soffice), which is not installed; "
                              "attach the documents as .docx, which works without it");
    return {};
}

RowDocuments::RowDocuments(PersonalMail personal, QList<LabelPair> pairs)
    : m_personal(std::move(personal)), m_pairs(std::move(pairs)) {}

RowDocuments::~RowDocuments() = default;

QString RowDocuments::format() const {
    return wantsPdf(m_personal) ? QStringLiteral("pdf") : QStringLiteral("docx");
}

QString RowDocuments::folder() const {
    return m_folder ? m_folder->path() : QString();
}

RowDocuments::Outcome RowDocuments::fail(const QString& cause) {
    m_cause = cause;
    m_documents.clear();
    m_folder.reset();
    return Outcome::Failed;
}

QString RowDocuments::attachmentName(const DocumentRow& row) const {
    const QString extension = u'.' + format();
    QString name = fileNameFromValue(replaceLabels(m_personal.documentName, m_pairs, row.values));
    if (name.isEmpty())
        name = fileNameFromValue(QFileInfo(m_personal.documentTemplate).completeBaseName()) + u'-' +
               QString::number(row.row);
    if (!name.endsWith(extension, Qt::CaseInsensitive))
        name += extension;
    return name;
}

RowDocuments::Outcome RowDocuments::make(const QList<DocumentRow>& rows, const Progress& progress,
                                         const std::function<bool()>& stop) {
    m_documents.clear();
    m_cause.clear();
    if (!wanted() || rows.isEmpty())
        return Outcome::Made;
    const auto halted = [this] {
        m_documents.clear();
        m_folder.reset();
        return Outcome::Stopped;
    };
    const int total = int(rows.size());
    const QString templatePath = m_personal.documentTemplate;
    if (const QString problem = rowDocumentsProblem(m_personal); !problem.isEmpty())
        return fail(problem);

    m_folder = std::make_unique<QTemporaryDir>(QDir::temp().filePath(QStringLiteral("tallyweave-documents-XXXXXX")));
    if (!m_folder->isValid())
        return fail(QStringLiteral("no temporary folder for the documents (%1)").arg(m_folder->errorString()));
    const QString made = m_folder->filePath(QStringLiteral("docx"));
    if (!QDir().mkpath(made))
        return fail(QStringLiteral("cannot write in %1").arg(native(m_folder->path())));

    // The documents as the Word mode makes them; a .doc or .odt template is read through the
    // converter once.
    QStringList docxFiles;
    std::unique_ptr<docx::DocxTemplate> tpl;
    try {
        tpl = std::make_unique<docx::DocxTemplate>(templatePath);
    } catch (const WorkbookError& error) {
        return fail(error.cause());
    }
    for (const DocumentRow& row : rows) {
        if (stop && stop())
            return halted();
        const QString path = QDir(made).filePath(rowFileName(row.row, QStringLiteral("docx")));
        try {
            docx::DocxDocument document(*tpl, docx::DocxDocument::Scope::Whole);
            for (qsizetype i = 0; i < m_pairs.size(); ++i)
                document.replaceAll(m_pairs[i].label, row.values.value(i, QStringLiteral("-")));
            document.saveAs(path);
        } catch (const WorkbookError& error) {
            return fail(QStringLiteral("the document of row %1: %2").arg(row.row).arg(error.cause()));
        }
        docxFiles << path;
        m_documents.insert(row.row, Attachment{attachmentName(row), path});
        // A PDF counts once it has come out of the converter.
        if (progress)
            progress(wantsPdf(m_personal) ? 0 : int(docxFiles.size()), total);
    }
    tpl.reset();
    if (!wantsPdf(m_personal))
        return Outcome::Made;

    // Every PDF of the run from one converter process; how far it got is told by its outputs.
    const QString converted = m_folder->filePath(QStringLiteral("pdf"));
    if (!QDir().mkpath(converted))
        return fail(QStringLiteral("cannot write in %1").arg(native(m_folder->path())));
    const auto watch = [&] {
        if (stop && stop())
            return true;
        if (progress)
            progress(int(std::min<qsizetype>(QDir(converted).entryList({QStringLiteral("*.pdf")}, QDir::Files).size(),
                                             total)),
                     total);
        return false;
    };
    bool converterStopped = false;
    const QString failure =
        convertAllWithOffice(docxFiles, QStringLiteral("pdf"), converted, watch, &converterStopped);
    if (converterStopped)
        return halted();
    if (!failure.isEmpty())
        return fail(QStringLiteral("the documents from %1 cannot be made as PDF: %2").arg(native(templatePath), failure));
    for (const DocumentRow& row : rows)
        m_documents[row.row].path = QDir(converted).filePath(rowFileName(row.row, QStringLiteral("pdf")));
    if (progress)
        progress(total, total);
    return Outcome::Made;
}

bool RowDocuments::attachTo(int row, QList<Attachment>& attachments, QString* cause) const {
    if (!wanted())
        return true;
    const auto found = m_documents.constFind(row);
    if (found == m_documents.cend()) {
        if (cause)
            *cause = QStringLiteral("the document of row %1 was not made").arg(row);
        return false;
    }
    attachments.append(*found);
    return true;
}
