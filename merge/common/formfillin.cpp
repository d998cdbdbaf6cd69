#include "merge/common/formfillin.h"
#include "app/services.h"
#include "merge/common/previewbutton.h"
#include "office/workbook.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QToolButton>
#include <QTreeWidget>

namespace {
const QString kArrow = QStringLiteral("==>");

QStringList columnLetters() {
    QStringList letters;
    for (char c = 'A'; c <= 'Z'; ++c)
        letters << QString(QChar(c));
    return letters;
}
} // namespace

void fillinlist::setUp(QTreeWidget* list) {
    list->setColumnCount(3);
    list->setHeaderHidden(true);
    list->setRootIsDecorated(false);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list->setColumnWidth(0, 20);
    list->setColumnWidth(1, 40);
    list->setColumnWidth(2, 50);
    // The pair about to be deleted must stay marked when the focus moves to the Delete button.
    QPalette palette = list->palette();
    for (auto role : {QPalette::Highlight, QPalette::HighlightedText})
        palette.setColor(QPalette::Inactive, role, palette.color(QPalette::Active, role));
    list->setPalette(palette);
}

void fillinlist::append(QTreeWidget* list, const FillInItem& item) {
    list->addTopLevelItem(new QTreeWidgetItem(QStringList{item.column, kArrow, item.target}));
}

bool fillinlist::deleteSelected(QTreeWidget* list) {
    const auto selected = list->selectedItems();
    if (selected.isEmpty())
        return false;
    delete selected.first();
    return true;
}

QList<FillInItem> fillinlist::items(const QTreeWidget* list) {
    QList<FillInItem> result;
    for (int i = 0; i < list->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* item = list->topLevelItem(i);
        result.append({item->text(0), item->text(2)});
    }
    return result;
}

FillInAddDialog::FillInAddDialog(Services& services, Kind kind, WorkbookFields source, WorkbookFields dest,
                                 QWidget* parent)
    : QDialog(parent), m_services(services), m_kind(std::move(kind)) {
    setFixedSize(268, 180);
    m_label1 = new QLabel(this);
    m_label1->setObjectName(QStringLiteral("Label1"));
    m_label1->setWordWrap(true);
    m_label2 = new QLabel(this);
    m_label2->setObjectName(QStringLiteral("Label2"));
    m_label2->setWordWrap(true);

    auto* grid = new QGridLayout;
    auto placeColumn = [grid](int row, const ColumnField& field) {
        grid->addWidget(field.combo, row, 0);
        grid->addWidget(field.preview, row, 1);
    };
    if (m_kind.target == Target::Column) {
        m_columns << makeColumnField(QStringLiteral("ComboBox1"), QStringLiteral("SpeedButtonPreview1"),
                                     source, QStringLiteral("From2"));
        m_columns << makeColumnField(QStringLiteral("ComboBox2"), QStringLiteral("SpeedButtonPreview2"), dest,
                                     QStringLiteral("To2"));
        grid->addWidget(m_label1, 0, 0, 1, 2);
        placeColumn(1, m_columns[0]);
        grid->addWidget(m_label2, 2, 0, 1, 2);
        placeColumn(3, m_columns[1]);
        m_label1->setBuddy(m_columns[0].combo);
        m_label2->setBuddy(m_columns[1].combo);
    } else {
        m_edit = new QLineEdit(this);
        m_edit->setObjectName(QStringLiteral("Edit1"));
        connect(m_edit, &QLineEdit::textChanged, this, &FillInAddDialog::updateAddButton);
        m_columns << makeColumnField(QStringLiteral("ComboBox1"), QStringLiteral("SpeedButtonPreview1"),
                                     source, QStringLiteral("To2"));
        grid->addWidget(m_label1, 0, 0, 1, 2);
        grid->addWidget(m_edit, 1, 0, 1, 2);
        grid->addWidget(m_label2, 2, 0, 1, 2);
        placeColumn(3, m_columns[0]);
        m_label1->setBuddy(m_edit);
        m_label2->setBuddy(m_columns[0].combo);
    }
    grid->setColumnStretch(0, 1);

    m_add = new QPushButton(this);
    m_add->setObjectName(QStringLiteral("ButtonAdd"));
    m_add->setDefault(true);
    connect(m_add, &QPushButton::clicked, this, &QDialog::accept);
    m_cancel = new QPushButton(this);
    m_cancel->setObjectName(QStringLiteral("ButtonCancel"));
    connect(m_cancel, &QPushButton::clicked, this, &QDialog::reject);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_add);
    buttons->addWidget(m_cancel);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addStretch();
    layout->addLayout(buttons);
}

