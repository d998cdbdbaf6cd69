#include "merge/common/pathcheck.h"

#include <QDir>
#include <QFileInfo>

QString fileExtension(const QString& path) {
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    const qsizetype dot = path.lastIndexOf(QLatin1Char('.'));
    return dot > slash ? path.mid(dot) : QString();
}

QString withAcceptedExtension(const QString& path, const QStringList& accepted, const QString& appended) {
    const QString extension = fileExtension(path);
    for (const QString& candidate : accepted) {
        if (extension.compare(candidate, Qt::CaseInsensitive) == 0)
            return path;
    }
    return path + appended;
}

bool isExistingFile(const QString& path) {
    if (path.isEmpty())
        return false;
    const QFileInfo info(path);
    return info.exists() && info.isFile();
}

namespace {
// The path a file is known by once "." and "..", relative parts and links are gone. A file that
// does not exist yet (the usual output) still resolves its folder, so a link to the folder of an
// input is seen through.
QString resolvedPath(const QString& path) {
    const QFileInfo info(QDir::cleanPath(QFileInfo(path).absoluteFilePath()));
    const QString canonical = info.canonicalFilePath();
    if (!canonical.isEmpty())
        return canonical;
    const QString folder = info.dir().canonicalPath();
    if (!folder.isEmpty())
        return folder + QLatin1Char('/') + info.fileName();
    return info.filePath();
}
} // namespace

bool sameFile(const QString& a, const QString& b) {
    if (a.isEmpty() || b.isEmpty())
        return false;
    return resolvedPath(a).compare(resolvedPath(b), Qt::CaseInsensitive) == 0;
}
