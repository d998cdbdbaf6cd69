#pragma once
// What the fuzz targets share: a private scratch folder, input written to a file in it, and a
// check that stops the run with the reason when an invariant breaks.
#include "office/officeconvert.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QList>
#include <QString>
#include <QTemporaryDir>

#include <zip.h>

#include <cstdio>
#include <cstdlib>

namespace fuzz {

// Prints why and aborts, so that the fuzzer keeps the input as a crash.
[[noreturn]] inline void fail(const char* what, const QString& detail = {}) {
    std::fprintf(stderr, "fuzz check failed: %s\n%s\n", what, qPrintable(detail));
    std::abort();
}

inline void check(bool condition, const char* what, const QString& detail = {}) {
    if (!condition)
        fail(what, detail);
}

// One folder for the whole run, removed at exit.
inline QTemporaryDir& scratch() {
    static QTemporaryDir dir(QDir::tempPath() + QStringLiteral("/tw-fuzz-XXXXXX"));
    if (!dir.isValid())
        fail("no scratch folder", dir.errorString());
    return dir;
}

inline QString writeInput(const QString& name, const uint8_t* data, size_t size) {
    const QString path = scratch().filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)
        || file.write(reinterpret_cast<const char*>(data), qint64(size)) != qint64(size))
        fail("cannot write the input", path);
    return path;
}

// The input cut at NUL bytes into at most count fields (missing ones are empty), the last one
// keeping the rest.
inline QList<QByteArray> fields(const uint8_t* data, size_t size, int count) {
    QList<QByteArray> out;
    const QByteArray all(reinterpret_cast<const char*>(data), qsizetype(size));
    qsizetype from = 0;
    while (out.size() < count - 1) {
        const qsizetype nul = all.indexOf('\0', from);
        if (nul < 0)
            break;
        out.append(all.mid(from, nul - from));
        from = nul + 1;
    }
    out.append(all.mid(from));
    while (out.size() < count)
        out.append(QByteArray());
    return out;
}

// A package of stored parts written at path, for inputs that are one part's XML: mutations then
// reach the markup instead of dying in the compressed stream.
inline void writePackage(const QString& path, const QList<std::pair<const char*, QByteArray>>& parts) {
    QFile::remove(path);
    int code = 0;
    zip_t* zip = zip_open(QFile::encodeName(path).constData(), ZIP_CREATE | ZIP_TRUNCATE, &code);
    if (!zip)
        fail("cannot create the package", path);
    for (const auto& [name, bytes] : parts) {
        zip_source_t* source = zip_source_buffer(zip, bytes.constData(), zip_uint64_t(bytes.size()), 0);
        const zip_int64_t index = source ? zip_file_add(zip, name, source, ZIP_FL_OVERWRITE) : -1;
        if (index < 0) {
            zip_source_free(source);
            zip_discard(zip);
            fail("cannot add a part", QString::fromLatin1(name));
        }
        zip_set_file_compression(zip, zip_uint64_t(index), ZIP_CM_STORE, 0);
    }
    if (zip_close(zip) != 0) {
        zip_discard(zip);
        fail("cannot write the package", path);
    }
}

// Nothing launches LibreOffice from a fuzz run: the converter is looked up on PATH.
inline void withoutConverter() {
    qputenv("PATH", "/nonexistent-tallyweave-fuzz");
    if (officeConverterAvailable())
        fail("the office converter is still reachable");
}

} // namespace fuzz
