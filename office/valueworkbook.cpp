#include "office/valueworkbook.h"

#include "office/celltext.h"
#include "office/officeconvert.h"
#include "office/xlsxworkbook.h"

#include <QFileInfo>
#include <QTemporaryDir>

void ValueWorkbook::selectSheet(int n) {
    if (n < 1 || n > m_sheetCount)
        throw WorkbookError(
            QStringLiteral("%1 has %2 sheet(s), there is no sheet %3").arg(m_path).arg(m_sheetCount).arg(n));
    if (m_sheets.find(n) == m_sheets.end())
        m_sheets.emplace(n, loadSheet(n));
    m_selected = n;
}

const CellStore* ValueWorkbook::selectedStore() const {
    const auto it = m_sheets.find(m_selected);
    return it == m_sheets.end() ? nullptr : &it->second;
}

int ValueWorkbook::usedRows() const {
    const CellStore* store = selectedStore();
    return store ? store->usedRows() : 0;
}

int ValueWorkbook::usedColumns() const {
    const CellStore* store = selectedStore();
    return store ? store->usedColumns() : 0;
}

QString ValueWorkbook::cellText(int row, int column) const {
    const CellStore* store = selectedStore();
    return store ? store->text(row, column) : QString();
}

void ValueWorkbook::setCellText(int row, int column, const QString& text) {
    if (!m_selected)
        selectSheet(1);
    m_sheets.at(m_selected).set(row, column, fitToCell(text));
}

void ValueWorkbook::saveAs(const QString& path) {
    if (!m_selected && m_sheetCount > 0)
        selectSheet(1);
    const CellStore* store = selectedStore();
    saveValues(path, store ? store->rows() : QList<QStringList>(), csvFormat());
}

void saveValues(const QString& path, const QList<QStringList>& rows, const CsvFormat& csv,
                const NewSheetOptions& sheet) {
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix == QLatin1String("csv")) {
        writeCsv(path, rows, csv);
    } else if (suffix == QLatin1String("xlsx") || suffix == QLatin1String("xlsm")) {
        writeNewXlsx(path, rows, {}, sheet);
    } else if (suffix == QLatin1String("xls")) {
        QTemporaryDir work;
        if (!work.isValid())
            throw WorkbookError(
                QStringLiteral("cannot save %1: no temporary folder (%2)").arg(path, work.errorString()));
        const QString package = work.filePath(QStringLiteral("workbook.xlsx"));
        writeNewXlsx(package, rows, path, sheet);
        convertWithOffice(package, path);
    } else {
        throw WorkbookError(
            QStringLiteral("cannot save %1: the name must end in .xlsx, .xlsm, .xls or .csv").arg(path));
    }
}
