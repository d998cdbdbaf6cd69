// The four fill-in pair dialogs built from one piece: what each lets the user add, when Add is
// allowed, where the focus starts, and the fill-in list they append to.
#include "app/services.h"
#include "merge/common/formfillin.h"
#include "support/fakes.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>
#include <QTreeWidget>
#include <QtTest>

#include <memory>

namespace {

enum class Mode { Excel, Word, Outlook, Bulk };

struct Harness {
    FakeTexts texts;
    FakePrompter prompter;
    FakeFileDialogs files;
    FakeShell shell;
    FakeAppProbe probe;
    Services services{texts, prompter, files, shell, probe, nullptr};
    QLineEdit sourcePath;
    QComboBox sourceSheet;
    QLineEdit destPath;
    QComboBox destSheet;
    QTreeWidget list;

    Harness() { fillinlist::setUp(&list); }

    std::unique_ptr<FillInAddDialog> make(Mode mode) {
        const WorkbookFields source{&sourcePath, &sourceSheet};
        switch (mode) {
        case Mode::Excel:
            return std::make_unique<TExcelAddForm>(services, source, WorkbookFields{&destPath, &destSheet});
        case Mode::Word:
            return std::make_unique<TWordAddForm>(services, source);
        case Mode::Outlook:
            return std::make_unique<TOutlookAddForm>(services, source);
        case Mode::Bulk:
            return std::make_unique<TBulkAddForm>(services, source);
        }
        return {};
    }
};

// Plays the user of an Add dialog shown with exec(): choose, type, then press a button.
void playAdd(FillInAddDialog* dialog, const QString& first, const QString& second, const char* button) {
    whenShown(dialog, [=] {
        if (auto* edit = dialog->findChild<QLineEdit*>(QStringLiteral("Edit1"))) {
            edit->setText(first);
            dialog->findChild<QComboBox*>(QStringLiteral("ComboBox1"))->setCurrentText(second);
        } else {
            dialog->findChild<QComboBox*>(QStringLiteral("ComboBox1"))->setCurrentText(first);
            dialog->findChild<QComboBox*>(QStringLiteral("ComboBox2"))->setCurrentText(second);
        }
        dialog->findChild<QPushButton*>(QLatin1String(button))->click();
    });
}

} // namespace

Q_DECLARE_METATYPE(Mode)

class TestFillInDialogs : public QObject {
    Q_OBJECT
private slots:
    void controlsFollowTheMode_data();
    void controlsFollowTheMode();
    void addNeedsALabelOtherThanBlanks_data();
    void addNeedsALabelOtherThanBlanks();
    void okAppendsThePairAndCancelAppendsNothing_data();
    void okAppendsThePairAndCancelAppendsNothing();
    void dialogKeepsItsValuesBetweenUses();
    void listKeepsDuplicatesAndDeletesTheSelectedPair();
};

void TestFillInDialogs::controlsFollowTheMode_data() {
    QTest::addColumn<Mode>("mode");
    QTest::addColumn<QString>("section");
    QTest::addColumn<QStringList>("present");
    QTest::addColumn<QStringList>("absent");
    QTest::addColumn<QString>("focused");

    const QStringList common{"Label1",    "Label2",      "ComboBox1", "SpeedButtonPreview1",
                             "ButtonAdd", "ButtonCancel"};
    QTest::newRow("excel: two column drop-downs, two previews")
        << Mode::Excel << "ExcelAddForm" << (common + QStringList{"ComboBox2", "SpeedButtonPreview2"})
        << QStringList{"Edit1"} << "ComboBox1";
    QTest::newRow("word: label first and focused")
        << Mode::Word << "WordAddForm" << (common + QStringList{"Edit1"})
        << QStringList{"ComboBox2", "SpeedButtonPreview2"} << "Edit1";
    QTest::newRow("outlook: label first, column focused")
        << Mode::Outlook << "OutlookAddForm" << (common + QStringList{"Edit1"})
        << QStringList{"ComboBox2", "SpeedButtonPreview2"} << "ComboBox1";
    QTest::newRow("bulk: as outlook") << Mode::Bulk << "BulkAddForm" << (common + QStringList{"Edit1"})
                                      << QStringList{"ComboBox2", "SpeedButtonPreview2"} << "ComboBox1";
}

void TestFillInDialogs::controlsFollowTheMode() {
    QFETCH(Mode, mode);
    QFETCH(QString, section);
    QFETCH(QStringList, present);
    QFETCH(QStringList, absent);
    QFETCH(QString, focused);

    Harness h;
    auto dialog = h.make(mode);
    dialog->applyTexts(h.texts);
    QCOMPARE(dialog->size(), QSize(268, 180));
    for (const QString& name : present)
        QVERIFY2(dialog->findChild<QWidget*>(name), qPrintable(name));
    for (const QString& name : absent)
        QVERIFY2(!dialog->findChild<QWidget*>(name), qPrintable(name));

    QCOMPARE(dialog->windowTitle(), section + ".Caption");
    QCOMPARE(dialog->findChild<QLabel*>("Label1")->text(), section + ".From");
    QCOMPARE(dialog->findChild<QLabel*>("Label2")->text(), section + ".To");
    QCOMPARE(dialog->findChild<QPushButton*>("ButtonAdd")->text(), section + ".Add");
    QCOMPARE(dialog->findChild<QPushButton*>("ButtonCancel")->text(), QString("Common.Cancel"));
    for (auto* preview : dialog->findChildren<QToolButton*>())
        QCOMPARE(preview->toolTip(), section + ".Preview");
    // Every field is announced by the label above it.
    QCOMPARE(dialog->findChild<QLabel*>("Label1")->buddy(),
             dialog->findChild<QWidget*>(present.contains("Edit1") ? "Edit1" : "ComboBox1"));

    QWidget* focusOnShow = nullptr;
    whenShown(dialog.get(), [&] {
        focusOnShow = dialog->focusWidget();
        dialog->reject();
    });
    dialog->exec();
    QCOMPARE(focusOnShow, dialog->findChild<QWidget*>(focused));
}

