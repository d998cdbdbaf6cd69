#pragma once
#include "merge/common/mailingjournal.h"

#include <optional>
#include "app/runreport.h"
#include "app/windowbase.h"

#include <QDialog>
#include <QList>
#include <QString>
#include <QStringList>

class QFrame;
class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;
struct Services;

// The small modal dialog every mode runs its records in: a status line, a progress bar, Cancel
// and a timer whose tick is the run. Showing it prepares a fresh run (stop flag down, progress 0,
// the run report emptied and given the mode's columns) and arms the timer; the tick does the work
// on the user-interface thread and closes the dialog when it ends.
//
// The stop flag is the one gate for closing: while it is down, neither Esc nor the window
// system's close request nor reject() closes the dialog, so a run is never torn down half-way;
// Cancel only raises it, and the run notices at its next record boundary.
//
// Two rhythms fit: the whole run inside one tick (recordDone() after each record processes events
// and tests the flag), or one record per tick (countersOnShow() true, addLine()/setLineImage()
// for a line whose outcome comes later, rearmTimer() at the end of each tick).
class TRunForm : public QDialog, public LocalizedWindow {
    Q_OBJECT
public:
    explicit TRunForm(Services& services, QWidget* parent = nullptr);

    QWidget* widget() override { return this; }
    // Caption from the mode's section, Cancel from Common.
    void applyTexts(const Texts& texts) override;

    bool stopFlag() const { return m_stop; }
    RunReport::Counts counters() const { return m_counts; }

    QLabel* Label1;
    QProgressBar* ProgressBar1;
    QFrame* Bevel1;
    QPushButton* ButtonCancel;
    QTimer* Timer1; // single shot: a tick is over before the next one can be armed

public slots:
    // The show sequence; runs on every show of the dialog.
    void FormShow();
    // Raises the stop flag, nothing else.
    void ButtonCancelClick();
    // The run of the mode.
    virtual void Timer1Timer() = 0;

protected:
    // The question before a mailing that ran before, in the run dialog's own section (String10 to
    // String12): Yes resumes the chain, No restarts it when rows are left; when every row is done,
    // Yes restarts and No sends nothing (no choice).
    std::optional<MailingJournal::Choice> askAboutEarlierRun(const MailingJournal& journal) const;
    // The mode's language section ("ExcelProgressForm") and its two status texts.
    virtual QString section() const = 0;
    virtual QString showStatusKey() const = 0;
    virtual QString recordsStatusKey() const = 0;
    // The report columns after the empty first one.
    virtual QList<RunReport::Column> reportColumns() const = 0;
    // True for a mode that sets its counters and labels when shown rather than in its tick.
    virtual bool countersOnShow() const { return false; }
    // Mode state to reset on every show, after the report and before the timer is armed.
    virtual void prepareRun() {}
    // Called once the dialog has closed, however it closed; a mode releases here what lives
    // between its ticks.
    virtual void runClosed() {}

    // Counters := 0 and the three status labels read from StatusBar in the language in force.
    void beginCounters();
    // Label1 := the mode's second status text: the source is open, records follow.
    void showRecordsStatus();
    QString modeText(const QString& key) const;

    // The duties after each record of a one-tick run: the report line, counters and panels,
    // pending events processed once (the only moment Cancel is seen), the stop flag tested, then
    // the progress. False when the run is to stop: the caller releases what it opened and calls
    // finish() without a message.
    bool recordDone(const QStringList& subItems, int image, int row, int lastRow);

    // The pieces of recordDone for a mode whose line outcome comes later. addLine counts the line
    // by its image and refreshes the panels; setLineImage moves the counts to the new image.
    int addLine(const QStringList& subItems, int image);
    void setLineImage(int line, int image);
    void setLineSubItem(int line, int subItem, const QString& text);
    void showCounters();
    void setProgress(int row, int lastRow);
    void rearmTimer();

    // The notice that ends a finished mailing run (the text of the mode's key), followed, when rows
    // were passed over for an address that cannot be used, by how many (the mode's String17).
    void endNotice(const QString& key, int leftOut) const;

    // Every ending of a run: the stop flag goes up and the dialog closes. Any final message of the
    // mode is shown before this.
    void finish();

    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void done(int result) override;

    Services& m_services;

private:
    void count(int image, int delta);

    bool m_stop = true;
    RunReport::Counts m_counts;
    QString m_labels[3];
};
