#include "office/biffscan.h"

#include <QtEndian>

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

std::optional<BiffSummary> scanBiff(QByteArrayView file) {
    const auto stream = Container(file).workbookStream();
    if (!stream)
        return {};
    BiffSummary summary;
    const char* data = stream->constData();
    for (qsizetype at = 0; at + 4 <= stream->size();) {
        const quint16 type = qFromLittleEndian<quint16>(data + at);
        const quint16 length = qFromLittleEndian<quint16>(data + at + 2);
        const char* body = data + at + 4;
        if (at + 4 + length > stream->size())
            break;
        if (type == 0x0200 && length >= 14) { // DIMENSION, BIFF8: rows as 32 bits
            summary.declaredCells +=
                qint64(qFromLittleEndian<quint32>(body + 4)) * qFromLittleEndian<quint16>(body + 10);
        } else if (type == 0x0200 && length >= 10) { // BIFF5 and older
            summary.declaredCells +=
                qint64(qFromLittleEndian<quint16>(body + 2)) * qFromLittleEndian<quint16>(body + 6);
        } else if (type == 0x0006) { // FORMULA
            ++summary.formulas;
        }
        at += 4 + length;
    }
    return summary;
}
