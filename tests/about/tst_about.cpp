// Pins the about box: the stored home page behind its link, the shipped guide, and the box's texts,
// fonts, layout and link behaviour.
#include "app/formabout.h"
#include "app/homepage.h"
#include "app/services.h"
#include "applylanguage.h"
#include "codec/tdesencrypt.h"
#include "support/fakes.h"

#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QtTest>

namespace {

struct Desk {
    FakeTexts texts;
    FakePrompter prompter;
    FakeFileDialogs files;
    FakeShell shell;
    FakeAppProbe probe;
    Services services{texts, prompter, files, shell, probe};
};

QLabel* label(QWidget& box, const char* name) {
    auto* found = box.findChild<QLabel*>(QLatin1String(name));
    Q_ASSERT(found);
    return found;
}

void enter(QWidget* widget) {
    QEnterEvent event(QPointF(2, 2), QPointF(2, 2), QPointF(2, 2));
    QApplication::sendEvent(widget, &event);
}

void leave(QWidget* widget) {
    QEvent event(QEvent::Leave);
    QApplication::sendEvent(widget, &event);
}

} // namespace

class TestAbout : public QObject {
    Q_OBJECT
private slots:
    void storedTextDeciphersToTheShownAddress();
    void storedTextAgreesWithOpenSsl();
    void shippedGuideLinksResolve();
    void linkLooksHotOnlyWhileTheMouseIsOver();
    void showingGivesTheLinkAHandCursor();
    void textsComeFromTheirKeys_data();
    void textsComeFromTheirKeys();
    void copyrightGetsTheYearOfEachApplication_data();
    void copyrightGetsTheYearOfEachApplication();
    void productNameKeepsItsOwnFont();
    void wideCaptionMovesBothValuesRight();
    void shippedLanguagesFitTheBox_data();
    void shippedLanguagesFitTheBox();
};

void TestAbout::storedTextDeciphersToTheShownAddress() {
    QCOMPARE(qstrlen(kHomePageCipher), 64u);
    QVERIFY(homePageAddress().startsWith(QLatin1String("https://")));
    QCOMPARE(homePageAddress(), TAboutForm::shownAddress());
    Desk desk;
    TAboutForm box(desk.services);
    QCOMPARE(label(box, "LabelHome2")->text(), homePageAddress());
}

void TestAbout::storedTextAgreesWithOpenSsl() {
    const QString openssl = QStandardPaths::findExecutable(QStringLiteral("openssl"));
    QVERIFY2(!openssl.isEmpty(), "the openssl command is a test dependency (scripts/deps.sh test)");
    QString usualHex;
    for (const char c : QByteArray(kHomePageCipher))
        usualHex += QLatin1Char("0123456789ABCDEF"[QByteArray(DesHexDigits).indexOf(c)]);
    QProcess process;
    process.start(openssl, {QStringLiteral("enc"), QStringLiteral("-d"), QStringLiteral("-des-ecb"),
                            QStringLiteral("-provider"), QStringLiteral("legacy"),
                            QStringLiteral("-provider"), QStringLiteral("default"), QStringLiteral("-nopad"),
                            QStringLiteral("-K"), QString::fromLatin1(QByteArray(kProgramKey).toHex())});
    QVERIFY(process.waitForStarted());
    process.write(QByteArray::fromHex(usualHex.toLatin1()));
    process.closeWriteChannel();
    QVERIFY(process.waitForFinished());
    QVERIFY2(process.exitCode() == 0, process.readAllStandardError().constData());
    const QByteArray plain = process.readAllStandardOutput();
    QCOMPARE(QString::fromUtf8(plain.left(plain.indexOf('\0'))), TAboutForm::shownAddress());
}

void TestAbout::shippedGuideLinksResolve() {
    QFile guide(QStringLiteral(TW_SOURCE_DIR "/Help.html"));
    QVERIFY2(guide.open(QIODevice::ReadOnly), "Help.html ships beside Languages/");
    const QString html = QString::fromUtf8(guide.readAll());
    QVERIFY(html.contains(QLatin1String("<meta charset=\"utf-8\">")));
    const QRegularExpression anchor(QStringLiteral("href=\"#([^\"]+)\""));
    int links = 0;
    for (auto it = anchor.globalMatch(html); it.hasNext(); ++links) {
        const QString target = it.next().captured(1);
        QVERIFY2(html.contains(QStringLiteral("id=\"%1\"").arg(target)), qPrintable(target));
    }
    QVERIFY(links >= 4);
}

