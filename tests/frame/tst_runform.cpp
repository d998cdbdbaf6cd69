// Pins the run dialog frame: the show sequence, the stop flag as the only gate for closing, the
// per-record duties, and both rhythms (whole run in one tick, one record per tick).
#include "app/runreport.h"
#include "app/services.h"
#include "merge/common/runform.h"
#include "merge/excel/formexcelprogress.h"
#include "support/fakes.h"

#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QTreeView>
#include <QtTest>

namespace {

struct Record {
    QString key;
    int image = ImageProcessed;
};

// A mode that runs a list of records in one tick, the way the Excel, Word and Outlook runs do:
// the first stop test right after "opening" the source, then one recordDone per record.
class ListRunForm : public TRunForm {
public:
    using TRunForm::TRunForm;

    QList<Record> records;
    int firstRow = 1;
    int lastRow = 0;
    std::function<void(int)> beforeRecord; // index of the record about to be done
    int closed = 0;
    QList<int> progressSeen;

    QString section() const override { return QStringLiteral("ListProgressForm"); }
    QString showStatusKey() const override { return QStringLiteral("String06"); }
    QString recordsStatusKey() const override { return QStringLiteral("String07"); }
    QList<RunReport::Column> reportColumns() const override { return {{QStringLiteral("Key"), 120}}; }
    void runClosed() override { ++closed; }

    void Timer1Timer() override {
        Timer1->stop();
        beginCounters();
        if (stopFlag()) {
            finish();
            return;
        }
        showRecordsStatus();
        for (int i = 0; i < records.size(); ++i) {
            if (beforeRecord)
                beforeRecord(i);
            const bool goOn = recordDone({records[i].key}, records[i].image, firstRow + i, lastRow);
            progressSeen << ProgressBar1->value();
            if (!goOn) {
                finish();
                return;
            }
        }
        m_services.notice(section(), QStringLiteral("Done"));
        finish();
    }
};

// A mode with the bulk rhythm: counters on show, a pending line per tick whose image is set once
// its outcome is known, the timer re-armed until the records are used up.
class TickRunForm : public TRunForm {
public:
    explicit TickRunForm(Services& services) : TRunForm(services) { Timer1->setInterval(1000); }

    QList<bool> outcomes; // sent or not, one per tick
    int next = 0;
    int prepared = 0;

    QString section() const override { return QStringLiteral("TickProgressForm"); }
    QString showStatusKey() const override { return QStringLiteral("String04"); }
    QString recordsStatusKey() const override { return QStringLiteral("String05"); }
    QList<RunReport::Column> reportColumns() const override {
        return {{QStringLiteral("MailTo"), 150}, {QStringLiteral("Comment"), 200}};
    }
    bool countersOnShow() const override { return true; }
    void prepareRun() override {
        next = 0;
        ++prepared;
    }

    void Timer1Timer() override {
        Timer1->stop();
        const int line = addLine({QStringLiteral("to%1@example.org").arg(next), QString()}, ImagePending);
        const bool sent = outcomes[next++];
        setProgress(next, int(outcomes.size()));
        if (sent) {
            setLineImage(line, ImageProcessed);
        } else {
            setLineSubItem(line, 1, QStringLiteral("refused"));
            setLineImage(line, ImageFailure);
        }
        if (stopFlag())
            finish();
        else if (next >= outcomes.size())
            finish();
        else
            rearmTimer();
    }
};

struct Harness {
    FakeTexts texts{{"StatusBar.Records", "Records: "},
                    {"StatusBar.NullValues", "Null: "},
                    {"StatusBar.Failures", "Failures: "}};
    FakePrompter prompter;
    FakeFileDialogs files;
    FakeShell shell;
    FakeAppProbe probe;
    QTreeView list;
    QLabel panels[3];
    RunReport report{&list, &panels[0], &panels[1], &panels[2]};
    Services services{texts, prompter, files, shell, probe, &report};
};

QList<Record> records(const QList<int>& images) {
    QList<Record> list;
    for (int i = 0; i < images.size(); ++i)
        list.append({QStringLiteral("k%1").arg(i + 1), images[i]});
    return list;
}

} // namespace

class TestRunForm : public QObject {
    Q_OBJECT
private slots:
    void cancelBeforeTheFirstTickEndsTheRunAtItsFirstStopTest();
    void closeIsRefusedWhileTheStopFlagIsDown_data();
    void closeIsRefusedWhileTheStopFlagIsDown();
    void aRunWritesOneLinePerRecordWithCountersAndProgress();
    void cancelDuringTheRunIsSeenAtTheNextRecordBoundary();
    void aSecondRunStartsClean();
    void oneRecordPerTickCountsOnShowAndMovesCountsWithTheImage();
    void closingAfterCancelDropsTheArmedTick();
    void excelRunDialogShowsItsColumnsAndStatus();
};

