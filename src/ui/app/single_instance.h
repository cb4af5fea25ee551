#pragma once

#include <QString>

// The one-copy-per-session rule: an exclusive lock on Tomeria.lock in the user's
// runtime folder (or /tmp/Tomeria-<uid>.lock). The lock is held until the process
// ends, so a copy that crashed never blocks the next start.
class SingleInstance {
public:
    SingleInstance() = default;
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;
    ~SingleInstance();

    // True when this process now holds the lock; false when another copy holds it.
    bool acquire(const QString& lockPath = defaultLockPath());
    static QString defaultLockPath();

private:
    int m_fd = -1;
};
