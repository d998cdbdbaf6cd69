#pragma once
#include <QApplication>

#include <exception>

class Prompter;
class TMainForm;

// Creates every window after the main window, once each, in the order in which the language
// file is applied to them, and registers each with the main window.
void createWindows(TMainForm& mainForm);

// What the user sees of an exception that escaped a command: an error box titled with the
// program's name, holding the exception's message (empty for a thrown value that is not an
// exception). The program goes on afterwards.
void showException(Prompter& prompter, std::exception_ptr error);

// Catches what escapes an event handler, shows it and goes on, so that no command can take the
// program down with it.
class TallyweaveApplication : public QApplication {
public:
    using QApplication::QApplication;
    void setPrompter(Prompter* prompter) { m_prompter = prompter; }
    bool notify(QObject* receiver, QEvent* event) override;

private:
    Prompter* m_prompter = nullptr;
};
