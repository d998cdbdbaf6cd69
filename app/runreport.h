#pragma once
#include "app/languagefile.h"

#include <QAbstractTableModel>
#include <QIcon>
#include <QList>
#include <QStringList>

#include <vector>

class QLabel;
class QTimer;
class QTreeView;

// Image indices of a report line.
enum ReportImage : int {
    ImageProcessed = 0,
    ImageFailure = 1,
    ImageNullValue = 2,
    ImagePending = 3,
};

// The lines of the run report: an empty first column that shows the line's icon, then one text per
// further column. Kept as plain rows so that a run of 100,000 records stays quick.
//
// A tree view lays out all its rows again after every insertion, so announcing lines one by one
// while a run processes events between records costs time in the square of the line count.
// Appended lines are therefore kept back until showPending() announces them together; lineCount()
// and line() know them at once, rowCount() (what views see) once they are shown.
class RunReportModel : public QAbstractTableModel {
    Q_OBJECT
public:
    struct Line {
        QStringList subItems;
        int image = ImageProcessed;
    };

    using QAbstractTableModel::QAbstractTableModel;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    void setColumns(const QStringList& captions); // all columns, the first one included
    QStringList columns() const { return m_columns; }
    void clearLines();
    int appendLine(const QStringList& subItems, int image);
    void showPending();
    bool hasPending() const { return m_shown < int(m_lines.size()); }
    void setImage(int line, int image);
    void setSubItem(int line, int subItem, const QString& text);
    const Line& line(int row) const { return m_lines[size_t(row)]; }
    int lineCount() const { return int(m_lines.size()); }
    // Lines showing an image, kept up to date so that a run may ask after every record.
    int imageCount(int image) const;

    static QIcon icon(int image); // the four report icons, 16 x 16

private:
    void countImage(int image, int delta);

    QStringList m_columns;
    std::vector<Line> m_lines;
    int m_shown = 0;
    int m_imageCounts[4] = {};
};

// The run report of the main window: the list and the three status panels, with the operations
// a run uses in order (begin, add a line, update a line, after each line) and the status recount
// and clear report of the main window.
class RunReport : public QObject {
    Q_OBJECT
public:
    enum class View { LargeIcon, Details };
    struct Column {
        QString caption;
        int width = 100;
    };
    struct Counts {
        int records = 0;
        int nullValues = 0;
        int failures = 0;
    };

    RunReport(QTreeView* view, QLabel* records, QLabel* nullValues, QLabel* failures, QObject* parent = nullptr);

    // Removes all lines, switches to details view, removes all columns, adds the empty first
    // column (width 30) and then the mode's columns.
    void begin(const QList<Column>& modeColumns);
    int addLine(const QStringList& subItems, int image);
    void setImage(int line, int image);
    void setSubItem(int line, int subItem, const QString& text);
    // Each panel := its label directly followed by the count; the newest line is selected and
    // scrolled into view. The list and the panels catch up within kCatchUpMs, or at flush():
    // a run processes events after every record, and repainting the panels each time would cost
    // more than the records themselves.
    void afterLine(const QString& recordsLabel, const QString& nullValuesLabel, const QString& failuresLabel,
                   const Counts& counts);
    // Each panel := its label, one space, the count of the lines as they are.
    void recount(const Texts& texts);
    // Removes all lines and columns, back to the large-icon view, then recounts.
    void clear(const Texts& texts);

    Counts count() const;
    View view() const { return m_style; }
    int lineCount() const { return m_model->lineCount(); }
    int image(int line) const { return m_model->line(line).image; }
    QStringList subItems(int line) const { return m_model->line(line).subItems; }
    QStringList columnCaptions() const { return m_model->columns(); }
    QString panelText(int panel) const;
    int selectedLine() const;
    RunReportModel* model() const { return m_model; }

    // Shows the lines added since the list last caught up, and selects and scrolls to the newest
    // when a line's duties asked for it.
    void flush();
    static constexpr int kCatchUpMs = 50;

private:
    void setView(View view);

    void catchUpSoon();

    QTreeView* m_list;
    QTimer* m_catchUp;
    bool m_followNewest = false;
    QLabel* m_panels[3];
    QString m_pendingPanels[3];
    bool m_panelsPending = false;
    RunReportModel* m_model;
    View m_style = View::LargeIcon;
};
