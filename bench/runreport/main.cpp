// How long the run report takes to take 100,000 lines one by one, with what a run does after each
// line (panels, selection, scrolling), on a shown list. Prints the time; the target is under 2 s.
//   bench_runreport [lines] [--events] [--shot file.png]
//     --events  also processes pending events after each line, as a run does between records;
//     --shot    saves a picture of the list and panels at the end, to look at the icons.
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
    QString shot;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--events") == 0)
            events = true;
        else if (std::strcmp(argv[i], "--shot") == 0 && i + 1 < argc)
            shot = QString::fromLocal8Bit(argv[++i]);
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
    report.flush(); // the list shows every line before the clock stops
    app.processEvents();
    const qint64 elapsed = clock.elapsed();
    const RunReport::Counts counts = report.count();
    if (!shot.isEmpty() && !window.grab().save(shot))
        std::fprintf(stderr, "cannot write %s\n", qPrintable(shot));
    std::printf("%d lines%s: %lld ms (records %d, null values %d, failures %d; panel \"%s\")\n", lines,
                events ? " with events after each" : "", static_cast<long long>(elapsed), counts.records,
                counts.nullValues, counts.failures, qPrintable(report.panelText(0)));
    return 0;
}
