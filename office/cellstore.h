#pragma once
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <vector>

// The values of one sheet read from a format that is not patched in place (.xls, .csv). Only
// non-empty texts are kept, all in one pool, so a sparse or ragged sheet costs its content rather
// than its area, and a flood of empty lines or fields costs nothing.
class CellStore {
public:
    // Cells must come in reading order: row by row, each row left to right. Empty texts are skipped.
    void append(int row, int column, QStringView text);

    QString text(int row, int column) const;
    void set(int row, int column, const QString& text);

    // Every setCellText since the values were read, emptied cells included.
    template <class F> void forEachChange(F&& f) const {
        for (auto it = m_changes.constBegin(); it != m_changes.constEnd(); ++it)
            f(int(it.key() >> 32), int(it.key() & 0xffffffffu), *it);
    }

    int usedRows() const;
    int usedColumns() const;
    // The used range, row by row, each row up to its last non-empty text.
    QList<QStringList> rows() const;

private:
    struct Cell {
        int row;
        int column;
        std::uint32_t offset;
        std::uint32_t length;
    };
    static quint64 key(int row, int column) { return (quint64(quint32(row)) << 32) | quint32(column); }
    const Cell* find(int row, int column) const;
    void updateRange() const;

    QString m_pool;
    std::vector<Cell> m_cells;
    QHash<quint64, QString> m_changes;
    mutable bool m_rangeKnown = true;
    mutable int m_rows = 0;
    mutable int m_columns = 0;
};
