// Shows the about box in a language and saves what it looks like, for a person to judge:
//   aboutshot <language file> <picture.png> [hover]
// "hover" draws the link as it looks under the mouse. Run it on a real display (xvfb-run -a).
#include "app/services.h"
#include "applylanguage.h"
#include "support/fakes.h"

#include <QApplication>
#include <QLabel>
#include <QPixmap>

#include <cstdio>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 3) {
        std::fputs("usage: aboutshot <language file> <picture.png> [hover]\n", stderr);
        return 2;
    }
    const LanguageFile language(args.at(1));
    if (!language.exists()) {
        std::fprintf(stderr, "no language file %s\n", qPrintable(args.at(1)));
        return 1;
    }
    FakePrompter prompter;
    FakeFileDialogs files;
    FakeShell shell;
    FakeAppProbe probe;
    Services services{language, prompter, files, shell, probe};
    TAboutForm box(services);
    applyLanguage(box, language);
    box.show();
    if (args.size() > 3 && args.at(3) == QLatin1String("hover"))
        box.LabelHome2MouseEnter();
    for (int i = 0; i < 20; ++i)
        app.processEvents();
    if (!box.grab().save(args.at(2))) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(args.at(2)));
        return 1;
    }
    return 0;
}
