#include "merge/common/formoptions.h"

#include "app/services.h"

#include <QCheckBox>
#include <QFormLayout>
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
    setFixedSize(321, 307);

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

    ButtonOk = new QPushButton(QStringLiteral("OK"), this);
    ButtonOk->setObjectName(QStringLiteral("ButtonOk"));
    ButtonOk->setDefault(true);
    connect(ButtonOk, &QPushButton::clicked, this, &QDialog::accept);
    ButtonCancel = new QPushButton(QStringLiteral("Cancel"), this);
    ButtonCancel->setObjectName(QStringLiteral("ButtonCancel"));
    connect(ButtonCancel, &QPushButton::clicked, this, &QDialog::reject);

    // Labels above their fields, as a column down the dialog.
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 12, 16, 12);
    layout->setSpacing(2);
    const std::pair<QLabel*, QLineEdit*> rows[] = {{Label1, EditEmail},
                                                   {Label2, EditSMTPServer},
                                                   {Label3, EditPort},
                                                   {Label4, EditAccounts},
                                                   {Label5, EditPassword}};
    for (const auto& row : rows) {
        layout->addWidget(row.first);
        layout->addWidget(row.second);
        layout->addSpacing(6);
    }
    layout->addWidget(CheckBoxSSL);
    layout->addStretch();
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
    ButtonOk->setText(texts.text(QStringLiteral("Common"), QStringLiteral("Ok")));
    ButtonCancel->setText(texts.text(QStringLiteral("Common"), QStringLiteral("Cancel")));
}

void TOptionsForm::loadSettings(const SettingsStore& store) {
    m_store = store;
    setFields(loadMailServerFields(store));
}

MailServerFields TOptionsForm::fields() const {
    MailServerFields f;
    f.email = EditEmail->text();
    f.host = EditSMTPServer->text();
    f.port = EditPort->text();
    f.account = EditAccounts->text();
    f.password = EditPassword->text();
    f.ssl = CheckBoxSSL->isChecked();
    return f;
}

void TOptionsForm::setFields(const MailServerFields& f) {
    EditEmail->setText(f.email);
    EditSMTPServer->setText(f.host);
    EditPort->setText(f.port);
    EditAccounts->setText(f.account);
    EditPassword->setText(f.password);
    CheckBoxSSL->setChecked(f.ssl);
}

bool TOptionsForm::showAndSave() {
    if (exec() != QDialog::Accepted)
        return false;
    if (m_store)
        saveMailServerFields(*m_store, fields());
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
    ButtonOk->setEnabled(isComplete(fields()));
}
