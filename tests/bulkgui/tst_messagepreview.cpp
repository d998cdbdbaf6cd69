// The message preview window, offscreen: paging over the rows by button and by row number, what it
// shows of a message read back from its bytes, the row's warnings, and the test send.
#include "app/services.h"
#include "mail/composer.h"
#include "merge/common/formmessagepreview.h"
#include "support/fakes.h"

#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QtTest>

namespace {

// Rows 2, 5 and 9: a plain message with a file, a row that gets none, an HTML message with Cc.
class ThreeRows : public MessagePreviewSource {
public:
    explicit ThreeRows(const QString& file) : m_file(file) {}
    int count() const override { return 3; }
    int rowAt(int index) const override { return QList<int>{2, 5, 9}.value(index); }
    PreviewedRow at(int index) override {
        ++composed;
        AttachmentCache cache;
        ComposeOptions options;
        options.fromName = QStringLiteral("Billing");
        options.fromAddress = QStringLiteral("billing@example.org");
        MessageContent content;
        switch (index) {
        case 0:
            content.to = QStringLiteral("ann@example.org");
            content.subject = QStringLiteral("Invoice INV-1");
            content.body = QStringLiteral("Dear Ann\r\n");
            content.attachments = {{QStringLiteral("terms.pdf"), m_file}};
            return {2, composeMessage(content, options, cache), {QStringLiteral("The label CITY is not used.")}};
        case 1:
            return {5, {}, {QStringLiteral("Left out: the address \"bob at example\" cannot be used.")}};
        default: {
            // An HTML message as an independent writer makes it, with a Cc.
            const QByteArray html =
                "From: billing@example.org\r\nTo: cy@example.org\r\nCc: boss@example.org\r\nSubject: Hello Cy\r\n"
                "MIME-Version: 1.0\r\nContent-Type: multipart/alternative; boundary=\"b\"\r\n\r\n"
                "--b\r\nContent-Type: text/plain; charset=utf-8\r\n\r\nHello Cy\r\n"
                "--b\r\nContent-Type: text/html; charset=utf-8\r\n\r\n<p>Hello <b>Cy</b></p>\r\n--b--\r\n";
            return {9, html, {}};
        }
        }
    }
    int composed = 0;

private:
    QString m_file;
};

struct Window {
    FakeTexts texts{{"MessagePreviewForm.Of", "[xxx] of [count]"}};
    FakePrompter prompter;
    FakeFileDialogs files;
    FakeShell shell;
    FakeAppProbe probe;
    Services services{texts, prompter, files, shell, probe, nullptr};
    TMessagePreviewForm form{services};
};

} // namespace

class TestMessagePreview : public QObject {
    Q_OBJECT
private slots:
    void init();
    void pagesOverTheRows_data();
    void pagesOverTheRows();
    void showsTheMessageAsItsReaderWould();
    void testSendHandsOverTheShownRowAndSaysHowItWent();

private:
    QTemporaryDir m_dir;
    QString m_file;
    std::unique_ptr<Window> w;
    std::unique_ptr<ThreeRows> rows;
};

void TestMessagePreview::init() {
    m_file = m_dir.filePath(QStringLiteral("terms.pdf"));
    QFile f(m_file);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(QByteArray(2048, 'p'));
    f.close();
    w = std::make_unique<Window>();
    rows = std::make_unique<ThreeRows>(m_file);
    w->form.setSource(rows.get());
}

void TestMessagePreview::pagesOverTheRows_data() {
    QTest::addColumn<QString>("moves"); // n: Next, p: Previous, a number: typed into the row field
    QTest::addColumn<int>("row");
    QTest::addColumn<bool>("previous");
    QTest::addColumn<bool>("next");
    QTest::addColumn<QString>("of");
    QTest::newRow("the first recipient on opening") << "" << 2 << false << true << "1 of 3";
    QTest::newRow("next reaches the row that gets no message") << "n" << 5 << true << true << "2 of 3";
    QTest::newRow("next stops at the last") << "n n n" << 9 << true << false << "3 of 3";
    QTest::newRow("previous from the last") << "n n p" << 5 << true << true << "2 of 3";
    QTest::newRow("a recipient's row number") << "9" << 9 << true << false << "3 of 3";
    QTest::newRow("a row between goes to the next recipient") << "3" << 5 << true << true << "2 of 3";
    QTest::newRow("a row before the first") << "1" << 2 << false << true << "1 of 3";
    QTest::newRow("a row after the last") << "500" << 9 << true << false << "3 of 3";
}

