#include "merge/excel/formexcelprogress.h"

#include "app/services.h"

#include <QTimer>

#include <exception>

TExcelProgressForm::TExcelProgressForm(Services& services, QWidget* parent) : TRunForm(services, parent) {
    setObjectName(QStringLiteral("ExcelProgressForm"));
    publishObjectNames(this);
}

ExcelMergeSettings TExcelProgressForm::settings() const {
    ExcelMergeSettings s = m_settings ? m_settings() : ExcelMergeSettings{};
    s.outputPath = m_outputPath;
    return s;
}

QList<RunReport::Column> TExcelProgressForm::reportColumns() const {
    QList<RunReport::Column> columns{
        {m_services.text(QStringLiteral("ListView"), QStringLiteral("IndexColumn")), 120}};
    const QList<FillInPair> pairs = settings().pairs;
    for (const FillInPair& pair : pairs) {
        const QString letter = pair.destColumn >= 1 && pair.destColumn <= 26
                                   ? QString(QChar(u'A' + pair.destColumn - 1))
                                   : QString();
        columns.append({letter, 100});
    }
    return columns;
}

// The engine's view of the dialog: the frame's duties after each record and its stop flag.
class TExcelProgressForm::RunSink : public ExcelMergeSink {
public:
    explicit RunSink(TExcelProgressForm& form) : m_form(form) {}
    void recordsBegin() override { m_form.showRecordsStatus(); }
    void recordDone(const QStringList& subItems, int image, int row, int lastRow) override {
        m_form.recordDone(subItems, image, row, lastRow);
    }
    bool stopRequested() override { return m_form.stopFlag(); }

private:
    TExcelProgressForm& m_form;
};

void TExcelProgressForm::Timer1Timer() {
    Timer1->stop();
    beginCounters();
    RunSink sink(*this);
    ExcelMergeResult result;
    // The dialog only closes once the run has ended; nothing may leave it open and unclosable.
    try {
        result = runExcelMerge(settings(), sink);
    } catch (const std::exception& e) {
        result.outcome = ExcelMergeOutcome::Failed;
        result.cause = QString::fromLocal8Bit(e.what());
    }

    switch (result.outcome) {
    case ExcelMergeOutcome::Finished:
        if (m_services.ask(section(), QStringLiteral("String11")))
            m_services.shell.open(m_outputPath);
        break;
    case ExcelMergeOutcome::Cancelled:
        break;
    case ExcelMergeOutcome::SourceSheetMissing:
        m_services.notice(section(), QStringLiteral("String08"));
        break;
    case ExcelMergeOutcome::DestSheetMissing:
        m_services.notice(section(), QStringLiteral("String09"));
        break;
    case ExcelMergeOutcome::Failed:
        m_services.prompter.error(m_services.text(QStringLiteral("Common"), QStringLiteral("Error")),
                                  modeText(QStringLiteral("String10")), result.cause);
        break;
    }
    finish();
}
