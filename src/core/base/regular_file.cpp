#include "core/base/regular_file.h"

#include "core/base/folder_anchor.h"
#include "core/base/tomeria_error.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace RegularFile {

namespace {

class Descriptor {
public:
    explicit Descriptor(int fd) : m_fd(fd) {}
    ~Descriptor() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return m_fd; }
    int release() {
        const int fd = m_fd;
        m_fd = -1;
        return fd;
    }

private:
    int m_fd;
};

// Opens `path` for reading after judging it twice, by its name and by what was opened.
Status openChecked(const QString& path, qint64 maxSize, int& out) {
    out = -1;
    if (path.isEmpty() || path.contains(QChar(0)))
        return Status::CannotOpen;
    // A path inside the library folder is read from that folder, wherever it is now.
    const AnchoredPath at(path);
    struct stat st {};
    // Judged by its kind before it is opened: opening a FIFO for reading waits for a
    // writer, and opening some devices has effects of its own.
    if (!at.stat(st) || S_ISDIR(st.st_mode))
        return Status::CannotOpen;
    if (!S_ISREG(st.st_mode))
        return Status::NotRegular;
    // Judged again on what was opened, in case the name was swapped in between;
    // O_NONBLOCK keeps even that open from waiting.
    Descriptor fd(at.open(O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (fd.get() < 0)
        return Status::CannotOpen;
    if (::fstat(fd.get(), &st) != 0)
        return Status::ReadFailed;
    if (S_ISDIR(st.st_mode))
        return Status::CannotOpen;
    if (!S_ISREG(st.st_mode))
        return Status::NotRegular;
    if (st.st_size > maxSize)
        return Status::TooLarge;
    out = fd.release();
    return Status::Read;
}

} // namespace

Status open(const QString& path, qint64 maxSize, QFile& file) {
    int fd = -1;
    const Status status = openChecked(path, maxSize, fd);
    if (status != Status::Read)
        return status;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return Status::CannotOpen;
    }
    return Status::Read;
}

Status read(const QString& path, qint64 maxSize, QByteArray& data) {
    int opened = -1;
    const Status status = openChecked(path, maxSize, opened);
    if (status != Status::Read)
        return status;
    const Descriptor fd(opened);
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0)
        return Status::ReadFailed;

    // A file that grows while it is read is read to its end, up to the limit.
    QByteArray bytes(qsizetype(st.st_size), Qt::Uninitialized);
    qsizetype filled = 0;
    for (;;) {
        if (filled == bytes.size()) {
            if (bytes.size() >= maxSize + 1)
                return Status::TooLarge;
            bytes.resize(qsizetype(std::min<qint64>(maxSize + 1, bytes.size() + 65536)));
        }
        const ssize_t n = ::read(fd.get(), bytes.data() + filled, size_t(bytes.size() - filled));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return Status::ReadFailed;
        if (n == 0)
            break;
        filled += n;
    }
    if (filled > maxSize)
        return Status::TooLarge;
    bytes.truncate(filled);
    data = std::move(bytes);
    return Status::Read;
}

QString tooLargeMessage(const QString& path) {
    return QStringLiteral("Файл %1 слишком велик: Tomeria открывает файлы размером до %2 МБ")
        .arg(AnchoredPath::current(path))
        .arg(kMaxSize / (1024 * 1024));
}

QByteArray readBook(const QString& path) {
    QByteArray data;
    switch (read(path, kMaxSize, data)) {
    case Status::Read:
        return data;
    case Status::TooLarge:
        throw TomeriaError(tooLargeMessage(path));
    case Status::ReadFailed:
        throw TomeriaError(QStringLiteral("Failed to Load Stream"));
    default:
        throw TomeriaError(QStringLiteral("Cannot open file %1").arg(AnchoredPath::current(path)));
    }
}

} // namespace RegularFile
