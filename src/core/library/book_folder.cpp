#include "core/library/book_folder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdlib>
#include <unistd.h>

bool BookFolder::ReadProgramFolder() {
    // getcwd with a null buffer allocates as much as the path needs: no length limit.
    char* cwd = ::getcwd(nullptr, 0);
    if (!cwd) {
        m_programFolder.clear();
        return false;
    }
    m_programFolder = QFile::decodeName(cwd) + QLatin1Char('/');
    std::free(cwd);
    return true;
}

void BookFolder::Razmer() {
    qint64 total = 0;
    const QDir dir(booksFolder());
    const QFileInfoList entries = dir.entryInfoList(QDir::Files | QDir::NoDotAndDotDot);
    for (const QFileInfo& entry : entries)
        total += entry.size();
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
    const QFileInfo info(path);
    if (!info.exists())
        return -1;
    return info.isDir() ? 0 : info.size() / 1024;
}

void BookFolder::deleteBook(const QString& path) const {
    // QFile::remove unlinks a symbolic link itself, never the file it points to.
    const QFileInfo info(path);
    if (isBookPath(path) && (info.isSymLink() || !info.isDir()))
        QFile::remove(path);
}
