#include "office/biffscan.h"

#include "office/celltext.h"

#include <QtEndian>

#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

constexpr quint32 kEndOfChain = 0xFFFFFFFE;
constexpr quint32 kLastRegularSector = 0xFFFFFFFA;

class Container {
public:
    explicit Container(QByteArrayView file) : m_file(file) {}

    std::optional<QByteArray> workbookStream() {
        if (m_file.size() < 512)
            return {};
        const quint16 shift = u16(0x1E);
        if (shift != 9 && shift != 12)
            return {};
        m_sectorSize = qint64(1) << shift;
        m_sectorCount = (m_file.size() + m_sectorSize - 1) / m_sectorSize - 1;
        if (!readFat())
            return {};
        const auto directory = chain(u32(0x30), -1);
        if (!directory)
            return {};
        // The root entry (first) holds the small-stream container.
        quint32 rootStart = 0;
        qint64 rootSize = 0;
        for (qsizetype entry = 0; entry + 128 <= directory->size(); entry += 128) {
            const char* e = directory->constData() + entry;
            const quint8 type = quint8(e[0x42]);
            const quint32 start = qFromLittleEndian<quint32>(e + 0x74);
            const qint64 size = qFromLittleEndian<quint32>(e + 0x78);
            if (type == 5) {
                rootStart = start;
                rootSize = size;
                continue;
            }
            if (type != 2)
                continue;
            const int nameBytes = qMin<int>(qFromLittleEndian<quint16>(e + 0x40), 64);
            const QString name =
                QString::fromUtf16(reinterpret_cast<const char16_t*>(e), qMax(0, nameBytes / 2 - 1));
            if (name.compare(QLatin1String("Workbook"), Qt::CaseInsensitive) != 0 &&
                name.compare(QLatin1String("Book"), Qt::CaseInsensitive) != 0)
                continue;
            if (size >= u32(0x38))
                return chain(start, size);
            return miniStream(start, size, rootStart, rootSize);
        }
        return {};
    }

private:
    quint16 u16(qint64 at) const { return qFromLittleEndian<quint16>(m_file.data() + at); }
    quint32 u32(qint64 at) const { return qFromLittleEndian<quint32>(m_file.data() + at); }

    bool readFat() {
        const quint32 fatSectors = u32(0x2C);
        if (fatSectors > quint64(m_sectorCount))
            return false;
        std::vector<quint32> fatIds;
        for (int i = 0; i < 109 && fatIds.size() < fatSectors; ++i)
            fatIds.push_back(u32(0x4C + 4 * i));
        quint32 difat = u32(0x44);
        const qint64 perDifat = m_sectorSize / 4 - 1;
        for (qint64 steps = 0; fatIds.size() < fatSectors && difat <= kLastRegularSector; ++steps) {
            if (steps > m_sectorCount || !sectorInFile(difat))
                return false;
            const qint64 base = (qint64(difat) + 1) * m_sectorSize;
            for (qint64 i = 0; i < perDifat && fatIds.size() < fatSectors; ++i)
                fatIds.push_back(u32(base + 4 * i));
            difat = u32(base + 4 * perDifat);
        }
        if (fatIds.size() < fatSectors)
            return false;
        m_fat.reserve(fatIds.size() * (m_sectorSize / 4));
        for (quint32 id : fatIds) {
            if (!sectorInFile(id))
                return false;
            const qint64 base = (qint64(id) + 1) * m_sectorSize;
            for (qint64 i = 0; i < m_sectorSize / 4; ++i)
                m_fat.push_back(u32(base + 4 * i));
        }
        return true;
    }

    bool sectorInFile(quint32 id) const { return (qint64(id) + 2) * m_sectorSize <= m_file.size(); }

    // The bytes of a chain of regular sectors, cut to size (size -1: the whole chain).
    std::optional<QByteArray> chain(quint32 start, qint64 size) const {
        QByteArray bytes;
        quint32 sector = start;
        for (qint64 steps = 0; sector != kEndOfChain && (size < 0 || bytes.size() < size); ++steps) {
            if (sector > kLastRegularSector || sector >= m_fat.size() || steps > qint64(m_fat.size()))
                return {};
            const qint64 base = (qint64(sector) + 1) * m_sectorSize;
            // A short last sector is tolerated, as long as it holds what the stream needs.
            const qint64 available = qMin(m_sectorSize, m_file.size() - base);
            if (available <= 0)
                return {};
            bytes.append(m_file.data() + base, available);
            sector = m_fat[sector];
        }
        if (size >= 0) {
            if (bytes.size() < size)
                return {};
            bytes.truncate(size);
        }
        return bytes;
    }

