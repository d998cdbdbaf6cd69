#pragma once
// How the document engine writes a package: a new zip entry by entry, and whole files atomically.
#include "office/zipfile.h"

#include <QByteArray>
#include <QString>

#include <cstddef>

namespace docx {

// A new package written entry by entry, to a file or into memory. Buffers and files handed in
// must outlive close().
class PackageWriter {
public:
    // Written to path by close(); causes name shown, the file the user chose, rather than the
    // temporary path written.
    PackageWriter(const QString& path, const QString& shown);
    // Kept in memory until close() hands the bytes over; path names the package in causes. A
    // small document costs a few system calls this way instead of a hundred.
    struct InMemory {};
    PackageWriter(InMemory, const QString& path);
    // The entry as stored, without inflating and deflating it again.
    void copy(zip_t* from, qint64 index);
    void copyAs(zip_t* from, qint64 index, const char* name);
    void addBuffer(const char* name, const char* data, size_t size);
    void addFile(const char* name, const QString& file);
    // size bytes of file from offset on (size > 0).
    void addFile(const char* name, const QString& file, qint64 offset, qint64 size);
    // The package's bytes when it was made in memory, else empty.
    QByteArray close();

private:
    void add(const char* name, zip_source_t* source, bool deflate);

    QString m_path;
    ZipSourcePtr m_memory; // declared before m_zip, so that the package goes first
    ZipPtr m_zip;
};

// Writes bytes atomically: a temporary file beside path, renamed to path once it is whole. Plain
// system calls: a run writes thousands of small documents, and each call more is felt.
void writeAtomically(const QString& path, const QByteArray& bytes);

} // namespace docx
