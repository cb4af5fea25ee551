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
    enum class Kind {
        Book,
        NotABook,
        TooBig,
        ReadError,
        TooDeep, // an archive inside archives deeper than kMaxArchiveDepth
        TooMany, // an archive whose members passed its limits: `passedOver` left unread
    };
    Kind kind = Kind::NotABook;
    QString source;    // shown in the report: the path below the chosen folder, "a.zip/b.fb2"
    QString name;      // the name proposed (storable, never empty) for a book
    QString note;      // the author or authors, one line
    QByteArray text;   // the book file's bytes: code page 1251, CR LF
    QByteArray hash;   // of `text`
    BookMarkup markup; // its headings and emphasis, in `text`'s places
    int passedOver = 0;
};

// Members taken from one archive, the archives inside it included, at most; and their
// unpacked bytes in all. The rest is reported, not read.
constexpr int kMaxArchiveMembers = 50000;
constexpr qsizetype kMaxArchiveBytes = qsizetype(512) << 20;
// Archives inside an archive are read this many levels deep.
constexpr int kMaxArchiveDepth = 2;

// The files of a folder and its subfolders, in name order: hidden entries and every
// symbolic link to a folder are left out (a looping link never hangs the walk), as are
// pipes, sockets and devices. A path naming a file gives that file.
QStringList scan(const QStringList& paths, const std::atomic<bool>* stop = nullptr);

// Reads the file; `shown` is its name in the report. A ZIP that is no single document
// (EPUB, DOCX, ODT) gives one item per member that holds a book, read in one pass; the
// unpacking limit counts for each member on its own, archives inside it are read as
// bundles too (kMaxArchiveDepth), and the whole takes at most kMaxArchiveMembers
// members and kMaxArchiveBytes. `stop` is looked at between members: a stopped read
// gives what it had.
QList<Item> read(const QString& path, const QString& shown,
                 const std::atomic<bool>* stop = nullptr);
QList<Item> readData(const QByteArray& data, const QString& shown,
                     const std::atomic<bool>* stop = nullptr);

// The name, note and stored bytes of each book come from BookPreparation.
QByteArray hashOf(const QByteArray& text);

} // namespace ImportSource
