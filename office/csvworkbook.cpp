#include "office/csvworkbook.h"

#include "office/cellstore.h"
#include "office/valueworkbook.h"

#include <QFile>
#include <QSaveFile>

namespace {

// The sheet limits of the workbook formats the values may be saved in.
constexpr int kMaxRows = 1048576;
constexpr int kMaxColumns = 16384;
constexpr qint64 kChunk = 64 * 1024;
const QByteArray kBom("\xEF\xBB\xBF");

// Strict UTF-8 (no overlong forms, no surrogates, nothing above U+10FFFF), fed byte by byte so
// that a file can be checked chunk by chunk and a fault can be placed on its line.
class Utf8Check {
public:
    bool feed(unsigned char b) {
        if (m_need == 0) {
            if (b < 0x80)
                return true;
            if (b >= 0xC2 && b <= 0xDF)
                return expect(1, 0x80, 0xBF);
            if (b == 0xE0)
                return expect(2, 0xA0, 0xBF);
            if (b == 0xED)
                return expect(2, 0x80, 0x9F);
            if (b >= 0xE1 && b <= 0xEF)
                return expect(2, 0x80, 0xBF);
            if (b == 0xF0)
                return expect(3, 0x90, 0xBF);
            if (b >= 0xF1 && b <= 0xF3)
                return expect(3, 0x80, 0xBF);
            if (b == 0xF4)
                return expect(3, 0x80, 0x8F);
            return false;
        }
        if (b < m_low || b > m_high)
            return false;
        m_low = 0x80;
        m_high = 0xBF;
        --m_need;
        return true;
    }
    bool complete() const { return m_need == 0; }

private:
    bool expect(int need, unsigned char low, unsigned char high) {
        m_need = need;
        m_low = low;
        m_high = high;
        return true;
    }
    int m_need = 0;
    unsigned char m_low = 0x80;
    unsigned char m_high = 0xBF;
};

class CsvParser {
public:
    CsvParser(QString path, char separator, int rowLimit, CellStore& store)
        : m_path(std::move(path)), m_separator(separator), m_rowLimit(rowLimit), m_store(store) {}

    // False once rowLimit rows are complete: the rest of the file is not needed.
    bool feed(const char* data, qsizetype size) {
        for (qsizetype i = 0; i < size; ++i) {
            if (m_rowLimit > 0 && m_row > m_rowLimit)
                return false;
            // Plain ASCII inside a field needs no checks: take the whole run at once.
            if ((m_state == State::Unquoted || m_state == State::Quoted) && m_utf8.complete()) {
                qsizetype end = i;
                while (end < size && plain(static_cast<unsigned char>(data[end])))
                    ++end;
                if (end > i) {
                    m_field.append(data + i, end - i);
                    m_previous = static_cast<unsigned char>(data[end - 1]);
                    i = end - 1;
                    continue;
                }
            }
            take(static_cast<unsigned char>(data[i]));
        }
        return !(m_rowLimit > 0 && m_row > m_rowLimit);
    }

    void finish() {
        if (!m_utf8.complete())
            throw WorkbookError(QStringLiteral("%1: the file ends inside a UTF-8 sequence").arg(m_path));
        if (m_state == State::Quoted)
            throw WorkbookError(
                QStringLiteral("%1: the quoted field opened on line %2 is not closed by the end of the file")
                    .arg(m_path)
                    .arg(m_quoteLine));
        if (m_recordStarted)
            endRecord();
    }

    QByteArray lineEnd() const { return m_lineEnd.isEmpty() ? QByteArray("\r\n") : m_lineEnd; }

private:
    enum class State { FieldStart, Unquoted, Quoted, QuoteInQuoted, AfterCR };

    bool plain(unsigned char b) const {
        return b > 0 && b < 0x80 && b != '"' && b != '\r' && b != '\n' &&
               b != static_cast<unsigned char>(m_separator);
    }

