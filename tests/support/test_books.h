#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

// The test books made by pandoc from tests/data/books/book.md (make_books.sh) and what
// their text must be.
namespace TestBooks {
QString path(const QString& name);
QByteArray read(const QString& name);
// The words of a text: runs of letters, digits left out.
QStringList words(const QString& text);
// The words a reader must give for the books: title, author, the chapters, the note.
QStringList expectedWords();
QString title();
QString author();
// A ZIP archive of the members, deflated, in the order given (made with libarchive).
QByteArray zip(const QList<QPair<QString, QByteArray>>& members);
} // namespace TestBooks
