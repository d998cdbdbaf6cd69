#pragma once
#include "merge/common/reportfile.h"

#include <QStringList>
#include <QTextStream>

#include <optional>

// How tallyweave-batch prints a run: one line per report line (the image index, then each field,
// tab-separated), then the counters line. Every subcommand prints through this one sink.
class ReportPrinter {
public:
    explicit ReportPrinter(QTextStream& out) : m_out(out) {}

    // With --report FILE the lines are also kept, and written to path by saveReport() as the
    // window's Save report... writes them. captions are the report's columns after the image's.
    void keepReport(const QString& path, const QStringList& captions);

    // Written at once, so that a run stopped from outside has printed every line it finished.
    void line(int image, const QStringList& fields);
    // The end of a run, finished or interrupted alike: the counters line, then the kept report
    // written; false with the cause on err when the report cannot be written.
    bool finish(int records, int nullValues, int failures, QTextStream& err, const QString& command);

private:
    QTextStream& m_out;
    QString m_reportPath;
    std::optional<ReportFile> m_report;
};

// After the counters of a mail run, on err and only when there are any: how many rows were passed
// over for an address that cannot be used.
void reportLeftOut(QTextStream& err, const QString& command, int leftOut);

// The report's column captions as the window shows them in English ("Mail to", "Field 1", ...).
QString reportCaption(const QString& key);
// The mail modes' columns: the address, one per pair, and the comment.
QStringList mailCaptions(int pairs);

// A field of a tab-separated line: tab, line feed, carriage return and backslash written as \t,
// \n, \r and \\, so that every report line stays one line; every other control character (C0,
// DEL, C1) as \xHH, so that a cell cannot drive the terminal.
QString escapeField(const QString& text);

// The engines' sinks (Excel, Word, mail client) have one shape: records begin, a record is done,
// may the run go on. This one prints the lines and asks stop() whether to end.
template <class Sink>
class PrintingSink : public Sink {
public:
    PrintingSink(ReportPrinter& printer, bool (*stop)()) : m_printer(printer), m_stop(stop) {}

    void recordsBegin() override { began = true; }
    void recordDone(const QStringList& subItems, int image, int, int) override { m_printer.line(image, subItems); }
    bool stopRequested() override { return m_stop && m_stop(); }

    bool began = false;

private:
    ReportPrinter& m_printer;
    bool (*m_stop)();
};
