#pragma once
#include "office/workbook.h"
#include "office/cellstore.h"
#include "office/csvworkbook.h"
#include "office/xlsxworkbook.h"

#include <map>

// A workbook read from a format that is not written back in place (.xls, .csv): the sheets' values
// are read into CellStores, changed there, and saved as a new file of values.
class ValueWorkbook : public Workbook {
public:
    QString path() const override { return m_path; }
    int sheetCount() const override { return m_sheetCount; }
    void selectSheet(int n) override;
    int selectedSheet() const override { return m_selected; }
    int usedRows() const override;
    int usedColumns() const override;
    QString cellText(int row, int column) const override;
    void setCellText(int row, int column, const QString& text) override;
    // Writes the selected sheet (the first when none is): ".csv" as text, ".xlsx"/".xlsm" as a new
    // package of its values, ".xls" through the office converter.
    void saveAs(const QString& path) override;

protected:
    ValueWorkbook(QString path, int sheetCount) : m_path(std::move(path)), m_sheetCount(sheetCount) {}
    virtual CellStore loadSheet(int n) = 0;
    // How a save as ".csv" writes the text.
    virtual CsvFormat csvFormat() const { return {}; }
    // The sheets read so far, by position.
    const std::map<int, CellStore>& readSheets() const { return m_sheets; }

private:
    const CellStore* selectedStore() const;

    QString m_path;
    int m_sheetCount = 0;
    int m_selected = 0;
    // Sheets already read, so that changes survive a switch to another sheet and back.
    std::map<int, CellStore> m_sheets;
};

// Saves rows of values under path in the format its extension names (.csv, .xlsx, .xlsm, .xls),
// atomically. sheet tells how a workbook package lays out the values (number texts, column
// widths); a .csv file holds the texts as they are either way.
void saveValues(const QString& path, const QList<QStringList>& rows, const CsvFormat& csv,
                const NewSheetOptions& sheet = {});
