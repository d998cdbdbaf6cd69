#include "merge/common/mailjobfields.h"

#include "app/languagefile.h"
#include "merge/common/attachmentlist.h"
#include "merge/common/personalmailfields.h"
#include "merge/common/previewbutton.h"
#include "office/workbook.h"

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
#include <QTabWidget>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {
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

MailJobFields::MailJobFields(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("MailJobFields"));
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
    // A few pairs are the rule; the height goes to the body and its attachments below.
    ListView1->setMaximumHeight(96);
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
    groupLayout->addLayout(source, 5);
    groupLayout->addSpacing(12);
    groupLayout->addLayout(fillIn, 4);

    Edit3 = new QLineEdit(this);
    Edit3->setObjectName(QStringLiteral("Edit3"));
    Label6 = namedLabel(this, "Label6", Edit3);
    ButtonAttachment = pushButton(this, "ButtonAttachment");
    auto* subject = new QHBoxLayout;
    subject->addWidget(Label6);
    subject->addWidget(Edit3, 1);
    subject->addWidget(ButtonAttachment);

    Tabs = new QTabWidget(this);
    Tabs->setObjectName(QStringLiteral("Tabs"));
    Tabs->setDocumentMode(true);
    Panel1 = new MessagePanel(Tabs);
    Personal = new PersonalMailFields(Tabs);
    Tabs->addTab(Panel1, QString());
    Tabs->addTab(Personal, QString());

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(GroupBox1);
    layout->addLayout(subject);
    layout->addWidget(Tabs, 1);

    connect(Edit1, &QLineEdit::textChanged, this, &MailJobFields::entriesChanged);
    connect(Edit3, &QLineEdit::textChanged, this, &MailJobFields::entriesChanged);
    connect(Panel1->Memo1, &QPlainTextEdit::textChanged, this, &MailJobFields::entriesChanged);
}

void MailJobFields::applyTexts(const Texts& texts, const QString& section) {
    auto t = [&texts, &section](const char* key) { return texts.text(section, QLatin1String(key)); };
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
    Tabs->setTabText(0, t("MessagePage"));
    Tabs->setTabText(1, t("PersonalPage"));
    Personal->applyTexts(texts, section);
}

void MailJobFields::setGroupShares(int source, int fillIn) {
    // The group's row: the source grid, a spacing, the fill-in grid.
    auto* row = static_cast<QBoxLayout*>(GroupBox1->layout());
    row->setStretch(0, source);
    row->setStretch(2, fillIn);
}

void MailJobFields::clear() {
    Edit1->clear();
    ComboBox1->setCurrentIndex(0);
    ComboBox2->setCurrentIndex(0);
    UpDown1->setValue(1);
    ListView1->clear();
    Edit3->clear();
    Panel1->clear();
    Personal->clear();
    Tabs->setCurrentIndex(0);
}

bool MailJobFields::isComplete() const {
    return !trimBlanks(Edit1->text()).isEmpty() && !trimBlanks(Edit3->text()).isEmpty() && !Panel1->bodyIsBlank();
}

WorkbookFields MailJobFields::sourceWorkbook() const {
    return {Edit1, ComboBox1};
}

BulkJob MailJobFields::job() const {
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
    job.personal = Personal->settings();
    return job;
}

void MailJobFields::showPreview(TPreviewForm& preview, const QAbstractButton* button, const Texts& texts,
                                const QString& section) {
    if (QComboBox* column = Personal->columnOf(button)) {
        ::showPreview(preview, button, Edit1->text(), ComboBox1, column, nullptr,
                      texts.text(section, Personal->markerKeyOf(button)), {}, 1);
        return;
    }
    ::showPreview(preview, button ? button : SpeedButtonPreview1, Edit1->text(), ComboBox1, ComboBox2, UpDown1,
                  texts.text(section, QStringLiteral("EmailColumn2")), texts.text(section, QStringLiteral("StartLine2")));
}