void TestRunForm::cancelBeforeTheFirstTickEndsTheRunAtItsFirstStopTest() {
    Harness h;
    ListRunForm form(h.services);
    form.records = records({0, 0});
    form.lastRow = 2;
    bool tickPending = false;
    whenShown(&form, [&] {
        tickPending = form.Timer1->isActive();
        QTest::mouseClick(form.ButtonCancel, Qt::LeftButton);
    });
    form.exec();
    QVERIFY2(tickPending, "Cancel was meant to come while the run had not started yet");
    QCOMPARE(h.report.lineCount(), 0);
    QVERIFY2(h.prompter.calls.isEmpty(), "a cancelled run closes without a final message");
    QVERIFY(form.stopFlag());
    QVERIFY(!form.isVisible());
    QCOMPARE(form.closed, 1);
}

void TestRunForm::closeIsRefusedWhileTheStopFlagIsDown_data() {
    QTest::addColumn<int>("how");
    QTest::newRow("close request of the window system") << 0;
    QTest::newRow("Esc key") << 1;
    QTest::newRow("reject") << 2;
}

void TestRunForm::closeIsRefusedWhileTheStopFlagIsDown() {
    QFETCH(int, how);
    Harness h;
    ListRunForm form(h.services);
    form.show();
    form.Timer1->stop(); // hold the dialog in its running state
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    auto tryClose = [&] {
        switch (how) {
        case 0:
            form.close();
            break;
        case 1:
            QTest::keyClick(&form, Qt::Key_Escape);
            break;
        default:
            form.reject();
        }
    };
    tryClose();
    QVERIFY2(form.isVisible(), "closed while the stop flag was down");
    QCOMPARE(form.closed, 0);
    QTest::mouseClick(form.ButtonCancel, Qt::LeftButton);
    QVERIFY(form.isVisible()); // Cancel only raises the flag
    tryClose();
    QVERIFY(!form.isVisible());
    QCOMPARE(form.closed, 1);
}

void TestRunForm::aRunWritesOneLinePerRecordWithCountersAndProgress() {
    Harness h;
    ListRunForm form(h.services);
    // Rows 5 to 7 of a sheet whose last row is 7.
    form.records = records({ImageProcessed, ImageFailure, ImageNullValue});
    form.firstRow = 5;
    form.lastRow = 7;
    form.Timer1->setInterval(0);
    form.exec();
    QCOMPARE(h.report.lineCount(), 3);
    QCOMPARE(h.report.subItems(1), QStringList{"k2"});
    QCOMPARE(h.report.image(1), int(ImageFailure));
    QCOMPARE(form.progressSeen, (QList<int>{71, 85, 100}));
    QCOMPARE(h.report.panelText(0), QString("Records: 3"));
    QCOMPARE(h.report.panelText(1), QString("Null: 1"));
    QCOMPARE(h.report.panelText(2), QString("Failures: 1"));
    QCOMPARE(h.report.selectedLine(), 2);
    QCOMPARE(form.Label1->text(), QString("ListProgressForm.String07"));
    QCOMPARE(h.prompter.calls.size(), 1);
    QCOMPARE(h.prompter.calls[0].text, QString("ListProgressForm.Done"));
    QVERIFY(form.stopFlag());
    QVERIFY(!form.isVisible());
}

void TestRunForm::cancelDuringTheRunIsSeenAtTheNextRecordBoundary() {
    Harness h;
    ListRunForm form(h.services);
    form.records = records({0, 0, 0, 0});
    form.lastRow = 4;
    form.Timer1->setInterval(0);
    // The click waits in the queue until the run processes events after record 2.
    form.beforeRecord = [&](int i) {
        if (i == 1)
            QTimer::singleShot(0, &form, [&] { QTest::mouseClick(form.ButtonCancel, Qt::LeftButton); });
    };
    form.exec();
    QCOMPARE(h.report.lineCount(), 2);
    QCOMPARE(form.progressSeen, (QList<int>{25, 25}));
    QCOMPARE(h.report.panelText(0), QString("Records: 2"));
    QVERIFY(h.prompter.calls.isEmpty());
    QCOMPARE(form.closed, 1);
}

