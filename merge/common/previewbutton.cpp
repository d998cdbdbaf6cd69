#include "merge/common/previewbutton.h"

#include "merge/common/formpreview.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QFileInfo>
#include <QGuiApplication>
#include <QScreen>
#include <QSpinBox>

#include <algorithm>

namespace {
// wanted's top-left corner, moved left and up only as far as needed for the whole of wanted to lie
// on available (and never beyond available's top-left corner).
QPoint keptOnScreen(const QRect& wanted, const QRect& available) {
    QPoint at = wanted.topLeft();
    at.setX(std::max(std::min(at.x(), available.x() + available.width() - wanted.width()), available.x()));
    at.setY(std::max(std::min(at.y(), available.y() + available.height() - wanted.height()), available.y()));
    return at;
}
} // namespace

QPoint previewPosition(const QAbstractButton& button, const QSize& size) {
    const QPoint wanted = button.mapToGlobal(QPoint(0, button.height()));
    // The point under the button's corner may lie beyond the last screen's edge already.
    const QScreen* screen = QGuiApplication::screenAt(wanted);
    if (!screen)
        screen = button.screen();
    return screen ? keptOnScreen(QRect(wanted, size), screen->availableGeometry()) : wanted;
}

bool showPreview(TPreviewForm& form, const QAbstractButton* button, const QString& workbookPath,
                 const QComboBox* sheetCombo, QComboBox* columnCombo, QSpinBox* lineSpin,
                 const QString& columnMarker, const QString& lineMarker, int columnItemOffset) {
    if (workbookPath.isEmpty() || !QFileInfo(workbookPath).isFile())
        return false;
    if (button)
        form.move(previewPosition(*button, form.size()));
    form.workbookPath = workbookPath;
    form.sheet = sheetCombo ? sheetCombo->currentIndex() + 1 : 1;
    // A mark of 0 would turn column picking off: from "None" the popup starts on column A.
    form.markedColumn = columnCombo ? std::max(1, columnCombo->currentIndex() - columnItemOffset + 1) : 0;
    form.markedLine = lineSpin ? lineSpin->value() : 0;
    form.columnMarkerText = columnCombo ? columnMarker : QString();
    form.lineMarkerText = lineSpin ? lineMarker : QString();
    form.exec();
    if (columnCombo)
        columnCombo->setCurrentIndex(form.markedColumn - 1 + columnItemOffset);
    if (lineSpin)
        lineSpin->setValue(form.markedLine);
    return true;
}