    std::optional<QByteArray> miniStream(quint32 start, qint64 size, quint32 rootStart,
                                         qint64 rootSize) const {
        const auto container = chain(rootStart, rootSize);
        const auto miniFatBytes = chain(u32(0x3C), -1);
        if (!container || !miniFatBytes)
            return {};
        const qint64 miniSize = qint64(1) << qMin<quint16>(u16(0x20), 12);
        const qint64 entries = miniFatBytes->size() / 4;
        QByteArray bytes;
        quint32 sector = start;
        for (qint64 steps = 0; bytes.size() < size; ++steps) {
            if (sector >= entries || steps > entries || (qint64(sector) + 1) * miniSize > container->size())
                return {};
            bytes.append(container->constData() + qint64(sector) * miniSize, miniSize);
            sector = qFromLittleEndian<quint32>(miniFatBytes->constData() + 4 * qint64(sector));
        }
        bytes.truncate(size);
        return bytes;
    }

    QByteArrayView m_file;
    qint64 m_sectorSize = 512;
    qint64 m_sectorCount = 0;
    std::vector<quint32> m_fat;
};

} // namespace

namespace {

struct Record {
    quint16 type;
    QByteArrayView body;
};

// The records of a stream from offset on, one by one.
class Records {
public:
    Records(const QByteArray& stream, qsizetype offset) : m_stream(stream), m_at(offset) {}
    bool next(Record& record) {
        if (m_at < 0 || m_at + 4 > m_stream.size())
            return false;
        const char* data = m_stream.constData() + m_at;
        const quint16 length = qFromLittleEndian<quint16>(data + 2);
        if (m_at + 4 + length > m_stream.size())
            return false;
        record = {qFromLittleEndian<quint16>(data), QByteArrayView(data + 4, length)};
        m_at += 4 + length;
        return true;
    }

private:
    const QByteArray& m_stream;
    qsizetype m_at;
};

constexpr quint16 kBof = 0x0809; // BIFF5 and BIFF8
constexpr quint16 kEof = 0x000A;
constexpr quint16 kBoundSheet = 0x0085;
constexpr quint16 kFormat = 0x041E;
constexpr quint16 kXf = 0x00E0;
constexpr quint16 kNumber = 0x0203;
constexpr quint16 kRk = 0x027E;
constexpr quint16 kMulRk = 0x00BD;
constexpr quint16 kBoolErr = 0x0205;

quint16 u16(QByteArrayView body, qsizetype at) {
    return qFromLittleEndian<quint16>(body.data() + at);
}

double rkValue(quint32 rk) {
    double value = 0;
    if (rk & 0x02) {
        value = double(qint32(rk) >> 2);
    } else {
        const quint64 bits = quint64(rk & 0xFFFFFFFCu) << 32;
        std::memcpy(&value, &bits, sizeof value);
    }
    return (rk & 0x01) ? value / 100 : value;
}

QString errorText(quint8 code) {
    switch (code) {
    case 0x00:
        return QStringLiteral("#NULL!");
    case 0x07:
        return QStringLiteral("#DIV/0!");
    case 0x0F:
        return QStringLiteral("#VALUE!");
    case 0x17:
        return QStringLiteral("#REF!");
    case 0x1D:
        return QStringLiteral("#NAME?");
    case 0x24:
        return QStringLiteral("#NUM!");
    case 0x2A:
        return QStringLiteral("#N/A");
    default:
        return {};
    }
}

// A FORMAT record's code; characters beyond ASCII, which are no format codes, as '?'.
std::string formatCode(QByteArrayView body, bool biff8) {
    std::string code;
    if (biff8) {
        if (body.size() < 5)
            return code;
        const qsizetype count = u16(body, 2);
        const bool wide = body[4] & 0x01;
        if (5 + count * (wide ? 2 : 1) > body.size())
            return code;
        for (qsizetype i = 0; i < count; ++i) {
            const quint16 c = wide ? u16(body, 5 + 2 * i) : quint8(body[5 + i]);
            code += c < 0x80 ? char(c) : '?';
        }
    } else {
        if (body.size() < 3 || 3 + quint8(body[2]) > body.size())
            return code;
        for (qsizetype i = 0; i < quint8(body[2]); ++i) {
            const auto c = quint8(body[3 + i]);
            code += c < 0x80 ? char(c) : '?';
        }
    }
    return code;
}

} // namespace

