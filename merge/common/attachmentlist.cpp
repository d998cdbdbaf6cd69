#include "merge/common/attachmentlist.h"

#include "platform/blanks.h"
#include "platform/filedialogs.h"

#include <QAction>
#include <QCollator>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QIcon>
#include <QListWidget>
#include <QMenu>
#include <QMimeDatabase>
#include <QPlainTextEdit>
#include <QSplitter>

#include <algorithm>
#include <vector>

namespace {
constexpr int kListWidth = 120;
constexpr int kPathRole = Qt::UserRole;

// The desktop's icon for a file of that name, chosen by its extension alone: the file may be on a
// slow share or gone by now, and is not opened to look.
QIcon iconForName(const QString& fileName) {
    static const QMimeDatabase mimes;
    const QMimeType type = mimes.mimeTypeForFile(fileName, QMimeDatabase::MatchExtension);
    QIcon icon = QIcon::fromTheme(type.iconName());
    if (icon.isNull())
        icon = QIcon::fromTheme(type.genericIconName());
    if (icon.isNull())
        icon = QFileIconProvider().icon(QAbstractFileIconProvider::File);
    return icon;
}
} // namespace

QString memoLines(const QString& plainText) {
    if (plainText.isEmpty())
        return {};
    QStringList lines = plainText.split(QLatin1Char('\n'));
    if (lines.last().isEmpty())
        lines.removeLast();
    QString text;
    for (const QString& line : std::as_const(lines))
        text += line + QLatin1String("\r\n");
    return text;
}

MessagePanel::MessagePanel(QWidget* parent) : QFrame(parent) {
    setObjectName(QStringLiteral("Panel1"));
    setFrameShape(QFrame::StyledPanel);
    setFrameShadow(QFrame::Sunken);

    Splitter1 = new QSplitter(Qt::Horizontal, this);
    Splitter1->setObjectName(QStringLiteral("Splitter1"));
    Splitter1->setChildrenCollapsible(false);

    Memo1 = new QPlainTextEdit(Splitter1);
    Memo1->setObjectName(QStringLiteral("Memo1"));
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);

    ListView2 = new QListWidget(Splitter1);
    ListView2->setObjectName(QStringLiteral("ListView2"));
    ListView2->setViewMode(QListView::IconMode);
    ListView2->setIconSize(QSize(32, 32));
    ListView2->setGridSize(QSize(96, 64));
    ListView2->setMovement(QListView::Static);
    ListView2->setResizeMode(QListView::Adjust);
    ListView2->setWordWrap(true);
    ListView2->setTextElideMode(Qt::ElideMiddle);
    ListView2->setSelectionMode(QAbstractItemView::ExtendedSelection);
    ListView2->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ListView2->setContextMenuPolicy(Qt::CustomContextMenu);
    // Icons on white, whatever the style paints lists with.
    QPalette palette = ListView2->palette();
    palette.setColor(QPalette::Base, Qt::white);
    palette.setColor(QPalette::Text, Qt::black);
    ListView2->setPalette(palette);

    Splitter1->addWidget(Memo1);
    Splitter1->addWidget(ListView2);
    Splitter1->setStretchFactor(0, 1);
    Splitter1->setStretchFactor(1, 0);

    PopupMenu1 = new QMenu(this);
    PopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
    MenuRemove = PopupMenu1->addAction(QStringLiteral("Remove"));
    MenuRemove->setObjectName(QStringLiteral("MenuRemove"));
    connect(PopupMenu1, &QMenu::aboutToShow, this, &MessagePanel::PopupMenu1Popup);
    connect(MenuRemove, &QAction::triggered, this, &MessagePanel::MenuRemoveClick);
    connect(ListView2, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& at) { PopupMenu1->popup(ListView2->viewport()->mapToGlobal(at)); });

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(1, 1, 1, 1);
    layout->addWidget(Splitter1);

    showList(false);
}

void MessagePanel::setRemoveText(const QString& text) {
    MenuRemove->setText(text);
}

void MessagePanel::clear() {
    Memo1->clear();
    ListView2->clear();
    showList(false);
}

QString MessagePanel::body() const {
    return memoLines(Memo1->toPlainText());
}

bool MessagePanel::bodyIsBlank() const {
    return trimBlanks(Memo1->toPlainText()).isEmpty();
}

void MessagePanel::showList(bool visible) {
    if (visible == !ListView2->isHidden())
        return;
    ListView2->setVisible(visible);
    // The splitter would follow on its next layout pass; the handle goes with the list at once.
    Splitter1->handle(1)->setVisible(visible);
    if (visible) {
        const int total = Splitter1->width() - Splitter1->handleWidth();
        if (total > 2 * kListWidth)
            Splitter1->setSizes({total - kListWidth, kListWidth});
    }
}

void MessagePanel::addAttachment(const QString& path) {
    const QString name = QFileInfo(path).fileName();
    auto* item = new QListWidgetItem(iconForName(name), name);
    item->setData(kPathRole, path);
    item->setToolTip(path);
    ListView2->addItem(item);
    showList(true);
}

bool MessagePanel::chooseAttachment(FileDialogs& files) {
    const QString chosen = files.openFileName(QString());
    if (chosen.isEmpty())
        return false;
    addAttachment(chosen);
    return true;
}

int MessagePanel::attachmentCount() const {
    return ListView2->count();
}

QString MessagePanel::attachmentName(int index) const {
    const QListWidgetItem* item = ListView2->item(index);
    return item ? item->text() : QString();
}

QString MessagePanel::attachmentPath(int index) const {
    const QListWidgetItem* item = ListView2->item(index);
    return item ? item->data(kPathRole).toString() : QString();
}

void MessagePanel::PopupMenu1Popup() {
    MenuRemove->setEnabled(!ListView2->selectedItems().isEmpty());
}

void MessagePanel::MenuRemoveClick() {
    if (ListView2->selectedItems().isEmpty())
        return;
    for (int row = ListView2->count() - 1; row >= 0; --row) {
        if (ListView2->item(row)->isSelected())
            delete ListView2->takeItem(row);
    }
    std::vector<QListWidgetItem*> rest;
    while (ListView2->count() > 0)
        rest.push_back(ListView2->takeItem(0));
    QCollator collator;
    collator.setCaseSensitivity(Qt::CaseSensitive);
    std::stable_sort(rest.begin(), rest.end(),
                     [&collator](const QListWidgetItem* a, const QListWidgetItem* b) {
                         return collator.compare(a->text(), b->text()) < 0;
                     });
    for (QListWidgetItem* item : rest)
        ListView2->addItem(item);
    if (ListView2->count() == 0)
        showList(false);
}
