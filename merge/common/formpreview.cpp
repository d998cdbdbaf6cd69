#include "merge/common/formpreview.h"

#include "app/services.h"
#include "office/workbook.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QHeaderView>
#include <QMouseEvent>
#include <QPainter>
#include <QShowEvent>
#include <QStyleOptionHeader>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <functional>

namespace {

// Grid pitch: a 72 x 18 cell plus its 1-pixel line.
constexpr int kCellWidth = 73;
constexpr int kCellHeight = 19;
const QColor kOlive(128, 128, 0);

// A header that paints the marked section olive with the marker text in place of its label.
class MarkHeader : public QHeaderView {
public:
    MarkHeader(Qt::Orientation orientation, std::function<int()> mark, std::function<QString()> text,
               QWidget* parent)
        : QHeaderView(orientation, parent), m_mark(std::move(mark)), m_text(std::move(text)) {}

protected:
    void paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const override {
        QHeaderView::paintSection(painter, rect, logicalIndex);
        const int mark = m_mark();
        if (mark <= 0 || logicalIndex != mark - 1)
            return;
        painter->save();
        // The style's header drawing leaves an empty clip region behind.
        painter->setClipRect(rect);
        painter->fillRect(rect.adjusted(0, 0, -1, -1), kOlive);
        painter->setPen(palette().color(QPalette::WindowText));
        painter->drawText(rect.adjusted(5, 3, 0, 0), Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine,
                          m_text());
        painter->restore();
    }

private:
    std::function<int()> m_mark;
    std::function<QString()> m_text;
};

} // namespace

TPreviewForm::TPreviewForm(Services& services, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint), m_services(services) {
    setObjectName(QStringLiteral("PreviewForm"));
    setModal(true);
    setFixedSize(532, 250);

    StringGrid1 = new QTableWidget(kRows, kColumns, this);
    StringGrid1->setObjectName(QStringLiteral("StringGrid1"));
    auto* columns = new MarkHeader(
        Qt::Horizontal, [this] { return markedColumn; }, [this] { return columnMarkerText; }, StringGrid1);
    auto* lines = new MarkHeader(
        Qt::Vertical, [this] { return markedLine; }, [this] { return lineMarkerText; }, StringGrid1);
    StringGrid1->setHorizontalHeader(columns);
    StringGrid1->setVerticalHeader(lines);
    for (QHeaderView* header : {static_cast<QHeaderView*>(columns), static_cast<QHeaderView*>(lines)}) {
        header->setMinimumSectionSize(1);
        header->setSectionResizeMode(QHeaderView::Fixed);
        header->setSectionsClickable(false);
        header->setHighlightSections(false);
        header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        header->viewport()->installEventFilter(this);
    }
    columns->setDefaultSectionSize(kCellWidth);
    columns->setFixedHeight(kCellHeight);
    lines->setDefaultSectionSize(kCellHeight);
    lines->setFixedWidth(kCellWidth);
    QStringList letters, numbers;
    for (int c = 0; c < kColumns; ++c)
        letters << QString(QChar(u'A' + c));
    for (int r = 1; r <= kRows; ++r)
        numbers << QString::number(r);
    StringGrid1->setHorizontalHeaderLabels(letters);
    StringGrid1->setVerticalHeaderLabels(numbers);
    for (int r = 0; r < kRows; ++r)
        for (int c = 0; c < kColumns; ++c) {
            auto* item = new QTableWidgetItem;
            item->setFlags(Qt::ItemIsEnabled);
            StringGrid1->setItem(r, c, item);
        }
    StringGrid1->setSelectionMode(QAbstractItemView::NoSelection);
    StringGrid1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    StringGrid1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    StringGrid1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    StringGrid1->setWordWrap(false);
    // Scrolling moves by whole cells, as in a spreadsheet.
    StringGrid1->setHorizontalScrollMode(QAbstractItemView::ScrollPerItem);
    StringGrid1->setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
    m_corner = StringGrid1->findChild<QAbstractButton*>();
    if (m_corner)
        m_corner->installEventFilter(this);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(StringGrid1);

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(100);
    Timer1->setSingleShot(true);
    connect(Timer1, &QTimer::timeout, this, &TPreviewForm::Timer1Timer);

    // Switching to another program ends the pick as the corner does.
    connect(qApp, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState state) {
        if (state != Qt::ApplicationActive && isVisible())
            close();
    });

    publishObjectNames(this);
}

