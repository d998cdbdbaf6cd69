#include "office/csvworkbook.h"

#include "office/cellstore.h"
#include "office/valueworkbook.h"

#include <QFile>
#include <QSaveFile>

#include <cerrno>
#include <cstring>

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

enum class TextEncoding { Utf8, Utf16LE, Utf16BE, Windows1252 };

// U+0080 to U+009F of Windows-1252, by byte from 0x80. The five bytes it leaves undefined stand
// for the control characters of the same number, as the system's own conversion has them.
constexpr char16_t kWindows1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

void appendUtf8(QByteArray& out, char16_t c) {
    if (c < 0x80) {
        out += char(c);
    } else if (c < 0x800) {
        out += char(0xC0 | (c >> 6));
        out += char(0x80 | (c & 0x3F));
    } else {
        out += char(0xE0 | (c >> 12));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    }
}

// A control character that text files do not hold: binary files are full of them.
bool binaryControl(char32_t c) {
    return c < 0x20 && c != u'\t' && c != u'\n' && c != u'\f' && c != u'\r';
}

// Raised by the parser when text without a byte order mark turns out not to be UTF-8.
struct NotUtf8 {};

// The text of a file from just after its byte order mark, chunk by chunk, as UTF-8.
class CsvInput {
public:
    CsvInput(QFile& file, QString path, TextEncoding encoding)
        : m_file(file), m_path(std::move(path)), m_encoding(encoding), m_start(file.pos()) {}

    // False at the end of the file. Throws WorkbookError when the file cannot be read or is not the
    // UTF-16 its byte order mark announces.
    bool read(QByteArray& out) {
        const QByteArray raw = m_file.read(kChunk);
        if (raw.isEmpty()) {
            if (m_file.error() != QFileDevice::NoError)
                throw WorkbookError(QStringLiteral("cannot read %1: %2").arg(m_path, m_file.errorString()));
            if (m_oddByte >= 0)
                throw WorkbookError(QStringLiteral("%1: the UTF-16 text ends in half a character").arg(m_path));
            if (m_highSurrogate)
                throw notUtf16();
            return false;
        }
        m_consumed += raw.size();
        switch (m_encoding) {
        case TextEncoding::Utf8:
            out = raw;
            break;
        case TextEncoding::Windows1252:
            out.resize(0);
            for (char byte : raw) {
                const auto b = static_cast<unsigned char>(byte);
                appendUtf8(out, b >= 0x80 && b < 0xA0 ? kWindows1252High[b - 0x80] : char16_t(b));
            }
            break;
        case TextEncoding::Utf16LE:
        case TextEncoding::Utf16BE:
            out = utf16(raw);
            break;
        }
        return true;
    }

    // Back to the first character, to be read in encoding.
    void restart(TextEncoding encoding) {
        m_file.seek(m_start);
        m_encoding = encoding;
        m_consumed = 0;
        m_oddByte = -1;
        m_highSurrogate = 0;
    }

    TextEncoding encoding() const { return m_encoding; }
    qint64 consumed() const { return m_consumed; }

private:
    WorkbookError notUtf16() const {
        return WorkbookError(QStringLiteral("%1: not UTF-16 text (a surrogate without its pair)").arg(m_path));
    }

    QByteArray utf16(const QByteArray& raw) {
        QString text;
        text.reserve(raw.size() / 2 + 2);
        const bool little = m_encoding == TextEncoding::Utf16LE;
        const auto unit = [little](unsigned char first, unsigned char second) {
            return little ? char16_t(first | (second << 8)) : char16_t((first << 8) | second);
        };
        const auto take = [&](char16_t c) {
            if (m_highSurrogate) {
                if (!QChar::isLowSurrogate(c))
                    throw notUtf16();
                text += QChar(m_highSurrogate);
                text += QChar(c);
                m_highSurrogate = 0;
            } else if (QChar::isHighSurrogate(c)) {
                m_highSurrogate = c;
            } else if (QChar::isLowSurrogate(c)) {
                throw notUtf16();
            } else {
                text += QChar(c);
            }
        };
        qsizetype i = 0;
        if (m_oddByte >= 0) {
            take(unit(static_cast<unsigned char>(m_oddByte), static_cast<unsigned char>(raw[0])));
            m_oddByte = -1;
            i = 1;
        }
        for (; i + 1 < raw.size(); i += 2)
            take(unit(static_cast<unsigned char>(raw[i]), static_cast<unsigned char>(raw[i + 1])));
        if (i < raw.size())
            m_oddByte = static_cast<unsigned char>(raw[i]);
        return text.toUtf8();
    }

