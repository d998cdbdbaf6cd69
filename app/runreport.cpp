#include "app/runreport.h"

#include <QHeaderView>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QTimer>
#include <QTreeView>

#include <algorithm>
#include <iterator>

int RunReportModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : m_shown;
}

int RunReportModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_columns.size());
}

QVariant RunReportModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= m_shown)
        return {};
    const Line& line = m_lines[size_t(index.row())];
    if (index.column() == 0)
        return role == Qt::DecorationRole ? QVariant(icon(line.image)) : QVariant();
    if (role == Qt::DisplayRole || role == Qt::ToolTipRole) {
        const int sub = index.column() - 1;
        return sub < line.subItems.size() ? line.subItems[sub] : QString();
    }
    return {};
}

QVariant RunReportModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section < m_columns.size())
        return m_columns[section];
    return {};
}

void RunReportModel::setColumns(const QStringList& captions)
{
    beginResetModel();
    m_columns = captions;
    endResetModel();
}

void RunReportModel::clearLines()
{
    beginResetModel();
    m_lines.clear();
    m_shown = 0;
    std::fill(std::begin(m_imageCounts), std::end(m_imageCounts), 0);
    endResetModel();
}

void RunReportModel::countImage(int image, int delta)
{
    if (image >= 0 && image < 4)
        m_imageCounts[image] += delta;
}

int RunReportModel::imageCount(int image) const { return image >= 0 && image < 4 ? m_imageCounts[image] : 0; }

int RunReportModel::appendLine(const QStringList& subItems, int image)
{
    const int row = int(m_lines.size());
    m_lines.push_back({subItems, image});
    countImage(image, 1);
    return row;
}

void RunReportModel::showPending()
{
    if (!hasPending())
        return;
    beginInsertRows({}, m_shown, int(m_lines.size()) - 1);
    m_shown = int(m_lines.size());
    endInsertRows();
}

void RunReportModel::setImage(int line, int image)
{
    if (line < 0 || size_t(line) >= m_lines.size())
        return;
    countImage(m_lines[size_t(line)].image, -1);
    m_lines[size_t(line)].image = image;
    countImage(image, 1);
    if (line < m_shown)
        emit dataChanged(index(line, 0), index(line, 0), {Qt::DecorationRole});
}

void RunReportModel::setSubItem(int line, int subItem, const QString& text)
{
    if (line < 0 || size_t(line) >= m_lines.size() || subItem < 0)
        return;
    QStringList& items = m_lines[size_t(line)].subItems;
    while (items.size() <= subItem)
        items.append(QString());
    items[subItem] = text;
    if (line < m_shown)
        emit dataChanged(index(line, subItem + 1), index(line, subItem + 1));
}

QIcon RunReportModel::icon(int image)
{
    static QIcon icons[4];
    if (image < 0 || image > 3)
        return {};
    if (icons[image].isNull()) {
        QPixmap pixmap(16, 16);
        pixmap.fill(Qt::transparent);
        QPainter p(&pixmap);
        p.setRenderHint(QPainter::Antialiasing);
        QPen pen;
        pen.setWidthF(2.2);
        pen.setCapStyle(Qt::RoundCap);
        switch (image) {
        case ImageProcessed: // green tick
            pen.setColor(QColor(0x1e, 0x8e, 0x3e));
            p.setPen(pen);
            p.drawPolyline(QPolygonF({QPointF(3, 8.5), QPointF(6.5, 12), QPointF(13, 4)}));
            break;
        case ImageFailure: // red cross in a disc
            p.setPen(Qt::NoPen);
            p.setBrush(QColor(0xd9, 0x30, 0x25));
            p.drawEllipse(QRectF(1, 1, 14, 14));
            pen.setColor(Qt::white);
            pen.setWidthF(1.8);
            p.setPen(pen);
            p.drawLine(QPointF(5, 5), QPointF(11, 11));
            p.drawLine(QPointF(11, 5), QPointF(5, 11));
            break;
        case ImageNullValue: // amber triangle with a mark
            p.setPen(Qt::NoPen);
            p.setBrush(QColor(0xf2, 0xa9, 0x00));
            p.drawPolygon(QPolygonF({QPointF(8, 1), QPointF(15, 14.5), QPointF(1, 14.5)}));
            pen.setColor(Qt::black);
            pen.setWidthF(1.6);
            p.setPen(pen);
            p.drawLine(QPointF(8, 5.5), QPointF(8, 10));
            p.drawPoint(QPointF(8, 12.5));
            break;
        case ImagePending: // grey clock
            pen.setColor(QColor(0x70, 0x70, 0x70));
            pen.setWidthF(1.5);
            p.setPen(pen);
            p.drawEllipse(QRectF(1.5, 1.5, 13, 13));
            p.drawLine(QPointF(8, 8), QPointF(8, 4));
            p.drawLine(QPointF(8, 8), QPointF(11, 9.5));
            break;
        }
        p.end();
        icons[image] = QIcon(pixmap);
    }
    return icons[image];
}

