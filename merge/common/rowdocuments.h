#pragma once
#include "mail/labelpair.h"
#include "mail/mailjob.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

class MailingJournal;
class QTemporaryDir;
class Workbook;

// Each recipient row's own document for the two mail modes: the template filled in with the row's
// values by the document engine, with the Word mode's rules (labels found without regard to case,
// "-" for an empty value), attached as PDF or as .docx. All documents of a run are made before its
// first message; the PDFs come out of one converter process. They live in a private temporary
// folder that goes with the RowDocuments, whichever way the run ends.

// One row a document is made for: its number and its values in pair order ("-" for an empty one).
struct DocumentRow {
    int row = 0;
    QStringList values;
};

// The rows from startLine on that are to get a message: an address cell that passes the address
// rule, and not done in the journal's chain (when a journal is given). Throws WorkbookError for a
// cell that cannot be read.
QList<DocumentRow> rowsToGetMail(const Workbook& book, int startLine, int emailColumn, const QList<LabelPair>& pairs,
                                 const MailingJournal* journal);

// Why documents of these settings cannot be made, said before a run: the template does not exist,
// or PDF documents (or a .doc or .odt template) want LibreOffice, which is not installed. Empty
// when nothing stands in the way, or when no template is set.
QString rowDocumentsProblem(const PersonalMail& personal);

class RowDocuments {
public:
    RowDocuments(PersonalMail personal, QList<LabelPair> pairs);
    ~RowDocuments(); // the folder and every document in it are removed
    RowDocuments(const RowDocuments&) = delete;
    RowDocuments& operator=(const RowDocuments&) = delete;

    // True when a template is set: every row that gets a message has to get its document.
    bool wanted() const { return !m_personal.documentTemplate.isEmpty(); }

    enum class Outcome {
        Made,    // a document for every row (nothing at all when no template is set)
        Stopped, // stop answered true; nothing is kept
        Failed,  // see cause(): the template, a document or the converter; nothing is kept
    };
    // done: documents finished in their final format, of total.
    using Progress = std::function<void(int done, int total)>;
    // Makes the document of every row. stop is asked before each document and, while the converter
    // works, every tenth of a second, followed by progress. Call once.
    Outcome make(const QList<DocumentRow>& rows, const Progress& progress = {},
                 const std::function<bool()>& stop = {});
    QString cause() const { return m_cause; }

    // The name a row's document is attached under: the document name with the labels replaced by
    // the row's values as in the subject (case-sensitive), made fit for a file name, and the
    // format's extension (not added twice); without a name, or when nothing is left of it, the
    // template's base name, "-" and the row number.
    QString attachmentName(const DocumentRow& row) const;

    // Appends the row's document to attachments. False with *cause set when a document is wanted
    // and the row has none (make() was not called, or not for that row).
    bool attachTo(int row, QList<Attachment>& attachments, QString* cause) const;

    // The private folder holding the documents while they live; empty before make() and after a
    // stop or a failure.
    QString folder() const;

private:
    QString format() const; // "pdf" or "docx"
    Outcome fail(const QString& cause);

    PersonalMail m_personal;
    QList<LabelPair> m_pairs;
    std::unique_ptr<QTemporaryDir> m_folder;
    QHash<int, Attachment> m_documents; // by row
    QString m_cause;
};
