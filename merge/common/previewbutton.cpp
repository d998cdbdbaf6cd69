#include "merge/common/previewbutton.h"

#include "merge/common/formpreview.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QFileInfo>
#include <QSpinBox>

bool showPreview(TPreviewForm& form, const QAbstractButton* button, const QString& workbookPath,
                 const QComboBox* sheetCombo, QComboBox* columnCombo, QSpinBox* lineSpin,
                 const QString& columnMarker, const QString& lineMarker) {
    if (workbookPath.isEmpty() || !QFileInfo(workbookPath).isFile())
        return false;
    if (button)
        form.move(button->mapToGlobal(QPoint(0, button->height())));
    form.workbookPath = workbookPath;
    form.sheet = sheetCombo ? sheetCombo->currentIndex() + 1 : 1;
    form.markedColumn = columnCombo ? columnCombo->currentIndex() + 1 : 0;
    form.markedLine = lineSpin ? lineSpin->value() : 0;
    form.columnMarkerText = columnCombo ? columnMarker : QString();
    form.lineMarkerText = lineSpin ? lineMarker : QString();
    form.exec();
    if (columnCombo)
        columnCombo->setCurrentIndex(form.markedColumn - 1);
    if (lineSpin)
        lineSpin->setValue(form.markedLine);
    return true;
}
