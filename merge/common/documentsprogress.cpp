#include "merge/common/documentsprogress.h"

#include "merge/common/runform.h"

#include <QEventLoop>
#include <QLabel>
#include <QProgressBar>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <exception>
#include <memory>

void showDocumentsProgress(TRunForm& form, const QString& text, int done, int total) {
    form.Label1->setText(QString(text).replace(QLatin1String("%1"), QString::number(done))
                             .replace(QLatin1String("%2"), QString::number(total)));
    form.ProgressBar1->setValue(total > 0 ? int(qint64(done) * 100 / total) : 0);
}

RowDocuments::Outcome makeDocumentsWaiting(TRunForm& form, const QString& text, const DocumentMaking& make,
                                           QString* cause) {
    std::atomic<int> done{0};
    std::atomic<int> total{0};
    std::atomic<bool> stop{false};
    RowDocuments::Outcome outcome = RowDocuments::Outcome::Failed;
    QString thrown;
    std::unique_ptr<QThread> maker(QThread::create([&] {
        try {
            outcome = make(
                [&](int d, int t) {
                    done = d;
                    total = t;
                },
                [&] { return stop.load(); });
        } catch (const std::exception& e) {
            outcome = RowDocuments::Outcome::Failed;
            thrown = QString::fromUtf8(e.what());
        }
    }));
    QEventLoop waiting;
    QTimer watch;
    watch.setInterval(100);
    QObject::connect(&watch, &QTimer::timeout, &waiting, [&] {
        stop = form.stopFlag();
        if (total > 0)
            showDocumentsProgress(form, text, done, total);
    });
    QObject::connect(maker.get(), &QThread::finished, &waiting, &QEventLoop::quit);
    watch.start();
    maker->start();
    waiting.exec();
    maker->wait();
    if (!thrown.isEmpty() && cause)
        *cause = thrown;
    return outcome;
}