FillInAddDialog::ColumnField FillInAddDialog::makeColumnField(const QString& comboName,
                                                              const QString& previewName,
                                                              WorkbookFields workbook,
                                                              const QString& markerKey) {
    ColumnField field;
    field.combo = new QComboBox(this);
    field.combo->setObjectName(comboName);
    field.combo->addItems(columnLetters());
    field.preview = new QToolButton(this);
    field.preview->setObjectName(previewName);
    field.preview->setIcon(style()->standardIcon(QStyle::SP_FileDialogContentsView));
    field.preview->setAutoRaise(true);
    field.workbook = workbook;
    field.markerKey = markerKey;
    connect(field.preview, &QToolButton::clicked, this, [this, field] { preview(field); });
    return field;
}

void FillInAddDialog::applyTexts(const Texts& texts) {
    const QString& s = m_kind.section;
    setWindowTitle(texts.text(s, QStringLiteral("Caption")));
    m_label1->setText(texts.text(s, QStringLiteral("From")));
    m_label2->setText(texts.text(s, QStringLiteral("To")));
    for (const ColumnField& field : std::as_const(m_columns))
        field.preview->setToolTip(texts.text(s, QStringLiteral("Preview")));
    m_add->setText(texts.text(s, QStringLiteral("Add")));
    m_cancel->setText(texts.text(QStringLiteral("Common"), QStringLiteral("Cancel")));
}

FillInItem FillInAddDialog::item() const {
    const QString column = m_columns[0].combo->currentText();
    if (m_kind.target == Target::Column)
        return {column, m_columns[1].combo->currentText()};
    return {column, trimBlanks(m_edit->text())};
}

bool FillInAddDialog::addTo(QTreeWidget* list) {
    if (exec() != QDialog::Accepted)
        return false;
    fillinlist::append(list, item());
    return true;
}

void FillInAddDialog::FormShow() {
    updateAddButton();
    if (m_kind.focusLabel && m_edit)
        m_edit->setFocus();
    else
        m_columns[0].combo->setFocus();
}

void FillInAddDialog::updateAddButton() {
    if (m_edit)
        m_add->setEnabled(!trimBlanks(m_edit->text()).isEmpty());
}

void FillInAddDialog::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    FormShow();
}

void FillInAddDialog::preview(const ColumnField& field) {
    if (!m_preview || !field.workbook.path)
        return;
    showPreview(*m_preview, field.preview, field.workbook.path->text(), field.workbook.sheet, field.combo,
                nullptr, m_services.text(m_kind.section, field.markerKey), QString());
}

TExcelAddForm::TExcelAddForm(Services& services, WorkbookFields source, WorkbookFields dest, QWidget* parent)
    : FillInAddDialog(services, {QStringLiteral("ExcelAddForm"), Target::Column, false}, source, dest,
                      parent) {
    setObjectName(QStringLiteral("ExcelAddForm"));
    publishObjectNames(this);
}

TWordAddForm::TWordAddForm(Services& services, WorkbookFields source, QWidget* parent)
    : FillInAddDialog(services, {QStringLiteral("WordAddForm"), Target::Label, true}, source, {}, parent) {
    setObjectName(QStringLiteral("WordAddForm"));
    publishObjectNames(this);
}

TOutlookAddForm::TOutlookAddForm(Services& services, WorkbookFields source, QWidget* parent)
    : FillInAddDialog(services, {QStringLiteral("OutlookAddForm"), Target::Label, false}, source, {},
                      parent) {
    setObjectName(QStringLiteral("OutlookAddForm"));
    publishObjectNames(this);
}

TBulkAddForm::TBulkAddForm(Services& services, WorkbookFields source, QWidget* parent)
    : FillInAddDialog(services, {QStringLiteral("BulkAddForm"), Target::Label, false}, source, {}, parent) {
    setObjectName(QStringLiteral("BulkAddForm"));
    publishObjectNames(this);
}
