#pragma once
// What a mode's window tests build their windows on: every seam scripted (see fakes.h) and a bare
// run report standing in for the main window's.
#include "app/runreport.h"
#include "app/services.h"
#include "support/fakes.h"

#include <QLabel>
#include <QTreeView>

struct ScriptedServices {
    FakeTexts texts;
    FakePrompter prompter;
    FakeFileDialogs files;
    FakeShell shell;
    FakeAppProbe probe;
    QTreeView view;
    QLabel panels[3];
    RunReport report{&view, &panels[0], &panels[1], &panels[2]};
    Services services{texts, prompter, files, shell, probe, &report};

    explicit ScriptedServices(FakeTexts initial = {}) : texts(std::move(initial)) {}

    // The texts of every message box shown so far, in order.
    QStringList messages() const {
        QStringList said;
        for (const FakePrompter::Call& call : prompter.calls)
            said << call.text;
        return said;
    }
};

// The control of window with that objectName; a test that names a missing control stops at once.
template <typename T> T* childNamed(QWidget* window, const char* name) {
    T* child = window->findChild<T*>(QLatin1String(name));
    if (!child)
        qFatal("no %s", name);
    return child;
}
