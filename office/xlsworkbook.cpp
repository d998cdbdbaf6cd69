#include "office/xlsworkbook.h"

#include "office/biffscan.h"
#include "office/celltext.h"
#include "office/officeconvert.h"
#include "office/valueworkbook.h"
#include "office/xlsxworkbook.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QTemporaryDir>
#include <QtEndian>

#include <freexl.h>

namespace {

QString freexlCause(int code) {
    switch (code) {
    case FREEXL_FILE_NOT_FOUND:
        return QStringLiteral("the file cannot be opened");
    case FREEXL_INSUFFICIENT_MEMORY:
        return QStringLiteral("not enough memory to read it");
    case FREEXL_INVALID_CFBF_HEADER:
    case FREEXL_CFBF_INVALID_SIGNATURE:
    case FREEXL_CFBF_INVALID_SECTOR_SIZE:
        return QStringLiteral("the compound document header is damaged");
    case FREEXL_CFBF_READ_ERROR:
    case FREEXL_CFBF_SEEK_ERROR:
        return QStringLiteral("the file is truncated or damaged");
    case FREEXL_CFBF_EMPTY_FAT_CHAIN:
    case FREEXL_CFBF_ILLEGAL_FAT_ENTRY:
    case FREEXL_INVALID_MINI_STREAM:
    case FREEXL_CFBF_ILLEGAL_MINI_FAT_ENTRY:
        return QStringLiteral("the compound document's allocation table is damaged");
    case FREEXL_BIFF_INVALID_BOF:
        return QStringLiteral("a workbook record is damaged");
    case FREEXL_BIFF_INVALID_SST:
    case FREEXL_BIFF_ILLEGAL_SST_INDEX:
        return QStringLiteral("the shared string table is damaged");
    case FREEXL_BIFF_WORKBOOK_NOT_FOUND:
        return QStringLiteral("the compound document holds no workbook");
    case FREEXL_BIFF_ILLEGAL_SHEET_INDEX:
        return QStringLiteral("the sheet does not exist");
    case FREEXL_INVALID_CHARACTER:
    case FREEXL_UNSUPPORTED_CHARSET:
        return QStringLiteral("a text is in an unknown or broken character set");
    case FREEXL_ILLEGAL_CELL_ROW_COL:
        return QStringLiteral("a cell lies outside its sheet");
    case FREEXL_ILLEGAL_RK_VALUE:
        return QStringLiteral("a number record is damaged");
    case FREEXL_CRAFTED_FILE:
        return QStringLiteral("the file is severely damaged");
    default:
        return QStringLiteral("the .xls reader failed with code %1").arg(code);
    }
}

// The workbook at path converted to a package in folder, opened.
std::unique_ptr<Workbook> convertedCopy(const QString& path, const QTemporaryDir& folder,
                                        const WorkbookOpenOptions& options = {}) {
    if (!folder.isValid())
        throw WorkbookError(QStringLiteral("no temporary folder: %1").arg(folder.errorString()));
    // The converter would pick its import filter by the name; the content is what counts here.
    const QString source = folder.filePath(QStringLiteral("source.xls"));
    if (!QFile::link(QFileInfo(path).absoluteFilePath(), source))
        throw WorkbookError(QStringLiteral("cannot link %1 into a temporary folder").arg(path));
    const QString converted = folder.filePath(QStringLiteral("converted.xlsx"));
    convertWithOffice(source, converted);
    return openXlsxWorkbook(converted, options);
}

// The reader takes the name length of each entry of the first directory sector as it stands and
// converts that many bytes from a 64-byte field, reading far beyond it (and beyond its own buffer)
// when a damaged entry claims more. Such a file is refused before the reader sees it.
bool directoryNamesFit(QByteArrayView file) {
    if (file.size() < 512)
        return true; // the reader refuses the header itself
    const quint16 shift = qFromLittleEndian<quint16>(file.data() + 0x1E);
    if (shift != 9 && shift != 12)
        return true;
    const qint64 sectorSize = qint64(1) << shift;
    const qint64 start = (qint64(qFromLittleEndian<quint32>(file.data() + 0x30)) + 1) * sectorSize;
    if (start + sectorSize > file.size())
        return true; // the reader cannot read the sector and says so
    for (qint64 entry = start; entry + 128 <= start + sectorSize; entry += 128)
        if (qFromLittleEndian<quint16>(file.data() + entry + 0x40) > 64)
            return false;
    return true;
}

struct FreexlCloser {
    void operator()(const void* handle) const { freexl_close(handle); }
};
using FreexlHandle = std::unique_ptr<const void, FreexlCloser>;

class XlsWorkbook : public ValueWorkbook {
public:
    XlsWorkbook(const QString& path, FreexlHandle handle, int sheetCount, int rowLimit,
                std::vector<std::vector<BiffCellText>> cellTexts)
        : ValueWorkbook(path, sheetCount), m_handle(std::move(handle)), m_rowLimit(rowLimit) {
        // The scan's sheets are the reader's only when both count them alike.
        if (cellTexts.size() == size_t(sheetCount))
            m_cellTexts = std::move(cellTexts);
    }