void TestRunForm::aSecondRunStartsClean() {
    Harness h;
    ListRunForm form(h.services);
    form.records = records({ImageFailure, ImageFailure, ImageProcessed, ImageProcessed});
    form.lastRow = 4;
    form.Timer1->setInterval(0);
    form.beforeRecord = [&](int i) {
        if (i == 2)
            QTimer::singleShot(0, &form, [&] { form.ButtonCancelClick(); });
    };
    form.exec();
    QCOMPARE(h.report.lineCount(), 3);
    QCOMPARE(form.ProgressBar1->value(), 50);

    form.beforeRecord = nullptr;
    form.records = records({ImageProcessed});
    form.lastRow = 1;
    form.Timer1->setInterval(60000);
    form.show();
    QCOMPARE(h.report.lineCount(), 0);
    QCOMPARE(h.report.columnCaptions(), (QStringList{"", "Key"}));
    QCOMPARE(h.report.view(), RunReport::View::Details);
    QCOMPARE(form.ProgressBar1->value(), 0);
    QVERIFY(!form.stopFlag());
    QVERIFY(form.Timer1->isActive());
    QCOMPARE(form.Label1->text(), QString("ListProgressForm.String06"));

    form.Timer1Timer();
    QCOMPARE(h.report.lineCount(), 1);
    QCOMPARE(h.report.panelText(0), QString("Records: 1"));
    QCOMPARE(h.report.panelText(2), QString("Failures: 0"));
    QCOMPARE(form.ProgressBar1->value(), 100);
    QVERIFY(!form.isVisible());
}

void TestRunForm::oneRecordPerTickCountsOnShowAndMovesCountsWithTheImage() {
    Harness h;
    h.panels[0].setText("left by the last run");
    TickRunForm form(h.services);
    form.outcomes = {true, false, true};
    form.show();
    QCOMPARE(form.prepared, 1);
    QCOMPARE(form.counters().records, 0);
    QCOMPARE(h.report.columnCaptions(), (QStringList{"", "MailTo", "Comment"}));
    QCOMPARE(h.report.panelText(0), QString("left by the last run")); // untouched until a line comes
    QCOMPARE(form.Timer1->interval(), 1000);

    form.Timer1Timer();
    QVERIFY2(form.Timer1->isActive(), "the timer is re-armed while rows remain");
    QCOMPARE(h.report.image(0), int(ImageProcessed));
    QCOMPARE(form.ProgressBar1->value(), 33);

    form.Timer1Timer();
    QCOMPARE(h.report.image(1), int(ImageFailure));
    QCOMPARE(h.report.subItems(1).value(1), QString("refused"));
    QCOMPARE(h.report.panelText(2), QString("Failures: 1"));
    QCOMPARE(form.counters().failures, 1);

    // Cancel between ticks: the next tick still does its record, then the dialog closes.
    form.ButtonCancelClick();
    form.Timer1Timer();
    QCOMPARE(h.report.lineCount(), 3);
    QCOMPARE(h.report.panelText(0), QString("Records: 3"));
    QCOMPARE(h.report.panelText(1), QString("Null: 0"));
    QCOMPARE(h.report.panelText(2), QString("Failures: 1"));
    QVERIFY(!form.Timer1->isActive());
    QVERIFY(!form.isVisible());
}

void TestRunForm::closingAfterCancelDropsTheArmedTick() {
    Harness h;
    TickRunForm form(h.services);
    form.outcomes = {true, true};
    form.show();
    form.Timer1Timer();
    QVERIFY(form.Timer1->isActive());
    form.ButtonCancelClick();
    QVERIFY(form.close());
    QVERIFY2(!form.Timer1->isActive(), "a tick would run after the dialog released its run");
    QCOMPARE(form.next, 1);
}

void TestRunForm::excelRunDialogShowsItsColumnsAndStatus() {
    Harness h;
    h.texts.set("ListView.IndexColumn", "Index");
    h.texts.set("ExcelProgressForm.Caption", "Process");
    TExcelProgressForm form(h.services);
    ExcelMergeSettings settings;
    settings.pairs = {{2, 3}, {1, 26}, {4, 3}};
    form.setSettingsSource([&] { return settings; });
    form.applyTexts(h.texts);
    QCOMPARE(form.windowTitle(), QString("Process"));
    QCOMPARE(form.ButtonCancel->text(), QString("Common.Cancel"));
    h.report.addLine({"old"}, ImageFailure);
    form.show();
    QCOMPARE(h.report.lineCount(), 0);
    QCOMPARE(h.report.columnCaptions(), (QStringList{"", "Index", "C", "Z", "C"}));
    QCOMPARE(h.list.header()->sectionSize(1), 120);
    QCOMPARE(h.list.header()->sectionSize(2), 100);
    QCOMPARE(form.Label1->text(), QString("ExcelProgressForm.String06"));
    QCOMPARE(form.Timer1->interval(), 500);
    QVERIFY(form.Timer1->isActive());
    form.Timer1->stop();
    form.ButtonCancelClick();
    form.close();
}

QTEST_MAIN(TestRunForm)
#include "tst_runform.moc"
