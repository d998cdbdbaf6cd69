#include "merge/common/pathcheck.h"

#include "platform/blanks.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

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
    return inputFileProblem(path).isEmpty();
}

QString inputFileProblem(const QString& path) {
    const QFileInfo info(path);
    if (path.isEmpty())
        return QStringLiteral("no file named");
    if (!info.exists())
        return QStringLiteral("%1 does not exist").arg(path);
    if (info.isDir())
        return QStringLiteral("%1 is a folder, not a file").arg(path);
    if (!info.isFile())
        return QStringLiteral("%1 is not a regular file").arg(path);
    return {};
}

QString outputFileProblem(const QString& path) {
    if (path.isEmpty())
        return QStringLiteral("no output file named");
    const QFileInfo info(QFileInfo(path).absoluteFilePath());
    if (info.isDir())
        return QStringLiteral("%1 is a folder").arg(path);
    const QString folder = info.absolutePath();
    const QFileInfo folderInfo(folder);
    if (!folderInfo.exists())
        return QStringLiteral("the folder %1 does not exist").arg(folder);
    if (!folderInfo.isDir())
        return QStringLiteral("%1 is not a folder").arg(folder);
    // The result is written beside the output and renamed into place: the folder must take a new
    // file, whatever the old output's own permissions.
    if (::access(QFile::encodeName(folder).constData(), W_OK | X_OK) != 0)
        return QStringLiteral("the folder %1 cannot be written: %2")
            .arg(folder, QString::fromLocal8Bit(std::strerror(errno)));
    return {};
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
    // Hard links share no name, only their inode.
    struct stat first {};
    struct stat second {};
    if (::stat(QFile::encodeName(a).constData(), &first) == 0 &&
        ::stat(QFile::encodeName(b).constData(), &second) == 0 && first.st_dev == second.st_dev &&
        first.st_ino == second.st_ino)
        return true;
    return resolvedPath(a).compare(resolvedPath(b), Qt::CaseInsensitive) == 0;
}

QString fileNameFromValue(const QString& value) {
    QString name = trimBlanks(value);
    static const QString unsafe = QStringLiteral("/\\:*?\"<>|");
    bool leading = true;
    for (QChar& c : name) {
        const char16_t u = c.unicode();
        if (leading && (u == u'.' || u == u' ')) {
            c = u'_';
            continue;
        }
        leading = false;
        // The direction overrides and isolates could make "txt.exe" read as "exe.txt".
        if (unsafe.contains(c) || c.category() == QChar::Other_Control || (u >= 0x202A && u <= 0x202E) ||
            (u >= 0x2066 && u <= 0x2069))
            c = u'_';
    }
    // Cut between characters, never inside a surrogate pair.
    qsizetype end = 0;
    for (int characters = 0; end < name.size() && characters < 120; ++characters)
        end += name.at(end).isHighSurrogate() && end + 1 < name.size() ? 2 : 1;
    name.truncate(end);
    while (name.toUtf8().size() > 240)
        name.chop(name.size() >= 2 && name.at(name.size() - 1).isLowSurrogate() ? 2 : 1);
    return name;
}
