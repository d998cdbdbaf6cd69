#pragma once
#include "app/windowbase.h"
#include "mail/mailsettings.h"
#include "platform/settingsstore.h"

#include <QDialog>

#include <optional>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
struct Services;

// The mail-server options. Its fields are the settings in force for the whole process: the bulk
// dialog checks them and the sending run reads them from here, never from the store. They are
// loaded once at start-up and saved only when the dialog closes with OK; Cancel leaves what was
// typed in the fields (and so in force) while the store keeps the values last saved.
class TOptionsForm : public QDialog, public LocalizedWindow {
    Q_OBJECT
public:
    explicit TOptionsForm(Services& services, QWidget* parent = nullptr);

    QWidget* widget() override { return this; }
    void applyTexts(const Texts& texts) override;

    // Fills the fields from store and keeps it for the saves after OK.
    void loadSettings(const SettingsStore& store);

    MailServerFields fields() const;
    void setFields(const MailServerFields& fields);
    // The IMAP account of the mail-client mode's Save to Drafts, in force as the fields above are.
    ImapFields imapFields() const;
    void setImapFields(const ImapFields& fields);
    // The account a Save to Drafts uses now; complete or not.
    ImapAccount imapAccountInForce() const;

    // The options command of the main window and of the bulk dialog: shows the dialog and, when it
    // closes with OK, saves the fields. True after OK.
    bool showAndSave();

    QLabel* Label1;
    QLineEdit* EditEmail;
    QLabel* Label2;
    QLineEdit* EditSMTPServer;
    QLabel* Label3;
    QLineEdit* EditPort; // digits only, by typing or by pasting
    QLabel* Label4;
    QLineEdit* EditAccounts;
    QLabel* Label5;
    QLineEdit* EditPassword;
    QCheckBox* CheckBoxSSL;
    // Sign-in: 0 the password, 1 an OAuth 2 access token printed by EditTokenCommand's command.
    QLabel* LabelSignIn;
    QComboBox* ComboBoxSignIn;
    QLabel* LabelTokenCommand;
    QLineEdit* EditTokenCommand;

    QGroupBox* GroupBoxIMAP;
    QLabel* LabelIMAPServer;
    QLineEdit* EditIMAPServer;
    QLabel* LabelIMAPPort;
    QLineEdit* EditIMAPPort; // digits only, as EditPort
    QCheckBox* CheckBoxIMAPSSL;
    QLabel* LabelIMAPFolder;
    QLineEdit* EditIMAPFolder;
    QCheckBox* CheckBoxIMAPSameAccount; // checked: the SMTP account and password serve for IMAP
    QLabel* LabelIMAPAccounts;
    QLineEdit* EditIMAPAccounts;
    QLabel* LabelIMAPPassword;
    QLineEdit* EditIMAPPassword;

    QPushButton* ButtonOk;
    QPushButton* ButtonCancel;

public slots:
    void FormShow();
    // OK is enabled exactly when none of the five fields is blank (the token command standing in
    // for the password with a token sign-in); the IMAP fields play no part. Also enables the
    // password or the token command, and the IMAP account's own fields, as the choices say.
    void updateOkButton();

protected:
    void showEvent(QShowEvent* event) override;

private:
    std::optional<SettingsStore> m_store;
};
