#pragma once
#include "merge/common/runform.h"
#include "merge/outlook/outlookmerge.h"

#include <functional>

// The run dialog of the mail-client merge: the whole run in one tick, each message saved into the
// outbox or handed to the system mailer as the command's save mode says. The settings come from
// the settings dialog and the sender from the mail settings at the moment the run needs them.
class TOutlookProgressForm : public TRunForm {
    Q_OBJECT
public:
    using SettingsSource = std::function<OutlookMergeSettings()>;
    using SenderSource = std::function<QString()>;
    using ImapSource = std::function<ImapAccount()>;

    explicit TOutlookProgressForm(Services& services, QWidget* parent = nullptr);

    void setSettingsSource(SettingsSource source) { m_settings = std::move(source); }
    void setSenderSource(SenderSource source) { m_sender = std::move(source); }
    // The IMAP account in force, for a Save into Drafts.
    void setImapSource(ImapSource source) { m_imap = std::move(source); }
    ImapAccount imapAccount() const { return m_imap ? m_imap() : ImapAccount{}; }
    // Save mode only: into the account's Drafts folder instead of the outbox.
    void setSaveToDrafts(bool drafts) { m_saveToDrafts = drafts; }
    // True: save into the outbox (true when created); false: send.
    void setSaveMode(bool save) { m_saveMode = save; }
    bool saveMode() const { return m_saveMode; }

public slots:
    void Timer1Timer() override;

protected:
    QString section() const override { return QStringLiteral("OutlookProgressForm"); }
    QString showStatusKey() const override { return QStringLiteral("String03"); }
    QString recordsStatusKey() const override { return QStringLiteral("String04"); }
    // Mail to, then one "Field n" per pair.
    QList<RunReport::Column> reportColumns() const override;

    OutlookMergeSettings settings() const;

private:
    class RunSink;

    SettingsSource m_settings;
    SenderSource m_sender;
    ImapSource m_imap;
    bool m_saveMode = true;
    bool m_saveToDrafts = false;
};
