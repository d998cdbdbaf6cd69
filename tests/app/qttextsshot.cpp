// Shows a question box and the open-file dialog through the program's own message boxes and file
// dialogs, in the language file named, and saves what the user sees, for a person to judge:
//   qttextsshot <folder> <language file>
// writes <folder>/messagebox.png and <folder>/opendialog.png. Run it on a real display
// (xvfb-run -a), with Qt's translations installed.
#include "app/formmain.h"
#include "platform/desktop.h"
#include "support/fakes.h"

#include <QApplication>
#include <QDir>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>

#include <cstdio>

namespace {
// Saves the modal window once it has painted, then closes it.
void grabModal(const QString& path, bool* saved) {
    QTimer::singleShot(700, [path, saved] {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal)
            return;
        *saved = modal->grab().save(path);
        modal->close();
    });
}
} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 3) {
        std::fputs("usage: qttextsshot <folder> <language file>\n", stderr);
        return 2;
    }
    const QString out = args.at(1);
    QTemporaryDir work;
    const QString settings = work.filePath(QStringLiteral("Tallyweave.conf"));
    SettingsStore(settings).write(QStringLiteral("LanguageFile"), args.at(2));

    DesktopPrompter prompter;
    DesktopFileDialogs files;
    FakeShell shell;
    FakeAppProbe probe;
    MainFormOptions options;
    options.programDirectory = QStringLiteral(TW_SOURCE_DIR);
    options.settingsFile = settings;
    TMainForm mainForm(prompter, files, shell, probe, options);
    mainForm.show();
    mainForm.activateWindow();

    bool boxSaved = false;
    bool dialogSaved = false;
    const Texts& texts = mainForm.texts();
    grabModal(QDir(out).filePath(QStringLiteral("messagebox.png")), &boxSaved);
    prompter.question(texts.text(QStringLiteral("Common"), QStringLiteral("Message")),
                      texts.text(QStringLiteral("ExcelProgressForm"), QStringLiteral("String11")));
    grabModal(QDir(out).filePath(QStringLiteral("opendialog.png")), &dialogSaved);
    files.openFileName(texts.text(QStringLiteral("OpenDialog"), QStringLiteral("XlsFilter")));
    return boxSaved && dialogSaved ? 0 : 1;
}
