#include "merge/bulk/formbulk.h"

#include "app/services.h"
#include "merge/common/formoptions.h"
#include "mail/mailsettings.h"
#include "merge/common/attachmentlist.h"
#include "merge/common/mailjobfields.h"
#include "merge/common/personalmailfields.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QSpinBox>
#include <QTabWidget>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace {
const QString kSection = QStringLiteral("BulkForm");
const QString kRunSection = QStringLiteral("BulkProgressForm");

QPushButton* pushButton(QWidget* parent, const char* name) {
    auto* button = new QPushButton(parent);
    button->setObjectName(QLatin1String(name));
    return button;
}
} // namespace

TBulkForm::TBulkForm(Services& services, QWidget* parent) : QDialog(parent), m_services(services) {
    setObjectName(QStringLiteral("BulkForm"));
    setWindowTitle(QStringLiteral("Bulk Mails"));
    setFixedSize(554, 427);

    Fields = new MailJobFields(this);
    // The source and the fill-in list share the group evenly; the group keeps to its fields and
    // the body below gets the rest of the height.
    Fields->setGroupShares(1, 1);
    Fields->ListView1->setFixedHeight(100);
    Fields->GroupBox1->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);

    // The pace is the bulk run's own, on a page of the fields' tabs.
    auto* pace = new QWidget(Fields->Tabs);
    pace->setObjectName(QStringLiteral("PacePage"));
    SpinPace = new QSpinBox(pace);
    SpinPace->setObjectName(QStringLiteral("SpinPace"));
    SpinPace->setRange(1, 600);
    SpinPace->setValue(60);
    SpinLimit = new QSpinBox(pace);
    SpinLimit->setObjectName(QStringLiteral("SpinLimit"));
    SpinLimit->setRange(0, 1000000);
    LabelPace = new QLabel(pace);
    LabelPace->setObjectName(QStringLiteral("LabelPace"));
    LabelPace->setBuddy(SpinPace);
    LabelLimit = new QLabel(pace);
    LabelLimit->setObjectName(QStringLiteral("LabelLimit"));
    LabelLimit->setBuddy(SpinLimit);
    auto* paceGrid = new QGridLayout(pace);
    paceGrid->addWidget(LabelPace, 0, 0);
    paceGrid->addWidget(SpinPace, 0, 1);
    paceGrid->addWidget(LabelLimit, 1, 0);
    paceGrid->addWidget(SpinLimit, 1, 1);
    paceGrid->setColumnStretch(2, 1);
    paceGrid->setRowStretch(2, 1);
    Fields->Tabs->addTab(pace, QString());

    ButtonOptions = pushButton(this, "ButtonOptions");
    ButtonSend = pushButton(this, "ButtonSend");
    ButtonSend->setDefault(true);
    ButtonCancel = pushButton(this, "ButtonCancel");
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(ButtonOptions);
    buttons->addStretch();
    buttons->addWidget(ButtonSend);
    buttons->addWidget(ButtonCancel);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Fields, 1);
    layout->addLayout(buttons);

    connect(Fields, &MailJobFields::entriesChanged, this, &TBulkForm::updateButtons);
    connect(Fields->SpeedButton1, &QToolButton::clicked, this, &TBulkForm::SpeedButton1Click);
    connect(Fields->SpeedButtonPreview1, &QToolButton::clicked, this, &TBulkForm::SpeedButtonPreviewClick);
    connect(Fields->SpeedButtonPreview2, &QToolButton::clicked, this, &TBulkForm::SpeedButtonPreviewClick);
    connect(Fields->ButtonAdd, &QPushButton::clicked, this, &TBulkForm::ButtonAddClick);
    connect(Fields->ButtonDelete, &QPushButton::clicked, this, &TBulkForm::ButtonDeleteClick);
    connect(Fields->ButtonAttachment, &QPushButton::clicked, this, &TBulkForm::ButtonAttachmentClick);
    for (QToolButton* button : {Fields->Personal->PreviewAttach, Fields->Personal->PreviewCc, Fields->Personal->PreviewBcc})
        connect(button, &QToolButton::clicked, this, &TBulkForm::SpeedButtonPreviewClick);
    connect(Fields->Personal->ButtonTemplate, &QToolButton::clicked, this, &TBulkForm::ButtonTemplateClick);
    connect(ButtonOptions, &QPushButton::clicked, this, &TBulkForm::ButtonOptionsClick);
    connect(ButtonSend, &QPushButton::clicked, this, &TBulkForm::ButtonSendClick);
    connect(ButtonCancel, &QPushButton::clicked, this, &QDialog::reject);

    publishObjectNames(this);
}

