#include "merge/common/formoptions.h"

#include "app/services.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <QValidator>

namespace {
const QString kSection = QStringLiteral("OptionsForm");

// The port takes digits and nothing else. A typed letter or sign is dropped; a pasted text that
// holds anything but digits is refused whole rather than cut into some other number.
class DigitsValidator : public QValidator {
public:
    using QValidator::QValidator;
    State validate(QString& input, int&) const override {
        for (const QChar c : std::as_const(input))
            if (c < u'0' || c > u'9')
                return Invalid;
        return Acceptable;
    }
};
} // namespace

TOptionsForm::TOptionsForm(Services&, QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("OptionsForm"));
    setWindowTitle(QStringLiteral("Mail Server Options"));
    setFixedSize(660, 400);

    auto edit = [this](const char* name) {
        auto* e = new QLineEdit(this);
        e->setObjectName(QLatin1String(name));
        connect(e, &QLineEdit::textChanged, this, &TOptionsForm::updateOkButton);
        return e;
    };
    auto label = [this](const char* name, const char* text, QLineEdit* buddy) {
        auto* l = new QLabel(QLatin1String(text), this);
        l->setObjectName(QLatin1String(name));
        l->setBuddy(buddy);
        return l;
    };
    EditEmail = edit("EditEmail");
    EditSMTPServer = edit("EditSMTPServer");
    EditPort = edit("EditPort");
    EditPort->setValidator(new DigitsValidator(EditPort));
    EditAccounts = edit("EditAccounts");
    EditPassword = edit("EditPassword");
    EditPassword->setEchoMode(QLineEdit::Password);
    EditPassword->setStyleSheet(QStringLiteral("lineedit-password-character: 42")); // "*"
    Label1 = label("Label1", "E-mail:", EditEmail);
    Label2 = label("Label2", "SMTP Server:", EditSMTPServer);
    Label3 = label("Label3", "Port:", EditPort);
    Label4 = label("Label4", "Accounts:", EditAccounts);
    Label5 = label("Label5", "Password:", EditPassword);

    CheckBoxSSL = new QCheckBox(QStringLiteral("Use SSL for security on this server"), this);
    CheckBoxSSL->setObjectName(QStringLiteral("CheckBoxSSL"));

    ComboBoxSignIn = new QComboBox(this);
    ComboBoxSignIn->setObjectName(QStringLiteral("ComboBoxSignIn"));
    ComboBoxSignIn->addItems({QStringLiteral("Password"), QStringLiteral("OAuth 2 access token from a command")});
    connect(ComboBoxSignIn, &QComboBox::currentIndexChanged, this, &TOptionsForm::updateOkButton);
    LabelSignIn = new QLabel(QStringLiteral("Sign in with:"), this);
    LabelSignIn->setObjectName(QStringLiteral("LabelSignIn"));
    LabelSignIn->setBuddy(ComboBoxSignIn);
    EditTokenCommand = edit("EditTokenCommand");
    LabelTokenCommand = label("LabelTokenCommand", "Token command:", EditTokenCommand);

    GroupBoxIMAP = new QGroupBox(QStringLiteral("Drafts on the mail server (IMAP)"), this);
    GroupBoxIMAP->setObjectName(QStringLiteral("GroupBoxIMAP"));
    EditIMAPServer = edit("EditIMAPServer");
    EditIMAPPort = edit("EditIMAPPort");
    EditIMAPPort->setValidator(new DigitsValidator(EditIMAPPort));
    EditIMAPFolder = edit("EditIMAPFolder");
    EditIMAPAccounts = edit("EditIMAPAccounts");
    EditIMAPPassword = edit("EditIMAPPassword");
    EditIMAPPassword->setEchoMode(QLineEdit::Password);
    EditIMAPPassword->setStyleSheet(QStringLiteral("lineedit-password-character: 42"));
    LabelIMAPServer = label("LabelIMAPServer", "IMAP Server:", EditIMAPServer);
    LabelIMAPPort = label("LabelIMAPPort", "Port:", EditIMAPPort);
    LabelIMAPFolder = label("LabelIMAPFolder", "Folder:", EditIMAPFolder);
    LabelIMAPAccounts = label("LabelIMAPAccounts", "Account:", EditIMAPAccounts);
    LabelIMAPPassword = label("LabelIMAPPassword", "Password:", EditIMAPPassword);
    CheckBoxIMAPSSL = new QCheckBox(QStringLiteral("Use SSL (993: TLS at once, other ports: STARTTLS)"), this);
    CheckBoxIMAPSSL->setObjectName(QStringLiteral("CheckBoxIMAPSSL"));
    CheckBoxIMAPSameAccount = new QCheckBox(QStringLiteral("Sign in with the SMTP account"), this);
    CheckBoxIMAPSameAccount->setObjectName(QStringLiteral("CheckBoxIMAPSameAccount"));
    connect(CheckBoxIMAPSameAccount, &QCheckBox::toggled, this, &TOptionsForm::updateOkButton);

    ButtonOk = new QPushButton(QStringLiteral("OK"), this);
    ButtonOk->setObjectName(QStringLiteral("ButtonOk"));
    ButtonOk->setDefault(true);
    connect(ButtonOk, &QPushButton::clicked, this, &QDialog::accept);
    ButtonCancel = new QPushButton(QStringLiteral("Cancel"), this);
    ButtonCancel->setObjectName(QStringLiteral("ButtonCancel"));
    connect(ButtonCancel, &QPushButton::clicked, this, &QDialog::reject);

    // Labels above their fields, as a column down the dialog: the SMTP server on the left, the
    // IMAP server of the drafts on the right.
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 12, 16, 12);
    auto* columns = new QHBoxLayout;
    columns->setSpacing(16);
    layout->addLayout(columns, 1);
    auto* smtp = new QVBoxLayout;
    smtp->setSpacing(2);
    columns->addLayout(smtp, 1);
    const auto addRow = [](QVBoxLayout* column, QLabel* label, QWidget* field) {
        column->addWidget(label);
        column->addWidget(field);
        column->addSpacing(6);
    };
    addRow(smtp, Label1, EditEmail);
    addRow(smtp, Label2, EditSMTPServer);
    addRow(smtp, Label3, EditPort);
    addRow(smtp, Label4, EditAccounts);
    addRow(smtp, LabelSignIn, ComboBoxSignIn);
    addRow(smtp, Label5, EditPassword);
    addRow(smtp, LabelTokenCommand, EditTokenCommand);
    smtp->addWidget(CheckBoxSSL);
    smtp->addStretch();

    auto* imap = new QVBoxLayout(GroupBoxIMAP);
    imap->setSpacing(2);
    columns->addWidget(GroupBoxIMAP, 1);
    addRow(imap, LabelIMAPServer, EditIMAPServer);
    addRow(imap, LabelIMAPPort, EditIMAPPort);
    imap->addWidget(CheckBoxIMAPSSL);
    imap->addSpacing(6);
    addRow(imap, LabelIMAPFolder, EditIMAPFolder);
    imap->addWidget(CheckBoxIMAPSameAccount);
    imap->addSpacing(6);
    addRow(imap, LabelIMAPAccounts, EditIMAPAccounts);
    addRow(imap, LabelIMAPPassword, EditIMAPPassword);
    imap->addStretch();
    setImapFields(ImapFields{});
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ButtonOk);
    buttons->addWidget(ButtonCancel);
    layout->addLayout(buttons);

    updateOkButton();
    publishObjectNames(this);
}

