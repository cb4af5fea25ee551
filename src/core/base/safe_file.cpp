#include "core/base/safe_file.h"

#include "core/base/folder_anchor.h"
#include "core/base/regular_file.h"
#include "core/base/tomeria_error.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>

#include <cerrno>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace SafeFile {

namespace {

// The temporary name of a write whose target's name is too long to repeat.
constexpr char kGenericName[] = "tomeria-write";

// Writes all of `data` to `fd`, continuing after short writes; false on the first
// failure (ENOSPC, EIO...) or when the file takes no more bytes.
bool writeAll(int fd, QByteArrayView data) {
    const char* next = data.data();
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
// `folder` is the target's folder relative to `dir`.
class TemporaryFile {
public:
    TemporaryFile(int dir, const QByteArray& folder, const QByteArray& name, mode_t mode)
        : m_dir(dir) {
        for (int attempt = 0; attempt < 100 && m_fd < 0; ++attempt) {
            // Named after the target while that stays a short name, else generically.
            const QByteArray unique =
                QByteArray::number(QRandomGenerator::global()->generate(), 36) + ".tmp";
            m_path = folder + "/." + (name.size() <= 200 ? name : QByteArray(kGenericName)) + '.' +
                     unique;
            m_fd = ::openat(m_dir, m_path.constData(),
                            O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
            if (m_fd < 0 && errno != EEXIST)
                break;
        }
        if (m_fd < 0)
            m_path.clear();
    }
    ~TemporaryFile() {
        closeFile();
        if (!m_path.isEmpty())
            ::unlinkat(m_dir, m_path.constData(), 0);
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
        if (::renameat(m_dir, m_path.constData(), m_dir, target.constData()) != 0)
            return false;
        m_path.clear();
        return true;
    }

private:
    int m_dir;
    QByteArray m_path;
    int m_fd = -1;
};

void writeDevice(const AnchoredPath& target, const Producer& produce, const QString& createError,
                 const QString& writeError) {
    const int fd = target.open(O_WRONLY);
    if (fd < 0)
        throw TomeriaError(createError);
    const bool written = produce([fd](QByteArrayView part) { return writeAll(fd, part); });
    if (::close(fd) != 0 || !written)
        throw TomeriaError(writeError);
}

// Flushes a file to the disk; a file system that cannot sync (EINVAL) has nothing to flush.
bool syncFile(int fd) {
    return ::fsync(fd) == 0 || errno == EINVAL || errno == ENOTSUP;
}

// permitsWriting for `name` relative to `dir`; `folder` also asks that it be a folder.
bool permitsWritingAt(int dir, const char* name, bool folder = false) {
    if (::faccessat(dir, name, W_OK, 0) != 0)
        return false;
    struct stat st {};
    if (::fstatat(dir, name, &st, 0) != 0 || (folder && !S_ISDIR(st.st_mode)))
        return false;
    if (::geteuid() == 0 && (st.st_mode & S_IWUSR) == 0)
        return false;
    return true;
}

// The folder part of a path relative to an anchor ("." when it has none).
QByteArray folderOf(const QByteArray& name) {
    const qsizetype slash = name.lastIndexOf('/');
    if (slash < 0)
        return ".";
    return slash == 0 ? QByteArray("/") : name.left(slash);
}

// The time the process started, as the file system stamps files (its coarse clock).
const timespec g_processStart = [] {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME_COARSE, &now);
    return now;
}();

} // namespace

bool permitsWriting(const QString& path) {
    const AnchoredPath at(path);
    return permitsWritingAt(at.dir(), at.name());
}

void write(const QString& path, const QByteArray& data, const QString& createError,
           const QString& writeError) {
    write(
        path, [&data](const Sink& sink) { return sink(data); }, createError, writeError);
}

void write(const QString& path, const Producer& produce, const QString& createError,
           const QString& writeError) {
    if (path.isEmpty() || path.contains(QChar(0)) || path.endsWith(QLatin1Char('/')))
        throw TomeriaError(createError);
    const AnchoredPath target(QFileInfo(path).absoluteFilePath());
    struct stat st {};
    const bool exists = target.lstat(st);
    if (exists && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode) && !S_ISLNK(st.st_mode)) {
        // A device or pipe: there is nothing to rename over, write straight to it.
        writeDevice(target, produce, createError, writeError);
        return;
    }
    // A folder is never replaced, nor a file marked read-only; a link is replaced, so
    // only its folder's permission counts.
    if (exists && (S_ISDIR(st.st_mode) ||
                   (S_ISREG(st.st_mode) && !permitsWritingAt(target.dir(), target.name()))))
        throw TomeriaError(createError);
    const QByteArray folder = folderOf(target.nameBytes());
    if (!permitsWritingAt(target.dir(), folder.constData(), true))
        throw TomeriaError(createError);

