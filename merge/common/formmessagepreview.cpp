#include "merge/common/formmessagepreview.h"

#include "app/services.h"
#include "mail/messageview.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QLocale>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QStyle>
#include <QTabWidget>
#include <QTextBrowser>
#include <QVBoxLayout>

#include <algorithm>

namespace {
const QString kSection = QStringLiteral("MessagePreviewForm");

template <typename W>
W* named(QWidget* parent, const char* name) {
    auto* widget = new W(parent);
    widget->setObjectName(QLatin1String(name));
    return widget;
}

QLabel* valueLabel(QWidget* parent, const char* name) {
    auto* label = named<QLabel>(parent, name);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    return label;
}
} // namespace

TMessagePreviewForm::TMessagePreviewForm(Services& services, QWidget* parent)
    : QDialog(parent), m_services(services) {
    setObjectName(QStringLiteral("MessagePreviewForm"));
    resize(620, 520);

    LabelRow = named<QLabel>(this, "LabelRow");
    SpinRow = named<QSpinBox>(this, "SpinRow");
    SpinRow->setRange(1, 1048576);
    SpinRow->setKeyboardTracking(false);
    LabelRow->setBuddy(SpinRow);
    LabelOf = named<QLabel>(this, "LabelOf");
    ButtonPrevious = named<QPushButton>(this, "ButtonPrevious");
    ButtonNext = named<QPushButton>(this, "ButtonNext");
    auto* paging = new QHBoxLayout;
    paging->addWidget(LabelRow);
    paging->addWidget(SpinRow);
    paging->addWidget(LabelOf);
    paging->addStretch();
    paging->addWidget(ButtonPrevious);
    paging->addWidget(ButtonNext);

    LabelWarnings = named<QLabel>(this, "LabelWarnings");
    LabelWarnings->setTextFormat(Qt::PlainText);
    LabelWarnings->setWordWrap(true);
    LabelWarnings->setFrameShape(QFrame::StyledPanel);
    LabelWarnings->setStyleSheet(QStringLiteral("QLabel { background: #fff4ce; color: #5c3c00; padding: 4px; }"));

    LabelFrom = named<QLabel>(this, "LabelFrom");
    ValueFrom = valueLabel(this, "ValueFrom");
    LabelTo = named<QLabel>(this, "LabelTo");
    ValueTo = valueLabel(this, "ValueTo");
    LabelCc = named<QLabel>(this, "LabelCc");
    ValueCc = valueLabel(this, "ValueCc");
    LabelSubject = named<QLabel>(this, "LabelSubject");
    ValueSubject = valueLabel(this, "ValueSubject");
    auto* headers = new QFormLayout;
    headers->addRow(LabelFrom, ValueFrom);
    headers->addRow(LabelTo, ValueTo);
    headers->addRow(LabelCc, ValueCc);
    headers->addRow(LabelSubject, ValueSubject);

    Pages = named<QTabWidget>(this, "Pages");
    MemoText = named<QPlainTextEdit>(Pages, "MemoText");
    MemoText->setReadOnly(true);
    BrowserHtml = named<QTextBrowser>(Pages, "BrowserHtml");
    // Links are shown, never followed, and nothing is fetched from elsewhere.
    BrowserHtml->setOpenLinks(false);
    BrowserHtml->setOpenExternalLinks(false);
    Pages->addTab(MemoText, QString());
    Pages->addTab(BrowserHtml, QString());

    LabelAttachments = named<QLabel>(this, "LabelAttachments");
    ListAttachments = named<QListWidget>(this, "ListAttachments");
    ListAttachments->setMaximumHeight(72);
    LabelAttachments->setBuddy(ListAttachments);

    ButtonSendTest = named<QPushButton>(this, "ButtonSendTest");
    ButtonClose = named<QPushButton>(this, "ButtonClose");
    ButtonClose->setDefault(true);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(ButtonSendTest);
    buttons->addStretch();
    buttons->addWidget(ButtonClose);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(paging);
    layout->addWidget(LabelWarnings);
    layout->addLayout(headers);
    layout->addWidget(Pages, 1);
    layout->addWidget(LabelAttachments);
    layout->addWidget(ListAttachments);
    layout->addLayout(buttons);

    connect(ButtonPrevious, &QPushButton::clicked, this, [this] { showIndex(m_index - 1); });
    connect(ButtonNext, &QPushButton::clicked, this, [this] { showIndex(m_index + 1); });
    connect(SpinRow, &QSpinBox::valueChanged, this, &TMessagePreviewForm::SpinRowChanged);
    connect(ButtonSendTest, &QPushButton::clicked, this, &TMessagePreviewForm::ButtonSendTestClick);
    connect(ButtonClose, &QPushButton::clicked, this, &QDialog::accept);
    publishObjectNames(this);
    showIndex(-1);
}