    // A package save keeps every sheet and the formatting when LibreOffice can convert the original:
    // the changes are made on its converted copy. Otherwise the selected sheet's values are saved.
    void saveAs(const QString& target) override {
        const QString suffix = QFileInfo(target).suffix().toLower();
        const bool package = suffix == QLatin1String("xlsx") || suffix == QLatin1String("xlsm") ||
                             suffix == QLatin1String("xls");
        if (!package || !officeConverterAvailable()) {
            ValueWorkbook::saveAs(target);
            return;
        }
        QTemporaryDir folder;
        std::unique_ptr<Workbook> copy;
        try {
            copy = convertedCopy(path(), folder);
        } catch (const WorkbookError&) {
        }
        // Sheets are found by position: a copy that counts them otherwise cannot take the changes.
        if (!copy || copy->sheetCount() != sheetCount()) {
            ValueWorkbook::saveAs(target);
            return;
        }
        for (const auto& [n, store] : readSheets()) {
            copy->selectSheet(n);
            store.forEachChange(
                [&](int row, int column, const QString& text) { copy->setCellText(row, column, text); });
        }
        if (suffix != QLatin1String("xls")) {
            copy->saveAs(target);
            return;
        }
        const QString changed = folder.filePath(QStringLiteral("changed.xlsx"));
        copy->saveAs(changed);
        convertWithOffice(changed, target);
    }

protected:
    CellStore loadSheet(int n) override {
        const void* xls = m_handle.get();
        const auto fail = [&](const QString& where, int code) {
            return WorkbookError(
                QStringLiteral("%1, sheet %2%3: %4").arg(path()).arg(n).arg(where, freexlCause(code)));
        };
        int code = freexl_select_active_worksheet(xls, static_cast<unsigned short>(n - 1));
        if (code != FREEXL_OK)
            throw fail(QString(), code);
        unsigned int rows = 0;
        unsigned short columns = 0;
        code = freexl_worksheet_dimensions(xls, &rows, &columns);
        if (code != FREEXL_OK)
            throw fail(QString(), code);
        // The dimensions are counts (not last indexes, whatever the library's notes say).
        if (m_rowLimit > 0 && rows > unsigned(m_rowLimit))
            rows = unsigned(m_rowLimit);
        // Booleans, error codes and elapsed times, which the reader gets wrong, as the scan read them.
        QHash<quint64, QString> corrected;
        if (size_t(n) <= m_cellTexts.size())
            for (const BiffCellText& cell : m_cellTexts[size_t(n - 1)])
                corrected.insert((quint64(cell.row) << 16) | cell.column, cell.text);
        CellStore store;
        for (unsigned int row = 0; row < rows; ++row) {
            for (unsigned short column = 0; column < columns; ++column) {
                FreeXL_CellValue value;
                code = freexl_get_cell_value(xls, row, column, &value);
                if (code != FREEXL_OK)
                    throw fail(QStringLiteral(", row %1, column %2").arg(row + 1).arg(column + 1), code);
                const auto fix = corrected.isEmpty() ? corrected.constEnd()
                                                     : corrected.constFind((quint64(row) << 16) | column);
                store.append(int(row) + 1, int(column) + 1,
                             fix != corrected.constEnd() ? *fix : cellText(value));
            }
        }
        return store;
    }

private:
    static QString cellText(const FreeXL_CellValue& value) {
        switch (value.type) {
        case FREEXL_CELL_INT:
            return QString::number(value.value.int_value);
        case FREEXL_CELL_DOUBLE:
            return numberText(value.value.double_value);
        case FREEXL_CELL_TEXT:
        case FREEXL_CELL_SST_TEXT:
        case FREEXL_CELL_DATE:
        case FREEXL_CELL_DATETIME:
        case FREEXL_CELL_TIME:
            // Points into the library's memory: copied here, long before the handle is closed.
            return value.value.text_value ? QString::fromUtf8(value.value.text_value) : QString();
        default:
            return {};
        }
    }