void TestFillInDialogs::addNeedsALabelOtherThanBlanks_data() {
    QTest::addColumn<Mode>("mode");
    QTest::addColumn<QString>("label");
    QTest::addColumn<bool>("enabled");

    QTest::newRow("word, empty label") << Mode::Word << "" << false;
    QTest::newRow("word, blanks and a tab") << Mode::Word << "  \t " << false;
    QTest::newRow("word, a label") << Mode::Word << " <Name> " << true;
    QTest::newRow("outlook, blanks") << Mode::Outlook << "   " << false;
    QTest::newRow("outlook, one character") << Mode::Outlook << "x" << true;
    QTest::newRow("bulk, blanks") << Mode::Bulk << " " << false;
    QTest::newRow("bulk, a label") << Mode::Bulk << "%mail%" << true;
    QTest::newRow("excel has no label and always allows Add") << Mode::Excel << "" << true;
}

void TestFillInDialogs::addNeedsALabelOtherThanBlanks() {
    QFETCH(Mode, mode);
    QFETCH(QString, label);
    QFETCH(bool, enabled);

    Harness h;
    auto dialog = h.make(mode);
    auto* add = dialog->findChild<QPushButton*>("ButtonAdd");
    if (auto* edit = dialog->findChild<QLineEdit*>("Edit1")) {
        edit->setText("something first");
        edit->setText(label);
    }
    dialog->FormShow();
    QCOMPARE(add->isEnabled(), enabled);
    // Typing alone, without a new show, follows the rule as well.
    if (auto* edit = dialog->findChild<QLineEdit*>("Edit1")) {
        edit->setText("x");
        QVERIFY(add->isEnabled());
        edit->setText(label);
        QCOMPARE(add->isEnabled(), enabled);
    }
}

void TestFillInDialogs::okAppendsThePairAndCancelAppendsNothing_data() {
    QTest::addColumn<Mode>("mode");
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("second");
    QTest::addColumn<QStringList>("item");

    QTest::newRow("excel: source letter, arrow, destination letter") << Mode::Excel << "C"
                                                                     << "F" << QStringList{"C", "==>", "F"};
    QTest::newRow("word: column, arrow, label without outer blanks")
        << Mode::Word << "  <First name>\t"
        << "B" << QStringList{"B", "==>", "<First name>"};
    QTest::newRow("outlook: inner blanks stay") << Mode::Outlook << " a  b "
                                                << "Z" << QStringList{"Z", "==>", "a  b"};
    QTest::newRow("bulk") << Mode::Bulk << "[amount]"
                          << "A" << QStringList{"A", "==>", "[amount]"};
}

void TestFillInDialogs::okAppendsThePairAndCancelAppendsNothing() {
    QFETCH(Mode, mode);
    QFETCH(QString, first);
    QFETCH(QString, second);
    QFETCH(QStringList, item);

    Harness h;
    auto dialog = h.make(mode);
    playAdd(dialog.get(), first, second, "ButtonCancel");
    QVERIFY(!dialog->addTo(&h.list));
    QCOMPARE(h.list.topLevelItemCount(), 0);

    playAdd(dialog.get(), first, second, "ButtonAdd");
    QVERIFY(dialog->addTo(&h.list));
    QCOMPARE(h.list.topLevelItemCount(), 1);
    const QTreeWidgetItem* added = h.list.topLevelItem(0);
    QCOMPARE((QStringList{added->text(0), added->text(1), added->text(2)}), item);
    QCOMPARE(fillinlist::items(&h.list), (QList<FillInItem>{{item[0], item[2]}}));
}

void TestFillInDialogs::dialogKeepsItsValuesBetweenUses() {
    Harness h;
    auto dialog = h.make(Mode::Outlook);
    playAdd(dialog.get(), "<label>", "D", "ButtonAdd");
    QVERIFY(dialog->addTo(&h.list));

    // Shown again, it offers what was chosen last time; Add right away repeats the pair.
    whenShown(dialog.get(), [&] {
        QCOMPARE(dialog->findChild<QLineEdit*>("Edit1")->text(), QString("<label>"));
        QCOMPARE(dialog->findChild<QComboBox*>("ComboBox1")->currentText(), QString("D"));
        QVERIFY(dialog->findChild<QPushButton*>("ButtonAdd")->isEnabled());
        dialog->findChild<QPushButton*>("ButtonAdd")->click();
    });
    QVERIFY(dialog->addTo(&h.list));
    QCOMPARE(h.list.topLevelItemCount(), 2);
}

void TestFillInDialogs::listKeepsDuplicatesAndDeletesTheSelectedPair() {
    QTreeWidget list;
    fillinlist::setUp(&list);
    fillinlist::append(&list, {"A", "B"});
    fillinlist::append(&list, {"A", "B"});
    fillinlist::append(&list, {"C", "D"});
    QCOMPARE(list.topLevelItemCount(), 3);

    QVERIFY2(!fillinlist::deleteSelected(&list), "nothing selected, nothing deleted");
    QCOMPARE(list.topLevelItemCount(), 3);

    list.setCurrentItem(list.topLevelItem(1));
    QVERIFY(fillinlist::deleteSelected(&list));
    QCOMPARE(fillinlist::items(&list), (QList<FillInItem>{{"A", "B"}, {"C", "D"}}));
}

QTEST_MAIN(TestFillInDialogs)
#include "tst_fillindialogs.moc"
