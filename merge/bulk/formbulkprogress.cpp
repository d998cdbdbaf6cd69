#include "merge/bulk/formbulkprogress.h"

#include "app/services.h"
#include "merge/common/documentsprogress.h"

#include <QCloseEvent>
#include <QEventLoop>
#include <QThread>
#include <QTimer>

#include <algorithm>

#include <exception>

TBulkProgressForm::TBulkProgressForm(Services& services, QWidget* parent) : TRunForm(services, parent) {
    setObjectName(QStringLiteral("BulkProgressForm"));
    Timer1->setInterval(1000);
    publishObjectNames(this);
}

TBulkProgressForm::~TBulkProgressForm() = default;

QList<RunReport::Column> TBulkProgressForm::reportColumns() const {
    const QString listView = QStringLiteral("ListView");
    QList<RunReport::Column> columns{{m_services.text(listView, QStringLiteral("MailTo")), 150}};
    const int pairs = m_jobSource ? int(m_jobSource().pairs.size()) : 0;
    const QString field = m_services.text(listView, QStringLiteral("Field"));
    for (int i = 1; i <= pairs; ++i)
        columns.append({field + QString::number(i), 100});
    columns.append({m_services.text(listView, QStringLiteral("Comment")), 200});
    return columns;
}

void TBulkProgressForm::prepareRun() {
    m_job = m_jobSource ? m_jobSource() : BulkJob{};
    m_server = m_serverSource ? m_serverSource() : MailServerSettings{};
    m_pairCount = int(m_job.pairs.size());
    m_run = std::make_unique<BulkRun>(m_job, m_server);
    m_journal.reset();
    m_opened = false;
    m_messages = 0;
    // The job's pace: the timer's interval is the pause before each message.
    Timer1->setInterval(std::max(0, m_job.intervalMs));
}

void TBulkProgressForm::runClosed() {
    // Closes the workbook; the next showing starts a run of its own.
    m_run.reset();
    m_journal.reset();
    m_opened = false;
}

void TBulkProgressForm::endWith(const QString& key, const QString& detail) {
    m_services.notice(section(), key, detail);
    finish();
}

bool TBulkProgressForm::openWorkbook() {
    QString cause;
    switch (m_run->open(&cause)) {
    case BulkRun::Opened::Ok:
        m_opened = true;
        return startJournal() && makeDocuments();
    case BulkRun::Opened::SheetMissing:
        endWith(QStringLiteral("String07"));
        return false;
    case BulkRun::Opened::Failed:
        break;
    }
    endWith(QStringLiteral("String06"), cause);
    return false;
}

bool TBulkProgressForm::startJournal() {
    QString cause;
    m_journal = MailingJournal::open(QString(), bulkMailing(m_job, m_server), m_run->recipientRows(), &cause);
    if (!m_journal) {
        endWith(QStringLiteral("String14"), cause);
        return false;
    }
    const std::optional<MailingJournal::Choice> choice = askAboutEarlierRun(*m_journal);
    if (!choice) {
        finish();
        return false;
    }
    if (!m_journal->start(*choice, &cause)) {
        endWith(QStringLiteral("String14"), cause);
        return false;
    }
    m_run->setJournal(m_journal.get());
    showRecordsStatus();
    return true;
}

// Every row's own document before the first message, off the user-interface thread; the dialog
// stays until they are made, a Cancel ends the run with nothing sent.
bool TBulkProgressForm::makeDocuments() {
    QString cause;
    BulkRun* run = m_run.get();
    m_sending = true;
    const RowDocuments::Outcome made = makeDocumentsWaiting(
        *this, modeText(QStringLiteral("String15")),
        [run, &cause](const RowDocuments::Progress& progress, const std::function<bool()>& stop) {
            return run->makeDocuments(progress, stop, &cause);
        },
        &cause);
    m_sending = false;
    switch (made) {
    case RowDocuments::Outcome::Made:
        showRecordsStatus();
        return true;
    case RowDocuments::Outcome::Stopped:
        finish();
        return false;
    case RowDocuments::Outcome::Failed:
        break;
    }
    endWith(QStringLiteral("String16"), cause);
    return false;
}

SendResult TBulkProgressForm::sendWaiting(const Recipient& recipient) {
    SendResult result;
    BulkRun* run = m_run.get();
    std::unique_ptr<QThread> exchange(QThread::create([run, &recipient, &result] {
        try {
            result = run->send(recipient);
        } catch (const std::exception& e) {
            result = {false, QString::fromUtf8(e.what())};
        }
    }));
    QEventLoop waiting;
    connect(exchange.get(), &QThread::finished, &waiting, &QEventLoop::quit);
    m_sending = true;
    exchange->start();
    waiting.exec();
    exchange->wait();
    m_sending = false;
    return result;
}

void TBulkProgressForm::Timer1Timer() {
    Timer1->stop();
    if (!m_run) {
        finish();
        return;
    }
    std::optional<Recipient> recipient;
    try {
        if (!m_opened && !openWorkbook())
            return;
        recipient = m_run->nextRecipient();
        // Rows an earlier run of the chain got through are left out; one whose delivery is
        // unknown gets a line that says so.
        while (recipient && m_run->doneState(*recipient)) {
            if (*m_run->doneState(*recipient) == RowState::Unknown) {
                QStringList subItems{recipient->address};
                subItems << recipient->values;
                while (subItems.size() < 1 + m_pairCount)
                    subItems << QString();
                subItems << m_services.text(section(), QStringLiteral("String13"));
                addLine(subItems, ImageFailure);
            }
            recipient = m_run->nextRecipient();
        }
    } catch (const std::exception& e) {
        endWith(QStringLiteral("String06"), QString::fromUtf8(e.what()));
        return;
    }
    if (!recipient) {
        endNotice(QStringLiteral("String08"), m_run->leftOut());
        finish();
        return;
    }

    QStringList subItems{recipient->address};
    subItems << recipient->values;
    while (subItems.size() < 1 + m_pairCount)
        subItems << QString();
    subItems << QString();
    const int commentColumn = int(subItems.size()) - 1;
    const int line = addLine(subItems, ImagePending);

    const SendResult result = sendWaiting(*recipient);
    ++m_messages;

    setProgress(recipient->row, recipient->lastRow);
    if (result.sent) {
        setLineImage(line, ImageProcessed);
    } else {
        setLineSubItem(line, commentColumn, result.comment);
        setLineImage(line, ImageFailure);
    }
    if (!m_run->journalFailure().isEmpty()) {
        endWith(QStringLiteral("String14"), m_run->journalFailure());
        return;
    }

    if (stopFlag())
        finish();
    else if (!m_run->rowsLeft()) {
        endNotice(QStringLiteral("String09"), m_run->leftOut());
        finish();
    } else if (m_job.limit > 0 && m_messages >= m_job.limit) {
        // The run's limit: the rest is for a later run, which the journal resumes from here.
        endNotice(QStringLiteral("String18"), m_run->leftOut());
        finish();
    } else
        rearmTimer();
}

void TBulkProgressForm::closeEvent(QCloseEvent* event) {
    if (m_sending) {
        event->ignore();
        return;
    }
    TRunForm::closeEvent(event);
}

void TBulkProgressForm::done(int result) {
    // A message on its way keeps the dialog, and the run it belongs to, alive until it is through.
    if (m_sending)
        return;
    TRunForm::done(result);
}
