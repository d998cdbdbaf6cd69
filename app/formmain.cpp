#include "app/formmain.h"
#include "app/localization.h"
#include "app/runreport.h"
#include "app/startup.h"
#include "app/toolbaricons.h"
#include "merge/common/pathcheck.h"
#include "merge/common/reportfile.h"
#include "office/workbook.h"
#include "platform/languageid.h"

#include <QDir>
#include <QEvent>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QStatusBar>
#include <QToolBar>
#include <QToolButton>
#include <QTreeView>

namespace {
const QString kMenu = QStringLiteral("Menu");
const QString kButton = QStringLiteral("Button");
const QString kLanguageProperty = QStringLiteral("LanguageProperty");

// One row per command: its menu item, toolbar button, and the keys of their texts.
struct CommandRow {
    TMainForm::Command command;
    const char* menuItem;
    const char* button;
    const char* menuKey;
    const char* buttonKey;
    const char* defaultButtonCaption;
    ToolbarPicture picture;
};

constexpr CommandRow kCommandRows[] = {
    {TMainForm::Command::ExcelToExcel, "MExcelToExcel", "ButtonExcel", "ExcelToExcel", "XlsToXls",
     "xls to xls", ToolbarPicture::SheetToSheet},
    {TMainForm::Command::ExcelToWord, "MExcelToWord", "ButtonWord", "ExcelToWord", "XlsToDoc", "xls to doc",
     ToolbarPicture::SheetToDocument},
    {TMainForm::Command::ExcelToOutlook, "MExcelToOutlook", "ButtonOutlook", "ExcelToOutlook", "XlsToEml",
     "xls to eml", ToolbarPicture::SheetToMail},
    {TMainForm::Command::BulkMails, "MBulkMails", "ButtonBulkMails", "BulkMails", "BulkMails", "Bulk Mails",
     ToolbarPicture::BulkMail},
    {TMainForm::Command::ServerOptions, "MServerOptions", "ButtonOptions", "Options", "Options", "Options",
     ToolbarPicture::Options},
    {TMainForm::Command::Help, "MHelp", "ButtonHelp", "Help", "Help", "Help", ToolbarPicture::Help},
    {TMainForm::Command::About, "MAbout", "ButtonAbout", "About", "About", "About", ToolbarPicture::About},
    {TMainForm::Command::Release, "MRelease", "ButtonRelease", "Release", "Release", "New Release",
     ToolbarPicture::Release},
};

// Menu captions that are not a command's: the menus themselves and the items of the Edit menu.
struct MenuText {
    const char* key;
    const char* objectName;
};
constexpr MenuText kMenuTexts[] = {
    {"File", "MenuFile"},     {"SaveReport", "MSaveReport"}, {"Exit", "MExit"},
    {"Edit", "MenuEdit"},     {"Clear", "MClear"},           {"Clear", "MPopupClear"},
    {"Setup", "MenuSetup"},   {"Languages", "MLanguages"},   {"Help", "MenuHelp"},
};

const CommandRow& rowOf(TMainForm::Command command) {
    return kCommandRows[int(command)];
}
} // namespace

TMainForm::TMainForm(Prompter& prompter, FileDialogs& files, Shell& shell, AppProbe& probe,
                     const MainFormOptions& options, QWidget* parent)
    : QMainWindow(parent), m_programDir(options.programDirectory),
      m_settings(options.settingsFile.isEmpty() ? SettingsStore() : SettingsStore(options.settingsFile)),
      m_languageId(options.languageId ? options.languageId : std::function<int()>(userLanguageId)),
      m_services{m_language, prompter, files, shell, probe, nullptr} {
    setObjectName(QStringLiteral("MainForm"));
    setWindowTitle(QStringLiteral("Tallyweave"));
    buildMenus();
    buildToolBar();
    buildReport();
    m_services.report = m_report;

    const int menuHeight = menuBar()->sizeHint().height();
    resize(667, 430 + menuHeight);
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());

    registerWindow(this);
    FormCreate();
    publishObjectNames(this);
}