    [[noreturn]] void fail(const QString& what) const {
        throw WorkbookError(QStringLiteral("%1, line %2: %3").arg(m_path).arg(m_line).arg(what));
    }

    void take(unsigned char b) {
        if (b == 0)
            fail(QStringLiteral("holds a NUL byte, so the file is not text"));
        if (!m_utf8.feed(b))
            fail(QStringLiteral("not UTF-8 text (byte 0x%1)").arg(int(b), 2, 16, QLatin1Char('0')));
        if (b == '\r' || (b == '\n' && m_previous != '\r'))
            ++m_line;
        m_previous = b;

        if (m_state == State::AfterCR) {
            m_state = State::FieldStart;
            if (b == '\n') {
                if (m_lineEnd.isEmpty())
                    m_lineEnd = "\r\n";
                return;
            }
            if (m_lineEnd.isEmpty())
                m_lineEnd = "\r";
        }
        switch (m_state) {
        case State::FieldStart:
            m_recordStarted = true;
            if (b == '"') {
                m_state = State::Quoted;
                m_quoted = true;
                m_quoteLine = m_line;
            } else if (!delimiter(b)) {
                m_field.append(char(b));
                m_state = State::Unquoted;
            }
            break;
        case State::Unquoted:
            if (!delimiter(b))
                m_field.append(char(b));
            break;
        case State::Quoted:
            if (b == '"')
                m_state = State::QuoteInQuoted;
            else
                m_field.append(char(b));
            break;
        case State::QuoteInQuoted:
            if (b == '"') {
                m_field.append('"');
                m_state = State::Quoted;
            } else if (!delimiter(b)) {
                // Text after the closing quote ("ab"c): kept, as spreadsheet programs do.
                m_field.append(char(b));
                m_state = State::Unquoted;
            }
            break;
        case State::AfterCR:
            break;
        }
    }

    // A separator or a line break outside quotes ends the field; false for any other byte.
    bool delimiter(unsigned char b) {
        if (b == static_cast<unsigned char>(m_separator)) {
            endField();
            m_state = State::FieldStart;
            return true;
        }
        if (b == '\r' || b == '\n') {
            lineBreak(b);
            return true;
        }
        return false;
    }

    void lineBreak(unsigned char b) {
        endRecord();
        if (b == '\r') {
            m_state = State::AfterCR;
        } else {
            m_state = State::FieldStart;
            if (m_lineEnd.isEmpty())
                m_lineEnd = "\n";
        }
    }

    void endField() {
        if (m_column > kMaxColumns)
            fail(QStringLiteral("more than %1 fields").arg(kMaxColumns));
        if (!m_field.isEmpty()) {
            QString text = QString::fromUtf8(m_field);
            if (m_quoted)
                text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
            m_store.append(m_row, m_column, text);
            m_field.resize(0); // keeps the buffer for the next field
        }
        m_quoted = false;
        ++m_column;
    }

    void endRecord() {
        endField();
        if (m_row >= kMaxRows)
            fail(QStringLiteral("more than %1 rows").arg(kMaxRows));
        ++m_row;
        m_column = 1;
        m_recordStarted = false;
    }

