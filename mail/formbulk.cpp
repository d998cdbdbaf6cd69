#include "mail/formbulk.h"

#include "app/services.h"
#include "mail/formoptions.h"
#include "mail/mailsettings.h"
#include "merge/common/attachmentlist.h"
#include "merge/common/previewbutton.h"
#include "merge/common/workbook.h"

#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QStyle>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {
const QString kSection = QStringLiteral("BulkForm");
const QString kRunSection = QStringLiteral("BulkProgressForm");

QLabel* namedLabel(QWidget* parent, const char* name, QWidget* buddy) {
    auto* label = new QLabel(parent);
    label->setObjectName(QLatin1String(name));
    label->setBuddy(buddy);
    return label;
}

QToolButton* toolButton(QWidget* parent, const char* name, QStyle::StandardPixmap icon) {
    auto* button = new QToolButton(parent);
    button->setObjectName(QLatin1String(name));
    button->setIcon(parent->style()->standardIcon(icon));
    button->setAutoRaise(true);
    return button;
}

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

    GroupBox1 = new QGroupBox(this);
    GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
    QWidget* g = GroupBox1;
    Edit1 = new QLineEdit(g);
    Edit1->setObjectName(QStringLiteral("Edit1"));
    SpeedButton1 = toolButton(g, "SpeedButton1", QStyle::SP_DirOpenIcon);
    ComboBox1 = new QComboBox(g);
    ComboBox1->setObjectName(QStringLiteral("ComboBox1"));
    for (int n = 1; n <= 10; ++n)
        ComboBox1->addItem(QStringLiteral("Sheet%1").arg(n));
    ComboBox2 = new QComboBox(g);
    ComboBox2->setObjectName(QStringLiteral("ComboBox2"));
    for (char c = 'A'; c <= 'Z'; ++c)
        ComboBox2->addItem(QString(QChar(c)));
    SpeedButtonPreview1 = toolButton(g, "SpeedButtonPreview1", QStyle::SP_FileDialogContentsView);
    UpDown1 = new QSpinBox(g);
    UpDown1->setObjectName(QStringLiteral("UpDown1"));
    UpDown1->setRange(1, 20);
    if (auto* field = UpDown1->findChild<QLineEdit*>())
        field->setObjectName(QStringLiteral("Edit2"));
    SpeedButtonPreview2 = toolButton(g, "SpeedButtonPreview2", QStyle::SP_FileDialogContentsView);
    ListView1 = new QTreeWidget(g);
    ListView1->setObjectName(QStringLiteral("ListView1"));
    fillinlist::setUp(ListView1);
    ButtonAdd = pushButton(g, "ButtonAdd");
    ButtonDelete = pushButton(g, "ButtonDelete");
    Label1 = namedLabel(g, "Label1", Edit1);
    Label2 = namedLabel(g, "Label2", ComboBox1);
    Label3 = namedLabel(g, "Label3", ComboBox2);
    Label4 = namedLabel(g, "Label4", UpDown1);
    Label5 = namedLabel(g, "Label5", ListView1);

    // The source on the left, the fill-in list on the right of the group.
    auto* source = new QGridLayout;
    source->addWidget(Label1, 0, 0);
    source->addWidget(Edit1, 0, 1, 1, 2);
    source->addWidget(SpeedButton1, 0, 3);
    source->addWidget(Label2, 1, 0);
    source->addWidget(ComboBox1, 1, 1);
    source->addWidget(Label3, 2, 0);
    source->addWidget(ComboBox2, 2, 1);
    source->addWidget(SpeedButtonPreview1, 2, 2);
    source->addWidget(Label4, 3, 0);
    source->addWidget(UpDown1, 3, 1);
    source->addWidget(SpeedButtonPreview2, 3, 2);
    source->setColumnStretch(1, 1);
    source->setColumnMinimumWidth(1, 90);
    source->setColumnStretch(2, 1);
    auto* listButtons = new QVBoxLayout;
    listButtons->addWidget(ButtonAdd);
    listButtons->addWidget(ButtonDelete);
    listButtons->addStretch();
    auto* fillIn = new QGridLayout;
    fillIn->addWidget(Label5, 0, 0, 1, 2);
    fillIn->addWidget(ListView1, 1, 0);
    fillIn->addLayout(listButtons, 1, 1);
    auto* groupLayout = new QHBoxLayout(GroupBox1);
    groupLayout->addLayout(source, 1);
    groupLayout->addSpacing(12);
    groupLayout->addLayout(fillIn, 1);
    // The group keeps to its fields; the body below gets the rest of the height.
    ListView1->setFixedHeight(100);
    GroupBox1->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);

    Edit3 = new QLineEdit(this);
    Edit3->setObjectName(QStringLiteral("Edit3"));
    Label6 = namedLabel(this, "Label6", Edit3);
    ButtonAttachment = pushButton(this, "ButtonAttachment");
    auto* subject = new QHBoxLayout;
    subject->addWidget(Label6);
    subject->addWidget(Edit3, 1);
    subject->addWidget(ButtonAttachment);

    Panel1 = new MessagePanel(this);
    Label6->setBuddy(Edit3);

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
    layout->addWidget(GroupBox1);
    layout->addLayout(subject);
    layout->addWidget(Panel1, 1);
    layout->addLayout(buttons);

    connect(Edit1, &QLineEdit::textChanged, this, &TBulkForm::updateButtons);
    connect(Edit3, &QLineEdit::textChanged, this, &TBulkForm::updateButtons);
    connect(Panel1->Memo1, &QPlainTextEdit::textChanged, this, &TBulkForm::updateButtons);
    connect(SpeedButton1, &QToolButton::clicked, this, &TBulkForm::SpeedButton1Click);
    connect(SpeedButtonPreview1, &QToolButton::clicked, this, &TBulkForm::SpeedButtonPreviewClick);
    connect(SpeedButtonPreview2, &QToolButton::clicked, this, &TBulkForm::SpeedButtonPreviewClick);
    connect(ButtonAdd, &QPushButton::clicked, this, &TBulkForm::ButtonAddClick);
    connect(ButtonDelete, &QPushButton::clicked, this, &TBulkForm::ButtonDeleteClick);
    connect(ButtonAttachment, &QPushButton::clicked, this, &TBulkForm::ButtonAttachmentClick);
    connect(ButtonOptions, &QPushButton::clicked, this, &TBulkForm::ButtonOptionsClick);
    connect(ButtonSend, &QPushButton::clicked, this, &TBulkForm::ButtonSendClick);
    connect(ButtonCancel, &QPushButton::clicked, this, &QDialog::reject);

    publishObjectNames(this);
}