void TestAbout::linkLooksHotOnlyWhileTheMouseIsOver() {
    Desk desk;
    TAboutForm box(desk.services);
    QLabel* link = label(box, "LabelHome2");
    QFont italic = link->font();
    italic.setItalic(true);
    link->setFont(italic);
    const QColor normal = QApplication::palette().color(QPalette::WindowText);

    for (int round = 0; round < 3; ++round) {
        enter(link);
        QCOMPARE(link->palette().color(QPalette::WindowText), QColor(Qt::blue));
        QVERIFY(link->font().underline());
        leave(link);
        QCOMPARE(link->palette().color(QPalette::WindowText), normal);
        QVERIFY(!link->font().underline());
    }
    QVERIFY2(link->font().italic(), "leaving removes the underline only");
    QVERIFY(desk.shell.opened.isEmpty());

    // The link's own underline must not freeze the face the language file gives the window.
    QFont windowFont;
    windowFont.setFamily(QStringLiteral("DejaVu Serif"));
    windowFont.setPointSize(15);
    box.setFont(windowFont);
    QCOMPARE(link->font().family(), QStringLiteral("DejaVu Serif"));
    QCOMPARE(link->font().pointSize(), 15);
}

void TestAbout::showingGivesTheLinkAHandCursor() {
    Desk desk;
    TAboutForm box(desk.services);
    QLabel* link = label(box, "LabelHome2");
    // Closed with the mouse still over the link: the next showing starts from the normal look.
    enter(link);
    box.show();
    QVERIFY(QTest::qWaitForWindowExposed(&box));
    QCOMPARE(link->cursor().shape(), Qt::PointingHandCursor);
    QVERIFY(!link->font().underline());
    box.hide();
}

void TestAbout::textsComeFromTheirKeys_data() {
    QTest::addColumn<QString>("control");
    QTest::addColumn<QString>("expected");
    QTest::newRow("version caption") << "LabelVersion1"
                                     << "AboutForm.Version";
    QTest::newRow("homepage caption") << "LabelHome1"
                                      << "AboutForm.Homepage";
    QTest::newRow("ok button") << "ButtonOk"
                               << "Common.Ok";
    QTest::newRow("version number is fixed") << "LabelVersion2"
                                             << "1.0";
    QTest::newRow("product name is fixed") << "LabelName"
                                           << "Tallyweave";
    QTest::newRow("address is fixed") << "LabelHome2"
                                      << "https://tallyweave.example.org/";
}

void TestAbout::textsComeFromTheirKeys() {
    QFETCH(QString, control);
    QFETCH(QString, expected);
    Desk desk; // a missing key reads as its own name
    TAboutForm box(desk.services);
    box.applyTexts(desk.texts);
    QCOMPARE(box.windowTitle(), QStringLiteral("AboutForm.Caption"));
    QWidget* widget = box.findChild<QWidget*>(control);
    QVERIFY(widget);
    if (auto* asLabel = qobject_cast<QLabel*>(widget))
        QCOMPARE(asLabel->text(), expected);
    else
        QCOMPARE(qobject_cast<QPushButton*>(widget)->text(), expected);
}

void TestAbout::copyrightGetsTheYearOfEachApplication_data() {
    QTest::addColumn<QString>("copyright");
    QTest::addColumn<QString>("in2031");
    QTest::addColumn<QString>("in2032");
    QTest::newRow("marker becomes the year") << "(C) [xxx] Tallyweave"
                                             << "(C) 2031 Tallyweave"
                                             << "(C) 2032 Tallyweave";
    QTest::newRow("only the first marker") << "[xxx]-[xxx]"
                                           << "2031-[xxx]"
                                           << "2032-[xxx]";
    QTest::newRow("marker is case-sensitive") << "(C) [XXX]"
                                              << "(C) [XXX]"
                                              << "(C) [XXX]";
}

