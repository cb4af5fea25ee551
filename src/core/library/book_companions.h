#pragma once

#include "core/book/book_markup.h"
#include "core/library/book_stamp.h"

#include <QByteArray>
#include <QString>

#include <optional>

class BookFolder;
struct ImportedBook;

// The files kept beside a book in books/, readable text in code page 1251:
//   NAME.toc  its headings and emphasis (what an imported book's plain text loses),
//   NAME.bmk  its bookmarks.
// Each names the text it was made for (BookStamp): a file whose book was changed by
// another program no longer matches and is dropped; a damaged one is ignored.
namespace BookCompanions {

QString contentsPath(const BookFolder& folder, const QString& name);
QString bookmarksPath(const BookFolder& folder, const QString& name);

// Removes both files of a book (a deleted book, a new book under an old name); silent.
void remove(const BookFolder& folder, const QString& name);

// The headings and emphasis of an imported book, waiting for the book to be stored:
// as places of its text as the add panel and the folder import store it.
struct Pending {
    QByteArray text; // BookPreparation::storedBytes
    BookMarkup markup;
};
Pending pendingOf(const ImportedBook& book);
// The same as places of `stored`, which may differ from those bytes (a preview edited
// before the book was added): the places follow the edit.
BookMarkup markupOf(const Pending& pending, const QByteArray& stored);

// Keeps an added book's headings and emphasis (what the add panel and the folder
// import call once the book is stored as `stored`): NAME.toc written, or removed when
// there are none. Silent: a book without it shows the headings found in its text.
void keep(const BookFolder& folder, const QString& name, const Pending& pending,
          const QByteArray& stored);

// The file's text for a markup of the book `bytes`, and back (nullopt when damaged).
QByteArray contentsText(const BookMarkup& markup, const BookStamp& stamp);
std::optional<BookMarkup> parseContents(QByteArrayView text, BookStamp* stamp);

// Writes NAME.toc (removes it for an empty markup). Throws TomeriaError when it cannot.
void writeContents(const QString& path, const BookMarkup& markup, QByteArrayView book);
// The kept markup of the book `bytes`: nullopt when there is none, when the file is
// damaged, or when the book no longer matches it (the file is then removed quietly).
std::optional<BookMarkup> readContents(const QString& path, QByteArrayView book);
// The kept markup of the book stamped `book`, as readContents.
std::optional<BookMarkup> readContents(const QString& path, const BookStamp& book);
// After an edit saved in the reader, `after` the text saved: the kept headings and
// emphasis follow. `edited`, when given, is what they became through each edit (the
// view's), and each kind kept is taken from it; else they follow `change`, the one
// change from the text stamped `before`. Silent: a file that cannot be rewritten is
// removed.
void followSave(const QString& path, const BookStamp& before, const TextChange& change,
                QByteArrayView after, const BookMarkup* edited = nullptr);

} // namespace BookCompanions
