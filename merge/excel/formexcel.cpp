#include "merge/excel/formexcel.h"
#include "app/services.h"
#include "merge/common/previewbutton.h"
#include "office/workbook.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QStyle>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {
const QString kSection = QStringLiteral("ExcelForm");

QString numbered(const char* kind, int n) {
    return QLatin1String(kind) + QString::number(n);
}

QToolButton* previewButton(QWidget* parent, int n) {
    auto* button = new QToolButton(parent);
    button->setObjectName(numbered("SpeedButtonPreview", n));
    button->setIcon(parent->style()->standardIcon(QStyle::SP_FileDialogContentsView));
    button->setAutoRaise(true);
    return button;
}
} // namespace

TExcelForm::TExcelForm(Services& services, QWidget* parent) : QDialog(parent), m_services(services) {
    setObjectName(QStringLiteral("ExcelForm"));
    setFixedSize(412, 445);

    m_source = makeSide(1);
    m_dest = makeSide(2);

    m_fillIn = new QGroupBox(this);
    m_fillIn->setObjectName(QStringLiteral("GroupBox3"));
    m_list = new QTreeWidget(m_fillIn);
    m_list->setObjectName(QStringLiteral("ListView1"));
    fillinlist::setUp(m_list);
    m_add = new QPushButton(m_fillIn);
    m_add->setObjectName(QStringLiteral("ButtonAdd"));
    m_delete = new QPushButton(m_fillIn);
    m_delete->setObjectName(QStringLiteral("ButtonDelete"));
    auto* listButtons = new QVBoxLayout;
    listButtons->addWidget(m_add);
    listButtons->addWidget(m_delete);
    listButtons->addStretch();
    auto* fillInLayout = new QHBoxLayout(m_fillIn);
    fillInLayout->addWidget(m_list, 1);
    fillInLayout->addLayout(listButtons);

    m_ok = new QPushButton(this);
    m_ok->setObjectName(QStringLiteral("ButtonOk"));
    m_ok->setDefault(true);
    m_cancel = new QPushButton(this);
    m_cancel->setObjectName(QStringLiteral("ButtonCancel"));
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_ok);
    buttons->addWidget(m_cancel);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_source.group);
    layout->addWidget(m_dest.group);
    layout->addWidget(m_fillIn, 1);
    layout->addLayout(buttons);

    connect(m_source.path, &QLineEdit::textChanged, this, &TExcelForm::updateButtons);
    connect(m_dest.path, &QLineEdit::textChanged, this, &TExcelForm::updateButtons);
    connect(m_list, &QTreeWidget::itemSelectionChanged, this, &TExcelForm::updateButtons);
    connect(m_list, &QTreeWidget::itemClicked, this, &TExcelForm::updateButtons);
    connect(m_source.browse, &QToolButton::clicked, this, &TExcelForm::SpeedButton1Click);
    connect(m_dest.browse, &QToolButton::clicked, this, &TExcelForm::SpeedButton2Click);
    for (QToolButton* b :
         {m_source.indexPreview, m_source.startPreview, m_dest.indexPreview, m_dest.startPreview})
        connect(b, &QToolButton::clicked, this, &TExcelForm::SpeedButtonPreviewClick);
    connect(m_add, &QPushButton::clicked, this, &TExcelForm::ButtonAddClick);
    connect(m_delete, &QPushButton::clicked, this, &TExcelForm::ButtonDeleteClick);
    connect(m_ok, &QPushButton::clicked, this, &TExcelForm::ButtonOkClick);
    connect(m_cancel, &QPushButton::clicked, this, &QDialog::reject);

    publishObjectNames(this);
}

// Side k (1 source, 2 destination) carries the documented numbers of its controls.
TExcelForm::Side TExcelForm::makeSide(int k) {
    Side side;
    side.group = new QGroupBox(this);
    side.group->setObjectName(numbered("GroupBox", k));
    QWidget* g = side.group;
    side.path = new QLineEdit(g);
    side.path->setObjectName(numbered("Edit", k));
    side.browse = new QToolButton(g);
    side.browse->setObjectName(numbered("SpeedButton", k));
    side.browse->setIcon(style()->standardIcon(QStyle::SP_DirOpenIcon));
    side.browse->setAutoRaise(true);

    side.sheetLabel = new QLabel(g);
    side.sheetLabel->setObjectName(numbered("Label", 3 * k - 2));
    side.sheet = new QComboBox(g);
    side.sheet->setObjectName(numbered("ComboBox", 2 * k - 1));
    for (int n = 1; n <= 10; ++n)
        side.sheet->addItem(numbered("Sheet", n));

    side.indexLabel = new QLabel(g);
    side.indexLabel->setObjectName(numbered("Label", 3 * k - 1));
    side.index = new QComboBox(g);
    side.index->setObjectName(numbered("ComboBox", 2 * k));
    for (char c = 'A'; c <= 'Z'; ++c)
        side.index->addItem(QString(QChar(c)));
    side.indexPreview = previewButton(g, 2 * k - 1);

    side.option = new QCheckBox(g);
    side.option->setObjectName(numbered("CheckBox", k));

    side.startLabel = new QLabel(g);
    side.startLabel->setObjectName(numbered("Label", 3 * k));
    side.start = new QSpinBox(g);
    side.start->setObjectName(numbered("UpDown", k));
    side.start->setRange(1, 20);
    side.start->setValue(1);
    // The spin box is both the up-down control and its field; the field keeps its own name.
    if (auto* edit = side.start->findChild<QLineEdit*>())
        edit->setObjectName(numbered("Edit", k + 2));
    side.startPreview = previewButton(g, 2 * k);

    side.sheetLabel->setBuddy(side.sheet);
    side.indexLabel->setBuddy(side.index);
    side.startLabel->setBuddy(side.start);

    auto* grid = new QGridLayout(g);
    grid->addWidget(side.path, 0, 0, 1, 5);
    grid->addWidget(side.browse, 0, 5);
    grid->addWidget(side.sheetLabel, 1, 0);
    grid->addWidget(side.sheet, 1, 1);
    grid->addWidget(side.indexLabel, 1, 2);
    grid->addWidget(side.index, 1, 3);
    grid->addWidget(side.indexPreview, 1, 4);
    grid->addWidget(side.option, 2, 0, 1, 2);
    grid->addWidget(side.startLabel, 2, 2);
    grid->addWidget(side.start, 2, 3);
    grid->addWidget(side.startPreview, 2, 4);
    grid->setColumnStretch(1, 1);
    grid->setColumnStretch(3, 1);
    return side;
}