    QFile& m_file;
    QString m_path;
    TextEncoding m_encoding;
    qint64 m_start;
    qint64 m_consumed = 0;
    int m_oddByte = -1;           // the first byte of a code unit split by the chunk's end
    char16_t m_highSurrogate = 0; // waiting for its pair
};

class CsvParser {
public:
    // fallback: invalid UTF-8 raises NotUtf8 (the text is then read again as Windows-1252) rather
    // than refusing the file.
    CsvParser(QString path, char separator, int rowLimit, bool fallback, CellStore& store)
        : m_path(std::move(path)), m_separator(separator), m_rowLimit(rowLimit), m_fallback(fallback),
          m_store(store) {}

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
        if (!m_utf8.complete() && m_fallback)
            throw NotUtf8{};
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
        if (!m_utf8.feed(b)) {
            if (m_fallback)
                throw NotUtf8{};
            fail(QStringLiteral("not UTF-8 text (byte 0x%1)").arg(int(b), 2, 16, QLatin1Char('0')));
        }
        // A line break belongs to the line it ends: a record refused there is named by its own line.
        const bool endsLine = b == '\r' || (b == '\n' && m_previous != '\r');
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
        if (endsLine)
            ++m_line;
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
        if (m_row > kMaxRows)
            fail(QStringLiteral("more than %1 rows").arg(kMaxRows));
        endField();
        ++m_row;
        m_column = 1;
        m_recordStarted = false;
    }

    QString m_path;
    char m_separator;
    int m_rowLimit;
    bool m_fallback;
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

