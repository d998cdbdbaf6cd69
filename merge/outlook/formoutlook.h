#pragma once
#include "app/windowbase.h"
#include "merge/common/formfillin.h"
#include "merge/outlook/outlookmerge.h"

#include <QDialog>

class MailJobFields;
class QComboBox;
class QLabel;
class QPushButton;
class TPreviewForm;
struct Services;

// What a mail-client merge needs: the recipients' workbook, sheet, address column and start line,
// the fill-in pairs, subject, body and attachments; it closes with OK to save the messages into
// the outbox or with Yes to send them. Emptied every time it is shown; the run reads its settings
// from the controls, which keep their contents until the next showing. The start-line spin box
// is UpDown1, its text field Edit2.
class TOutlookForm : public QDialog, public LocalizedWindow {
    Q_OBJECT
public:
    // The result of ButtonSend; ButtonSave closes with QDialog::Accepted.
    static constexpr int ResultYes = 6;

    explicit TOutlookForm(Services& services, QWidget* parent = nullptr);

    QWidget* widget() override { return this; }
    void applyTexts(const Texts& texts) override;

    // Windows created after this one, handed over once they exist.
    void setAddForm(FillInAddDialog* addForm) { m_addForm = addForm; }
    void setPreviewForm(TPreviewForm* preview) { m_preview = preview; }
    WorkbookFields sourceWorkbook() const;

    // The settings as the controls hold them, the workbook path trimmed of blanks; the save mode
    // and the sender are the command's and the run dialog's.
    OutlookMergeSettings settings() const;

    // Where Save puts the messages: false the outbox folder, true the Drafts folder of the IMAP
    // account. A setting of the dialog: it keeps its choice from one showing to the next.
    bool saveToDrafts() const;

    // The fields above the buttons, with the documented names of their controls.
    MailJobFields* Fields;
    QLabel* LabelSaveTo;
    QComboBox* ComboBoxSaveTo; // 0 the outbox folder, 1 Drafts on the mail server
    QPushButton* ButtonSave;
    QPushButton* ButtonSend;
    QPushButton* ButtonCancel;

public slots:
    void FormShow();
    // Save and Send need a workbook path, a subject and a body that are not blank; Delete a
    // selected pair. Run on show, on edits of those three fields and after a deletion, not on a
    // selection.
    void updateButtons();
    void SpeedButton1Click();
    void SpeedButtonPreviewClick();
    void ButtonAddClick();
    void ButtonDeleteClick();
    void ButtonAttachmentClick();
    // The template of the document each recipient gets.
    void ButtonTemplateClick();
    // Both refused while a spreadsheet or desktop mail program runs; otherwise the dialog closes
    // with OK (save) or Yes (send).
    void ButtonSaveClick();
    void ButtonSendClick();

protected:
    void showEvent(QShowEvent* event) override;

private:
    bool mayStart();

    Services& m_services;
    FillInAddDialog* m_addForm = nullptr;
    TPreviewForm* m_preview = nullptr;
};