RunReport::RunReport(QTreeView* list, QLabel* records, QLabel* nullValues, QLabel* failures, QObject* parent)
    : QObject(parent), m_list(list), m_catchUp(new QTimer(this)), m_panels{records, nullValues, failures},
      m_model(new RunReportModel(this))
{
    m_catchUp->setSingleShot(true);
    m_catchUp->setInterval(kCatchUpMs);
    connect(m_catchUp, &QTimer::timeout, this, &RunReport::flush);
    m_list->setModel(m_model);
    m_list->setRootIsDecorated(false);
    m_list->setUniformRowHeights(true);
    m_list->setItemsExpandable(false);
    m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_list->setIconSize(QSize(16, 16));
    m_list->header()->setStretchLastSection(false);
    m_list->header()->setSectionsMovable(false);
    setView(View::LargeIcon);
}

void RunReport::setView(View view)
{
    // The start-up look has no columns and no header; a run shows the details view with headers.
    m_style = view;
    m_list->setHeaderHidden(view == View::LargeIcon);
}

void RunReport::begin(const QList<Column>& modeColumns)
{
    m_catchUp->stop();
    m_followNewest = false;
    m_model->clearLines();
    setView(View::Details);
    m_model->setColumns({});
    QStringList captions{QString()};
    for (const Column& c : modeColumns)
        captions << c.caption;
    m_model->setColumns(captions);
    m_list->header()->resizeSection(0, 30);
    for (int i = 0; i < modeColumns.size(); ++i)
        m_list->header()->resizeSection(i + 1, modeColumns[i].width);
}

int RunReport::addLine(const QStringList& subItems, int image)
{
    const int line = m_model->appendLine(subItems, image);
    catchUpSoon();
    return line;
}

void RunReport::catchUpSoon()
{
    if (!m_catchUp->isActive())
        m_catchUp->start();
}

void RunReport::flush()
{
    m_catchUp->stop();
    if (m_panelsPending) {
        m_panelsPending = false;
        for (int i = 0; i < 3; ++i)
            m_panels[i]->setText(m_pendingPanels[i]);
    }
    m_model->showPending();
    if (!m_followNewest)
        return;
    m_followNewest = false;
    const int last = m_model->lineCount() - 1;
    if (last < 0)
        return;
    const QModelIndex index = m_model->index(last, 0);
    m_list->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    m_list->scrollTo(index);
}

void RunReport::setImage(int line, int image) { m_model->setImage(line, image); }

void RunReport::setSubItem(int line, int subItem, const QString& text) { m_model->setSubItem(line, subItem, text); }

void RunReport::afterLine(const QString& recordsLabel, const QString& nullValuesLabel, const QString& failuresLabel,
                          const Counts& counts)
{
    m_pendingPanels[0] = recordsLabel + QString::number(counts.records);
    m_pendingPanels[1] = nullValuesLabel + QString::number(counts.nullValues);
    m_pendingPanels[2] = failuresLabel + QString::number(counts.failures);
    m_panelsPending = true;
    m_followNewest = true;
    catchUpSoon();
}

RunReport::Counts RunReport::count() const
{
    Counts counts;
    counts.records = m_model->lineCount();
    counts.failures = m_model->imageCount(ImageFailure);
    counts.nullValues = m_model->imageCount(ImageNullValue);
    return counts;
}

void RunReport::recount(const Texts& texts)
{
    m_panelsPending = false; // a recount replaces what the run last set
    const Counts counts = count();
    const QString section = QStringLiteral("StatusBar");
    m_panels[0]->setText(texts.text(section, QStringLiteral("Records")) + QLatin1Char(' ') +
                         QString::number(counts.records));
    m_panels[1]->setText(texts.text(section, QStringLiteral("NullValues")) + QLatin1Char(' ') +
                         QString::number(counts.nullValues));
    m_panels[2]->setText(texts.text(section, QStringLiteral("Failures")) + QLatin1Char(' ') +
                         QString::number(counts.failures));
}

void RunReport::clear(const Texts& texts)
{
    m_catchUp->stop();
    m_followNewest = false;
    m_model->clearLines();
    setView(View::LargeIcon);
    m_model->setColumns({});
    recount(texts);
}

QString RunReport::panelText(int panel) const
{
    if (panel < 0 || panel >= 3)
        return {};
    return m_panelsPending ? m_pendingPanels[panel] : m_panels[panel]->text();
}

int RunReport::selectedLine() const
{
    // Asking for the selection is asking for the state the list is about to show.
    const_cast<RunReport*>(this)->flush();
    const QModelIndex current = m_list->selectionModel() ? m_list->selectionModel()->currentIndex() : QModelIndex();
    return current.isValid() ? current.row() : -1;
}
