#include "merge/word/formword.h"
#include "app/services.h"
#include "merge/common/previewbutton.h"
#include "office/workbook.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QStyle>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {
const QString kSection = QStringLiteral("WordForm");

template <class Widget> Widget* named(QWidget* parent, const char* name) {
    auto* widget = new Widget(parent);
    widget->setObjectName(QLatin1String(name));
    return widget;
}

QToolButton* toolButton(QWidget* parent, const char* name, QStyle::StandardPixmap icon) {
    auto* button = named<QToolButton>(parent, name);
    button->setIcon(parent->style()->standardIcon(icon));
    button->setAutoRaise(true);
    return button;
}
} // namespace

TWordForm::TWordForm(Services& services, QWidget* parent) : QDialog(parent), m_services(services) {
    setObjectName(QStringLiteral("WordForm"));
    setFixedSize(412, 430);

    // Source file: workbook, worksheet, start line.
    m_sourceGroup = named<QGroupBox>(this, "GroupBox1");
    m_source = named<QLineEdit>(m_sourceGroup, "Edit1");
    m_browseSource = toolButton(m_sourceGroup, "SpeedButton1", QStyle::SP_DirOpenIcon);
    m_sheetLabel = named<QLabel>(m_sourceGroup, "Label1");
    m_sheet = named<QComboBox>(m_sourceGroup, "ComboBox1");
    for (int n = 1; n <= 10; ++n)
        m_sheet->addItem(QStringLiteral("Sheet") + QString::number(n));
    m_startLabel = named<QLabel>(m_sourceGroup, "Label2");
    m_start = named<QSpinBox>(m_sourceGroup, "UpDown1");
    m_start->setRange(1, 20);
    m_start->setValue(1);
    // The spin box is both the up-down control and its field; the field keeps its own name.
    if (auto* edit = m_start->findChild<QLineEdit*>())
        edit->setObjectName(QStringLiteral("Edit2"));
    m_startPreview = toolButton(m_sourceGroup, "SpeedButtonPreview1", QStyle::SP_FileDialogContentsView);
    m_sheetLabel->setBuddy(m_sheet);
    m_startLabel->setBuddy(m_start);
    auto* sourceGrid = new QGridLayout(m_sourceGroup);
    sourceGrid->addWidget(m_source, 0, 0, 1, 5);
    sourceGrid->addWidget(m_browseSource, 0, 5);
    sourceGrid->addWidget(m_sheetLabel, 1, 0);
    sourceGrid->addWidget(m_sheet, 1, 1);
    sourceGrid->addWidget(m_startLabel, 1, 2);
    sourceGrid->addWidget(m_start, 1, 3);
    sourceGrid->addWidget(m_startPreview, 1, 4);
    sourceGrid->setColumnStretch(1, 1);
    sourceGrid->setColumnStretch(3, 1);

    // Template file and what becomes of the records. Each radio pair is a button group of its own:
    // Qt's automatic exclusivity would take every radio button under the group box, the separator
    // panel's included, as one group, so that a click on the checked output mode could uncheck it
    // while a separator stays checked.
    m_templateGroup = named<QGroupBox>(this, "GroupBox2");
    m_template = named<QLineEdit>(m_templateGroup, "Edit3");
    m_browseTemplate = toolButton(m_templateGroup, "SpeedButton2", QStyle::SP_DirOpenIcon);
    m_multipleFiles = named<QRadioButton>(m_templateGroup, "RadioButton1");
    m_multipleFiles->setChecked(true);
    m_oneFile = named<QRadioButton>(m_templateGroup, "RadioButton2");
    m_separatorPanel = named<QFrame>(m_templateGroup, "Panel1");
    m_lineBreak = named<QRadioButton>(m_separatorPanel, "RadioButton3");
    m_lineBreak->setChecked(true);
    m_formFeed = named<QRadioButton>(m_separatorPanel, "RadioButton4");
    for (auto [first, second] : {std::pair{m_multipleFiles, m_oneFile}, std::pair{m_lineBreak, m_formFeed}}) {
        auto* pair = new QButtonGroup(this);
        pair->addButton(first);
        pair->addButton(second);
    }
    auto* panelLayout = new QVBoxLayout(m_separatorPanel);
    panelLayout->setContentsMargins(20, 0, 0, 0);
    panelLayout->addWidget(m_lineBreak);
    panelLayout->addWidget(m_formFeed);
    // Multiple files may be named from a column instead of numbered.
    m_nameLabel = named<QLabel>(m_templateGroup, "Label3");
    m_nameColumn = named<QComboBox>(m_templateGroup, "ComboBox2");
    m_nameColumn->addItem(QString());
    for (char letter = 'A'; letter <= 'Z'; ++letter)
        m_nameColumn->addItem(QString(QLatin1Char(letter)));
    m_nameLabel->setBuddy(m_nameColumn);
    m_namePreview = toolButton(m_templateGroup, "SpeedButtonPreview2", QStyle::SP_FileDialogContentsView);
    auto* nameRow = new QHBoxLayout;
    nameRow->setContentsMargins(20, 0, 0, 0);
    nameRow->addWidget(m_nameLabel);
    nameRow->addWidget(m_nameColumn, 1);
    nameRow->addWidget(m_namePreview);
    auto* templateGrid = new QGridLayout(m_templateGroup);
    templateGrid->addWidget(m_template, 0, 0);
    templateGrid->addWidget(m_browseTemplate, 0, 1);
    templateGrid->addWidget(m_multipleFiles, 1, 0, 1, 2);
    templateGrid->addLayout(nameRow, 2, 0, 1, 2);
    templateGrid->addWidget(m_oneFile, 3, 0, 1, 2);
    templateGrid->addWidget(m_separatorPanel, 4, 0, 1, 2);

    m_fillIn = named<QGroupBox>(this, "GroupBox3");
    m_list = named<QTreeWidget>(m_fillIn, "ListView1");
    fillinlist::setUp(m_list);
    m_add = named<QPushButton>(m_fillIn, "ButtonAdd");
    m_delete = named<QPushButton>(m_fillIn, "ButtonDelete");
    auto* listButtons = new QVBoxLayout;
    listButtons->addWidget(m_add);
    listButtons->addWidget(m_delete);
    listButtons->addStretch();
    auto* fillInLayout = new QHBoxLayout(m_fillIn);
    fillInLayout->addWidget(m_list, 1);
    fillInLayout->addLayout(listButtons);

    m_ok = named<QPushButton>(this, "ButtonOk");
    m_ok->setDefault(true);
    m_cancel = named<QPushButton>(this, "ButtonCancel");
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_ok);
    buttons->addWidget(m_cancel);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_sourceGroup);
    layout->addWidget(m_templateGroup);
    layout->addWidget(m_fillIn, 1);
    layout->addLayout(buttons);

    connect(m_source, &QLineEdit::textChanged, this, &TWordForm::updateButtons);
    connect(m_template, &QLineEdit::textChanged, this, &TWordForm::updateButtons);
    connect(m_list, &QTreeWidget::itemSelectionChanged, this, &TWordForm::updateButtons);
    connect(m_list, &QTreeWidget::itemClicked, this, &TWordForm::updateButtons);
    connect(m_multipleFiles, &QRadioButton::toggled, this, &TWordForm::updateButtons);
    connect(m_browseSource, &QToolButton::clicked, this, &TWordForm::SpeedButton1Click);
    connect(m_browseTemplate, &QToolButton::clicked, this, &TWordForm::SpeedButton2Click);
    connect(m_startPreview, &QToolButton::clicked, this, &TWordForm::SpeedButtonPreview1Click);
    connect(m_namePreview, &QToolButton::clicked, this, &TWordForm::SpeedButtonPreview2Click);
    connect(m_add, &QPushButton::clicked, this, &TWordForm::ButtonAddClick);
    connect(m_delete, &QPushButton::clicked, this, &TWordForm::ButtonDeleteClick);
    connect(m_ok, &QPushButton::clicked, this, &TWordForm::ButtonOkClick);
    connect(m_cancel, &QPushButton::clicked, this, &QDialog::reject);

    updateButtons();
    publishObjectNames(this);
    fitHeight();
}

