#pragma once
#include "app/windowbase.h"
#include "merge/common/formfillin.h"
#include "merge/word/wordmerge.h"

#include <QDialog>

class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QToolButton;
class QTreeWidget;
class TPreviewForm;
struct Services;

// The settings of an Excel-to-Word merge. Created once and kept: every value, the fill-in list
// included, stays from one use to the next. The start-line spin box is UpDown1; its text field
// carries the name Edit2.
class TWordForm : public QDialog, public LocalizedWindow {
    Q_OBJECT
public:
    explicit TWordForm(Services& services, QWidget* parent = nullptr);

    QWidget* widget() override { return this; }
    void applyTexts(const Texts& texts) override;

    // The Add dialog of the fill-in list; created after this window, so it is handed over then.
    void setAddForm(FillInAddDialog* addForm) { m_addForm = addForm; }
    // The worksheet preview popup, likewise created later.
    void setPreviewForm(TPreviewForm* preview) { m_preview = preview; }
    WorkbookFields sourceWorkbook() const;

    // Everything but the output path, paths trimmed of blanks.
    WordMergeSettings settings() const;

public slots:
    void FormShow();
    void updateButtons(); // the control-state rule
    void SpeedButton1Click();
    void SpeedButton2Click();
    void SpeedButtonPreview1Click();
    void SpeedButtonPreview2Click(); // picks the column that names the files
    void ButtonAddClick();
    void ButtonDeleteClick();
    void ButtonOkClick();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void fitHeight();
    Services& m_services;
    FillInAddDialog* m_addForm = nullptr;
    TPreviewForm* m_preview = nullptr;

    QGroupBox* m_sourceGroup = nullptr;
    QLineEdit* m_source = nullptr;
    QToolButton* m_browseSource = nullptr;
    QLabel* m_sheetLabel = nullptr;
    QComboBox* m_sheet = nullptr;
    QLabel* m_startLabel = nullptr;
    QSpinBox* m_start = nullptr;
    QToolButton* m_startPreview = nullptr;

    QGroupBox* m_templateGroup = nullptr;
    QLineEdit* m_template = nullptr;
    QToolButton* m_browseTemplate = nullptr;
    QRadioButton* m_multipleFiles = nullptr;
    QRadioButton* m_oneFile = nullptr;
    QFrame* m_separatorPanel = nullptr;
    QRadioButton* m_lineBreak = nullptr;
    QRadioButton* m_formFeed = nullptr;
    QLabel* m_nameLabel = nullptr;
    QComboBox* m_nameColumn = nullptr; // "None", then A..Z
    QToolButton* m_namePreview = nullptr;

    QGroupBox* m_fillIn = nullptr;
    QTreeWidget* m_list = nullptr;
    QPushButton* m_add = nullptr;
    QPushButton* m_delete = nullptr;
    QPushButton* m_ok = nullptr;
    QPushButton* m_cancel = nullptr;
};
