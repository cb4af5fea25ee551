#include "ui/app/single_instance.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

// Takes an exclusive lock on an open descriptor: true when taken (the descriptor is
// kept in `held`), false when another process holds it; any other failure counts as
// taken with nothing held, so a lock that is impossible never keeps the user out.
bool lockOrClose(int fd, int& held) {
    if (fd < 0)
        return true;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const bool busy = errno == EWOULDBLOCK;
        ::close(fd);
        return !busy;
    }
    held = fd;
    return true;
}

} // namespace

SingleInstance::~SingleInstance() {
    release();
}

void SingleInstance::release() {
    for (int* fd : {&m_fd, &m_folderFd}) {
        if (*fd >= 0)
            ::close(*fd);
        *fd = -1;
    }
}

QString SingleInstance::defaultLockPath() {
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QFileInfo(runtime).isDir())
        return runtime + QStringLiteral("/Tomeria.lock");
    return QStringLiteral("/tmp/Tomeria-%1.lock").arg(::getuid());
}

bool SingleInstance::acquire(const QString& lockPath) {
    if (m_fd >= 0)
        return true;
    const QByteArray path = QFile::encodeName(lockPath);
    return lockOrClose(::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600), m_fd);
}

bool SingleInstance::acquireFolder(const QString& folder) {
    if (m_folderFd >= 0)
        return true;
    const QByteArray path = QFile::encodeName(folder);
    return lockOrClose(::open(path.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC), m_folderFd);
}
