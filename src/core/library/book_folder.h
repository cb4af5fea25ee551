#pragma once

#include <QString>

#include <memory>

class FolderAnchor;

// The library folder: the working folder captured at start (ProgramFolder, always
// ending in '/'), the paths built on it and the size figures the library window shows.
// The folder is held open (FolderAnchor) from then on: every file of the library is
// read and written through that descriptor, so a folder renamed while the program runs
// keeps its library and nothing is created at its old path.
class BookFolder {
public:
    // Captures the working folder; false (ProgramFolder left empty) when it cannot be read.
    bool ReadProgramFolder();
    // A library in another folder (an absolute path ending in '/').
    void setProgramFolder(const QString& folder);
    const QString& programFolder() const { return m_programFolder; }

    QString cataloguePath() const { return m_programFolder + QStringLiteral("books.dat"); }
    QString settingsPath() const { return m_programFolder + QStringLiteral("tomeria.ini"); }
    QString booksFolder() const { return m_programFolder + QStringLiteral("books/"); }
    QString BookPath(const QString& name) const {
        return booksFolder() + name + QStringLiteral(".boo");
    }

    // Razmer: recompute the total size of the books folder, in KB, as decimal text.
    void Razmer();
    const QString& TotalSizeKb() const { return m_totalSizeKb; }

    // A name is a valid book file name unless it holds '/' or NUL: such a name would
    // reach outside the books folder, so none of its paths is ever used.
    static bool isValidBookName(const QString& name);
    // Whether a path is a book path this folder may touch: directly inside books/,
    // with a valid file name.
    bool isBookPath(const QString& path) const;

    // Size of the file in KB (truncated), -1 when it cannot be found or is no valid book path.
    qint64 BookFileSizeKb(const QString& path) const;
    // Deletes a book file; failures are silent.
    void deleteBook(const QString& path) const;

    // Removes the temporary files that writes ended in the middle (the program killed)
    // left in the library folder and in books/ before this process started.
    int removeStaleTemporaries() const;

private:
    QString m_programFolder;
    std::shared_ptr<FolderAnchor> m_anchor;
    QString m_totalSizeKb = QStringLiteral("0");
};
