// Each recipient's own PDF: a bulk run of 1,000 recipients whose messages each carry a PDF made
// from a one-page letter, to a local aiosmtpd server (server.py) without a pause between messages.
// Prints the time to make the documents and the messages per second, beside the floor: the time
// LibreOffice alone takes to convert the same 1,000 .docx files to PDF.
//
// bench_rowdocuments [--recipients N]
#include "bench/localserver.h"
#include "merge/bulk/bulkrun.h"
#include "merge/common/rowdocuments.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUrl>

#include <sys/resource.h>

#include <cstdio>

namespace {

const char* kLetter = R"(import docx, sys
d = docx.Document()
d.add_heading("Your statement", 1)
d.add_paragraph("<name>")
d.add_paragraph("Customer number <number>")
d.add_paragraph("Dear <name>,")
for i in range(6):
    d.add_paragraph("We are writing about your account <number>. According to our records the balance of the "
                    "statement period is settled, and nothing is due. This paragraph stands for the body of a "
                    "real letter, which fills most of one page.")
d.add_paragraph("Kind regards,")
d.add_paragraph("Acme Savings")
d.save(sys.argv[1])
)";

double peakMiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_maxrss) / 1024.0;
}

double secondsOf(const QElapsedTimer& clock) {
    return double(clock.nsecsElapsed()) / 1e9;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    int recipients = 1000;
    const QStringList args = app.arguments();
    for (qsizetype i = 1; i + 1 < args.size(); i += 2)
        if (args[i] == QLatin1String("--recipients"))
            recipients = args[i + 1].toInt();

    QTemporaryDir dir;
    QFile book(dir.filePath(QStringLiteral("recipients.csv")));
    if (!book.open(QIODevice::WriteOnly))
        return 1;
    for (int i = 1; i <= recipients; ++i)
        book.write(QStringLiteral("person%1@example.org,Person %1,%2\n").arg(i).arg(100000 + i * 17).toUtf8());
    book.close();
    const QString letter = dir.filePath(QStringLiteral("statement.docx"));
    QProcess python;
    python.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral("-c"), QString::fromUtf8(kLetter), letter});
    if (!python.waitForFinished(60000) || python.exitCode() != 0) {
        std::fprintf(stderr, "python-docx could not write the letter: %s\n", python.readAllStandardError().constData());
        return 1;
    }

    QProcess server;
    const int port = startLocalServer(server, QStringLiteral(TW_BENCH_DIR "/server.py"), 20000);
    if (port == 0)
        return 1;

    BulkJob job;
    job.workbookPath = book.fileName();
    job.pairs = {{2, "<name>"}, {3, "<number>"}};
    job.subject = QStringLiteral("Your statement");
    job.body = QStringLiteral("Dear <name>,\r\nyour statement is attached.\r\n");
    job.personal.documentTemplate = letter;
    job.personal.documentName = QStringLiteral("Statement <number>");
    const MailServerSettings smtp{"sender@example.org", "127.0.0.1", port, "", "", false};

    std::printf("row documents: %d recipients, each with a PDF of a one-page letter, local aiosmtpd, no pause\n",
                recipients);
    int sent = 0;
    int failed = 0;
    QString firstFailure;
    double documentSeconds = 0;
    double sendSeconds = 0;
    {
        BulkRun run(job, smtp);
        QString cause;
        if (run.open(&cause) != BulkRun::Opened::Ok) {
            std::fprintf(stderr, "cannot open the workbook: %s\n", qPrintable(cause));
            return 1;
        }
        QElapsedTimer clock;
        clock.start();
        if (run.makeDocuments({}, {}, &cause) != RowDocuments::Outcome::Made) {
            std::fprintf(stderr, "the documents were not made: %s\n", qPrintable(cause));
            return 1;
        }
        documentSeconds = secondsOf(clock);
        clock.restart();
        while (const std::optional<Recipient> recipient = run.nextRecipient()) {
            const SendResult result = run.send(*recipient);
            if (result.sent) {
                ++sent;
            } else {
                if (firstFailure.isEmpty())
                    firstFailure = result.comment;
                ++failed;
            }
        }
        sendSeconds = secondsOf(clock);
    }
    const double runPeakMiB = peakMiB();
    server.terminate();
    server.waitForFinished(20000);
    const QByteArray serverReport = server.readAllStandardOutput().trimmed();

    // The floor: the same .docx files, made alone (no conversion), then converted by LibreOffice
    // by hand, with a fresh profile as the run's converter starts.
    QList<DocumentRow> rows;
    for (int i = 1; i <= recipients; ++i)
        rows.append({i, {QStringLiteral("Person %1").arg(i), QString::number(100000 + i * 17)}});
    PersonalMail asDocx = job.personal;
    asDocx.documentFormat = PersonalMail::DocumentFormat::Docx;
    RowDocuments docx(asDocx, job.pairs);
    QElapsedTimer docxClock;
    docxClock.start();
    if (docx.make(rows) != RowDocuments::Outcome::Made) {
        std::fprintf(stderr, "the .docx files were not made: %s\n", qPrintable(docx.cause()));
        return 1;
    }
    const double docxSeconds = secondsOf(docxClock);
    const QString docxFolder = QDir(docx.folder()).filePath(QStringLiteral("docx"));
    QStringList inputs;
    for (const QString& name : QDir(docxFolder).entryList({QStringLiteral("*.docx")}, QDir::Files))
        inputs << QDir(docxFolder).filePath(name);
    const QString outDir = dir.filePath(QStringLiteral("floor"));
    QDir().mkpath(outDir);
    // LibreOffice leaves out every file after about the 245th of one command line, so the floor
    // too converts 200 files per process, one process after the other, sharing one profile.
    const QString program = QStandardPaths::findExecutable(QStringLiteral("soffice"));
    const QString profile = QUrl::fromLocalFile(dir.filePath(QStringLiteral("profile"))).toString();
    QElapsedTimer floorClock;
    floorClock.start();
    int processes = 0;
    for (qsizetype from = 0; from < inputs.size(); from += 200) {
        QProcess office;
        office.setProcessChannelMode(QProcess::MergedChannels);
        office.start(program, QStringList{QStringLiteral("-env:UserInstallation=") + profile,
                                          QStringLiteral("--headless"), QStringLiteral("--norestore"),
                                          QStringLiteral("--nologo"), QStringLiteral("--convert-to"),
                                          QStringLiteral("pdf"), QStringLiteral("--outdir"), outDir} +
                                  inputs.mid(from, 200));
        office.waitForFinished(-1);
        ++processes;
    }
    const double floorSeconds = secondsOf(floorClock);
    const qsizetype floorPdfs = QDir(outDir).entryList({QStringLiteral("*.pdf")}, QDir::Files).size();

    std::printf("sent %d, failed %d%s%s\n", sent, failed, firstFailure.isEmpty() ? "" : ", first failure: ",
                qPrintable(firstFailure));
    std::printf("making the documents: %.2f s (%.1f ms a document)\n", documentSeconds,
                documentSeconds * 1000.0 / std::max(1, recipients));
    std::printf("  of which the .docx alone, made without converting: %.2f s\n", docxSeconds);
    std::printf("floor, LibreOffice alone converting the same %lld .docx in %d processes: %.2f s (%lld PDFs)\n",
                static_cast<long long>(inputs.size()), processes, floorSeconds, static_cast<long long>(floorPdfs));
    std::printf("documents over the floor: %.2f s (%.0f%%)\n", documentSeconds - floorSeconds,
                floorSeconds > 0 ? (documentSeconds / floorSeconds - 1.0) * 100.0 : 0.0);
    std::printf("sending: %.2f s, %.1f messages/s\n", sendSeconds, double(sent + failed) / sendSeconds);
    std::printf("whole run (documents and sending): %.2f s\n", documentSeconds + sendSeconds);
    std::printf("peak memory of the run: %.1f MiB\n", runPeakMiB);
    std::printf("server: %s\n", serverReport.constData());
    return failed == 0 && sent == recipients ? 0 : 1;
}