void TExcelForm::applyTexts(const Texts& texts) {
    auto t = [&texts](const char* key) { return texts.text(kSection, QLatin1String(key)); };
    setWindowTitle(t("Caption"));
    m_source.group->setTitle(t("Source"));
    m_dest.group->setTitle(t("Dest"));
    for (Side* side : {&m_source, &m_dest}) {
        side->sheetLabel->setText(t("Worksheet"));
        side->indexLabel->setText(t("IndexColumn"));
        side->startLabel->setText(t("StartLine"));
        side->indexPreview->setToolTip(t("Preview"));
        side->startPreview->setToolTip(t("Preview"));
    }
    m_source.option->setText(t("Unique"));
    m_dest.option->setText(t("Case"));
    m_fillIn->setTitle(t("FillIn"));
    m_add->setText(t("Add"));
    m_delete->setText(t("Delete"));
    m_ok->setText(texts.text(QStringLiteral("Common"), QStringLiteral("Ok")));
    m_cancel->setText(texts.text(QStringLiteral("Common"), QStringLiteral("Cancel")));
}

WorkbookFields TExcelForm::sourceWorkbook() const {
    return {m_source.path, m_source.sheet};
}

WorkbookFields TExcelForm::destWorkbook() const {
    return {m_dest.path, m_dest.sheet};
}

ExcelMergeSettings TExcelForm::settings() const {
    ExcelMergeSettings s;
    s.sourcePath = trimBlanks(m_source.path->text());
    s.sourceSheet = m_source.sheet->currentIndex() + 1;
    s.sourceIndexColumn = m_source.index->currentIndex() + 1;
    s.sourceStartLine = m_source.start->value();
    s.uniqueIndexValue = m_source.option->isChecked();
    s.destPath = trimBlanks(m_dest.path->text());
    s.destSheet = m_dest.sheet->currentIndex() + 1;
    s.destIndexColumn = m_dest.index->currentIndex() + 1;
    s.destStartLine = m_dest.start->value();
    s.caseSensitive = m_dest.option->isChecked();
    for (const FillInItem& item : fillinlist::items(m_list))
        s.pairs.append({columnNumber(item.column), columnNumber(item.target)});
    return s;
}

void TExcelForm::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    FormShow();
}

void TExcelForm::FormShow() {
    setResult(0);
    updateButtons();
}

void TExcelForm::updateButtons() {
    m_ok->setEnabled(!trimBlanks(m_source.path->text()).isEmpty() &&
                     !trimBlanks(m_dest.path->text()).isEmpty() && m_list->topLevelItemCount() > 0);
    m_delete->setEnabled(!m_list->selectedItems().isEmpty());
}

void TExcelForm::browse(QLineEdit* edit) {
    const QString chosen = m_services.files.openFileName(
        m_services.text(QStringLiteral("OpenDialog"), QStringLiteral("XlsFilter")));
    if (!chosen.isEmpty())
        edit->setText(chosen);
}

void TExcelForm::SpeedButton1Click() {
    browse(m_source.path);
}

void TExcelForm::SpeedButton2Click() {
    browse(m_dest.path);
}

// Both buttons of a side open the same picker with the index column and the start line marked;
// they differ only in where the popup appears.
void TExcelForm::SpeedButtonPreviewClick() {
    auto* button = qobject_cast<QToolButton*>(sender());
    if (!m_preview || !button)
        return;
    const Side& side = (button == m_dest.indexPreview || button == m_dest.startPreview) ? m_dest : m_source;
    showPreview(*m_preview, button, side.path->text(), side.sheet, side.index, side.start,
                m_services.text(kSection, QStringLiteral("IndexColumn2")),
                m_services.text(kSection, QStringLiteral("StartLine2")));
}

void TExcelForm::ButtonAddClick() {
    if (m_addForm && m_addForm->addTo(m_list))
        updateButtons();
}

void TExcelForm::ButtonDeleteClick() {
    fillinlist::deleteSelected(m_list);
    updateButtons();
}

void TExcelForm::ButtonOkClick() {
    if (m_services.probe.spreadsheetRunning()) {
        m_services.notice(QStringLiteral("ExcelProgressForm"), QStringLiteral("String01"));
        return;
    }
    accept();
}
