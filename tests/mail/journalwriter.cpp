// Journals a run of many rows as a sending run does, for the tests that kill it on the way:
// each row "sending" first, then its outcome. A line "STATE ROW" goes to stdout after each
// record is committed, so that the test knows what the journal has promised.
//
// usage: journalwriter JOURNAL MAILING ROWS
#include "mail/journal.h"

#include <cstdio>

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: journalwriter JOURNAL MAILING ROWS\n");
        return 2;
    }
    JournalError error;
    const std::unique_ptr<SendJournal> journal = SendJournal::open(QString::fromLocal8Bit(argv[1]), &error);
    const QString mailing = QString::fromLocal8Bit(argv[2]);
    if (!journal || !journal->startRun(mailing, SendJournal::Chain::Continue, &error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error.cause));
        return 3;
    }
    const auto record = [&](int row, RowState state, const char* name, const QString& comment = QString()) {
        if (!journal->record({row, QStringLiteral("r%1@example.org").arg(row)}, state, comment, &error)) {
            std::fprintf(stderr, "%s\n", qPrintable(error.cause));
            std::exit(3);
        }
        std::printf("%s %d\n", name, row);
        std::fflush(stdout);
    };
    const int rows = QByteArray(argv[3]).toInt();
    for (int row = 1; row <= rows; ++row) {
        if (row % 13 == 0) {
            record(row, RowState::Skipped, "skipped", QStringLiteral("no address"));
            continue;
        }
        record(row, RowState::Sending, "sending");
        if (row % 7 == 0)
            record(row, RowState::Failed, "failed", QStringLiteral("550 5.1.1 No such user here"));
        else if (row % 11 == 0)
            record(row, RowState::Unknown, "unknown", QStringLiteral("timeout; it may have been delivered"));
        else
            record(row, RowState::Sent, "sent");
    }
    return 0;
}