void TestAbout::copyrightGetsTheYearOfEachApplication() {
    QFETCH(QString, copyright);
    QFETCH(QString, in2031);
    QFETCH(QString, in2032);
    Desk desk;
    desk.texts.set(QStringLiteral("AboutForm.Copyright"), copyright);
    int year = 2031;
    TAboutForm box(desk.services, nullptr, [&year] { return year; });
    box.applyTexts(desk.texts);
    QCOMPARE(label(box, "LabelCopyright")->text(), in2031);
    year = 2032; // the program ran over New Year
    box.applyTexts(desk.texts);
    QCOMPARE(label(box, "LabelCopyright")->text(), in2032);
}

void TestAbout::productNameKeepsItsOwnFont() {
    Desk desk;
    TAboutForm box(desk.services);
    LanguageFile serif = LanguageFile::fromText("[LanguageProperty]\nFontName=DejaVu Serif\nFontSize=14\n");
    applyLanguage(box, serif);
    const QFont name = label(box, "LabelName")->font();
    QCOMPARE(name.family(), QStringLiteral("Tahoma"));
    QCOMPARE(name.pixelSize(), 13);
    QCOMPARE(label(box, "LabelVersion1")->font().family(), QStringLiteral("DejaVu Serif"));
    QCOMPARE(label(box, "LabelCopyright")->font().pointSize(), 14);
}

void TestAbout::wideCaptionMovesBothValuesRight() {
    Desk desk;
    desk.texts.set(QStringLiteral("AboutForm.Version"), QStringLiteral("V:"));
    desk.texts.set(QStringLiteral("AboutForm.Homepage"), QStringLiteral("The program's home page:"));
    TAboutForm box(desk.services);
    box.applyTexts(desk.texts);
    const QRect caption = label(box, "LabelHome1")->geometry();
    QVERIFY(caption.right() >= 85);
    QVERIFY(label(box, "LabelHome2")->x() > caption.right());
    QCOMPARE(label(box, "LabelVersion2")->x(), label(box, "LabelHome2")->x());

    // Back to short captions, the values return to their column.
    desk.texts.set(QStringLiteral("AboutForm.Homepage"), QStringLiteral("Web:"));
    box.applyTexts(desk.texts);
    QCOMPARE(label(box, "LabelHome2")->x(), 85);
}

void TestAbout::shippedLanguagesFitTheBox_data() {
    QTest::addColumn<QString>("file");
    QTest::newRow("English") << "English.ini";
    QTest::newRow("Simplified Chinese") << "ChineseGB.ini";
    QTest::newRow("Traditional Chinese") << "ChineseBig5.ini";
}

void TestAbout::shippedLanguagesFitTheBox() {
    QFETCH(QString, file);
    const LanguageFile language(QStringLiteral(TW_SOURCE_DIR "/Languages/") + file);
    QVERIFY(language.exists());
    Desk desk;
    TAboutForm box(desk.services, nullptr, [] { return 2031; });
    applyLanguage(box, language);
    QVERIFY(!box.windowTitle().isEmpty());
    QVERIFY(label(box, "LabelCopyright")->text().contains(QLatin1String("2031")));

    const QRect frame = box.findChild<QWidget*>(QStringLiteral("Bevel1"))->geometry();
    for (const char* name :
         {"LabelName", "LabelVersion1", "LabelVersion2", "LabelHome1", "LabelHome2", "LabelCopyright"}) {
        const QLabel* text = label(box, name);
        QVERIFY2(!text->text().isEmpty(), name);
        QVERIFY2(frame.contains(text->geometry()),
                 qPrintable(QStringLiteral("%1 %2 leaves the frame")
                                .arg(QLatin1String(name), QString::number(text->width()))));
    }
    // A caption running into the value beside it would hide part of one or the other.
    QVERIFY(label(box, "LabelVersion1")->geometry().right() < label(box, "LabelVersion2")->x());
    QVERIFY(label(box, "LabelHome1")->geometry().right() < label(box, "LabelHome2")->x());
    QVERIFY(label(box, "LabelHome2")->geometry().bottom() < label(box, "LabelCopyright")->y());
}

QTEST_MAIN(TestAbout)
#include "tst_about.moc"
