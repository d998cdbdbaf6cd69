#pragma once
#include "merge/common/runform.h"
#include "merge/word/wordmerge.h"

#include <functional>

// The run dialog of the Excel-to-Word merge. The command hands it the output path; the settings
// come from the settings dialog at the moment they are needed, through the settings source.
class TWordProgressForm : public TRunForm {
    Q_OBJECT
public:
    using SettingsSource = std::function<WordMergeSettings()>;

    explicit TWordProgressForm(Services& services, QWidget* parent = nullptr);

    void setSettingsSource(SettingsSource source) { m_settings = std::move(source); }
    void setOutputPath(const QString& path) { m_outputPath = path; }
    QString outputPath() const { return m_outputPath; }
    // One file: the existing file at the output path that the user agreed to replace, or empty.
    // It is kept until the run has finished, which replaces it in a single rename; a run that is
    // cancelled or fails leaves it as it was.
    void setReplacedFile(const QString& path) { m_replacedFile = path; }
    // Multiple files: the earlier numbered documents (NumberedFiles::stale) the user agreed to
    // have removed; removed once the run has finished, kept by a run that is cancelled or fails.
    void setStaleFiles(const QStringList& paths) { m_staleFiles = paths; }

    // How the last run ended.
    WordMergeOutcome outcome() const { return m_outcome; }

public slots:
    void Timer1Timer() override;

protected:
    QString section() const override { return QStringLiteral("WordProgressForm"); }
    QString showStatusKey() const override { return QStringLiteral("String06"); }
    QString recordsStatusKey() const override { return QStringLiteral("String07"); }
    // One column per fill-in pair, captioned "Field " and the pair's number.
    QList<RunReport::Column> reportColumns() const override;
    void prepareRun() override;

    WordMergeSettings settings() const;

private:
    class RunSink;

    void finished(const WordMergeSettings& settings);

    SettingsSource m_settings;
    QString m_outputPath;
    QString m_replacedFile;
    QStringList m_staleFiles;
    WordMergeOutcome m_outcome = WordMergeOutcome::Cancelled;
};