void TWordForm::applyTexts(const Texts& texts) {
    auto t = [&texts](const char* key) { return texts.text(kSection, QLatin1String(key)); };
    setWindowTitle(t("Caption"));
    m_sourceGroup->setTitle(t("Source"));
    m_sheetLabel->setText(t("Worksheet"));
    m_startLabel->setText(t("StartLine"));
    m_startPreview->setToolTip(t("Preview"));
    m_templateGroup->setTitle(t("Template"));
    m_multipleFiles->setText(t("Export1"));
    m_oneFile->setText(t("Export2"));
    m_lineBreak->setText(t("Separate1"));
    m_formFeed->setText(t("Separate2"));
    m_nameLabel->setText(t("NameColumn"));
    m_nameColumn->setItemText(0, t("NameColumnNone"));
    m_namePreview->setToolTip(t("Preview"));
    m_fillIn->setTitle(t("FillIn"));
    m_add->setText(t("Add"));
    m_delete->setText(t("Delete"));
    m_ok->setText(texts.text(QStringLiteral("Common"), QStringLiteral("Ok")));
    m_cancel->setText(texts.text(QStringLiteral("Common"), QStringLiteral("Cancel")));
    fitHeight();
}

// The original's 412 x 430, taller when the rows need it: the file-name row added under the
// output modes would otherwise squeeze the separators out of sight.
void TWordForm::fitHeight() {
    layout()->activate();
    setFixedSize(412, std::max(430, layout()->minimumSize().height()));
}

