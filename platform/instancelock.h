#pragma once
#include <QString>

// Marks this process as the running instance: an exclusive flock on a file in the runtime folder.
// The kernel releases it when the process ends, however it ends.
class InstanceLock {
public:
    explicit InstanceLock(const QString& name = QStringLiteral("RunOnlyOneTallyweave"));
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    // False when another process holds the lock or the lock file cannot be made.
    bool acquired() const { return m_fd >= 0; }
    static QString lockFilePath(const QString& name);

private:
    int m_fd = -1;
};