    FreexlHandle m_handle;
    int m_rowLimit;
    std::vector<std::vector<BiffCellText>> m_cellTexts; // by sheet, 0-based
};

// A workbook with formulas, read through its converted copy (which keeps the formula results) but
// known by its own path.
class ConvertedWorkbook : public Workbook {
public:
    ConvertedWorkbook(QString path, std::unique_ptr<QTemporaryDir> folder, std::unique_ptr<Workbook> book)
        : m_path(std::move(path)), m_folder(std::move(folder)), m_book(std::move(book)) {}
    QString path() const override { return m_path; }
    int sheetCount() const override { return m_book->sheetCount(); }
    void selectSheet(int n) override { m_book->selectSheet(n); }
    int selectedSheet() const override { return m_book->selectedSheet(); }
    int usedRows() const override { return m_book->usedRows(); }
    int usedColumns() const override { return m_book->usedColumns(); }
    QString cellText(int row, int column) const override { return m_book->cellText(row, column); }
    void setCellText(int row, int column, const QString& text) override {
        m_book->setCellText(row, column, text);
    }
    void saveAs(const QString& path) override { m_book->saveAs(path); }

private:
    QString m_path;
    std::unique_ptr<QTemporaryDir> m_folder;
    std::unique_ptr<Workbook> m_book;
};

std::unique_ptr<Workbook> openConverted(const QString& path, const WorkbookOpenOptions& options) {
    auto folder = std::make_unique<QTemporaryDir>();
    auto book = convertedCopy(path, *folder, options);
    return std::make_unique<ConvertedWorkbook>(path, std::move(folder), std::move(book));
}

} // namespace

std::unique_ptr<Workbook> openXlsWorkbook(const QString& path, const WorkbookOpenOptions& options) {
    const QFileInfo info(path);
    if (info.size() > kXlsSizeLimit)
        throw WorkbookError(QStringLiteral("%1 is larger than %2 MB, too large to read as an .xls workbook")
                                .arg(path)
                                .arg(kXlsSizeLimit >> 20));
    std::vector<std::vector<BiffCellText>> cellTexts;
    {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            throw WorkbookError(QStringLiteral("cannot read %1: %2").arg(path, file.errorString()));
        const uchar* bytes = file.size() > 0 ? file.map(0, file.size()) : nullptr;
        if (bytes && !directoryNamesFit(QByteArrayView(reinterpret_cast<const char*>(bytes), file.size())))
            throw WorkbookError(QStringLiteral("%1: cannot read the .xls workbook: the compound document's "
                                               "directory is damaged")
                                    .arg(path));
        const auto summary = bytes
                                 ? scanBiff(QByteArrayView(reinterpret_cast<const char*>(bytes), file.size()))
                                 : std::nullopt;
        if (summary && summary->declaredCells > kXlsCellLimit)
            throw WorkbookError(
                QStringLiteral(
                    "%1: the sheets declare %2 cells, more than the %3 an .xls workbook is read with")
                    .arg(path)
                    .arg(summary->declaredCells)
                    .arg(kXlsCellLimit));
        // The reader gives formula cells as empty; the converter keeps their results, at the price
        // of seconds, so only a workbook that has formulas pays it. Should the conversion fail, the
        // values are still read, without the formula results.
        if (summary && summary->formulas > 0 && officeConverterAvailable()) {
            try {
                return openConverted(path, options);
            } catch (const WorkbookError&) {
            }
        }
        if (summary)
            cellTexts = std::move(summary->cellTexts);
    }
    const void* raw = nullptr;
    const int code = freexl_open(QFile::encodeName(path).constData(), &raw);
    FreexlHandle handle(raw);
    if (code != FREEXL_OK)
        throw WorkbookError(
            QStringLiteral("%1: cannot read the .xls workbook: %2").arg(path, freexlCause(code)));
    // Seen with very long shared strings: success reported, yet no workbook. The converter reads
    // such files.
    if (!handle) {
        const WorkbookError gaveUp(
            QStringLiteral("%1: cannot read the .xls workbook: the reader gave up on it").arg(path));
        if (!officeConverterAvailable())
            throw gaveUp;
        try {
            return openConverted(path, options);
        } catch (const WorkbookError& error) {
            throw WorkbookError(gaveUp.cause() + QStringLiteral(", and so did LibreOffice's converter (") +
                                error.cause() + u')');
        }
    }
    unsigned int value = 0;
    if (freexl_get_info(handle.get(), FREEXL_BIFF_PASSWORD, &value) == FREEXL_OK &&
        value == FREEXL_BIFF_OBFUSCATED)
        throw WorkbookError(QStringLiteral("%1: the .xls workbook is protected by a password").arg(path));
    unsigned int sheets = 0;
    if (freexl_get_info(handle.get(), FREEXL_BIFF_SHEET_COUNT, &sheets) != FREEXL_OK || sheets > 65535)
        throw WorkbookError(
            QStringLiteral("%1: cannot read the .xls workbook: its sheet list is damaged").arg(path));
    return std::make_unique<XlsWorkbook>(path, std::move(handle), int(sheets), options.rowLimit,
                                         std::move(cellTexts));
}