WorkbookFields TWordForm::sourceWorkbook() const {
    return {m_source, m_sheet};
}

WordMergeSettings TWordForm::settings() const {
    WordMergeSettings s;
    s.sourcePath = trimBlanks(m_source->text());
    s.sheet = m_sheet->currentIndex() + 1;
    s.startLine = m_start->value();
    s.templatePath = trimBlanks(m_template->text());
    s.oneFile = m_oneFile->isChecked();
    s.separator = m_lineBreak->isChecked() ? RecordSeparator::Paragraph : RecordSeparator::PageBreak;
    s.nameColumn = s.oneFile ? 0 : m_nameColumn->currentIndex();
    for (const FillInItem& item : fillinlist::items(m_list))
        s.pairs.append({columnNumber(item.column), item.target});
    return s;
}

void TWordForm::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    FormShow();
}

void TWordForm::FormShow() {
    setResult(0);
    updateButtons();
}

void TWordForm::updateButtons() {
    m_ok->setEnabled(!trimBlanks(m_source->text()).isEmpty() && !trimBlanks(m_template->text()).isEmpty() &&
                     m_list->topLevelItemCount() > 0);
    m_delete->setEnabled(!m_list->selectedItems().isEmpty());
    // Greyed, not cleared: going back to one file offers the separator chosen before.
    const bool oneFile = !m_multipleFiles->isChecked();
    m_lineBreak->setEnabled(oneFile);
    m_formFeed->setEnabled(oneFile);
    for (QWidget* name : {static_cast<QWidget*>(m_nameLabel), static_cast<QWidget*>(m_nameColumn),
                          static_cast<QWidget*>(m_namePreview)})
        name->setEnabled(!oneFile);
}

void TWordForm::SpeedButton1Click() {
    const QString chosen = m_services.files.openFileName(
        m_services.text(QStringLiteral("OpenDialog"), QStringLiteral("XlsFilter")));
    if (!chosen.isEmpty())
        m_source->setText(chosen);
}

void TWordForm::SpeedButton2Click() {
    const QString chosen = m_services.files.openFileName(
        m_services.text(QStringLiteral("OpenDialog"), QStringLiteral("DocFilter")));
    if (!chosen.isEmpty())
        m_template->setText(chosen);
}

// The start line only: the Word mode has no column of its own to pick.
void TWordForm::SpeedButtonPreview1Click() {
    if (!m_preview)
        return;
    showPreview(*m_preview, m_startPreview, m_source->text(), m_sheet, nullptr, m_start, {},
                m_services.text(kSection, QStringLiteral("StartLine2")));
}

// The column only; the start line stays with its own button.
void TWordForm::SpeedButtonPreview2Click() {
    if (!m_preview)
        return;
    showPreview(*m_preview, m_namePreview, m_source->text(), m_sheet, m_nameColumn, nullptr,
                m_services.text(kSection, QStringLiteral("NameColumn2")), {}, 1);
}

void TWordForm::ButtonAddClick() {
    if (m_addForm && m_addForm->addTo(m_list))
        updateButtons();
}

void TWordForm::ButtonDeleteClick() {
    fillinlist::deleteSelected(m_list);
    updateButtons();
}

// A spreadsheet program may hold the workbook, a word processor the template or the output.
void TWordForm::ButtonOkClick() {
    if (m_services.probe.spreadsheetRunning() || m_services.probe.wordProcessorRunning()) {
        m_services.notice(QStringLiteral("WordProgressForm"), QStringLiteral("String01"));
        return;
    }
    accept();
}
