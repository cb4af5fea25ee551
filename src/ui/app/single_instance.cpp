#include "ui/app/single_instance.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

SingleInstance::~SingleInstance() {
    if (m_fd >= 0)
        ::close(m_fd);
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
    const int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return true; // no lock file possible: never keep the user out
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const bool held = errno == EWOULDBLOCK;
        ::close(fd);
        return !held;
    }
    m_fd = fd;
    return true;
}
