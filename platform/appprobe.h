#pragma once
#include <QStringList>

// Tells whether an office program of a kind is running. Runs refuse to start while a spreadsheet
// program is open, because the user may be editing the very workbook the run reads or writes.
class AppProbe {
public:
    virtual ~AppProbe() = default;
    virtual bool spreadsheetRunning() const = 0;
    virtual bool wordProcessorRunning() const = 0;
    virtual bool mailClientRunning() const = 0;
};

// Looks through /proc for the command names of known desktop programs run by the current user
// (a program another user runs on the same machine cannot be holding this user's workbook open,
// just as another session's windows are not seen on the desktop).
class ProcessAppProbe : public AppProbe {
public:
    explicit ProcessAppProbe(QString procRoot = QStringLiteral("/proc")) : m_procRoot(std::move(procRoot)) {}

    bool spreadsheetRunning() const override;
    bool wordProcessorRunning() const override;
    bool mailClientRunning() const override;

    // The command names (as /proc/<pid>/comm and the base name of argv[0] give them) of every
    // process, and the test of such a list; exposed for tests.
    static QStringList runningCommandNames(const QString& procRoot = QStringLiteral("/proc"));
    static bool anyMatches(const QStringList& names, const QStringList& wanted);

private:
    QString m_procRoot;
};
