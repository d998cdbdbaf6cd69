#include "merge/outlook/formoutlookprogress.h"

#include "app/services.h"
#include "merge/common/documentsprogress.h"

#include <QCoreApplication>

#include <QTimer>

#include <exception>

TOutlookProgressForm::TOutlookProgressForm(Services& services, QWidget* parent) : TRunForm(services, parent) {
    setObjectName(QStringLiteral("OutlookProgressForm"));
    publishObjectNames(this);
}

OutlookMergeSettings TOutlookProgressForm::settings() const {
    OutlookMergeSettings s = m_settings ? m_settings() : OutlookMergeSettings{};
    s.saveMode = m_saveMode;
    if (m_saveMode && m_saveToDrafts)
        s.imap = imapAccount();
    s.fromAddress = m_sender ? m_sender() : QString();
    s.journaled = true;
    s.unknownComment = m_services.text(section(), QStringLiteral("String13"));
    s.chooseEarlier = [this](const MailingJournal& journal) { return askAboutEarlierRun(journal); };
    return s;
}

QList<RunReport::Column> TOutlookProgressForm::reportColumns() const {
    const QString listView = QStringLiteral("ListView");
    QList<RunReport::Column> columns{{m_services.text(listView, QStringLiteral("MailTo")), 150}};
    const qsizetype pairs = m_settings ? m_settings().pairs.size() : 0;
    const QString field = m_services.text(listView, QStringLiteral("Field"));
    for (qsizetype i = 1; i <= pairs; ++i)
        columns.append({field + QString::number(i), 100});
    // Why a row got no message: a file or an address of its own, or a delivery left unknown.
    columns.append({m_services.text(listView, QStringLiteral("Comment")), 200});
    return columns;
}

// The engine's view of the dialog: the frame's duties after each record and its stop flag.
class TOutlookProgressForm::RunSink : public OutlookMergeSink {
public:
    explicit RunSink(TOutlookProgressForm& form) : m_form(form) {}
    void recordsBegin() override { m_form.showRecordsStatus(); }
    // Made on this thread, document by document: the dialog paints and takes Cancel in between.
    void documentsProgress(int done, int total) override {
        showDocumentsProgress(m_form, m_form.modeText(QStringLiteral("String15")), done, total);
        QCoreApplication::processEvents();
    }
    void recordDone(const QStringList& subItems, int image, int row, int lastRow) override {
        m_form.recordDone(subItems, image, row, lastRow);
    }
    bool stopRequested() override { return m_form.stopFlag(); }

private:
    TOutlookProgressForm& m_form;
};

void TOutlookProgressForm::Timer1Timer() {
    Timer1->stop();
    beginCounters();
    RunSink sink(*this);
    OutlookMergeResult result;
    // The dialog only closes once the run has ended; nothing may leave it open and unclosable.
    try {
        result = runOutlookMerge(settings(), sink);
    } catch (const std::exception& e) {
        result.outcome = OutlookMergeOutcome::Failed;
        result.cause = QString::fromLocal8Bit(e.what());
    }

    switch (result.outcome) {
    case OutlookMergeOutcome::Finished:
        endNotice(!m_saveMode      ? QStringLiteral("String09")
                  : m_saveToDrafts ? QStringLiteral("String19")
                                   : QStringLiteral("String08"),
                  result.leftOut);
        break;
    case OutlookMergeOutcome::Cancelled:
        break;
    case OutlookMergeOutcome::WorkbookFailed:
        m_services.notice(section(), QStringLiteral("String05"), result.cause);
        break;
    case OutlookMergeOutcome::SheetMissing:
        m_services.notice(section(), QStringLiteral("String06"));
        break;
    case OutlookMergeOutcome::DocumentsFailed:
        m_services.notice(section(), QStringLiteral("String16"), result.cause);
        break;
    case OutlookMergeOutcome::JournalFailed:
        m_services.notice(section(), QStringLiteral("String14"), result.cause);
        break;
    case OutlookMergeOutcome::MailerUnavailable:
    case OutlookMergeOutcome::Failed:
        // The mail program (the outbox or the system mailer) refused: what was saved or sent
        // before stays so, and the cause says which message and why.
        m_services.notice(section(), QStringLiteral("String07"), result.cause);
        break;
    }
    finish();
}
