// Bulk-mail benchmark: a run of 1,000 recipients with a 5 MB attachment against a local SMTP sink
// (sink.py), without a pause between messages. Prints the rate, the peak memory, how often the
// attachment was encoded, and what composing alone costs, to show that the rate is the
// connection's and the server's, not the encoder's.
//
// bench_bulkmail [--recipients N] [--attachment-mb M]
#include "bench/localserver.h"
#include "merge/bulk/bulkrun.h"
#include "mail/composer.h"
#include "mail/smtp.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <sys/resource.h>

#include <cstdio>

namespace {

double processorSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
           + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double peakMiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_maxrss) / 1024.0;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    int recipients = 1000;
    int attachmentMiB = 5;
    const QStringList args = app.arguments();
    for (qsizetype i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == QLatin1String("--recipients"))
            recipients = args[i + 1].toInt();
        else if (args[i] == QLatin1String("--attachment-mb"))
            attachmentMiB = args[i + 1].toInt();
    }

    QTemporaryDir dir;
    QFile book(dir.filePath(QStringLiteral("recipients.csv")));
    if (!book.open(QIODevice::WriteOnly))
        return 1;
    for (int i = 1; i <= recipients; ++i)
        book.write(QStringLiteral("person%1@example.org,Person %1,%2\n").arg(i).arg(i * 17).toUtf8());
    book.close();
    QFile file(dir.filePath(QStringLiteral("brochure.pdf")));
    if (!file.open(QIODevice::WriteOnly))
        return 1;
    QByteArray block(1024 * 1024, Qt::Uninitialized);
    for (int i = 0; i < block.size(); ++i)
        block[i] = char((i * 2654435761u) >> 13);
    for (int i = 0; i < attachmentMiB; ++i)
        file.write(block);
    file.close();

    QProcess sink;
    const int port = startLocalServer(sink, QStringLiteral(TW_BENCH_DIR "/sink.py"), 10000);
    if (port == 0)
        return 1;

    BulkJob job;
    job.workbookPath = book.fileName();
    job.pairs = {{2, "<name>"}, {3, "<number>"}};
    job.subject = QStringLiteral("Your brochure");
    job.body = QStringLiteral("Dear <name>,\r\nyour customer number is <number>.\r\n");
    job.attachments = {{"brochure.pdf", file.fileName()}};
    const MailServerSettings server{"sender@example.org", "127.0.0.1", port, "", "", false};
    BulkRun run(job, server);
    QString cause;
    if (run.open(&cause) != BulkRun::Opened::Ok) {
        std::fprintf(stderr, "cannot open the workbook: %s\n", qPrintable(cause));
        return 1;
    }

    std::printf("bulk mail: %d recipients, attachment %d MiB, local sink, no pause\n", recipients, attachmentMiB);
    QElapsedTimer clock;
    clock.start();
    const double cpuBefore = processorSeconds();
    int sent = 0;
    int failed = 0;
    QString firstFailure;
    qint64 firstMessageNs = 0;
    while (const std::optional<Recipient> recipient = run.nextRecipient()) {
        const SendResult result = run.send(*recipient);
        if (sent + failed == 0)
            firstMessageNs = clock.nsecsElapsed();
        if (result.sent) {
            ++sent;
        } else {
            if (firstFailure.isEmpty())
                firstFailure = result.comment;
            ++failed;
        }
    }
    const double seconds = double(clock.nsecsElapsed()) / 1e9;
    const double cpu = processorSeconds() - cpuBefore;
    std::printf("sent %d, failed %d%s%s\n", sent, failed, firstFailure.isEmpty() ? "" : ", first failure: ",
                qPrintable(firstFailure));
    std::printf("total %.2f s, %.1f messages/s, first message (with the encoding) %.0f ms\n", seconds,
                double(sent + failed) / seconds, double(firstMessageNs) / 1e6);
    std::printf("our processor time %.2f s (%.1f ms a message): the rest of the clock time is the connection's "
                "and the server's\n",
                cpu, cpu * 1000.0 / std::max(1, sent + failed));
    std::printf("attachment encodings in the run: %d\n", run.attachmentEncodings());
    std::printf("peak memory after the run: %.1f MiB\n", peakMiB());

    // Composing alone, with the same cache behaviour, for the share of the time it takes.
    AttachmentCache cache;
    QElapsedTimer composeClock;
    composeClock.start();
    qint64 bytes = 0;
    const int composed = std::min(recipients, 200);
    for (int i = 0; i < composed; ++i) {
        const Recipient r{i + 1, recipients, QStringLiteral("person%1@example.org").arg(i + 1),
                          {QStringLiteral("Person %1").arg(i + 1), QString::number(i)}, {}, {}, {}};
        bytes += composeBulkMessage(job, r, server, cache).size();
    }
    const double composeSeconds = double(composeClock.nsecsElapsed()) / 1e9;
    std::printf("composing alone: %d messages in %.2f s (%.1f messages/s, %.1f MiB each), encodings %d\n", composed,
                composeSeconds, double(composed) / composeSeconds, double(bytes) / composed / 1048576.0,
                cache.encodings());

    sink.terminate();
    sink.waitForFinished(10000);
    const QByteArray sinkReport = sink.readAllStandardOutput().trimmed();
    std::printf("sink: %s\n", sinkReport.constData());
    return failed == 0 ? 0 : 1;
}
