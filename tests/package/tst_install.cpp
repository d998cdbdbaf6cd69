// Pins the installed layout: `cmake --install` into a fresh prefix puts the programs, their data,
// the desktop entry, the icons, the AppStream data and the manual pages where the desktop looks for
// them; the desktop's own validators accept them; and the installed program finds its language
// files there.
#include <QDir>
#include <QFile>
#include <QImageReader>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include "support/programhome.h"

namespace {
const QString kId = QStringLiteral("org.example.tallyweave.Tallyweave");

struct Run {
    int code = -1;
    QString out;
};

Run run(const QString& program, const QStringList& args) {
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, args);
    Run result;
    if (!process.waitForFinished(120000))
        return result;
    result.code = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.out = QString::fromUtf8(process.readAll());
    return result;
}

QString readText(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

// What the program writes on standard error in its first seconds, and whether it was still up.
struct Start {
    bool stayedUp = false;
    QString err;
    QString storedLanguage;
};

Start startProgram(const QString& program) {
    QTemporaryDir home;
    const QProcessEnvironment env = programEnvironment(home, QStringLiteral("C.UTF-8"));
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(program, {});
    Start start;
    if (!process.waitForStarted(10000))
        return start;
    start.stayedUp = !process.waitForFinished(3000);
    process.kill();
    process.waitForFinished(10000);
    start.err = QString::fromUtf8(process.readAllStandardError());
    start.storedLanguage =
        QSettings(home.filePath(QStringLiteral("config/Tallyweave.conf")), QSettings::IniFormat)
            .value(QStringLiteral("LanguageFile"))
            .toString();
    return start;
}
} // namespace

class TestInstall : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void layout_data();
    void layout();
    void iconsHaveTheirSizes_data();
    void iconsHaveTheirSizes();
    void desktopValidatorsAccept();
    void desktopEntryNamesInstalledFiles();
    void screenshotsAreKeptWithTheirSizes();
    void manualPagesAreCompressed();
    void installedProgramFindsItsData();

private:
    QString installed(const QString& relative) const { return m_prefix.filePath(relative); }
    QTemporaryDir m_prefix;
};

void TestInstall::initTestCase() {
    QVERIFY(m_prefix.isValid());
    const Run install =
        run(QStringLiteral(TW_CMAKE), {QStringLiteral("--install"), QStringLiteral(TW_BINARY_DIR),
                                       QStringLiteral("--prefix"), m_prefix.path()});
    QVERIFY2(install.code == 0, qPrintable(install.out));
}

void TestInstall::layout_data() {
    QTest::addColumn<QString>("path");
    const QStringList paths = {
        QStringLiteral("bin/tallyweave"),
        QStringLiteral("bin/tallyweave-batch"),
        QStringLiteral("share/tallyweave/Help.html"),
        QStringLiteral("share/tallyweave/Languages/English.ini"),
        QStringLiteral("share/tallyweave/Languages/ChineseGB.ini"),
        QStringLiteral("share/tallyweave/Languages/ChineseBig5.ini"),
        QStringLiteral("share/applications/") + kId + QStringLiteral(".desktop"),
        QStringLiteral("share/metainfo/") + kId + QStringLiteral(".metainfo.xml"),
        QStringLiteral("share/icons/hicolor/scalable/apps/") + kId + QStringLiteral(".svg"),
        QStringLiteral("share/man/man1/tallyweave.1.gz"),
        QStringLiteral("share/man/man1/tallyweave-batch.1.gz"),
        QStringLiteral("share/doc/tallyweave/copyright"),
        QStringLiteral("share/doc/tallyweave/changelog.gz"),
    };
    for (const QString& path : paths)
        QTest::newRow(qPrintable(path)) << path;
}

void TestInstall::layout() {
    QFETCH(QString, path);
    const QFileInfo file(installed(path));
    QVERIFY2(file.isFile() && file.size() > 0, qPrintable(file.filePath()));
    if (path.startsWith(QLatin1String("bin/")))
        QVERIFY(file.isExecutable());
}

void TestInstall::iconsHaveTheirSizes_data() {
    QTest::addColumn<int>("size");
    for (const int size : {16, 22, 24, 32, 48, 64, 128, 256})
        QTest::newRow(qPrintable(QString::number(size))) << size;
}

void TestInstall::iconsHaveTheirSizes() {
    QFETCH(int, size);
    QImageReader reader(
        installed(QStringLiteral("share/icons/hicolor/%1x%1/apps/%2.png").arg(size).arg(kId)));
    QCOMPARE(reader.format(), QByteArray("png"));
    QCOMPARE(reader.size(), QSize(size, size));
    // Drawn on a transparent ground: the corners of the tile are see-through.
    const QImage image = reader.read();
    QCOMPARE(qAlpha(image.pixel(0, 0)), 0);
}