TMainForm::~TMainForm() {
    FormDestroy();
}

QAction* TMainForm::addItem(QMenu* menu, const char* name, const QString& caption,
                            void (TMainForm::*handler)()) {
    QAction* item = menu->addAction(caption);
    item->setObjectName(QLatin1String(name));
    connect(item, &QAction::triggered, this, handler);
    return item;
}

void TMainForm::buildMenus() {
    auto menu = [this](QMenu* parentMenu, const char* name, const QString& caption) {
        QMenu* m = parentMenu ? parentMenu->addMenu(caption) : menuBar()->addMenu(caption);
        m->setObjectName(QLatin1String(name));
        return m;
    };
    QMenu* file = menu(nullptr, "MenuFile", QStringLiteral("File"));
    m_commands[int(Command::ExcelToExcel)].menuItem =
        addItem(file, "MExcelToExcel", QStringLiteral("Excel to Excel"), &TMainForm::MExcelToExcelClick);
    m_commands[int(Command::ExcelToWord)].menuItem =
        addItem(file, "MExcelToWord", QStringLiteral("Excel to Word"), &TMainForm::MExcelToWordClick);
    m_commands[int(Command::ExcelToOutlook)].menuItem = addItem(
        file, "MExcelToOutlook", QStringLiteral("Excel to Outlook"), &TMainForm::MExcelToOutlookClick);
    file->addSeparator();
    m_commands[int(Command::BulkMails)].menuItem =
        addItem(file, "MBulkMails", QStringLiteral("Bulk Mails"), &TMainForm::MBulkMailsClick);
    file->addSeparator();
    m_saveReport = addItem(file, "MSaveReport", QStringLiteral("Save report..."), &TMainForm::MSaveReportClick);
    m_saveReport->setEnabled(false);
    file->addSeparator();
    addItem(file, "MExit", QStringLiteral("Exit"), &TMainForm::MExitClick);

    QMenu* edit = menu(nullptr, "MenuEdit", QStringLiteral("Edit"));
    addItem(edit, "MClear", QStringLiteral("Clear report"), &TMainForm::MClearClick);

    QMenu* setup = menu(nullptr, "MenuSetup", QStringLiteral("Setup"));
    m_commands[int(Command::ServerOptions)].menuItem = addItem(
        setup, "MServerOptions", QStringLiteral("Email Server Options..."), &TMainForm::MServerOptionsClick);
    setup->addSeparator();
    m_languages = menu(setup, "MLanguages", QStringLiteral("Languages"));

    QMenu* help = menu(nullptr, "MenuHelp", QStringLiteral("Help"));
    m_commands[int(Command::Help)].menuItem =
        addItem(help, "MHelp", QStringLiteral("Help"), &TMainForm::MHelpClick);
    m_commands[int(Command::About)].menuItem =
        addItem(help, "MAbout", QStringLiteral("About..."), &TMainForm::MAboutClick);
    help->addSeparator();
    m_commands[int(Command::Release)].menuItem =
        addItem(help, "MRelease", QStringLiteral("New Release"), &TMainForm::MReleaseClick);
}

QToolButton* TMainForm::addButton(const char* name, const QString& caption, Command command,
                                  void (TMainForm::*handler)()) {
    auto* button = new QToolButton;
    button->setObjectName(QLatin1String(name));
    button->setText(caption);
    button->setIcon(toolbarIcon(rowOf(command).picture));
    button->setIconSize(QSize(32, 32));
    button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    button->setAutoRaise(true);
    button->setMinimumSize(69, 52);
    connect(button, &QToolButton::clicked, this, handler);
    m_commands[int(command)].button = button;
    return button;
}