void TOptionsForm::applyTexts(const Texts& texts) {
    auto t = [&texts](const char* key) { return texts.text(kSection, QLatin1String(key)); };
    setWindowTitle(t("Caption"));
    Label1->setText(t("Email"));
    Label2->setText(t("SMTPServer"));
    Label3->setText(t("Port"));
    Label4->setText(t("Accounts"));
    Label5->setText(t("Password"));
    CheckBoxSSL->setText(t("SSL"));
    LabelSignIn->setText(t("SignIn"));
    ComboBoxSignIn->setItemText(0, t("SignInPassword"));
    ComboBoxSignIn->setItemText(1, t("SignInToken"));
    LabelTokenCommand->setText(t("TokenCommand"));
    GroupBoxIMAP->setTitle(t("IMAPGroup"));
    LabelIMAPServer->setText(t("IMAPServer"));
    LabelIMAPPort->setText(t("IMAPPort"));
    CheckBoxIMAPSSL->setText(t("IMAPSSL"));
    LabelIMAPFolder->setText(t("IMAPFolder"));
    CheckBoxIMAPSameAccount->setText(t("IMAPSameAccount"));
    LabelIMAPAccounts->setText(t("IMAPAccounts"));
    LabelIMAPPassword->setText(t("IMAPPassword"));
    ButtonOk->setText(texts.text(QStringLiteral("Common"), QStringLiteral("Ok")));
    ButtonCancel->setText(texts.text(QStringLiteral("Common"), QStringLiteral("Cancel")));
}

