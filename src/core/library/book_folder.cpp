#include "core/library/book_folder.h"

#include "core/base/folder_anchor.h"
#include "core/base/safe_file.h"
#include "core/library/reading_state.h"

#include <QFile>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

bool BookFolder::ReadProgramFolder() {
    auto anchor = std::make_shared<FolderAnchor>();
    if (!anchor->isOpen()) {
        m_programFolder.clear();
        m_anchor.reset();
        return false;
    }
    m_programFolder = anchor->path();
    m_anchor = std::move(anchor);
    return true;
}

void BookFolder::setProgramFolder(const QString& folder) {
    m_programFolder = folder;
    m_anchor = std::make_shared<FolderAnchor>(folder);
}

void BookFolder::Razmer() {
    // The visible files of books/ (links followed), as a file manager counts them.
    qint64 total = 0;
    const int fd = AnchoredPath(booksFolder()).open(O_RDONLY | O_DIRECTORY | O_NONBLOCK);
    if (DIR* listing = fd >= 0 ? ::fdopendir(fd) : nullptr) {
        while (const dirent* entry = ::readdir(listing)) {
            struct stat st {};
            if (entry->d_name[0] != '.' &&
                ::fstatat(::dirfd(listing), entry->d_name, &st, 0) == 0 && S_ISREG(st.st_mode))
                total += st.st_size;
        }
        ::closedir(listing);
    } else if (fd >= 0) {
        ::close(fd);
    }
    m_totalSizeKb = QString::number(total / 1024);
}

bool BookFolder::isValidBookName(const QString& name) {
    return !name.contains(QLatin1Char('/')) && !name.contains(QChar(0));
}

bool BookFolder::isBookPath(const QString& path) const {
    const QString folder = booksFolder();
    if (!path.startsWith(folder) || path.contains(QChar(0)))
        return false;
    const QString fileName = path.mid(folder.size());
    return !fileName.isEmpty() && !fileName.contains(QLatin1Char('/'));
}

qint64 BookFolder::BookFileSizeKb(const QString& path) const {
    if (!isBookPath(path))
        return -1;
    struct stat st {};
    if (!AnchoredPath(path).stat(st))
        return -1;
    return S_ISDIR(st.st_mode) ? 0 : st.st_size / 1024;
}

void BookFolder::deleteBook(const QString& path) const {
    // unlink removes a symbolic link itself, never the file it points to.
    const AnchoredPath at(path);
    struct stat st {};
    if (isBookPath(path) && at.lstat(st) && !S_ISDIR(st.st_mode))
        at.unlink();
}

int BookFolder::removeStaleTemporaries() const {
    if (m_programFolder.isEmpty())
        return 0;
    const QByteArray reading = QFile::encodeName(ReadingState::fileName());
    int removed = SafeFile::removeStaleTemporaries(m_programFolder, [&](const QByteArray& name) {
        return name == "books.dat" || name == "tomeria.ini" || name == reading;
    });
    removed += SafeFile::removeStaleTemporaries(
        booksFolder(), [](const QByteArray& name) { return name.endsWith(".boo"); });
    return removed;
}
