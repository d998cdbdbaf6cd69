#pragma once
#include "app/languagefile.h"
#include "app/qttexts.h"
#include "app/services.h"
#include "app/windowbase.h"
#include "platform/settingsstore.h"

#include <QList>
#include <QMainWindow>

#include <functional>

class QAction;
class QLabel;
class QMenu;
class QToolButton;
class QTreeView;
class RunReport;

// What a test (or an unusual installation) may set instead of the platform's answers.
struct MainFormOptions {
    QString programDirectory;        // folder holding Languages/; empty: programDirectory()
    QString settingsFile;            // empty: the user's Tallyweave.conf
    std::function<int()> languageId; // empty: the user's language
};

// The main window: menu, toolbar and run report. It owns the language in force, the run report
// and the Services bundle every other window is built with, and it applies the language file to
// all registered windows each time it becomes active.
//
// Captions are set exactly as the language file gives them. A "&" in them marks the keyboard
// accelerator and "&&" stands for a literal ampersand, which is what the language files mean by
// it ("File(&F)"; the toolbar hint rule drops that very "&"). Qt never inserts accelerators of its
// own, so the text of a menu item stays the caption that was set, and the language choice can
// compare captions exactly.
class TMainForm : public QMainWindow, public LocalizedWindow {
    Q_OBJECT
public:
    // The commands other windows carry out. Each has a menu item and a toolbar button; both stay
    // disabled until setCommand gives the command its work.
    enum class Command {
        ExcelToExcel,
        ExcelToWord,
        ExcelToOutlook,
        BulkMails,
        ServerOptions,
        Help,
        About,
        Release,
    };

    TMainForm(Prompter& prompter, FileDialogs& files, Shell& shell, AppProbe& probe,
              const MainFormOptions& options = {}, QWidget* parent = nullptr);
    ~TMainForm() override;

    Services& services() { return m_services; }
    const Texts& texts() const { return m_language; }
    RunReport& report() { return *m_report; }
    QString programDir() const { return m_programDir; }
    QString languageFileName() const { return m_languageFileName; }
    const SettingsStore& settings() const { return m_settings; }

    // Windows get the language file in the order they were registered; the main window is the
    // first. A window is registered once, right after it is built.
    void registerWindow(LocalizedWindow* window);
    QList<LocalizedWindow*> windows() const { return m_windows; }

    // Enables the command's menu item and toolbar button and makes work what their handler runs.
    void setCommand(Command command, std::function<void()> work);
    bool hasCommand(Command command) const;

    QWidget* widget() override { return this; }
    void applyTexts(const Texts& texts) override;

public slots:
    void FormCreate();
    void FormActivate();
    void FormDestroy();

    void MExcelToExcelClick();
    void MExcelToWordClick();
    void MExcelToOutlookClick();
    void MBulkMailsClick();
    // Saves the run report as .csv or .xlsx, as the file type chosen in the save dialog says.
    void MSaveReportClick();
    void MExitClick();
    void MClearClick();
    void MServerOptionsClick();
    void MHelpClick();
    void MAboutClick();
    void MReleaseClick();
    // Shared by every item of the Languages submenu.
    void MLanguageClick(QAction* item);

protected:
    bool event(QEvent* event) override;

private:
    struct CommandSlot {
        QAction* menuItem = nullptr;
        QToolButton* button = nullptr;
        std::function<void()> work;
    };

    void buildMenus();
    void buildToolBar();
    void buildReport();
    QAction* addItem(QMenu* menu, const char* name, const QString& caption, void (TMainForm::*handler)());
    QToolButton* addButton(const char* name, const QString& caption, Command command,
                           void (TMainForm::*handler)());
    void fillLanguages();
    void applyLanguageFile();
    void applyFont();
    void run(Command command);
    // Save report... is there to be chosen only while the report has lines.
    void updateSaveReport();
    QString languagesFolder() const;

    QString m_programDir;
    QString m_languageFileName;
    CurrentLanguage m_language;
    QtTexts m_qtTexts; // Qt's own texts in the language in force
    SettingsStore m_settings;
    std::function<int()> m_languageId;
    Services m_services;
    RunReport* m_report = nullptr;
    QList<LocalizedWindow*> m_windows;
    CommandSlot m_commands[8];
    QMenu* m_languages = nullptr;
    QAction* m_saveReport = nullptr;
    QString m_reportFolder; // where the last report was saved
    bool m_destroyed = false;
    bool m_shownOnce = false;
};
