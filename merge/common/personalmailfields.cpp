#include "merge/common/personalmailfields.h"

#include "app/languagefile.h"
#include "platform/blanks.h"
#include "platform/filedialogs.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QStyle>
#include <QToolButton>

namespace {
template <typename W>
W* named(QWidget* parent, const char* name) {
    auto* widget = new W(parent);
    widget->setObjectName(QLatin1String(name));
    return widget;
}

QComboBox* columnCombo(QWidget* parent, const char* name) {
    auto* combo = named<QComboBox>(parent, name);
    combo->addItem(QString()); // "None", captioned from the language file
    for (char c = 'A'; c <= 'Z'; ++c)
        combo->addItem(QString(QChar(c)));
    return combo;
}

QToolButton* previewButton(QWidget* parent, const char* name) {
    auto* button = named<QToolButton>(parent, name);
    button->setIcon(parent->style()->standardIcon(QStyle::SP_FileDialogContentsView));
    button->setAutoRaise(true);
    return button;
}
} // namespace

PersonalMailFields::PersonalMailFields(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("PersonalMailFields"));
    ComboAttach = columnCombo(this, "ComboAttach");
    PreviewAttach = previewButton(this, "PreviewAttach");
    ComboCc = columnCombo(this, "ComboCc");
    PreviewCc = previewButton(this, "PreviewCc");
    ComboBcc = columnCombo(this, "ComboBcc");
    PreviewBcc = previewButton(this, "PreviewBcc");
    LabelAttach = named<QLabel>(this, "LabelAttach");
    LabelAttach->setBuddy(ComboAttach);
    LabelCc = named<QLabel>(this, "LabelCc");
    LabelCc->setBuddy(ComboCc);
    LabelBcc = named<QLabel>(this, "LabelBcc");
    LabelBcc->setBuddy(ComboBcc);
    CheckSubjectLabels = named<QCheckBox>(this, "CheckSubjectLabels");
    CheckHtml = named<QCheckBox>(this, "CheckHtml");

    EditTemplate = named<QLineEdit>(this, "EditTemplate");
    ButtonTemplate = named<QToolButton>(this, "ButtonTemplate");
    ButtonTemplate->setIcon(style()->standardIcon(QStyle::SP_DirOpenIcon));
    ButtonTemplate->setAutoRaise(true);
    LabelTemplate = named<QLabel>(this, "LabelTemplate");
    LabelTemplate->setBuddy(EditTemplate);
    ComboFormat = named<QComboBox>(this, "ComboFormat");
    ComboFormat->addItem(QString());
    ComboFormat->addItem(QString());
    LabelFormat = named<QLabel>(this, "LabelFormat");
    LabelFormat->setBuddy(ComboFormat);
    EditName = named<QLineEdit>(this, "EditName");
    LabelName = named<QLabel>(this, "LabelName");
    LabelName->setBuddy(EditName);

    // Left: the three columns; right: the document; below, across: the two switches.
    for (QComboBox* combo : {ComboAttach, ComboCc, ComboBcc})
        combo->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    // The format's longest caption may be cut rather than the labels.
    ComboFormat->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    ComboFormat->setMinimumContentsLength(8);
    EditTemplate->setMinimumWidth(60);
    auto* grid = new QGridLayout(this);
    grid->addWidget(LabelAttach, 0, 0);
    grid->addWidget(ComboAttach, 0, 1);
    grid->addWidget(PreviewAttach, 0, 2);
    grid->addWidget(LabelCc, 1, 0);
    grid->addWidget(ComboCc, 1, 1);
    grid->addWidget(PreviewCc, 1, 2);
    grid->addWidget(LabelBcc, 2, 0);
    grid->addWidget(ComboBcc, 2, 1);
    grid->addWidget(PreviewBcc, 2, 2);
    grid->setColumnMinimumWidth(3, 16);
    grid->addWidget(LabelTemplate, 0, 4);
    grid->addWidget(EditTemplate, 0, 5);
    grid->addWidget(ButtonTemplate, 0, 6);
    grid->addWidget(LabelFormat, 1, 4);
    grid->addWidget(ComboFormat, 1, 5, 1, 2);
    grid->addWidget(LabelName, 2, 4);
    grid->addWidget(EditName, 2, 5, 1, 2);
    grid->addWidget(CheckSubjectLabels, 3, 0, 1, 7);
    grid->addWidget(CheckHtml, 4, 0, 1, 7);
    grid->setColumnStretch(5, 1);
    grid->setRowStretch(5, 1);

    connect(EditTemplate, &QLineEdit::textChanged, this, &PersonalMailFields::updateDocumentFields);
    updateDocumentFields();
}