void TMainForm::buildToolBar() {
    auto* bar = new QToolBar(this);
    bar->setObjectName(QStringLiteral("ToolBar1"));
    bar->setMovable(false);
    bar->setFloatable(false);
    bar->toggleViewAction()->setEnabled(false);
    bar->setContextMenuPolicy(Qt::PreventContextMenu);
    addToolBar(Qt::TopToolBarArea, bar);
    auto add = [&](Command command, void (TMainForm::*handler)()) {
        const CommandRow& row = rowOf(command);
        bar->addWidget(addButton(row.button, QLatin1String(row.defaultButtonCaption), command, handler));
    };
    add(Command::ExcelToExcel, &TMainForm::MExcelToExcelClick);
    add(Command::ExcelToWord, &TMainForm::MExcelToWordClick);
    add(Command::ExcelToOutlook, &TMainForm::MExcelToOutlookClick);
    bar->addSeparator();
    add(Command::BulkMails, &TMainForm::MBulkMailsClick);
    add(Command::ServerOptions, &TMainForm::MServerOptionsClick);
    bar->addSeparator();
    add(Command::Help, &TMainForm::MHelpClick);
    add(Command::About, &TMainForm::MAboutClick);
    bar->addSeparator();
    add(Command::Release, &TMainForm::MReleaseClick);

    for (CommandSlot& slot : m_commands) {
        slot.menuItem->setEnabled(false);
        slot.button->setEnabled(false);
    }
}

void TMainForm::buildReport() {
    auto* list = new QTreeView(this);
    list->setObjectName(QStringLiteral("ListView1"));
    list->setContextMenuPolicy(Qt::CustomContextMenu);
    setCentralWidget(list);

    auto* popup = new QMenu(this);
    popup->setObjectName(QStringLiteral("PopupMenu1"));
    addItem(popup, "MPopupClear", QStringLiteral("Clear report"), &TMainForm::MClearClick);
    connect(list, &QWidget::customContextMenuRequested, this,
            [list, popup](const QPoint& at) { popup->popup(list->viewport()->mapToGlobal(at)); });

    auto* bar = new QStatusBar(this);
    bar->setObjectName(QStringLiteral("StatusBar1"));
    setStatusBar(bar);
    QLabel* panels[3];
    for (int i = 0; i < 3; ++i) {
        panels[i] = new QLabel(bar);
        panels[i]->setObjectName(QStringLiteral("StatusPanel%1").arg(i));
        panels[i]->setFixedWidth(150);
        bar->addWidget(panels[i]);
    }
    m_report = new RunReport(list, panels[0], panels[1], panels[2], this);
    // Lines reach the list in batches; the item follows when they are shown, and a click checks
    // the lines themselves.
    const RunReportModel* model = m_report->model();
    connect(model, &QAbstractItemModel::modelReset, this, &TMainForm::updateSaveReport);
    connect(model, &QAbstractItemModel::rowsInserted, this, &TMainForm::updateSaveReport);
    connect(model, &QAbstractItemModel::rowsRemoved, this, &TMainForm::updateSaveReport);
}

void TMainForm::updateSaveReport() {
    m_saveReport->setEnabled(m_report->lineCount() > 0);
}

void TMainForm::registerWindow(LocalizedWindow* window) {
    if (window && !m_windows.contains(window))
        m_windows.append(window);
}

void TMainForm::setCommand(Command command, std::function<void()> work) {
    CommandSlot& slot = m_commands[int(command)];
    slot.work = std::move(work);
    const bool enabled = bool(slot.work);
    slot.menuItem->setEnabled(enabled);
    slot.button->setEnabled(enabled);
}

bool TMainForm::hasCommand(Command command) const {
    return bool(m_commands[int(command)].work);
}

void TMainForm::run(Command command) {
    const std::function<void()> work = m_commands[int(command)].work;
    if (!work)
        return;
    try {
        work();
    } catch (...) {
        showException(m_services.prompter, std::current_exception());
    }
}

QString TMainForm::languagesFolder() const {
    return QDir(m_programDir).filePath(QStringLiteral("Languages"));
}

