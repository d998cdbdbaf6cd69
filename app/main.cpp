#include "app/formmain.h"
#include "app/localization.h"
#include "app/startup.h"
#include "platform/appprobe.h"
#include "platform/desktop.h"
#include "platform/instancelock.h"

#include <QDir>
#include <QIcon>

#include <cstdio>

int main(int argc, char** argv) {
    // Before anything is shown: a second start leaves quietly and leaves the first one alone.
    InstanceLock lock;
    if (lock.heldElsewhere())
        return 0;
    if (!lock.acquired())
        std::fprintf(stderr, "tallyweave: cannot create %s; a second start will not be noticed\n",
                     qPrintable(InstanceLock::lockFilePath(QStringLiteral("RunOnlyOneTallyweave"))));

    TallyweaveApplication app(argc, argv);
    // The desktop entry the windows belong to, and the same picture it shows.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.example.tallyweave.Tallyweave"));
    QIcon icon;
    for (const int size : {16, 24, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/icons/%1x%1/apps/org.example.tallyweave.Tallyweave.png").arg(size));
    QGuiApplication::setWindowIcon(icon);
    DesktopPrompter prompter;
    DesktopFileDialogs files;
    DesktopShell shell;
    ProcessAppProbe probe;
    app.setPrompter(&prompter);

    TMainForm mainForm(prompter, files, shell, probe);
    createWindows(mainForm);
    // A copy installed without its data starts all the same, with empty menus and messages: say why.
    const QString languages = QDir(mainForm.programDir()).filePath(QStringLiteral("Languages"));
    if (languageFileNames(languages).isEmpty())
        std::fprintf(stderr, "tallyweave: no language files in %s; menus and messages will have no texts\n",
                     qPrintable(QDir::toNativeSeparators(languages)));
    mainForm.show();
    const int result = app.exec();
    app.setPrompter(nullptr);
    return result;
}