void TBulkForm::applyTexts(const Texts& texts) {
    auto t = [&texts](const char* key) { return texts.text(kSection, QLatin1String(key)); };
    setWindowTitle(t("Caption"));
    GroupBox1->setTitle(t("Source"));
    Label1->setText(t("ExcelFile"));
    Label2->setText(t("Worksheet"));
    Label3->setText(t("EmailColumn"));
    Label4->setText(t("StartLine"));
    Label5->setText(t("FillIn"));
    Label6->setText(t("Subject"));
    SpeedButtonPreview1->setToolTip(t("Preview"));
    SpeedButtonPreview2->setToolTip(t("Preview"));
    ButtonAdd->setText(t("Add"));
    ButtonDelete->setText(t("Delete"));
    ButtonAttachment->setText(t("Attachments"));
    Panel1->setRemoveText(t("Remove"));
    ButtonOptions->setText(t("Options"));
    ButtonSend->setText(t("Send"));
    ButtonCancel->setText(texts.text(QStringLiteral("Common"), QStringLiteral("Cancel")));
}

WorkbookFields TBulkForm::sourceWorkbook() const {
    return {Edit1, ComboBox1};
}

BulkJob TBulkForm::job() const {
    BulkJob job;
    job.workbookPath = trimBlanks(Edit1->text());
    job.sheet = ComboBox1->currentIndex() + 1;
    job.emailColumn = ComboBox2->currentIndex() + 1;
    job.startLine = UpDown1->value();
    for (const FillInItem& item : fillinlist::items(ListView1))
        job.pairs.append({columnNumber(item.column), item.target});
    job.subject = Edit3->text();
    job.body = Panel1->body();
    for (int i = 0; i < Panel1->attachmentCount(); ++i)
        job.attachments.append({Panel1->attachmentName(i), Panel1->attachmentPath(i)});
    return job;
}

void TBulkForm::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    FormShow();
}

void TBulkForm::FormShow() {
    Edit1->clear();
    ComboBox1->setCurrentIndex(0);
    ComboBox2->setCurrentIndex(0);
    UpDown1->setValue(1);
    ListView1->clear();
    Edit3->clear();
    Panel1->clear();
    setResult(0);
    updateButtons();
}

void TBulkForm::updateButtons() {
    ButtonSend->setEnabled(!trimBlanks(Edit1->text()).isEmpty() && !trimBlanks(Edit3->text()).isEmpty() &&
                           !Panel1->bodyIsBlank());
    ButtonDelete->setEnabled(!ListView1->selectedItems().isEmpty());
}

void TBulkForm::SpeedButton1Click() {
    const QString chosen = m_services.files.openFileName(
        m_services.text(QStringLiteral("OpenDialog"), QStringLiteral("XlsFilter")));
    if (!chosen.isEmpty())
        Edit1->setText(chosen);
}

// Both buttons open the same picker with the address column and the start line marked; they
// differ only in where the popup appears.
void TBulkForm::SpeedButtonPreviewClick() {
    auto* button = qobject_cast<QToolButton*>(sender());
    if (!m_preview)
        return;
    showPreview(*m_preview, button ? button : SpeedButtonPreview1, Edit1->text(), ComboBox1, ComboBox2,
                UpDown1, m_services.text(kSection, QStringLiteral("EmailColumn2")),
                m_services.text(kSection, QStringLiteral("StartLine2")));
}

void TBulkForm::ButtonAddClick() {
    if (m_addForm)
        m_addForm->addTo(ListView1);
}

void TBulkForm::ButtonDeleteClick() {
    if (fillinlist::deleteSelected(ListView1))
        updateButtons();
}

void TBulkForm::ButtonAttachmentClick() {
    Panel1->chooseAttachment(m_services.files);
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
