#include "platform/appprobe.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <unistd.h>

namespace {
const QStringList kSpreadsheets = {"soffice.bin", "localc", "scalc", "gnumeric", "calligrasheets", "et",
                                   "onlyoffice-desktopeditors", "DesktopEditors"};
const QStringList kWordProcessors = {"soffice.bin", "lowriter", "swriter", "abiword", "calligrawords", "wps",
                                     "onlyoffice-desktopeditors", "DesktopEditors"};
const QStringList kMailClients = {"thunderbird", "thunderbird-bin", "evolution", "kmail", "claws-mail",
                                  "geary", "sylpheed", "balsa", "betterbird"};
} // namespace

QStringList ProcessAppProbe::runningCommandNames(const QString& procRoot)
{
    QStringList names;
    const QDir proc(procRoot);
    const QStringList entries = proc.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& entry : entries) {
        bool isPid = false;
        entry.toLongLong(&isPid);
        if (!isPid)
            continue;
        const QFileInfo process(proc.filePath(entry));
        if (!process.isDir() || process.ownerId() != ::getuid())
            continue;
        QFile comm(proc.filePath(entry + QStringLiteral("/comm")));
        if (comm.open(QIODevice::ReadOnly))
            names << QString::fromLocal8Bit(comm.readAll()).trimmed();
        QFile cmdline(proc.filePath(entry + QStringLiteral("/cmdline")));
        if (cmdline.open(QIODevice::ReadOnly)) {
            const QByteArray args = cmdline.read(4096);
            const QByteArray argv0 = args.left(args.indexOf('\0'));
            if (!argv0.isEmpty())
                names << QFileInfo(QString::fromLocal8Bit(argv0)).fileName();
        }
    }
    return names;
}

bool ProcessAppProbe::anyMatches(const QStringList& names, const QStringList& wanted)
{
    for (const QString& name : names)
        if (wanted.contains(name))
            return true;
    return false;
}

bool ProcessAppProbe::spreadsheetRunning() const
{
    return anyMatches(runningCommandNames(m_procRoot), kSpreadsheets);
}
bool ProcessAppProbe::wordProcessorRunning() const
{
    return anyMatches(runningCommandNames(m_procRoot), kWordProcessors);
}
bool ProcessAppProbe::mailClientRunning() const { return anyMatches(runningCommandNames(m_procRoot), kMailClients); }
