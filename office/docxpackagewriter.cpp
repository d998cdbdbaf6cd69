#include "office/docxpackagewriter.h"

#include "office/docxparts.h"
#include "office/workbook.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace docx {

namespace {


[[noreturn]] void zipFailure(const QString& path, zip_error_t* error) {
    const QString cause = QString::fromUtf8(zip_error_strerror(error));
    zip_error_fini(error);
    throw WorkbookError(QStringLiteral("cannot write %1: %2").arg(native(path), cause));
}

} // namespace

PackageWriter::PackageWriter(const QString& path, const QString& shown) : m_path(shown) {
    int code = 0;
    m_zip.reset(zip_open(QFile::encodeName(path).constData(), ZIP_CREATE | ZIP_TRUNCATE, &code));
    if (!m_zip) {
        zip_error_t error;
        zip_error_init_with_code(&error, code);
        zipFailure(shown, &error);
    }
}

PackageWriter::PackageWriter(InMemory, const QString& path) : m_path(path) {
    zip_error_t error;
    zip_error_init(&error);
    m_memory.reset(zip_source_buffer_create(nullptr, 0, 0, &error));
    if (!m_memory)
        zipFailure(path, &error);
    zip_source_keep(m_memory.get());
    m_zip.reset(zip_open_from_source(m_memory.get(), ZIP_TRUNCATE, &error));
    if (!m_zip) {
        zip_source_free(m_memory.get()); // the reference zip_open_from_source did not take
        zipFailure(path, &error);
    }
}

void PackageWriter::copy(zip_t* from, qint64 index) {
    const char* name = zip_get_name(from, zip_uint64_t(index), ZIP_FL_ENC_RAW);
    add(name, zip_source_zip(m_zip.get(), from, zip_uint64_t(index), 0, 0, -1), false);
}

void PackageWriter::copyAs(zip_t* from, qint64 index, const char* name) {
    add(name, zip_source_zip(m_zip.get(), from, zip_uint64_t(index), 0, 0, -1), false);
}

void PackageWriter::addFile(const char* name, const QString& file, qint64 offset, qint64 size) {
    add(name, zip_source_file(m_zip.get(), QFile::encodeName(file).constData(), zip_uint64_t(offset), size), true);
}

void PackageWriter::addBuffer(const char* name, const char* data, size_t size) {
    add(name, zip_source_buffer(m_zip.get(), data, size, 0), true);
}

void PackageWriter::addFile(const char* name, const QString& file) {
    add(name, zip_source_file(m_zip.get(), QFile::encodeName(file).constData(), 0, -1), true);
}

QByteArray PackageWriter::close() {
    if (zip_close(m_zip.get()) != 0)
        throw WorkbookError(QStringLiteral("cannot write %1: %2")
                                .arg(native(m_path), QString::fromUtf8(zip_strerror(m_zip.get()))));
    (void)m_zip.release(); // closed
    QByteArray bytes;
    if (!m_memory)
        return bytes;
    zip_source_t* source = m_memory.get();
    zip_stat_t st;
    zip_stat_init(&st);
    if (zip_source_stat(source, &st) != 0 || !(st.valid & ZIP_STAT_SIZE) || zip_source_open(source) != 0)
        throw WorkbookError(QStringLiteral("cannot write %1: the package in memory cannot be read").arg(native(m_path)));
    bytes.resize(qsizetype(st.size));
    const zip_int64_t got = zip_source_read(source, bytes.data(), st.size);
    zip_source_close(source);
    if (got != zip_int64_t(st.size))
        throw WorkbookError(QStringLiteral("cannot write %1: the package in memory cannot be read").arg(native(m_path)));
    return bytes;
}

void PackageWriter::add(const char* name, zip_source_t* source, bool deflate) {
    zip_int64_t index = source ? zip_file_add(m_zip.get(), name, source, ZIP_FL_OVERWRITE) : -1;
    if (source && index < 0)
        zip_source_free(source);
    // The fastest level: deflating the written parts is most of a save's work.
    if (index >= 0 && deflate && zip_set_file_compression(m_zip.get(), zip_uint64_t(index), ZIP_CM_DEFLATE, 1) != 0)
        index = -1;
    if (index < 0)
        throw WorkbookError(QStringLiteral("cannot add %1 to %2: %3")
                                .arg(QString::fromUtf8(name), native(m_path),
                                     QString::fromUtf8(zip_strerror(m_zip.get()))));
}

void writeAtomically(const QString& path, const QByteArray& bytes) {
    static unsigned serial = 0;
    const QFileInfo info(path);
    const QByteArray target = QFile::encodeName(path);
    int fd = -1;
    QByteArray temp;
    for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
        temp = QFile::encodeName(info.absoluteDir().filePath(
            QStringLiteral(".%1.%2-%3.tmp").arg(info.fileName()).arg(getpid()).arg(++serial)));
        // The mode any new file gets.
        fd = ::open(temp.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST)
            break;
    }
    if (fd < 0)
        throw WorkbookError(QStringLiteral("cannot create a file in %1: %2")
                                .arg(native(info.absolutePath()), QString::fromLocal8Bit(std::strerror(errno))));
    const char* data = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, data, size_t(left));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            break;
        data += written;
        left -= written;
    }
    const int writeError = left > 0 ? (errno ? errno : ENOSPC) : 0;
    const bool closed = ::close(fd) == 0;
    if (writeError || !closed || std::rename(temp.constData(), target.constData()) != 0) {
        const int error = writeError ? writeError : errno;
        ::unlink(temp.constData());
        throw WorkbookError(
            QStringLiteral("cannot write %1: %2").arg(native(path), QString::fromLocal8Bit(std::strerror(error))));
    }
}

} // namespace docx
