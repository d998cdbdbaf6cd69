#pragma once
#include <QByteArray>
#include <QString>

#include <zip.h>

#include <condition_variable>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

struct ZipDiscard {
    void operator()(zip_t* zip) const { zip_discard(zip); }
};
struct ZipFileClose {
    void operator()(zip_file_t* file) const { zip_fclose(file); }
};
struct ZipSourceFree {
    void operator()(zip_source_t* source) const { zip_source_free(source); }
};
using ZipPtr = std::unique_ptr<zip_t, ZipDiscard>;
using ZipFilePtr = std::unique_ptr<zip_file_t, ZipFileClose>;
using ZipSourcePtr = std::unique_ptr<zip_source_t, ZipSourceFree>;

// A zip package opened for reading. Every entry is read with a cap on what it inflates to, so
// that a small file cannot make the program allocate or work without bound. Errors throw
// WorkbookError.
class ZipArchive {
public:
    // Larger entries are refused whatever they claim.
    static constexpr qint64 entryLimit = qint64(1) << 30;

    explicit ZipArchive(const QString& path);

    zip_t* handle() const { return m_zip.get(); }
    qint64 entryCount() const;
    QString entryName(qint64 index) const;
    // -1 when absent. Part names are compared without regard to case, as packages require.
    qint64 indexOf(const QString& name) const;
    // The whole entry; limit caps what it may inflate to.
    QByteArray read(const QString& name, qint64 limit = entryLimit) const;

private:
    ZipPtr m_zip;
};

// Reads one entry piece by piece, so that a large part is never held whole.
class ZipEntryStream {
public:
    ZipEntryStream(const ZipArchive& archive, const QString& name, qint64 limit = ZipArchive::entryLimit);
    // Bytes read into buffer, 0 at the end of the entry.
    qint64 read(char* buffer, qint64 size);

private:
    QString m_name;
    ZipFilePtr m_file;
    qint64 m_limit;
    qint64 m_declared = -1; // unknown
    qint64 m_total = 0;
};

// Reads an entry like ZipEntryStream while a second thread inflates the pieces ahead, so that
// inflating and reading what came out overlap. The archive must not be used otherwise until this
// is gone.
class ZipPrefetchStream {
public:
    ZipPrefetchStream(const ZipArchive& archive, const QString& name, qint64 limit = ZipArchive::entryLimit);
    ~ZipPrefetchStream();
    ZipPrefetchStream(const ZipPrefetchStream&) = delete;
    ZipPrefetchStream& operator=(const ZipPrefetchStream&) = delete;
    // As ZipEntryStream::read; an error met by the other thread is thrown here.
    qint64 read(char* buffer, qint64 size);

private:
    void produce();

    ZipEntryStream m_stream;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<std::vector<char>> m_ready; // an empty piece marks the end
    std::exception_ptr m_error;
    bool m_stop = false;
    std::vector<char> m_current;
    size_t m_offset = 0;
    bool m_done = false;
    std::thread m_thread;
};
