#pragma once
#include "app/windowbase.h"

#include <QDialog>
#include <QString>

class QAbstractButton;
class QHeaderView;
class QTableWidget;
class QTimer;
struct Services;

// A borderless popup showing the top-left corner of a worksheet (20 rows, 26 columns) under
// letter and number headers. Clicking a letter header picks that column, a number header that
// line; the corner closes it, and so does losing activation. Whatever way it closes, the current
// marks are the result. The caller protocol is showPreview() (previewbutton.h).
class TPreviewForm : public QDialog, public LocalizedWindow {
    Q_OBJECT
public:
    static constexpr int kRows = 20;
    static constexpr int kColumns = 26;

    explicit TPreviewForm(Services& services, QWidget* parent = nullptr);

    QWidget* widget() override { return this; }
    // The popup has no caption of its own; its corner text is read when it is shown.
    void applyTexts(const Texts&) override {}

    // The six inputs; markedLine and markedColumn are also the results. A mark of 0 turns that
    // kind of picking off.
    QString workbookPath;
    int sheet = 1;
    int markedLine = 1;
    int markedColumn = 1;
    QString lineMarkerText;
    QString columnMarkerText;

    QTableWidget* StringGrid1;
    QTimer* Timer1;

public slots:
    void FormShow();
    // Loads the worksheet, one row at a time with pending events processed in between.
    void Timer1Timer();

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void setLoading(bool loading);
    void headerReleased(QHeaderView* header, const QPoint& pos);

    Services& m_services;
    QAbstractButton* m_corner = nullptr; // the table's own corner button, showing the close text
};
