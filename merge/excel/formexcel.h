#pragma once
#include "app/windowbase.h"
#include "merge/common/formfillin.h"
#include "merge/excel/excelmerge.h"

#include <QDialog>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QToolButton;
class QTreeWidget;
class TPreviewForm;
struct Services;

// The settings of an Excel-to-Excel merge. Created once and kept: every value stays from one use
// to the next. The start-line spin boxes are UpDown1/UpDown2; their text fields carry the names
// Edit3/Edit4.
class TExcelForm : public QDialog, public LocalizedWindow {
    Q_OBJECT
public:
    explicit TExcelForm(Services& services, QWidget* parent = nullptr);

    QWidget* widget() override { return this; }
    void applyTexts(const Texts& texts) override;

    // The Add dialog of the fill-in list; created after this window, so it is handed over then.
    void setAddForm(FillInAddDialog* addForm) { m_addForm = addForm; }
    // The worksheet preview popup, likewise created later.
    void setPreviewForm(TPreviewForm* preview) { m_preview = preview; }
    WorkbookFields sourceWorkbook() const;
    WorkbookFields destWorkbook() const;

    // Everything but the output path, paths trimmed of blanks.
    ExcelMergeSettings settings() const;

public slots:
    void FormShow();
    void updateButtons(); // the enabling rule
    void SpeedButton1Click();
    void SpeedButton2Click();
    void SpeedButtonPreviewClick();
    void ButtonAddClick();
    void ButtonDeleteClick();
    void ButtonOkClick();

protected:
    void showEvent(QShowEvent* event) override;

private:
    struct Side {
        QGroupBox* group = nullptr;
        QLineEdit* path = nullptr;
        QToolButton* browse = nullptr;
        QLabel* sheetLabel = nullptr;
        QComboBox* sheet = nullptr;
        QLabel* indexLabel = nullptr;
        QComboBox* index = nullptr;
        QToolButton* indexPreview = nullptr;
        QCheckBox* option = nullptr;
        QLabel* startLabel = nullptr;
        QSpinBox* start = nullptr;
        QToolButton* startPreview = nullptr;
    };
    Side makeSide(int first);
    void browse(QLineEdit* edit);

    Services& m_services;
    FillInAddDialog* m_addForm = nullptr;
    TPreviewForm* m_preview = nullptr;
    Side m_source;
    Side m_dest;
    QGroupBox* m_fillIn = nullptr;
    QTreeWidget* m_list = nullptr;
    QPushButton* m_add = nullptr;
    QPushButton* m_delete = nullptr;
    QPushButton* m_ok = nullptr;
    QPushButton* m_cancel = nullptr;
};