void TMainForm::FormCreate() {
    if (m_programDir.isEmpty())
        m_programDir = programDirectory();
    if (!m_programDir.endsWith(QLatin1Char('/')))
        m_programDir += QLatin1Char('/');

    // A store that cannot be opened is neither read nor written; the name then stays empty.
    if (m_settings.available()) {
        m_languageFileName = m_settings.read(QStringLiteral("LanguageFile"));
        if (m_languageFileName.isEmpty()) {
            m_languageFileName = defaultLanguageFileName(m_languageId());
            m_settings.write(QStringLiteral("LanguageFile"), m_languageFileName);
        }
    }
    fillLanguages();
}

void TMainForm::fillLanguages() {
    const auto old = m_languages->actions();
    for (QAction* item : old)
        delete item;
    const QString folder = languagesFolder();
    const QStringList names = languageFileNames(folder);
    int listed = 0;
    for (const QString& name : names) {
        const LanguageFile file(QDir(folder).filePath(name));
        const QString caption = file.value(kLanguageProperty, QStringLiteral("Name"));
        // A file without a name (a stray .ini, a damaged translation) would be an empty item that
        // no click could ever choose.
        if (caption.isEmpty())
            continue;
        QAction* item = m_languages->addAction(caption);
        item->setObjectName(QStringLiteral("MLanguage%1").arg(listed++));
        item->setCheckable(true);
        item->setChecked(name.compare(m_languageFileName, Qt::CaseInsensitive) == 0);
        connect(item, &QAction::triggered, this, [this, item] { MLanguageClick(item); });
    }
}

void TMainForm::MLanguageClick(QAction* item) {
    if (!item)
        return;
    const QString caption = item->text();
    const auto items = m_languages->actions();
    for (QAction* other : items)
        other->setChecked(other->text() == caption);

    const QString folder = languagesFolder();
    const QStringList names = languageFileNames(folder);
    for (const QString& name : names) {
        const LanguageFile file(QDir(folder).filePath(name));
        if (file.value(kLanguageProperty, QStringLiteral("Name")).compare(caption, Qt::CaseInsensitive) != 0)
            continue;
        // An unavailable store writes nothing; the choice holds for this session all the same.
        m_settings.write(QStringLiteral("LanguageFile"), name);
        m_languageFileName = name;
        applyLanguageFile();
        return;
    }
}

void TMainForm::FormActivate() {
    applyLanguageFile();
}

void TMainForm::applyLanguageFile() {
    const QString path = languageFilePath(languagesFolder(), m_languageFileName);
    m_language.setFile(path.isEmpty() ? LanguageFile() : LanguageFile(path));
    m_language.setFallback(LanguageFile(languageFilePath(languagesFolder(), kFallbackLanguageFile)));
    applyFont();
    for (LocalizedWindow* window : std::as_const(m_windows))
        window->applyTexts(m_language);
    m_report->recount(m_language);
}

void TMainForm::applyFont() {
    const LanguageFile& file = m_language.file();
    const QString family =
        file.value(kLanguageProperty, QStringLiteral("FontName"), QStringLiteral("Tahoma"));
    int size =
        fontSizeFromText(file.value(kLanguageProperty, QStringLiteral("FontSize"), QStringLiteral("8")));
    if (size <= 0)
        size = 8; // a size Qt cannot draw would leave the previous one in place
    const int charSet =
        charSetFromText(file.value(kLanguageProperty, QStringLiteral("CharSet"), QStringLiteral("1")));
    for (LocalizedWindow* window : std::as_const(m_windows)) {
        QWidget* w = window->widget();
        if (!w)
            continue;
        // Only face and size are set, so a control that has a font of its own keeps the rest.
        QFont font;
        font.setFamily(family);
        font.setPointSize(size);
        w->setFont(font);
        // Qt picks glyphs by the text itself, so the character set changes nothing in drawing;
        // it is kept for whoever needs to know what the language file asked for.
        w->setProperty("charSet", charSet);
    }
    // Qt's own texts (message box buttons, file dialogs) follow the language at once, as the
    // captions do.
    m_qtTexts.apply(charSet);
}