std::optional<BiffSummary> scanBiff(QByteArrayView file) {
    const auto stream = Container(file).workbookStream();
    if (!stream)
        return {};
    BiffSummary summary;
    std::vector<quint32> sheetOffsets;
    std::vector<quint16> xfFormats;     // the format of each cell format, by index
    std::map<int, uint8_t> customKinds; // date kinds of the workbook's own formats
    bool globals = true, biff8 = true, first = true;
    Records records(*stream, 0);
    for (Record r; records.next(r);) {
        const QByteArrayView body = r.body;
        if (r.type == 0x0200 && body.size() >= 14) { // DIMENSION, BIFF8: rows as 32 bits
            summary.declaredCells +=
                qint64(qFromLittleEndian<quint32>(body.data() + 4)) * u16(body, 10);
        } else if (r.type == 0x0200 && body.size() >= 10) { // BIFF5 and older
            summary.declaredCells += qint64(u16(body, 2)) * u16(body, 6);
        } else if (r.type == 0x0006) { // FORMULA
            ++summary.formulas;
        }
        if (first) {
            first = false;
            globals = r.type == kBof && body.size() >= 2;
            biff8 = globals && u16(body, 0) == 0x0600;
            continue;
        }
        if (!globals)
            continue;
        if (r.type == kEof)
            globals = false;
        else if (r.type == kBoundSheet && body.size() >= 6)
            sheetOffsets.push_back(qFromLittleEndian<quint32>(body.data()));
        else if (r.type == kXf && body.size() >= 4)
            xfFormats.push_back(u16(body, 2));
        else if (r.type == kFormat && body.size() >= 2)
            customKinds[u16(body, 0)] = numberformat::customDateKind(formatCode(body, biff8));
    }

    const auto elapsed = [&](quint16 xf) {
        if (xf >= xfFormats.size())
            return false;
        const auto custom = customKinds.find(xfFormats[xf]);
        const uint8_t kind =
            custom != customKinds.end() ? custom->second : numberformat::builtinDateKind(xfFormats[xf]);
        return (kind & numberformat::Elapsed) != 0;
    };
    for (quint32 offset : sheetOffsets) {
        std::vector<BiffCellText>& cells = summary.cellTexts.emplace_back();
        const auto addElapsed = [&cells](quint16 row, quint16 column, double days) {
            QString text = elapsedTimeText(days);
            if (!text.isEmpty())
                cells.push_back({row, column, std::move(text)});
        };
        Records sheet(*stream, qsizetype(offset));
        int depth = 0;
        for (Record r; sheet.next(r);) {
            const QByteArrayView body = r.body;
            if (r.type == kBof) {
                ++depth; // an embedded chart has a stream of its own inside the sheet's
                continue;
            }
            if (depth == 0)
                break; // the sheet list pointed elsewhere than at a sheet
            if (r.type == kEof) {
                if (--depth == 0)
                    break;
                continue;
            }
            if (depth != 1 || body.size() < 6)
                continue;
            const quint16 row = u16(body, 0), column = u16(body, 2), xf = u16(body, 4);
            if (r.type == kBoolErr && body.size() >= 8) {
                const auto value = quint8(body[6]);
                const QString text = body[7] == 0 ? QString::fromLatin1(value ? "TRUE" : "FALSE")
                                                  : errorText(value);
                if (!text.isEmpty())
                    cells.push_back({row, column, text});
            } else if (r.type == kNumber && body.size() >= 14 && elapsed(xf)) {
                double value = 0;
                const quint64 bits = qFromLittleEndian<quint64>(body.data() + 6);
                std::memcpy(&value, &bits, sizeof value);
                addElapsed(row, column, value);
            } else if (r.type == kRk && body.size() >= 10 && elapsed(xf)) {
                addElapsed(row, column, rkValue(qFromLittleEndian<quint32>(body.data() + 6)));
            } else if (r.type == kMulRk) {
                // the first column, then six bytes per cell (format, value), then the last column
                quint16 c = column;
                for (qsizetype at = 4; at + 6 <= body.size() - 2; at += 6, ++c)
                    if (elapsed(u16(body, at)))
                        addElapsed(row, c, rkValue(qFromLittleEndian<quint32>(body.data() + at + 2)));
            }
        }
    }
    return summary;
}
