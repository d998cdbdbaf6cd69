#pragma once
#include "app/windowbase.h"
#include "merge/bulk/bulkrun.h"
#include "merge/common/formfillin.h"

#include <QDialog>

class MailJobFields;
class QLabel;
class QPushButton;
class QSpinBox;
class TOptionsForm;
class TPreviewForm;
struct Services;

// One bulk-mail job: the recipients' workbook, sheet, address column and start line, the
// fill-in pairs, subject, body and attachments. Emptied every time it is shown; the run reads the
// job from its controls, which keep their contents until the next showing. The start-line spin
// box is UpDown1, its text field Edit2.
class TBulkForm : public QDialog, public LocalizedWindow {
    Q_OBJECT
public:
    explicit TBulkForm(Services& services, QWidget* parent = nullptr);

    QWidget* widget() override { return this; }
    void applyTexts(const Texts& texts) override;

    // Windows created after this one, handed over once they exist.
    void setAddForm(FillInAddDialog* addForm) { m_addForm = addForm; }
    void setPreviewForm(TPreviewForm* preview) { m_preview = preview; }
    void setOptionsForm(TOptionsForm* options) { m_options = options; }
    WorkbookFields sourceWorkbook() const;

    // The job as the controls hold it; the workbook path trimmed of blanks, the pace in messages
    // per minute turned into the pause between two messages.
    BulkJob job() const;
    // The pause between two messages at a pace of perMinute (1 to 600) messages a minute.
    static int intervalForPace(int perMinute);

    // The fields above the buttons, with the documented names of their controls, and a page of
    // their tabs for the pace.
    MailJobFields* Fields;
    QLabel* LabelPace;
    QSpinBox* SpinPace;  // messages per minute, 1 to 600, 60 on every showing
    QLabel* LabelLimit;
    QSpinBox* SpinLimit; // the most messages of this run, 0 (captioned NoLimit) for all
    QPushButton* ButtonOptions;
    QPushButton* ButtonSend;
    QPushButton* ButtonCancel;

public slots:
    void FormShow();
    // Send needs a workbook path, a subject and a body that are not blank; Delete a selected pair.
    // Run on show, on edits of those three fields and after a deletion, not on a selection.
    void updateButtons();
    void SpeedButton1Click();
    void SpeedButtonPreviewClick();
    void ButtonAddClick();
    void ButtonDeleteClick();
    void ButtonAttachmentClick();
    // The template of the document each recipient gets.
    void ButtonTemplateClick();
    void ButtonOptionsClick();
    // Refused while a spreadsheet program runs, then while the server options are incomplete;
    // otherwise the dialog closes with OK.
    void ButtonSendClick();

protected:
    void showEvent(QShowEvent* event) override;

private:
    Services& m_services;
    FillInAddDialog* m_addForm = nullptr;
    TPreviewForm* m_preview = nullptr;
    TOptionsForm* m_options = nullptr;
};
