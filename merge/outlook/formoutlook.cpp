#include "merge/outlook/formoutlook.h"

#include "app/services.h"
#include "merge/common/attachmentlist.h"
#include "merge/common/mailjobfields.h"
#include "merge/common/personalmailfields.h"
#include "merge/outlook/outlookcommand.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {
const QString kSection = QStringLiteral("OutlookForm");
} // namespace

TOutlookForm::TOutlookForm(Services& services, QWidget* parent) : QDialog(parent), m_services(services) {
    setObjectName(QStringLiteral("OutlookForm"));
    setWindowTitle(QStringLiteral("Excel to Outlook"));
    setFixedSize(554, 427);

    Fields = new MailJobFields(this);

    ButtonSave = new QPushButton(this);
    ButtonSave->setObjectName(QStringLiteral("ButtonSave"));
    ButtonSave->setDefault(true);
    ButtonSend = new QPushButton(this);
    ButtonSend->setObjectName(QStringLiteral("ButtonSend"));
    ButtonCancel = new QPushButton(this);
    ButtonCancel->setObjectName(QStringLiteral("ButtonCancel"));
    ComboBoxSaveTo = new QComboBox(this);
    ComboBoxSaveTo->setObjectName(QStringLiteral("ComboBoxSaveTo"));
    ComboBoxSaveTo->addItems({QStringLiteral("Outbox folder"), QStringLiteral("Drafts folder on the mail server (IMAP)")});
    LabelSaveTo = new QLabel(QStringLiteral("Save into:"), this);
    LabelSaveTo->setObjectName(QStringLiteral("LabelSaveTo"));
    LabelSaveTo->setBuddy(ComboBoxSaveTo);
    ComboBoxSaveTo->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    auto* saveTo = new QHBoxLayout;
    saveTo->addWidget(LabelSaveTo);
    saveTo->addWidget(ComboBoxSaveTo);
    saveTo->addStretch();
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ButtonSave);
    buttons->addWidget(ButtonSend);
    buttons->addWidget(ButtonCancel);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Fields, 1);
    layout->addLayout(saveTo);
    layout->addLayout(buttons);

    connect(Fields, &MailJobFields::entriesChanged, this, &TOutlookForm::updateButtons);
    connect(Fields->SpeedButton1, &QToolButton::clicked, this, &TOutlookForm::SpeedButton1Click);
    connect(Fields->SpeedButtonPreview1, &QToolButton::clicked, this, &TOutlookForm::SpeedButtonPreviewClick);
    connect(Fields->SpeedButtonPreview2, &QToolButton::clicked, this, &TOutlookForm::SpeedButtonPreviewClick);
    connect(Fields->ButtonAdd, &QPushButton::clicked, this, &TOutlookForm::ButtonAddClick);
    connect(Fields->ButtonDelete, &QPushButton::clicked, this, &TOutlookForm::ButtonDeleteClick);
    connect(Fields->ButtonAttachment, &QPushButton::clicked, this, &TOutlookForm::ButtonAttachmentClick);
    for (QToolButton* button : {Fields->Personal->PreviewAttach, Fields->Personal->PreviewCc, Fields->Personal->PreviewBcc})
        connect(button, &QToolButton::clicked, this, &TOutlookForm::SpeedButtonPreviewClick);
    connect(Fields->Personal->ButtonTemplate, &QToolButton::clicked, this, &TOutlookForm::ButtonTemplateClick);
    connect(ButtonSave, &QPushButton::clicked, this, &TOutlookForm::ButtonSaveClick);
    connect(ButtonSend, &QPushButton::clicked, this, &TOutlookForm::ButtonSendClick);
    connect(ButtonCancel, &QPushButton::clicked, this, &QDialog::reject);

    publishObjectNames(this);
}

void TOutlookForm::applyTexts(const Texts& texts) {
    setWindowTitle(texts.text(kSection, QStringLiteral("Caption")));
    Fields->applyTexts(texts, kSection);
    ButtonSave->setText(texts.text(kSection, QStringLiteral("Save")));
    LabelSaveTo->setText(texts.text(kSection, QStringLiteral("SaveTo")));
    ComboBoxSaveTo->setItemText(0, texts.text(kSection, QStringLiteral("SaveToOutbox")));
    ComboBoxSaveTo->setItemText(1, texts.text(kSection, QStringLiteral("SaveToDrafts")));
    ButtonSend->setText(texts.text(kSection, QStringLiteral("Send")));
    ButtonCancel->setText(texts.text(QStringLiteral("Common"), QStringLiteral("Cancel")));
}

WorkbookFields TOutlookForm::sourceWorkbook() const {
    return Fields->sourceWorkbook();
}

OutlookMergeSettings TOutlookForm::settings() const {
    const BulkJob job = Fields->job();
    OutlookMergeSettings s;
    s.workbookPath = job.workbookPath;
    s.sheet = job.sheet;
    s.emailColumn = job.emailColumn;
    s.startLine = job.startLine;
    s.pairs = job.pairs;
    s.subject = job.subject;
    s.body = job.body;
    s.attachments = job.attachments;
    s.personal = job.personal;
    return s;
}

bool TOutlookForm::saveToDrafts() const {
    return ComboBoxSaveTo->currentIndex() == 1;
}

void TOutlookForm::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    FormShow();
}

void TOutlookForm::FormShow() {
    Fields->clear();
    setResult(0);
    updateButtons();
}

void TOutlookForm::updateButtons() {
    const bool ready = Fields->isComplete();
    ButtonSave->setEnabled(ready);
    ButtonSend->setEnabled(ready);
    Fields->ButtonDelete->setEnabled(!Fields->ListView1->selectedItems().isEmpty());
}

void TOutlookForm::SpeedButton1Click() {
    const QString chosen =
        m_services.files.openFileName(m_services.text(QStringLiteral("OpenDialog"), QStringLiteral("XlsFilter")));
    if (!chosen.isEmpty())
        Fields->Edit1->setText(chosen);
}

// Both buttons open the same picker with the address column and the start line marked; they
// differ only in where the popup appears.
void TOutlookForm::SpeedButtonPreviewClick() {
    if (m_preview)
        Fields->showPreview(*m_preview, qobject_cast<QToolButton*>(sender()), m_services.texts, kSection);
}

void TOutlookForm::ButtonAddClick() {
    if (m_addForm)
        m_addForm->addTo(Fields->ListView1);
}

void TOutlookForm::ButtonDeleteClick() {
    if (fillinlist::deleteSelected(Fields->ListView1))
        updateButtons();
}

void TOutlookForm::ButtonAttachmentClick() {
    Fields->Panel1->chooseAttachment(m_services.files);
}

void TOutlookForm::ButtonTemplateClick() {
    Fields->Personal->chooseTemplate(m_services.files,
                                     m_services.text(QStringLiteral("OpenDialog"), QStringLiteral("DocFilter")));
}

bool TOutlookForm::mayStart() {
    if (blockingProgramRunning(m_services.probe)) {
        m_services.notice(QStringLiteral("OutlookProgressForm"), QStringLiteral("String01"));
        return false;
    }
    return true;
}

void TOutlookForm::ButtonSaveClick() {
    if (mayStart())
        done(QDialog::Accepted);
}

void TOutlookForm::ButtonSendClick() {
    if (mayStart())
        done(ResultYes);
}
