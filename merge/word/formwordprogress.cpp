#include "merge/word/formwordprogress.h"
#include "merge/word/wordcommand.h"

#include "app/services.h"

#include <QFile>
#include <QFileInfo>
#include <QTimer>
#include <QUrl>

#include <exception>

TWordProgressForm::TWordProgressForm(Services& services, QWidget* parent) : TRunForm(services, parent) {
    setObjectName(QStringLiteral("WordProgressForm"));
    publishObjectNames(this);
}

WordMergeSettings TWordProgressForm::settings() const {
    WordMergeSettings s = m_settings ? m_settings() : WordMergeSettings{};
    s.outputPath = m_outputPath;
    return s;
}

QList<RunReport::Column> TWordProgressForm::reportColumns() const {
    const QString field = m_services.text(QStringLiteral("ListView"), QStringLiteral("Field"));
    QList<RunReport::Column> columns;
    const qsizetype pairs = settings().pairs.size();
    for (qsizetype n = 1; n <= pairs; ++n)
        columns.append({field + QString::number(n), 100});
    return columns;
}

void TWordProgressForm::prepareRun() {
    m_outcome = WordMergeOutcome::Cancelled;
}

// The engine's view of the dialog: the frame's duties after each record and its stop flag.
class TWordProgressForm::RunSink : public WordMergeSink {
public:
    explicit RunSink(TWordProgressForm& form) : m_form(form) {}
    void recordsBegin() override { m_form.showRecordsStatus(); }
    void recordDone(const QStringList& values, int image, int row, int lastRow) override {
        m_form.recordDone(values, image, row, lastRow);
    }
    bool stopRequested() override { return m_form.stopFlag(); }

private:
    TWordProgressForm& m_form;
};

void TWordProgressForm::Timer1Timer() {
    Timer1->stop();
    beginCounters();
    const WordMergeSettings s = settings();
    RunSink sink(*this);
    WordMergeResult result;
    // The dialog only closes once the run has ended; nothing may leave it open and unclosable.
    try {
        result = runWordMerge(s, sink);
    } catch (const std::exception& e) {
        result.outcome = WordMergeOutcome::Failed;
        result.failure = WordMergeFailure::Output;
        result.cause = QString::fromUtf8(e.what());
    }
    m_outcome = result.outcome;

    switch (result.outcome) {
    case WordMergeOutcome::Finished:
        finished(s);
        break;
    case WordMergeOutcome::Cancelled:
        break;
    case WordMergeOutcome::SheetMissing:
        m_services.notice(section(), QStringLiteral("String09"));
        break;
    case WordMergeOutcome::Failed:
        // The source workbook has a message of its own; everything else the run could not use
        // is on the document side: the template, the converter, the output.
        m_services.notice(section(),
                          result.failure == WordMergeFailure::Workbook ? QStringLiteral("String08")
                                                                       : QStringLiteral("String10"),
                          result.cause);
        break;
    }
    m_replacedFile.clear();
    m_staleFiles.clear();
    finish();
}

void TWordProgressForm::finished(const WordMergeSettings& s) {
    if (s.oneFile) {
        if (m_services.ask(section(), QStringLiteral("String11")))
            m_services.shell.open(m_outputPath);
        return;
    }
    // The folder now holds this run's documents only, not the tail of an earlier, longer one.
    removeStaleDocuments(m_staleFiles);
    if (m_services.ask(section(), QStringLiteral("String12"))) {
        const QString folder = QFileInfo(m_outputPath).absolutePath();
        m_services.shell.open(QUrl::fromLocalFile(folder + QLatin1Char('/')).toString());
    }
}
