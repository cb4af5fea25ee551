#pragma once

#include "core/book/book_markup.h"
#include "core/formats/book_import.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <atomic>

// One file of a folder being imported, read and turned into what the library stores:
// the bytes of the book file, the proposed name and note, a hash for finding repeats.
// Pure functions of the file, safe on any thread.
namespace ImportSource {

// What one file (or one member of a ZIP of books) turned out to be.
struct Item {
    enum class Kind { Book, NotABook, TooBig, ReadError };
    Kind kind = Kind::NotABook;
    QString source;  // shown in the report: the path below the chosen folder, "a.zip/b.fb2"
    QString name;    // the name proposed (storable, never empty) for a book
    QString note;    // the author or authors, one line
    QByteArray text; // the book file's bytes: code page 1251, CR LF
    QByteArray hash; // of `text`
    BookMarkup markup; // its headings and emphasis, in `text`'s places
};

// The files of a folder and its subfolders, in name order: hidden entries and every
// symbolic link to a folder are left out (a looping link never hangs the walk), as are
// pipes, sockets and devices. A path naming a file gives that file.
QStringList scan(const QStringList& paths, const std::atomic<bool>* stop = nullptr);

// Reads the file; `shown` is its name in the report. A ZIP that is no single document
// (EPUB, DOCX, ODT) gives one item per member that holds a book; the unpacking limit
// counts for each member on its own.
QList<Item> read(const QString& path, const QString& shown);
QList<Item> readData(const QByteArray& data, const QString& shown);

// The bytes the add-book panel stores for an imported book: its text with every line
// break as CR LF, in code page 1251 (characters it lacks in their nearest form).
QByteArray storedText(const ImportedBook& book);

// A name as the library can store it: characters code page 1251 lacks, '=' and control
// characters dropped, '/' as '-', line breaks and tabs as spaces, blanks trimmed.
QString storableName(QStringView raw);
// The first line of a text that holds a visible character, trimmed, at most `limit`
// characters.
QString firstNonBlankLine(QStringView text, qsizetype limit = 100);
// The name proposed for a book read from a file named `fileName`: its title, else its
// first line, else the file name without its extension.
QString proposedName(const ImportedBook& book, const QString& fileName);
// The author or authors as the book names them, or empty.
QString proposedNote(const ImportedBook& book);

QByteArray hashOf(const QByteArray& text);

} // namespace ImportSource