void TMainForm::applyTexts(const Texts& texts) {
    for (const MenuText& entry : kMenuTexts) {
        const QString caption = texts.text(kMenu, QLatin1String(entry.key));
        const QString name = QLatin1String(entry.objectName);
        if (QMenu* menu = findChild<QMenu*>(name))
            menu->setTitle(caption);
        else if (QAction* item = findChild<QAction*>(name))
            item->setText(caption);
    }
    for (const CommandRow& row : kCommandRows) {
        const CommandSlot& slot = m_commands[int(row.command)];
        const QString menuText = texts.text(kMenu, QLatin1String(row.menuKey));
        slot.menuItem->setText(menuText);
        slot.button->setText(texts.text(kButton, QLatin1String(row.buttonKey)));
        slot.button->setToolTip(hintFromMenuText(menuText));
    }
}

void TMainForm::FormDestroy() {
    if (m_destroyed)
        return;
    m_destroyed = true;
    m_language.setFile(LanguageFile());
    m_language.setFallback(LanguageFile());
}

bool TMainForm::event(QEvent* event) {
    const bool result = QMainWindow::event(event);
    // Without a window manager (or with one that activates late) the first showing brings no
    // activation, and the window would keep its built-in captions: the first show counts as one.
    if (event->type() == QEvent::WindowActivate || (event->type() == QEvent::Show && !m_shownOnce)) {
        m_shownOnce = true;
        FormActivate();
    }
    return result;
}

void TMainForm::MExcelToExcelClick() {
    run(Command::ExcelToExcel);
}
void TMainForm::MExcelToWordClick() {
    run(Command::ExcelToWord);
}
void TMainForm::MExcelToOutlookClick() {
    run(Command::ExcelToOutlook);
}
void TMainForm::MBulkMailsClick() {
    run(Command::BulkMails);
}
void TMainForm::MServerOptionsClick() {
    run(Command::ServerOptions);
}
void TMainForm::MHelpClick() {
    run(Command::Help);
}
void TMainForm::MAboutClick() {
    run(Command::About);
}
void TMainForm::MReleaseClick() {
    run(Command::Release);
}

void TMainForm::MSaveReportClick() {
    if (m_report->lineCount() == 0)
        return;
    const QString section = QStringLiteral("ListView");
    QString type;
    const QString chosen = m_services.files.saveFileName(
        m_services.text(QStringLiteral("OpenDialog"), QStringLiteral("ReportFilter")), m_reportFolder, &type);
    if (chosen.isEmpty())
        return;
    // A name without a report extension gets the chosen type's; one with it keeps its own.
    QString appended = fileExtension(type.section(QLatin1Char(';'), 0, 0).trimmed()).toLower();
    if (!reportFileExtensions().contains(appended))
        appended = reportFileExtensions().constFirst();
    const QString path = withAcceptedExtension(chosen, reportFileExtensions(), appended);
    if (isExistingFile(path) && !m_services.ask(section, QStringLiteral("String02"), QFileInfo(path).fileName()))
        return;

    QList<ReportLine> lines;
    lines.reserve(m_report->lineCount());
    for (int i = 0; i < m_report->lineCount(); ++i)
        lines.append({m_report->image(i), m_report->subItems(i)});
    // A folder that is missing or not writable is named plainly; the writer's cause says the rest.
    QString cause = outputFileProblem(path);
    if (cause.isEmpty()) {
        try {
            saveReportFile(path, m_report->columnCaptions(), lines);
            m_reportFolder = QFileInfo(path).absolutePath();
            return;
        } catch (const WorkbookError& error) {
            cause = error.cause();
        }
    }
    m_services.prompter.error(m_services.text(QStringLiteral("Common"), QStringLiteral("Error")),
                              m_services.text(section, QStringLiteral("String01")), cause);
}

void TMainForm::MExitClick() {
    close();
}

void TMainForm::MClearClick() {
    m_report->clear(m_language);
}
