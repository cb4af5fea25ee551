#include "core/base/safe_file.h"

#include "core/base/regular_file.h"
#include "core/base/tomeria_error.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace SafeFile {

namespace {

// Writes all of `data` to `fd`, continuing after short writes; false on the first
// failure (ENOSPC, EIO...) or when the file takes no more bytes.
bool writeAll(int fd, const QByteArray& data) {
    const char* next = data.constData();
    qsizetype left = data.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, next, size_t(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        next += n;
        left -= n;
    }
    return true;
}

// A new file of our own beside the target, removed unless it was renamed into place.
class TemporaryFile {
public:
    TemporaryFile(const QByteArray& folder, const QByteArray& name, mode_t mode) {
        for (int attempt = 0; attempt < 100 && m_fd < 0; ++attempt) {
            // Named after the target while that stays a short name, else generically.
            const QByteArray unique =
                QByteArray::number(QRandomGenerator::global()->generate(), 36) + ".tmp";
            m_path = folder + "/." + (name.size() <= 200 ? name : QByteArray("tomeria-write")) +
                     '.' + unique;
            m_fd = ::open(m_path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                          mode);
            if (m_fd < 0 && errno != EEXIST)
                break;
        }
        if (m_fd < 0)
            m_path.clear();
    }
    ~TemporaryFile() {
        closeFile();
        if (!m_path.isEmpty())
            ::unlink(m_path.constData());
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    int fd() const { return m_fd; }
    bool closeFile() {
        const int fd = m_fd;
        m_fd = -1;
        return fd < 0 || ::close(fd) == 0;
    }
    bool renameOver(const QByteArray& target) {
        if (::rename(m_path.constData(), target.constData()) != 0)
            return false;
        m_path.clear();
        return true;
    }

private:
    QByteArray m_path;
    int m_fd = -1;
};

void writeDevice(const QByteArray& native, const QByteArray& data, const QString& createError,
                 const QString& writeError) {
    const int fd = ::open(native.constData(), O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        throw TomeriaError(createError);
    const bool written = writeAll(fd, data);
    if (::close(fd) != 0 || !written)
        throw TomeriaError(writeError);
}

// Flushes a file to the disk; a file system that cannot sync (EINVAL) has nothing to flush.
bool syncFile(int fd) {
    return ::fsync(fd) == 0 || errno == EINVAL || errno == ENOTSUP;
}

} // namespace

bool permitsWriting(const QString& path) {
    const QByteArray native = QFile::encodeName(path);
    if (::access(native.constData(), W_OK) != 0)
        return false;
    struct stat st {};
    if (::stat(native.constData(), &st) != 0)
        return false;
    if (::geteuid() == 0 && (st.st_mode & S_IWUSR) == 0)
        return false;
    return true;
}

void write(const QString& path, const QByteArray& data, const QString& createError,
           const QString& writeError) {
    if (path.isEmpty() || path.contains(QChar(0)))
        throw TomeriaError(createError);
    const QFileInfo info(path);
    const QByteArray native = QFile::encodeName(info.absoluteFilePath());
    struct stat target {};
    const bool exists = ::lstat(native.constData(), &target) == 0;
    if (exists && !S_ISREG(target.st_mode) && !S_ISDIR(target.st_mode) &&
        !S_ISLNK(target.st_mode)) {
        // A device or pipe: there is nothing to rename over, write straight to it.
        writeDevice(native, data, createError, writeError);
        return;
    }
    // A folder is never replaced, nor a file marked read-only; a link is replaced, so
    // only its folder's permission counts.
    if (exists && (S_ISDIR(target.st_mode) ||
                   (S_ISREG(target.st_mode) && !permitsWriting(info.absoluteFilePath()))))
        throw TomeriaError(createError);
    const QString folder = info.absolutePath();
    if (!QFileInfo(folder).isDir() || !permitsWriting(folder))
        throw TomeriaError(createError);

    // A replaced file keeps its permission bits; a new one gets the usual 0666 less umask.
    const mode_t mode = exists && S_ISREG(target.st_mode) ? (target.st_mode & 07777) : 0666;
    TemporaryFile temporary(QFile::encodeName(folder), QFile::encodeName(info.fileName()), mode);
    if (temporary.fd() < 0)
        throw TomeriaError(createError);
    if (exists && S_ISREG(target.st_mode))
        ::fchmod(temporary.fd(), mode); // the umask must not narrow a replaced file's bits
    if (!writeAll(temporary.fd(), data) || !syncFile(temporary.fd()) || !temporary.closeFile() ||
        !temporary.renameOver(native))
        throw TomeriaError(writeError);
}

bool read(const QString& path, QByteArray& data) {
    // A FIFO or a device is never read: it would block or never end.
    return RegularFile::read(path, RegularFile::kMaxSize, data) == RegularFile::Status::Read;
}

} // namespace SafeFile