void TOptionsForm::loadSettings(const SettingsStore& store) {
    m_store = store;
    setFields(loadMailServerFields(store));
    setImapFields(loadImapFields(store));
}

MailServerFields TOptionsForm::fields() const {
    MailServerFields f;
    f.email = EditEmail->text();
    f.host = EditSMTPServer->text();
    f.port = EditPort->text();
    f.account = EditAccounts->text();
    f.password = EditPassword->text();
    f.ssl = CheckBoxSSL->isChecked();
    f.oauth2 = ComboBoxSignIn->currentIndex() == 1;
    f.tokenCommand = EditTokenCommand->text();
    return f;
}

void TOptionsForm::setFields(const MailServerFields& f) {
    EditEmail->setText(f.email);
    EditSMTPServer->setText(f.host);
    EditPort->setText(f.port);
    EditAccounts->setText(f.account);
    EditPassword->setText(f.password);
    CheckBoxSSL->setChecked(f.ssl);
    ComboBoxSignIn->setCurrentIndex(f.oauth2 ? 1 : 0);
    EditTokenCommand->setText(f.tokenCommand);
}

ImapFields TOptionsForm::imapFields() const {
    ImapFields f;
    f.host = EditIMAPServer->text();
    f.port = EditIMAPPort->text();
    f.ssl = CheckBoxIMAPSSL->isChecked();
    f.folder = EditIMAPFolder->text();
    f.ownAccount = !CheckBoxIMAPSameAccount->isChecked();
    f.account = EditIMAPAccounts->text();
    f.password = EditIMAPPassword->text();
    return f;
}

void TOptionsForm::setImapFields(const ImapFields& f) {
    EditIMAPServer->setText(f.host);
    EditIMAPPort->setText(f.port.isEmpty() ? QStringLiteral("993") : f.port);
    CheckBoxIMAPSSL->setChecked(f.ssl);
    EditIMAPFolder->setText(f.folder.isEmpty() ? QStringLiteral("Drafts") : f.folder);
    CheckBoxIMAPSameAccount->setChecked(!f.ownAccount);
    EditIMAPAccounts->setText(f.account);
    EditIMAPPassword->setText(f.password);
}

ImapAccount TOptionsForm::imapAccountInForce() const {
    return imapAccount(imapFields(), fields());
}

bool TOptionsForm::showAndSave() {
    if (exec() != QDialog::Accepted)
        return false;
    if (m_store) {
        saveMailServerFields(*m_store, fields());
        saveImapFields(*m_store, imapFields());
    }
    return true;
}

void TOptionsForm::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    FormShow();
}

void TOptionsForm::FormShow() {
    updateOkButton();
}

void TOptionsForm::updateOkButton() {
    const bool token = ComboBoxSignIn->currentIndex() == 1;
    EditPassword->setEnabled(!token);
    EditTokenCommand->setEnabled(token);
    const bool own = !CheckBoxIMAPSameAccount->isChecked();
    EditIMAPAccounts->setEnabled(own);
    EditIMAPPassword->setEnabled(own && !token);
    ButtonOk->setEnabled(isComplete(fields()));
}
