#pragma once

#include <QByteArray>
#include <QString>

#include <memory>
#include <sys/stat.h>

// A folder held open by its descriptor while the program works in it (the library
// folder). Every path inside it that SafeFile, RegularFile or the library's own file
// operations are given is resolved relative to that descriptor, not by name again: a
// folder renamed or moved while the program runs keeps receiving its files, reads come
// from it, and nothing is ever created at its old path. A folder deleted meanwhile
// takes no new file (the system refuses to create one in it).
//
// Anchors are registered for the whole process while they live; a path inside several
// anchored folders goes to the innermost, the newest of equal ones.
class FolderAnchor {
public:
    // Holds `folder` (an absolute path) open. Without a path: the working folder, which
    // then stands for its path as getcwd tells it now.
    explicit FolderAnchor(const QString& folder = QString());
    ~FolderAnchor();
    FolderAnchor(const FolderAnchor&) = delete;
    FolderAnchor& operator=(const FolderAnchor&) = delete;

    bool isOpen() const;
    // The folder's path when it was opened, ending in '/'.
    QString path() const;

    struct Entry;

private:
    std::shared_ptr<Entry> m_entry;
};

// A path made ready for the *at system calls: the descriptor of the anchored folder
// that holds it and the rest of the path, or AT_FDCWD and the path itself. The folder's
// descriptor stays open while this lives, even if its anchor goes meanwhile.
class AnchoredPath {
public:
    explicit AnchoredPath(const QString& path);
    ~AnchoredPath();
    AnchoredPath(const AnchoredPath&) = delete;
    AnchoredPath& operator=(const AnchoredPath&) = delete;

    // Where `path` is now, for messages: under a folder renamed or moved since it was
    // anchored, its present path; otherwise `path` itself.
    static QString current(const QString& path);

    int dir() const { return m_dir; }
    // The path relative to dir() ("." for the anchored folder itself).
    const char* name() const { return m_name.constData(); }
    const QByteArray& nameBytes() const { return m_name; }

    // The system calls used on library paths, each on the anchored path.
    bool stat(struct stat& st) const;  // follows a symbolic link
    bool lstat(struct stat& st) const; // the link itself
    int open(int flags, mode_t mode = 0) const;
    bool unlink() const;
    bool makeFolder() const;
    bool removeFolder() const;
    // Renames within the same anchored folder (or between plain paths).
    bool renameTo(const AnchoredPath& target) const;

private:
    std::shared_ptr<const FolderAnchor::Entry> m_anchor;
    int m_dir;
    QByteArray m_name;
};
