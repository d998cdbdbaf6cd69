#include "office/cellstore.h"

#include "office/workbook.h"

#include <algorithm>
#include <limits>

void CellStore::append(int row, int column, QStringView text) {
    if (text.isEmpty())
        return;
    if (quint64(m_pool.size()) + quint64(text.size()) > quint64(std::numeric_limits<std::int32_t>::max()))
        throw WorkbookError(QStringLiteral("row %1: the sheet holds more than 2 GB of text").arg(row));
    m_cells.push_back({row, column, std::uint32_t(m_pool.size()), std::uint32_t(text.size())});
    m_pool.append(text);
    m_rows = std::max(m_rows, row);
    m_columns = std::max(m_columns, column);
}

const CellStore::Cell* CellStore::find(int row, int column) const {
    const auto it = std::lower_bound(m_cells.begin(), m_cells.end(), std::pair(row, column),
                                     [](const Cell& cell, const std::pair<int, int>& place) {
                                         return std::pair(cell.row, cell.column) < place;
                                     });
    return (it != m_cells.end() && it->row == row && it->column == column) ? &*it : nullptr;
}

QString CellStore::text(int row, int column) const {
    if (row < 1 || column < 1)
        return {};
    const auto change = m_changes.constFind(key(row, column));
    if (change != m_changes.constEnd())
        return *change;
    const Cell* cell = find(row, column);
    return cell ? m_pool.mid(cell->offset, cell->length) : QString();
}

void CellStore::set(int row, int column, const QString& text) {
    if (row < 1 || column < 1)
        throw WorkbookError(QStringLiteral("cell row %1, column %2 does not exist").arg(row).arg(column));
    m_changes.insert(key(row, column), text);
    if (text.isEmpty())
        m_rangeKnown = false; // the cell may have been the last of its row or column
    else if (m_rangeKnown) {
        m_rows = std::max(m_rows, row);
        m_columns = std::max(m_columns, column);
    }
}

void CellStore::updateRange() const {
    if (m_rangeKnown)
        return;
    m_rows = 0;
    m_columns = 0;
    for (const Cell& cell : m_cells) {
        if (m_changes.contains(key(cell.row, cell.column)))
            continue;
        m_rows = std::max(m_rows, cell.row);
        m_columns = std::max(m_columns, cell.column);
    }
    for (auto it = m_changes.constBegin(); it != m_changes.constEnd(); ++it) {
        if (it->isEmpty())
            continue;
        m_rows = std::max(m_rows, int(it.key() >> 32));
        m_columns = std::max(m_columns, int(it.key() & 0xffffffffu));
    }
    m_rangeKnown = true;
}

int CellStore::usedRows() const {
    updateRange();
    return m_rows;
}

int CellStore::usedColumns() const {
    updateRange();
    return m_columns;
}

QList<QStringList> CellStore::rows() const {
    // Rows as long as their own content: a lone far cell must not make every row that wide.
    QList<QStringList> result(usedRows());
    const auto put = [&result](int row, int column, const QString& text) {
        if (row > result.size())
            return;
        QStringList& texts = result[row - 1];
        if (texts.size() < column) {
            if (text.isEmpty())
                return;
            texts.resize(column);
        }
        texts[column - 1] = text;
    };
    for (const Cell& cell : m_cells)
        put(cell.row, cell.column, m_pool.mid(cell.offset, cell.length));
    for (auto it = m_changes.constBegin(); it != m_changes.constEnd(); ++it)
        put(int(it.key() >> 32), int(it.key() & 0xffffffffu), *it);
    for (QStringList& texts : result) {
        while (!texts.isEmpty() && texts.constLast().isEmpty())
            texts.removeLast();
    }
    return result;
}
