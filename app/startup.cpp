#include "app/startup.h"
#include "app/formmain.h"
#include "app/helpcommands.h"
#include "merge/bulk/bulkcommandflow.h"
#include "merge/bulk/formbulk.h"
#include "merge/bulk/formbulkprogress.h"
#include "merge/common/formoptions.h"
#include "mail/mailsettings.h"
#include "merge/common/formfillin.h"
#include "merge/common/formpreview.h"
#include "merge/excel/excelcommandflow.h"
#include "merge/excel/formexcel.h"
#include "merge/excel/formexcelprogress.h"
#include "merge/word/formword.h"
#include "merge/word/formwordprogress.h"
#include "merge/word/wordcommandflow.h"
#include "merge/outlook/formoutlook.h"
#include "merge/outlook/formoutlookprogress.h"
#include "merge/outlook/outlookcommandflow.h"
#include "platform/prompter.h"

#include <cstdio>

namespace {
// Builds one window with the main window's services, parented to it so that it lives as long as
// the program, and registers it for the language file.
template <class Window> Window* addWindow(TMainForm& mainForm) {
    auto* window = new Window(mainForm.services(), &mainForm);
    mainForm.registerWindow(window);
    return window;
}
} // namespace

void createWindows(TMainForm& mainForm) {
    // The order below is the order in which windows get the language file; keep it:
    // TExcelForm, TExcelAddForm, TExcelProgressForm, TPreviewForm, TWordForm, TWordAddForm,
    // TWordProgressForm, TOutlookForm, TOutlookAddForm, TOutlookProgressForm, TBulkForm,
    // TBulkAddForm, TBulkProgressForm, TOptionsForm, TAboutForm.
    // Each takes (Services&, QWidget* parent); a window that carries out a command hands its
    // work to the main window through setCommand.
    Services& services = mainForm.services();
    auto* excelForm = addWindow<TExcelForm>(mainForm);
    auto* excelAdd = new TExcelAddForm(services, excelForm->sourceWorkbook(), excelForm->destWorkbook(), &mainForm);
    mainForm.registerWindow(excelAdd);
    excelForm->setAddForm(excelAdd);
    auto* excelProgress = addWindow<TExcelProgressForm>(mainForm);
    excelProgress->setSettingsSource([excelForm] { return excelForm->settings(); });
    auto* preview = addWindow<TPreviewForm>(mainForm);
    excelForm->setPreviewForm(preview);
    excelAdd->setPreviewForm(preview);
    mainForm.setCommand(TMainForm::Command::ExcelToExcel, [&mainForm, excelForm, excelProgress] {
        excelToExcelCommand(mainForm.services(), *excelForm, *excelProgress);
    });

    auto* wordForm = addWindow<TWordForm>(mainForm);
    auto* wordAdd = new TWordAddForm(services, wordForm->sourceWorkbook(), &mainForm);
    mainForm.registerWindow(wordAdd);
    wordForm->setAddForm(wordAdd);
    auto* wordProgress = addWindow<TWordProgressForm>(mainForm);
    wordProgress->setSettingsSource([wordForm] { return wordForm->settings(); });
    wordForm->setPreviewForm(preview);
    wordAdd->setPreviewForm(preview);
    mainForm.setCommand(TMainForm::Command::ExcelToWord, [&mainForm, wordForm, wordProgress] {
        excelToWordCommand(mainForm.services(), *wordForm, *wordProgress);
    });

    auto* outlookForm = addWindow<TOutlookForm>(mainForm);
    auto* outlookAdd = new TOutlookAddForm(services, outlookForm->sourceWorkbook(), &mainForm);
    mainForm.registerWindow(outlookAdd);
    outlookForm->setAddForm(outlookAdd);
    outlookForm->setPreviewForm(preview);
    outlookAdd->setPreviewForm(preview);
    auto* outlookProgress = addWindow<TOutlookProgressForm>(mainForm);
    outlookProgress->setSettingsSource([outlookForm] { return outlookForm->settings(); });
    outlookProgress->setSenderSource([&mainForm] { return loadMailServerFields(mainForm.settings()).email; });
    mainForm.setCommand(TMainForm::Command::ExcelToOutlook, [&mainForm, outlookForm, outlookProgress] {
        excelToOutlookCommand(mainForm.services(), *outlookForm, *outlookProgress);
    });

    auto* bulkForm = addWindow<TBulkForm>(mainForm);
    auto* bulkAdd = new TBulkAddForm(services, bulkForm->sourceWorkbook(), &mainForm);
    mainForm.registerWindow(bulkAdd);
    bulkForm->setAddForm(bulkAdd);
    bulkForm->setPreviewForm(preview);
    bulkAdd->setPreviewForm(preview);
    auto* bulkProgress = addWindow<TBulkProgressForm>(mainForm);
    auto* options = addWindow<TOptionsForm>(mainForm);
    options->loadSettings(mainForm.settings());
    bulkForm->setOptionsForm(options);
    bulkProgress->setJobSource([bulkForm] { return bulkForm->job(); });
    bulkProgress->setServerSource([options] { return serverSettings(options->fields()); });
    outlookProgress->setImapSource([options] { return options->imapAccountInForce(); });
    mainForm.setCommand(TMainForm::Command::BulkMails, [&mainForm, bulkForm, bulkProgress] {
        bulkMailsCommand(mainForm.services(), *bulkForm, *bulkProgress);
    });
    mainForm.setCommand(TMainForm::Command::ServerOptions, [options] { options->showAndSave(); });

    addHelpCommands(mainForm); // the about box, last of all
}

void showException(Prompter& prompter, std::exception_ptr error) {
    QString message;
    try {
        if (error)
            std::rethrow_exception(error);
    } catch (const std::exception& e) {
        message = QString::fromUtf8(e.what());
    } catch (...) {
    }
    prompter.error(QStringLiteral("Tallyweave"), message);
}

bool TallyweaveApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        if (m_prompter) {
            showException(*m_prompter, std::current_exception());
        } else {
            std::fputs("Tallyweave: an exception escaped an event handler\n", stderr);
        }
    }
    return false;
}
