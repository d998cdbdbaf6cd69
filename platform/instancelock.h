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
    // True only when another process holds the lock. A lock file that cannot be made at all (an
    // unwritable runtime folder) says nothing about other instances, and must not keep the
    // program from starting.
    bool heldElsewhere() const { return m_heldElsewhere; }
    static QString lockFilePath(const QString& name);

private:
    int m_fd = -1;
    bool m_heldElsewhere = false;
};
