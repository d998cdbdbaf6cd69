#include "merge/common/runform.h"

#include <QLocale>

#include "app/localization.h"
#include "app/services.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QFrame>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QShowEvent>
#include <QTimer>

TRunForm::TRunForm(Services& services, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint), m_services(services) {
    setModal(true);
    setFixedSize(323, 106);
    setWindowTitle(QStringLiteral("Process"));

    Label1 = new QLabel(QStringLiteral("Label1"), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setGeometry(17, 12, 289, 16);

    ProgressBar1 = new QProgressBar(this);
    ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
    ProgressBar1->setGeometry(17, 34, 289, 17);

    Bevel1 = new QFrame(this);
    Bevel1->setObjectName(QStringLiteral("Bevel1"));
    Bevel1->setFrameShape(QFrame::HLine);
    Bevel1->setFrameShadow(QFrame::Sunken);
    Bevel1->setGeometry(8, 60, 307, 4);

    ButtonCancel = new QPushButton(QStringLiteral("Cancel"), this);
    ButtonCancel->setObjectName(QStringLiteral("ButtonCancel"));
    ButtonCancel->setGeometry(124, 72, 75, 25);
    connect(ButtonCancel, &QPushButton::clicked, this, &TRunForm::ButtonCancelClick);

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(500);
    Timer1->setSingleShot(true);
    connect(Timer1, &QTimer::timeout, this, &TRunForm::Timer1Timer);
}

void TRunForm::applyTexts(const Texts& texts) {
    setWindowTitle(texts.text(section(), QStringLiteral("Caption")));
    ButtonCancel->setText(texts.text(QStringLiteral("Common"), QStringLiteral("Cancel")));
}

QString TRunForm::modeText(const QString& key) const {
    return m_services.text(section(), key);
}

void TRunForm::FormShow() {
    m_stop = false;
    Label1->setText(modeText(showStatusKey()));
    ProgressBar1->setValue(0);
    if (m_services.report)
        m_services.report->begin(reportColumns());
    if (countersOnShow())
        beginCounters();
    prepareRun();
    Timer1->start();
}

void TRunForm::ButtonCancelClick() {
    m_stop = true;
}

void TRunForm::beginCounters() {
    const QString statusBar = QStringLiteral("StatusBar");
    m_labels[0] = m_services.text(statusBar, QStringLiteral("Records"));
    m_labels[1] = m_services.text(statusBar, QStringLiteral("NullValues"));
    m_labels[2] = m_services.text(statusBar, QStringLiteral("Failures"));
    m_counts = {};
}

void TRunForm::showRecordsStatus() {
    Label1->setText(modeText(recordsStatusKey()));
}

void TRunForm::count(int image, int delta) {
    if (image == ImageFailure)
        m_counts.failures += delta;
    else if (image == ImageNullValue)
        m_counts.nullValues += delta;
}

int TRunForm::addLine(const QStringList& subItems, int image) {
    ++m_counts.records;
    count(image, 1);
    const int line = m_services.report ? m_services.report->addLine(subItems, image) : -1;
    showCounters();
    return line;
}

void TRunForm::setLineImage(int line, int image) {
    if (!m_services.report || line < 0 || line >= m_services.report->lineCount())
        return;
    count(m_services.report->image(line), -1);
    count(image, 1);
    m_services.report->setImage(line, image);
    showCounters();
}

void TRunForm::setLineSubItem(int line, int subItem, const QString& text) {
    if (m_services.report)
        m_services.report->setSubItem(line, subItem, text);
}

void TRunForm::showCounters() {
    if (m_services.report)
        m_services.report->afterLine(m_labels[0], m_labels[1], m_labels[2], m_counts);
}

void TRunForm::setProgress(int row, int lastRow) {
    if (lastRow <= 0)
        return;
    const qint64 percent = qint64(row) * 100 / lastRow;
    ProgressBar1->setValue(int(qBound(qint64(0), percent, qint64(100))));
}

bool TRunForm::recordDone(const QStringList& subItems, int image, int row, int lastRow) {
    addLine(subItems, image);
    QCoreApplication::processEvents();
    if (m_stop)
        return false;
    setProgress(row, lastRow);
    return true;
}

void TRunForm::rearmTimer() {
    Timer1->start();
}

void TRunForm::endNotice(const QString& key, int leftOut) const {
    QString text = m_services.text(section(), key);
    if (leftOut > 0)
        text += QStringLiteral("\n\n")
                + fillMarker(m_services.text(section(), QStringLiteral("String17")), QString::number(leftOut));
    m_services.prompter.information(m_services.text(QStringLiteral("Common"), QStringLiteral("Message")), text);
}

void TRunForm::finish() {
    m_stop = true;
    Timer1->stop();
    done(QDialog::Accepted);
}

void TRunForm::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    // Restoring a minimised dialog is no new run.
    if (!event->spontaneous())
        FormShow();
}

void TRunForm::closeEvent(QCloseEvent* event) {
    if (!m_stop) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

void TRunForm::done(int result) {
    // Esc and reject() land here as well as the run's own ending.
    if (!m_stop)
        return;
    // A tick armed for the next record must not run after the dialog is gone.
    Timer1->stop();
    QDialog::done(result);
    runClosed();
}

std::optional<MailingJournal::Choice> TRunForm::askAboutEarlierRun(const MailingJournal& journal) const {
    const ChainSummary& done = journal.summary();
    QString counts = m_services.text(section(), QStringLiteral("String11"));
    const QString lastRun = QLocale().toString(done.lastRun.toLocalTime(), QLocale::ShortFormat);
    for (const auto& [marker, value] : {std::pair{QStringLiteral("[sent]"), QString::number(done.sent)},
                                        std::pair{QStringLiteral("[failed]"), QString::number(done.failed)},
                                        std::pair{QStringLiteral("[unknown]"), QString::number(done.unknown)},
                                        std::pair{QStringLiteral("[time]"), lastRun}})
        counts.replace(marker, value);
    switch (journal.earlier()) {
    case MailingJournal::Earlier::None:
        return MailingJournal::Choice::Resume;
    case MailingJournal::Earlier::RowsLeft:
        return m_services.ask(section(), QStringLiteral("String10"), counts) ? MailingJournal::Choice::Resume
                                                                              : MailingJournal::Choice::Restart;
    case MailingJournal::Earlier::AllDone:
        break;
    }
    if (m_services.ask(section(), QStringLiteral("String12"), counts))
        return MailingJournal::Choice::Restart;
    return std::nullopt;
}
