#pragma once
// The windows of the bulk-mail mode as start-up connects them, on scripted seams and a bare run
// report, with the few moves a user makes in them.
#include "app/runreport.h"
#include "app/services.h"
#include "merge/bulk/formbulk.h"
#include "merge/bulk/formbulkprogress.h"
#include "merge/common/formoptions.h"
#include "merge/common/attachmentlist.h"
#include "merge/common/mailjobfields.h"
#include "merge/common/formpreview.h"
#include "support/fakes.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTreeView>

struct BulkWindows {
    FakeTexts texts{{"StatusBar.Records", "Records: "},
                    {"StatusBar.NullValues", "Null: "},
                    {"StatusBar.Failures", "Failures: "},
                    {"ListView.Field", "Field "},
                    {"BulkProgressForm.String17", "left out: [xxx]"}};
    FakePrompter prompter;
    FakeFileDialogs files;
    FakeShell shell;
    FakeAppProbe probe;
    QTreeView view;
    QLabel panels[3];
    RunReport report{&view, &panels[0], &panels[1], &panels[2]};
    Services services{texts, prompter, files, shell, probe, &report};
    TBulkForm form{services};
    TBulkAddForm addForm{services, form.sourceWorkbook()};
    TBulkProgressForm progress{services};
    TPreviewForm preview{services};
    TOptionsForm options{services};

    BulkWindows() {
        form.setAddForm(&addForm);
        form.setPreviewForm(&preview);
        form.setOptionsForm(&options);
        addForm.setPreviewForm(&preview);
        progress.setJobSource([this] { return form.job(); });
        progress.setServerSource([this] { return serverSettings(options.fields()); });
        options.setFields({"me@example.org", "smtp.example.org", "25", "me", "secret", false});
    }

    QPlainTextEdit* memo() { return form.Fields->Panel1->Memo1; }

    // Through the Add dialog, as the user does it.
    void addPair(const QString& label, const QString& column) {
        whenShown(&addForm, [this, label, column] {
            addForm.findChild<QLineEdit*>("Edit1")->setText(label);
            addForm.findChild<QComboBox*>("ComboBox1")->setCurrentText(column);
            addForm.findChild<QPushButton*>("ButtonAdd")->click();
        });
        form.Fields->ButtonAdd->click();
    }

    QStringList messages() const {
        QStringList list;
        for (const FakePrompter::Call& call : prompter.calls)
            list << call.text;
        return list;
    }
};
