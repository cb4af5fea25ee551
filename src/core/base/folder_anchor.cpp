#include "core/base/folder_anchor.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <mutex>
#include <unistd.h>
#include <vector>

struct FolderAnchor::Entry {
    QString prefix; // the folder's path when opened, ending in '/'
    int fd = -1;
    ~Entry() {
        if (fd >= 0)
            ::close(fd);
    }
};

namespace {

std::mutex& registryMutex() {
    static std::mutex mutex;
    return mutex;
}

// Newest last.
std::vector<std::weak_ptr<FolderAnchor::Entry>>& registry() {
    static std::vector<std::weak_ptr<FolderAnchor::Entry>> entries;
    return entries;
}

} // namespace

FolderAnchor::FolderAnchor(const QString& folder) : m_entry(std::make_shared<Entry>()) {
    QString path = folder;
    if (path.isEmpty()) {
        m_entry->fd = ::open(".", O_PATH | O_DIRECTORY | O_CLOEXEC);
        // getcwd with a null buffer allocates as much as the path needs.
        if (char* cwd = ::getcwd(nullptr, 0)) {
            path = QFile::decodeName(cwd);
            std::free(cwd);
        }
    } else if (!path.contains(QChar(0))) {
        m_entry->fd = ::open(QFile::encodeName(path).constData(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    }
    if (m_entry->fd < 0 || !path.startsWith(QLatin1Char('/'))) {
        m_entry.reset();
        return;
    }
    if (!path.endsWith(QLatin1Char('/')))
        path += QLatin1Char('/');
    m_entry->prefix = path;
    const std::lock_guard lock(registryMutex());
    registry().push_back(m_entry);
}

FolderAnchor::~FolderAnchor() {
    if (!m_entry)
        return;
    const std::lock_guard lock(registryMutex());
    auto& entries = registry();
    entries.erase(std::remove_if(entries.begin(), entries.end(),
                                 [this](const std::weak_ptr<Entry>& e) {
                                     const auto held = e.lock();
                                     return !held || held == m_entry;
                                 }),
                  entries.end());
}

bool FolderAnchor::isOpen() const {
    return m_entry != nullptr;
}

QString FolderAnchor::path() const {
    return m_entry ? m_entry->prefix : QString();
}

AnchoredPath::AnchoredPath(const QString& path) : m_dir(AT_FDCWD) {
    if (path.startsWith(QLatin1Char('/'))) {
        const std::lock_guard lock(registryMutex());
        const auto& entries = registry();
        for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
            auto entry = it->lock();
            if (!entry)
                continue;
            const QString& prefix = entry->prefix;
            const bool inside = path.startsWith(prefix) || path == QStringView(prefix).chopped(1);
            if (inside && (!m_anchor || prefix.size() > m_anchor->prefix.size()))
                m_anchor = std::move(entry);
        }
    }
    if (m_anchor) {
        m_dir = m_anchor->fd;
        m_name = QFile::encodeName(path.mid(m_anchor->prefix.size()));
        if (m_name.isEmpty())
            m_name = ".";
    } else {
        m_name = QFile::encodeName(path);
    }
}

AnchoredPath::~AnchoredPath() = default;

QString AnchoredPath::current(const QString& path) {
    const AnchoredPath anchored(path);
    if (!anchored.m_anchor)
        return path;
    // The system knows where a descriptor's folder stands now; a folder deleted
    // meanwhile has no present path, and keeps its old one.
    const QByteArray link = "/proc/self/fd/" + QByteArray::number(anchored.m_dir);
    char target[4096];
    const ssize_t size = ::readlink(link.constData(), target, sizeof target);
    if (size <= 0 || size == ssize_t(sizeof target) || target[0] != '/')
        return path;
    const QByteArray folder(target, size);
    if (folder.endsWith(" (deleted)"))
        return path;
    QString now = QFile::decodeName(folder);
    if (!now.endsWith(QLatin1Char('/')))
        now += QLatin1Char('/');
    return anchored.m_name == "." ? now.chopped(now.size() > 1 ? 1 : 0)
                                  : now + QFile::decodeName(anchored.m_name);
}

bool AnchoredPath::stat(struct stat& st) const {
    return ::fstatat(m_dir, name(), &st, 0) == 0;
}

bool AnchoredPath::lstat(struct stat& st) const {
    return ::fstatat(m_dir, name(), &st, AT_SYMLINK_NOFOLLOW) == 0;
}

int AnchoredPath::open(int flags, mode_t mode) const {
    for (;;) {
        const int fd = ::openat(m_dir, name(), flags | O_CLOEXEC, mode);
        if (fd >= 0 || errno != EINTR)
            return fd;
    }
}

bool AnchoredPath::unlink() const {
    return ::unlinkat(m_dir, name(), 0) == 0;
}

bool AnchoredPath::makeFolder() const {
    return ::mkdirat(m_dir, name(), 0777) == 0;
}

bool AnchoredPath::removeFolder() const {
    return ::unlinkat(m_dir, name(), AT_REMOVEDIR) == 0;
}

bool AnchoredPath::renameTo(const AnchoredPath& target) const {
    return ::renameat(m_dir, name(), target.m_dir, target.name()) == 0;
}
