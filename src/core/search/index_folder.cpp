#include "core/search/index_folder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <xapian.h>

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace IndexFolder {

namespace {

// Whether a lock on the index's lock file is held by another open file: another copy
// of the program, or another writer of this one.
bool lockHeld(const QString& location) {
    const QByteArray lockFile = QFile::encodeName(location + QStringLiteral("/flintlock"));
    const int fd = ::open(lockFile.constData(), O_RDONLY | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return false;
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    // Open-file-description locks conflict with every lock on another description,
    // also one this process holds; the engine takes one kind or the other.
    const bool held = ::fcntl(fd, F_OFD_GETLK, &lock) == 0 && lock.l_type != F_UNLCK;
    ::close(fd);
    return held;
}

Problem problemOf(int error) {
    switch (error) {
    case ENOSPC:
    case EDQUOT:
        return Problem::Full;
    default:
        return Problem::ReadOnly;
    }
}

// Creates, writes and syncs a small file in `folder`; the error number says what fails.
Problem probeWrite(const QString& folder) {
    static std::atomic_int counter{0};
    const QByteArray name = QFile::encodeName(
        folder + QStringLiteral("/.probe-%1-%2").arg(::getpid()).arg(counter.fetch_add(1)));
    const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0)
        return problemOf(errno);
    Problem problem = Problem::None;
    const QByteArray block(64 * 1024, '\0');
    qsizetype written = 0;
    while (written < block.size()) {
        const ssize_t n = ::write(fd, block.constData() + written, size_t(block.size() - written));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            problem = problemOf(n < 0 ? errno : ENOSPC);
            break;
        }
        written += n;
    }
    if (problem == Problem::None && ::fsync(fd) != 0 && errno != EINVAL)
        problem = problemOf(errno);
    ::close(fd);
    ::unlink(name.constData());
    return problem;
}

} // namespace

Problem diagnose(const QString& location, bool lockFailed) {
    if (lockFailed && lockHeld(location))
        return Problem::Locked;
    QString folder = location;
    while (!folder.isEmpty() && !QFileInfo(folder).isDir()) {
        if (QFileInfo::exists(folder))
            return Problem::ReadOnly; // a file stands where a folder should be
        const QString parent = QFileInfo(folder).absolutePath();
        if (parent == folder)
            break;
        folder = parent;
    }
    return probeWrite(folder);
}

QString message(Problem problem) {
    switch (problem) {
    case Problem::None:
        break;
    case Problem::Locked:
        return QStringLiteral("указатель занят другой копией программы");
    case Problem::ReadOnly:
        return QStringLiteral("папка указателя недоступна для записи");
    case Problem::Full:
        return QStringLiteral("нет места на диске");
    }
    return {};
}

bool isDamage(const Xapian::Error& error) {
    // The engine's own kinds (its errors carry their kind's name): a damaged block, a
    // file cut short ("EOF reading block" is a plain database error), an index of an
    // unknown format, values that do not decode.
    const std::string_view kind = error.get_type();
    return kind == "DatabaseCorruptError" || kind == "DatabaseError" ||
           kind == "DatabaseVersionError" || kind == "SerialisationError" || kind == "RangeError";
}

} // namespace IndexFolder
