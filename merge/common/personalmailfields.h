#pragma once
#include "mail/mailjob.h"

#include <QWidget>

class FileDialogs;
class QAbstractButton;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QToolButton;
class Texts;

// What each recipient row adds to its own message, as the mail dialogs gather it: the columns of
// its attachments, Cc and Bcc (each "None" or a letter, with a preview picker), the labels in the
// subject, an HTML body, and a document made for the row from a template. A fresh showing has
// everything off, which is the plain mailing where every row gets the same message.
class PersonalMailFields : public QWidget {
    Q_OBJECT
public:
    explicit PersonalMailFields(QWidget* parent = nullptr);

    // The captions, from the keys both mail dialogs' sections share (AttachColumn, CcColumn,
    // BccColumn, ColumnNone, SubjectLabels, HtmlBody, DocumentTemplate, DocumentFormat, FormatPdf,
    // FormatDocx, DocumentName, Preview).
    void applyTexts(const Texts& texts, const QString& section);

    void clear();
    PersonalMail settings() const;

    // The column combo box a preview button of this widget picks into; null for any other button.
    QComboBox* columnOf(const QAbstractButton* button) const;
    // The preview's marker key for that column (AttachColumn2, CcColumn2, BccColumn2).
    QString markerKeyOf(const QAbstractButton* button) const;

    // The open dialog with the documents' filter; the chosen file becomes the template.
    void chooseTemplate(FileDialogs& files, const QString& filter);

    QLabel* LabelAttach;
    QComboBox* ComboAttach;
    QToolButton* PreviewAttach;
    QLabel* LabelCc;
    QComboBox* ComboCc;
    QToolButton* PreviewCc;
    QLabel* LabelBcc;
    QComboBox* ComboBcc;
    QToolButton* PreviewBcc;
    QCheckBox* CheckSubjectLabels;
    QCheckBox* CheckHtml;
    QLabel* LabelTemplate;
    QLineEdit* EditTemplate;
    QToolButton* ButtonTemplate;
    QLabel* LabelFormat;
    QComboBox* ComboFormat; // PDF first, the default
    QLabel* LabelName;
    QLineEdit* EditName;

private:
    void updateDocumentFields();
};
