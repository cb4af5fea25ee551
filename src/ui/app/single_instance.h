#pragma once

#include <QString>

// The one-copy rules, held until the process ends (so a copy that crashed never blocks
// the next start):
// - one copy per session: an exclusive lock on Tomeria.lock in the user's runtime
//   folder (or /tmp/Tomeria-<uid>.lock);
// - one copy per library folder, whatever the session: an exclusive lock on the folder
//   itself (flock on the folder's own descriptor), so two desktop sessions never write
//   one catalogue at once and the folder holds no file but the library's own.
class SingleInstance {
public:
    SingleInstance() = default;
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;
    ~SingleInstance();

    // True when this process now holds the session lock; false when another copy holds it.
    bool acquire(const QString& lockPath = defaultLockPath());
    static QString defaultLockPath();

    // True when this process now holds the lock of the library folder; false when
    // another copy holds it. A folder that cannot be locked never keeps the user out.
    bool acquireFolder(const QString& folder);

    // Lets the next copy in at once, before this process has finished ending.
    void release();

private:
    int m_fd = -1;
    int m_folderFd = -1;
};