void TMessagePreviewForm::applyTexts(const Texts& texts) {
    auto t = [&texts](const char* key) { return texts.text(kSection, QLatin1String(key)); };
    setWindowTitle(t("Caption"));
    LabelRow->setText(t("Row"));
    ButtonPrevious->setText(t("Previous"));
    ButtonNext->setText(t("Next"));
    LabelFrom->setText(t("From"));
    LabelTo->setText(t("To"));
    LabelCc->setText(t("Cc"));
    LabelSubject->setText(t("Subject"));
    Pages->setTabText(0, t("Text"));
    Pages->setTabText(1, t("Html"));
    LabelAttachments->setText(t("Attachments"));
    ButtonSendTest->setText(t("SendTest"));
    ButtonClose->setText(t("Close"));
    if (m_index >= 0)
        showIndex(m_index);
}

void TMessagePreviewForm::setSource(MessagePreviewSource* source) {
    m_source = source;
    m_index = -1;
    showIndex(0);
}

void TMessagePreviewForm::setTestSender(std::function<QString(const PreviewedRow&)> sender) {
    m_testSender = std::move(sender);
}

void TMessagePreviewForm::showIndex(int index) {
    const int count = m_source ? m_source->count() : 0;
    m_index = count == 0 ? -1 : std::clamp(index, 0, count - 1);
    m_shown = m_index >= 0 && m_source ? m_source->at(m_index) : PreviewedRow{};
    const MessageView view = viewMessage(m_shown.message);
    {
        const QSignalBlocker block(SpinRow);
        SpinRow->setValue(m_shown.row > 0 ? m_shown.row : 1);
    }
    SpinRow->setEnabled(count > 0);
    LabelOf->setText(m_services.text(kSection, QStringLiteral("Of"))
                         .replace(QLatin1String("[xxx]"), QString::number(std::max(0, m_index + 1)))
                         .replace(QLatin1String("[count]"), QString::number(count)));
    ButtonPrevious->setEnabled(m_index > 0);
    ButtonNext->setEnabled(m_index >= 0 && m_index + 1 < count);

    QStringList warnings = m_shown.warnings;
    if (m_index >= 0 && m_shown.message.isEmpty() && warnings.isEmpty())
        warnings << m_services.text(kSection, QStringLiteral("NoMessage"));
    LabelWarnings->setText(warnings.join(QLatin1Char('\n')));
    LabelWarnings->setVisible(!warnings.isEmpty());

    const bool message = view.parsed && !m_shown.message.isEmpty();
    ValueFrom->setText(message ? view.from : QString());
    ValueTo->setText(message ? view.to : QString());
    ValueCc->setText(message ? view.cc : QString());
    LabelCc->setVisible(!ValueCc->text().isEmpty());
    ValueCc->setVisible(!ValueCc->text().isEmpty());
    ValueSubject->setText(message ? view.subject : QString());
    MemoText->setPlainText(message ? view.text : QString());
    BrowserHtml->setHtml(message ? view.html : QString());
    Pages->setTabEnabled(1, message && !view.html.isEmpty());
    if (!Pages->isTabEnabled(1))
        Pages->setCurrentIndex(0);
    ListAttachments->clear();
    if (message) {
        const QLocale locale;
        for (const MessageView::File& file : view.files)
            ListAttachments->addItem(QStringLiteral("%1 (%2)").arg(file.name, locale.formattedDataSize(file.size)));
    }
    ButtonSendTest->setEnabled(message && bool(m_testSender));
}

// A typed row goes to that row when it is a recipient, else to the first recipient row after it
// (the last one when none follows).
void TMessagePreviewForm::SpinRowChanged(int row) {
    if (!m_source)
        return;
    int low = 0, high = m_source->count(); // the first index whose row is not below the typed one
    while (low < high) {
        const int middle = low + (high - low) / 2;
        if (m_source->rowAt(middle) < row)
            low = middle + 1;
        else
            high = middle;
    }
    showIndex(std::min(low, m_source->count() - 1));
}

void TMessagePreviewForm::ButtonSendTestClick() {
    if (!m_testSender || m_shown.message.isEmpty())
        return;
    const QString failure = m_testSender(m_shown);
    if (failure.isEmpty())
        m_services.notice(kSection, QStringLiteral("TestSent"));
    else
        m_services.notice(kSection, QStringLiteral("TestFailed"), failure);
}
