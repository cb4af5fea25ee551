#pragma once

#include <QString>

// The library folder: the working folder captured at start (ProgramFolder, always
// ending in '/'), the paths built on it and the size figures the library window shows.
class BookFolder {
public:
    // Captures the working folder; false (ProgramFolder left empty) when it cannot be read.
    bool ReadProgramFolder();
    void setProgramFolder(const QString& folder) { m_programFolder = folder; }
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

private:
    QString m_programFolder;
    QString m_totalSizeKb = QStringLiteral("0");
};
