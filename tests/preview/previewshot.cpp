// Shows the preview popup on a workbook with a column and a line marked and saves what it looks
// like, for a person to judge:
//   previewshot <workbook> <picture.png> [column line]
// Run it on a real display (xvfb-run -a).
#include "app/services.h"
#include "merge/common/formpreview.h"
#include "support/fakes.h"

#include <QApplication>
#include <QPixmap>
#include <QTableWidget>

#include <cstdio>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 3) {
        std::fputs("usage: previewshot <workbook> <picture.png> [column line]\n", stderr);
        return 2;
    }
    FakeTexts texts{{"PreviewForm.Close", "Close"}};
    FakePrompter prompter;
    FakeFileDialogs files;
    FakeShell shell;
    FakeAppProbe probe;
    Services services{texts, prompter, files, shell, probe};
    TPreviewForm form(services);
    form.workbookPath = args.at(1);
    form.markedColumn = args.size() > 3 ? args.at(3).toInt() : 2;
    form.markedLine = args.size() > 4 ? args.at(4).toInt() : 3;
    form.columnMarkerText = QStringLiteral("Index");
    form.lineMarkerText = QStringLiteral("Start");
    form.show();
    form.Timer1Timer();
    for (int i = 0; i < 20; ++i)
        app.processEvents();
    if (!form.grab().save(args.at(2))) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(args.at(2)));
        return 1;
    }
    return 0;
}
