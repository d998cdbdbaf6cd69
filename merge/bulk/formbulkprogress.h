#pragma once
#include "merge/bulk/bulkrun.h"
#include "merge/common/runform.h"

#include <functional>
#include <memory>

// The run dialog of bulk mail: one message per tick of its timer, whose interval is the job's pause
// between two messages (1000 ms unless the job says otherwise), until the job's limit if it has one. The first tick opens the
// workbook; every tick finds the next row with a usable address, adds its report line as pending,
// sends the message over a connection of its own and marks the line sent or failed with the
// server's words. Cancel is seen at the end of a tick, so a Cancel between two ticks lets one more
// message go. The workbook stays open between ticks and is released when the dialog closes.
//
// The exchange with the server runs on a thread of its own while the tick waits in an event loop,
// so the dialog keeps painting and Cancel is taken at once; the dialog does not close until the
// exchange is over, whatever asks it to.
class TBulkProgressForm : public TRunForm {
    Q_OBJECT
public:
    using JobSource = std::function<BulkJob()>;
    using ServerSource = std::function<MailServerSettings()>;

    explicit TBulkProgressForm(Services& services, QWidget* parent = nullptr);
    ~TBulkProgressForm() override;

    // Where a run takes its job and the server settings from when it is shown: the bulk dialog's
    // and the options dialog's controls.
    void setJobSource(JobSource source) { m_jobSource = std::move(source); }
    void setServerSource(ServerSource source) { m_serverSource = std::move(source); }

    bool sending() const { return m_sending; }

public slots:
    void Timer1Timer() override;

protected:
    QString section() const override { return QStringLiteral("BulkProgressForm"); }
    QString showStatusKey() const override { return QStringLiteral("String04"); }
    QString recordsStatusKey() const override { return QStringLiteral("String05"); }
    // Mail to, one "Field n" per pair, Comment.
    QList<RunReport::Column> reportColumns() const override;
    bool countersOnShow() const override { return true; }
    void prepareRun() override;
    void runClosed() override;

    void closeEvent(QCloseEvent* event) override;
    void done(int result) override;

private:
    bool startJournal();
    bool makeDocuments();
    bool openWorkbook();
    SendResult sendWaiting(const Recipient& recipient);
    void endWith(const QString& key, const QString& detail = {});

    JobSource m_jobSource;
    ServerSource m_serverSource;
    int m_pairCount = 0;
    std::unique_ptr<BulkRun> m_run;
    std::unique_ptr<MailingJournal> m_journal;
    BulkJob m_job;
    MailServerSettings m_server;
    bool m_opened = false;
    bool m_sending = false;
    int m_messages = 0; // handed to the server in this run, for the job's limit
};