void TBulkForm::applyTexts(const Texts& texts) {
    setWindowTitle(texts.text(kSection, QStringLiteral("Caption")));
    Fields->applyTexts(texts, kSection);
    ButtonOptions->setText(texts.text(kSection, QStringLiteral("Options")));
    Fields->Tabs->setTabText(2, texts.text(kSection, QStringLiteral("PacePage")));
    LabelPace->setText(texts.text(kSection, QStringLiteral("PerMinute")));
    LabelLimit->setText(texts.text(kSection, QStringLiteral("Limit")));
    SpinLimit->setSpecialValueText(texts.text(kSection, QStringLiteral("NoLimit")));
    ButtonSend->setText(texts.text(kSection, QStringLiteral("Send")));
    ButtonCancel->setText(texts.text(QStringLiteral("Common"), QStringLiteral("Cancel")));
}

WorkbookFields TBulkForm::sourceWorkbook() const {
    return Fields->sourceWorkbook();
}

BulkJob TBulkForm::job() const {
    BulkJob job = Fields->job();
    job.intervalMs = intervalForPace(SpinPace->value());
    job.limit = SpinLimit->value();
    return job;
}

int TBulkForm::intervalForPace(int perMinute) {
    return 60000 / std::clamp(perMinute, 1, 600);
}

void TBulkForm::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    FormShow();
}

void TBulkForm::FormShow() {
    Fields->clear();
    SpinPace->setValue(60);
    SpinLimit->setValue(0);
    setResult(0);
    updateButtons();
}

void TBulkForm::updateButtons() {
    ButtonSend->setEnabled(Fields->isComplete());
    Fields->ButtonDelete->setEnabled(!Fields->ListView1->selectedItems().isEmpty());
}

void TBulkForm::SpeedButton1Click() {
    const QString chosen = m_services.files.openFileName(
        m_services.text(QStringLiteral("OpenDialog"), QStringLiteral("XlsFilter")));
    if (!chosen.isEmpty())
        Fields->Edit1->setText(chosen);
}

// Both buttons open the same picker with the address column and the start line marked; they
// differ only in where the popup appears.
void TBulkForm::SpeedButtonPreviewClick() {
    if (m_preview)
        Fields->showPreview(*m_preview, qobject_cast<QToolButton*>(sender()), m_services.texts, kSection);
}

void TBulkForm::ButtonAddClick() {
    if (m_addForm)
        m_addForm->addTo(Fields->ListView1);
}

void TBulkForm::ButtonDeleteClick() {
    if (fillinlist::deleteSelected(Fields->ListView1))
        updateButtons();
}

void TBulkForm::ButtonAttachmentClick() {
    Fields->Panel1->chooseAttachment(m_services.files);
}

void TBulkForm::ButtonTemplateClick() {
    Fields->Personal->chooseTemplate(m_services.files,
                                     m_services.text(QStringLiteral("OpenDialog"), QStringLiteral("DocFilter")));
}

void TBulkForm::ButtonOptionsClick() {
    if (m_options)
        m_options->showAndSave();
}

void TBulkForm::ButtonSendClick() {
    if (m_services.probe.spreadsheetRunning()) {
        m_services.notice(kRunSection, QStringLiteral("String01"));
        return;
    }
    if (!m_options || !isComplete(m_options->fields())) {
        m_services.notice(kRunSection, QStringLiteral("String02"));
        return;
    }
    accept();
}