void PersonalMailFields::applyTexts(const Texts& texts, const QString& section) {
    auto t = [&texts, &section](const char* key) { return texts.text(section, QLatin1String(key)); };
    LabelAttach->setText(t("AttachColumn"));
    LabelCc->setText(t("CcColumn"));
    LabelBcc->setText(t("BccColumn"));
    for (QComboBox* combo : {ComboAttach, ComboCc, ComboBcc})
        combo->setItemText(0, t("ColumnNone"));
    for (QToolButton* button : {PreviewAttach, PreviewCc, PreviewBcc})
        button->setToolTip(t("Preview"));
    CheckSubjectLabels->setText(t("SubjectLabels"));
    CheckHtml->setText(t("HtmlBody"));
    LabelTemplate->setText(t("DocumentTemplate"));
    LabelFormat->setText(t("DocumentFormat"));
    ComboFormat->setItemText(0, t("FormatPdf"));
    ComboFormat->setItemText(1, t("FormatDocx"));
    LabelName->setText(t("DocumentName"));
}

void PersonalMailFields::clear() {
    for (QComboBox* combo : {ComboAttach, ComboCc, ComboBcc, ComboFormat})
        combo->setCurrentIndex(0);
    CheckSubjectLabels->setChecked(false);
    CheckHtml->setChecked(false);
    EditTemplate->clear();
    EditName->clear();
}

PersonalMail PersonalMailFields::settings() const {
    PersonalMail p;
    // Item 0 is "None", item n the letter n, which is also the column's number.
    p.attachColumn = ComboAttach->currentIndex();
    p.ccColumn = ComboCc->currentIndex();
    p.bccColumn = ComboBcc->currentIndex();
    p.subjectLabels = CheckSubjectLabels->isChecked();
    p.html = CheckHtml->isChecked();
    p.documentTemplate = trimBlanks(EditTemplate->text());
    p.documentFormat =
        ComboFormat->currentIndex() == 1 ? PersonalMail::DocumentFormat::Docx : PersonalMail::DocumentFormat::Pdf;
    p.documentName = trimBlanks(EditName->text());
    return p;
}

QComboBox* PersonalMailFields::columnOf(const QAbstractButton* button) const {
    if (button == PreviewAttach)
        return ComboAttach;
    if (button == PreviewCc)
        return ComboCc;
    if (button == PreviewBcc)
        return ComboBcc;
    return nullptr;
}

QString PersonalMailFields::markerKeyOf(const QAbstractButton* button) const {
    if (button == PreviewAttach)
        return QStringLiteral("AttachColumn2");
    if (button == PreviewCc)
        return QStringLiteral("CcColumn2");
    if (button == PreviewBcc)
        return QStringLiteral("BccColumn2");
    return {};
}

void PersonalMailFields::chooseTemplate(FileDialogs& files, const QString& filter) {
    const QString chosen = files.openFileName(filter);
    if (!chosen.isEmpty())
        EditTemplate->setText(chosen);
}

// The format and the name mean something only once there is a template.
void PersonalMailFields::updateDocumentFields() {
    const bool document = !trimBlanks(EditTemplate->text()).isEmpty();
    for (QWidget* w : std::initializer_list<QWidget*>{LabelFormat, ComboFormat, LabelName, EditName})
        w->setEnabled(document);
}
