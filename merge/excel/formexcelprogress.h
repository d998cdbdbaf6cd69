#pragma once
#include "merge/common/runform.h"
#include "merge/excel/excelmerge.h"

#include <functional>

// The run dialog of the Excel-to-Excel merge. The command hands it the output path; the settings
// come from the settings dialog at the moment they are needed, through the settings source.
class TExcelProgressForm : public TRunForm {
    Q_OBJECT
public:
    using SettingsSource = std::function<ExcelMergeSettings()>;

    explicit TExcelProgressForm(Services& services, QWidget* parent = nullptr);

    void setSettingsSource(SettingsSource source) { m_settings = std::move(source); }
    void setOutputPath(const QString& path) { m_outputPath = path; }
    QString outputPath() const { return m_outputPath; }

public slots:
    void Timer1Timer() override;

protected:
    QString section() const override { return QStringLiteral("ExcelProgressForm"); }
    QString showStatusKey() const override { return QStringLiteral("String06"); }
    QString recordsStatusKey() const override { return QStringLiteral("String07"); }
    // The index column, then one column per fill-in pair captioned with its destination letter.
    QList<RunReport::Column> reportColumns() const override;

    ExcelMergeSettings settings() const;

private:
    class RunSink;

    SettingsSource m_settings;
    QString m_outputPath;
};
