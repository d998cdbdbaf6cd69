#include "merge/excel/formexcelprogress.h"

#include "app/services.h"

#include <QTimer>

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

void TExcelProgressForm::Timer1Timer() {
    Timer1->stop();
    // The run itself comes with the Excel-to-Excel merge's window work.
}
