#pragma once
#include "app/windowbase.h"

#include <QDialog>
#include <QList>
#include <QString>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QToolButton;
class QTreeWidget;
class TPreviewForm;
struct Services;

// A settings dialog's workbook fields, as an Add dialog's preview button reads them at the moment
// it is clicked. The settings dialog owns them and outlives the Add dialog.
struct WorkbookFields {
    QLineEdit* path = nullptr;
    QComboBox* sheet = nullptr;
};

// One pair of a fill-in list, as the list shows it: a source column letter and a target (a
// destination column letter or a label).
struct FillInItem {
    QString column;
    QString target;
    friend bool operator==(const FillInItem&, const FillInItem&) = default;
};

// The fill-in list of a settings dialog (its ListView1): column letter, arrow, target, in the
// order added. No duplicate is refused; each pair is applied in list order.
namespace fillinlist {
// Three columns 20, 40 and 50 wide, no header, read-only, one whole row selected at a time, and
// the selection kept visible while the list has no focus.
void setUp(QTreeWidget* list);
void append(QTreeWidget* list, const FillInItem& item);
// Removes the selected pair; false when none was selected.
bool deleteSelected(QTreeWidget* list);
QList<FillInItem> items(const QTreeWidget* list);
} // namespace fillinlist

// The modal "Add" dialog of a fill-in list, one class for all modes. What differs between them is
// the kind of pair: column to column (Excel to Excel) or column to label (the other modes).
class FillInAddDialog : public QDialog, public LocalizedWindow {
    Q_OBJECT
public:
    enum class Target {
        Column, // first field ComboBox1 (source column), second ComboBox2 (destination column)
        Label,  // first field Edit1 (label), second ComboBox1 (source column)
    };
    struct Kind {
        QString section; // language section, e.g. "WordAddForm"
        Target target = Target::Label;
        bool focusLabel = false; // the label field takes the focus when shown, else ComboBox1
    };

    QWidget* widget() override { return this; }
    void applyTexts(const Texts& texts) override;

    // The pair as the settings dialog appends it on OK: column letter of ComboBox1 and, as the
    // target, the letter of ComboBox2 or the trimmed label.
    FillInItem item() const;

    // Shows the dialog; on OK appends its pair to list. True when a pair was appended.
    bool addTo(QTreeWidget* list);

    // The worksheet preview popup, created after the Add dialogs.
    void setPreviewForm(TPreviewForm* preview) { m_preview = preview; }

public slots:
    void FormShow();
    void updateAddButton();

protected:
    FillInAddDialog(Services& services, Kind kind, WorkbookFields source, WorkbookFields dest,
                    QWidget* parent);
    void showEvent(QShowEvent* event) override;

private:
    struct ColumnField {
        QComboBox* combo = nullptr;
        QToolButton* preview = nullptr;
        WorkbookFields workbook;
        QString markerKey;
    };
    ColumnField makeColumnField(const QString& comboName, const QString& previewName, WorkbookFields workbook,
                                const QString& markerKey);
    void preview(const ColumnField& field);

    Services& m_services;
    TPreviewForm* m_preview = nullptr;
    Kind m_kind;
    QLabel* m_label1 = nullptr;
    QLabel* m_label2 = nullptr;
    QLineEdit* m_edit = nullptr; // label modes only
    QList<ColumnField> m_columns;
    QPushButton* m_add = nullptr;
    QPushButton* m_cancel = nullptr;
};

class TExcelAddForm : public FillInAddDialog {
    Q_OBJECT
public:
    TExcelAddForm(Services& services, WorkbookFields source, WorkbookFields dest, QWidget* parent = nullptr);
};

class TWordAddForm : public FillInAddDialog {
    Q_OBJECT
public:
    TWordAddForm(Services& services, WorkbookFields source, QWidget* parent = nullptr);
};

class TOutlookAddForm : public FillInAddDialog {
    Q_OBJECT
public:
    TOutlookAddForm(Services& services, WorkbookFields source, QWidget* parent = nullptr);
};

class TBulkAddForm : public FillInAddDialog {
    Q_OBJECT
public:
    TBulkAddForm(Services& services, WorkbookFields source, QWidget* parent = nullptr);
};