void TestInstall::desktopValidatorsAccept() {
    const Run desktop =
        run(QStringLiteral("desktop-file-validate"),
            {installed(QStringLiteral("share/applications/") + kId + QStringLiteral(".desktop"))});
    QVERIFY2(desktop.code == 0 && desktop.out.isEmpty(), qPrintable(desktop.out));
    const Run metainfo =
        run(QStringLiteral("appstreamcli"),
            {QStringLiteral("validate"), QStringLiteral("--no-net"),
             installed(QStringLiteral("share/metainfo/") + kId + QStringLiteral(".metainfo.xml"))});
    QVERIFY2(metainfo.code == 0, qPrintable(metainfo.out));
}

void TestInstall::desktopEntryNamesInstalledFiles() {
    const QString entry =
        readText(installed(QStringLiteral("share/applications/") + kId + QStringLiteral(".desktop")));
    auto field = [&entry](const QString& key) {
        const QRegularExpression line(QStringLiteral("^%1=(.*)$").arg(key),
                                      QRegularExpression::MultilineOption);
        return line.match(entry).captured(1);
    };
    QVERIFY(QFileInfo(installed(QStringLiteral("bin/") + field(QStringLiteral("Exec")))).isExecutable());
    QCOMPARE(field(QStringLiteral("Icon")), kId);
    QCOMPARE(field(QStringLiteral("Categories")), QStringLiteral("Office;"));
    QCOMPARE(field(QStringLiteral("MimeType")), QString());
    for (const QString& language : {QStringLiteral("zh_CN"), QStringLiteral("zh_TW")}) {
        QVERIFY2(!field(QStringLiteral("Comment\\[%1\\]").arg(language)).isEmpty(), qPrintable(language));
        QVERIFY2(!field(QStringLiteral("Keywords\\[%1\\]").arg(language)).isEmpty(), qPrintable(language));
    }
    const QString metainfo =
        readText(installed(QStringLiteral("share/metainfo/") + kId + QStringLiteral(".metainfo.xml")));
    QVERIFY(metainfo.contains(QStringLiteral("<launchable type=\"desktop-id\">") + kId +
                              QStringLiteral(".desktop<")));
}

// The AppStream data points at the home page for its screenshots; the pictures themselves are kept
// in data/screenshots under the same names, of the sizes the data declares.
void TestInstall::screenshotsAreKeptWithTheirSizes() {
    const QString metainfo =
        readText(installed(QStringLiteral("share/metainfo/") + kId + QStringLiteral(".metainfo.xml")));
    static const QRegularExpression image(
        QStringLiteral("<image type=\"source\" width=\"(\\d+)\" height=\"(\\d+)\">"
                       "https://tallyweave\\.example\\.org/screenshots/([^<]+)</image>"));
    int count = 0;
    for (auto it = image.globalMatch(metainfo); it.hasNext(); ++count) {
        const QRegularExpressionMatch match = it.next();
        QImageReader reader(QStringLiteral(TW_SOURCE_DIR "/data/screenshots/") + match.captured(3));
        QVERIFY2(reader.canRead(), qPrintable(match.captured(3)));
        QCOMPARE(reader.size(), QSize(match.captured(1).toInt(), match.captured(2).toInt()));
    }
    QCOMPARE(count, 2);
}

void TestInstall::manualPagesAreCompressed() {
    for (const QString& page : {QStringLiteral("tallyweave.1.gz"), QStringLiteral("tallyweave-batch.1.gz")}) {
        const Run text = run(QStringLiteral("gzip"),
                             {QStringLiteral("-dc"), installed(QStringLiteral("share/man/man1/") + page)});
        QCOMPARE(text.code, 0);
        QVERIFY2(text.out.startsWith(QLatin1String(".TH ")), qPrintable(page));
        // A page configured at build time names the installed data folder, not a placeholder.
        QVERIFY2(!text.out.contains(QLatin1Char('@')), qPrintable(page));
    }
}

void TestInstall::installedProgramFindsItsData() {
    const Start start = startProgram(installed(QStringLiteral("bin/tallyweave")));
    QVERIFY(start.stayedUp);
    QVERIFY2(!start.err.contains(QLatin1String("no language files")), qPrintable(start.err));
    QCOMPARE(start.storedLanguage, QStringLiteral("English.ini"));

    // The same program without its data says so, rather than start with empty menus unexplained.
    if (QFileInfo(QStringLiteral(TW_INSTALL_DATADIR "/Languages")).exists())
        QSKIP("an installed copy at " TW_INSTALL_DATADIR " would stand in for the missing data");
    QTemporaryDir bare;
    QDir(bare.path()).mkdir(QStringLiteral("bin"));
    const QString alone = bare.filePath(QStringLiteral("bin/tallyweave"));
    QVERIFY(QFile::copy(installed(QStringLiteral("bin/tallyweave")), alone));
    const Start without = startProgram(alone);
    QVERIFY(without.stayedUp);
    QVERIFY2(without.err.contains(QLatin1String("tallyweave: no language files in ")),
             qPrintable(without.err));
}

QTEST_GUILESS_MAIN(TestInstall)
#include "tst_install.moc"
