#pragma once
#include <QPoint>
#include <QSize>
#include <QString>

class QAbstractButton;
class QComboBox;
class QSpinBox;
class TPreviewForm;

// Where the popup of the given size opens for button: its top-left corner under the button's
// bottom-left corner, then moved left or up as far as needed to be wholly visible on the screen
// that holds that point (else the button's screen).
QPoint previewPosition(const QAbstractButton& button, const QSize& size);

// What every preview button does: nothing unless workbookPath (as typed, untrimmed) names an
// existing file; otherwise the popup opens under the button (kept on screen, previewPosition) on
// the worksheet of sheetCombo, with the column of columnCombo and the line of lineSpin marked, and
// the picks go back into them when it closes. A null columnCombo or lineSpin turns that kind of
// picking off (its marker text is then not used). columnCombo's item columnItemOffset is column
// A; from an item before it (a "None") the popup starts on column A. True when the popup was shown.
bool showPreview(TPreviewForm& form, const QAbstractButton* button, const QString& workbookPath,
                 const QComboBox* sheetCombo, QComboBox* columnCombo, QSpinBox* lineSpin,
                 const QString& columnMarker, const QString& lineMarker, int columnItemOffset = 0);