void TPreviewForm::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!event->spontaneous())
        FormShow();
}

void TPreviewForm::hideEvent(QHideEvent* event) {
    // Closed before the first tick (it lost activation at once): nothing left to load.
    Timer1->stop();
    QDialog::hideEvent(event);
}

void TPreviewForm::FormShow() {
    for (int r = 0; r < kRows; ++r)
        for (int c = 0; c < kColumns; ++c)
            StringGrid1->item(r, c)->setText(QString());
    StringGrid1->horizontalHeader()->viewport()->update();
    StringGrid1->verticalHeader()->viewport()->update();
    if (m_corner)
        m_corner->setText(m_services.text(QStringLiteral("PreviewForm"), QStringLiteral("Close")));
    setLoading(true);
    Timer1->start();
}

void TPreviewForm::setLoading(bool loading) {
    if (loading)
        setCursor(Qt::WaitCursor);
    else
        unsetCursor();
    StringGrid1->setEnabled(!loading);
}

void TPreviewForm::Timer1Timer() {
    Timer1->stop();
    setLoading(true);
    bool shown = false;
    try {
        // Only the rows the grid shows are read, so a huge sheet opens as fast as a small one.
        const std::unique_ptr<Workbook> book = openWorkbook(workbookPath, WorkbookOpenOptions{kRows});
        if (book->sheetCount() >= sheet) {
            book->selectSheet(sheet);
            const int rows = std::min(book->usedRows(), kRows);
            const int columns = std::min(book->usedColumns(), kColumns);
            for (int r = 1; r <= rows; ++r) {
                for (int c = 1; c <= columns; ++c)
                    StringGrid1->item(r - 1, c - 1)->setText(trimBlanks(book->cellText(r, c)));
                // The grid fills row by row on screen, and a switch to another program is seen.
                QCoreApplication::processEvents();
            }
            shown = true;
        }
    } catch (const std::exception&) {
        // A workbook that cannot be read closes the popup without a word; the marks stay.
    }
    setLoading(false);
    if (!shown)
        close();
}

bool TPreviewForm::event(QEvent* event) {
    if (event->type() == QEvent::WindowDeactivate && isVisible())
        close();
    return QDialog::event(event);
}

void TPreviewForm::headerReleased(QHeaderView* header, const QPoint& pos) {
    const bool horizontal = header->orientation() == Qt::Horizontal;
    int& mark = horizontal ? markedColumn : markedLine;
    if (mark <= 0)
        return;
    const int section = header->logicalIndexAt(horizontal ? pos.x() : pos.y());
    if (section < 0)
        return;
    mark = section + 1;
    header->viewport()->update();
}

bool TPreviewForm::eventFilter(QObject* watched, QEvent* event) {
    QAbstractButton* corner = m_corner;
    if (corner && watched == corner && event->type() == QEvent::Paint) {
        QPainter painter(corner);
        QStyleOptionHeader option;
        option.initFrom(corner);
        option.rect = corner->rect();
        option.position = QStyleOptionHeader::OnlyOneSection;
        option.text = corner->text();
        option.textAlignment = Qt::AlignLeft | Qt::AlignVCenter;
        corner->style()->drawControl(QStyle::CE_Header, &option, &painter, corner);
        return true;
    }
    if (event->type() != QEvent::MouseButtonRelease || !StringGrid1->isEnabled())
        return QDialog::eventFilter(watched, event);
    if (corner && watched == corner) {
        close();
        return true;
    }
    const QPoint pos = static_cast<QMouseEvent*>(event)->position().toPoint();
    for (QHeaderView* header : {StringGrid1->horizontalHeader(), StringGrid1->verticalHeader()})
        if (watched == header->viewport()) {
            headerReleased(header, pos);
            return true;
        }
    return QDialog::eventFilter(watched, event);
}