    // A replaced file keeps its permission bits; a new one gets the usual 0666 less umask.
    const mode_t mode = exists && S_ISREG(st.st_mode) ? (st.st_mode & 07777) : 0666;
    const QByteArray fileName = target.nameBytes().mid(target.nameBytes().lastIndexOf('/') + 1);
    TemporaryFile temporary(target.dir(), folder, fileName, mode);
    if (temporary.fd() < 0)
        throw TomeriaError(createError);
    if (exists && S_ISREG(st.st_mode))
        ::fchmod(temporary.fd(), mode); // the umask must not narrow a replaced file's bits
    const int fd = temporary.fd();
    if (!produce([fd](QByteArrayView part) { return writeAll(fd, part); }) ||
        !syncFile(temporary.fd()) || !temporary.closeFile() ||
        !temporary.renameOver(target.nameBytes()))
        throw TomeriaError(writeError);
}

bool read(const QString& path, QByteArray& data) {
    // A FIFO or a device is never read: it would block or never end.
    return RegularFile::read(path, RegularFile::kMaxSize, data) == RegularFile::Status::Read;
}

int removeStaleTemporaries(const QString& folder,
                           const std::function<bool(const QByteArray&)>& isTarget) {
    // .NAME.<a 32-bit number in base 36>.tmp, as TemporaryFile names them.
    static const QRegularExpression pattern(QStringLiteral("^\\.(.+)\\.[0-9a-z]{1,7}\\.tmp$"));
    int removed = 0;
    forEachStaleHiddenFile(folder, [&](int dir, const QByteArray& name) {
        const QRegularExpressionMatch match = pattern.match(QLatin1StringView(name));
        if (!match.hasMatch())
            return;
        const QByteArray target = match.captured(1).toLatin1();
        if ((target == kGenericName || isTarget(target)) &&
            ::unlinkat(dir, name.constData(), 0) == 0)
            ++removed;
    });
    return removed;
}

void forEachStaleHiddenFile(const QString& folder,
                            const std::function<void(int dir, const QByteArray& name)>& visit) {
    const AnchoredPath at(folder);
    const int fd = at.open(O_RDONLY | O_DIRECTORY | O_NONBLOCK);
    if (fd < 0)
        return;
    DIR* listing = ::fdopendir(fd);
    if (!listing) {
        ::close(fd);
        return;
    }
    std::vector<QByteArray> names;
    while (const dirent* entry = ::readdir(listing)) {
        if (entry->d_name[0] != '.')
            continue;
        const QByteArray name(entry->d_name);
        struct stat st {};
        if (::fstatat(::dirfd(listing), name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0 ||
            !S_ISREG(st.st_mode) || st.st_uid != ::geteuid())
            continue;
        const bool older = st.st_mtim.tv_sec < g_processStart.tv_sec ||
                           (st.st_mtim.tv_sec == g_processStart.tv_sec &&
                            st.st_mtim.tv_nsec < g_processStart.tv_nsec);
        if (older)
            names.push_back(name);
    }
    // Visited after the listing is read: a visit may rename or remove entries.
    for (const QByteArray& name : names)
        visit(::dirfd(listing), name);
    ::closedir(listing);
}

} // namespace SafeFile