    QString m_path;
    char m_separator;
    int m_rowLimit;
    CellStore& m_store;
    Utf8Check m_utf8;
    State m_state = State::FieldStart;
    QByteArray m_field;
    QByteArray m_lineEnd;
    bool m_quoted = false;
    bool m_recordStarted = false;
    unsigned char m_previous = 0;
    int m_row = 1;
    int m_column = 1;
    int m_line = 1;
    int m_quoteLine = 1;
};

// ',' unless the first line holds more ';' than ',' outside quotes.
char detectSeparator(QFile& file, qint64 limit) {
    const qint64 start = file.pos();
    qint64 commas = 0, semicolons = 0, seen = 0;
    bool quoted = false, done = false;
    while (!done && seen < limit) {
        const QByteArray chunk = file.read(kChunk);
        if (chunk.isEmpty())
            break;
        seen += chunk.size();
        for (char c : chunk) {
            if (c == '"')
                quoted = !quoted;
            else if (quoted)
                continue;
            else if (c == ',')
                ++commas;
            else if (c == ';')
                ++semicolons;
            else if (c == '\r' || c == '\n') {
                done = true;
                break;
            }
        }
    }
    file.seek(start);
    return semicolons > commas ? ';' : ',';
}

class CsvWorkbook : public ValueWorkbook {
public:
    CsvWorkbook(const QString& path, CellStore store, CsvFormat format)
        : ValueWorkbook(path, 1), m_store(std::move(store)), m_format(std::move(format)) {
        selectSheet(1);
    }

protected:
    CellStore loadSheet(int) override { return std::move(m_store); }
    CsvFormat csvFormat() const override { return m_format; }

private:
    CellStore m_store;
    CsvFormat m_format;
};

QByteArray csvField(const QString& text, QChar separator) {
    QByteArray bytes = text.toUtf8();
    const bool quote = text.contains(separator) || text.contains(QLatin1Char('"')) ||
                       text.contains(QLatin1Char('\n')) || text.contains(QLatin1Char('\r'));
    if (!quote)
        return bytes;
    bytes.replace("\"", "\"\"");
    return '"' + bytes + '"';
}

} // namespace

bool looksLikeUtf8Text(QByteArrayView bytes, bool whole) {
    Utf8Check check;
    for (char c : bytes) {
        if (c == 0 || !check.feed(static_cast<unsigned char>(c)))
            return false;
    }
    return !whole || check.complete();
}

std::unique_ptr<Workbook> openCsvWorkbook(const QString& path, const WorkbookOpenOptions& options) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw WorkbookError(QStringLiteral("cannot read %1: %2").arg(path, file.errorString()));
    const QString tooLarge =
        QStringLiteral("%1 is larger than %2 MB, too large to read as comma-separated text")
            .arg(path)
            .arg(kCsvSizeLimit >> 20);
    // A glance at the first rows reads only as far as they go; the limit then applies to what is read.
    if (options.rowLimit <= 0 && file.size() > kCsvSizeLimit)
        throw WorkbookError(tooLarge);

    CsvFormat format;
    format.byteOrderMark = file.peek(kBom.size()) == kBom;
    if (format.byteOrderMark)
        file.skip(kBom.size());
    format.separator = QLatin1Char(detectSeparator(file, kCsvSizeLimit));

    CellStore store;
    CsvParser parser(path, format.separator.toLatin1(), options.rowLimit, store);
    qint64 consumed = 0;
    bool more = true;
    while (more) {
        const QByteArray chunk = file.read(kChunk);
        if (chunk.isEmpty()) {
            if (file.error() != QFileDevice::NoError)
                throw WorkbookError(QStringLiteral("cannot read %1: %2").arg(path, file.errorString()));
            parser.finish();
            break;
        }
        consumed += chunk.size();
        if (consumed > kCsvSizeLimit)
            throw WorkbookError(tooLarge);
        more = parser.feed(chunk.constData(), chunk.size());
    }
    format.lineEnd = parser.lineEnd();
    return std::make_unique<CsvWorkbook>(path, std::move(store), format);
}

void writeCsv(const QString& path, const QList<QStringList>& rows, const CsvFormat& format) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        throw WorkbookError(QStringLiteral("cannot write %1: %2").arg(path, file.errorString()));
    if (format.byteOrderMark)
        file.write(kBom);
    const QByteArray separator = QString(format.separator).toUtf8();
    for (const QStringList& row : rows) {
        QByteArray line;
        for (qsizetype i = 0; i < row.size(); ++i) {
            if (i > 0)
                line += separator;
            line += csvField(row[i], format.separator);
        }
        line += format.lineEnd;
        file.write(line);
    }
    if (!file.commit())
        throw WorkbookError(QStringLiteral("cannot write %1: %2").arg(path, file.errorString()));
}
