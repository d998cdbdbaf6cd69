#pragma once
#include "mail/mailjob.h"
#include "merge/common/formfillin.h"

#include <QWidget>

class MessagePanel;
class PersonalMailFields;
class QTabWidget;
class QAbstractButton;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QToolButton;
class QTreeWidget;
class TPreviewForm;
class Texts;

// The fields of a dialog that makes one message per recipient row (bulk mail, mail client),
// everything above its buttons: the group with the workbook, worksheet, address column, start line
// and fill-in list; the subject with the attachment button; the body and its attachments, and on a
// second page what each recipient row adds to its own message. The controls carry their documented
// names, the start-line spin box UpDown1 with its text field Edit2.
class MailJobFields : public QWidget {
    Q_OBJECT
public:
    explicit MailJobFields(QWidget* parent = nullptr);

    // The captions, from the keys both dialogs' sections share (Source, ExcelFile, Worksheet,
    // EmailColumn, StartLine, FillIn, Subject, Preview, Add, Delete, Attachments, Remove, the pages'
    // MessagePage and PersonalPage, and those of PersonalMailFields).
    void applyTexts(const Texts& texts, const QString& section);
    // How the group's width is shared between the source fields and the fill-in list.
    void setGroupShares(int source, int fillIn);

    // The state of a fresh showing: every field empty or at its first choice, the fill-in list
    // and the attachments emptied, the attachment list hidden.
    void clear();
    // The workbook path, the subject and the body each hold something other than blanks.
    bool isComplete() const;

    WorkbookFields sourceWorkbook() const;
    // The job as the fields hold it, the workbook path trimmed of blanks, the subject as typed,
    // the body's lines each ended by CR LF, the attachments in list order.
    BulkJob job() const;

    // The worksheet picker under button, with the address column and the start line marked and
    // picked back, or for a preview button of the recipient page that page's column; nothing
    // without an existing workbook.
    void showPreview(TPreviewForm& preview, const QAbstractButton* button, const Texts& texts,
                     const QString& section);

    QGroupBox* GroupBox1;
    QLabel* Label1;
    QLineEdit* Edit1;
    QToolButton* SpeedButton1;
    QLabel* Label2;
    QComboBox* ComboBox1;
    QLabel* Label3;
    QComboBox* ComboBox2;
    QToolButton* SpeedButtonPreview1;
    QLabel* Label4;
    QSpinBox* UpDown1;
    QToolButton* SpeedButtonPreview2;
    QLabel* Label5;
    QTreeWidget* ListView1;
    QPushButton* ButtonAdd;
    QPushButton* ButtonDelete;
    QLabel* Label6;
    QLineEdit* Edit3;
    QPushButton* ButtonAttachment;
    QTabWidget* Tabs;     // the message, then what each recipient adds
    MessagePanel* Panel1; // Memo1, Splitter1, ListView2 and its PopupMenu1
    PersonalMailFields* Personal;

signals:
    // The workbook path, the subject or the body changed: the dialog's enabling rule runs.
    void entriesChanged();
};
