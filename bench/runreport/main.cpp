// How long the run report takes to take 100,000 lines one by one, with what a run does after each
// line (panels, selection, scrolling), on a shown list. Prints the time; the target is under 2 s.
//   bench_runreport [lines] [--events]   --events also processes pending events after each line,
//                                         as a run does between records.
#include "app/runreport.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QTreeView>
#include <QVBoxLayout>
#include <QWidget>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    int lines = 100000;
    bool events = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--events") == 0)
            events = true;
        else
            lines = std::atoi(argv[i]);
    }

    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    auto* list = new QTreeView;
    QLabel* panels[3] = {new QLabel, new QLabel, new QLabel};
    layout->addWidget(list);
    for (QLabel* panel : panels)
        layout->addWidget(panel);
    window.resize(667, 430);
    window.show();
    RunReport report(list, panels[0], panels[1], panels[2]);
    app.processEvents();

    QElapsedTimer clock;
    clock.start();
    report.begin({{QStringLiteral("Index column"), 120}, {QStringLiteral("Field"), 200}});
    for (int i = 0; i < lines; ++i) {
        const int image = i % 50 == 0 ? ImageFailure : i % 20 == 0 ? ImageNullValue : ImageProcessed;
        report.addLine({QString::number(i), QStringLiteral("value %1").arg(i)}, image);
        report.afterLine(QStringLiteral("Records:"), QStringLiteral("Null values:"),
                         QStringLiteral("Failures:"), report.count());
        if (events)
            app.processEvents();
    }
    app.processEvents();
    const qint64 elapsed = clock.elapsed();
    const RunReport::Counts counts = report.count();
    std::printf("%d lines%s: %lld ms (records %d, null values %d, failures %d; panel \"%s\")\n", lines,
                events ? " with events after each" : "", static_cast<long long>(elapsed), counts.records,
                counts.nullValues, counts.failures, qPrintable(report.panelText(0)));
    return 0;
}