// ',' unless the first line holds more ';' than ',' outside quotes. Leaves input at its start.
char detectSeparator(CsvInput& input, qint64 limit) {
    qint64 commas = 0, semicolons = 0;
    bool quoted = false, done = false;
    QByteArray chunk;
    while (!done && input.consumed() < limit && input.read(chunk)) {
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
    input.restart(input.encoding());
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

QString csvField(const QString& text, QChar separator) {
    const bool quote = text.contains(separator) || text.contains(QLatin1Char('"')) ||
                       text.contains(QLatin1Char('\n')) || text.contains(QLatin1Char('\r'));
    if (!quote)
        return text;
    QString quoted = text;
    quoted.replace(QLatin1String("\""), QLatin1String("\"\""));
    return u'"' + quoted + u'"';
}

} // namespace

bool looksLikeText(QByteArrayView bytes, bool whole) {
    const auto byte = [&](qsizetype i) { return static_cast<unsigned char>(bytes[i]); };
    if (bytes.size() >= 2 && ((byte(0) == 0xFF && byte(1) == 0xFE) || (byte(0) == 0xFE && byte(1) == 0xFF))) {
        const bool little = byte(0) == 0xFF;
        if (whole && bytes.size() % 2 != 0)
            return false;
        char16_t high = 0;
        for (qsizetype i = 2; i + 1 < bytes.size(); i += 2) {
            const char16_t c = little ? char16_t(byte(i) | (byte(i + 1) << 8))
                                      : char16_t((byte(i) << 8) | byte(i + 1));
            if (high && !QChar::isLowSurrogate(c))
                return false;
            if (!high && QChar::isLowSurrogate(c))
                return false;
            high = QChar::isHighSurrogate(c) && !high ? c : 0;
            if (c == 0 || binaryControl(c))
                return false;
        }
        return !whole || !high;
    }
    Utf8Check check;
    bool utf8 = true;
    for (char c : bytes) {
        if (c == 0)
            return false;
        if (utf8 && !check.feed(static_cast<unsigned char>(c)))
            utf8 = false;
    }
    if (utf8 && (!whole || check.complete()))
        return true;
    // Windows-1252 gives every other byte a character.
    for (char c : bytes)
        if (binaryControl(static_cast<unsigned char>(c)))
            return false;
    return true;
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
    TextEncoding encoding = TextEncoding::Utf8;
    const QByteArray start = file.peek(kBom.size());
    if (start.startsWith(kBom)) {
        file.skip(kBom.size());
    } else if (start.startsWith("\xFF\xFE") || start.startsWith("\xFE\xFF")) {
        const bool little = start.startsWith("\xFF\xFE");
        encoding = little ? TextEncoding::Utf16LE : TextEncoding::Utf16BE;
        format.encoding = little ? CsvEncoding::Utf16LE : CsvEncoding::Utf16BE;
        file.skip(2);
    } else {
        format.byteOrderMark = false;
    }
    CsvInput input(file, path, encoding);
    // A byte order mark names the encoding; text without one that is not UTF-8 is read again from
    // its start as Windows-1252, and saved as UTF-8 with a byte order mark.
    bool fallback = encoding == TextEncoding::Utf8 && !format.byteOrderMark;
    for (;;) {
        try {
            format.separator = QLatin1Char(detectSeparator(input, kCsvSizeLimit));
            CellStore store;
            CsvParser parser(path, format.separator.toLatin1(), options.rowLimit, fallback, store);
            QByteArray chunk;
            bool more = true;
            while (more) {
                if (!input.read(chunk)) {
                    parser.finish();
                    break;
                }
                if (input.consumed() > kCsvSizeLimit)
                    throw WorkbookError(tooLarge);
                more = parser.feed(chunk.constData(), chunk.size());
            }
            format.lineEnd = parser.lineEnd();
            return std::make_unique<CsvWorkbook>(path, std::move(store), format);
        } catch (const NotUtf8&) {
            input.restart(TextEncoding::Windows1252);
            fallback = false;
            format.byteOrderMark = true;
        }
    }
}

void writeCsv(const QString& path, const QList<QStringList>& rows, const CsvFormat& format) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        throw WorkbookError(QStringLiteral("cannot write %1: %2").arg(path, file.errorString()));
    const auto encode = [&format](const QString& text) {
        if (format.encoding == CsvEncoding::Utf8)
            return text.toUtf8();
        QByteArray bytes;
        bytes.reserve(text.size() * 2);
        const bool little = format.encoding == CsvEncoding::Utf16LE;
        for (QChar c : text) {
            const char16_t u = c.unicode();
            bytes += char(little ? u & 0xFF : u >> 8);
            bytes += char(little ? u >> 8 : u & 0xFF);
        }
        return bytes;
    };
    // A disk that fills up makes a write short; QFile then keeps no error of its own, and
    // commit() would put the cut text in place of the file. Every write and the last flush are
    // checked, the cause taken from errno at once.
    int failure = 0;
    bool failed = false;
    const auto put = [&](const QByteArray& bytes) {
        if (failed)
            return;
        if (file.write(bytes) != bytes.size()) {
            failure = errno;
            failed = true;
        }
    };
    if (format.encoding != CsvEncoding::Utf8)
        put(encode(QString(QChar(0xFEFF))));
    else if (format.byteOrderMark)
        put(kBom);
    const QString lineEnd = QString::fromLatin1(format.lineEnd);
    for (const QStringList& row : rows) {
        QString line;
        for (qsizetype i = 0; i < row.size(); ++i) {
            if (i > 0)
                line += format.separator;
            line += csvField(row[i], format.separator);
        }
        line += lineEnd;
        put(encode(line));
    }
    if (!failed && !file.flush()) {
        failure = errno;
        failed = true;
    }
    if (failed) {
        file.cancelWriting();
        throw WorkbookError(
            QStringLiteral("cannot write %1: %2")
                .arg(path, failure ? QString::fromLocal8Bit(std::strerror(failure)) : file.errorString()));
    }
    if (!file.commit())
        throw WorkbookError(QStringLiteral("cannot write %1: %2").arg(path, file.errorString()));
}