void TestMessagePreview::pagesOverTheRows() {
    QFETCH(QString, moves);
    for (const QString& move : moves.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        if (move == QLatin1String("n"))
            w->form.ButtonNext->click();
        else if (move == QLatin1String("p"))
            w->form.ButtonPrevious->click();
        else
            w->form.SpinRow->setValue(move.toInt());
    }
    QTEST(w->form.SpinRow->value(), "row");
    QTEST(w->form.ButtonPrevious->isEnabled(), "previous");
    QTEST(w->form.ButtonNext->isEnabled(), "next");
    QTEST(w->form.LabelOf->text(), "of");
}

void TestMessagePreview::showsTheMessageAsItsReaderWould() {
    TMessagePreviewForm& f = w->form;
    QCOMPARE(f.ValueFrom->text(), QStringLiteral("Billing <billing@example.org>"));
    QCOMPARE(f.ValueTo->text(), QStringLiteral("ann@example.org"));
    QVERIFY2(f.ValueCc->isHidden(), "no Cc, no line for it");
    QCOMPARE(f.ValueSubject->text(), QStringLiteral("Invoice INV-1"));
    QCOMPARE(f.MemoText->toPlainText(), QStringLiteral("Dear Ann\n"));
    QCOMPARE(f.ListAttachments->count(), 1);
    QVERIFY2(f.ListAttachments->item(0)->text().startsWith(QLatin1String("terms.pdf (2")),
             qPrintable(f.ListAttachments->item(0)->text()));
    QCOMPARE(f.LabelWarnings->text(), QStringLiteral("The label CITY is not used."));
    QVERIFY(!f.Pages->isTabEnabled(1));

    f.ButtonNext->click(); // row 5: no message, only why
    QVERIFY(f.ValueTo->text().isEmpty() && f.MemoText->toPlainText().isEmpty());
    QCOMPARE(f.ListAttachments->count(), 0);
    QVERIFY(f.LabelWarnings->text().startsWith(QLatin1String("Left out")));
    QVERIFY(!f.ButtonSendTest->isEnabled());

    f.ButtonNext->click(); // row 9: HTML with Cc
    QCOMPARE(f.ValueCc->text(), QStringLiteral("boss@example.org"));
    QCOMPARE(f.MemoText->toPlainText(), QStringLiteral("Hello Cy")); // the line end before a boundary is the boundary's
    QVERIFY(f.Pages->isTabEnabled(1));
    QCOMPARE(f.BrowserHtml->toPlainText().trimmed(), QStringLiteral("Hello Cy"));
    QVERIFY(f.LabelWarnings->isHidden());
}

void TestMessagePreview::testSendHandsOverTheShownRowAndSaysHowItWent() {
    QList<int> sent;
    QString answer;
    w->form.setTestSender([&](const PreviewedRow& row) {
        sent << row.row;
        return answer;
    });
    w->form.showIndex(0);
    w->form.ButtonSendTest->click();
    answer = QStringLiteral("535 5.7.8 Authentication credentials invalid");
    w->form.ButtonNext->click();
    QVERIFY2(!w->form.ButtonSendTest->isEnabled(), "a row without a message has nothing to test");
    w->form.ButtonNext->click();
    w->form.ButtonSendTest->click();
    QCOMPARE(sent, (QList<int>{2, 9}));
    QCOMPARE(w->prompter.calls.size(), 2);
    QCOMPARE(w->prompter.calls[0].text, QStringLiteral("MessagePreviewForm.TestSent"));
    QCOMPARE(w->prompter.calls[1].text, QStringLiteral("MessagePreviewForm.TestFailed"));
    QCOMPARE(w->prompter.calls[1].detail, answer);
}

QTEST_MAIN(TestMessagePreview)
#include "tst_messagepreview.moc"
