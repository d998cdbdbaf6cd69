#include "app/formmain.h"
#include "app/startup.h"
#include "platform/appprobe.h"
#include "platform/desktop.h"
#include "platform/instancelock.h"

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
    DesktopPrompter prompter;
    DesktopFileDialogs files;
    DesktopShell shell;
    ProcessAppProbe probe;
    app.setPrompter(&prompter);

    TMainForm mainForm(prompter, files, shell, probe);
    createWindows(mainForm);
    mainForm.show();
    const int result = app.exec();
    app.setPrompter(nullptr);
    return result;
}
