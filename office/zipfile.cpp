#include "office/zipfile.h"

#include "office/workbook.h"

#include <QFile>

#include <cstring>

namespace {

QString zipErrorText(int code) {
    zip_error_t error;
    zip_error_init_with_code(&error, code);
    QString text = QString::fromUtf8(zip_error_strerror(&error));
    zip_error_fini(&error);
    return text;
}

QString sizeText(qint64 bytes) {
    if (bytes >= (qint64(1) << 30))
        return QStringLiteral("%1 GiB").arg(double(bytes) / double(qint64(1) << 30), 0, 'f', 1);
    return QStringLiteral("%1 MiB").arg(double(bytes) / double(1 << 20), 0, 'f', 1);
}

} // namespace

ZipArchive::ZipArchive(const QString& path) {
    int code = 0;
    m_zip.reset(zip_open(QFile::encodeName(path).constData(), ZIP_RDONLY, &code));
    if (!m_zip) {
        if (code == ZIP_ER_NOZIP || code == ZIP_ER_INCONS)
            throw WorkbookError(
                QStringLiteral("the file is not a workbook package (%1)").arg(zipErrorText(code)));
        throw WorkbookError(QStringLiteral("cannot open the file (%1)").arg(zipErrorText(code)));
    }
}

qint64 ZipArchive::entryCount() const {
    return zip_get_num_entries(m_zip.get(), 0);
}

QString ZipArchive::entryName(qint64 index) const {
    return QString::fromUtf8(zip_get_name(m_zip.get(), zip_uint64_t(index), 0));
}

qint64 ZipArchive::indexOf(const QString& name) const {
    const QByteArray utf8 = name.toUtf8();
    zip_int64_t index = zip_name_locate(m_zip.get(), utf8.constData(), 0);
    if (index < 0)
        index = zip_name_locate(m_zip.get(), utf8.constData(), ZIP_FL_NOCASE);
    return index;
}

QByteArray ZipArchive::read(const QString& name, qint64 limit) const {
    ZipEntryStream stream(*this, name, limit);
    QByteArray data;
    for (;;) {
        const qsizetype used = data.size();
        data.resize(used + 256 * 1024);
        const qint64 got = stream.read(data.data() + used, 256 * 1024);
        data.resize(used + got);
        if (got == 0)
            return data;
    }
}

ZipEntryStream::ZipEntryStream(const ZipArchive& archive, const QString& name, qint64 limit)
    : m_name(name), m_limit(std::min(limit, ZipArchive::entryLimit)) {
    const qint64 index = archive.indexOf(name);
    if (index < 0)
        throw WorkbookError(QStringLiteral("part %1 is missing from the package").arg(name));
    zip_stat_t st;
    zip_stat_init(&st);
    if (zip_stat_index(archive.handle(), zip_uint64_t(index), 0, &st) != 0)
        throw WorkbookError(QStringLiteral("part %1 cannot be read (%2)")
                                .arg(name, QString::fromUtf8(zip_strerror(archive.handle()))));
    if (st.valid & ZIP_STAT_SIZE) {
        m_declared = qint64(std::min<zip_uint64_t>(st.size, zip_uint64_t(1) << 62));
        if (m_declared > m_limit)
            throw WorkbookError(QStringLiteral("part %1 would inflate to %2, beyond the limit of %3")
                                    .arg(name, sizeText(m_declared), sizeText(m_limit)));
    }
    m_file.reset(zip_fopen_index(archive.handle(), zip_uint64_t(index), 0));
    if (!m_file)
        throw WorkbookError(QStringLiteral("part %1 cannot be read (%2)")
                                .arg(name, QString::fromUtf8(zip_strerror(archive.handle()))));
}

qint64 ZipEntryStream::read(char* buffer, qint64 size) {
    if (!m_file)
        return 0;
    const zip_int64_t got = zip_fread(m_file.get(), buffer, zip_uint64_t(size));
    if (got < 0) {
        const QString cause = QString::fromUtf8(zip_file_strerror(m_file.get()));
        m_file.reset();
        throw WorkbookError(QStringLiteral("part %1 is damaged (%2)").arg(m_name, cause));
    }
    m_total += got;
    // The declared size may lie; what actually comes out is what counts.
    if (m_total > m_limit || (m_declared >= 0 && m_total > m_declared)) {
        m_file.reset();
        throw WorkbookError(QStringLiteral("part %1 inflates beyond its declared size or the limit of %2")
                                .arg(m_name, sizeText(m_limit)));
    }
    if (got == 0)
        m_file.reset();
    return got;
}

namespace {
constexpr size_t prefetchPiece = 256 * 1024;
constexpr size_t prefetchDepth = 4;
} // namespace

ZipPrefetchStream::ZipPrefetchStream(const ZipArchive& archive, const QString& name, qint64 limit)
    : m_stream(archive, name, limit), m_thread([this] { produce(); }) {}

ZipPrefetchStream::~ZipPrefetchStream() {
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_changed.notify_all();
    m_thread.join();
}

void ZipPrefetchStream::produce() {
    try {
        for (;;) {
            std::vector<char> piece(prefetchPiece);
            qint64 filled = 0;
            while (filled < qint64(piece.size())) {
                const qint64 got = m_stream.read(piece.data() + filled, qint64(piece.size()) - filled);
                if (got == 0)
                    break;
                filled += got;
            }
            piece.resize(size_t(filled));
            const bool last = filled == 0;
            std::unique_lock lock(m_mutex);
            m_changed.wait(lock, [this] { return m_stop || m_ready.size() < prefetchDepth; });
            if (m_stop)
                return;
            m_ready.push_back(std::move(piece));
            m_changed.notify_all();
            if (last)
                return;
        }
    } catch (...) {
        std::lock_guard lock(m_mutex);
        m_error = std::current_exception();
        m_changed.notify_all();
    }
}

qint64 ZipPrefetchStream::read(char* buffer, qint64 size) {
    while (m_offset == m_current.size()) {
        if (m_done)
            return 0;
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] { return m_error || !m_ready.empty(); });
        if (m_ready.empty())
            std::rethrow_exception(m_error);
        m_current = std::move(m_ready.front());
        m_ready.pop_front();
        m_offset = 0;
        m_done = m_current.empty();
        m_changed.notify_all();
    }
    const size_t n = std::min(size_t(size), m_current.size() - m_offset);
    std::memcpy(buffer, m_current.data() + m_offset, n);
    m_offset += n;
    return qint64(n);
}
